#include "platform/Gbk.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace zz {

size_t GbkSafeCut(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s.size();
    size_t i = 0;
    while (i < s.size()) {
        size_t n = GbkCharLen(s, i);
        if (i + n > maxBytes) break;
        i += n;
    }
    return i;
}

bool ConvertCodePage(std::string_view in, const char* from, const char* to, std::string& out) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, size_t(dst - buf));
        if (r == (size_t)-1) {
            if (errno == E2BIG) continue;
            // Invalid or incomplete input: replace one byte and go on.
            out.push_back('?');
            ++src;
            --srcLeft;
        }
    }
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, size_t(dst - buf));
    iconv_close(cd);
    return true;
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    ConvertCodePage(gbk, "GBK", "UTF-8", out);
    return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    ConvertCodePage(utf8, "UTF-8", "GBK", out);
    return out;
}

static std::string MapAscii(std::string_view s, bool upper) {
    std::string r(s);
    for (size_t i = 0; i < r.size();) {
        size_t n = GbkCharLen(r, i);
        if (n == 1) {
            unsigned char c = (unsigned char)r[i];
            if (upper && c >= 'a' && c <= 'z') r[i] = char(c - 32);
            if (!upper && c >= 'A' && c <= 'Z') r[i] = char(c + 32);
        }
        i += n;
    }
    return r;
}

std::string GbkUpper(std::string_view s) {
    return MapAscii(s, true);
}
std::string GbkLower(std::string_view s) {
    return MapAscii(s, false);
}
bool GbkEqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && GbkUpper(a) == GbkUpper(b);
}

} // namespace zz

namespace zz {

namespace {

std::string TerminalCodeSet() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        std::string locale = v;
        size_t dot = locale.find('.');
        if (dot == std::string::npos) break;
        std::string set = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
        return set.empty() ? "UTF-8" : set;
    }
    return "UTF-8";
}

} // namespace

std::string GbkToTerminal(std::string_view gbk) {
    static const std::string codeSet = TerminalCodeSet();
    std::string text(gbk);
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) text[i] = ' ';
    if (GbkEqualNoCase(codeSet, "GBK") || GbkEqualNoCase(codeSet, "GB2312")) return text;
    std::string out;
    // A code set iconv does not know falls back to UTF-8.
    return ConvertCodePage(text, "GBK", codeSet.c_str(), out) ? out : GbkToUtf8(text);
}

} // namespace zz
