#pragma once
// A compiled regular expression over 8-bit (GBK) text: search, results and replacement with $ references.
#include <memory>

#include "regex/CBufferT.h"
#include "regex/Elements.h"

namespace zz {

class CBuilderT;

// Outcome of one search: item 0 matched, 1 highest group number, then start and end of each group from 0.
class MatchResultT {
public:
    int IsMatched() const { return m_result.At(0, 0); }
    int MaxGroupNumber() const { return m_result.At(1, 0); }
    int GetStart() const { return m_result.At(2, -1); }
    int GetEnd() const { return m_result.At(3, -1); }
    int GetGroupStart(int n) const { return n < 0 || n > MaxGroupNumber() ? -1 : m_result.At(2 + n * 2, -1); }
    int GetGroupEnd(int n) const { return n < 0 || n > MaxGroupNumber() ? -1 : m_result.At(3 + n * 2, -1); }

    CBufferT<int> m_result;
};

class CRegexpT {
public:
    CRegexpT();
    explicit CRegexpT(const char* pattern, int flags = NO_FLAG);
    CRegexpT(const char* pattern, int length, int flags);
    ~CRegexpT();
    CRegexpT(const CRegexpT&) = delete;
    CRegexpT& operator=(const CRegexpT&) = delete;

    // A pattern with groups nested deeper than 64 is refused (run-log line): nothing is compiled, every search
    // fails and Replace returns null.
    void Compile(const char* pattern, int flags = NO_FLAG);
    void Compile(const char* pattern, int length, int flags);
    bool IsCompiled() const { return m_builder != nullptr; }

    // Search from start (negative: the text start, or its end right to left). Without a context, a fresh one.
    // A search that takes more than kMatchStepLimit steps, or would overflow the thread's stack, gives up with no
    // match and a run-log line naming the pattern.
    MatchResultT Match(const char* text, int start = -1, CContext* ctx = nullptr) const;
    MatchResultT Match(const char* text, int length, int start, CContext* ctx = nullptr) const;
    // Successive searches over one prepared context go on where the previous match ended. Null without a context.
    CContext* PrepareMatch(const char* text, int length, int start, CContext* ctx) const;
    MatchResultT Match(CContext* ctx) const;

    // New text with up to count matches (negative: all) replaced; null when nothing is compiled. The caller
    // frees it with FreeString.
    char* Replace(const char* text, int length, const char* replacement, int replaceLength, int& resultLength,
                  int start = -1, int count = -1, MatchResultT* result = nullptr, CContext* ctx = nullptr) const;
    char* Replace(const char* text, const char* replacement, int start = -1, int count = -1,
                  MatchResultT* result = nullptr, CContext* ctx = nullptr) const;
    static void FreeString(char* s);

    int GetNamedGroupNumber(const char* name) const;
    int MaxGroupNumber() const;
    int Flags() const;

private:
    // The search loop over the start positions (ctx prepared, limits set).
    MatchResultT Search(CContext* ctx) const;

    std::unique_ptr<CBuilderT> m_builder;
};

} // namespace zz
