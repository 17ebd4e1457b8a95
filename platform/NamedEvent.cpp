#include "platform/NamedEvent.h"

#include "platform/Clock.h"
#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zz {

namespace {

// The event's socket address; false, with the reason, when its path does not fit one.
bool EventAddress(const std::string& name, sockaddr_un& addr, socklen_t& len, std::string& path, std::string& why) {
    path = NamedEvent::Path(name);
    if (path.empty()) {
        why = InstanceLock::LockDir() + ": too long a path for the socket files of the events (at most " +
              std::to_string(sizeof addr.sun_path - 1 - std::strlen("/zuzod-0123456789abcdef.sock")) + " bytes)";
        return false;
    }
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    len = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

// A datagram socket connected to addr; -1 with errno set when nothing is bound there.
int Dial(const sockaddr_un& addr, socklen_t len) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return fd;
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
}

// Connected to the event's owner; -1, with the reason, when there is none. The folder is checked first: in one
// that another user could write in, a socket of theirs could be waiting for our signals.
int ConnectEvent(const std::string& name, std::string& path, std::string& why) {
    int dir = InstanceLock::OpenLockDir(false, why);
    if (dir < 0) return -1;
    ::close(dir);
    sockaddr_un addr;
    socklen_t len;
    if (!EventAddress(name, addr, len, path, why)) return -1;
    int fd = Dial(addr, len);
    // A file without a socket behind it is what a killed owner leaves.
    if (fd < 0)
        why = errno == ENOENT || errno == ECONNREFUSED ? "no running process owns it (" + path + ")"
                                                       : path + ": " + std::strerror(errno);
    return fd;
}

// Binds the event's socket file in the folder, replacing one whose process is gone; -1, with the reason, when it
// cannot. bound: the file made.
int BindEvent(int dir, const std::string& name, std::string& path, struct stat& bound, std::string& why) {
    sockaddr_un addr;
    socklen_t len;
    if (!EventAddress(name, addr, len, path, why)) return -1;
    const std::string file = path.substr(path.rfind('/') + 1);
    auto fail = [&](const std::string& text, int fd) {
        why = path + ": " + text;
        if (fd >= 0) ::close(fd);
        return -1;
    };
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // The kernel then tells each datagram's sender: only this user may stop or show the platform.
    int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) return fail(std::strerror(errno), fd);
    // One creator at a time looks at a socket file left behind and replaces it (only this user's processes can
    // open the folder, and each holds it for a bind); the lock goes with the folder's descriptor.
    int r;
    do {
        r = ::flock(dir, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return fail(std::strerror(errno), fd);
    sockaddr* at = reinterpret_cast<sockaddr*>(&addr);
    if (::bind(fd, at, len) != 0) {
        if (errno != EADDRINUSE) return fail(std::strerror(errno), fd);
        struct stat st;
        if (::fstatat(dir, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode))
            return fail("in the way of the event's socket, and not a socket", fd);
        int owner = Dial(addr, len);
        if (owner >= 0) {
            ::close(owner);
            return fail("the event is owned by another running process", fd);
        }
        if (errno != ECONNREFUSED) return fail(std::strerror(errno), fd);
        if (::unlinkat(dir, file.c_str(), 0) != 0 || ::bind(fd, at, len) != 0) return fail(std::strerror(errno), fd);
    }
    // Only this user's processes may signal it, whatever the folder's mode.
    if (::fchmodat(dir, file.c_str(), 0600, 0) != 0 || ::fstatat(dir, file.c_str(), &bound, AT_SYMLINK_NOFOLLOW) != 0) {
        std::string text = std::strerror(errno);
        ::unlinkat(dir, file.c_str(), 0);
        return fail(text, fd);
    }
    return fd;
}

} // namespace

NamedEvent::~NamedEvent() {
    Close();
}

std::string NamedEvent::Path(const std::string& name) {
    const std::string dir = InstanceLock::LockDir() + "/zuzod-";
    const size_t room = sizeof(sockaddr_un::sun_path) - 1;
    std::string path = dir + InstanceLock::Escaped(name) + ".sock";
    if (path.size() <= room) return path;
    uint64_t h = 14695981039346656037ull; // FNV-1a, as senders compute it
    for (unsigned char c : name)
        h = (h ^ c) * 1099511628211ull;
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", (unsigned long long)h);
    path = dir + hash + ".sock";
    return path.size() <= room ? path : std::string();
}

bool NamedEvent::Create(const std::string& name) {
    Close();
    error_.clear();
    int dir = InstanceLock::OpenLockDir(true, error_);
    if (dir < 0) return false;
    std::string path;
    struct stat bound;
    int fd = BindEvent(dir, name, path, bound, error_);
    ::close(dir);
    if (fd < 0) return false;
    fd_ = fd;
    path_ = path;
    dev_ = bound.st_dev;
    ino_ = bound.st_ino;
    return true;
}

bool NamedEvent::Drain() {
    if (fd_ < 0) return false;
    bool mine = false;
    for (;;) {
        char buf[16];
        iovec iov{buf, sizeof buf};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t r = ::recvmsg(fd_, &msg, MSG_CMSG_CLOEXEC);
        if (r < 0) {
            if (errno == EINTR) continue;
            return mine;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
            ucred who;
            std::memcpy(&who, CMSG_DATA(c), sizeof who);
            if (who.uid == ::getuid() || who.uid == ::geteuid()) mine = true;
        }
    }
}

void NamedEvent::Reset() {
    Drain();
}

bool NamedEvent::Wait(uint32_t ms) {
    if (fd_ < 0) return false;
    const uint32_t start = GetTickCount();
    for (;;) {
        uint32_t gone = TicksSince(start);
        uint32_t left = gone >= ms ? 0 : ms - gone;
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, int(left > 0x7FFFFFFF ? 0x7FFFFFFF : left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || !(p.revents & POLLIN)) return false;
        // Another user's datagrams are read and dropped; the wait goes on for the time left.
        if (Drain()) return true;
        if (left == 0) return false;
    }
}

void NamedEvent::Close() {
    if (fd_ < 0) return;
    // Removed while the socket still lives: no other creator can have replaced the file by now.
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

bool NamedEvent::Exists(const std::string& name) {
    std::string path, why;
    int fd = ConnectEvent(name, path, why);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool NamedEvent::Signal(const std::string& name, std::string* error) {
    std::string path, why;
    int fd = ConnectEvent(name, path, why);
    if (fd >= 0) {
        char one = 1;
        ssize_t r;
        do {
            r = ::send(fd, &one, 1, MSG_NOSIGNAL);
        } while (r < 0 && errno == EINTR);
        if (r < 0)
            why = errno == EAGAIN ? "its owner does not take its signals (the queue of its socket " + path + " is full)"
                                  : path + ": " + std::strerror(errno);
        ::close(fd);
        if (r == 1) return true;
    }
    if (error) *error = "\"" + name + "\" not delivered: " + why;
    return false;
}

} // namespace zz
