#pragma once
// The two halves of a user-function call around its body, inline for the run loop (RunLoop.cpp) and for
// TagCall::Run.
#include "engine/TagCall.h"
#include "engine/TagTelBasic.h"

namespace zz {

inline TagTelBasic* TagCall::Enter(int32_t& code, CallSave& save) {
    TagTelBasic* unit = funcVar ? funcVar->FuncUnit() : nullptr;
    if (!unit || unit->paramCount != paramCount) {
        code = Fail(unit, kMaxDepth);
        return nullptr;
    }
    TagTelBasic* root = (caller ? caller : unit)->GetRoot();
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

inline int32_t TagCall::Leave(TagTelBasic* unit, CallSave save) {
    TagTelBasic* main = unit->ParentOrSelf();
    unit->caller = save.outerCaller;
    main->runningUnit.store(caller ? caller : main, std::memory_order_relaxed);
    save.root->callDepth = save.depth;

    for (int32_t i = 0; i < paramCount; ++i) {
        TagVar* arg = params[static_cast<size_t>(i)];
        CopyBack(arg ? arg : &g_nullVar, unit->ParamValue(i));
    }
    return HandBack(unit->RetVal(), caller ? caller->RetVal() : nullptr);
}

inline void TagCall::CopyBack(TagVar* arg, TagVar& value) {
    if (!arg->readOnly) *arg = value;
    if (value.type == TagVar::kObject) AssignInt(value, 0);
}

inline int32_t TagCall::HandBack(TagVar* ret, TagVar* callerRet) {
    // The value is handed over before the unit lets go of an object it returned.
    int32_t r = ret ? ret->intVal : 0;
    if (callerRet && ret && callerRet != ret) {
        *callerRet = *ret;
        if (ret->type == TagVar::kObject) AssignInt(*ret, 0);
    }
    return r;
}

inline const TagVar& TagReturn::Hand() {
    TagVar* ret = unit_ ? unit_->RetVal() : nullptr;
    const TagVar& v = value_ ? *value_ : g_nullVar;
    if (ret && ret != &v) *ret = v;
    return v;
}

inline int32_t TagReturn::Give() {
    return Hand().GetInt();
}

} // namespace zz
