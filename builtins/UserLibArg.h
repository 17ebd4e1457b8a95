/* The argument record of user-library calls: what a shared object loaded with DllLoad receives from a script.
 *
 * A script declares an exported function with DllFunction(slot, "name", count) and then calls it like a builtin.
 * The function is called as
 *
 *     int32_t name(int32_t count, ZzDllArg* args);
 *
 * with one record per argument, laid end to end, and its result becomes the call's result. A function may change
 * the records of its arguments: for every argument that is a script variable (not a literal or a constant) the
 * type, the integer and the floating-point value are copied back when it returns, and a string's text is taken
 * from its text buffer, intVal - 1 bytes long. The text buffer holds the argument's text and its terminating zero
 * (intVal bytes for a string, one byte for any other type); a function writes at most that many bytes into it.
 * A function may be called from several lines' threads at once. A C++ exception that leaves it is caught: the
 * call's result is then -100 and the run log tells the exception's text.
 *
 * Little-endian, 24 bytes, natural alignment, the same from C and C++. */
#ifndef ZZ_USER_LIB_ARG_H
#define ZZ_USER_LIB_ARG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { ZZ_ARG_EMPTY = 0, ZZ_ARG_STRING = 1, ZZ_ARG_INT = 2, ZZ_ARG_DOUBLE = 3, ZZ_ARG_OBJECT = 4, ZZ_ARG_FUNCTION = 5 };

typedef struct ZzDllArg {
    int32_t type;   /* ZZ_ARG_*: the value's type */
    int32_t intVal; /* the integer of an integer; for a string its text length plus one */
    char* text;     /* the argument's text buffer: its text (empty for every type but a string) and a zero */
    double dblVal;  /* the floating-point value of a floating-point number */
} ZzDllArg;

typedef int32_t (*ZzDllFunc)(int32_t count, ZzDllArg* args);

#ifdef __cplusplus
}
static_assert(sizeof(ZzDllArg) == 24, "the argument record is 24 bytes");
#endif

#endif
