#pragma once
// Locale-free number text of the script language: the "%d" and cut "%f" forms and the atoi/atof prefixes.
#include <cstdint>
#include <string>

namespace zz {

// Decimal prefix as atoi reads it (white space, sign, digits); digits beyond the 32-bit range wrap as
// two's complement instead of being undefined. 0 when there is no digit.
int32_t TextToInt(const char* s);
// Decimal number prefix as atof reads it (sign, digits, point, exponent); no hexadecimal, inf or nan forms,
// so a name such as "nancy" is 0. 0 when there is no number.
double TextToDouble(const char* s);
// Truncated toward zero and wrapped into 32 bits as two's complement; NaN and infinities give 0.
int32_t DoubleToInt(double d);

void AppendInt(std::string& out, int32_t v);
// "%f" (six decimals), then trailing '0' cut when there is a point: 2.0 gives "2.", 1.5 gives "1.5".
void AppendCutDouble(std::string& out, double d);
// "%f" as it stands (dump keys).
void AppendFixed6(std::string& out, double d);

// 32-bit two's complement arithmetic, defined for every input.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t WrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t WrapNeg(int32_t a) {
    return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}
// Quotient truncated toward zero; INT_MIN / -1 wraps to INT_MIN. The divisor must not be 0.
inline int32_t WrapDiv(int32_t a, int32_t b) {
    return b == -1 ? WrapNeg(a) : a / b;
}
// Remainder with the sign of the dividend; INT_MIN % -1 is 0. The divisor must not be 0.
inline int32_t WrapRem(int32_t a, int32_t b) {
    return b == -1 ? 0 : a % b;
}
inline int32_t ShiftLeft(int32_t a, int32_t n) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) << (n & 31));
}
// Arithmetic shift: the sign is kept.
inline int32_t ShiftRight(int32_t a, int32_t n) {
    return a >> (n & 31);
}

} // namespace zz
