#pragma once
// libre and librem as C++ sees them: their headers take the C99 integer and boolean types from the system only
// when told to.
#ifndef HAVE_INTTYPES_H
#define HAVE_INTTYPES_H 1
#endif
#ifndef HAVE_STDBOOL_H
#define HAVE_STDBOOL_H 1
#endif
#include <re.h>
#include <rem.h>
