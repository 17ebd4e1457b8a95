// SIP information, callback and proxy builtins: each hands its operands to one operation of the line's call
// object and stores back what it returns. On lines other than SIP lines the call object's base results apply.
#include "builtins/Families.h"
#include "engine/TagLineState.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"

#include <mutex>

namespace zz {

namespace {

// Texts of the SIP builtins as the buffers they are read into would keep them.
constexpr size_t kAddrRoom = 200;
constexpr size_t kPeerMsgRoom = 4096;
constexpr size_t kProxyTextRoom = 300;
constexpr size_t kFieldRoom = 2048;

// ---- callbacks: the script function a line installs, run when the SIP library asks

enum CallbackKind { kAccPwd, kAccPwdIp, kRegNotify, kCallbackKinds };

struct CallbackRecord {
    TagVar* function = nullptr;
    TagTelBasic* program = nullptr; // the unit holding the installing statement
};

// One record per kind, written by whichever line installs last. The function runs on the installing line's own
// thread (its variables are the line's), under the lock, which the line's own installs take again.
std::recursive_mutex g_callbackLock;
CallbackRecord g_callbacks[kCallbackKinds];

// How long the library's callback thread waits for the line to take a callback (a line that runs a statement
// which blocks without waiting on the line, a database query, holds it up that long at most).
constexpr int64_t kCallbackWaitMs = 10000;

// Runs the installed function with the inputs in its first parameters; outs gets its parameters after them.
// -100 nothing installed (or the line did not take it), -101 not a function, -102 too few parameters.
int RunCallback(CallbackKind kind, std::initializer_list<const char*> texts, std::initializer_list<int32_t> numbers,
                size_t needed, std::vector<std::string>* outs) {
    CallbackRecord rec;
    TagCallState* line = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(g_callbackLock);
        rec = g_callbacks[kind];
        line = rec.program ? rec.program->Call() : nullptr;
    }
    if (!rec.function || !line) return -100;
    struct Outcome {
        std::vector<std::string> texts, outs;
        std::vector<int32_t> numbers;
        int result = -100;
        bool called = false; // the function ran
    };
    auto o = std::make_shared<Outcome>();
    for (const char* t : texts)
        o->texts.emplace_back(t ? t : "");
    o->numbers = numbers;
    bool ran = line->RunOnLine(
        [o, rec, kind, needed] {
            std::lock_guard<std::recursive_mutex> g(g_callbackLock);
            // The line's program may have gone, or installed another, since the callback was asked for.
            if (g_callbacks[kind].function != rec.function || g_callbacks[kind].program != rec.program) return;
            // The function the value holds, also when a variable or parameter of another name holds it.
            TagTelBasic* unit = rec.function->FuncUnit();
            if (!unit) return void(o->result = -101);
            if (size_t(unit->paramCount) < needed) return void(o->result = -102);
            int32_t i = 0;
            for (const std::string& t : o->texts)
                unit->ParamValue(i++).SetStr(t.c_str());
            for (int32_t n : o->numbers)
                unit->ParamValue(i++).SetInt(n);
            TagTelBasic::RunFunction(unit, rec.program);
            for (size_t k = 1; k < needed; ++k)
                o->outs.push_back(unit->ParamValue(int32_t(k)).Str());
            o->result = unit->RetVal()->GetInt();
            o->called = true;
        },
        kCallbackWaitMs);
    if (!ran) return -100;
    if (!outs) return o->called ? 0 : o->result;
    *outs = o->outs;
    return o->result;
}

int AccPwdBridge(const char* account, std::string& out1, std::string& out2) {
    std::vector<std::string> outs;
    int r = RunCallback(kAccPwd, {account}, {}, 3, &outs);
    if (outs.size() == 2) {
        out1 = outs[0];
        out2 = outs[1];
    }
    return r;
}

int AccPwdIpBridge(const char* account, std::string& out1, std::string& out2, std::string& out3) {
    std::vector<std::string> outs;
    int r = RunCallback(kAccPwdIp, {account}, {}, 4, &outs);
    if (outs.size() == 3) {
        out1 = outs[0];
        out2 = outs[1];
        out3 = outs[2];
    }
    return r;
}

int RegisterNotifyBridge(const char* text1, const char* text2, int32_t n3, int32_t n4) {
    int r = RunCallback(kRegNotify, {text1, text2}, {n3, n4}, 4, nullptr);
    return r < 0 ? r : 0;
}

// Forgets what a line's program installed, as the program goes (the callback would run in freed units).
void ForgetSipCallbacks(TagTelBasic* root) {
    std::lock_guard<std::recursive_mutex> g(g_callbackLock);
    for (CallbackRecord& r : g_callbacks)
        if (r.program && r.program->GetRoot() == root) r = {};
}

// The SIP callbacks a line installed; its end takes them back.
class TagSipCallbacks : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kSip;
    explicit TagSipCallbacks(TagTelBasic& root) : root_(root) {}
    ~TagSipCallbacks() override { ForgetSipCallbacks(&root_); }

private:
    TagTelBasic& root_;
};

// A callback builtin keeps the unit its statement stands in, not the line's root.
class TagSipCallbackBuiltin : public TagBuiltin {
public:
    TagSipCallbackBuiltin(TagVar* function, TagTelBasic* prog, CallbackKind kind)
        : TagBuiltin(BuiltinRoot(prog), {function}), unit_(prog), kind_(kind) {}
    int32_t Run() override {
        TagKvCall* call = Call();
        if (!call) return kBuiltinBadArg;
        Program()->LineState<TagSipCallbacks>();
        {
            std::lock_guard<std::recursive_mutex> g(g_callbackLock);
            g_callbacks[kind_] = {&Operand(0), unit_};
        }
        switch (kind_) {
        case kAccPwd: return call->SipOnGetAccPwd(AccPwdBridge);
        case kAccPwdIp: return call->SipOnGetAccPwdIp(AccPwdIpBridge);
        default: return call->SipOnRegisterNotify(RegisterNotifyBridge);
        }
    }

private:
    TagTelBasic* unit_;
    CallbackKind kind_;
};

} // namespace

class TagSipOnGetAccPwd final : public TagSipCallbackBuiltin {
public:
    TagSipOnGetAccPwd(TagVar* f, TagTelBasic* prog) : TagSipCallbackBuiltin(f, prog, kAccPwd) {}
};
class TagSipOnGetAccPwdIp final : public TagSipCallbackBuiltin {
public:
    TagSipOnGetAccPwdIp(TagVar* f, TagTelBasic* prog) : TagSipCallbackBuiltin(f, prog, kAccPwdIp) {}
};
class TagSipOnRegisterNotify final : public TagSipCallbackBuiltin {
public:
    TagSipOnRegisterNotify(TagVar* f, TagTelBasic* prog) : TagSipCallbackBuiltin(f, prog, kRegNotify) {}
};

// ---- information

ZZ_BUILTIN_L_RUN(TagSipGetDestAddr, 2);
int32_t TagSipGetDestAddr::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string out;
    int r = c->SipGetDestAddr(Text(0), out);
    SetOutText(1, out, kAddrRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagSipGetAccAddr, 4);
int32_t TagSipGetAccAddr::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string out;
    int32_t number = 999999;
    int r = c->SipGetAccAddr(Text(0), Text(1), out, number);
    SetOutText(2, out, kAddrRoom);
    SetOutInt(3, number);
    return r;
}

ZZ_BUILTIN_L_RUN(TagSipGetPeerMsg, 2);
int32_t TagSipGetPeerMsg::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string first, second;
    int r = c->SipGetPeerMsg(first, second, int32_t(kPeerMsgRoom));
    SetOutText(0, first, kAddrRoom);
    SetOutText(1, second, kPeerMsgRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagSipSetDialRoute, 2);
int32_t TagSipSetDialRoute::Run() {
    TagKvCall* c = Call();
    return c ? c->SipSetDialRoute(Text(0), Text(1)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipGetRtpCount, 2);
int32_t TagSipGetRtpCount::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    int32_t received = 0, sent = 0;
    int r = c->SipGetRtpCount(received, sent);
    SetOutInt(0, received);
    SetOutInt(1, sent);
    return r;
}

// ---- proxy mode

ZZ_BUILTIN_L_RUN(TagSipProxyRecv, 4);
int32_t TagSipProxyRecv::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string t1, t2, t3;
    int32_t n = 0;
    int r = c->SipProxyRecv(t1, t2, n, t3);
    SetOutText(0, t1, kProxyTextRoom);
    SetOutText(1, t2, kProxyTextRoom);
    SetOutInt(2, n);
    SetOutText(3, t3, kProxyTextRoom);
    return r;
}

ZZ_BUILTIN_L_RUN(TagSipProxyGetField, 3);
int32_t TagSipProxyGetField::Run() {
    TagKvCall* c = Call();
    if (!c) return kBuiltinBadArg;
    std::string out;
    const char* third = Operand(2).type == TagVar::kEmpty ? nullptr : Text(2);
    int r = c->SipProxyGetField(StoredInt(0), Text(1), third, out);
    TagVar value;
    value.SetStrN(out.data(), int32_t(GbkSafeCut(out, kFieldRoom - 1)));
    StoreResult(value); // a value builtin: the field, not the result, is the statement's value
    return r;
}

ZZ_BUILTIN_L_RUN(TagSipProxyAddField, 4);
int32_t TagSipProxyAddField::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxyAddField(StoredInt(0), Text(1), Operand(2).ToString().c_str(), IntVal(3)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipProxyRemoveField, 2);
int32_t TagSipProxyRemoveField::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxyRemoveField(StoredInt(0), Text(1)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipProxySend, 2);
int32_t TagSipProxySend::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxySend(StoredInt(0), Text(1)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipProxySendEx, 3);
int32_t TagSipProxySendEx::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxySendEx(StoredInt(0), Text(1), IntVal(2)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipProxyDirAns, 3);
int32_t TagSipProxyDirAns::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxyDirAns(StoredInt(0), IntVal(1), Text(2)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipProxySendKeepAlives, 2);
int32_t TagSipProxySendKeepAlives::Run() {
    TagKvCall* c = Call();
    return c ? c->SipProxySendKeepAlives(Text(0), Text(1)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipUnregisterSpecUser, 1);
int32_t TagSipUnregisterSpecUser::Run() {
    TagKvCall* c = Call();
    return c ? c->SipUnregisterSpecUser(Text(0)) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipSetRtpAddr, 3);
int32_t TagSipSetRtpAddr::Run() {
    TagKvCall* c = Call();
    return c ? c->SipSetRtpAddr(Text(0), IntVal(1), Operand(2).ToString().c_str()) : kBuiltinBadArg;
}

ZZ_BUILTIN_L_RUN(TagSipGetAccStat, 1);
int32_t TagSipGetAccStat::Run() {
    TagKvCall* c = Call();
    return c ? c->SipGetAccStat(Text(0)) : kBuiltinBadArg;
}

std::span<const BuiltinEntry> SipBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(107, TagSipGetDestAddr, 2),         // SipGetDestAddr
        ZZ_ROW_L(108, TagSipGetAccAddr, 4),          // SipGetAccAddr
        ZZ_ROW_L(109, TagSipGetPeerMsg, 2),          // SipGetPeerMsg
        ZZ_ROW_L(110, TagSipSetDialRoute, 2),        // SipSetDialRoute
        ZZ_ROW_L(111, TagSipSetRtpAddr, 3),          // SipSetRtpAddr
        ZZ_ROW_L(112, TagSipGetRtpCount, 2),         // SipGetRtpCount
        ZZ_ROW_L(113, TagSipOnGetAccPwd, 1),         // SetOnSipGetAccPwd
        ZZ_ROW_L(114, TagSipOnGetAccPwdIp, 1),       // SetOnSipGetAccPwdIp
        ZZ_ROW_L(115, TagSipOnRegisterNotify, 1),    // SetOnSipRegisterNotify
        ZZ_ROW_L(136, TagSipProxyRecv, 4),           // SipProxyRecv
        ZZ_ROW_L(137, TagSipProxyGetField, 3),       // SipProxyGetField
        ZZ_ROW_L(138, TagSipProxyAddField, 4),       // SipProxyAddField
        ZZ_ROW_L(139, TagSipProxyRemoveField, 2),    // SipProxyRemoveField
        ZZ_ROW_L(140, TagSipProxySend, 2),           // SipProxySend
        ZZ_ROW_L(141, TagSipProxySendEx, 3),         // SipProxySendEx
        ZZ_ROW_L(142, TagSipProxyDirAns, 3),         // SipProxyDirAns
        ZZ_ROW_L(143, TagSipProxySendKeepAlives, 2), // SipProxySendKeepAlives
        ZZ_ROW_L(144, TagSipUnregisterSpecUser, 1),  // SipUnregisterSpecUser
        ZZ_ROW_L(279, TagSipGetAccStat, 1),          // SipGetAccStat
    };
    return rows;
}

} // namespace zz
