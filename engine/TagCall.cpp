#include "engine/TagCall.h"
#include "engine/TagCallRun.h"

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

TagTelBasic* RootOf(TagTelBasic* prog) {
    return prog ? prog->GetRoot() : nullptr;
}

} // namespace

void TagCall::AssignInt(TagVar& v, int32_t n) {
    TagVar tmp;
    tmp.SetInt(n);
    v = tmp;
}

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

int32_t TagCall::Run() {
    int32_t code;
    CallSave save;
    TagTelBasic* unit = Enter(code, save);
    if (!unit) return code;
    TagTelBasic::RunFunction(unit, caller);
    return Leave(unit, save);
}

int32_t TagReturn::Run() {
    return Give();
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
