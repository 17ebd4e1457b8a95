// Regular-expression builtins. Each run compiles its pattern anew with no flags (scripts set options inline); a
// refused pattern, like operands of the wrong type, gives 0 and changes nothing.
#include <string>

#include "builtins/Families.h"
#include "builtins/services/ServiceBuiltin.h"
#include "regex/CRegexpT.h"
#include "regex/Split.h"

namespace zz {

ZZ_SERVICE_P(TagEreg, 4);
ZZ_SERVICE_P(TagEregRepl, 4);
ZZ_SERVICE_P(TagEregSplit, 3);

namespace {

bool IsString(const TagBuiltin& b, int32_t i) {
    return b.Operand(i).type == TagVar::kString;
}

// The pattern of operand i, compiled with the flag word 0.
CRegexpT Compiled(const TagBuiltin& b, int32_t i) {
    std::string_view p = b.Bytes(i);
    return CRegexpT(p.data(), int(p.size()), NO_FLAG);
}

} // namespace

// Ereg(subject, start, pattern, groups): items 0.. of groups := the groups that took part; the match start + 1.
int32_t TagEreg::Run() {
    if (!IsString(*this, 0) || !IsString(*this, 2)) return 0;
    const std::string subject(Bytes(0)); // a copy: the group array may be the subject's own variable
    CRegexpT re = Compiled(*this, 2);
    MatchResultT m = re.Match(subject.data(), int(subject.size()), IntVal(1));
    if (!Operand(3).readOnly)
        for (int n = 0; n <= m.MaxGroupNumber(); ++n) {
            const int a = m.GetGroupStart(n), e = m.GetGroupEnd(n);
            if (a >= 0) SetOutItemText(3, n, std::string_view(subject).substr(size_t(a), size_t(e - a)));
        }
    return m.IsMatched() ? m.GetStart() + 1 : 0;
}

// EregRepl(subject variable, pattern, replacement, count): count < 0 replaces every match, 0 none.
int32_t TagEregRepl::Run() {
    if (!IsString(*this, 0) || !IsString(*this, 1)) return 0;
    const std::string_view subject = Bytes(0);
    const std::string replacement = Text(2);
    CRegexpT re = Compiled(*this, 1);
    int len = 0;
    char* out =
        re.Replace(subject.data(), int(subject.size()), replacement.data(), int(replacement.size()), len, 0, IntVal(3));
    if (!out) return 0;
    SetOutText(0, std::string_view(out, size_t(len)));
    CRegexpT::FreeString(out);
    return 1;
}

// EregSplit(subject, pattern, pieces): items 0.. := the text between matches; the number of pieces.
int32_t TagEregSplit::Run() {
    if (!IsString(*this, 0) || !IsString(*this, 1) || Operand(2).readOnly) return 0;
    const std::string subject(Bytes(0));
    CRegexpT re = Compiled(*this, 1);
    if (!re.IsCompiled()) return 0;
    std::vector<std::string_view> pieces = RegexSplit(re, subject);
    for (size_t n = 0; n < pieces.size(); ++n)
        SetOutItemText(2, int32_t(n), pieces[n]);
    return int32_t(pieces.size());
}

std::span<const BuiltinEntry> PatternsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(54, TagEreg, 4),      // Ereg
        ZZ_ROW_P(55, TagEregRepl, 4),  // EregRepl
        ZZ_ROW_P(56, TagEregSplit, 3), // EregSplit
    };
    return rows;
}

} // namespace zz
