#pragma once
// The pattern compiler: turns a pattern text into a tree of matching elements. Malformed constructs are read in
// fixed, documented ways (an unmatched ')' ends the pattern, an open class or group runs to the end); only groups
// nested deeper than 64 refuse the pattern (m_bRefused), since the matcher's C++ recursion follows the nesting.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "regex/Elements.h"

namespace zz {

class CBuilderT {
public:
    CBuilderT() = default;
    CBuilderT(const CBuilderT&) = delete;
    CBuilderT& operator=(const CBuilderT&) = delete;

    void Build(const char* pattern, int length, int flags);
    int GetNamedNumber(std::string_view name) const; // -1 when no group has that name
    const std::string& Pattern() const { return m_pattern; }

    ElxInterface* m_pTopElx = nullptr;
    int m_nFlags = 0;
    int m_nMaxNumber = 0;
    std::vector<ElxInterface*> m_grouplist; // by group number; 0 is the whole pattern

    // Start-position filters worked out once (left to right only): a literal every match starts with, the bytes a
    // match can start with, or a match only at the text start.
    std::string m_prefix;
    ByteSet m_firstSet;
    bool m_bUseFirst = false;
    bool m_bAnchored = false;
    bool m_bRefused = false;

private:
    struct Token {
        int ch = 0; // a byte, or kEsc | escaped byte
        bool special = false;
        int value = 0; // back-reference number
    };
    struct Named {
        std::string name;
        CBracketElxT* open;
        CBracketElxT* close;
        ElxInterface* group;
        int number = 0;
    };
    static constexpr int kEsc = 0x100;

    template <class T, class... A> T* Make(A&&... a) {
        auto p = std::make_unique<T>(std::forward<A>(a)...);
        T* raw = p.get();
        m_objlist.push_back(std::move(p));
        return raw;
    }
    ElxInterface* GetStockElx(int k);
    ElxInterface* Nothing(int flags); // matches nothing

    // tokens
    Token Next(bool inClass);
    Token Peek(bool inClass);
    bool Escape(bool inClass, Token& t); // false: the escape produced no token
    int Raw(size_t i) const { return i < m_pattern.size() ? (unsigned char)m_pattern[i] : -1; }
    std::string ReadUntil(char end);
    int ReadNumber(int maxDigits);

    // grammar
    std::vector<ElxInterface*> ParseAlternatives(int& flags, int depth);
    ElxInterface* ParseAlternation(int& flags, int depth);
    ElxInterface* ParseSequence(int& flags, int depth);
    ElxInterface* ParseAtom(int& flags, int depth);
    ElxInterface* ParseQuantifiers(ElxInterface* atom);
    ElxInterface* ParseGroup(int& flags, int depth);
    ElxInterface* ParseCondition(int flags, int depth);
    ElxInterface* ParseRecursion();
    ElxInterface* ParseClass(int flags);
    ElxInterface* TryPosix(int flags);
    ElxInterface* MakeGroup(int number, ElxInterface* body, bool rightleft, CBracketElxT** open, CBracketElxT** close);
    void CloseGroup();
    void Resolve();
    void Analyse();

    std::vector<std::unique_ptr<ElxInterface>> m_objlist;
    ElxInterface* m_pStockElxs[17] = {};
    std::string m_pattern;
    size_t m_pos = 0;
    int m_quote = 0; // 'Q', 'L' or 'U' while literal text runs to \E
    int m_nUnnamed = 0;
    std::vector<Named> m_named;
    std::vector<std::pair<std::string, int>> m_names; // name, number
    std::vector<CBackrefElxT*> m_backrefs;
    std::vector<CDelegateElxT*> m_delegates;
    std::vector<CConditionElxT*> m_conditions;
};

} // namespace zz
