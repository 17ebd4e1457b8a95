#include "builtins/services/Base64.h"

#include <array>

namespace zz {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<uint8_t, 256> MakeValues() {
    std::array<uint8_t, 256> v{};
    for (int i = 0; i < 64; ++i)
        v[static_cast<uint8_t>(kAlphabet[i])] = uint8_t(i);
    return v;
}
constexpr std::array<uint8_t, 256> kValues = MakeValues();

} // namespace

int32_t Base64Encode(std::string& out, std::string_view in) {
    out.clear();
    if (in.empty()) return 0;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = in.size() - i < 3 ? in.size() - i : 3;
        uint32_t group = uint32_t(uint8_t(in[i])) << 16;
        if (n > 1) group |= uint32_t(uint8_t(in[i + 1])) << 8;
        if (n > 2) group |= uint8_t(in[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[group & 63] : '=';
    }
    return int32_t(out.size());
}

int32_t Base64Decode(std::string& out, std::string_view in) {
    out.clear();
    if (in.size() % 4 != 0) return -1;
    out.reserve(in.size() / 4 * 3);
    for (size_t i = 0; i < in.size(); i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k)
            group = group << 6 | kValues[uint8_t(in[i + k])];
        out += char(group >> 16);
        out += char(group >> 8);
        out += char(group);
    }
    return int32_t(out.size());
}

} // namespace zz
