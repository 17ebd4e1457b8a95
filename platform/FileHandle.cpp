#include "platform/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace zz {

FileHandle FileHandle::Open(const char* path, const char* mode) {
    if (!path || !mode) return FileHandle();
    // glibc's "e" flag: O_CLOEXEC on the descriptor.
    std::string m = mode;
    m += 'e';
    return FileHandle(std::fopen(path, m.c_str()));
}

FileHandle FileHandle::OpenPrivate(const char* path, const char* mode) {
    if (!path || !mode) return FileHandle();
    const bool both = std::strchr(mode, '+') != nullptr;
    int flags = O_CREAT | O_CLOEXEC | (both ? O_RDWR : O_WRONLY);
    if (mode[0] == 'w') flags |= O_TRUNC;
    if (mode[0] == 'a') flags |= O_APPEND;
    int fd = ::open(path, flags, 0640);
    if (fd < 0) return FileHandle();
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & S_IRWXO)) ::fchmod(fd, st.st_mode & 07770);
    FILE* f = ::fdopen(fd, mode);
    if (!f) ::close(fd);
    return FileHandle(f);
}

} // namespace zz
