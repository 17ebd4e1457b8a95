// System information builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagGetSysInfo, 1);
ZZ_BUILTIN_L(TagGetSysInfoVal, 2);

std::span<const BuiltinEntry> SysInfoBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(270, TagGetSysInfo, 1),    // GetSysInfo
        ZZ_ROW_L(271, TagGetSysInfoVal, 2), // GetSysInfoVal
    };
    return rows;
}

} // namespace zz
