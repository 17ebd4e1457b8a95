// Database builtins: data sets in the line's table of handles.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagDbOpen, 6);
ZZ_BUILTIN_L(TagDbExec, 2);
ZZ_BUILTIN_L(TagDbRows, 2);
ZZ_BUILTIN_L(TagDbGetField, 4);
ZZ_BUILTIN_L(TagDbSetField, 4);
ZZ_BUILTIN_L(TagDbClose, 1);
ZZ_BUILTIN_L(TagDbCloseAll, 0);
ZZ_BUILTIN_L(TagDbSetDebug, 2);
ZZ_BUILTIN_L(TagDbExecMap, 5);

std::span<const BuiltinEntry> DatabaseBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(57, TagDbOpen, 6),     // DbOpen
        ZZ_ROW_L(58, TagDbExec, 2),     // DbExec
        ZZ_ROW_L(59, TagDbRows, 2),     // DbRows
        ZZ_ROW_L(60, TagDbGetField, 4), // DbGetField
        ZZ_ROW_L(61, TagDbSetField, 4), // DbSetField
        ZZ_ROW_L(62, TagDbClose, 1),    // DbClose
        ZZ_ROW_L(63, TagDbCloseAll, 0), // DbCloseAll
        ZZ_ROW_L(64, TagDbSetDebug, 2), // DbSetDebug
        ZZ_ROW_L(65, TagDbExecMap, 5),  // DbExecMap
    };
    return rows;
}

} // namespace zz
