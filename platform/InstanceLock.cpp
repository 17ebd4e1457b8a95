#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace zz {

std::string InstanceLock::LockPath(const std::string& name) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path;
    if (dir && *dir) {
        path = std::string(dir) + "/zuzod-";
    } else {
        // /tmp is shared: a file left by another user must not lock this one out.
        path = "/tmp/zuzod-" + std::to_string(::getuid()) + "-";
    }
    for (unsigned char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == '-';
        if (plain) {
            path += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            path += hex;
        }
    }
    return path + ".lock";
}

InstanceLock::~InstanceLock() {
    Release();
}

int InstanceLock::Acquire(const std::string& name) {
    Release();
    int fd = ::open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? 0 : -1;
    }
    fd_ = fd;
    return 1;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    // The file stays: removing it could race a second copy that already opened it.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace zz
