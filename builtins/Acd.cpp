// ACD queue builtins: the line's message work record is the record sent into a group or received from one.
#include "builtins/Families.h"
#include "builtins/services/MsgState.h"
#include "builtins/services/ServiceBuiltin.h"
#include "builtins/services/TagAcdList.h"

namespace zz {

ZZ_SERVICE_L(TagAcdListSend, 2);
ZZ_SERVICE_L(TagAcdListRead, 0);
ZZ_SERVICE_L(TagAcdListWrite, 4);
ZZ_SERVICE_L(TagAcdListRecv, 2);
ZZ_SERVICE_L(TagAcdListClear, 2);
ZZ_SERVICE_L(TagAcdListNum, 1);

namespace {

TagMsgFields& Work(const TagBuiltin& b) {
    return b.Program()->LineState<MsgState>().work;
}

// The work record's field count once a record was received into it, else 0.
int32_t FieldsIf(const TagBuiltin& b, int32_t received) {
    return received ? Work(b).Count() : 0;
}

} // namespace

int32_t TagAcdListSend::Run() {
    TagMsgFields& w = Work(*this);
    w.SetCount(IntVal(1));
    return ProcessAcdList().Send(Text(0), w);
}

int32_t TagAcdListNum::Run() {
    return ProcessAcdList().Num(Text(0));
}

int32_t TagAcdListRead::Run() {
    return FieldsIf(*this, ProcessAcdList().Read(Program()->lineNo, Work(*this)));
}

int32_t TagAcdListRecv::Run() {
    return FieldsIf(*this, ProcessAcdList().Recv(Program()->lineNo, IntVal(0), Operand(1), Work(*this)));
}

int32_t TagAcdListWrite::Run() {
    return ProcessAcdList().Write(IntVal(0), Operand(1), IntVal(2), Operand(3));
}

int32_t TagAcdListClear::Run() {
    return ProcessAcdList().Clear(IntVal(0), Operand(1));
}

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
