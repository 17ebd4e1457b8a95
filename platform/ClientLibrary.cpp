#include "platform/ClientLibrary.h"

#include <cstdlib>
#include <dlfcn.h>

namespace zz {

bool ClientLibrary::Open(const std::string& file) {
    Close();
    error_.clear();
    // RTLD_LOCAL keeps the client's symbols out of the way of other libraries loaded later.
    handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
        const char* e = ::dlerror();
        error_ = e ? e : "dlopen failed";
        return false;
    }
    return true;
}

void ClientLibrary::Close() {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

void* ClientLibrary::Sym(const char* name) const {
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

std::string ClientLibraryFile(const std::string& setPath, const char* envVar, const char* defaultFile) {
    if (!setPath.empty()) return setPath;
    const char* env = envVar ? std::getenv(envVar) : nullptr;
    if (env && *env) return env;
    return defaultFile;
}

} // namespace zz
