// The run loop of a line's main flow and of one user-function call: one operation after another, with the
// debugger's pause, the script timers and the jumps to the hang-up and system-quit handlers between them.
//
// Between two statements the loop reads one word, the line's attention (TagCallState::attention): whoever sets a
// quit, reload, stop, end of run, pause or step, or changes the call state, raises it, and only then does the loop
// look at the flags themselves. Unless the debugger holds the line (a pause, breakpoints), the flow passes over
// braces and labels without running them or reporting them to the console; it resets _retVal as they would have.
#include <random>

#include "engine/LineRandom.h"
#include "engine/TagBuiltinHost.h"
#include "engine/TagCall.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/SysTime.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

std::mt19937& ThreadEngine() {
    thread_local std::mt19937 engine{5489u};
    return engine;
}

// A quit or reload asked of the program, or of the program that called it by RunKvs.
bool QuitOrReloadPending(const TagTelBasic& p) {
    if (p.sysQuit || p.IsReloadPending()) return true;
    const TagTelBasic* c = p.callingProgram;
    return c && (c->sysQuit || c->IsReloadPending());
}

// Arrays and objects the unit's variables hold are let go when its flow ends; keep is spared (the function's
// _retVal, which its caller still has to take over).
void ReleaseObjects(TagTelBasic& p, const TagVar* keep) {
    p.ForEachWritable([keep](TagVar& v) {
        if (&v != keep && v.type == TagVar::kObject) v.SetIntReleasing(0);
    });
}

bool IsUserCall(const TagOper* op) {
    return op && dynamic_cast<const TagCall*>(op) != nullptr;
}

void LogNoCall() {
    WriteRunLog("pKvCall==NULL");
}

// The debugger holds the flow op by op: braces and labels run, and a breakpoint may sit on any of them.
bool Watched(const TagTelBasic& unit, const TagTelBasic& main) {
    return main.IsPaused() || unit.breakCount.load() > 0 || main.breakCount.load() > 0;
}

// Runs op's argument expressions and op, and stores the result by the operation's kind.
inline int32_t RunOne(TagOper& op, TagVar& retVal) {
    if (!op.args.empty()) op.EvalArgs();
    int32_t r = op.Run();
    StoreOperResult(op, r, retVal);
    return r;
}

// The op the flow goes on with: braces and labels it would run through are passed over (without a breakpoint,
// target or arguments they only reset _retVal).
inline TagOper* NextOp(TagOper* op, TagVar& retVal, bool exact) {
    TagOper* n = op->plainNext ? op->next : op->Next();
    if (exact || !n || !n->noOp) return n;
    bool passed = false;
    while (n && n->noOp && !n->IsBreak() && !n->target.var && n->args.empty()) {
        n = n->Next();
        passed = true;
    }
    if (passed) retVal.SetIntReleasing(0);
    return n;
}

// The first op of a flow, past the braces and labels it starts with.
inline TagOper* FirstOp(TagTelBasic& unit, TagVar& retVal, bool exact) {
    TagOper* op = unit.opCount > 0 ? unit.Op(0) : nullptr;
    if (exact || !op || !op->noOp || op->IsBreak() || op->target.var || !op->args.empty()) return op;
    retVal.SetIntReleasing(0);
    return NextOp(op, retVal, false);
}

// The line's script timers, when one is due.
inline void FireDueTimers(TagTelBasic& root) {
    if (!root.timersArmed.load(std::memory_order_relaxed)) return;
    if (static_cast<int32_t>(GetTickCount() - root.timerDue.load(std::memory_order_relaxed)) < 0) return;
    if (TagBuiltinHost* host = GetBuiltinHost()) host->FireTimers(root);
}

// Takes the attention word; true when it was raised.
inline bool TakeAttention(TagCallState& call) {
    if (call.attention.load(std::memory_order_relaxed) == 0) return false;
    return call.attention.exchange(0, std::memory_order_acq_rel) != 0;
}

} // namespace

void SeedLineRandom(uint32_t seed) {
    ThreadEngine().seed(seed);
}

int32_t LineRandom() {
    return static_cast<int32_t>(ThreadEngine()() >> 17); // 15 bits
}

int32_t TagTelBasic::Run() {
    if (initResult != 0) return -1;
    SeedLineRandom(GetTickCount() ^ (static_cast<uint32_t>(lineNo) << 16) ^ CurrentThreadId());
    EngineHooks& hooks = TheEngineHooks();
    if (hooks.setLineState) hooks.setLineState(lineNo, "运行");
    if (!IsCalledProgram()) WriteRunLogF("%d Run: tId:[0x%x], '%s'", lineNo, CurrentThreadId(), scriptFile.c_str());

    stop = 0;
    endOfRun = 0;
    TagOper* cur = opCount > 0 ? Op(0) : nullptr;
    if (!cur) {
        stop = 1;
        endOfRun = 1;
    }
    if (pKvCall) pKvCall->stopFlag = false;
    stopped = 0;
    sysQuit = 0;
    if (!IsCalledProgram() && pKvCall) pKvCall->callState = kCallNone;
    runningUnit = this;
    // The first statement is followed by a look at the flags, whatever they were before.
    if (pKvCall) pKvCall->Attend();

    TagTelBasic* root = GetRoot();
    TagVar& ret = *RetVal();
    bool exact = Watched(*this, *this);
    bool took = false;
    TagOper* prevOp = nullptr;
    int32_t result = 0;
    while (!endOfRun) {
        if (!cur) {
            // Ran off the end: a quit ends the script; once the quit handler has run, so does a pending reload
            // (otherwise the handler's script would start again and again).
            if (sysQuit || (handlerState == 7 && QuitOrReloadPending(*this))) break;
            cur = Op(0);
            if (!cur) break;
            continue;
        }
        if (!pKvCall) {
            LogNoCall();
            break;
        }
        curOpIndex.store(cur->index, std::memory_order_relaxed);
        cur->prev = prevOp;
        if (hooks.debugLineHook) hooks.debugLineHook(this, cur->index, cur->text.c_str(), cur->lineNo);
        if (exact) {
            if (cur->IsBreak()) SetPause(1);
            if (IsPaused()) WaitDebugStep();
        } else if (cur->IsBreak()) {
            SetPause(1);
            WaitDebugStep();
            exact = Watched(*this, *this);
        }

        result = RunOne(*cur, ret);
        if (!pKvCall) {
            LogNoCall();
            break;
        }
        prevOp = cur;
        if (cur->kind == 'r') break;
        FireDueTimers(*root);
        cur = NextOp(cur, ret, exact);
        TagCallState* call = pKvCall;
        if (!call) {
            LogNoCall();
            break;
        }
        if (!TakeAttention(*call)) continue;

        took = true;
        call->RunHanded();
        if (endOfRun) break;
        exact = Watched(*this, *this);
        bool quit = QuitOrReloadPending(*this);
        TagOper* quitOp = sysQuitIndex > 0 ? Op(sysQuitIndex) : nullptr;
        if (quitOp && quit && handlerState != 7) {
            if (IsReloadPending()) call->WriteLogF("IsReload..., quitindex=%d", sysQuitIndex);
            cur = quitOp;
            call->Attend(); // look again once the handler's statement has run
        } else if (!quitOp && quit) {
            // No usable OnSysQuit statement (none, or an index outside the list): the script ends here.
            WriteRunLog("sysQuitIndex<=0");
            break;
        } else if (disconnIndex > 0 && call->callState == kCallReleased && handlerState != 7) {
            if (TagOper* h = Op(disconnIndex)) cur = h;
            call->Attend();
        }
    }

    ReleaseObjects(*this, nullptr);
    if (IsCalledProgram() && pKvCall) {
        // Hand the hang-up back, so that the calling program's handler runs as well.
        int32_t handled = kCallClosed;
        pKvCall->callState.compare_exchange_strong(handled, kCallReleased);
        // The calling program's loop looks at the flags this run took.
        if (took) pKvCall->Attend();
    }
    curOpIndex = -1;
    runningUnit = nullptr;
    stopped = 1;
    if (!IsCalledProgram()) {
        if (hooks.dispCompileMsg) hooks.dispCompileMsg("系统已经停止运行", 0);
        if (hooks.setLineState) hooks.setLineState(lineNo, "已停止");
    }
    if (lineStates_ && !IsCalledProgram()) lineStates_->OnRunEnd();
    return result;
}

int32_t TagTelBasic::RunFunction(TagTelBasic* unit, TagTelBasic* callerUnit) {
    if (!unit) return -1;
    unit->caller = callerUnit;
    if (unit->initResult != 0) return -1;
    TagTelBasic* main = unit->ParentOrSelf();
    unit->stop = 0;
    TagOper* cur = unit->opCount > 0 ? unit->Op(0) : nullptr;
    if (!cur) unit->stop = 1;
    if (unit->lineNo != main->lineNo) unit->lineNo = main->lineNo;
    unit->stopped = 0;
    unit->curOpIndex.store(0, std::memory_order_relaxed);
    unit->sysQuit = 0;
    EngineHooks& hooks = TheEngineHooks();
    TagTelBasic* root = unit->GetRoot();
    TagVar& ret = *unit->RetVal();
    bool exact = Watched(*unit, *main);
    bool took = false;
    cur = FirstOp(*unit, ret, exact);
    // A quit or hang-up that is pending already ends the body after its first statement.
    if (TagCallState* call = unit->Call())
        if ((QuitOrReloadPending(*main) && main->handlerState != 7) ||
            (main->disconnIndex > 0 && call->callState == kCallReleased))
            call->Attend();

    TagOper* prevOp = nullptr;
    if (!main->pKvCall) cur = nullptr;
    while (!unit->stop && cur) {
        cur->prev = prevOp;
        unit->curOpIndex.store(cur->index, std::memory_order_relaxed);
        if (hooks.debugFuncHook)
            hooks.debugFuncHook(unit, cur->index, cur->text.c_str(), cur->lineNo, unit->unitName.c_str(),
                                IsUserCall(cur), IsUserCall(prevOp));
        if (exact) {
            if (cur->IsBreak()) main->SetPause(1);
            if (main->IsPaused()) main->WaitDebugStep();
        } else if (cur->IsBreak()) {
            main->SetPause(1);
            main->WaitDebugStep();
            exact = Watched(*unit, *main);
        }

        RunOne(*cur, ret);
        prevOp = cur;
        if (cur->kind == 'r') break;
        FireDueTimers(*root);
        cur = NextOp(cur, ret, exact);
        TagCallState* call = main->pKvCall;
        if (!call) break;
        if (!TakeAttention(*call)) continue;

        took = true;
        call->RunHanded();
        exact = Watched(*unit, *main);
        // The main flow decides what happens on a quit or a hang-up: the body returns to it first.
        if (QuitOrReloadPending(*main) && main->handlerState != 7) break;
        if (main->disconnIndex > 0 && call->callState == kCallReleased) break;
    }

    ReleaseObjects(*unit, unit->RetVal());
    unit->curOpIndex.store(-1, std::memory_order_relaxed);
    // The caller's loop looks at the flags this body took.
    if (took)
        if (TagCallState* call = unit->Call()) call->Attend();
    return 0;
}

} // namespace zz
