#pragma once
// A shared library opened at its first use instead of at the program's start. Every library linked into zuzod or
// zzscript costs each start its relocations and page faults, several milliseconds for a few libraries, while most
// runs never play through the sound card, open an ODBC source or convert Big5 text.
#include <mutex>
#include <string>

#include "platform/ClientLibrary.h"

namespace zz {

class LazyLibrary {
public:
    // file: the name the dynamic loader looks up (a soname such as "libasound.so.2").
    explicit LazyLibrary(const char* file) : file_(file) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // Opens the library and runs bind(*this) the first time it is asked, from any thread; bind looks the functions
    // up (and does any other once-only set-up) and says whether all was there. True when both held. The library
    // stays loaded for the process.
    template <typename Bind> bool Ready(Bind bind) {
        std::call_once(once_, [&] { ready_ = lib_.Open(file_) && bind(*this); });
        return ready_;
    }
    // Looks name up into fn; false (and Error() says which) when the library does not export it.
    template <typename Fn> bool Get(Fn& fn, const char* name) {
        if (lib_.Get(fn, name)) return true;
        if (missing_.empty()) missing_ = std::string(file_) + " has no " + name;
        return false;
    }
    // Why the library is not ready: the loader's message or the missing function; "" while it is ready, was not
    // asked for yet, or only its set-up failed.
    const std::string& Error() const { return lib_.Error().empty() ? missing_ : lib_.Error(); }

private:
    const char* file_;
    ClientLibrary lib_;
    bool ready_ = false;
    std::once_flag once_;
    std::string missing_;
};

} // namespace zz

// A table of a C library's functions: ZZ_LAZY_FIELD declares a member named and typed as the function f, and
// ZZ_LAZY_BIND, chained with && after true, looks it up in the LazyLibrary `lib` into the table `api`.
#define ZZ_LAZY_FIELD(f) decltype(&::f) f = nullptr;
#define ZZ_LAZY_BIND(f) &&lib.Get(api.f, #f)
