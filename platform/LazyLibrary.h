#pragma once
// A shared library opened at its first use instead of at the program's start. Every library linked into zuzod or
// zzscript costs each start its relocations and page faults, several milliseconds for a few libraries, while most
// runs never play through the sound card, open an ODBC source or convert Big5 text.
#include <mutex>
#include <string>

namespace zz {

class LazyLibrary {
public:
    // file: the name the dynamic loader looks up (a soname such as "libasound.so.2").
    explicit LazyLibrary(const char* file) : file_(file) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // Opens the library and runs bind(*this) the first time it is asked, from any thread; bind looks the functions
    // up and says whether all were there. True when both held. The library stays loaded for the process.
    template <typename Bind> bool Ready(Bind bind) {
        std::call_once(once_, [&] { ready_ = Open() && bind(*this); });
        return ready_;
    }
    // Looks name up into fn; false (and Error() says which) when the library does not export it.
    template <typename Fn> bool Get(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(Sym(name));
        return fn != nullptr;
    }
    // Why the library is not ready, "" while it is (or was not asked for yet).
    const std::string& Error() const { return error_; }
    const char* File() const { return file_; }

private:
    bool Open();
    void* Sym(const char* name);

    const char* file_;
    void* handle_ = nullptr;
    bool ready_ = false;
    std::once_flag once_;
    std::string error_;
};

} // namespace zz

// A table of a C library's functions: ZZ_LAZY_FIELD declares a member named and typed as the function f, and
// ZZ_LAZY_BIND, chained with && after true, looks it up in the LazyLibrary `lib` into the table `api`.
#define ZZ_LAZY_FIELD(f) decltype(&::f) f = nullptr;
#define ZZ_LAZY_BIND(f) &&lib.Get(api.f, #f)
