#pragma once
// User libraries: shared objects a script loads into the 50 library slots of its line (DllLoad), binds export
// names of (DllFunction) and calls like builtins with argument records (builtins/UserLibArg.h). A file is loaded
// once per process: every line that loads the same file name shares one handle, counted by references, and one
// list of bound entry points. The line's table is a family record of its main program.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/TagLineState.h"

namespace zz {

// One bound entry point: export name, address (null when the library has no such export), declared count.
struct TagDllFunc {
    std::string name;
    void* address = nullptr;
    int32_t paramCount = 0;
};

// One loaded library file.
class TagDllName {
public:
    // Loads the file (dlopen): a name with a path separator is a path, any other is searched as dlopen searches.
    explicit TagDllName(const std::string& fileName);
    // Unloads the library.
    ~TagDllName();
    TagDllName(const TagDllName&) = delete;
    TagDllName& operator=(const TagDllName&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    const std::string& FileName() const { return fileName_; }
    // Binds name with count unless it is bound already (the first binding stays); a missing export is logged
    // and kept with a null address. The number of bound entries.
    int32_t AddFunc(const char* name, int32_t paramCount);
    // The address of a bound name (null when none or not found in the library) and its count.
    void* FindFunc(const char* name, int32_t* paramCount);

    int32_t refCount = 1; // guarded by the registry's lock

private:
    void* module_ = nullptr;
    std::string fileName_;
    std::mutex lock_; // guards the bound entries, which every line that has the library looks up
    std::vector<std::unique_ptr<TagDllFunc>> funcs_;
};

// The process's libraries by file name (exact, letter case significant).
class TagGlobalDlls {
public:
    TagGlobalDlls() = default;
    ~TagGlobalDlls();
    TagGlobalDlls(const TagGlobalDlls&) = delete;
    TagGlobalDlls& operator=(const TagGlobalDlls&) = delete;

    // The library of that file, loaded now or counted once more.
    TagDllName* Load(const std::string& fileName);
    // One reference less; the last one unloads the library.
    void Free(TagDllName* dll);
    // Libraries loaded now (tests).
    int32_t Count();

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<TagDllName>> dlls_;
};

TagGlobalDlls& GlobalDlls();

// The line's library slots and the function names its scripts declared with DllFunction.
class UserLibState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kUserLib;
    static constexpr int32_t kSlots = 50;

    explicit UserLibState(TagTelBasic&) {}
    // Releases every occupied slot.
    ~UserLibState() override;

    // Declares a function: 0, or -1 when the name is declared already (its first declaration stays).
    int32_t AddFuncName(const char* name, int32_t paramCount);
    // Index of a declared name or -1; paramCount receives its declared count.
    int32_t FindFuncName(const char* name, int32_t* paramCount) const;
    const std::vector<std::pair<std::string, int32_t>>& Names() const { return names_; }

    // The slot that holds the file (the same one again when it is loaded already), -1 when it cannot be loaded,
    // -2 when all 50 slots are taken.
    int32_t DllLoad(const char* fileName);
    // Binds name with count to the library of the slot: the slot, or -1 for a slot outside 0..49 or free.
    int32_t DllFunction(int32_t slot, const char* name, int32_t paramCount);
    // The first bound address of the name, slots in order, and its count; null when none.
    void* FindFunc(const char* name, int32_t* paramCount) const;
    void Release(int32_t slot);
    void ReleaseAll();

private:
    std::vector<std::pair<std::string, int32_t>> names_;
    TagDllName* slots_[kSlots] = {};
};

} // namespace zz
