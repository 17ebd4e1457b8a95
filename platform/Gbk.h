#pragma once
// Text inside the system is GBK (code page 936) bytes. These helpers step over double-byte characters and
// convert at the edges (terminal, Qt, files in other code pages) through iconv.
#include <string>
#include <string_view>

namespace zz {

inline bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
inline bool IsGbkTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Length in bytes of the character starting at s[i]: 2 for a lead byte followed by a trail byte, else 1
// (0 at the end).
inline size_t GbkCharLen(std::string_view s, size_t i) {
    if (i >= s.size()) return 0;
    if (IsGbkLead((unsigned char)s[i]) && i + 1 < s.size() && IsGbkTrail((unsigned char)s[i + 1])) return 2;
    return 1;
}

// The largest prefix length <= maxBytes that does not split a double-byte character.
size_t GbkSafeCut(std::string_view s, size_t maxBytes);

// Convert between code pages by iconv name ("GBK", "UTF-8", "BIG5", "UTF-16LE", "UTF-7"). Characters that do not
// convert become '?'. Returns false only when iconv has no such conversion.
bool ConvertCodePage(std::string_view in, const char* from, const char* to, std::string& out);

std::string GbkToUtf8(std::string_view gbk);
// GBK text in the terminal's encoding: the code set of the locale LC_ALL, LC_CTYPE or LANG name ("zh_CN.GBK"),
// UTF-8 for the C locale; a bare carriage return becomes a blank, so a message stays on its line.
std::string GbkToTerminal(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// ASCII-only case helpers that leave double-byte characters alone.
std::string GbkUpper(std::string_view s);
std::string GbkLower(std::string_view s);
bool GbkEqualNoCase(std::string_view a, std::string_view b);

} // namespace zz
