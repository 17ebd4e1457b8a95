#include "telephony/sip/MsrpEngine.h"

#include "platform/FileHandle.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"
#include "telephony/sip/SipSdp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zz {

namespace {

constexpr size_t kMaxFrame = 1 << 20; // a peer that sends more without an end line is cut off

std::string Token(size_t n) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += chars[rng() % 36];
    return s;
}

uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

// "msrp://host:port/session;tcp" pieces.
bool ParsePath(const std::string& uri, std::string& host, int& port, std::string& session) {
    if (uri.compare(0, 7, "msrp://") != 0) return false;
    size_t slash = uri.find('/', 7);
    if (slash == std::string::npos) return false;
    std::string hp = uri.substr(7, slash - 7);
    size_t colon = hp.rfind(':');
    if (colon == std::string::npos) return false;
    host = hp.substr(0, colon);
    port = std::atoi(hp.c_str() + colon + 1);
    session = uri.substr(slash + 1, uri.find(';', slash) - slash - 1);
    return port > 0 && !session.empty();
}

// "name:\"a.txt\" type:text/plain size:123" of a file-selector.
std::string SelectorItem(const std::string& sel, const char* key) {
    std::string k = std::string(key) + ":";
    size_t at = sel.find(k);
    if (at == std::string::npos) return {};
    at += k.size();
    if (at < sel.size() && sel[at] == '"') {
        size_t end = sel.find('"', at + 1);
        return sel.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    return sel.substr(at, sel.find(' ', at) - at);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A received name as a file name of the local directory: no directories, no leading dots.
std::string SafeName(std::string name) {
    name = BaseName(name);
    for (char& c : name)
        if (c == '"' || c == '\0' || c == '\r' || c == '\n') c = '_';
    while (!name.empty() && name[0] == '.')
        name.erase(0, 1);
    return name.empty() ? "received.bin" : name;
}

bool Exists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

std::string FileSdp(const std::string& addr, int port, const std::string& uri, const std::string& direction,
                    const std::string& name, const std::string& type, int64_t size, const std::string& id) {
    std::string id0 = std::to_string(NowMs());
    return "v=0\r\no=- " + id0 + " " + id0 + " IN IP4 " + addr + "\r\ns=-\r\nc=IN IP4 " + addr +
           "\r\nt=0 0\r\nm=message " + std::to_string(port) + " TCP/MSRP *\r\na=" + direction +
           "\r\na=accept-types:*\r\na=path:" + uri + "\r\na=file-selector:name:\"" + name + "\" type:" + type +
           " size:" + std::to_string(size) + "\r\na=file-transfer-id:" + id + "\r\n";
}

} // namespace

struct MsrpEngine::Transfer {
    int handle = 0;
    bool sending = false;
    std::string id, session, uri, peerUri;
    std::string path, tempPath, name;
    int64_t size = 0;
    int64_t done = 0;      // bytes acknowledged (sender) or written (receiver)
    int64_t nextOffset = 0; // sender: the next chunk's first byte
    int64_t chunkLen = 0;   // sender: bytes of the chunk awaiting its 200
    std::string tid, msgId;
    FileHandle file;
    int fd = -1; // its connection
    int result = kUnderWay;
    bool started = false;
    int32_t maxSize = 0;
    uint64_t deadline = 0; // ms of the steady clock, 0 none
};

struct MsrpEngine::Conn {
    int fd = -1;
    bool connecting = false;
    bool inbound = false;  // accepted from a peer
    uint64_t accepted = 0; // its order among the accepted ones
    std::string in, out;
    int transfer = 0; // the transfer it carries, once known
};

MsrpEngine::MsrpEngine() = default;

MsrpEngine::~MsrpEngine() {
    TqrMsrpClose();
}

MsrpEngine::Transfer* MsrpEngine::Find(int handle) {
    auto it = transfers_.find(handle);
    return it == transfers_.end() ? nullptr : it->second.get();
}

std::string MsrpEngine::PathUri(const std::string& session) const {
    return "msrp://" + addr_ + ":" + std::to_string(port_) + "/" + session + ";tcp";
}

void MsrpEngine::Wake() {
    uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

// ---- start and stop

int MsrpEngine::TqrMsrpInit(int enabled, const char* addr, int port, const char* localPath, int poolNum) {
    TqrMsrpClose();
    std::lock_guard<std::mutex> g(m_);
    enabled_ = enabled != 0 && port > 0;
    localPath_ = MapPath(localPath ? localPath : "");
    pool_ = poolNum > 0 ? size_t(poolNum) : 64;
    if (!enabled_) return 0;
    std::string a = addr && *addr ? addr : "0.0.0.0";
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, a.c_str(), &sin.sin_addr);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        listen(listenFd_, 64) != 0) {
        WriteRunLogF("MSRP: port %d: %s", port, std::strerror(errno));
        if (listenFd_ >= 0) close(listenFd_);
        listenFd_ = -1;
        enabled_ = false;
        return -1;
    }
    port_ = port;
    // Paths are for the peer: the bound address, or when bound to any, this machine's address to the peer.
    addr_ = a;
    if (a == "0.0.0.0") {
        int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in dst{}, me{};
        dst.sin_family = AF_INET;
        dst.sin_port = htons(9);
        inet_pton(AF_INET, "192.0.2.1", &dst.sin_addr);
        socklen_t len = sizeof me;
        char buf[INET_ADDRSTRLEN] = "127.0.0.1";
        if (probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&dst), sizeof dst) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&me), &len) == 0)
            inet_ntop(AF_INET, &me.sin_addr, buf, sizeof buf);
        if (probe >= 0) close(probe);
        addr_ = buf;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    quit_ = false;
    thread_ = std::thread([this] { Thread(); });
    return 0;
}

int MsrpEngine::TqrMsrpClose() {
    {
        std::lock_guard<std::mutex> g(m_);
        quit_ = true;
        Wake();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> g(m_);
    for (auto& [fd, c] : conns_)
        close(fd);
    conns_.clear();
    for (auto& [h, t] : transfers_)
        if (!t->tempPath.empty() && t->result != kDone) unlink(t->tempPath.c_str());
    transfers_.clear();
    if (listenFd_ >= 0) close(listenFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
    enabled_ = false;
    port_ = 0;
    return 0;
}

// ---- the lines' side

int MsrpEngine::TqrMsrpFileSend(const char* path, std::string& id, std::string& localUri, int32_t& size,
                                std::string& offer) {
    std::lock_guard<std::mutex> g(m_);
    if (!enabled_) return -1;
    if (transfers_.size() >= pool_) return -2;
    std::string p = ResolvePath(path ? path : "");
    auto t = std::make_unique<Transfer>();
    t->file = FileHandle::Open(p.c_str(), "rb");
    struct stat st{};
    if (!t->file || fstat(fileno(t->file.get()), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > INT32_MAX)
        return -3;
    nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    t->handle = nextHandle_;
    t->sending = true;
    t->path = p;
    t->name = SafeName(p);
    t->size = st.st_size;
    if (id.empty()) id = Token(16);
    t->id = id.substr(0, 1023);
    t->session = Token(12);
    t->uri = PathUri(t->session);
    localUri = t->uri;
    size = int32_t(t->size);
    offer = FileSdp(addr_, port_, t->uri, "sendonly", t->name, "application/octet-stream", t->size, t->id);
    int h = t->handle;
    transfers_[h] = std::move(t);
    return h;
}

int MsrpEngine::TqrMsrpFileRecv(int32_t maxSeconds, const char* offer, int32_t maxSize, std::string& answer,
                                std::string& localPath, std::string& name, int32_t& size, std::string& id) {
    std::lock_guard<std::mutex> g(m_);
    if (!enabled_) return -1;
    if (transfers_.size() >= pool_) return -2;
    std::string peerUri, selector, fid;
    for (const auto& [k, v] : SdpAttributes(offer ? offer : "")) {
        if (k == "path") peerUri = v.substr(0, v.find(' '));
        if (k == "file-selector") selector = v;
        if (k == "file-transfer-id") fid = v;
    }
    std::string host, session;
    int port = 0;
    if (!ParsePath(peerUri, host, port, session) || selector.empty()) return -3;
    int64_t fsize = std::atoll(SelectorItem(selector, "size").c_str());
    if (fsize < 0 || fsize > INT32_MAX || (maxSize > 0 && fsize > maxSize)) return -4;
    auto t = std::make_unique<Transfer>();
    t->name = SafeName(SelectorItem(selector, "name"));
    std::string dir = localPath_.empty() ? std::string(".") : localPath_;
    std::string target = dir + "/" + t->name;
    for (int n = 1; Exists(target) && n < 1000; ++n) {
        size_t dot = t->name.rfind('.');
        std::string stem = dot == std::string::npos ? t->name : t->name.substr(0, dot);
        std::string ext = dot == std::string::npos ? std::string() : t->name.substr(dot);
        target = dir + "/" + stem + "_" + std::to_string(n) + ext;
    }
    t->path = target;
    t->tempPath = target + ".part";
    t->file = FileHandle::Open(t->tempPath.c_str(), "wb");
    if (!t->file) return -5;
    nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    t->handle = nextHandle_;
    t->size = fsize;
    t->id = fid.empty() ? Token(16) : fid;
    t->peerUri = peerUri;
    t->session = Token(12);
    t->uri = PathUri(t->session);
    t->maxSize = maxSize;
    if (maxSeconds > 0) t->deadline = NowMs() + uint64_t(maxSeconds) * 1000;
    answer = FileSdp(addr_, port_, t->uri, "recvonly", t->name, SelectorItem(selector, "type"), fsize, t->id);
    localPath = t->path;
    name = t->name;
    size = int32_t(fsize);
    id = t->id;
    int h = t->handle;
    transfers_[h] = std::move(t);
    return h;
}

int MsrpEngine::TqrMsrpFileRecvStart(int handle, int) {
    std::lock_guard<std::mutex> g(m_);
    Transfer* t = Find(handle);
    if (!t || t->sending) return -1;
    t->started = true;
    // An empty file has nothing to wait for.
    if (t->size == 0) Finish(*t, kDone);
    Wake();
    return 0;
}

int MsrpEngine::TqrMsrpFileCheck(int handle, int32_t& done, int32_t& total) {
    std::lock_guard<std::mutex> g(m_);
    Transfer* t = Find(handle);
    if (!t) return kUnknown;
    done = int32_t(t->done);
    total = int32_t(t->size);
    return t->result;
}

int MsrpEngine::TqrMsrpFileEnd(int handle) {
    std::lock_guard<std::mutex> g(m_);
    Transfer* t = Find(handle);
    if (!t) return -1;
    if (t->fd >= 0) CloseConn(t->fd);
    t->file.Close();
    if (t->result != kDone && !t->tempPath.empty()) unlink(t->tempPath.c_str());
    transfers_.erase(handle);
    return 0;
}

int MsrpEngine::TqrMsrpProcAnswer(const char* answer) {
    std::lock_guard<std::mutex> g(m_);
    if (!enabled_) return -1;
    std::string peerUri, fid;
    for (const auto& [k, v] : SdpAttributes(answer ? answer : "")) {
        if (k == "path") peerUri = v.substr(0, v.find(' '));
        if (k == "file-transfer-id") fid = v;
    }
    Transfer* t = nullptr;
    for (auto& [h, x] : transfers_)
        if (x->sending && x->id == fid && x->fd < 0 && x->result == kUnderWay) t = x.get();
    std::string host, session;
    int port = 0;
    if (!t) return -1;
    if (!ParsePath(peerUri, host, port, session)) return -2;
    t->peerUri = peerUri;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(uint16_t(port));
    if (fd < 0 || inet_pton(AF_INET, host.c_str(), &sin.sin_addr) != 1 ||
        (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 && errno != EINPROGRESS)) {
        if (fd >= 0) close(fd);
        Finish(*t, kConnectFailed);
        return t->handle;
    }
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->connecting = true;
    c->transfer = t->handle;
    t->fd = fd;
    conns_[fd] = std::move(c);
    Wake();
    return t->handle;
}

// ---- the thread

void MsrpEngine::Thread() {
    for (;;) {
        std::vector<pollfd> fds;
        int timeout = -1;
        {
            std::lock_guard<std::mutex> g(m_);
            if (quit_) return;
            fds.push_back({wakeFd_, POLLIN, 0});
            // A listener whose accept failed for want of descriptors stays readable: it is looked at again a
            // second later rather than at once.
            uint64_t now0 = NowMs();
            bool resting = acceptRestUntil_ > now0;
            fds.push_back({listenFd_, short(resting ? 0 : POLLIN), 0});
            if (resting) timeout = int(acceptRestUntil_ - now0);
            for (auto& [fd, c] : conns_)
                fds.push_back({fd, short(POLLIN | (c->connecting || !c->out.empty() ? POLLOUT : 0)), 0});
            uint64_t now = NowMs();
            for (auto& [h, t] : transfers_) {
                if (!t->deadline || t->result != kUnderWay) continue;
                if (t->deadline <= now) {
                    if (t->fd >= 0) CloseConn(t->fd);
                    Finish(*t, kTimedOut);
                    continue;
                }
                int left = int(t->deadline - now);
                timeout = timeout < 0 ? left : std::min(timeout, left);
            }
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
        std::lock_guard<std::mutex> g(m_);
        if (quit_) return;
        if (fds[0].revents) {
            uint64_t n;
            (void)!read(wakeFd_, &n, sizeof n);
        }
        if (fds[1].revents & POLLIN) Accept();
        for (size_t i = 2; i < fds.size(); ++i) {
            auto it = conns_.find(fds[i].fd);
            if (it == conns_.end() || !fds[i].revents) continue;
            Conn& c = *it->second;
            if (fds[i].revents & (POLLOUT | POLLERR | POLLHUP) && c.connecting) {
                int err = 0;
                socklen_t len = sizeof err;
                getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                Transfer* t = Find(c.transfer);
                if (err) {
                    if (t) Finish(*t, kConnectFailed);
                    CloseConn(c.fd);
                    continue;
                }
                c.connecting = false;
                if (t) SendChunk(*t);
                if (!conns_.count(fds[i].fd)) continue;
            }
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                Read(c);
                if (!conns_.count(fds[i].fd)) continue;
            }
            if (fds[i].revents & POLLOUT) Flush(c);
        }
    }
}

void MsrpEngine::Accept() {
    for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptRestUntil_ = NowMs() + 1000;
            return;
        }
        // Peers hold at most as many connections as there are transfers at once: beyond that the oldest one that
        // carries no transfer makes room, or the new one is refused.
        size_t inbound = 0;
        Conn* idle = nullptr;
        for (auto& [f, c] : conns_) {
            if (!c->inbound) continue;
            ++inbound;
            if (!Find(c->transfer) && (!idle || c->accepted < idle->accepted)) idle = c.get();
        }
        if (inbound >= pool_) {
            if (!idle) {
                close(fd);
                continue;
            }
            CloseConn(idle->fd);
        }
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->inbound = true;
        c->accepted = ++accepted_;
        conns_[fd] = std::move(c);
    }
}

void MsrpEngine::CloseConn(int fd) {
    auto it = conns_.find(fd);
    if (it == conns_.end()) return;
    if (Transfer* t = Find(it->second->transfer); t && t->fd == fd) {
        t->fd = -1;
        if (t->result == kUnderWay) Finish(*t, t->sending ? kConnectFailed : kAborted);
    }
    close(fd);
    conns_.erase(it);
}

void MsrpEngine::Read(Conn& c) {
    char buf[16384];
    int fd = c.fd;
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            c.in.append(buf, size_t(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            while (conns_.count(fd) && Frame(c)) {
            }
            CloseConn(fd);
            return;
        }
        break;
    }
    while (conns_.count(fd) && Frame(c)) {
    }
    if (conns_.count(fd) && c.in.size() > kMaxFrame) CloseConn(fd);
}

void MsrpEngine::Flush(Conn& c) {
    while (!c.out.empty()) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) CloseConn(c.fd);
            return;
        }
        c.out.erase(0, size_t(n));
    }
}

// One request or response off the front of the connection's input; false when it is not all there yet.
bool MsrpEngine::Frame(Conn& c) {
    const int fd = c.fd;
    size_t eol = c.in.find("\r\n");
    if (eol == std::string::npos) return false;
    std::string first = c.in.substr(0, eol);
    if (first.compare(0, 5, "MSRP ") != 0) {
        CloseConn(fd);
        return false;
    }
    size_t sp = first.find(' ', 5);
    std::string tid = first.substr(5, sp - 5);
    std::string rest = sp == std::string::npos ? std::string() : first.substr(sp + 1);
    std::string marker = "-------" + tid;
    size_t end = c.in.find("\r\n" + marker, eol);
    if (end == std::string::npos || end + 2 + marker.size() + 3 > c.in.size()) return false;
    char flag = c.in[end + 2 + marker.size()];
    size_t frameEnd = end + 2 + marker.size() + 3;
    // Header fields up to a blank line (then the body) or up to the end line.
    std::map<std::string, std::string> h;
    size_t blank = c.in.find("\r\n\r\n", eol);
    size_t headEnd = blank != std::string::npos && blank < end ? blank : end;
    for (size_t pos = eol + 2; pos < headEnd;) {
        size_t next = c.in.find("\r\n", pos);
        if (next == std::string::npos || next > headEnd) next = headEnd;
        std::string line = c.in.substr(pos, next - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos)
            h[line.substr(0, colon)] = line.substr(colon + 1 + (colon + 1 < line.size() && line[colon + 1] == ' '));
        pos = next + 2;
    }
    std::string body = blank != std::string::npos && blank < end ? c.in.substr(blank + 4, end - blank - 4) : "";
    c.in.erase(0, frameEnd);
    if (rest.compare(0, 4, "SEND") == 0)
        TakeSend(c, tid, h, body, flag);
    else if (!rest.empty() && isdigit(static_cast<unsigned char>(rest[0])))
        TakeResponse(c, tid, std::atoi(rest.c_str()));
    return conns_.count(fd) != 0;
}

void MsrpEngine::TakeSend(Conn& c, const std::string& tid, const std::map<std::string, std::string>& h,
                          const std::string& body, char flag) {
    auto field = [&](const char* n) {
        auto it = h.find(n);
        return it == h.end() ? std::string() : it->second;
    };
    std::string to = field("To-Path"), from = field("From-Path");
    std::string host, session;
    int port = 0;
    Transfer* t = nullptr;
    if (ParsePath(to.substr(0, to.find(' ')), host, port, session))
        for (auto& [hd, x] : transfers_)
            if (!x->sending && x->session == session && x->started && x->result == kUnderWay) t = x.get();
    auto respond = [&](int code, const char* phrase) {
        c.out += "MSRP " + tid + " " + std::to_string(code) + " " + phrase + "\r\nTo-Path: " + from +
                 "\r\nFrom-Path: " + to + "\r\n-------" + tid + "$\r\n";
        Flush(c);
    };
    if (!t) {
        respond(481, "Session Does Not Exist");
        return;
    }
    c.transfer = t->handle;
    t->fd = c.fd;
    // Byte-Range: first-last/total, counted from 1.
    std::string range = field("Byte-Range");
    int64_t first = std::atoll(range.c_str());
    if (first < 1) first = 1;
    if (flag == '#') {
        respond(200, "OK");
        Finish(*t, kAborted);
        return;
    }
    // The chunk ends within the file (computed so that a start near the largest number cannot overflow).
    if (int64_t(body.size()) > t->size || first - 1 > t->size - int64_t(body.size())) {
        respond(413, "Message Too Large");
        Finish(*t, kFileError);
        return;
    }
    if (!body.empty() &&
        (std::fseek(t->file.get(), long(first - 1), SEEK_SET) != 0 ||
         std::fwrite(body.data(), 1, body.size(), t->file.get()) != body.size())) {
        respond(500, "Write Error");
        Finish(*t, kFileError);
        return;
    }
    t->done += int64_t(body.size());
    respond(200, "OK");
    if (flag == '$' && t->done >= t->size) Finish(*t, kDone);
}

void MsrpEngine::TakeResponse(Conn& c, const std::string& tid, int code) {
    Transfer* t = Find(c.transfer);
    if (!t || !t->sending || tid != t->tid || t->result != kUnderWay) return;
    if (code != 200) {
        Finish(*t, kAborted);
        return;
    }
    t->done += t->chunkLen;
    if (t->nextOffset >= t->size && t->done >= t->size)
        Finish(*t, kDone);
    else
        SendChunk(*t);
}

void MsrpEngine::SendChunk(Transfer& t) {
    auto it = conns_.find(t.fd);
    if (it == conns_.end()) return;
    Conn& c = *it->second;
    int64_t len = std::min<int64_t>(int64_t(kChunk), t.size - t.nextOffset);
    std::string data(size_t(len), '\0');
    if (len > 0 && (std::fseek(t.file.get(), long(t.nextOffset), SEEK_SET) != 0 ||
                    std::fread(data.data(), 1, size_t(len), t.file.get()) != size_t(len))) {
        Finish(t, kFileError);
        return;
    }
    if (t.msgId.empty()) t.msgId = Token(10);
    t.tid = Token(10);
    int64_t firstByte = t.nextOffset + 1, last = t.nextOffset + len;
    t.nextOffset += len;
    t.chunkLen = len;
    bool final = t.nextOffset >= t.size;
    c.out += "MSRP " + t.tid + " SEND\r\nTo-Path: " + t.peerUri + "\r\nFrom-Path: " + t.uri + "\r\nMessage-ID: " +
             t.msgId + "\r\nByte-Range: " + std::to_string(firstByte) + "-" + std::to_string(last) + "/" +
             std::to_string(t.size) + "\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n-------" +
             t.tid + (final ? "$" : "+") + "\r\n";
    Flush(c);
}

int MsrpEngine::WaitDone(int handle, uint32_t ms) {
    std::unique_lock<std::mutex> g(m_);
    finished_.wait_for(g, std::chrono::milliseconds(ms), [&] {
        Transfer* t = Find(handle);
        return !t || t->result != kUnderWay;
    });
    Transfer* t = Find(handle);
    return t ? t->result : kUnknown;
}

void MsrpEngine::Finish(Transfer& t, int result) {
    if (t.result != kUnderWay) return;
    t.result = result;
    finished_.notify_all();
    if (t.sending) {
        t.file.Close();
        // The receiver has it all: the connection has done its work.
        if (result == kDone && t.fd >= 0) CloseConn(t.fd);
        return;
    }
    // The received file appears under its name only when it is whole.
    if (t.file.Close() != 0 && result == kDone) t.result = result = kFileError;
    if (result == kDone) {
        if (std::rename(t.tempPath.c_str(), t.path.c_str()) != 0) t.result = kFileError;
    } else {
        unlink(t.tempPath.c_str());
    }
}

} // namespace zz
