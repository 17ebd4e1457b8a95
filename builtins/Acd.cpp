// ACD queue builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagAcdListSend, 2);
ZZ_BUILTIN_L(TagAcdListRead, 0);
ZZ_BUILTIN_L(TagAcdListWrite, 4);
ZZ_BUILTIN_L(TagAcdListRecv, 2);
ZZ_BUILTIN_L(TagAcdListClear, 2);
ZZ_BUILTIN_L(TagAcdListNum, 1);

std::span<const BuiltinEntry> AcdBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(255, TagAcdListSend, 2),  // AcdListSend
        ZZ_ROW_L(256, TagAcdListRead, 0),  // AcdListRead
        ZZ_ROW_L(257, TagAcdListWrite, 4), // AcdListWrite
        ZZ_ROW_L(258, TagAcdListRecv, 2),  // AcdListRecv
        ZZ_ROW_L(259, TagAcdListClear, 2), // AcdListClear
        ZZ_ROW_L(260, TagAcdListNum, 1),   // AcdListNum
    };
    return rows;
}

} // namespace zz
