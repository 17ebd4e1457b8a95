#include "builtins/ProgramAccess.h"

#include <memory>

#include "builtins/TStdOut.h"
#include "engine/TagTelBasic.h"

namespace zz {

TagTelBasic* ProgramParentOrSelf(TagTelBasic* p) {
    return p ? p->ParentOrSelf() : nullptr;
}

TagTelBasic* ProgramRoot(TagTelBasic* p) {
    return p ? p->GetRoot() : nullptr;
}

int32_t ProgramLineNo(TagTelBasic* p) {
    return p ? p->ParentOrSelf()->lineNo : 0;
}

TagKvCall* ProgramCall(TagTelBasic* p) {
    return p ? p->Call() : nullptr;
}

TStdOut* ProgramPrintTarget(TagTelBasic* p) {
    TagTelBasic* r = ProgramRoot(p);
    if (!r) return nullptr;
    if (!r->printTarget) r->printTarget = std::make_unique<TStdOut>();
    return r->printTarget.get();
}

void ProgramSetOptimize(TagTelBasic* p, int32_t on) {
    if (p) p->SetOptimize(on);
}

int32_t ProgramOptimize(TagTelBasic* p) {
    return p ? p->optimize : 1;
}

int32_t ProgramAddDllFunc(TagTelBasic* p, const char* name, int32_t paramCount) {
    if (!p || !name) return -1;
    if (ProgramFindDllFunc(p, name, nullptr) >= 0) return -1;
    p->dllFuncs.emplace_back(name, paramCount);
    return 0;
}

int32_t ProgramFindDllFunc(TagTelBasic* p, const char* name, int32_t* paramCount) {
    if (!p || !name) return -1;
    for (size_t i = 0; i < p->dllFuncs.size(); ++i) {
        if (p->dllFuncs[i].first == name) {
            if (paramCount) *paramCount = p->dllFuncs[i].second;
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

} // namespace zz
