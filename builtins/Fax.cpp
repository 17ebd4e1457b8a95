// Fax builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagSetFaxLocalId, 1);
ZZ_BUILTIN_L(TagGetFaxResource, 2);
ZZ_BUILTIN_L(TagSendFax, 1);
ZZ_BUILTIN_L(TagRecvFax, 1);
ZZ_BUILTIN_P(TagTxt2FaxFile, 3);

std::span<const BuiltinEntry> FaxBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(149, TagSetFaxLocalId, 1),  // SetFaxLocalId
        ZZ_ROW_L(150, TagGetFaxResource, 2), // GetFaxResource
        ZZ_ROW_L(151, TagSendFax, 1),        // SendFax
        ZZ_ROW_L(152, TagRecvFax, 1),        // RecvFax
        ZZ_ROW_P(153, TagTxt2FaxFile, 3),    // Txt2FaxFile
    };
    return rows;
}

} // namespace zz
