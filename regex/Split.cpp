#include "regex/Split.h"

#include "platform/Gbk.h"

namespace zz {

std::vector<std::string_view> RegexSplit(const CRegexpT& re, std::string_view text) {
    std::vector<std::string_view> pieces;
    const int len = int(text.size());
    int pos = 0, from = 0;
    while (from <= len) {
        MatchResultT m = re.Match(text.data(), len, from);
        if (!m.IsMatched()) break;
        const int s = m.GetStart(), e = m.GetEnd();
        if (e == s && s == pos) { // nothing to cut here: look again one character further
            from = s + int(s < len ? GbkCharLen(text, size_t(s)) : 1);
            continue;
        }
        pieces.push_back(text.substr(size_t(pos), size_t(s - pos)));
        pos = from = e;
    }
    pieces.push_back(text.substr(size_t(pos)));
    return pieces;
}

} // namespace zz
