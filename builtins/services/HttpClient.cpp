// The HTTP client: one request per connection ("Connection: close"), the reply read by its Content-Length, as
// chunks, or to the end of the connection when it announces neither.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "builtins/services/Http.h"
#include "platform/Clock.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr int64_t kConnectMs = 4000;
constexpr int64_t kHeadMs = 8000;
constexpr int64_t kBodyIdleMs = 8000;
constexpr int64_t kChunkMs = 4000;
constexpr size_t kPiece = 2047;
constexpr int kMaxInterim = 205;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() { close(fd_); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

struct Target {
    std::string host;
    int32_t port = 80;
    std::string path;
};

// Skips a scheme ("//"); the host ends at a ':' that comes before the first '/', else at the first '/'; the
// path is the text from the first '/' on, or the whole address when it has none.
Target SplitAddress(std::string_view address) {
    Target t;
    if (size_t s = address.find("//"); s != std::string_view::npos) address.remove_prefix(s + 2);
    size_t slash = address.find('/');
    size_t colon = address.find(':');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        t.host = address.substr(0, colon);
        t.port = std::atoi(std::string(address.substr(colon + 1)).c_str());
    } else {
        t.host = address.substr(0, slash);
    }
    t.path = slash == std::string_view::npos ? address : address.substr(slash);
    return t;
}

// A status line of an interim reply (1xx other than 101) heads data.
bool IsInterim(std::string_view data) {
    if (!StartsWithNoCase(data, "HTTP/")) return false;
    size_t sp = data.find(' ');
    if (sp == std::string_view::npos || sp + 4 > data.size()) return false;
    int code = std::atoi(std::string(data.substr(sp + 1, 3)).c_str());
    return code >= 100 && code < 200 && code != 101;
}

// Milliseconds until the tick count deadline; 0 or below once it has passed.
int64_t Left(uint32_t deadline) {
    return int32_t(deadline - GetTickCount());
}

int32_t BadReply(HttpReply& reply, const char* why) {
    WriteRunLog(why);
    reply.body.clear();
    reply.length = -2;
    return -2;
}

int32_t ReadChunked(int fd, const std::string& data, size_t headEnd, uint32_t deadline, HttpReply& reply,
                    const SockWaiter* waiter) {
    TagChunkProc chunks;
    std::string pending = data.substr(headEnd);
    WriteRunLog("push 1");
    for (;;) {
        // Feed what is there; an incomplete size line waits for the next read.
        int32_t ret = 0;
        size_t used = 0;
        while (used < pending.size()) {
            const int32_t count = int32_t(pending.size() - used);
            ret = chunks.Push(pending.data() + used, count);
            if (ret < 0 || ret == count) break;
            used += size_t(count - ret);
        }
        pending.erase(0, used);
        if (ret == -1) return BadReply(reply, "push ret=-1");
        if (ret == -2) break;
        char buf[kPiece];
        const int32_t k = RecvSome(fd, buf, sizeof buf, waiter, std::min(kChunkMs, Left(deadline)));
        if (k <= 0) return BadReply(reply, "isChunked Recv Timeout.");
        pending.append(buf, size_t(k));
    }
    WriteRunLog("CopyTo");
    reply.length = chunks.TakeBody(reply.body);
    WriteRunLog("HttpProc end.");
    return reply.length;
}

} // namespace

void RecvHttpBody(int fd, std::string& data, size_t want, int64_t idleMs, uint32_t deadline, const SockWaiter* waiter) {
    want = std::min(want, kMaxHttpBody + 1);
    char buf[16384];
    while (data.size() < want) {
        const int64_t left = Left(deadline);
        if (left <= 0) return;
        int32_t k = RecvSome(fd, buf, std::min(sizeof buf, want - data.size()), waiter, std::min(idleMs, left));
        if (k <= 0) return;
        data.append(buf, size_t(k));
    }
}

bool ContainsNoCase(std::string_view s, std::string_view word) {
    for (size_t i = 0; i + word.size() <= s.size(); ++i)
        if (StartsWithNoCase(s.substr(i), word)) return true;
    return false;
}

bool HttpContentLength(std::string_view header, size_t& length) {
    std::string v;
    if (!HttpHeaderValue(header, "Content-Length", v)) return false;
    length = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        length = length * 10 + size_t(c - '0');
        if (length > kMaxHttpBody) {
            length = kMaxHttpBody + 1;
            break;
        }
    }
    return true;
}

bool HttpHeaderValue(std::string_view header, std::string_view name, std::string& value) {
    size_t pos = header.find("\r\n"); // the status or request line carries no field
    while (pos != std::string_view::npos && pos + 2 < header.size()) {
        pos += 2;
        size_t end = header.find("\r\n", pos);
        std::string_view line = header.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
            line.remove_prefix(name.size() + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
                line.remove_suffix(1);
            value = line;
            return true;
        }
        pos = end;
    }
    return false;
}

// A chunk's size line: hex digits, then blanks or a ";" extension. Anything else is no size (strtoul read "ZZZ"
// as 0, the last chunk).
static bool ChunkSize(std::string_view line, size_t& size) {
    size = 0;
    size_t i = 0;
    for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i)
        size = size * 16 +
               size_t(std::isdigit(static_cast<unsigned char>(line[i])) ? line[i] - '0' : (line[i] | 0x20) - 'a' + 10);
    if (i == 0) return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return i == line.size() || line[i] == ';';
}

int32_t TagChunkProc::Push(const char* data, int32_t count) {
    if (count <= 0) return 0;
    int32_t at = 0;
    if (need_ == 0) {
        std::string_view rest(data, size_t(count));
        size_t crlf = rest.find("\r\n");
        if (crlf == std::string_view::npos) return count >= 11 ? -1 : count;
        if (crlf >= 9) return -1;
        size_t size = 0;
        if (!ChunkSize(rest.substr(0, crlf), size)) return -1;
        if (size == 0) return -2;
        if (size > kMaxHttpBody - data_.size()) return -1;
        need_ = size + 2;
        at = int32_t(crlf + 2);
    }
    const size_t take = std::min(size_t(count - at), need_);
    // The data goes on the body; the chunk's closing CR LF (its last 2 needed bytes) must be there, or the
    // chunk's size lied and what follows is no chunk.
    const size_t dataLeft = need_ > 2 ? need_ - 2 : 0;
    const size_t dataTake = std::min(take, dataLeft);
    for (size_t i = dataTake; i < take; ++i)
        if (data[size_t(at) + i] != "\r\n"[2 - (need_ - i)]) return -1;
    data_.append(data + at, dataTake);
    need_ -= take;
    if (need_ == 0) complete_ = data_.size();
    return count - at - int32_t(take);
}

int32_t TagChunkProc::CopyTo(std::string& body) const {
    if (complete_ < 1) return 0;
    body.assign(data_, 0, complete_);
    return int32_t(complete_);
}

int32_t TagChunkProc::TakeBody(std::string& body) {
    data_.resize(complete_);
    body = std::move(data_);
    data_.clear();
    complete_ = need_ = 0;
    return int32_t(body.size());
}

int32_t RecvHttp(int fd, std::string& data, size_t limit, int64_t ms, const SockWaiter* waiter) {
    data.clear();
    if (fd < 0) return -1;
    const uint32_t start = GetTickCount();
    char buf[kPiece];
    while (data.size() < limit && data.find("\r\n\r\n") == std::string::npos) {
        const int64_t left = ms - int64_t(TicksSince(start));
        if (left <= 0) return 0;
        int32_t k = RecvSome(fd, buf, sizeof buf, waiter, left);
        if (k <= 0) {
            if (k == 0 && int64_t(TicksSince(start)) >= ms) return 0;
            break;
        }
        data.append(buf, size_t(k));
    }
    return int32_t(data.size());
}

int32_t HttpRequest(const char* address, const char* method, std::string_view body, const char* contentType,
                    HttpReply& reply, const SockWaiter* waiter) {
    reply = {};
    const uint32_t deadline = GetTickCount() + uint32_t(kHttpRequestMs);
    const Target t = SplitAddress(address ? address : "");
    int fd = -1;
    if (TcpConnectWait(&fd, t.host.c_str(), t.port, kConnectMs, waiter) != 0) {
        WriteRunLogF("HTTP: Connect '%s:%d' Failed!", t.host.c_str(), t.port);
        return -1;
    }
    FdCloser closer(fd);

    std::string verb = method ? method : "";
    if (verb.size() >= 80) verb.resize(20);
    for (char& c : verb)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    char line[256];
    std::string head = verb + " " + t.path + " HTTP/1.1\r\n";
    std::snprintf(line, sizeof line, "Host: %s:%d\r\n", t.host.c_str(), t.port);
    head += line;
    head += "Connection: close\r\nUser-Agent: KarvelianHttp/1.0\r\nAccept: */*\r\n";
    if (body.empty()) {
        head += "\r\n";
    } else {
        head += "Content-type: ";
        head += contentType ? contentType : "";
        std::snprintf(line, sizeof line, "\r\nContent-Length: %zu\r\n\r\n", body.size());
        head += line;
    }
    if (SendAll(fd, head.data(), head.size(), waiter, Left(deadline)) != int32_t(head.size()) ||
        (!body.empty() && SendAll(fd, body.data(), body.size(), waiter, Left(deadline)) != int32_t(body.size()))) {
        WriteRunLogF("HTTP: send('%s') Failed, %d", t.host.c_str(), errno);
        return -2;
    }

    std::string data;
    int32_t got = RecvHttp(fd, data, kMaxHttpHead, std::min(kHeadMs, Left(deadline)), waiter);
    WriteRunLogF("HtmlRecv: (hd='%d') : %d", fd, got);
    // Interim replies (100 Continue) go before the real header: drop them and read on.
    for (int i = 0; got > 0 && i < kMaxInterim && IsInterim(data); ++i) {
        size_t end = data.find("\r\n\r\n");
        if (end == std::string::npos) break;
        data.erase(0, end + 4);
        if (data.find("\r\n\r\n") != std::string::npos) continue;
        std::string more;
        got = RecvHttp(fd, more, kMaxHttpHead, std::min(kHeadMs, Left(deadline)), waiter);
        data += more;
    }
    if (got <= 0) {
        WriteRunLog("Recv Head Failed.");
        return got;
    }
    const size_t blank = data.find("\r\n\r\n");
    if (blank == std::string::npos) return BadReply(reply, "isChunked Not found Body.");
    const size_t headEnd = blank + 4;
    reply.header = data.substr(0, headEnd);

    std::string value;
    if (HttpHeaderValue(reply.header, "Transfer-Encoding", value) && ContainsNoCase(value, "chunked"))
        return ReadChunked(fd, data, headEnd, deadline, reply, waiter);
    // Neither length nor chunks: the body ends with the connection.
    size_t want = kMaxHttpBody + 1;
    const bool announced = HttpContentLength(reply.header, want);
    if (announced && want > kMaxHttpBody) return BadReply(reply, "HTTP: reply body over the limit refused");
    // Room for the announced body at once, so that it grows in place.
    if (announced) reply.body.reserve(want);
    reply.body.assign(data, headEnd, want);
    RecvHttpBody(fd, reply.body, want, kBodyIdleMs, deadline, waiter);
    if (reply.body.size() > kMaxHttpBody) return BadReply(reply, "HTTP: reply body over the limit refused");
    if (announced && reply.body.size() < want) return BadReply(reply, "HTTP: reply body cut short");
    if (!announced && Left(deadline) <= 0) return BadReply(reply, "HTTP: no whole reply in time");
    reply.length = int32_t(reply.body.size());
    return reply.length;
}

} // namespace zz
