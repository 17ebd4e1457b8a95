#include "builtins/Statements.h"

#include <cstdarg>
#include <cstdio>

#include "builtins/ProgramAccess.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagWriteLog.h"

namespace zz {

namespace {

// Call failures are logged whatever the log level.
__attribute__((format(printf, 1, 2))) void LogAlways(const char* fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteRunLogAlways(buf);
}

// Whole-value assignment, so that an object the variable held loses its reference.
void AssignInt(TagVar& v, int32_t n) {
    TagVar tmp;
    tmp.SetInt(n);
    v = tmp;
}

// Only a main program's indexes mean something to the main flow's handler jumps.
ProgramLineState* MainFlowState(TagTelBasic* prog) {
    return prog && !prog->parent ? &LineStateOf(prog) : nullptr;
}

} // namespace

TagCall::TagCall(TagVar* function, TagTelBasic* callerUnit) : funcVar(function), caller(callerUnit) {
    kind = 'R';
}

int32_t TagCall::AddPara(TagVar* arg) {
    if (paramCount >= kMaxParams) return -1;
    params[static_cast<size_t>(paramCount++)] = arg;
    return 0;
}

int32_t TagCall::Run() {
    TagVar* callerRet = caller ? caller->RetVal() : nullptr;
    auto fail = [&](int32_t code) {
        if (callerRet) AssignInt(*callerRet, code);
        return code;
    };
    TagTelBasic* unit = funcVar && funcVar->type == TagVar::kFunction ? funcVar->funcUnit : nullptr;
    if (!unit) {
        LogAlways("Var : '%s' is not function-type : [LINE=%d:%s]", funcVar ? funcVar->name.c_str() : "", lineNo,
                  text.c_str());
        return fail(-1);
    }
    const char* file = caller ? caller->scriptFile.c_str() : "";
    if (unit->paramCount != paramCount) {
        LogAlways("function calling err: '%s()' must '%d' paras, real paras only: %d. [FILE=%s:LINE=%d:%s]",
                  unit->unitName.c_str(), unit->paramCount, paramCount, file, lineNo, text.c_str());
        return fail(-2);
    }
    TagTelBasic* root = ProgramRoot(caller ? caller : unit);
    std::vector<std::string>& stack = LineStateOf(root).callStack;
    if (stack.size() >= kMaxDepth) {
        LogAlways("function calling err: '%s()' nested deeper than %d calls. [FILE=%s:LINE=%d:%s]",
                  unit->unitName.c_str(), static_cast<int>(kMaxDepth), file, lineNo, text.c_str());
        return fail(-1);
    }
    for (int32_t i = 0; i < paramCount; ++i)
        unit->paramValues[i] = params[static_cast<size_t>(i)] ? *params[static_cast<size_t>(i)] : g_nullVar;
    stack.push_back(unit->unitName);
    ProgramRunFunction(unit, caller);
    for (int32_t i = 0; i < paramCount; ++i) {
        TagVar* arg = params[static_cast<size_t>(i)];
        if (arg && !arg->readOnly) *arg = unit->paramValues[i];
        if (unit->paramValues[i].type == TagVar::kObject) AssignInt(unit->paramValues[i], 0);
    }
    // The stack may have been touched by the body; drop exactly this call's entry.
    std::vector<std::string>& after = LineStateOf(root).callStack;
    if (!after.empty()) after.pop_back();
    TagVar* ret = unit->RetVal();
    if (callerRet && ret) *callerRet = *ret;
    return ret ? ret->intVal : 0;
}

int32_t TagReturn::Run() {
    TagVar* ret = unit_ ? unit_->RetVal() : nullptr;
    const TagVar& v = value_ ? *value_ : g_nullVar;
    if (ret) *ret = v;
    return v.GetInt();
}

int32_t TagClose::SetDisconnFlag(int32_t opIndex) {
    ProgramLineState* s = MainFlowState(unit_);
    if (!s) return -1;
    s->disconnIndex = opIndex;
    return 0;
}

int32_t TagClose::Run() {
    if (TagKvCall* call = ProgramCall(unit_)) {
        int32_t released = kCallReleased;
        call->callState.compare_exchange_strong(released, kCallClosed);
    }
    int32_t r = 0;
    if (TagTelBasic* root = ProgramRoot(unit_)) {
        ProgramLineState& s = LineStateOf(root);
        r = s.dialFailWord;
        s.dialFailWord = 0;
    }
    SleepMs(50);
    return r;
}

TagOnSysQuit::TagOnSysQuit(int32_t opIndex, TagTelBasic* prog) : unit_(prog) {
    if (ProgramLineState* s = MainFlowState(prog)) s->sysQuitIndex = opIndex;
}

int32_t TagOnSysQuit::Run() {
    if (TagTelBasic* main = ProgramParentOrSelf(unit_)) LineStateOf(main).handlerState = 7;
    return 0;
}

TagDllCall::TagDllCall(const char* name, TagTelBasic* prog)
    : TagBuiltin(ProgramRoot(prog), {}), funcName(name ? name : "") {}

TagIsSysQuit::TagIsSysQuit(TagVar* v, TagTelBasic* prog) : TagBuiltin(ProgramRoot(prog), {v}) {}
TagAssert::TagAssert(TagVar* cond, TagTelBasic* prog) : TagBuiltin(ProgramRoot(prog), {cond}) {}
TagStartTimer::TagStartTimer(TagVar* name, TagVar* interval, TagTelBasic* prog)
    : TagBuiltin(ProgramRoot(prog), {name, interval}) {}
TagStopTimer::TagStopTimer(TagVar* name, TagTelBasic* prog) : TagBuiltin(ProgramRoot(prog), {name}) {}

} // namespace zz
