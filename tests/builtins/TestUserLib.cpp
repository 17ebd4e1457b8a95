// A user library as scripts load it: functions that read and change every kind of argument record, and ones
// that fail. Built by the tests; the user-library cases load it.
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "builtins/UserLibArg.h"

extern "C" {

// Sums the integers and floating-point numbers (truncated) among the arguments.
int32_t Sum(int32_t count, ZzDllArg* args) {
    double total = 0;
    for (int32_t i = 0; i < count; ++i)
        total += args[i].type == ZZ_ARG_INT ? args[i].intVal : args[i].type == ZZ_ARG_DOUBLE ? args[i].dblVal : 0;
    return int32_t(total);
}

// Reports the argument types as decimal digits (first argument first) and changes each argument by its kind:
// an integer doubled, a number plus a half, a string upper-cased in its own buffer, an empty value made the
// integer 7; objects and functions are left as they are.
int32_t Kinds(int32_t count, ZzDllArg* args) {
    int32_t digits = 0;
    for (int32_t i = 0; i < count; ++i) {
        ZzDllArg& a = args[i];
        digits = digits * 10 + a.type;
        switch (a.type) {
        case ZZ_ARG_INT:
            a.intVal *= 2;
            break;
        case ZZ_ARG_DOUBLE:
            a.dblVal += 0.5;
            break;
        case ZZ_ARG_STRING:
            for (char* p = a.text; *p; ++p)
                *p = char(std::toupper((unsigned char)*p));
            break;
        case ZZ_ARG_EMPTY:
            a.type = ZZ_ARG_INT;
            a.intVal = 7;
            break;
        default:
            break;
        }
    }
    return digits;
}

// The length of its string argument (the integer field less one); the string becomes "ok".
int32_t Shorten(int32_t, ZzDllArg* args) {
    int32_t before = args[0].intVal - 1;
    if (before >= 2) {
        std::memcpy(args[0].text, "ok", 3);
        args[0].intVal = 3;
    }
    return before;
}

int32_t Throws(int32_t, ZzDllArg*) {
    throw std::runtime_error("boom");
}

int32_t ThrowsAnything(int32_t, ZzDllArg*) {
    throw 42;
}

// Reads through a null pointer (a real fault, which the sanitizers of the test build are told not to catch first).
__attribute__((no_sanitize("undefined", "address"))) int32_t Faults(int32_t count, ZzDllArg* args) {
    volatile int32_t* nowhere = count > 100 ? &args[0].intVal : nullptr;
    return *nowhere;
}
}
