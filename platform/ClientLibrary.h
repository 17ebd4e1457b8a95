#pragma once
// Run-time loading of shared libraries. The database client libraries are not linked: a missing library disables
// only the back end that needs it, and tests point a back end at a stand-in library through its path setter or
// environment variable. LazyLibrary.h builds the libraries opened at their first use on this.
#include <atomic>
#include <mutex>
#include <string>

namespace zz {

class ClientLibrary {
public:
    ClientLibrary() = default;
    ~ClientLibrary() { Close(); }
    ClientLibrary(const ClientLibrary&) = delete;
    ClientLibrary& operator=(const ClientLibrary&) = delete;

    // dlopen of file; false (and the loader's message in Error()) when it cannot be loaded.
    bool Open(const std::string& file);
    void Close();
    bool Loaded() const { return handle_ != nullptr; }
    // The exported symbol, or null.
    void* Sym(const char* name) const;
    const std::string& Error() const { return error_; }

    // Looks name up into fn; false when the library does not export it.
    template <typename Fn> bool Get(Fn& fn, const char* name) const {
        fn = reinterpret_cast<Fn>(Sym(name));
        return fn != nullptr;
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};

// A back end's library loaded by the first data set that needs it, for a process that asks for that instead of
// loading it at start.
class LoadOnDemand {
public:
    void Ask() { asked_ = true; }
    // Runs load once, when on demand was asked and the library is not loaded.
    template <typename Load> void Ensure(bool loaded, Load load) {
        if (asked_.load() && !loaded) std::call_once(once_, load);
    }

private:
    std::atomic<bool> asked_{false};
    std::once_flag once_;
};

// The file a back end loads: the path set by its setter when not empty, else the environment variable envVar
// when set and not empty, else defaultFile (found through the dynamic loader's search path).
std::string ClientLibraryFile(const std::string& setPath, const char* envVar, const char* defaultFile);

} // namespace zz
