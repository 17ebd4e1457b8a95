// The small HTTP server: listening handles by port, one request read per call, replies with a default header.
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "builtins/services/Http.h"
#include "platform/Clock.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr int64_t kRequestMs = 20000;
constexpr int32_t kBacklog = 10;

// Port -> listening handle; lines open their servers at start, several at once.
std::mutex g_serversLock;
std::map<int32_t, int32_t> g_servers;

// A connection whose request has not come whole yet. HttpServerRecv never waits: each call takes what the
// connection sent meanwhile, and a request not whole kRequestMs after its connection is dropped.
struct Pending {
    int32_t conn;
    std::string data;
    std::string address;
    uint32_t since;
};
constexpr size_t kMaxPending = 16; // per handle; further connections wait in the listen queue
// Handle given to HttpServerRecv (a server, or a connection for its next request) -> its unfinished requests.
std::mutex g_pendingLock;
std::map<int32_t, std::vector<Pending>> g_pending;

enum class Taken { kMore, kWhole, kDrop };

// Reads what the connection has sent, without waiting, and says whether its request is whole.
Taken TakeWaiting(Pending& p) {
    NetSockPtr sock = Sockets().Find(p.conn);
    if (!sock) return Taken::kDrop;
    char buf[16384];
    for (;;) {
        size_t blank = p.data.find("\r\n\r\n");
        size_t length = 0;
        if (blank == std::string::npos) {
            if (p.data.size() > kMaxHttpHead) return Taken::kDrop;
        } else {
            if (HttpContentLength(std::string_view(p.data).substr(0, blank + 4), length) && length > kMaxHttpBody)
                return Taken::kDrop;
            if (p.data.size() >= blank + 4 + length) return Taken::kWhole;
        }
        const size_t want =
            blank == std::string::npos ? sizeof buf : std::min(sizeof buf, blank + 4 + length - p.data.size());
        ssize_t k = recv(sock->Fd(), buf, want, MSG_DONTWAIT);
        if (k > 0) {
            p.data.append(buf, size_t(k));
            continue;
        }
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
        return Taken::kDrop; // closed, or an error
    }
    return TicksSince(p.since) >= uint32_t(kRequestMs) ? Taken::kDrop : Taken::kMore;
}

// "Last-Modified: Mon, 09 Dec 2024 12:00:00 GMT" (English names whatever the locale).
std::string LastModified() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(nullptr);
    tm t{};
    gmtime_r(&now, &t);
    char text[64];
    std::snprintf(text, sizeof text, "Last-Modified: %s, %02d %s %d %02d:%02d:%02d GMT", kDays[t.tm_wday], t.tm_mday,
                  kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

} // namespace

int32_t HttpServerOpen(int32_t port) {
    std::lock_guard<std::mutex> lk(g_serversLock);
    auto it = g_servers.find(port);
    if (it != g_servers.end() && Sockets().Find(it->second)) return it->second;
    int fd = -1;
    if (InitTcp(port, &fd, kBacklog) != 0) return -1;
    int32_t id = Sockets().Add(fd, NetSock::kListen);
    if (id < 0) return -1;
    g_servers[port] = id;
    return id;
}

int32_t HttpServerRecv(int32_t handle, HttpRequestIn& in, const SockWaiter*) {
    in = {};
    NetSockPtr sock = Sockets().Find(handle);
    std::lock_guard<std::mutex> lk(g_pendingLock);
    if (!sock) {
        if (auto it = g_pending.find(handle); it != g_pending.end()) {
            for (const Pending& p : it->second)
                Sockets().Close(p.conn);
            g_pending.erase(it);
        }
        return -1;
    }
    const bool listening = sock->GetKind() == NetSock::kListen;
    std::vector<Pending>& list = g_pending[handle];
    int32_t ready = WaitReadable(sock->Fd());
    if (ready < 0 && list.empty()) {
        g_pending.erase(handle);
        return -2;
    }
    if (ready > 0 && list.size() < kMaxPending) {
        if (!listening) {
            if (list.empty()) list.push_back({handle, {}, GetPeerAddr(sock->Fd()), GetTickCount()});
        } else {
            std::string address;
            int fd = TcpAcceptConn(sock->Fd(), address);
            int32_t conn = fd >= 0 ? Sockets().Add(fd, NetSock::kTcp) : -1;
            if (conn > 0) list.push_back({conn, {}, address, GetTickCount()});
        }
    }
    int32_t whole = -1;
    for (auto it = list.begin(); it != list.end() && whole < 0;) {
        Taken t = TakeWaiting(*it);
        if (t == Taken::kMore) {
            ++it;
            continue;
        }
        if (t == Taken::kWhole) {
            const size_t blank = it->data.find("\r\n\r\n");
            size_t length = 0;
            HttpContentLength(std::string_view(it->data).substr(0, blank + 4), length);
            in.header = it->data.substr(0, blank + 4);
            // A request without a length has no body.
            in.body = it->data.substr(blank + 4, length);
            in.length = int32_t(in.body.size());
            in.address = it->address;
            in.accepted = listening;
            whole = it->conn;
        } else {
            Sockets().Close(it->conn);
        }
        it = list.erase(it);
    }
    if (list.empty()) g_pending.erase(handle);
    return whole;
}

std::string HttpReplyHeader(std::string_view header, size_t length) {
    char line[64];
    if (header.empty()) {
        std::snprintf(line, sizeof line, "\r\nContent-Length: %zu\r\n\r\n", length);
        return "HTTP/1.1 200 OK\r\nServer: KarvelianPellom/1.7\r\nAccept-Ranges: bytes\r\nConnection: close\r\n"
               "Content-Type: */*\r\n" +
               LastModified() + line;
    }
    std::string out(header);
    if (out.find("\r\n\r\n") == std::string::npos) {
        // The caller's last line is completed first, so the added field and the blank line stand on their own.
        if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
        if (!ContainsNoCase(out, "Content-Length:")) {
            std::snprintf(line, sizeof line, "Content-Length: %zu\r\n", length);
            out += line;
        }
        out += "\r\n";
    }
    return out;
}

int32_t HttpServerSend(int32_t conn, std::string_view header, std::string_view body, const SockWaiter* waiter) {
    NetSockPtr sock = Sockets().Find(conn);
    if (!sock) return -1;
    if (header.empty() && body.empty()) {
        Sockets().Close(conn);
        return 0;
    }
    const std::string head = HttpReplyHeader(header, body.size());
    // A client that takes no reply holds the line no longer than it may take to send its request.
    int32_t last = SendAll(sock->Fd(), head.data(), head.size(), waiter, kRequestMs);
    if (last != int32_t(head.size())) {
        Sockets().Close(conn);
        return -1;
    }
    // The result is the body's send, which for an empty body sends nothing: 0.
    last = body.empty() ? 0 : SendAll(sock->Fd(), body.data(), body.size(), waiter, kRequestMs);
    if (ContainsNoCase(head, "close")) Sockets().Close(conn);
    return last;
}

int32_t HttpServerClose(int32_t handle) {
    {
        std::lock_guard<std::mutex> lk(g_pendingLock);
        if (auto it = g_pending.find(handle); it != g_pending.end()) {
            for (const Pending& p : it->second)
                if (p.conn != handle) Sockets().Close(p.conn);
            g_pending.erase(it);
        }
    }
    Sockets().Close(handle);
    return 0;
}

} // namespace zz
