// Instant-message and file-transfer builtins.
#include "builtins/Families.h"

namespace zz {

ZZ_BUILTIN_L(TagImSend, 3);
ZZ_BUILTIN_L(TagImTest, 0);
ZZ_BUILTIN_L(TagImRead, 4);
ZZ_BUILTIN_L(TagImRecv, 2);
ZZ_BUILTIN_L(TagImMsgGetField, 3);
ZZ_BUILTIN_L(TagImMakeAns, 6);
ZZ_BUILTIN_L(TagImMsgFree, 1);
ZZ_BUILTIN_L(TagImMakeReq, 9);
ZZ_BUILTIN_L(TagImFileSend, 6);
ZZ_BUILTIN_L(TagImFileRecv, 9);
ZZ_BUILTIN_L(TagImFileCheck, 3);
ZZ_BUILTIN_L(TagImFileEnd, 1);
ZZ_BUILTIN_L(TagImFileProcAnswer, 1);

std::span<const BuiltinEntry> InstantMessagesBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(116, TagImSend, 3),           // ImSend
        ZZ_ROW_L(117, TagImTest, 0),           // ImTest
        ZZ_ROW_L(118, TagImRead, 4),           // ImRead
        ZZ_ROW_L(119, TagImRecv, 2),           // ImRecv
        ZZ_ROW_L(120, TagImMsgGetField, 3),    // ImMsgGetField
        ZZ_ROW_L(121, TagImMakeAns, 6),        // ImMakeAns
        ZZ_ROW_L(122, TagImMsgFree, 1),        // ImMsgFree
        ZZ_ROW_L(123, TagImMakeReq, 9),        // ImMakeReq
        ZZ_ROW_L(124, TagImFileSend, 6),       // ImFileSend
        ZZ_ROW_L(125, TagImFileRecv, 9),       // ImFileRecv
        ZZ_ROW_L(126, TagImFileCheck, 3),      // ImFileCheck
        ZZ_ROW_L(127, TagImFileEnd, 1),        // ImFileEnd
        ZZ_ROW_L(128, TagImFileProcAnswer, 1), // ImFileProcAnswer
    };
    return rows;
}

} // namespace zz
