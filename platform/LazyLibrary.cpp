#include "platform/LazyLibrary.h"

#include <dlfcn.h>

namespace zz {

bool LazyLibrary::Open() {
    // RTLD_LOCAL keeps its symbols out of the way of libraries loaded later.
    handle_ = ::dlopen(file_, RTLD_NOW | RTLD_LOCAL);
    if (handle_) return true;
    const char* e = ::dlerror();
    error_ = e ? e : std::string(file_) + ": cannot be loaded";
    return false;
}

void* LazyLibrary::Sym(const char* name) {
    void* p = handle_ ? ::dlsym(handle_, name) : nullptr;
    if (!p && error_.empty()) error_ = std::string(file_) + " has no " + name;
    return p;
}

} // namespace zz
