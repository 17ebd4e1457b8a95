#include "builtins/ProgramAccess.h"

#include <atomic>
#include <map>
#include <mutex>

#include "builtins/TStdOut.h"
#include "engine/TagTelBasic.h"

namespace zz {

namespace {

struct SideTable {
    std::mutex lock;
    std::map<const TagTelBasic*, std::unique_ptr<ProgramLineState>> states;
};

SideTable& Table() {
    static SideTable t;
    return t;
}

// The state of p when it has one; null otherwise (nothing is created).
ProgramLineState* Peek(TagTelBasic* p) {
    if (!p) return nullptr;
    SideTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.states.find(p);
    return it == t.states.end() ? nullptr : it->second.get();
}

} // namespace

ProgramLineState::ProgramLineState() = default;
ProgramLineState::~ProgramLineState() = default;

ProgramLineState& LineStateOf(TagTelBasic* p) {
    SideTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    auto& slot = t.states[p];
    if (!slot) slot = std::make_unique<ProgramLineState>();
    return *slot;
}

void ForgetProgram(TagTelBasic* p) {
    std::unique_ptr<ProgramLineState> gone;
    {
        SideTable& t = Table();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.states.find(p);
        if (it == t.states.end()) return;
        gone = std::move(it->second);
        t.states.erase(it);
    }
}

TagTelBasic* ProgramParentOrSelf(TagTelBasic* p) {
    return p && p->parent ? p->parent : p;
}

TagTelBasic* ProgramRoot(TagTelBasic* p) {
    TagTelBasic* r = ProgramParentOrSelf(p);
    ProgramLineState* s = Peek(r);
    return s && s->runKvsCaller ? s->runKvsCaller : r;
}

int32_t ProgramLineNo(TagTelBasic* p) {
    ProgramLineState* s = Peek(ProgramParentOrSelf(p));
    return s ? s->lineNo : 0;
}

TagKvCall* ProgramCall(TagTelBasic* p) {
    ProgramLineState* s = Peek(ProgramParentOrSelf(p));
    return s ? s->call : nullptr;
}

TStdOut* ProgramPrintTarget(TagTelBasic* p) {
    TagTelBasic* r = ProgramRoot(p);
    if (!r) return nullptr;
    ProgramLineState& s = LineStateOf(r);
    if (!s.printTarget) s.printTarget = std::make_unique<TStdOut>();
    return s.printTarget.get();
}

void ProgramSetOptimize(TagTelBasic* p, int32_t on) {
    if (p) LineStateOf(p).optimize = on ? 1 : 0;
}

int32_t ProgramOptimize(TagTelBasic* p) {
    ProgramLineState* s = Peek(p);
    return s ? s->optimize : 1;
}

int32_t ProgramAddDllFunc(TagTelBasic* p, const char* name, int32_t paramCount) {
    if (!p || !name) return -1;
    if (ProgramFindDllFunc(p, name, nullptr) >= 0) return -1;
    LineStateOf(p).dllFuncs.emplace_back(name, paramCount);
    return 0;
}

int32_t ProgramFindDllFunc(TagTelBasic* p, const char* name, int32_t* paramCount) {
    ProgramLineState* s = Peek(p);
    if (!s || !name) return -1;
    for (size_t i = 0; i < s->dllFuncs.size(); ++i) {
        if (s->dllFuncs[i].first == name) {
            if (paramCount) *paramCount = s->dllFuncs[i].second;
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

namespace {
std::atomic<FunctionRunner> g_runner{nullptr};
} // namespace

void SetFunctionRunner(FunctionRunner runner) {
    g_runner.store(runner);
}

int32_t ProgramRunFunction(TagTelBasic* unit, TagTelBasic* caller) {
    FunctionRunner r = g_runner.load();
    return r && unit ? r(unit, caller) : 0;
}

} // namespace zz
