// Match and MatchNext of every element. A Match that succeeds leaves on the backtracking stack what its MatchNext
// needs; a Match or MatchNext that fails leaves no trace.
#include "regex/Elements.h"

#include <algorithm>
#include <cstring>

namespace zz {

namespace {

inline unsigned char FoldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}
inline bool IsWordByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

// Kept out of line and cold, so the step count costs the elements no more than an increment and two compares.
__attribute__((noinline, cold)) void AbandonSearch(const CContext* ctx) {
    throw RegexAbandoned{ctx->m_nSteps > kMatchStepLimit ? RegexAbandoned::kTooManySteps
                                                         : RegexAbandoned::kStackExhausted};
}

// ---- string

CStringElxT::CStringElxT(std::string text, bool rightleft, bool ignorecase)
    : m_szPattern(std::move(text)), m_bRight(rightleft), m_bIgnoreCase(ignorecase) {
    if (m_bIgnoreCase)
        for (char& c : m_szPattern)
            c = char(FoldCase((unsigned char)c));
}

int CStringElxT::Match(CContext* ctx) const {
    const int n = int(m_szPattern.size());
    int at = m_bRight ? ctx->m_nCurrentPos - n : ctx->m_nCurrentPos;
    if (at < 0 || at + n > ctx->m_nMatchLength) return 0;
    const unsigned char* s = ctx->m_pMatchString + at;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_szPattern.data());
    if (m_bIgnoreCase) {
        for (int i = 0; i < n; ++i)
            if (FoldCase(s[i]) != p[i]) return 0;
    } else if (n && std::memcmp(s, p, n) != 0) {
        return 0;
    }
    ctx->m_nCurrentPos += m_bRight ? -n : n;
    return 1;
}

int CStringElxT::MatchNext(CContext* ctx) const {
    const int n = int(m_szPattern.size());
    ctx->m_nCurrentPos += m_bRight ? n : -n;
    return 0;
}

FirstKind CStringElxT::First(ByteSet& set) const {
    if (m_bRight) return FIRST_UNKNOWN;
    if (m_szPattern.empty()) return FIRST_NULLABLE;
    unsigned char c = (unsigned char)m_szPattern[0];
    set.Add(c);
    if (m_bIgnoreCase && c >= 'a' && c <= 'z') set.Add(c - 32);
    return FIRST_CONSUMES;
}

// ---- one-byte classes

void CByteElx::Finish() {
    m_table = ByteSet();
    for (int c = 0; c < 256; ++c)
        if (Contains((unsigned char)c) == m_bPositive) m_table.Add((unsigned char)c);
}

int CByteElx::Match(CContext* ctx) const {
    int pos = ctx->m_nCurrentPos;
    if (m_bRight) {
        if (pos <= 0 || pos > ctx->m_nMatchLength || !m_table.Has(ctx->m_pMatchString[pos - 1])) return 0;
        ctx->m_nCurrentPos = pos - 1;
    } else {
        if (pos < 0 || pos >= ctx->m_nMatchLength || !m_table.Has(ctx->m_pMatchString[pos])) return 0;
        ctx->m_nCurrentPos = pos + 1;
    }
    return 1;
}

int CByteElx::MatchNext(CContext* ctx) const {
    ctx->m_nCurrentPos += m_bRight ? 1 : -1;
    return 0;
}

FirstKind CByteElx::First(ByteSet& set) const {
    if (m_bRight) return FIRST_UNKNOWN;
    set.Merge(m_table);
    return FIRST_CONSUMES;
}

bool CRangeElxT::Contains(unsigned char c) const {
    const int uc = c;
    for (size_t i = 0; i + 1 < m_ranges.size(); i += 2)
        if (uc >= m_ranges[i] && uc <= m_ranges[i + 1]) return true;
    for (int ch : m_chars)
        if (ch == uc) return true;
    for (const CByteElx* e : m_embeds)
        if (e->Test(c)) return true;
    return false;
}

bool CPosixElxT::Contains(unsigned char c) const {
    return m_posixfun && m_posixfun(c);
}

// ---- boundaries

int CBoundaryElxT::Match(CContext* ctx) const {
    const int p = ctx->m_nCurrentPos, L = ctx->m_nMatchLength;
    const unsigned char* s = ctx->m_pMatchString;
    auto word = [&](int i) { return i >= 0 && i < L && IsWordByte(s[i]); };
    bool t = false;
    switch (m_nType) {
    case 0:
        t = p == 0;
        break;
    case 1:
        t = p >= L;
        break;
    case 2:
        t = p >= L || (L >= 1 && s[L - 1] == '\n' && p == L - 1) ||
            (L >= 2 && s[L - 2] == '\r' && s[L - 1] == '\n' && p == L - 2);
        break;
    case 3:
        t = p == 0 || (p > 0 && p <= L && (s[p - 1] == '\n' || (s[p - 1] == '\r' && !(p < L && s[p] == '\n'))));
        break;
    case 4:
        t = p >= L || (p >= 0 && (s[p] == '\r' || (s[p] == '\n' && !(p > 0 && s[p - 1] == '\r'))));
        break;
    case 5:
        t = !word(p - 1) && word(p);
        break;
    case 6:
        t = word(p - 1) && !word(p);
        break;
    default:
        t = word(p - 1) != word(p);
        break;
    }
    return t == m_bPositive;
}

// ---- list and alternative

int CListElxT::Forward(CContext* ctx, int i) const {
    const int n = int(m_elxlist.size());
    while (i < n) {
        if (m_elxlist[m_bRight ? n - 1 - i : i]->Match(ctx)) {
            ++i;
            continue;
        }
        for (;;) { // ask the elements before, nearest first, for another way
            if (i == 0) return 0;
            --i;
            if (m_elxlist[m_bRight ? n - 1 - i : i]->MatchNext(ctx)) {
                ++i;
                break;
            }
        }
    }
    return 1;
}

int CListElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    return Forward(ctx, 0);
}

int CListElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    const int n = int(m_elxlist.size());
    int i = n;
    for (;;) {
        if (i == 0) return 0;
        --i;
        if (m_elxlist[m_bRight ? n - 1 - i : i]->MatchNext(ctx)) break;
    }
    return Forward(ctx, i + 1);
}

FirstKind CListElxT::First(ByteSet& set) const {
    if (m_bRight) return FIRST_UNKNOWN;
    for (ElxInterface* e : m_elxlist) {
        FirstKind k = e->First(set);
        if (k != FIRST_NULLABLE) return k;
    }
    return FIRST_NULLABLE;
}

int CAlternativeElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    for (int i = 0; i < int(m_elxlist.size()); ++i) {
        if (m_elxlist[i]->Match(ctx)) {
            ctx->m_stack.Push(i);
            return 1;
        }
    }
    return 0;
}

int CAlternativeElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    int i = ctx->m_stack.Pop();
    if (m_elxlist[i]->MatchNext(ctx)) {
        ctx->m_stack.Push(i);
        return 1;
    }
    for (++i; i < int(m_elxlist.size()); ++i) {
        if (m_elxlist[i]->Match(ctx)) {
            ctx->m_stack.Push(i);
            return 1;
        }
    }
    return 0;
}

FirstKind CAlternativeElxT::First(ByteSet& set) const {
    FirstKind kind = FIRST_CONSUMES;
    for (ElxInterface* e : m_elxlist) {
        FirstKind k = e->First(set);
        if (k == FIRST_UNKNOWN) return k;
        if (k == FIRST_NULLABLE) kind = FIRST_NULLABLE;
    }
    return kind;
}

// ---- repetitions

CRepeatBase::CRepeatBase(ElxInterface* elx, int minimum, int variable)
    : m_pelx(elx), m_nMin(minimum), m_nVar(variable) {
    if (auto* b = dynamic_cast<CByteElx*>(elx)) {
        m_bSingle = true;
        m_bRight = b->RightLeft();
        m_single = b->Table();
    } else if (auto* s = dynamic_cast<CStringElxT*>(elx); s && s->Text().size() == 1) {
        m_bSingle = true;
        m_bRight = s->RightLeft();
        unsigned char c = (unsigned char)s->Text()[0];
        m_single.Add(c);
        if (s->IgnoreCase() && c >= 'a' && c <= 'z') m_single.Add(c - 32);
    }
}

FirstKind CRepeatBase::First(ByteSet& set) const {
    FirstKind k = m_pelx->First(set);
    if (k == FIRST_UNKNOWN) return k;
    return m_nMin == 0 ? FIRST_NULLABLE : k;
}

bool CRepeatBase::ByteAt(const CContext* ctx, int pos) const {
    if (m_bRight) return pos > 0 && pos <= ctx->m_nMatchLength && m_single.Has(ctx->m_pMatchString[pos - 1]);
    return pos >= 0 && pos < ctx->m_nMatchLength && m_single.Has(ctx->m_pMatchString[pos]);
}

int CRepeatBase::Avail(const CContext* ctx) const {
    int pos = ctx->m_nCurrentPos;
    return m_bRight ? pos : ctx->m_nMatchLength - pos;
}

// A run that leaves the position unchanged would only repeat itself: the rest of the minimum counts as met, so a
// huge count costs nothing.
int CRepeatBase::ForwardMin(CContext* ctx, int i) const {
    while (i < m_nMin) {
        int p0 = ctx->m_nCurrentPos;
        if (m_pelx->Match(ctx)) {
            ++i;
            if (ctx->m_nCurrentPos == p0) break;
            continue;
        }
        for (;;) {
            if (i == 0) return -1;
            if (m_pelx->MatchNext(ctx)) break;
            --i;
        }
    }
    return i;
}

int CRepeatBase::BackMin(CContext* ctx, int i) const {
    for (;;) {
        if (i == 0) return -1;
        if (m_pelx->MatchNext(ctx)) break;
        --i;
    }
    return ForwardMin(ctx, i);
}

int CRepeatBase::RunMin(CContext* ctx) const {
    return ForwardMin(ctx, 0);
}

// Extra runs must move the position; each leaves its start position above its own state.
int CRepeatBase::ExtendGreedy(CContext* ctx, int limit) const {
    int j = 0;
    while (j < limit) {
        int p0 = ctx->m_nCurrentPos;
        if (!m_pelx->Match(ctx)) break;
        if (ctx->m_nCurrentPos == p0) {
            bool moved = false;
            while (m_pelx->MatchNext(ctx))
                if (ctx->m_nCurrentPos != p0) {
                    moved = true;
                    break;
                }
            if (!moved) break;
        }
        ctx->m_stack.Push(p0);
        ++j;
    }
    return j;
}

int CRepeatElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    if (m_bSingle) {
        if (Avail(ctx) < m_nMin) return 0;
        int pos = ctx->m_nCurrentPos;
        for (int i = 0; i < m_nMin; ++i)
            if (!ByteAt(ctx, m_bRight ? pos - i : pos + i)) return 0;
        ctx->m_nCurrentPos = m_bRight ? pos - m_nMin : pos + m_nMin;
        return 1;
    }
    int i = RunMin(ctx);
    if (i < 0) return 0;
    ctx->m_stack.Push(i);
    return 1;
}

int CRepeatElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    if (m_bSingle) {
        ctx->m_nCurrentPos += m_bRight ? m_nMin : -m_nMin;
        return 0;
    }
    int i = BackMin(ctx, ctx->m_stack.Pop());
    if (i < 0) return 0;
    ctx->m_stack.Push(i);
    return 1;
}

namespace {
inline int SingleMax(int minimum, int variable, int avail) {
    long long m = (long long)minimum + variable;
    return m < avail ? int(m) : avail;
}
} // namespace

int CGreedyElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    if (m_bSingle) {
        const int pos = ctx->m_nCurrentPos, max = SingleMax(m_nMin, m_nVar, Avail(ctx));
        const unsigned char* s = ctx->m_pMatchString;
        int i = 0;
        if (m_bRight)
            while (i < max && m_single.Has(s[pos - 1 - i]))
                ++i;
        else
            while (i < max && m_single.Has(s[pos + i]))
                ++i;
        if (i < m_nMin) return 0;
        ctx->m_nCurrentPos = m_bRight ? pos - i : pos + i;
        ctx->m_stack.Push(i);
        return 1;
    }
    int m = RunMin(ctx);
    if (m < 0) return 0;
    ctx->m_stack.Push(m);
    ctx->m_stack.Push(ExtendGreedy(ctx, m_nVar));
    return 1;
}

int CGreedyElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    const int dir = m_bRight ? -1 : 1;
    if (m_bSingle) {
        int i = ctx->m_stack.Pop();
        if (i > m_nMin) {
            ctx->m_nCurrentPos -= dir;
            ctx->m_stack.Push(i - 1);
            return 1;
        }
        ctx->m_nCurrentPos -= dir * i;
        return 0;
    }
    int k = ctx->m_stack.Pop();
    if (k > 0) {
        int p0 = ctx->m_stack.Pop();
        if (m_pelx->MatchNext(ctx)) {
            ctx->m_stack.Push(p0);
            // a run that took another way may be followed by more runs
            int more = ctx->m_nCurrentPos != p0 && k < m_nVar ? ExtendGreedy(ctx, m_nVar - k) : 0;
            ctx->m_stack.Push(k + more);
        } else {
            ctx->m_stack.Push(k - 1);
        }
        return 1;
    }
    int m = BackMin(ctx, ctx->m_stack.Pop());
    if (m < 0) return 0;
    ctx->m_stack.Push(m);
    ctx->m_stack.Push(ExtendGreedy(ctx, m_nVar));
    return 1;
}

int CReluctantElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    if (m_bSingle) {
        if (Avail(ctx) < m_nMin) return 0;
        int pos = ctx->m_nCurrentPos;
        for (int i = 0; i < m_nMin; ++i)
            if (!ByteAt(ctx, m_bRight ? pos - i : pos + i)) return 0;
        ctx->m_nCurrentPos = m_bRight ? pos - m_nMin : pos + m_nMin;
        ctx->m_stack.Push(m_nMin);
        return 1;
    }
    int m = RunMin(ctx);
    if (m < 0) return 0;
    ctx->m_stack.Push(m);
    ctx->m_stack.Push(0);
    return 1;
}

int CReluctantElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    const int dir = m_bRight ? -1 : 1;
    if (m_bSingle) {
        int i = ctx->m_stack.Pop();
        if ((long long)i < (long long)m_nMin + m_nVar && ByteAt(ctx, ctx->m_nCurrentPos)) {
            ctx->m_nCurrentPos += dir;
            ctx->m_stack.Push(i + 1);
            return 1;
        }
        ctx->m_nCurrentPos -= dir * i;
        return 0;
    }
    int k = ctx->m_stack.Pop();
    if (k < m_nVar) { // one more run, which must move
        int p0 = ctx->m_nCurrentPos;
        if (m_pelx->Match(ctx)) {
            bool moved = ctx->m_nCurrentPos != p0;
            while (!moved && m_pelx->MatchNext(ctx))
                moved = ctx->m_nCurrentPos != p0;
            if (moved) {
                ctx->m_stack.Push(p0);
                ctx->m_stack.Push(k + 1);
                return 1;
            }
        }
    }
    while (k > 0) { // another way for the runs already made, last first
        int p0 = ctx->m_stack.Pop();
        while (m_pelx->MatchNext(ctx)) {
            if (ctx->m_nCurrentPos != p0) {
                ctx->m_stack.Push(p0);
                ctx->m_stack.Push(k);
                return 1;
            }
        }
        --k;
    }
    int m = BackMin(ctx, ctx->m_stack.Pop());
    if (m < 0) return 0;
    ctx->m_stack.Push(m);
    ctx->m_stack.Push(0);
    return 1;
}

int CPossessiveElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    if (m_bSingle) {
        const int pos = ctx->m_nCurrentPos, max = SingleMax(m_nMin, m_nVar, Avail(ctx));
        const unsigned char* s = ctx->m_pMatchString;
        int i = 0;
        if (m_bRight)
            while (i < max && m_single.Has(s[pos - 1 - i]))
                ++i;
        else
            while (i < max && m_single.Has(s[pos + i]))
                ++i;
        if (i < m_nMin) return 0;
        ctx->m_nCurrentPos = m_bRight ? pos - i : pos + i;
        ctx->m_stack.Push(i);
        return 1;
    }
    const int stackSize = ctx->m_stack.GetSize(), capSize = ctx->m_capturestack.GetSize();
    const int p0 = ctx->m_nCurrentPos;
    if (RunMin(ctx) < 0) return 0;
    ExtendGreedy(ctx, m_nVar);
    ctx->m_stack.Restore(stackSize);
    ctx->m_stack.Push(p0);
    ctx->m_stack.Push(capSize);
    return 1;
}

int CPossessiveElxT::MatchNext(CContext* ctx) const {
    if (m_bSingle) {
        int i = ctx->m_stack.Pop();
        ctx->m_nCurrentPos += m_bRight ? i : -i;
        return 0;
    }
    int capSize = ctx->m_stack.Pop();
    int p0 = ctx->m_stack.Pop();
    ctx->CutCaptures(capSize);
    ctx->m_nCurrentPos = p0;
    return 0;
}

// ---- groups

int CBracketElxT::Match(CContext* ctx) const {
    const int n = m_nnumber;
    if (n < 0 || n >= ctx->m_captureindex.GetSize()) {
        ctx->m_stack.Push(-1);
        return 1;
    }
    CBufferT<int>& cs = ctx->m_capturestack;
    const int idx = ctx->m_captureindex[n];
    if (Opens()) {
        if (idx >= 0 && cs[idx + CAP_END] == -1) { // re-entered through recursion
            cs[idx + CAP_FOURTH]++;
            ctx->m_stack.Push(1);
        } else {
            ctx->m_captureindex[n] = cs.GetSize();
            cs.Push(n), cs.Push(ctx->m_nCurrentPos), cs.Push(-1), cs.Push(0), cs.Push(idx);
            ctx->m_stack.Push(0);
        }
        return 1;
    }
    if (idx < 0 || cs[idx + CAP_END] != -1) {
        ctx->m_stack.Push(-1);
    } else if (cs[idx + CAP_FOURTH] > 0) {
        cs[idx + CAP_FOURTH]--;
        ctx->m_stack.Push(1);
    } else {
        cs[idx + CAP_END] = ctx->m_nCurrentPos;
        cs[idx + CAP_FOURTH] = ctx->m_nCloseCount++;
        ctx->m_stack.Push(0);
    }
    return 1;
}

int CBracketElxT::MatchNext(CContext* ctx) const {
    const int mark = ctx->m_stack.Pop();
    if (mark < 0) return 0;
    CBufferT<int>& cs = ctx->m_capturestack;
    const int idx = ctx->m_captureindex[m_nnumber];
    if (Opens()) {
        if (mark == 1)
            cs[idx + CAP_FOURTH]--;
        else
            ctx->CutCaptures(idx);
        return 0;
    }
    if (mark == 1) {
        cs[idx + CAP_FOURTH]++;
    } else {
        cs[idx + CAP_END] = -1;
        cs[idx + CAP_FOURTH] = 0;
        ctx->m_nCloseCount--;
    }
    return 0;
}

int CBackrefElxT::Match(CContext* ctx) const {
    const int n = m_nnumber;
    // a group number above the group count is simply a group without capture
    if (n < 0 || n >= ctx->m_captureindex.GetSize()) return 0;
    const int idx = ctx->m_captureindex[n];
    if (idx < 0) return 0;
    int a = ctx->m_capturestack[idx + CAP_START], b = ctx->m_capturestack[idx + CAP_END];
    if (b == -1) b = ctx->m_nCurrentPos;
    const int lo = std::min(a, b), len = std::max(a, b) - lo;
    const int pos = ctx->m_nCurrentPos;
    const int at = m_bRight ? pos - len : pos;
    if (lo < 0 || at < 0 || at + len > ctx->m_nMatchLength) return 0;
    const unsigned char* s = ctx->m_pMatchString;
    if (m_bIgnoreCase) {
        for (int i = 0; i < len; ++i)
            if (FoldCase(s[lo + i]) != FoldCase(s[at + i])) return 0;
    } else if (len && std::memcmp(s + lo, s + at, len) != 0) {
        return 0;
    }
    ctx->m_stack.Push(pos);
    ctx->m_nCurrentPos = m_bRight ? pos - len : pos + len;
    return 1;
}

int CBackrefElxT::MatchNext(CContext* ctx) const {
    ctx->m_nCurrentPos = ctx->m_stack.Pop();
    return 0;
}

int CAssertElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    const int stackSize = ctx->m_stack.GetSize(), capSize = ctx->m_capturestack.GetSize();
    const int p0 = ctx->m_nCurrentPos;
    const int r = m_pelx->Match(ctx);
    if (r) {
        ctx->m_stack.Restore(stackSize);
        ctx->m_nCurrentPos = p0;
    }
    if (m_bPositive ? !r : r) {
        ctx->CutCaptures(capSize);
        return 0;
    }
    ctx->m_stack.Push(capSize);
    return 1;
}

int CAssertElxT::MatchNext(CContext* ctx) const {
    ctx->CutCaptures(ctx->m_stack.Pop());
    return 0;
}

int CIndependentElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    const int stackSize = ctx->m_stack.GetSize(), capSize = ctx->m_capturestack.GetSize();
    const int p0 = ctx->m_nCurrentPos;
    if (!m_pelx->Match(ctx)) return 0;
    ctx->m_stack.Restore(stackSize);
    ctx->m_stack.Push(p0);
    ctx->m_stack.Push(capSize);
    return 1;
}

int CIndependentElxT::MatchNext(CContext* ctx) const {
    int capSize = ctx->m_stack.Pop();
    int p0 = ctx->m_stack.Pop();
    ctx->CutCaptures(capSize);
    ctx->m_nCurrentPos = p0;
    return 0;
}

bool CConditionElxT::Holds(CContext* ctx) const {
    if (m_pAssert) {
        const int stackSize = ctx->m_stack.GetSize(), p0 = ctx->m_nCurrentPos;
        if (!m_pAssert->Match(ctx)) return false;
        ctx->m_stack.Restore(stackSize);
        ctx->m_nCurrentPos = p0;
        return true;
    }
    if (m_bNamed && m_nnumber < 0) return true; // a name of no group
    const int n = m_nnumber;
    return n >= 0 && n < ctx->m_captureindex.GetSize() && ctx->m_captureindex[n] >= 0;
}

int CConditionElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    const int capSize = ctx->m_capturestack.GetSize();
    const int branch = Holds(ctx) ? 1 : 0;
    ElxInterface* e = branch ? m_pYes : m_pNo;
    if (!e || e->Match(ctx)) {
        ctx->m_stack.Push(branch);
        ctx->m_stack.Push(capSize);
        return 1;
    }
    ctx->CutCaptures(capSize);
    return 0;
}

int CConditionElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    const int capSize = ctx->m_stack.Pop();
    const int branch = ctx->m_stack.Pop();
    ElxInterface* e = branch ? m_pYes : m_pNo;
    if (e && e->MatchNext(ctx)) {
        ctx->m_stack.Push(branch);
        ctx->m_stack.Push(capSize);
        return 1;
    }
    ctx->CutCaptures(capSize);
    return 0;
}

FirstKind CConditionElxT::First(ByteSet& set) const {
    FirstKind a = m_pYes ? m_pYes->First(set) : FIRST_NULLABLE;
    FirstKind b = m_pNo ? m_pNo->First(set) : FIRST_NULLABLE;
    if (a == FIRST_UNKNOWN || b == FIRST_UNKNOWN) return FIRST_UNKNOWN;
    return (a == FIRST_NULLABLE || b == FIRST_NULLABLE) ? FIRST_NULLABLE : FIRST_CONSUMES;
}

// ---- recursion

int CDelegateElxT::Match(CContext* ctx) const {
    CountStep(ctx);
    if (!m_pelx) return 1;
    const int pos = ctx->m_nCurrentPos;
    // entering the same target again at the same position would never end: that way fails
    for (int i = 0; i + 1 < ctx->m_recursion.GetSize(); i += 2)
        if (ctx->m_recursion[i] == m_nnumber && ctx->m_recursion[i + 1] == pos) return 0;
    ctx->m_recursion.Push(m_nnumber);
    ctx->m_recursion.Push(pos);
    const int r = m_pelx->Match(ctx);
    ctx->m_recursion.Restore(ctx->m_recursion.GetSize() - 2);
    if (r) ctx->m_stack.Push(pos);
    return r;
}

int CDelegateElxT::MatchNext(CContext* ctx) const {
    CountStep(ctx);
    if (!m_pelx) return 0;
    const int pos = ctx->m_stack.Pop();
    ctx->m_recursion.Push(m_nnumber);
    ctx->m_recursion.Push(pos);
    const int r = m_pelx->MatchNext(ctx);
    ctx->m_recursion.Restore(ctx->m_recursion.GetSize() - 2);
    if (r) ctx->m_stack.Push(pos);
    return r;
}

} // namespace zz
