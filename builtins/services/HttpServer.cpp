// The small HTTP server: listening handles by port, one request read per call, replies with a default header.
#include <ctime>
#include <map>
#include <mutex>

#include "builtins/services/Http.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr int64_t kRequestMs = 20000;
constexpr int32_t kBacklog = 10;

// Port -> listening handle; lines open their servers at start, several at once.
std::mutex g_serversLock;
std::map<int32_t, int32_t> g_servers;

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

int32_t HttpServerRecv(int32_t handle, HttpRequestIn& in, const SockWaiter* waiter) {
    in = {};
    NetSockPtr sock = Sockets().Find(handle);
    if (!sock) return -1;
    int32_t ready = WaitReadable(sock->Fd());
    if (ready == 0) return -1;
    if (ready < 0) return -2;
    int32_t conn = handle;
    NetSockPtr connSock = sock;
    if (sock->GetKind() == NetSock::kListen) {
        int fd = TcpAcceptConn(sock->Fd(), in.address);
        if (fd < 0) return -1;
        conn = Sockets().Add(fd, NetSock::kTcp);
        connSock = Sockets().Find(conn);
        if (!connSock) return -1;
        in.accepted = true;
    } else {
        in.address = GetPeerAddr(sock->Fd());
    }
    const int fd = connSock->Fd();
    std::string data;
    const size_t blank =
        RecvHttp(fd, data, kMaxHttpHead, kRequestMs, waiter) > 0 ? data.find("\r\n\r\n") : std::string::npos;
    size_t length = 0;
    if (blank == std::string::npos || (HttpContentLength(data.substr(0, blank + 4), length) && length > kMaxHttpBody)) {
        Sockets().Close(conn);
        in.accepted = false;
        return -1;
    }
    in.header = data.substr(0, blank + 4);
    // A request without a length has no body; bytes beyond the length are not this request's.
    in.body = data.substr(blank + 4, length);
    RecvHttpBody(fd, in.body, length, kRequestMs, waiter);
    in.length = int32_t(in.body.size());
    return conn;
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
    int32_t last = SendAll(sock->Fd(), head.data(), head.size(), waiter);
    if (last != int32_t(head.size())) {
        Sockets().Close(conn);
        return -1;
    }
    // The result is the body's send, which for an empty body sends nothing: 0.
    last = body.empty() ? 0 : SendAll(sock->Fd(), body.data(), body.size(), waiter);
    if (ContainsNoCase(head, "close")) Sockets().Close(conn);
    return last;
}

int32_t HttpServerClose(int32_t handle) {
    Sockets().Close(handle);
    return 0;
}

} // namespace zz
