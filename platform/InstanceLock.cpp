#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zz {

namespace {

bool FromEnvironment() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return dir && *dir;
}

} // namespace

std::string InstanceLock::LockDir() {
    if (FromEnvironment()) return std::getenv("XDG_RUNTIME_DIR");
    // Only root can make a folder in /run; in /tmp another user could make ours first, hence the checks of OpenLockDir.
    if (::geteuid() == 0) return "/run/zuzod";
    return "/tmp/zuzod-" + std::to_string(::geteuid());
}

// Another user's folder (or a link) is refused, and so is one from the environment that others may write in: they
// could hold the lock or bind the events first, or swap the files under them. Our own default folder with a looser
// mode is tightened.
int InstanceLock::OpenLockDir(bool make, std::string& error) {
    const std::string dir = LockDir();
    const bool given = FromEnvironment();
    if (make && !given && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = dir + ": " + std::strerror(errno);
        return -1;
    }
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = dir + (errno == ELOOP ? std::string(" is a symbolic link, not a folder")
                                      : ": " + std::string(std::strerror(errno)));
        return -1;
    }
    struct stat st;
    char text[200];
    text[0] = 0;
    if (::fstat(fd, &st) != 0) {
        std::snprintf(text, sizeof text, ": %s", std::strerror(errno));
    } else if (st.st_uid != ::geteuid()) {
        std::snprintf(text, sizeof text, " belongs to user %u, not to this one", unsigned(st.st_uid));
    } else if ((st.st_mode & 022) != 0 && given) {
        std::snprintf(text, sizeof text,
                      ": other users may write in it (mode %04o) and take the instance's lock and events first; set "
                      "XDG_RUNTIME_DIR to a folder of this user's of mode 0700, or unset it",
                      unsigned(st.st_mode & 07777));
    } else if ((st.st_mode & 077) != 0 && !given && ::fchmod(fd, 0700) != 0) {
        std::snprintf(text, sizeof text, ": %s", std::strerror(errno));
    }
    if (text[0]) {
        error = dir + text;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string InstanceLock::LockPath(const std::string& name) {
    return LockDir() + "/zuzod-" + Escaped(name) + ".lock";
}

std::string InstanceLock::Escaped(const std::string& name) {
    std::string path;
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
    return path;
}

InstanceLock::~InstanceLock() {
    Release();
}

int InstanceLock::Acquire(const std::string& name) {
    Release();
    error_.clear();
    int dir = OpenLockDir(true, error_);
    if (dir < 0) return -1;
    std::string path = LockPath(name);
    std::string file = path.substr(path.rfind('/') + 1);
    int result = -1;
    // A copy that stops removes the file while it holds the lock: a lock won on a file no longer in the folder
    // is worth nothing, so the file is opened again.
    for (int attempt = 0; attempt < 100 && result < 0; ++attempt) {
        int fd = ::openat(dir, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error_ = path + ": " + std::strerror(errno);
            break;
        }
        int r;
        do {
            r = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) {
                result = 0;
            } else {
                error_ = path + ": " + std::strerror(err);
            }
            break;
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::fstatat(dir, file.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            path_ = path;
            result = 1;
        } else {
            ::close(fd);
        }
    }
    ::close(dir);
    if (result < 0 && error_.empty()) error_ = path + ": replaced each time it was locked";
    return result;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    // Removed while still held, so a copy starting now either fails the lock or finds the file gone.
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

} // namespace zz
