// Mailbox builtins and inter-line calls. Every builtin works on the message work record of its line's main
// program; a mailbox is addressed by line (negative: the process-wide one) and box 0..63.
#include <vector>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/services/HeldValue.h"
#include "builtins/services/MsgState.h"
#include "builtins/services/ServiceBuiltin.h"
#include "engine/TagCall.h"

namespace zz {

ZZ_SERVICE_L(TagSendMsg, 4);
ZZ_SERVICE_L(TagRecvMsg, 7);
ZZ_SERVICE_L(TagRecvMsgForType, 7);
ZZ_SERVICE_L(TagRecvMsgForField, 9);
ZZ_SERVICE_L(TagRecvMsgFor2Field, 12);
ZZ_SERVICE_L(TagClearMsg, 2);
ZZ_SERVICE_L(TagClearMsgFrom, 3);
ZZ_SERVICE_L(TagClearMsgForType, 3);
ZZ_SERVICE_L(TagClearMsgForField, 4);
ZZ_SERVICE_L(TagGetMsgNum, 3);
ZZ_SERVICE_L(TagGetMsgNumForType, 4);
ZZ_SERVICE_L(TagGetMsgNumForField, 5);
ZZ_SERVICE_L(TagSetMsgField, 2);
ZZ_SERVICE_L(TagGetMsgField, 2);
ZZ_SERVICE_L(TagGetMsgFieldVal, 1);
ZZ_SERVICE_L(TagCountMsg, 4);
ZZ_SERVICE_L(TagReadMsg, 6);
ZZ_SERVICE_L(TagReadMsgFor, 6);
ZZ_SERVICE_L(TagWriteMsg, 6);
ZZ_SERVICE_L(TagSetMsgOrderBy, 4);

// Calls the user function it stands in on the line that serves the slot.
class TagInterLineCall final : public TagBuiltin {
public:
    TagInterLineCall(TagVar* slot, TagVar* timeout, TagVar* copyBack, TagVar* result, TagTelBasic* prog)
        : TagBuiltin(BuiltinRoot(prog), {slot, timeout, copyBack, result}), unit_(prog) {}
    int32_t Run() override;

private:
    TagTelBasic* unit_; // the unit the statement stands in: its name and parameters travel
};

namespace {

constexpr int32_t kMaxParamsSent = TagMsgFields::kMaxFields - 1; // field 0 carries the copy-back flag

MsgState& Msgs(const TagBuiltin& b) {
    return b.Program()->LineState<MsgState>();
}

// Runs fn on the mailbox addressed by operands 0 (line) and 1 (box).
template <class Fn> int32_t OnBox(const TagBuiltin& b, Fn&& fn) {
    return WithMailbox(b.IntVal(0), b.IntVal(1), fn);
}

// Operands that receive a taken record: sender, key (-1: none), field 0, count and the got flag.
struct RecvOuts {
    int32_t sender, key, field0, count, got;
};

// got := 0; take with take(list, work); on success the outs and got := 1.
template <class Take> int32_t Receive(const TagBuiltin& b, RecvOuts o, Take&& take) {
    b.SetOutInt(o.got, 0);
    TagMsgFields& w = Msgs(b).work;
    int32_t r = OnBox(b, [&](TagMsgList& l) { return take(l, w) ? 1 : 0; });
    if (r != 1) return r;
    b.SetOutInt(o.sender, w.sender);
    if (o.key >= 0) b.Operand(o.key) = w.key;
    b.Operand(o.field0) = w.Field(0);
    b.SetOutInt(o.count, w.Count());
    b.SetOutInt(o.got, 1);
    return 1;
}

// A count that is also stored into the operand out.
template <class Fn> int32_t CountInto(const TagBuiltin& b, int32_t out, Fn&& fn) {
    int32_t r = OnBox(b, fn);
    if (r >= 0) b.SetOutInt(out, r);
    return r;
}

} // namespace

int32_t TagSendMsg::Run() {
    TagMsgFields& w = Msgs(*this).work;
    w.sender = Program()->lineNo;
    w.key = Operand(2);
    w.SetCount(IntVal(3));
    return OnBox(*this, [&](TagMsgList& l) { return l.Add(w); });
}

int32_t TagRecvMsg::Run() {
    return Receive(*this, {2, 3, 4, 5, 6}, [](TagMsgList& l, TagMsgFields& w) { return l.Get(w); });
}

int32_t TagRecvMsgForType::Run() {
    return Receive(*this, {3, -1, 4, 5, 6},
                   [&](TagMsgList& l, TagMsgFields& w) { return l.GetForType(Operand(2), w); });
}

int32_t TagRecvMsgForField::Run() {
    return Receive(*this, {4, 5, 6, 7, 8},
                   [&](TagMsgList& l, TagMsgFields& w) { return l.GetForField(IntVal(2), Operand(3), w); });
}

int32_t TagRecvMsgFor2Field::Run() {
    return Receive(*this, {7, 8, 9, 10, 11}, [&](TagMsgList& l, TagMsgFields& w) {
        return l.GetFor2Field(IntVal(2), Operand(3), IntVal(4), IntVal(5), Operand(6), w);
    });
}

int32_t TagReadMsg::Run() {
    TagMsgFields& w = Msgs(*this).work;
    int32_t r = OnBox(*this, [&](TagMsgList& l) { return l.Read(IntVal(2), Operand(3), w) ? 1 : 0; });
    if (r == 1) {
        SetOutInt(4, w.sender);
        Operand(5) = w.key;
    }
    return r;
}

int32_t TagReadMsgFor::Run() {
    std::string text;
    int32_t r = OnBox(*this, [&](TagMsgList& l) { return l.ReadFor(IntVal(2), Operand(3), IntVal(4), text); });
    if (r > 0) SetOutText(5, text);
    return r;
}

int32_t TagWriteMsg::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.Write(IntVal(2), Operand(3), IntVal(4), Operand(5)) ? 1 : 0; });
}

int32_t TagClearMsg::Run() {
    return OnBox(*this, [](TagMsgList& l) { return l.Clear(); });
}

int32_t TagClearMsgFrom::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.ClearFrom(IntVal(2)); });
}

int32_t TagClearMsgForType::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.ClearForType(Operand(2)); });
}

int32_t TagClearMsgForField::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.ClearForField(IntVal(2), Operand(3)); });
}

int32_t TagGetMsgNum::Run() {
    return CountInto(*this, 2, [](TagMsgList& l) { return l.GetNum(); });
}

int32_t TagGetMsgNumForType::Run() {
    return CountInto(*this, 3, [&](TagMsgList& l) { return l.GetNumForType(Operand(2)); });
}

int32_t TagGetMsgNumForField::Run() {
    return CountInto(*this, 4, [&](TagMsgList& l) { return l.GetNumForField(IntVal(2), Operand(3)); });
}

int32_t TagCountMsg::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.CountMsg(IntVal(2), Operand(3)); });
}

int32_t TagSetMsgOrderBy::Run() {
    return OnBox(*this, [&](TagMsgList& l) { return l.SetOrderBy(IntVal(2), IntVal(3)); });
}

int32_t TagSetMsgField::Run() {
    return Msgs(*this).work.SetField(IntVal(0), Operand(1)) ? 0 : -1;
}

int32_t TagGetMsgField::Run() {
    return Msgs(*this).work.GetField(IntVal(0), Operand(1)) ? 0 : -1;
}

int32_t TagGetMsgFieldVal::Run() {
    StoreResult(Msgs(*this).work.Field(IntVal(0)));
    return 0;
}

// ---- inter-line calls

int32_t TagInterLineCall::Run() {
    TagTelBasic* root = Program();
    if (!unit_ || !unit_->IsFunctionUnit()) return -1;
    const int32_t slot = IntVal(0);
    if (slot < 0 || slot >= MsgState::kBoxes) return -2;
    MsgState& msgs = root->LineState<MsgState>();
    TagMsgFields& w = msgs.work;
    const int32_t n = unit_->paramCount < kMaxParamsSent ? unit_->paramCount : kMaxParamsSent;
    const int32_t copyBack = IntVal(2);
    w.sender = root->lineNo;
    TagVar name;
    name.SetStr(unit_->unitName.c_str());
    w.key = name;
    w.SetField(0, Operand(2));
    for (int32_t i = 0; i < n; ++i)
        w.SetField(i + 1, unit_->ParamValue(i));
    w.SetCount(unit_->paramCount + 1);
    TagMsgList& replies = msgs.Box(MsgState::kReplyBox);
    replies.Clear(); // late replies of earlier calls
    const int32_t posted = ServerSlot(slot).Add(w);
    const int32_t timeout = IntVal(1);
    if (timeout == 0) return posted;

    // The reply arrives with a signal of the line's wake event; a quit, reload or stop ends the wait too. The
    // limit is unsigned, as the tick count is: a negative time-out waits without end.
    const int64_t limit = int64_t(uint32_t(int64_t(timeout) * 1000)) + 1;
    auto stopping = [&] { return root->stop || root->IsQuit() || root->IsReloadPending(); };
    bool replied = false;
    TagCallState* call = root->Call();
    if (call) call->WaitLine(limit, [&] { return (replied = replies.Get(w)) || stopping(); });
    if (!replied) {
        if (!call || stopping() || call->stopFlag.load()) return posted;
        ServerSlot(slot).ClearFrom(root->lineNo);
        return -4;
    }
    if (w.Field(0).GetInt() < 0) return -3;
    Operand(3) = w.key;
    if (copyBack != 0)
        for (int32_t i = 0; i < n; ++i)
            unit_->ParamValue(i) = w.Field(i + 1);
    return posted;
}

namespace {

// Runs the requested function with the request's fields as arguments: 0 (the work record then holds the reply),
// -3 no such function, -2 another parameter count.
int32_t Serve(TagTelBasic& root, TagMsgFields& w, int32_t copyBack) {
    const int32_t n = w.Count() - 1;
    TagTelBasic* unit = nullptr;
    if (root.FindFunc(w.key.type == TagVar::kString ? w.key.Str() : "", &unit) < 0 || !unit) return -3;
    if (unit->paramCount != n) return -2;
    TagNamedVar fn;
    fn.InitFunc(unit->unitName.c_str(), "", unit, 1);
    TagCall call(&fn, &root);
    std::vector<TagVar> args(size_t(n > 0 ? n : 0));
    for (int32_t i = 0; i < n; ++i) {
        args[size_t(i)] = w.Field(i + 1);
        call.AddPara(&args[size_t(i)]);
    }
    w.key = IntValue(call.Run());
    if (copyBack != 0)
        for (int32_t i = 0; i < n; ++i)
            w.SetField(i + 1, args[size_t(i)]);
    else
        w.SetCount(1);
    for (TagVar& a : args)
        ReleaseValue(a);
    return 0;
}

} // namespace

int32_t TagInterLineServer::Run() {
    const int32_t slot = IntVal(0);
    if (slot < 0 || slot >= MsgState::kBoxes) return -1;
    TagMsgFields& w = Msgs(*this).work;
    if (!ServerSlot(slot).Get(w)) return 0;
    const int32_t caller = w.sender;
    const int32_t status = Serve(*Program(), w, w.Field(0).GetInt());
    w.SetField(0, IntValue(status));
    if (status < 0) w.SetCount(1);
    if (caller < 0 || caller >= LinesCount()) return -2;
    LineProgram prog(caller);
    if (!prog) return -3;
    prog->LineState<MsgState>().Box(MsgState::kReplyBox).Add(w);
    if (TagCallState* c = prog->Call()) c->wake.Signal();
    return 1;
}

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
        ZZ_ROW_L(269, TagInterLineServer, 1),   // InterLineServer
    };
    return rows;
}

} // namespace zz
