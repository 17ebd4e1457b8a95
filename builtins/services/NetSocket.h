#pragma once
// TCP and UDP sockets for the script builtins, the HTTP client and server. Every descriptor is non-blocking and
// close-on-exec; every wait is one poll() on the socket and the line's wake-up, so a quit or reload ends it at
// once, and its time limit runs on the Clock. Sends never raise SIGPIPE.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

struct sockaddr_in;

namespace zz {

class WakeEvent;

// What ends a line's socket wait early: the line's wake event (poll() watches its descriptor) and the test that
// the line is to stop. A null waiter waits for the socket and the time limit only.
struct SockWaiter {
    WakeEvent* wake = nullptr;
    std::function<bool()> stopped;
};

enum : int32_t { kWaitReady = 1, kWaitTimeout = 0, kWaitError = -1, kWaitStopped = -2 };

// Waits until fd has one of events (POLLIN or POLLOUT; a hang-up or error counts as ready, so the next receive
// or send reports it), ms of Clock time pass (0: a look now; below 0: no limit) or the waiter stops.
int32_t WaitSocket(int fd, short events, const SockWaiter* waiter, int64_t ms);
// A look now: 1 ready, 0 not, -1 error.
int32_t WaitReadable(int fd);
int32_t WaitWritable(int fd);

// Marks the socket layer started (once per process, with its RawLog lines); nothing else needs starting here.
void WSAStartupOnce();
void WSACleanupAll();
// The same without log lines: 0.
int32_t UdpStartup();

// The dotted address of host: 1 when host was one already, 0 when it was resolved by name, -1 when it cannot be
// resolved ("IpAddr Err1: %s" is logged).
int32_t HostToAddr(const char* host, std::string& dotted);
// host and port as an IPv4 socket address: false when the host cannot be resolved.
bool MakeSockAddr(const char* host, int32_t port, sockaddr_in& out);
// The dotted address and port of a socket address.
std::string DottedAddr(const sockaddr_in& a);

// Connects a TCP socket to host:port within ms of Clock time: 0 with *fd set; -2 unknown host, -3 no socket,
// -5 connect failed (refused, unreachable: the socket's pending error), -9 time-out or the waiter stopped.
int32_t TcpConnectWait(int* fd, const char* host, int32_t port, int64_t ms, const SockWaiter* waiter);
// A listening TCP socket on port (all addresses, SO_REUSEADDR): 0 with *fd set, -3 socket, -4 bind, -5 listen
// failure (each shown in a message box).
int32_t InitTcp(int32_t port, int* fd, int32_t backlog);
// Accepts one connection: its descriptor with the peer's dotted address in address, or -1.
int TcpAcceptConn(int listenFd, std::string& address);
// The peer's dotted address, or an empty text.
std::string GetPeerAddr(int fd);
// Sends all n bytes, waiting for room as needed for up to ms of Clock time in all (below 0: no limit): the bytes
// sent, or the failed send's -1 when none went.
int32_t SendAll(int fd, const char* data, size_t n, const SockWaiter* waiter, int64_t ms = -1);
// One receive of up to n bytes after waiting for data (ms as WaitSocket): bytes, 0 at the peer's close or on
// time-out, -1 on error or when the waiter stopped.
int32_t RecvSome(int fd, char* buf, size_t n, const SockWaiter* waiter, int64_t ms);

// A socket of a script: the descriptor is closed when the last user lets go, so another line's wait on it ends
// cleanly (Close shuts it down) and its number is never handed to a new socket while still in use.
class NetSock {
public:
    enum Kind : uint8_t { kTcp, kListen, kUdp };
    NetSock(int fd, Kind kind) : fd_(fd), kind_(kind) {}
    ~NetSock();
    NetSock(const NetSock&) = delete;
    NetSock& operator=(const NetSock&) = delete;
    int Fd() const { return fd_; }
    Kind GetKind() const { return kind_; }
    // A connection the script opened itself is left non-blocking: a read takes what is there and never waits.
    void SetNoWait() { noWait_ = true; }
    bool NoWait() const { return noWait_; }
    // Ends every wait and transfer on the socket.
    void Shutdown();

private:
    int fd_;
    Kind kind_;
    std::atomic<bool> noWait_{false};
};
using NetSockPtr = std::shared_ptr<NetSock>;

// The process's script socket handles: ids from 1 upwards, never given twice, so a handle a script keeps after
// closing it can never name another line's new socket (Linux reuses a descriptor number at once).
class SocketTable {
public:
    // Takes fd over: its handle, or -3 (fd closed) when the ids ran out.
    int32_t Add(int fd, NetSock::Kind kind);
    NetSockPtr Find(int32_t id) const;
    // Forgets the handle and shuts the socket down: false when it is unknown.
    bool Close(int32_t id);
    size_t Count() const;

private:
    mutable std::mutex m_;
    std::unordered_map<int32_t, NetSockPtr> socks_;
    int32_t next_ = 1;
};
SocketTable& Sockets();

} // namespace zz
