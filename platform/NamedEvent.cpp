#include "platform/NamedEvent.h"

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
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void NamedEvent::Reset() {
    if (fd_ < 0) return;
    char buf[16];
    while (::recv(fd_, buf, sizeof buf, 0) >= 0) {
    }
}

bool NamedEvent::Wait(uint32_t ms) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, int(ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms));
    } while (r < 0 && errno == EINTR);
    if (r <= 0 || !(p.revents & POLLIN)) return false;
    Reset();
    return true;
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
