// Replacement: the replacement text is cut into literal pieces and $ references, then every match is replaced by
// those pieces evaluated against it.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "regex/CRegexpT.h"

namespace zz {

namespace {

enum PieceKind { PIECE_TEXT, PIECE_GROUP, PIECE_BEFORE, PIECE_AFTER, PIECE_LAST, PIECE_SUBJECT };

struct Piece {
    PieceKind kind;
    int a; // offset into the replacement, or a group number
    int n; // length of literal text
};

// The process-wide pattern that finds references, compiled once on first use (thread-safe static).
const CRegexpT& ReferencePattern() {
    static const CRegexpT re("\\$(?:[$&`'+_\\d]|\\{.*?\\})", NO_FLAG);
    return re;
}

std::vector<Piece> CutReplacement(const CRegexpT& self, const char* rep, int len) {
    std::vector<Piece> pieces;
    const int groups = self.MaxGroupNumber();
    auto text = [&](int from, int to) {
        if (to > from) pieces.push_back({PIECE_TEXT, from, to - from});
    };
    int last = 0, at = 0;
    while (at < len) {
        MatchResultT m = ReferencePattern().Match(rep, len, at);
        if (!m.IsMatched()) break;
        const int s = m.GetStart(), e = m.GetEnd();
        const char c = rep[s + 1];
        text(last, s);
        last = at = e;
        switch (c) {
        case '$':
            pieces.push_back({PIECE_TEXT, s, 1});
            break;
        case '&':
            pieces.push_back({PIECE_GROUP, 0, 0});
            break;
        case '`':
            pieces.push_back({PIECE_BEFORE, 0, 0});
            break;
        case '\'':
            pieces.push_back({PIECE_AFTER, 0, 0});
            break;
        case '+':
            pieces.push_back({PIECE_LAST, 0, 0});
            break;
        case '_':
            pieces.push_back({PIECE_SUBJECT, 0, 0});
            break;
        case '{': {
            std::string name(rep + s + 2, size_t(e - s - 3));
            int n = self.GetNamedGroupNumber(name.c_str());
            if (n >= 1 && n <= groups)
                pieces.push_back({PIECE_GROUP, n, 0});
            else
                text(s, e); // no such group: the reference stays as it is
            break;
        }
        default: { // up to three digits; drop the last while the number is above the highest group
            int digits = 0, n = 0;
            while (digits < 3 && s + 1 + digits < len && rep[s + 1 + digits] >= '0' && rep[s + 1 + digits] <= '9')
                n = n * 10 + (rep[s + 1 + digits++] - '0');
            bool dropped = false;
            while (digits > 0 && n > groups) {
                n /= 10;
                --digits;
                dropped = true;
            }
            if (digits == 0 || (dropped && n == 0)) {
                pieces.push_back({PIECE_TEXT, s, 1}); // a literal '$'; the digits follow as text
                last = at = s + 1;
            } else {
                pieces.push_back({PIECE_GROUP, n, 0});
                last = at = s + 1 + digits; // digits read are consumed exactly once
            }
            break;
        }
        }
    }
    text(last, len);
    return pieces;
}

void AppendPieces(std::string& out, const std::vector<Piece>& pieces, const char* rep, const char* subject, int length,
                  const MatchResultT& m) {
    auto group = [&](int n) {
        int a = m.GetGroupStart(n), b = m.GetGroupEnd(n);
        if (a >= 0 && b >= a) out.append(subject + a, size_t(b - a)); // a group that took no part adds nothing
    };
    for (const Piece& p : pieces) {
        switch (p.kind) {
        case PIECE_TEXT:
            out.append(rep + p.a, size_t(p.n));
            break;
        case PIECE_GROUP:
            group(p.a);
            break;
        case PIECE_BEFORE:
            out.append(subject, size_t(m.GetStart()));
            break;
        case PIECE_AFTER:
            out.append(subject + m.GetEnd(), size_t(length - m.GetEnd()));
            break;
        case PIECE_SUBJECT:
            out.append(subject, size_t(length));
            break;
        case PIECE_LAST: {
            int n = m.MaxGroupNumber();
            while (n > 0 && m.GetGroupStart(n) < 0)
                --n;
            group(n);
            break;
        }
        }
    }
}

} // namespace

char* CRegexpT::Replace(const char* text, int length, const char* replacement, int replaceLength, int& resultLength,
                        int start, int count, MatchResultT* result, CContext* ctx) const {
    resultLength = 0;
    if (!m_builder) return nullptr;
    if (!text || length < 0) length = 0;
    if (!text) text = "";
    if (!replacement || replaceLength < 0) replaceLength = 0;
    if (!replacement) replacement = "";
    const std::vector<Piece> pieces = CutReplacement(*this, replacement, replaceLength);

    CContext own;
    CContext* c = ctx ? ctx : &own;
    PrepareMatch(text, length, start, c);
    const bool rtl = (Flags() & RIGHTTOLEFT) != 0;
    std::vector<std::string> chunks; // right to left they are gathered backwards
    int last = rtl ? length : 0, replaced = 0;
    MatchResultT m;
    while (count < 0 || replaced < count) {
        m = Match(c);
        if (!m.IsMatched()) break;
        std::string piece;
        AppendPieces(piece, pieces, replacement, text, length, m);
        if (rtl) {
            chunks.emplace_back(text + m.GetEnd(), size_t(std::max(0, last - m.GetEnd())));
            chunks.push_back(std::move(piece));
            last = m.GetStart();
        } else {
            chunks.emplace_back(text + last, size_t(std::max(0, m.GetStart() - last)));
            chunks.push_back(std::move(piece));
            last = m.GetEnd();
        }
        ++replaced;
    }
    if (rtl) {
        chunks.emplace_back(text, size_t(last));
        std::reverse(chunks.begin(), chunks.end());
    } else {
        chunks.emplace_back(text + last, size_t(length - last));
    }
    if (result) *result = m;
    size_t total = 0;
    for (const std::string& s : chunks)
        total += s.size();
    char* out = new char[total + 1];
    size_t at = 0;
    for (const std::string& s : chunks) {
        std::memcpy(out + at, s.data(), s.size());
        at += s.size();
    }
    out[total] = 0;
    resultLength = int(total);
    return out;
}

char* CRegexpT::Replace(const char* text, const char* replacement, int start, int count, MatchResultT* result,
                        CContext* ctx) const {
    int n = 0;
    return Replace(text, text ? int(std::strlen(text)) : 0, replacement,
                   replacement ? int(std::strlen(replacement)) : 0, n, start, count, result, ctx);
}

void CRegexpT::FreeString(char* s) {
    delete[] s;
}

} // namespace zz
