// User-library builtins: the process's loaded libraries, the line's slots and the calls with argument records.
#include "builtins/UserDll.h"

#include <dlfcn.h>
#include <setjmp.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <vector>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/Statements.h"
#include "builtins/UserLibArg.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagDllLoad, 2);
ZZ_BUILTIN_L_RUN(TagDllFree, 1);
ZZ_BUILTIN_L_RUN(TagDllFreeAll, 0);

// ---- TagDllName ----

TagDllName::TagDllName(const std::string& fileName) : fileName_(fileName) {
    std::string file = fileName.find_first_of("/\\") == std::string::npos ? fileName : ResolvePath(fileName);
    // An empty name would give the program itself, whose functions are no library's.
    module_ = file.empty() ? nullptr : ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) WriteRunLogF("DllLoad('%s'): %s", fileName.c_str(), file.empty() ? "no file name" : ::dlerror());
}

TagDllName::~TagDllName() {
    funcs_.clear();
    if (module_) ::dlclose(module_);
}

int32_t TagDllName::AddFunc(const char* name, int32_t paramCount) {
    std::lock_guard<std::mutex> lk(lock_);
    bool bound = std::any_of(funcs_.begin(), funcs_.end(), [&](auto& f) { return f->name == name; });
    if (!bound) {
        auto f = std::make_unique<TagDllFunc>();
        f->name = name;
        f->paramCount = paramCount;
        f->address = module_ ? ::dlsym(module_, name) : nullptr;
        // The decorated name a Windows library exports a two-argument stdcall function under.
        if (!f->address && module_) f->address = ::dlsym(module_, ("_" + f->name + "@8").c_str());
        if (!f->address) WriteRunLogAlways(("'" + f->name + "' Not found for DLL.").c_str());
        funcs_.push_back(std::move(f));
    }
    return int32_t(funcs_.size());
}

void* TagDllName::FindFunc(const char* name, int32_t* paramCount) {
    // Other lines bind entries while this one looks them up.
    std::lock_guard<std::mutex> lk(lock_);
    for (const auto& f : funcs_) {
        if (f->name == name && f->address) {
            *paramCount = f->paramCount;
            return f->address;
        }
    }
    return nullptr;
}

// ---- TagGlobalDlls ----

TagGlobalDlls::~TagGlobalDlls() {
    dlls_.clear();
}

TagDllName* TagGlobalDlls::Load(const std::string& fileName) {
    std::lock_guard<std::mutex> lk(lock_);
    auto it = dlls_.find(fileName);
    if (it != dlls_.end()) {
        ++it->second->refCount;
        return it->second.get();
    }
    auto dll = std::make_unique<TagDllName>(fileName);
    TagDllName* p = dll.get();
    dlls_.emplace(fileName, std::move(dll));
    return p;
}

void TagGlobalDlls::Free(TagDllName* dll) {
    std::unique_ptr<TagDllName> unloaded;
    {
        std::lock_guard<std::mutex> lk(lock_);
        auto it = dll ? dlls_.find(dll->FileName()) : dlls_.end();
        if (it == dlls_.end() || --it->second->refCount >= 1) return;
        unloaded = std::move(it->second);
        dlls_.erase(it);
    }
}

int32_t TagGlobalDlls::Count() {
    std::lock_guard<std::mutex> lk(lock_);
    return int32_t(dlls_.size());
}

TagGlobalDlls& GlobalDlls() {
    static TagGlobalDlls dlls;
    return dlls;
}

// ---- UserLibState: the line's table ----

UserLibState::~UserLibState() {
    ReleaseAll();
}

int32_t UserLibState::AddFuncName(const char* name, int32_t paramCount) {
    if (!name || FindFuncName(name, nullptr) >= 0) return -1;
    names_.emplace_back(name, paramCount);
    return 0;
}

int32_t UserLibState::FindFuncName(const char* name, int32_t* paramCount) const {
    if (!name) return -1;
    for (size_t i = 0; i < names_.size(); ++i) {
        if (names_[i].first == name) {
            if (paramCount) *paramCount = names_[i].second;
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

int32_t UserLibState::DllLoad(const char* fileName) {
    for (int32_t i = 0; i < kSlots; ++i)
        if (slots_[i] && slots_[i]->FileName() == fileName) return i;
    int32_t slot = int32_t(std::find(slots_, slots_ + kSlots, nullptr) - slots_);
    if (slot >= kSlots) return -2;
    TagDllName* dll = GlobalDlls().Load(fileName);
    if (!dll->Loaded()) {
        GlobalDlls().Free(dll);
        return -1;
    }
    slots_[slot] = dll;
    return slot;
}

int32_t UserLibState::DllFunction(int32_t slot, const char* name, int32_t paramCount) {
    if (slot < 0 || slot >= kSlots || !slots_[slot]) return -1;
    slots_[slot]->AddFunc(name, paramCount);
    return slot;
}

void* UserLibState::FindFunc(const char* name, int32_t* paramCount) const {
    for (TagDllName* dll : slots_)
        if (void* f = dll ? dll->FindFunc(name, paramCount) : nullptr) return f;
    return nullptr;
}

void UserLibState::Release(int32_t slot) {
    if (slot < 0 || slot >= kSlots || !slots_[slot]) return;
    GlobalDlls().Free(slots_[slot]);
    slots_[slot] = nullptr;
}

void UserLibState::ReleaseAll() {
    for (int32_t i = 0; i < kSlots; ++i)
        Release(i);
}

// ---- The builtins ----

int32_t TagDllLoad::Run() {
    int32_t r = Program() ? Program()->LineState<UserLibState>().DllLoad(Text(0)) : -1;
    SetOutInt(1, r);
    return r;
}

int32_t TagDllFunction::Run() {
    if (Program()) Program()->LineState<UserLibState>().DllFunction(StoredInt(0), Text(1), StoredInt(2));
    return 0;
}

int32_t TagDllFree::Run() {
    if (Program()) Program()->LineState<UserLibState>().Release(IntVal(0));
    return 0;
}

int32_t TagDllFreeAll::Run() {
    if (Program()) Program()->LineState<UserLibState>().ReleaseAll();
    return 0;
}

namespace {

// An argument's record and the text buffer it points at, which the function may change.
struct ArgRecords {
    std::vector<ZzDllArg> records;
    std::vector<std::vector<char>> texts;

    explicit ArgRecords(const std::vector<TagVar*>& args) : records(args.size()), texts(args.size()) {
        for (size_t i = 0; i < args.size(); ++i) {
            const TagVar& v = *args[i];
            std::string_view text = v.type == TagVar::kString ? std::string_view(v.Str(), StrBytes(v)) : "";
            texts[i].assign(text.begin(), text.end());
            texts[i].push_back('\0');
            records[i].type = v.type;
            records[i].intVal = TagBuiltin::StoredWord(v);
            records[i].text = texts[i].data();
            records[i].dblVal = v.type == TagVar::kDouble ? v.GetFloat() : 0.0;
        }
    }

    // The function's changes, into every argument that is a variable.
    void CopyBack(const std::vector<TagVar*>& args) {
        for (size_t i = 0; i < args.size(); ++i) {
            TagVar& v = *args[i];
            const ZzDllArg& r = records[i];
            if (v.readOnly) continue;
            switch (r.type) {
            case TagVar::kEmpty:
                v = TagVar();
                break;
            case TagVar::kString: {
                int32_t n = std::clamp<int32_t>(r.intVal - 1, 0, int32_t(texts[i].size()) - 1);
                v.SetStrN(texts[i].data(), n);
                break;
            }
            case TagVar::kInt:
                v.SetInt(r.intVal);
                break;
            case TagVar::kDouble:
                v.SetFloat(r.dblVal);
                break;
            default:
                break; // an object or a function keeps what it refers to
            }
        }
    }
};

} // namespace

namespace {

// A library function that faults (a bad pointer, a division by zero) must not take every line down with it: the
// fault is turned back to the call of this thread, which reports it. Faults outside such a call go to the handler
// that was there before.
thread_local sigjmp_buf* t_libJump = nullptr;
constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previous[std::size(kFaults)];

void OnLibFault(int sig, siginfo_t* info, void* ctx) {
    if (sigjmp_buf* jump = t_libJump) {
        t_libJump = nullptr;
        siglongjmp(*jump, sig);
    }
    for (size_t i = 0; i < std::size(kFaults); ++i) {
        if (kFaults[i] != sig) continue;
        const struct sigaction& p = g_previous[i];
        if ((p.sa_flags & SA_SIGINFO) && p.sa_sigaction) {
            p.sa_sigaction(sig, info, ctx);
            return;
        }
        if (!(p.sa_flags & SA_SIGINFO) && p.sa_handler != SIG_DFL && p.sa_handler != SIG_IGN) {
            p.sa_handler(sig);
            return;
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Runs the function; the signal that stopped it, or 0 with its result.
int CallGuarded(ZzDllFunc fn, int32_t count, ZzDllArg* records, int32_t& result) {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = OnLibFault;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < std::size(kFaults); ++i)
            sigaction(kFaults[i], &sa, &g_previous[i]);
    });
    sigjmp_buf jump;
    volatile int32_t r = 0;
    int sig = sigsetjmp(jump, 1);
    if (sig == 0) {
        t_libJump = &jump;
        try {
            r = fn(count, records);
        } catch (...) {
            t_libJump = nullptr;
            throw;
        }
    }
    t_libJump = nullptr;
    result = r;
    return sig;
}

} // namespace

int32_t TagDllCall::Run() {
    int32_t declared = -1;
    void* entry = Program() ? Program()->LineState<UserLibState>().FindFunc(funcName.c_str(), &declared) : nullptr;
    if (!entry || declared != int32_t(dllArgs.size())) return kBuiltinBadArg;
    ArgRecords args(dllArgs);
    int32_t result = kBuiltinNoSpeech;
    try {
        int32_t r = 0;
        if (int sig =
                CallGuarded(reinterpret_cast<ZzDllFunc>(entry), int32_t(args.records.size()), args.records.data(), r)) {
            WriteRunLogAlways(("DllRun Err: " + funcName + "(): " + strsignal(sig)).c_str());
            return result;
        }
        result = r;
        args.CopyBack(dllArgs);
    } catch (const std::exception& e) {
        WriteRunLogAlways(("DllRun Err: " + funcName + "(): " + e.what()).c_str());
    } catch (...) {
        WriteRunLogAlways(("DllRun Err: " + funcName + "()").c_str());
    }
    return result;
}

namespace {
std::unique_ptr<TagOper> MakeDllFunction(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagDllFunction>(a[0], a[1], a[2], prog);
}
} // namespace

std::span<const BuiltinEntry> UserDllBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(216, TagDllLoad, 2),    // DllLoad
        {217, 3, &MakeDllFunction},      // DllFunction
        ZZ_ROW_L(218, TagDllFree, 1),    // DllFree
        ZZ_ROW_L(219, TagDllFreeAll, 0), // DllFreeAll
    };
    return rows;
}

} // namespace zz
