// Mailbox builtins and inter-line calls.
#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"

namespace zz {

ZZ_BUILTIN_L(TagSendMsg, 4);
ZZ_BUILTIN_L(TagRecvMsg, 7);
ZZ_BUILTIN_L(TagRecvMsgForType, 7);
ZZ_BUILTIN_L(TagRecvMsgForField, 9);
ZZ_BUILTIN_L(TagRecvMsgFor2Field, 12);
ZZ_BUILTIN_L(TagClearMsg, 2);
ZZ_BUILTIN_L(TagClearMsgFrom, 3);
ZZ_BUILTIN_L(TagClearMsgForType, 3);
ZZ_BUILTIN_L(TagClearMsgForField, 4);
ZZ_BUILTIN_L(TagGetMsgNum, 3);
ZZ_BUILTIN_L(TagGetMsgNumForType, 4);
ZZ_BUILTIN_L(TagGetMsgNumForField, 5);
ZZ_BUILTIN_L(TagSetMsgField, 2);
ZZ_BUILTIN_L(TagGetMsgField, 2);
ZZ_BUILTIN_L(TagGetMsgFieldVal, 1);
ZZ_BUILTIN_L(TagCountMsg, 4);
ZZ_BUILTIN_L(TagReadMsg, 6);
ZZ_BUILTIN_L(TagReadMsgFor, 6);
ZZ_BUILTIN_L(TagWriteMsg, 6);
ZZ_BUILTIN_L(TagSetMsgOrderBy, 4);
ZZ_BUILTIN_L(TagInterLineCall, 4);
namespace {
std::unique_ptr<TagOper> MakeInterLineServer(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagInterLineServer>(a[0], prog);
}
} // namespace

std::span<const BuiltinEntry> MessagesBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(235, TagSendMsg, 4),           // SendMsg
        ZZ_ROW_L(236, TagRecvMsg, 7),           // RecvMsg
        ZZ_ROW_L(237, TagRecvMsgForType, 7),    // RecvMsgForType
        ZZ_ROW_L(238, TagRecvMsgForField, 9),   // RecvMsgForField
        ZZ_ROW_L(239, TagRecvMsgFor2Field, 12), // RecvMsgFor2Field
        ZZ_ROW_L(240, TagClearMsg, 2),          // ClearMsg
        ZZ_ROW_L(241, TagClearMsgFrom, 3),      // ClearMsgFrom
        ZZ_ROW_L(242, TagClearMsgForType, 3),   // ClearMsgForType
        ZZ_ROW_L(243, TagClearMsgForField, 4),  // ClearMsgForField
        ZZ_ROW_L(244, TagGetMsgNum, 3),         // GetMsgNum
        ZZ_ROW_L(245, TagGetMsgNumForType, 4),  // GetMsgNumForType
        ZZ_ROW_L(246, TagGetMsgNumForField, 5), // GetMsgNumForField
        ZZ_ROW_L(247, TagSetMsgField, 2),       // SetMsgField
        ZZ_ROW_L(248, TagGetMsgField, 2),       // GetMsgField
        ZZ_ROW_L(249, TagGetMsgFieldVal, 1),    // GetMsgFieldVal
        ZZ_ROW_L(250, TagCountMsg, 4),          // CountMsg
        ZZ_ROW_L(251, TagReadMsg, 6),           // ReadMsg
        ZZ_ROW_L(252, TagReadMsgFor, 6),        // ReadMsgFor
        ZZ_ROW_L(253, TagWriteMsg, 6),          // WriteMsg
        ZZ_ROW_L(254, TagSetMsgOrderBy, 4),     // SetMsgOrderBy
        ZZ_ROW_L(268, TagInterLineCall, 4),     // InterLineCall
        {269, 1, &MakeInterLineServer},         // InterLineServer
    };
    return rows;
}

} // namespace zz
