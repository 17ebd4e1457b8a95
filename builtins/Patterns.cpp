// Regular-expression builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_P(TagEreg, 4);
ZZ_BUILTIN_P(TagEregRepl, 4);
ZZ_BUILTIN_P(TagEregSplit, 3);

std::span<const BuiltinEntry> PatternsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(54, TagEreg, 4),      // Ereg
        ZZ_ROW_P(55, TagEregRepl, 4),  // EregRepl
        ZZ_ROW_P(56, TagEregSplit, 3), // EregSplit
    };
    return rows;
}

} // namespace zz
