#include "platform/Gbk.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

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

namespace {

// Converts all of in with a fresh state; false when iconv refuses any of it.
bool ConvertWhole(const char* to, const char* from, std::string_view in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[64];
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != (size_t)-1 && srcLeft == 0;
    iconv_close(cd);
    out.assign(buf, size_t(dst - buf));
    return ok;
}

// The bytes of the first character of p in the encoding `from` when they form one (a character the target has no
// form for), 0 when they do not (invalid input).
size_t CharBytes(const char* from, const char* p, size_t left) {
    std::string ucs;
    for (size_t n = 1; n <= std::min<size_t>(left, 6); ++n)
        if (ConvertWhole("UCS-4LE", from, std::string_view(p, n), ucs) && ucs.size() == 4) return n;
    return 0;
}

// The smallest unit of the encoding: what invalid input is skipped by.
size_t UnitBytes(const char* from) {
    std::string f = GbkUpper(from);
    if (f.rfind("UTF-16", 0) == 0 || f.rfind("UCS-2", 0) == 0) return 2;
    if (f.rfind("UTF-32", 0) == 0 || f.rfind("UCS-4", 0) == 0) return 4;
    return 1;
}

} // namespace

bool ConvertCodePage(std::string_view in, const char* from, const char* to, std::string& out) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    // One '?' in the target's own encoding stands for each character it cannot take or each invalid unit; made
    // at the first such place only.
    std::string question;
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
            size_t skip = CharBytes(from, src, srcLeft);
            if (skip == 0) skip = std::min(UnitBytes(from), srcLeft);
            if (question.empty() && (!ConvertWhole(to, "ASCII", "?", question) || question.empty()))
                question.assign(1, '?');
            out += question;
            src += skip;
            srcLeft -= skip;
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
    // The code set the locale names, as setlocale(LC_CTYPE, "") would give it, without changing the process's
    // locale. The C locale's ASCII would turn every Chinese character into '?': operators' terminals are UTF-8.
    if (locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t(0))) {
        std::string set = nl_langinfo_l(CODESET, loc);
        freelocale(loc);
        return set.empty() || set == "ANSI_X3.4-1968" ? "UTF-8" : set;
    }
    // A locale that is not installed ("zh_CN.GBK" on a machine without it) still says what the terminal shows.
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
