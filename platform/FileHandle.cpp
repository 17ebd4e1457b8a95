#include "platform/FileHandle.h"

#include <string>

namespace zz {

FileHandle FileHandle::Open(const char* path, const char* mode) {
    if (!path || !mode) return FileHandle();
    // glibc's "e" flag: O_CLOEXEC on the descriptor.
    std::string m = mode;
    m += 'e';
    return FileHandle(std::fopen(path, m.c_str()));
}

} // namespace zz
