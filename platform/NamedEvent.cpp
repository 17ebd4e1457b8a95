#include "platform/NamedEvent.h"

#include "platform/Clock.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zz {

namespace {

// Abstract address "\0zuzod-event/<uid>/<name>"; a name that does not fit is cut and keeps a hash of the
// whole, so two long names stay apart.
socklen_t EventAddress(const std::string& name, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::string id = "zuzod-event/" + std::to_string(::getuid()) + "/" + name;
    const size_t room = sizeof addr.sun_path - 1;
    if (id.size() > room) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : id)
            h = (h ^ c) * 1099511628211ull;
        char tail[18];
        std::snprintf(tail, sizeof tail, "#%016llx", (unsigned long long)h);
        id = id.substr(0, room - 17) + tail;
    }
    std::memcpy(addr.sun_path + 1, id.data(), id.size());
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + id.size());
}

} // namespace

NamedEvent::~NamedEvent() {
    Close();
}

bool NamedEvent::Create(const std::string& name) {
    Close();
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    socklen_t len = EventAddress(name, addr);
    // The kernel then tells each datagram's sender: anyone on the machine can send to an abstract name, and only
    // this user may stop or show the platform.
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
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
    ::close(fd_);
    fd_ = -1;
}

bool NamedEvent::Exists(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    socklen_t len = EventAddress(name, addr);
    // Connecting a datagram socket sends nothing: it only finds whether the name is bound.
    bool bound = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    ::close(fd);
    return bound;
}

bool NamedEvent::Signal(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    socklen_t len = EventAddress(name, addr);
    char one = 1;
    ssize_t r;
    do {
        r = ::sendto(fd, &one, 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len);
    } while (r < 0 && errno == EINTR);
    // A full queue means the event is signalled already.
    bool ok = r == 1 || (r < 0 && errno == EAGAIN);
    ::close(fd);
    return ok;
}

} // namespace zz
