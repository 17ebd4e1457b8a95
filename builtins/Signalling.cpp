// Signalling builtins: signalling parameters, hang-up cause, call type and record position of the line's call,
// and FSK messages.
#include "builtins/Families.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagSetSigPara, 2);
ZZ_BUILTIN_L_RUN(TagSetHangupCause, 1);
ZZ_BUILTIN_L_RUN(TagSetCallType, 1);
ZZ_BUILTIN_L_RUN(TagSendFskMsg, 3);
ZZ_BUILTIN_L_RUN(TagRecvFskMsg, 3);
ZZ_BUILTIN_L_RUN(TagSetRecPos, 1);

namespace {
constexpr size_t kFskTextBuf = 1024; // the text buffer handed to the call, terminator included
}

// A text value goes to the call's dial-text setting; any other value (empty: -1) to its signalling parameter.
int32_t TagSetSigPara::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    const int32_t kind = IntVal(0);
    const TagVar& v = Operand(1);
    if (v.type == TagVar::kString) return c->SetDialExText(kind, Text(1));
    return c->SetSigPara(kind, v.type == TagVar::kEmpty ? -1 : IntVal(1));
}

int32_t TagSetHangupCause::Run() {
    const int32_t v = IntVal(0);
    if (TagKvCall* c = Call()) c->hangupCause = v;
    return v;
}

int32_t TagSetCallType::Run() {
    const int32_t v = IntVal(0);
    if (TagKvCall* c = Call()) c->callType = v;
    return v;
}

int32_t TagSetRecPos::Run() {
    if (TagKvCall* c = Call()) c->recPos = IntVal(0);
    return kBuiltinOk;
}

int32_t TagSendFskMsg::Run() {
    TagKvCall* c = Call();
    return c ? c->SendFskMsg(IntVal(0), Text(1), IntVal(2)) : kBuiltinBadArg;
}

int32_t TagRecvFskMsg::Run() {
    TagKvCall* c = Call();
    int32_t type = 0;
    std::string text;
    const int32_t r = c ? c->RecvFskMsg(type, text, IntVal(2)) : kBuiltinBadArg;
    if (text.size() >= kFskTextBuf) text.resize(kFskTextBuf - 1);
    SetOutInt(0, type);
    SetOutText(1, text);
    return r;
}

std::span<const BuiltinEntry> SignallingBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(85, TagSetHangupCause, 1), // SetHangupCause
        ZZ_ROW_L(86, TagSetCallType, 1),    // SetCallType
        ZZ_ROW_L(87, TagSetRecPos, 1),      // SetRecPos
        ZZ_ROW_L(278, TagSetSigPara, 2),    // SetSigPara
        ZZ_ROW_L(280, TagSendFskMsg, 3),    // SendFskMsg
        ZZ_ROW_L(281, TagRecvFskMsg, 3),    // RecvFskMsg
    };
    return rows;
}

} // namespace zz
