// The run loop of a line's main flow and of one user-function call: one operation after another, with the
// debugger's pause, the script timers and the jumps to the hang-up and system-quit handlers between them.
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
    TagVar zero;
    zero.SetInt(0);
    for (int32_t i = 0; i < p.VarCount(); ++i) {
        TagVar* v = p.Var(i);
        if (v && v != keep && v->type == TagVar::kObject) *v = zero;
    }
}

bool IsUserCall(const TagOper* op) {
    return op && dynamic_cast<const TagCall*>(op) != nullptr;
}

void LogNoCall() {
    WriteRunLog("pKvCall==NULL");
}

// Runs op's argument expressions and op, and stores the result by the operation's kind.
int32_t RunOne(TagOper& op, TagVar& retVal) {
    op.EvalArgs();
    int32_t r = op.Run();
    StoreOperResult(op, r, retVal);
    return r;
}

void FireTimers(TagTelBasic& p) {
    TagTelBasic* root = p.GetRoot();
    if (!root->timersArmed.load(std::memory_order_relaxed)) return;
    if (TagBuiltinHost* host = GetBuiltinHost()) host->FireTimers(*root);
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
        curOpIndex = cur->index;
        if (hooks.debugLineHook) hooks.debugLineHook(this, cur->index, cur->text.c_str(), cur->lineNo);
        cur->prev = prevOp;
        if (cur->IsBreak()) SetPause(1);
        if (IsPaused()) WaitDebugStep();

        result = RunOne(*cur, *RetVal());
        if (!pKvCall) {
            LogNoCall();
            break;
        }
        prevOp = cur;
        if (cur->kind == 'r') break;
        FireTimers(*this);
        cur = cur->Next();
        if (!pKvCall) {
            LogNoCall();
            break;
        }

        bool quit = QuitOrReloadPending(*this);
        TagOper* quitOp = sysQuitIndex > 0 ? Op(sysQuitIndex) : nullptr;
        if (quitOp && quit && handlerState != 7) {
            if (IsReloadPending()) pKvCall->WriteLogF("IsReload..., quitindex=%d", sysQuitIndex);
            cur = quitOp;
        } else if (!quitOp && quit) {
            // No usable OnSysQuit statement (none, or an index outside the list): the script ends here.
            WriteRunLog("sysQuitIndex<=0");
            break;
        } else if (disconnIndex > 0 && pKvCall->callState == kCallReleased && handlerState != 7) {
            if (TagOper* h = Op(disconnIndex)) cur = h;
        }
    }

    ReleaseObjects(*this, nullptr);
    if (IsCalledProgram() && pKvCall) {
        // Hand the hang-up back, so that the calling program's handler runs as well.
        int32_t handled = kCallClosed;
        pKvCall->callState.compare_exchange_strong(handled, kCallReleased);
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
    unit->curOpIndex = 0;
    unit->sysQuit = 0;
    EngineHooks& hooks = TheEngineHooks();

    TagOper* prevOp = nullptr;
    while (!unit->stop && unit->Call() && cur) {
        cur->prev = prevOp;
        unit->curOpIndex = cur->index;
        if (hooks.debugFuncHook)
            hooks.debugFuncHook(unit, cur->index, cur->text.c_str(), cur->lineNo, unit->unitName.c_str(),
                                IsUserCall(cur), IsUserCall(prevOp));
        if (cur->IsBreak()) main->SetPause(1);
        if (main->IsPaused()) main->WaitDebugStep();

        RunOne(*cur, *unit->RetVal());
        prevOp = cur;
        if (cur->kind == 'r') break;
        FireTimers(*unit);
        cur = cur->Next();
        TagCallState* call = unit->Call();
        if (!call) break;
        // The main flow decides what happens on a quit or a hang-up: the body returns to it first.
        if (QuitOrReloadPending(*main) && main->handlerState != 7) break;
        if (main->disconnIndex > 0 && call->callState == kCallReleased) break;
    }

    ReleaseObjects(*unit, unit->RetVal());
    unit->curOpIndex = -1;
    return 0;
}

} // namespace zz
