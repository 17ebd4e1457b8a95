#pragma once
// The matching elements of a compiled expression and the state of one search. Every element offers a first way
// of matching (Match) and, on demand, its next way (MatchNext); what it needs to resume lives on the context's
// integer stacks, never on the C++ stack, so the depth of C++ calls follows the pattern, not the subject.
#include <cstdint>
#include <string>
#include <vector>

#include "regex/CBufferT.h"

namespace zz {

enum RegexFlags {
    NO_FLAG = 0,
    SINGLELINE = 1,
    MULTILINE = 2,
    GLOBAL = 4,
    IGNORECASE = 8,
    RIGHTTOLEFT = 16,
    EXTENDED = 32,
};

// A capture record on the capture stack: group number, start, end (-1 while open), nesting counter while open or
// closing stamp once closed, and the group's previous record index (to undo when the stack is cut back).
enum { CAP_NUMBER, CAP_START, CAP_END, CAP_FOURTH, CAP_PREV, CAP_RECORD };

class CContext {
public:
    CBufferT<int> m_stack;        // backtracking stack
    CBufferT<int> m_capturestack; // capture records
    CBufferT<int> m_captureindex; // by group number: index of the current record, -1 for none
    int m_nCurrentPos = 0;
    int m_nBeginPos = 0;
    int m_nLastBeginPos = -1;
    int m_nCloseCount = 0;
    const unsigned char* m_pMatchString = nullptr;
    int m_nMatchLength = 0;

    // Where the last accepted empty match lay (-1: none), so that it is reported once.
    int m_nLastEmptyPos = -1;
    // Recursions being entered: pairs of target id and position, to refuse a recursion that makes no progress.
    CBufferT<int> m_recursion;
    // Matcher steps taken by the search under way, and the lowest frame address it may reach on this thread's
    // stack; past either the search is abandoned (RegexAbandoned) rather than hang the line or overflow.
    int64_t m_nSteps = 0;
    uintptr_t m_stackFloor = 0;

    // Cut the capture stack back to size, pointing each group back at the record it had before.
    void CutCaptures(int size) {
        while (m_capturestack.GetSize() > size) {
            int top = m_capturestack.GetSize() - CAP_RECORD;
            int n = m_capturestack[top + CAP_NUMBER];
            if (n >= 0 && n < m_captureindex.GetSize()) m_captureindex[n] = m_capturestack[top + CAP_PREV];
            m_capturestack.Restore(top);
        }
    }
};

// Bytes an element can begin with when matched left to right (used to skip hopeless start positions).
struct ByteSet {
    uint64_t bits[4] = {0, 0, 0, 0};
    void Add(unsigned char c) { bits[c >> 6] |= uint64_t(1) << (c & 63); }
    bool Has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
    void Merge(const ByteSet& o) {
        for (int i = 0; i < 4; ++i)
            bits[i] |= o.bits[i];
    }
    int Count() const {
        int n = 0;
        for (uint64_t b : bits)
            n += __builtin_popcountll(b);
        return n;
    }
};

enum FirstKind { FIRST_CONSUMES, FIRST_NULLABLE, FIRST_UNKNOWN };

// Steps one search may take before it gives up with no match (PCRE2's default match limit).
constexpr int64_t kMatchStepLimit = 10000000;

// Thrown out of the elements when a search must stop at once; the search reports no match.
struct RegexAbandoned {
    enum Reason { kTooManySteps, kStackExhausted } reason;
};

[[noreturn]] void AbandonSearch(const CContext* ctx);

// Counted by every element that calls other elements: backtracking that runs away, or recursion that would
// overflow the thread's stack, ends the search here.
inline void CountStep(CContext* ctx) {
    if (__builtin_expect(++ctx->m_nSteps > kMatchStepLimit ||
                             reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < ctx->m_stackFloor,
                         0))
        AbandonSearch(ctx);
}

class ElxInterface {
public:
    virtual int Match(CContext* ctx) const = 0;
    virtual int MatchNext(CContext* ctx) const = 0;
    virtual ~ElxInterface() = default;
    // Adds to set the bytes a left-to-right match can start with; says whether the element can match empty.
    virtual FirstKind First(ByteSet&) const { return FIRST_UNKNOWN; }
};

class CEmptyElxT : public ElxInterface {
public:
    int Match(CContext*) const override { return 1; }
    int MatchNext(CContext*) const override { return 0; }
    FirstKind First(ByteSet&) const override { return FIRST_NULLABLE; }
};

class CStringElxT : public ElxInterface {
public:
    CStringElxT(std::string text, bool rightleft, bool ignorecase);
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override;
    const std::string& Text() const { return m_szPattern; }
    bool IgnoreCase() const { return m_bIgnoreCase; }
    bool RightLeft() const { return m_bRight; }

private:
    std::string m_szPattern; // folded to lower case when ignoring case
    bool m_bRight;
    bool m_bIgnoreCase;
};

// Elements that match exactly one byte by a membership test: classes and POSIX classes. The test is turned into a
// 256-entry table once built.
class CByteElx : public ElxInterface {
public:
    explicit CByteElx(bool rightleft, bool positive) : m_bRight(rightleft), m_bPositive(positive) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override;
    // Membership of a byte before the positive flag is applied.
    virtual bool Contains(unsigned char c) const = 0;
    bool Test(unsigned char c) const { return m_table.Has(c); }
    const ByteSet& Table() const { return m_table; }
    bool RightLeft() const { return m_bRight; }
    // Builds the table; call once every member is in.
    void Finish();

protected:
    bool m_bRight;
    bool m_bPositive;
    ByteSet m_table;
};

class CRangeElxT : public CByteElx {
public:
    CRangeElxT(bool rightleft, bool positive) : CByteElx(rightleft, positive) {}
    void AddRange(int lo, int hi) { m_ranges.push_back(lo), m_ranges.push_back(hi); }
    void AddChar(int c) { m_chars.push_back(c); }
    void AddElx(const CByteElx* e) { m_embeds.push_back(e); }
    bool Contains(unsigned char c) const override;

private:
    std::vector<int> m_ranges; // lo, hi pairs of unsigned bytes (0-255)
    std::vector<int> m_chars;
    std::vector<const CByteElx*> m_embeds;
};

class CPosixElxT : public CByteElx {
public:
    using Func = bool (*)(unsigned char);
    CPosixElxT(Func f, bool rightleft, bool positive) : CByteElx(rightleft, positive), m_posixfun(f) {}
    bool Contains(unsigned char c) const override;

private:
    Func m_posixfun; // null: a class name that is not known, matching nothing
};

class CBoundaryElxT : public ElxInterface {
public:
    CBoundaryElxT(int type, bool positive) : m_nType(type), m_bPositive(positive) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext*) const override { return 0; }
    FirstKind First(ByteSet&) const override { return FIRST_NULLABLE; }
    int Type() const { return m_nType; }
    bool Positive() const { return m_bPositive; }

private:
    int m_nType;
    bool m_bPositive;
};

class CGlobalElxT : public ElxInterface {
public:
    int Match(CContext* ctx) const override { return ctx->m_nCurrentPos == ctx->m_nBeginPos; }
    int MatchNext(CContext*) const override { return 0; }
    FirstKind First(ByteSet&) const override { return FIRST_NULLABLE; }
};

class CListElxT : public ElxInterface {
public:
    explicit CListElxT(bool rightleft) : m_bRight(rightleft) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override;
    std::vector<ElxInterface*> m_elxlist;

private:
    int Forward(CContext* ctx, int i) const; // i elements matched; completes the list or undoes it
    bool m_bRight;
};

class CAlternativeElxT : public ElxInterface {
public:
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override;
    std::vector<ElxInterface*> m_elxlist;
};

// Shared by the repetition elements: a counted run of matches of one element, kept as a list of copies would be
// but with a counter instead of the copies. Elements that match one byte run in a tight loop.
class CRepeatBase : public ElxInterface {
public:
    CRepeatBase(ElxInterface* elx, int minimum, int variable);
    FirstKind First(ByteSet& set) const override;

protected:
    int RunMin(CContext* ctx) const; // matches the minimum part; pushes nothing; count on success, -1
    int ForwardMin(CContext* ctx, int i) const;
    int BackMin(CContext* ctx, int i) const;          // next way of the minimum part with i runs on the stack, or -1
    int ExtendGreedy(CContext* ctx, int limit) const; // up to limit moving extra runs; returns their number
    bool ByteAt(const CContext* ctx, int pos) const;  // single-byte element matches at pos in our direction
    int Avail(const CContext* ctx) const;             // bytes left in our direction

    ElxInterface* m_pelx;
    int m_nMin;
    int m_nVar;
    bool m_bSingle = false; // m_pelx matches exactly one byte: use m_single
    bool m_bRight = false;
    ByteSet m_single;
};

class CRepeatElxT : public CRepeatBase {
public:
    CRepeatElxT(ElxInterface* elx, int count) : CRepeatBase(elx, count, 0) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
};

class CGreedyElxT : public CRepeatBase {
public:
    using CRepeatBase::CRepeatBase;
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
};

class CReluctantElxT : public CRepeatBase {
public:
    using CRepeatBase::CRepeatBase;
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
};

class CPossessiveElxT : public CRepeatBase {
public:
    using CRepeatBase::CRepeatBase;
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
};

class CBracketElxT : public ElxInterface {
public:
    CBracketElxT(int number, bool closing, bool rightleft)
        : m_nnumber(number), m_bClosing(closing), m_bRight(rightleft) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet&) const override { return FIRST_NULLABLE; }
    int m_nnumber;

private:
    bool Opens() const { return m_bClosing == m_bRight; } // right to left the closing mark is met first
    bool m_bClosing;
    bool m_bRight;
};

class CBackrefElxT : public ElxInterface {
public:
    CBackrefElxT(int number, bool rightleft, bool ignorecase)
        : m_nnumber(number), m_bRight(rightleft), m_bIgnoreCase(ignorecase) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    int m_nnumber; // -1 while (or when) a name does not resolve
    std::string m_name;

private:
    bool m_bRight;
    bool m_bIgnoreCase;
};

class CAssertElxT : public ElxInterface {
public:
    CAssertElxT(ElxInterface* elx, bool positive) : m_pelx(elx), m_bPositive(positive) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet&) const override { return FIRST_NULLABLE; }

private:
    ElxInterface* m_pelx;
    bool m_bPositive;
};

class CIndependentElxT : public ElxInterface {
public:
    explicit CIndependentElxT(ElxInterface* elx) : m_pelx(elx) {}
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override { return m_pelx->First(set); }

private:
    ElxInterface* m_pelx;
};

class CConditionElxT : public ElxInterface {
public:
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    FirstKind First(ByteSet& set) const override;

    int m_nnumber = -1; // condition on a group number
    std::string m_name; // condition on a group name (resolved into m_nnumber, else true)
    bool m_bNamed = false;
    ElxInterface* m_pAssert = nullptr; // condition by a look-around
    ElxInterface* m_pYes = nullptr;
    ElxInterface* m_pNo = nullptr; // null: matches empty

private:
    bool Holds(CContext* ctx) const;
};

class CDelegateElxT : public ElxInterface {
public:
    int Match(CContext* ctx) const override;
    int MatchNext(CContext* ctx) const override;
    ElxInterface* m_pelx = nullptr; // target; null matches empty
    int m_nnumber = 0;
    std::string m_name;
    bool m_bNamed = false;
};

} // namespace zz
