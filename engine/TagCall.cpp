#include "engine/TagCall.h"

#include <cstdarg>
#include <cstdio>

#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/TagWriteLog.h"

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

TagTelBasic* RootOf(TagTelBasic* prog) {
    return prog ? prog->GetRoot() : nullptr;
}

} // namespace

TagCall::TagCall(TagVar* function, TagTelBasic* callerUnit) : funcVar(function), caller(callerUnit) {
    kind = 'R';
    userCall = 1;
}

int32_t TagCall::AddPara(TagVar* arg) {
    if (paramCount >= kMaxParams) return -1;
    params[static_cast<size_t>(paramCount++)] = arg;
    return 0;
}

int32_t TagCall::Fail(TagTelBasic* unit, size_t depth) {
    const char* file = caller ? caller->scriptFile.c_str() : "";
    int32_t code = -1;
    if (!unit) {
        LogAlways("Var : '%s' is not function-type : [LINE=%d:%s]", funcVar ? funcVar->Name().data() : "", lineNo,
                  text.c_str());
    } else if (unit->paramCount != paramCount) {
        LogAlways("function calling err: '%s()' must '%d' paras, real paras only: %d. [FILE=%s:LINE=%d:%s]",
                  unit->unitName.c_str(), unit->paramCount, paramCount, file, lineNo, text.c_str());
        code = -2;
    } else {
        LogAlways("function calling err: '%s()' nested deeper than %d calls. [FILE=%s:LINE=%d:%s]",
                  unit->unitName.c_str(), static_cast<int>(depth), file, lineNo, text.c_str());
    }
    if (TagVar* callerRet = caller ? caller->RetVal() : nullptr) AssignInt(*callerRet, code);
    return code;
}

TagTelBasic* TagCall::Enter(int32_t& code, CallSave& save) {
    TagTelBasic* unit = funcVar ? funcVar->FuncUnit() : nullptr;
    if (!unit || unit->paramCount != paramCount) {
        code = Fail(unit, kMaxDepth);
        return nullptr;
    }
    TagTelBasic* root = RootOf(caller ? caller : unit);
    const uint32_t depth = root->callDepth;
    if (depth >= kMaxDepth) {
        code = Fail(unit, kMaxDepth);
        return nullptr;
    }
    for (int32_t i = 0; i < paramCount; ++i) {
        TagVar* arg = params[static_cast<size_t>(i)];
        unit->ParamValue(i) = arg ? *arg : g_nullVar;
    }
    save.root = root;
    save.depth = depth;
    save.outerCaller = unit->caller; // a recursive call overwrites it; the debugger walks the chain
    root->callDepth = depth + 1;
    unit->ParentOrSelf()->runningUnit.store(unit, std::memory_order_relaxed);
    return unit;
}

int32_t TagCall::Leave(TagTelBasic* unit, const CallSave& save) {
    TagTelBasic* main = unit->ParentOrSelf();
    unit->caller = save.outerCaller;
    main->runningUnit.store(caller ? caller : main, std::memory_order_relaxed);
    save.root->callDepth = save.depth;

    for (int32_t i = 0; i < paramCount; ++i) {
        TagVar* arg = params[static_cast<size_t>(i)];
        TagVar& value = unit->ParamValue(i);
        if (arg && !arg->readOnly) *arg = value;
        if (value.type == TagVar::kObject) AssignInt(value, 0);
    }
    // The value is handed over before the unit lets go of an object it returned.
    TagVar* ret = unit->RetVal();
    TagVar* callerRet = caller ? caller->RetVal() : nullptr;
    int32_t r = ret ? ret->intVal : 0;
    if (callerRet && ret && callerRet != ret) {
        *callerRet = *ret;
        if (ret->type == TagVar::kObject) AssignInt(*ret, 0);
    }
    return r;
}

int32_t TagCall::Run() {
    int32_t code;
    CallSave save;
    TagTelBasic* unit = Enter(code, save);
    if (!unit) return code;
    TagTelBasic::RunFunction(unit, caller);
    return Leave(unit, save);
}

int32_t TagReturn::Run() {
    TagVar* ret = unit_ ? unit_->RetVal() : nullptr;
    const TagVar& v = value_ ? *value_ : g_nullVar;
    if (ret && ret != &v) *ret = v;
    return v.GetInt();
}

int32_t TagClose::SetDisconnFlag(int32_t opIndex) {
    if (!unit_ || unit_->parent) return -1;
    unit_->disconnIndex = opIndex;
    return 0;
}

int32_t TagClose::Run() {
    if (TagCallState* call = unit_ ? unit_->Call() : nullptr) {
        int32_t released = kCallReleased;
        call->callState.compare_exchange_strong(released, kCallClosed);
    }
    int32_t r = 0;
    if (TagTelBasic* root = RootOf(unit_)) {
        r = root->dialFailWord;
        root->dialFailWord = 0;
    }
    SleepMs(50);
    return r;
}

TagOnSysQuit::TagOnSysQuit(int32_t opIndex, TagTelBasic* prog) : unit_(prog) {
    if (prog && !prog->parent) prog->sysQuitIndex = opIndex;
}

int32_t TagOnSysQuit::Run() {
    if (unit_) unit_->ParentOrSelf()->handlerState = 7;
    return 0;
}

} // namespace zz
