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

#include <cstdint>

namespace zz {

// librem's G.711 encoders negate a negative sample, which -32768 does not survive (the A-law one then reads
// before its table): it is encoded as -32767.
inline uint8_t PcmToAlaw(int16_t s) {
    return g711_pcm2alaw(s == INT16_MIN ? int16_t(-32767) : s);
}
inline uint8_t PcmToUlaw(int16_t s) {
    return g711_pcm2ulaw(s == INT16_MIN ? int16_t(-32767) : s);
}

} // namespace zz
