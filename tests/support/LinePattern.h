#pragma once
#include <string>

// Tiny pattern check for log lines: '9' matches a digit, 'h' a hex digit run (one or more), '*' any run of
// characters up to the next literal; everything else matches itself.
inline bool MatchLinePattern(const char* p, const char* s) {
    for (; *p; ++p) {
        if (*p == '9') {
            if (*s < '0' || *s > '9') return false;
            ++s;
        } else if (*p == 'h') {
            auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
            if (!hex(*s)) return false;
            while (hex(*s))
                ++s;
        } else if (*p == '*') {
            for (const char* t = s;; ++t) {
                if (MatchLinePattern(p + 1, t)) return true;
                if (!*t) return false;
            }
        } else {
            if (*s != *p) return false;
            ++s;
        }
    }
    return *s == 0;
}
