// Writes the fax fonts asc16, hzk16 and hzk16f from GNU Unifont (package unifont, /usr/share/unifont/unifont.hex):
//   asc16:  256 glyphs of 8 x 16, 16 bytes each, one byte a row, leftmost pixel in the top bit; the printable
//           ASCII characters 0x20-0x7E come from Unifont, every other code is blank.
//   hzk16:  the GB2312 code positions (lead bytes 0xA1-0xF7, trail bytes 0xA1-0xFE, 94 a row, row by row),
//           16 x 16 glyphs of 32 bytes (two bytes a row); each position is converted to Unicode with iconv and
//           drawn with Unifont's glyph; 8-pixel-wide glyphs are centred; unassigned positions are blank.
//   hzk16f: the same positions drawn in traditional form (OpenCC s2t on each character), for text that
//           arrived in Big5 and was converted to simplified GBK before drawing.
//
// usage: zz_make_fonts OUTPUT_DIR [UNIFONT_HEX]
#include "platform/FileHandle.h"
#include <opencc/opencc.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <map>
#include <string>
#include <vector>

namespace {

using Glyphs = std::map<unsigned, std::vector<unsigned char>>;

Glyphs ReadHex(const char* path) {
    Glyphs g;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string hex = line.substr(colon + 1);
        if (hex.size() != 32 && hex.size() != 64) continue;
        std::vector<unsigned char> bytes;
        for (size_t i = 0; i < hex.size(); i += 2)
            bytes.push_back((unsigned char)std::stoul(hex.substr(i, 2), nullptr, 16));
        g[unsigned(std::stoul(line.substr(0, colon), nullptr, 16))] = bytes;
    }
    return g;
}

// One character's UTF-8 text to its code point (0 when it is not exactly one character).
unsigned CodePoint(const std::string& s) {
    const unsigned char* p = (const unsigned char*)s.data();
    if (s.size() == 1) return p[0];
    if (s.size() == 2) return (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    if (s.size() == 3) return (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    return 0;
}

std::string Convert(iconv_t cd, const std::string& in) {
    char out[16];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char* dst = out;
    size_t room = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &left, &dst, &room) == (size_t)-1) return {};
    return std::string(out, size_t(dst - out));
}

// A 16 x 16 glyph of 32 bytes from a Unifont glyph (8-pixel-wide ones centred).
void Put16(const Glyphs& g, unsigned cp, unsigned char* out) {
    auto it = g.find(cp);
    if (it == g.end()) return;
    const auto& b = it->second;
    for (int r = 0; r < 16; ++r) {
        if (b.size() == 32) {
            out[r * 2] = b[size_t(r * 2)];
            out[r * 2 + 1] = b[size_t(r * 2 + 1)];
        } else {
            out[r * 2] = (unsigned char)(b[size_t(r)] >> 4);
            out[r * 2 + 1] = (unsigned char)(b[size_t(r)] << 4);
        }
    }
}

bool Save(const std::string& path, const std::vector<unsigned char>& data) {
    zz::FileHandle fFile = zz::FileHandle::Open(path.c_str(), "wb");
    FILE* f = fFile.get();
    bool ok = f && fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f) ok = fFile.Close() == 0 && ok;
    if (!ok) perror(path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s OUTPUT_DIR [UNIFONT_HEX]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    Glyphs g = ReadHex(argc == 3 ? argv[2] : "/usr/share/unifont/unifont.hex");
    if (g.empty()) {
        fprintf(stderr, "no Unifont glyphs read\n");
        return 1;
    }
    std::vector<unsigned char> asc(256 * 16, 0);
    for (unsigned c = 0x20; c < 0x7F; ++c) {
        auto it = g.find(c);
        if (it != g.end() && it->second.size() == 16) memcpy(&asc[c * 16], it->second.data(), 16);
    }

    iconv_t toUtf8 = iconv_open("UTF-8", "GB2312");
    opencc_t s2t = opencc_open("s2t.json");
    if (toUtf8 == (iconv_t)-1 || s2t == (opencc_t)-1) {
        fprintf(stderr, "iconv GB2312 or OpenCC s2t.json unavailable\n");
        return 1;
    }
    const size_t glyphs = 87 * 94;
    std::vector<unsigned char> hzk(glyphs * 32, 0), hzkf(glyphs * 32, 0);
    for (size_t i = 0; i < glyphs; ++i) {
        std::string gb = {char(0xA1 + i / 94), char(0xA1 + i % 94)};
        std::string utf8 = Convert(toUtf8, gb);
        if (utf8.empty()) continue;
        Put16(g, CodePoint(utf8), &hzk[i * 32]);
        char* t = opencc_convert_utf8(s2t, utf8.data(), utf8.size());
        std::string trad = t ? t : utf8;
        if (t) opencc_convert_utf8_free(t);
        unsigned cp = CodePoint(trad);
        Put16(g, cp && g.count(cp) ? cp : CodePoint(utf8), &hzkf[i * 32]);
    }
    opencc_close(s2t);
    iconv_close(toUtf8);
    return Save(dir + "/asc16", asc) && Save(dir + "/hzk16", hzk) && Save(dir + "/hzk16f", hzkf) ? 0 : 1;
}
