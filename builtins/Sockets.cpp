// TCP, HTTP and UDP builtins. Socket handles are ids of the process's socket table; the sockets a line opens
// close with its program. Every wait of a line on a socket also ends when the line quits or reloads.
#include "builtins/Families.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "builtins/LineSockets.h"
#include "builtins/services/Http.h"
#include "builtins/services/NetSocket.h"
#include "builtins/services/Udp.h"
#include "engine/TagTelBasic.h"

namespace zz {

namespace {

constexpr int32_t kReadMax = 5119;     // TcpRead into a variable without bytes of its own
constexpr size_t kDatagramMax = 10240; // UdpRecv
constexpr int32_t kNotAString = -100;  // TcpWrite, TcpRead, UdpSend
constexpr int32_t kHostNotAString = -200;

} // namespace

// The shape of the network builtins: the line's socket set, its waiter and socket look-ups.
template <size_t N> class NetBuiltin : public BuiltinL<N> {
public:
    using Base = BuiltinL<N>;
    using Base::Base;

protected:
    LineSockets& Set() const { return this->Program()->template LineState<LineSockets>(); }
    SockWaiter Waiter() const { return LineWaiter(this->Program()); }
    NetSockPtr Sock(int32_t i) const { return Sockets().Find(this->IntVal(i)); }
    bool IsString(int32_t i) const { return this->Operand(i).type == TagVar::kString; }
    // The line holds all the sockets it may: logged, and the new one is not made.
    bool LineFull() const {
        if (!Set().Full()) return false;
        LineLogF(this->Program(), "too many sockets on the line (%zu): refused", LineSockets::kMaxSockets);
        return true;
    }
};

#define ZZ_NET_BUILTIN(Cls, N)                                                                                         \
    class Cls final : public NetBuiltin<N> {                                                                           \
    public:                                                                                                            \
        using Base = NetBuiltin<N>;                                                                                    \
        using Base::Base;                                                                                              \
        int32_t Run() override;                                                                                        \
    }

// TcpOpen(host, port, seconds, var handle): connects; handle := the socket or -2.
ZZ_NET_BUILTIN(TagTcpOpen, 4);
int32_t TagTcpOpen::Run() {
    int fd = -1;
    int32_t r = LineFull() ? -3 : LineTcpConnect(Program(), &fd, Text(0), IntVal(1), IntVal(2));
    int32_t id = r == 0 ? Set().Add(fd, NetSock::kTcp) : r;
    if (NetSockPtr sock = id > 0 ? Sockets().Find(id) : nullptr) sock->SetNoWait();
    if (id < 0) {
        SetOutInt(3, -2);
        LineLogF(Program(), "TagTcpOpen: Err");
        return id;
    }
    SetOutInt(3, id);
    LineLogF(Program(), "TagTcpOpen: hd=0x%x).", unsigned(id));
    return id;
}

// TcpClose(var handle): closes it; handle := -1.
ZZ_NET_BUILTIN(TagTcpClose, 1);
int32_t TagTcpClose::Run() {
    LineLogF(Program(), "TcpClose(0x%x)", unsigned(IntVal(0)));
    Set().Close(IntVal(0));
    SetOutInt(0, -1);
    return kBuiltinOk;
}

// TcpCloseAll(): closes the line's TCP sockets.
ZZ_NET_BUILTIN(TagTcpCloseAll, 0);
int32_t TagTcpCloseAll::Run() {
    Set().CloseTcp();
    return kBuiltinOk;
}

// TcpWrite(handle, data, length, var sent): length bytes of the data string (below 1: all of it).
ZZ_NET_BUILTIN(TagTcpWrite, 4);
int32_t TagTcpWrite::Run() {
    std::string_view data = Bytes(1);
    int32_t len = IntVal(2);
    if (!IsString(1) || (len >= 1 && data.size() < size_t(len))) return kNotAString;
    if (len < 1) len = int32_t(data.size());
    LineLogF(Program(), "TcpWrite(hd=0x%x, len=%d)...", unsigned(IntVal(0)), len);
    const SockWaiter waiter = Waiter();
    NetSockPtr sock = Sock(0);
    int32_t sent = sock ? SendAll(sock->Fd(), data.data(), size_t(len), &waiter) : -1;
    LineLogF(Program(), "TcpWrite(): %d", sent);
    SetOutInt(3, sent);
    return sent;
}

// TcpTest(handle, var ready): 1 data (or the peer's close) is waiting, 0 none, -1 error.
ZZ_NET_BUILTIN(TagTcpTest, 2);
int32_t TagTcpTest::Run() {
    NetSockPtr sock = Sock(0);
    int32_t r = sock ? WaitReadable(sock->Fd()) : -1;
    SetOutInt(1, r);
    if (r < 0) LineLogF(Program(), "TcpTest(hd=0x%x): %d", unsigned(IntVal(0)), r);
    return r;
}

// TcpRead(handle, var data, var count): one receive; a string of n bytes is filled in place with at most n bytes,
// anything else receives up to 5119 bytes. A connection of TcpOpen takes what is there (-1 when nothing is); an
// accepted one waits for data.
ZZ_NET_BUILTIN(TagTcpRead, 3);
int32_t TagTcpRead::Run() {
    if (Operand(1).readOnly) return kNotAString;
    const std::string old(Bytes(1));
    const size_t room = old.empty() ? kReadMax : old.size();
    LineLogF(Program(), "TcpRead(hd=0x%x, size=%d)...", unsigned(IntVal(0)), int32_t(room));
    std::string buf(room, '\0');
    const SockWaiter waiter = Waiter();
    NetSockPtr sock = Sock(0);
    int32_t got = -1;
    if (sock && sock->NoWait()) {
        ssize_t k = recv(sock->Fd(), buf.data(), room, MSG_DONTWAIT);
        got = k < 0 ? -1 : int32_t(k);
    } else if (sock) {
        got = RecvSome(sock->Fd(), buf.data(), room, &waiter, -1);
    }
    if (got < 0) LineLogF(Program(), "WSAGetLastError(): %d", errno);
    LineLogF(Program(), "TcpRead(): %d", got);
    if (got > 0) {
        buf.resize(size_t(got));
        if (!old.empty()) buf.append(old, size_t(got));
        SetOutText(1, buf);
    }
    SetOutInt(2, got);
    return got;
}

// Http(method, address, body, content type, var reply body, var reply header).
ZZ_NET_BUILTIN(TagHttp, 6);
int32_t TagHttp::Run() {
    HttpReply reply;
    const SockWaiter waiter = Waiter();
    int32_t r = HttpRequest(Text(1), Text(0), Bytes(2), Text(3), reply, &waiter);
    SetOutText(4, reply.body);
    SetOutText(5, reply.header);
    return r;
}

// HttpServerOpen(port): the listening handle of the port.
ZZ_NET_BUILTIN(TagHttpServerOpen, 1);
int32_t TagHttpServerOpen::Run() {
    return HttpServerOpen(IntVal(0));
}

// HttpServerRecv(handle, var header, var body, var address): a waiting request, without waiting for one.
ZZ_NET_BUILTIN(TagHttpServerRecv, 4);
int32_t TagHttpServerRecv::Run() {
    HttpRequestIn in;
    const SockWaiter waiter = Waiter();
    NetSockPtr sock = Sock(0);
    if (sock && sock->GetKind() == NetSock::kListen && LineFull()) return -1;
    int32_t r = HttpServerRecv(IntVal(0), in, &waiter);
    if (in.accepted) Set().Keep(r, NetSock::kTcp);
    SetOutText(1, in.header);
    SetOutText(2, in.body);
    SetOutText(3, in.address);
    return r;
}

// HttpServerSend(connection, header, body): the reply; the connection closes when the header says so.
ZZ_NET_BUILTIN(TagHttpServerSend, 3);
int32_t TagHttpServerSend::Run() {
    const SockWaiter waiter = Waiter();
    int32_t r = HttpServerSend(IntVal(0), Text(1), Bytes(2), &waiter);
    if (!Sockets().Find(IntVal(0))) Set().Forget(IntVal(0));
    return r;
}

// HttpServerClose(handle).
ZZ_NET_BUILTIN(TagHttpServerClose, 1);
int32_t TagHttpServerClose::Run() {
    Set().Forget(IntVal(0));
    return HttpServerClose(IntVal(0));
}

// TcpServer(port, backlog, var handle): a listening socket; handle := it or -1.
ZZ_NET_BUILTIN(TagTcpServer, 3);
int32_t TagTcpServer::Run() {
    int fd = -1;
    int32_t id = !LineFull() && InitTcp(IntVal(0), &fd, IntVal(1) < 1 ? 1 : IntVal(1)) == 0
                     ? Set().Add(fd, NetSock::kListen)
                     : -1;
    if (id < 0) id = -1;
    SetOutInt(2, id);
    return id;
}

// TcpAccept(listening handle, var handle, var address): a waiting connection, without waiting for one.
ZZ_NET_BUILTIN(TagTcpAccept, 3);
int32_t TagTcpAccept::Run() {
    NetSockPtr sock = Sock(0);
    std::string address;
    int fd = sock && !LineFull() && WaitReadable(sock->Fd()) == 1 ? TcpAcceptConn(sock->Fd(), address) : -1;
    int32_t id = fd >= 0 ? Set().Add(fd, NetSock::kTcp) : -1;
    if (id < 0) {
        SetOutInt(1, -1);
        return -1;
    }
    SetOutInt(1, id);
    SetOutText(2, address);
    return id;
}

// UdpOpen(port): a UDP socket bound to the port; the handle or -3 / -4.
ZZ_NET_BUILTIN(TagUdpOpen, 1);
int32_t TagUdpOpen::Run() {
    int fd = -1;
    int32_t r = LineFull() ? -3 : UdpOpen(IntVal(0), &fd);
    return r == 0 ? Set().Add(fd, NetSock::kUdp) : r;
}

// UdpClose(handle).
ZZ_NET_BUILTIN(TagUdpClose, 1);
int32_t TagUdpClose::Run() {
    Set().Close(IntVal(0));
    return kBuiltinOk;
}

// UdpSend(handle, host, port, data): the whole data string as one datagram.
ZZ_NET_BUILTIN(TagUdpSend, 4);
int32_t TagUdpSend::Run() {
    if (!IsString(3) || Bytes(3).empty()) return kNotAString;
    if (!IsString(1)) return kHostNotAString;
    NetSockPtr sock = Sock(0);
    if (!sock) return kBuiltinBadArg;
    std::string_view data = Bytes(3);
    return UdpSendTo(sock->Fd(), Text(1), IntVal(2), data.data(), data.size());
}

// UdpRecv(handle, var address, var port, var data): waits for a datagram.
ZZ_NET_BUILTIN(TagUdpRecv, 4);
int32_t TagUdpRecv::Run() {
    NetSockPtr sock = Sock(0);
    if (!sock) return kBuiltinBadArg;
    const SockWaiter waiter = Waiter();
    char buf[kDatagramMax];
    std::string address;
    int32_t port = 0, got;
    do {
        if (WaitSocket(sock->Fd(), POLLIN, &waiter, -1) != kWaitReady) return -1;
        got = UdpRecvFrom(sock->Fd(), buf, sizeof buf, address, port);
    } while (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
    if (got > 0) {
        SetOutText(3, std::string_view(buf, size_t(got)));
        SetOutText(1, address);
        SetOutInt(2, port);
    }
    return got;
}

// UdpTest(handle): 1 a datagram is waiting, 0 none, -1 error.
ZZ_NET_BUILTIN(TagUdpTest, 1);
int32_t TagUdpTest::Run() {
    NetSockPtr sock = Sock(0);
    return sock ? WaitReadable(sock->Fd()) : -1;
}

std::span<const BuiltinEntry> SocketsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(180, TagTcpOpen, 4),         // TcpOpen
        ZZ_ROW_L(181, TagTcpClose, 1),        // TcpClose
        ZZ_ROW_L(182, TagTcpCloseAll, 0),     // TcpCloseAll
        ZZ_ROW_L(183, TagTcpWrite, 4),        // TcpWrite
        ZZ_ROW_L(184, TagTcpTest, 2),         // TcpTest
        ZZ_ROW_L(185, TagTcpRead, 3),         // TcpRead
        ZZ_ROW_L(186, TagHttp, 6),            // Http
        ZZ_ROW_L(187, TagHttpServerOpen, 1),  // HttpServerOpen
        ZZ_ROW_L(188, TagHttpServerRecv, 4),  // HttpServerRecv
        ZZ_ROW_L(189, TagHttpServerSend, 3),  // HttpServerSend
        ZZ_ROW_L(190, TagHttpServerClose, 1), // HttpServerClose
        ZZ_ROW_L(191, TagTcpServer, 3),       // TcpServer
        ZZ_ROW_L(192, TagTcpAccept, 3),       // TcpAccept
        ZZ_ROW_L(195, TagUdpOpen, 1),         // UdpOpen
        ZZ_ROW_L(196, TagUdpClose, 1),        // UdpClose
        ZZ_ROW_L(197, TagUdpSend, 4),         // UdpSend
        ZZ_ROW_L(198, TagUdpRecv, 4),         // UdpRecv
        ZZ_ROW_L(199, TagUdpTest, 1),         // UdpTest
    };
    return rows;
}

} // namespace zz
