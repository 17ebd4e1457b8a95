// Shared-memory builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagGetShareMem, 3);
ZZ_BUILTIN_L(TagSetShareMem, 3);
ZZ_BUILTIN_L(TagClearShareMem, 1);
ZZ_BUILTIN_L(TagIncShareMem, 4);
ZZ_BUILTIN_L(TagDecShareMem, 4);
ZZ_BUILTIN_L(TagFindShareMem, 3);
ZZ_BUILTIN_L(TagAccShareMem, 4);

std::span<const BuiltinEntry> ShareMemBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(261, TagGetShareMem, 3),   // GetShareMem
        ZZ_ROW_L(262, TagSetShareMem, 3),   // SetShareMem
        ZZ_ROW_L(263, TagClearShareMem, 1), // ClearShareMem
        ZZ_ROW_L(264, TagIncShareMem, 4),   // IncShareMem
        ZZ_ROW_L(265, TagDecShareMem, 4),   // DecShareMem
        ZZ_ROW_L(266, TagFindShareMem, 3),  // FindShareMem
        ZZ_ROW_L(267, TagAccShareMem, 4),   // AccShareMem
    };
    return rows;
}

} // namespace zz
