#include "engine/NumText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zz {

namespace {

bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int32_t TextToInt(const char* s) {
    if (!s) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (IsSpace(*p))
        ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = *p++ == '-';
    uint32_t v = 0;
    while (IsDigit(*p))
        v = v * 10u + static_cast<uint32_t>(*p++ - '0');
    return static_cast<int32_t>(neg ? 0u - v : v);
}

double TextToDouble(const char* s) {
    if (!s) return 0;
    const char* p = s;
    while (IsSpace(static_cast<unsigned char>(*p)))
        ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = *p++ == '-';
    // Find the longest plain decimal form; from_chars then converts exactly that range.
    const char* start = p;
    const char* q = p;
    int digits = 0;
    while (IsDigit(static_cast<unsigned char>(*q)))
        ++q, ++digits;
    if (*q == '.') {
        ++q;
        while (IsDigit(static_cast<unsigned char>(*q)))
            ++q, ++digits;
    }
    if (digits == 0) return 0;
    if (*q == 'e' || *q == 'E') {
        const char* e = q + 1;
        if (*e == '+' || *e == '-') ++e;
        if (IsDigit(static_cast<unsigned char>(*e))) {
            while (IsDigit(static_cast<unsigned char>(*e)))
                ++e;
            q = e;
        }
    }
    double v = 0;
    auto r = std::from_chars(start, q, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the exponent's sign as strtod would.
        const char* e = start;
        while (e < q && *e != 'e' && *e != 'E')
            ++e;
        bool tiny = e < q && e[1] == '-';
        v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (r.ec != std::errc()) {
        v = 0;
    }
    return neg ? -v : v;
}

int32_t DoubleToInt(double d) {
    if (!std::isfinite(d)) return 0;
    double t = std::trunc(d);
    if (t >= -2147483648.0 && t <= 2147483647.0) return static_cast<int32_t>(t);
    double m = std::fmod(t, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<int32_t>(static_cast<uint32_t>(m));
}

void AppendInt(std::string& out, int32_t v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendFixed6(std::string& out, double d) {
    // The largest double in fixed notation with six decimals needs 309 + 1 + 6 digits and a sign.
    char buf[340];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 6);
    if (r.ec != std::errc()) return;
    out.append(buf, r.ptr);
}

void AppendCutDouble(std::string& out, double d) {
    size_t from = out.size();
    AppendFixed6(out, d);
    if (out.find('.', from) == std::string::npos) return;
    size_t end = out.size();
    while (end > from && out[end - 1] == '0')
        --end;
    out.resize(end);
}

} // namespace zz
