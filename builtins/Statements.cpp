#include "builtins/Statements.h"

#include <atomic>
#include <cmath>
#include <cstdio>

#include "builtins/Families.h"
#include "builtins/TagSysTimers.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

TagTelBasic* RootOf(TagTelBasic* prog) {
    return prog ? prog->GetRoot() : nullptr;
}

std::atomic<ExitRoutine> g_exitRoutine{nullptr};

} // namespace

TagDllCall::TagDllCall(const char* name, TagTelBasic* prog)
    : TagBuiltin(RootOf(prog), {}), funcName(name ? name : "") {}

TagIsSysQuit::TagIsSysQuit(TagVar* v, TagTelBasic* prog) : TagBuiltin(RootOf(prog), {v}) {}

int32_t TagIsSysQuit::Run() {
    int32_t q = Program() && Program()->IsQuit() ? 1 : 0;
    SetOutInt(0, q);
    return q;
}

void SetExitRoutine(ExitRoutine routine) {
    g_exitRoutine.store(routine);
}

int32_t TagExit::Run() {
    int32_t code = IntVal(0);
    // Only a controlling process (an auto-run tool) owns the event; without one nothing waits or is signalled.
    if (code != 0 && NamedEvent::Exists("AutoRun Quit")) {
        SleepMs(200);
        NamedEvent::Signal("AutoRun Quit");
    }
    WriteRunLogAlways("Exit()!");
    if (ExitRoutine r = g_exitRoutine.load()) r();
    return code;
}

TagAssert::TagAssert(TagVar* cond, TagTelBasic* prog) : TagBuiltin(RootOf(prog), {cond}) {}

int32_t TagAssert::Run() {
    int32_t cond = IntVal(0);
    TagTelBasic* root = Program();
    if (cond != 0 || !root) return cond;
    // With a debugger page open on the line the script stops there; otherwise the run log keeps the failure.
    void* const* views = root->Main().debugViews;
    bool debugged = views[0] || views[1] || views[2];
    if (debugged) {
        // The statement's text is cut to the message's 1,200 bytes on a character boundary.
        std::string stmt = this->text.substr(0, GbkSafeCut(this->text, 1150));
        std::string text = "Assert Failed: line=" + std::to_string(lineNo) + ", '" + stmt + "'";
        ShowMessage(text, "Stop for Assert");
        root->SetPause(1);
        root->WaitDebugStep();
    } else if (TagCallState* call = root->Call()) {
        call->WriteLogAlwaysF("Assert Failed: line=%d", lineNo);
    }
    return 0;
}

TagStartTimer::TagStartTimer(TagVar* func, TagVar* interval, TagTelBasic* prog)
    : TagBuiltin(RootOf(prog), {func, interval}) {
    // Registered while compiling, whether or not the statement ever runs.
    if (prog) prog->LineState<TagSysTimers>().Add(func, prog);
}

int32_t TagStartTimer::Run() {
    TagVar& func = Operand(0);
    if (func.type != TagVar::kFunction || !Program()) return -1;
    double ms = std::trunc(Number(1) * 1000.0);
    // Out-of-range or not-a-number intervals are held to what the 32-bit field can keep.
    int32_t interval = !(ms > -2147483648.0) ? (std::isnan(ms) ? 0 : INT32_MIN)
                       : ms > 2147483647.0   ? INT32_MAX
                                             : static_cast<int32_t>(ms);
    return Program()->LineState<TagSysTimers>().Start(&func, interval);
}

TagStopTimer::TagStopTimer(TagVar* func, TagTelBasic* prog) : TagBuiltin(RootOf(prog), {func}) {}

int32_t TagStopTimer::Run() {
    if (!Program()) return -1;
    return Program()->LineState<TagSysTimers>().Stop(&Operand(0));
}

std::span<const BuiltinEntry> StatementBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(17, TagIsSysQuit, 1),  // IsSysQuit
        ZZ_ROW_P(18, TagExit, 1),       // Exit
        ZZ_ROW_L(21, TagAssert, 1),     // Assert
        ZZ_ROW_L(22, TagStartTimer, 2), // StartTimer
        ZZ_ROW_L(23, TagStopTimer, 1),  // StopTimer
    };
    return rows;
}

} // namespace zz
