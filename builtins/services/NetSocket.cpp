#include "builtins/services/NetSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"

namespace zz {

namespace {

std::atomic<bool> g_started{false};

bool Stopped(const SockWaiter* w) {
    return w && w->stopped && w->stopped();
}

int NewSocket(int type) {
    return socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

std::string ErrorBoxText(const char* fmt, int err, int32_t port = 0) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, err, port);
    return text;
}

} // namespace

int32_t WaitSocket(int fd, short events, const SockWaiter* waiter, int64_t ms) {
    if (fd < 0) return kWaitError;
    const uint32_t start = GetTickCount();
    const int wakeFd = waiter && waiter->wake ? waiter->wake->Fd() : -1;
    for (;;) {
        if (Stopped(waiter)) return kWaitStopped;
        int32_t left = -1;
        if (ms >= 0) {
            const uint32_t spent = TicksSince(start);
            const int64_t rest = ms - int64_t(spent);
            left = rest <= 0 ? 0 : rest > INT32_MAX ? INT32_MAX : int32_t(rest);
        }
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int r = GetClock().Poll(p, wakeFd >= 0 ? 2 : 1, left);
        if (r < 0) return kWaitError;
        if (p[0].revents & POLLNVAL) return kWaitError;
        if (p[0].revents & (events | POLLHUP | POLLERR)) return kWaitReady;
        if (wakeFd >= 0 && (p[1].revents & POLLIN)) {
            waiter->wake->Drain(); // news for the line: the loop asks whether it is to stop
            continue;
        }
        if (left == 0 || (ms >= 0 && int64_t(TicksSince(start)) >= ms)) return kWaitTimeout;
    }
}

int32_t WaitReadable(int fd) {
    int32_t r = WaitSocket(fd, POLLIN, nullptr, 0);
    return r == kWaitReady ? 1 : r == kWaitTimeout ? 0 : -1;
}

int32_t WaitWritable(int fd) {
    int32_t r = WaitSocket(fd, POLLOUT, nullptr, 0);
    return r == kWaitReady ? 1 : r == kWaitTimeout ? 0 : -1;
}

void WSAStartupOnce() {
    if (g_started.exchange(true)) return;
    RawLogF("WSAStartup(WINSOCK_VERSION=0x%x)", 0x202);
    RawLog("WSAStartup OK.");
}

void WSACleanupAll() {
    g_started = false;
}

int32_t UdpStartup() {
    g_started = true;
    return 0;
}

bool MakeSockAddr(const char* host, int32_t port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(uint16_t(port));
    if (!host) return false;
    if (inet_pton(AF_INET, host, &out.sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        WriteRunLogF("IpAddr Err1: %s", host);
        return false;
    }
    out.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

int32_t HostToAddr(const char* host, std::string& dotted) {
    sockaddr_in a{};
    bool wasDotted = host && inet_pton(AF_INET, host, &a.sin_addr) == 1;
    if (!wasDotted && !MakeSockAddr(host, 0, a)) return -1;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    dotted = text;
    return wasDotted ? 1 : 0;
}

std::string DottedAddr(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

int32_t TcpConnectWait(int* fd, const char* host, int32_t port, int64_t ms, const SockWaiter* waiter) {
    WSAStartupOnce();
    sockaddr_in to{};
    if (!MakeSockAddr(host, port, to)) return -2;
    int s = NewSocket(SOCK_STREAM);
    if (s < 0) {
        WriteRunLogF("socket()Error, isTcpInited=%d, WSAGetLastError=%d", int(g_started.load()), errno);
        s = NewSocket(SOCK_STREAM);
        if (s < 0) {
            WriteRunLogF("Re: socket()Error, isTcpInited=%d, WSAGetLastError=%d", int(g_started.load()), errno);
            return -3;
        }
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        close(s);
        return -5;
    }
    int32_t w = WaitSocket(s, POLLOUT, waiter, ms);
    if (w != kWaitReady) {
        close(s);
        return w == kWaitError ? -5 : -9;
    }
    // Writable also means a failed connect: the socket's pending error tells which.
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        close(s);
        return -5;
    }
    *fd = s;
    return 0;
}

int32_t InitTcp(int32_t port, int* fd, int32_t backlog) {
    WSAStartupOnce();
    WriteRunLogF("InitTcp(port=%d, maxListen=%d)", port, backlog);
    int s = NewSocket(SOCK_STREAM);
    if (s < 0) {
        ShowMessage(ErrorBoxText("Error #%d occurred while creating socket!!", errno), "InitTcp: socket()...");
        return -3;
    }
    WriteRunLogF("socket() OK. hd=%d", s);
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(uint16_t(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        int err = errno;
        close(s);
        ShowMessage(ErrorBoxText("Error #%d occurred while bind socket! port=[%d]", err, port), "Server: bind()...");
        return -4;
    }
    WriteRunLog("bind() OK.");
    if (listen(s, backlog) != 0) {
        int err = errno;
        close(s);
        ShowMessage(ErrorBoxText("Error #%d occurred while lisent() socket!!", err), "InitTcp");
        return -5;
    }
    WriteRunLog("listen() OK.");
    *fd = s;
    return 0;
}

int TcpAcceptConn(int listenFd, std::string& address) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    WriteRunLogF("accept(hd=0x%x), sizof=%d...", unsigned(listenFd), int(len));
    int s = accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
        WriteRunLog("accept(): INVALID_SOCKET.");
        WriteRunLogF("Error #%d occurred while accept() socket!!", errno);
        return -1;
    }
    address = DottedAddr(from);
    WriteRunLogF("remoteAddr: '%s:%d'", address.c_str(), int(ntohs(from.sin_port)));
    WriteRunLogF("accept(): OK, subSkt=0x%x.", unsigned(s));
    return s;
}

std::string GetPeerAddr(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
    return DottedAddr(a);
}

int32_t SendAll(int fd, const char* data, size_t n, const SockWaiter* waiter, int64_t ms) {
    const uint32_t start = GetTickCount();
    size_t sent = 0;
    while (sent < n) {
        const int64_t left = ms < 0 ? -1 : std::max<int64_t>(0, ms - int64_t(TicksSince(start)));
        ssize_t k = send(fd, data + sent, n - sent, MSG_NOSIGNAL);
        if (k > 0) {
            sent += size_t(k);
            continue;
        }
        if (k < 0 && errno == EINTR) continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && left != 0 &&
            WaitSocket(fd, POLLOUT, waiter, left) == kWaitReady)
            continue;
        break;
    }
    if (sent == 0 && n > 0) return -1;
    return int32_t(sent > INT32_MAX ? INT32_MAX : sent);
}

int32_t RecvSome(int fd, char* buf, size_t n, const SockWaiter* waiter, int64_t ms) {
    for (;;) {
        int32_t w = WaitSocket(fd, POLLIN, waiter, ms);
        if (w == kWaitTimeout) return 0;
        if (w != kWaitReady) return -1;
        ssize_t k = recv(fd, buf, n, 0);
        if (k >= 0) return int32_t(k);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
}

NetSock::~NetSock() {
    if (fd_ >= 0) close(fd_);
}

void NetSock::Shutdown() {
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

int32_t SocketTable::Add(int fd, NetSock::Kind kind) {
    auto sock = std::make_shared<NetSock>(fd, kind);
    std::lock_guard<std::mutex> lk(m_);
    if (next_ == INT32_MAX) return -3;
    int32_t id = next_++;
    socks_.emplace(id, std::move(sock));
    return id;
}

NetSockPtr SocketTable::Find(int32_t id) const {
    std::lock_guard<std::mutex> lk(m_);
    auto it = socks_.find(id);
    return it == socks_.end() ? nullptr : it->second;
}

bool SocketTable::Close(int32_t id) {
    NetSockPtr sock;
    {
        std::lock_guard<std::mutex> lk(m_);
        auto it = socks_.find(id);
        if (it == socks_.end()) return false;
        sock = std::move(it->second);
        socks_.erase(it);
    }
    // Another thread may be waiting on it: the shutdown wakes it, the descriptor closes when it lets go.
    if (sock.use_count() > 1) sock->Shutdown();
    return true;
}

size_t SocketTable::Count() const {
    std::lock_guard<std::mutex> lk(m_);
    return socks_.size();
}

SocketTable& Sockets() {
    static SocketTable table;
    return table;
}

} // namespace zz
