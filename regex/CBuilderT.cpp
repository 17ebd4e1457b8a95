// The pattern compiler: tokens, then one short function per grammar rule.
#include "regex/CBuilderT.h"

#include <cstring>

namespace zz {

namespace {

constexpr int kUnlimited = 2147483647;
constexpr int kMaxDepth = 64;          // group nesting; a deeper group refuses the pattern
constexpr int kMaxQuantifierChain = 4; // quantifiers stacked on one atom beyond this are ignored

bool IsHex(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(int c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}
unsigned char Lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}
unsigned char Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 32 : c;
}
bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower((unsigned char)a[i]) != Lower((unsigned char)b[i])) return false;
    return true;
}
int FlagOfLetter(int c) {
    switch (c) {
    case 's':
    case 'S':
        return SINGLELINE;
    case 'm':
    case 'M':
        return MULTILINE;
    case 'g':
    case 'G':
        return GLOBAL;
    case 'i':
    case 'I':
        return IGNORECASE;
    default:
        return 0;
    }
}

// ASCII classification only: bytes from 0x80 up belong to no POSIX class.
bool PosixAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}
bool PosixAlpha(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
bool PosixAscii(unsigned char c) {
    return c < 128;
}
bool PosixCntrl(unsigned char c) {
    return c < 32 || c == 127;
}
bool PosixDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool PosixGraph(unsigned char c) {
    return c > 32 && c < 127;
}
bool PosixLower(unsigned char c) {
    return c >= 'a' && c <= 'z';
}
bool PosixPrint(unsigned char c) {
    return c >= 32 && c < 127;
}
bool PosixPunct(unsigned char c) {
    return PosixGraph(c) && !PosixAlnum(c);
}
bool PosixSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool PosixUpper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
bool PosixXdigit(unsigned char c) {
    return IsHex(c);
}
bool PosixBlank(unsigned char c) {
    return c == ' ' || c == '\t';
}

struct PosixName {
    const char* name;
    CPosixElxT::Func fn;
};
const PosixName kPosixNames[] = {
    {"alnum:", PosixAlnum}, {"alpha:", PosixAlpha}, {"ascii:", PosixAscii}, {"cntrl:", PosixCntrl},
    {"digit:", PosixDigit}, {"graph:", PosixGraph}, {"lower:", PosixLower}, {"print:", PosixPrint},
    {"punct:", PosixPunct}, {"space:", PosixSpace}, {"upper:", PosixUpper}, {"xdigit:", PosixXdigit},
    {"blank:", PosixBlank},
};

// Stock element numbers: 1 any, 2 any but line feed, 3 \w, 4 \W, 5 \s, 6 \S, 7 \d, 8 \D; +8 right to left.
int StockOfEscape(int c) {
    switch (c) {
    case 'w':
        return 3;
    case 'W':
        return 4;
    case 's':
        return 5;
    case 'S':
        return 6;
    case 'd':
        return 7;
    case 'D':
        return 8;
    default:
        return 0;
    }
}

} // namespace

ElxInterface* CBuilderT::GetStockElx(int k) {
    if (m_pStockElxs[k]) return m_pStockElxs[k];
    if (k == 0) return m_pStockElxs[0] = Make<CEmptyElxT>();
    const bool rtl = k > 8;
    const int kind = rtl ? k - 8 : k;
    const bool positive = kind <= 2 || kind % 2 == 1;
    CRangeElxT* r = Make<CRangeElxT>(rtl, positive);
    switch (kind) {
    case 1:
        r->AddRange(0, 255);
        break;
    case 2:
        r->AddRange(0, 9), r->AddRange(11, 255);
        break;
    case 3:
    case 4:
        r->AddRange('A', 'Z'), r->AddRange('a', 'z'), r->AddRange('0', '9'), r->AddChar('_');
        break;
    case 5:
    case 6:
        // left to right: blank, tab, CR, LF; right to left also form feed and vertical tab
        r->AddChar(' '), r->AddChar('\t'), r->AddChar('\r'), r->AddChar('\n');
        if (rtl) r->AddChar('\f'), r->AddChar('\v');
        break;
    default:
        r->AddRange('0', '9');
        break;
    }
    r->Finish();
    return m_pStockElxs[k] = r;
}

ElxInterface* CBuilderT::Nothing(int flags) {
    CRangeElxT* r = Make<CRangeElxT>((flags & RIGHTTOLEFT) != 0, true);
    r->Finish();
    return r;
}

// ---- tokens

int CBuilderT::ReadNumber(int maxDigits) {
    long long v = 0;
    for (int n = 0; n < maxDigits && Raw(m_pos) >= '0' && Raw(m_pos) <= '9'; ++n, ++m_pos) {
        v = v * 10 + (m_pattern[m_pos] - '0');
        if (v > kUnlimited) v = kUnlimited;
    }
    return int(v);
}

std::string CBuilderT::ReadUntil(char end) {
    size_t e = m_pattern.find(end, m_pos);
    if (e == std::string::npos) e = m_pattern.size();
    std::string s = m_pattern.substr(m_pos, e - m_pos);
    m_pos = e < m_pattern.size() ? e + 1 : e;
    return s;
}

bool CBuilderT::Escape(bool inClass, Token& t) {
    ++m_pos; // the backslash
    if (m_pos >= m_pattern.size()) {
        t = {'\\', false, 0};
        return true;
    }
    const int e = (unsigned char)m_pattern[m_pos++];
    t = {e, false, 0};
    switch (e) {
    case 'Q':
    case 'L':
    case 'U':
        m_quote = e;
        return false;
    case 'E':
        return false;
    case 'x':
    case 'u': {
        long long v = 0;
        int digits = 0;
        if (Raw(m_pos) == '{') {
            size_t q = m_pos + 1;
            for (; digits < 8 && IsHex(Raw(q)); ++digits, ++q)
                v = v * 16 + HexValue(Raw(q));
            size_t close = m_pattern.find('}', q);
            m_pos = close == std::string::npos ? m_pattern.size() : close + 1;
            t.ch = int(v & 0xFF);
            return true;
        }
        for (; digits < (e == 'x' ? 2 : 4) && IsHex(Raw(m_pos)); ++digits, ++m_pos)
            v = v * 16 + HexValue(Raw(m_pos));
        if (digits) t.ch = int(v & 0xFF);
        return true;
    }
    case 'a':
        t.ch = 7;
        return true;
    case 'e':
        t.ch = 27;
        return true;
    case 'f':
        t.ch = 12;
        return true;
    case 'n':
        t.ch = 10;
        return true;
    case 'r':
        t.ch = 13;
        return true;
    case 't':
        t.ch = 9;
        return true;
    case 'v':
        t.ch = 11;
        return true;
    case 'b':
        if (inClass) {
            t.ch = 8;
            return true;
        }
        break;
    case 'G':
        if (inClass) return false;
        break;
    case 'A':
    case 'Z':
    case 'z':
    case 'B':
    case 'k':
        if (inClass) return true;
        break;
    case 'd':
    case 'D':
    case 's':
    case 'S':
    case 'w':
    case 'W':
        break;
    default:
        if (e >= '0' && e <= '9' && !inClass) {
            // back-reference: up to three decimal digits, never octal
            --m_pos;
            t = {kEsc | '0', true, ReadNumber(3)};
        }
        return true;
    }
    t = {kEsc | e, true, 0};
    return true;
}

CBuilderT::Token CBuilderT::Next(bool inClass) {
    for (;;) {
        if (m_quote) {
            if (m_pos >= m_pattern.size()) {
                m_quote = 0;
                continue;
            }
            if (m_pattern[m_pos] == '\\' && m_pos + 1 < m_pattern.size()) {
                char e = m_pattern[m_pos + 1];
                if (e == 'E') {
                    m_pos += 2;
                    m_quote = 0;
                    continue;
                }
                if (m_quote != 'Q' && (e == 'L' || e == 'U')) { // the first case mode stays
                    m_pos += 2;
                    continue;
                }
            }
            unsigned char b = (unsigned char)m_pattern[m_pos++];
            if (m_quote == 'L') b = Lower(b);
            if (m_quote == 'U') b = Upper(b);
            return {b, false, 0};
        }
        if (m_pos >= m_pattern.size()) return {0, true, 0};
        const unsigned char b = (unsigned char)m_pattern[m_pos];
        if (m_nFlags & EXTENDED) {
            if (b == ' ' || b == '\t' || b == '\r' || b == '\n' || b == '\f' || b == '\v') {
                ++m_pos;
                continue;
            }
            if (b == '#') {
                while (m_pos < m_pattern.size() && m_pattern[m_pos] != '\n')
                    ++m_pos;
                continue;
            }
        }
        if (b == '\\') {
            Token t;
            if (Escape(inClass, t)) return t;
            continue;
        }
        if (!inClass && b == '(' && Raw(m_pos + 1) == '?' && Raw(m_pos + 2) == '#') {
            ReadUntil(')');
            continue;
        }
        ++m_pos;
        bool special = inClass ? (b == '[' || b == ']' || b == '-') : (b && std::strchr(".$()*+?[^{|}", b));
        return {b, special, 0};
    }
}

CBuilderT::Token CBuilderT::Peek(bool inClass) {
    const size_t pos = m_pos;
    const int quote = m_quote;
    Token t = Next(inClass);
    m_pos = pos;
    m_quote = quote;
    return t;
}

// ---- grammar

// alternatives := sequence ('|' sequence)*
std::vector<ElxInterface*> CBuilderT::ParseAlternatives(int& flags, int depth) {
    std::vector<ElxInterface*> alts{ParseSequence(flags, depth)};
    for (Token t = Peek(false); t.special && t.ch == '|'; t = Peek(false)) {
        Next(false);
        alts.push_back(ParseSequence(flags, depth));
    }
    return alts;
}

ElxInterface* CBuilderT::ParseAlternation(int& flags, int depth) {
    std::vector<ElxInterface*> alts = ParseAlternatives(flags, depth);
    if (alts.size() == 1) return alts[0];
    CAlternativeElxT* a = Make<CAlternativeElxT>();
    a->m_elxlist = std::move(alts);
    return a;
}

static bool IsQuantifier(int ch, bool special) {
    return special && (ch == '*' || ch == '+' || ch == '?' || ch == '{');
}

// sequence := (atom quantifier*)* up to '|', ')' or the end; a run of literals is one string
ElxInterface* CBuilderT::ParseSequence(int& flags, int depth) {
    std::vector<ElxInterface*> items;
    for (;;) {
        Token t = Peek(false);
        if (t.special && (t.ch == '|' || t.ch == ')' || t.ch == 0)) break;
        ElxInterface* atom;
        if (!t.special) {
            std::string run;
            for (Token lt = Peek(false); !lt.special; lt = Peek(false)) {
                const size_t pos = m_pos;
                const int quote = m_quote;
                Next(false);
                Token after = Peek(false);
                if (IsQuantifier(after.ch, after.special)) {
                    if (run.empty()) {
                        run += char(lt.ch);
                    } else { // the quantifier takes the last character alone
                        m_pos = pos;
                        m_quote = quote;
                    }
                    break;
                }
                run += char(lt.ch);
            }
            atom = Make<CStringElxT>(run, (flags & RIGHTTOLEFT) != 0, (flags & IGNORECASE) != 0);
        } else if (IsQuantifier(t.ch, t.special)) {
            atom = GetStockElx(0); // a quantifier with nothing before it repeats the empty pattern
        } else {
            atom = ParseAtom(flags, depth);
        }
        atom = ParseQuantifiers(atom);
        items.push_back(atom);
    }
    if (items.empty()) return GetStockElx(0);
    if (items.size() == 1) return items[0];
    CListElxT* l = Make<CListElxT>((flags & RIGHTTOLEFT) != 0);
    l->m_elxlist = std::move(items);
    return l;
}

// quantifier := ('*' | '+' | '?' | '{' n (',' m?)? '}') ('?' | '+')?
ElxInterface* CBuilderT::ParseQuantifiers(ElxInterface* atom) {
    int chain = 0;
    for (Token t = Peek(false); IsQuantifier(t.ch, t.special); t = Peek(false)) {
        Next(false);
        int mn = 0, mx = kUnlimited;
        if (t.ch == '+') mn = 1;
        if (t.ch == '?') mx = 1;
        if (t.ch == '{') {
            if (Raw(m_pos) >= '0' && Raw(m_pos) <= '9') {
                mn = ReadNumber(12);
                mx = mn;
                if (Raw(m_pos) == ',') {
                    ++m_pos;
                    mx = (Raw(m_pos) >= '0' && Raw(m_pos) <= '9') ? ReadNumber(12) : kUnlimited;
                }
            } else {
                mn = mx = 0;
            }
            ReadUntil('}');
        }
        if (mx < mn) mx = mn;
        int kind = 0; // greedy, 1 reluctant, 2 possessive
        Token s = Peek(false);
        if (s.special && (s.ch == '?' || s.ch == '+')) {
            Next(false);
            kind = s.ch == '?' ? 1 : 2;
        }
        if (++chain > kMaxQuantifierChain) continue;
        if (mx == 0)
            atom = GetStockElx(0);
        else if (mn == mx)
            atom = mn == 1 ? atom : Make<CRepeatElxT>(atom, mn);
        else if (kind == 1)
            atom = Make<CReluctantElxT>(atom, mn, mx - mn);
        else if (kind == 2)
            atom = Make<CPossessiveElxT>(atom, mn, mx - mn);
        else
            atom = Make<CGreedyElxT>(atom, mn, mx - mn);
    }
    return atom;
}

ElxInterface* CBuilderT::ParseAtom(int& flags, int depth) {
    const Token t = Next(false);
    const int rtl = (flags & RIGHTTOLEFT) ? 8 : 0;
    switch (t.ch) {
    case '.':
        return GetStockElx(((flags & SINGLELINE) ? 1 : 2) + rtl);
    case '^':
        return Make<CBoundaryElxT>((flags & MULTILINE) ? 3 : 0, true);
    case '$':
        return Make<CBoundaryElxT>((flags & MULTILINE) ? 4 : 1, true);
    case '[':
        return ParseClass(flags);
    case '(':
        return ParseGroup(flags, depth);
    case '}':
        return Make<CStringElxT>("}", rtl != 0, false);
    case kEsc | 'A':
        return Make<CBoundaryElxT>(0, true);
    case kEsc | 'Z':
        return Make<CBoundaryElxT>(2, true);
    case kEsc | 'z':
        return Make<CBoundaryElxT>(1, true);
    case kEsc | 'b':
        return Make<CBoundaryElxT>(7, true);
    case kEsc | 'B':
        return Make<CBoundaryElxT>(7, false);
    case kEsc | 'G':
        return (flags & GLOBAL) ? static_cast<ElxInterface*>(Make<CGlobalElxT>()) : GetStockElx(0);
    case kEsc | '0': {
        CBackrefElxT* b = Make<CBackrefElxT>(t.value, rtl != 0, (flags & IGNORECASE) != 0);
        m_backrefs.push_back(b);
        return b;
    }
    case kEsc | 'k': {
        const int open = Raw(m_pos);
        if (open != '<' && open != '\'') return Make<CStringElxT>("k", rtl != 0, (flags & IGNORECASE) != 0);
        ++m_pos;
        CBackrefElxT* b = Make<CBackrefElxT>(-1, rtl != 0, (flags & IGNORECASE) != 0);
        b->m_name = ReadUntil(open == '<' ? '>' : '\'');
        m_backrefs.push_back(b);
        return b;
    }
    default:
        if (int k = (t.ch & kEsc) ? StockOfEscape(t.ch & 0xFF) : 0) return GetStockElx(k + rtl);
        return GetStockElx(0);
    }
}

ElxInterface* CBuilderT::MakeGroup(int number, ElxInterface* body, bool rightleft, CBracketElxT** open,
                                   CBracketElxT** close) {
    *open = Make<CBracketElxT>(number, false, rightleft);
    *close = Make<CBracketElxT>(number, true, rightleft);
    CListElxT* l = Make<CListElxT>(rightleft);
    l->m_elxlist = {*open, body, *close};
    return l;
}

void CBuilderT::CloseGroup() {
    Token t = Peek(false);
    if (t.special && t.ch == ')') Next(false); // else the group runs to the end of the pattern
}

// group := '(' ( '?' header )? alternation ')'
ElxInterface* CBuilderT::ParseGroup(int& flags, int depth) {
    if (depth >= kMaxDepth) { // too deep: the pattern is refused; parsing stops here
        m_bRefused = true;
        m_pos = m_pattern.size();
        return Nothing(flags);
    }
    int local = flags;
    const bool rtl = (flags & RIGHTTOLEFT) != 0;
    CBracketElxT *open, *close;
    if (Raw(m_pos) != '?') {
        const int number = ++m_nUnnamed;
        ElxInterface* body = ParseAlternation(local, depth + 1);
        CloseGroup();
        ElxInterface* g = MakeGroup(number, body, rtl, &open, &close);
        if (m_grouplist.size() <= size_t(number)) m_grouplist.resize(number + 1, nullptr);
        m_grouplist[number] = g;
        return g;
    }
    ++m_pos;
    const int c = Raw(m_pos);
    if (c == ':' || c == '=' || c == '!' || c == '>' ||
        (c == '<' && (Raw(m_pos + 1) == '=' || Raw(m_pos + 1) == '!'))) {
        bool positive = true, assert = c != ':' && c != '>';
        if (c == '<') {
            ++m_pos;
            local |= RIGHTTOLEFT; // look-behind matches leftwards from the position
        } else if (assert) {
            local &= ~RIGHTTOLEFT;
        }
        positive = Raw(m_pos) != '!';
        ++m_pos;
        ElxInterface* body = ParseAlternation(local, depth + 1);
        CloseGroup();
        if (c == ':') return body;
        if (c == '>') return Make<CIndependentElxT>(body);
        return Make<CAssertElxT>(body, positive);
    }
    if (c == '<' || c == '\'' || (c == 'P' && Raw(m_pos + 1) == '<')) {
        if (c == 'P') ++m_pos;
        ++m_pos;
        Named n;
        n.name = ReadUntil(c == '\'' ? '\'' : '>');
        ElxInterface* body = ParseAlternation(local, depth + 1);
        CloseGroup();
        n.group = MakeGroup(-1, body, rtl, &n.open, &n.close);
        m_named.push_back(n);
        return n.group;
    }
    if (c == '(') return ParseCondition(flags, depth);
    if (c == 'R' || (c >= '0' && c <= '9')) return ParseRecursion();
    // inline flags: (?flags) or (?flags:...)
    bool clear = false;
    for (;; ++m_pos) {
        const int f = Raw(m_pos);
        if (f == '-') {
            clear = true;
            continue;
        }
        const int bit = FlagOfLetter(f);
        if (!bit) break;
        local = clear ? (local & ~bit) : (local | bit);
    }
    if (Raw(m_pos) == ')') { // for the rest of the enclosing group
        ++m_pos;
        flags = local;
        return GetStockElx(0);
    }
    if (Raw(m_pos) == ':') ++m_pos;
    ElxInterface* body = ParseAlternation(local, depth + 1);
    CloseGroup();
    return body;
}

// condition := '(?(' (number | name | look-around) ')' yes ('|' no)? ')'
ElxInterface* CBuilderT::ParseCondition(int flags, int depth) {
    CConditionElxT* cond = Make<CConditionElxT>();
    m_conditions.push_back(cond);
    ++m_pos; // the condition's '('
    const int a = Raw(m_pos + 1), b = Raw(m_pos + 2);
    if (Raw(m_pos) == '?' && (a == '=' || a == '!' || (a == '<' && (b == '=' || b == '!')))) {
        int local = flags;
        cond->m_pAssert = ParseGroup(local, depth + 1);
    } else {
        std::string name = ReadUntil(')');
        if (name.size() >= 2 &&
            ((name.front() == '<' && name.back() == '>') || (name.front() == '\'' && name.back() == '\'')))
            name = name.substr(1, name.size() - 2);
        bool digits = !name.empty() && name.size() <= 9;
        for (char ch : name)
            digits = digits && ch >= '0' && ch <= '9';
        if (digits) {
            cond->m_nnumber = std::stoi(name);
        } else {
            cond->m_bNamed = true;
            cond->m_name = name;
        }
    }
    int local = flags;
    std::vector<ElxInterface*> alts = ParseAlternatives(local, depth + 1);
    CloseGroup();
    cond->m_pYes = alts[0];
    if (alts.size() == 2) {
        cond->m_pNo = alts[1];
    } else if (alts.size() > 2) {
        CAlternativeElxT* no = Make<CAlternativeElxT>();
        no->m_elxlist.assign(alts.begin() + 1, alts.end());
        cond->m_pNo = no;
    }
    return cond;
}

// recursion := '(?R)' | '(?R' n ')' | '(?' n ')' | '(?R<name>)' | "(?R'name')"
ElxInterface* CBuilderT::ParseRecursion() {
    CDelegateElxT* d = Make<CDelegateElxT>();
    m_delegates.push_back(d);
    if (Raw(m_pos) == 'R') {
        ++m_pos;
        while (Raw(m_pos) == ' ' || Raw(m_pos) == '\t')
            ++m_pos;
    }
    const int c = Raw(m_pos);
    std::string name;
    if (c == '<' || c == '\'') {
        ++m_pos;
        name = ReadUntil(c == '<' ? '>' : '\'');
    } else {
        while (Raw(m_pos) >= '0' && Raw(m_pos) <= '9')
            name += m_pattern[m_pos++];
    }
    ReadUntil(')');
    bool digits = name.size() <= 9;
    for (char ch : name)
        digits = digits && ch >= '0' && ch <= '9';
    if (digits) {
        d->m_nnumber = name.empty() ? 0 : std::stoi(name);
    } else {
        d->m_bNamed = true;
        d->m_name = name;
    }
    return d;
}

// a POSIX class at ':' after '[': [:name:] or [:^name:]; null when the text is no POSIX class at all
ElxInterface* CBuilderT::TryPosix(int flags) {
    size_t q = m_pos + 1;
    bool positive = true;
    if (Raw(q) == '^') {
        positive = false;
        ++q;
    }
    for (const PosixName& p : kPosixNames) {
        const size_t n = std::strlen(p.name);
        if (m_pattern.compare(q, n, p.name) == 0) {
            q += n;
            if (Raw(q) == ']') ++q;
            m_pos = q;
            auto* e = Make<CPosixElxT>(p.fn, (flags & RIGHTTOLEFT) != 0, positive);
            e->Finish();
            return e;
        }
    }
    const size_t close = m_pattern.find(":]", q);
    if (close == std::string::npos) return nullptr;
    m_pos = close + 2;
    auto* e = Make<CPosixElxT>(nullptr, (flags & RIGHTTOLEFT) != 0, true); // unknown name: matches nothing
    e->Finish();
    return e;
}

// class := '[' '^'? (escape-class | posix | c '-' c | c)* ']'
ElxInterface* CBuilderT::ParseClass(int flags) {
    const bool rtl = (flags & RIGHTTOLEFT) != 0;
    if (!m_quote && Raw(m_pos) == ':')
        if (ElxInterface* e = TryPosix(flags)) return e;
    bool positive = true;
    if (!m_quote && Raw(m_pos) == '^') {
        positive = false;
        ++m_pos;
    }
    CRangeElxT* r = Make<CRangeElxT>(rtl, positive);
    for (;;) {
        Token t = Next(true);
        if (t.special && (t.ch == 0 || t.ch == ']')) break;
        if (t.special && t.ch == '[' && Raw(m_pos) == ':') {
            if (ElxInterface* e = TryPosix(flags)) {
                r->AddElx(static_cast<CByteElx*>(e));
                continue;
            }
        }
        if (t.ch & kEsc) {
            if (int k = StockOfEscape(t.ch & 0xFF)) r->AddElx(static_cast<CByteElx*>(GetStockElx(k + (rtl ? 8 : 0))));
            continue;
        }
        if (!t.special) {
            const size_t pos = m_pos;
            const int quote = m_quote;
            Token dash = Next(true);
            if (dash.special && dash.ch == '-') {
                Token hi = Next(true);
                if (!hi.special && !(hi.ch & kEsc)) {
                    r->AddRange(t.ch & 0xFF, hi.ch & 0xFF);
                    continue;
                }
            }
            m_pos = pos;
            m_quote = quote;
        }
        r->AddChar(t.ch & 0xFF);
    }
    r->Finish();
    return r;
}

// ---- after parsing

void CBuilderT::Resolve() {
    m_nMaxNumber = m_nUnnamed;
    for (size_t i = 0; i < m_named.size(); ++i) {
        Named& n = m_named[i];
        n.number = 0;
        for (size_t j = 0; j < i && !n.number; ++j)
            if (EqualNoCase(m_named[j].name, n.name)) n.number = m_named[j].number;
        if (!n.number) {
            n.number = ++m_nMaxNumber;
            m_names.emplace_back(n.name, n.number);
        }
        n.open->m_nnumber = n.close->m_nnumber = n.number;
    }
    m_grouplist.resize(m_nMaxNumber + 1, nullptr);
    m_grouplist[0] = m_pTopElx;
    for (const Named& n : m_named)
        if (!m_grouplist[n.number]) m_grouplist[n.number] = n.group;
    for (CBackrefElxT* b : m_backrefs)
        if (!b->m_name.empty()) b->m_nnumber = GetNamedNumber(b->m_name);
    for (CConditionElxT* c : m_conditions)
        if (c->m_bNamed) c->m_nnumber = GetNamedNumber(c->m_name);
    for (CDelegateElxT* d : m_delegates) {
        if (d->m_bNamed) d->m_nnumber = GetNamedNumber(d->m_name);
        const int n = d->m_nnumber;
        d->m_pelx = (n >= 0 && n <= m_nMaxNumber) ? m_grouplist[n] : nullptr;
        if (!d->m_pelx) d->m_nnumber = -1;
    }
}

void CBuilderT::Analyse() {
    if (m_nFlags & RIGHTTOLEFT) return;
    ElxInterface* first = m_pTopElx;
    if (auto* l = dynamic_cast<CListElxT*>(first); l && !l->m_elxlist.empty()) first = l->m_elxlist[0];
    if (auto* b = dynamic_cast<CBoundaryElxT*>(first); b && b->Type() == 0 && b->Positive()) m_bAnchored = true;
    if (auto* s = dynamic_cast<CStringElxT*>(first); s && !s->IgnoreCase() && !s->RightLeft()) m_prefix = s->Text();
    ByteSet set;
    if (m_pTopElx->First(set) == FIRST_CONSUMES && set.Count() < 256) {
        m_firstSet = set;
        m_bUseFirst = true;
    }
}

int CBuilderT::GetNamedNumber(std::string_view name) const {
    for (const auto& [n, number] : m_names)
        if (EqualNoCase(n, name)) return number;
    return -1;
}

void CBuilderT::Build(const char* pattern, int length, int flags) {
    m_pattern.assign(pattern ? pattern : "", pattern && length > 0 ? size_t(length) : 0);
    m_nFlags = flags;
    m_pos = 0;
    int local = flags;
    m_grouplist.assign(1, nullptr);
    // an unmatched ')' at the top ends the pattern
    m_pTopElx = ParseAlternation(local, 0);
    Resolve();
    Analyse();
}

} // namespace zz
