#include "console/TagRemoteCtrl.h"

#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "platform/LittleEndian.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zz {

namespace {

std::atomic<TagRemoteCtrl::ConnCountSink> g_countSink{nullptr};

std::string PeerAddress(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    char text[INET_ADDRSTRLEN] = "";
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sin_family == AF_INET)
        ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

// A listening socket on every address: the descriptor, or -1.
int ListenOn(int32_t port, int32_t& bound) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(uint16_t(port));
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 10) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    bound = ntohs(addr.sin_port);
    return fd;
}

// Waits until one of fds is readable (or hung up); no time limit. Interrupted waits are resumed.
int WaitReadable(std::vector<pollfd>& fds) {
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), -1);
    } while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

// ---- one client

TagRemoteConn::TagRemoteConn(int32_t lineCount, int fd, TagMonitor* monitor, std::string address)
    : lines_(lineCount), fd_(fd), monitor_(monitor), address_(std::move(address)), lastAsked_(GetTickCount()),
      table_(size_t(lineCount > 0 ? lineCount : 0) * TagLineRec::kFields) {
    timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    for (int32_t line = 0; line < lines_; ++line) {
        TagLineRec r = monitor_ ? monitor_->Row(line) : TagLineRec{};
        for (int f = 0; f < TagLineRec::kFields; ++f) {
            bool user = f >= 5;
            table_[size_t(line) * TagLineRec::kFields + size_t(f)] = {1, uint8_t(user ? r.userFg : r.stateFg),
                                                                      uint8_t(user ? r.userBg : r.stateBg)};
        }
    }
}

TagRemoteConn::~TagRemoteConn() {
    if (fd_ >= 0) ::close(fd_);
}

void TagRemoteConn::Mark(int32_t line, int32_t field, int32_t fg, int32_t bg) {
    if (line < 0 || line >= lines_ || field < 0 || field >= TagLineRec::kFields) return;
    table_[size_t(line) * TagLineRec::kFields + size_t(field)] = {1, uint8_t(fg), uint8_t(bg)};
}

int TagRemoteConn::RecvRequest() {
    if (!alive_.load()) return 0;
    char buf[kRequestSize];
    ssize_t n;
    do {
        n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (n <= 0) {
        alive_ = false;
        return 0;
    }
    if (size_t(n) != kRequestSize) return 0;
    lastAsked_ = GetTickCount();
    return 1;
}

void TagRemoteConn::BuildAnswer(std::string& out, const std::string& status) {
    out.assign(6, '\0');
    uint8_t rec[5];
    for (int32_t line = 0; line < lines_ && out.size() < kAnswerCap; ++line) {
        for (int f = 0; f < TagLineRec::kFields && out.size() < kAnswerCap; ++f) {
            Entry& e = table_[size_t(line) * TagLineRec::kFields + size_t(f)];
            if (!e.changed) continue;
            e.changed = 0;
            PutLe16(rec, uint16_t(line));
            rec[2] = uint8_t(f);
            rec[3] = e.fg;
            rec[4] = e.bg;
            out.append(reinterpret_cast<const char*>(rec), sizeof rec);
            std::string text = monitor_ ? monitor_->Text(line, f) : std::string();
            out.append(text, 0, kTextMax);
            out.push_back('\0');
        }
    }
    PutLe16(rec, 0xFFFF);
    rec[2] = 0xFF;
    rec[3] = rec[4] = 0;
    out.append(reinterpret_cast<const char*>(rec), sizeof rec);
    out.append(status);
    out.push_back('\0');
    auto* head = reinterpret_cast<uint8_t*>(out.data());
    PutLe32(head, uint32_t(out.size() - 4));
    PutLe16(head + 4, uint16_t(lines_));
}

int TagRemoteConn::SendChanges(std::mutex& lock, const std::string& status) {
    std::string answer;
    {
        std::lock_guard<std::mutex> g(lock);
        BuildAnswer(answer, status);
    }
    ssize_t n;
    do {
        n = ::send(fd_, answer.data(), answer.size(), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n != ssize_t(answer.size())) {
        alive_ = false;
        return -2;
    }
    return 0;
}

// ---- the server

void TagRemoteCtrl::SetConnCountSink(ConnCountSink sink) {
    g_countSink.store(sink);
}

TagRemoteCtrl::TagRemoteCtrl(int32_t lineCount, int32_t port, int32_t maxConn, TagMonitor* monitor)
    : lines_(lineCount), port_(port), maxConn_(maxConn), monitor_(monitor) {
    if (maxConn_ < 1) return;
    listenFd_ = ListenOn(port_, boundPort_);
    if (listenFd_ < 0) {
        char text[96];
        std::snprintf(text, sizeof text, "Remote monitor: port %d cannot be opened (%s)", port_, std::strerror(errno));
        ShowMessage(text, "Karvelian System");
        return;
    }
    WriteRunLogF("hTcpSocket=%d...", listenFd_);
    if (monitor_) monitor_->SetNotify(this);
    listenThread_ = std::thread([this] { ListenTcpThread(); });
    serveThread_ = std::thread([this] { RemoteCtrlThread(); });
    WriteRunLogAlways("MonitorServer Running.");
    ShowConnCount();
}

TagRemoteCtrl::~TagRemoteCtrl() {
    stop_ = true;
    // The accepting thread waits on its socket alone, woken by the shut-down; the serving thread on wake_, which
    // it drains (a shared event would be drained under the other's feet, leaving it asleep).
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
    wake_.Signal();
    if (listenThread_.joinable()) listenThread_.join();
    if (serveThread_.joinable()) serveThread_.join();
    if (monitor_ && listenFd_ >= 0) monitor_->SetNotify(nullptr);
    {
        std::lock_guard<std::mutex> g(lock_);
        conns_.clear();
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    WriteRunLogAlways("~TagRemoteCtrl.");
}

void TagRemoteCtrl::NotifyField(int32_t line, int32_t field, int32_t fg, int32_t bg) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& [fd, conn] : conns_)
        conn->Mark(line, field, fg, bg);
}

void TagRemoteCtrl::SetStatusText(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    status_.assign(text, 0, GbkSafeCut(text, kStatusSize - 1));
}

std::string TagRemoteCtrl::StatusText() const {
    std::lock_guard<std::mutex> g(lock_);
    return status_;
}

size_t TagRemoteCtrl::ConnCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return conns_.size();
}

void TagRemoteCtrl::ShowConnCount() {
    if (ConnCountSink sink = g_countSink.load()) sink(int32_t(ConnCount()));
}

int TagRemoteCtrl::AddConn(int fd) {
    std::string address = PeerAddress(fd);
    WriteRunLogF("AddConn(hd=%d, ip=%s)", fd, address.c_str());
    DelConnByAddr(address);
    {
        std::lock_guard<std::mutex> g(lock_);
        if (conns_.count(fd) || int32_t(conns_.size()) >= maxConn_) return -1;
        conns_[fd] = std::make_shared<TagRemoteConn>(lines_, fd, monitor_, address);
    }
    wake_.Signal();
    ShowConnCount();
    WriteRunLogF("Monitor Conneted: %s, hd=%d", address.c_str(), fd);
    return 0;
}

void TagRemoteCtrl::DelConn(int fd) {
    std::shared_ptr<TagRemoteConn> gone;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = conns_.find(fd);
        if (it == conns_.end()) return;
        gone = std::move(it->second);
        conns_.erase(it);
    }
    WriteRunLogF("Monitor Disconneted: %s", gone->Address().c_str());
    wake_.Signal();
    ShowConnCount();
}

void TagRemoteCtrl::DelConnByAddr(const std::string& address) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (auto& [k, conn] : conns_)
            if (conn->Address() == address) fd = k;
    }
    if (fd >= 0) DelConn(fd);
}

void TagRemoteCtrl::ListenTcpThread() {
    WriteRunLogF("TagRemoteCtrl::ListenTcpThread(hd=%d)...", listenFd_);
    std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
    while (!stop_.load()) {
        if (WaitReadable(fds) < 0) break;
        if (stop_.load()) break;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        char ip[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        WriteRunLogF("ListenConnect(hd=%d, ip=%s)...", fd, ip);
        if (AddConn(fd) != 0) ::close(fd);
    }
    WriteRunLogAlways("TagRemoteCtrl::ListenTcpThread() End.");
}

void TagRemoteCtrl::ServePass(const std::vector<std::shared_ptr<TagRemoteConn>>& conns,
                              const std::vector<bool>& readable) {
    std::string status = StatusText();
    for (size_t i = 0; i < conns.size(); ++i) {
        TagRemoteConn& c = *conns[i];
        if (readable[i] && c.RecvRequest() == 1) c.SendChanges(lock_, status);
        if (!c.Alive()) DelConn(c.Fd());
    }
}

int32_t TagRemoteCtrl::DropIdle(std::vector<std::shared_ptr<TagRemoteConn>>& conns) {
    int32_t next = -1;
    std::vector<std::shared_ptr<TagRemoteConn>> kept;
    for (auto& c : conns) {
        uint32_t idle = c->IdleMs();
        if (idle >= kIdleDropMs) {
            WriteRunLogF("Monitor %s: no request for %u s, dropped", c->Address().c_str(), kIdleDropMs / 1000);
            DelConn(c->Fd());
            continue;
        }
        int32_t left = int32_t(kIdleDropMs - idle);
        if (next < 0 || left < next) next = left;
        kept.push_back(std::move(c));
    }
    conns = std::move(kept);
    return next;
}

void TagRemoteCtrl::RemoteCtrlThread() {
    WriteRunLogAlways("RemoteCtrlThread()...");
    std::vector<std::shared_ptr<TagRemoteConn>> conns;
    std::vector<pollfd> fds;
    std::vector<bool> readable;
    while (!stop_.load()) {
        conns.clear();
        {
            std::lock_guard<std::mutex> g(lock_);
            for (auto& [fd, c] : conns_)
                conns.push_back(c);
        }
        int32_t until = DropIdle(conns);
        fds.assign(1, pollfd{wake_.Fd(), POLLIN, 0});
        for (auto& c : conns)
            fds.push_back({c->Fd(), POLLIN, 0});
        int r;
        do {
            r = GetClock().Poll(fds.data(), fds.size(), until);
        } while (r < 0 && errno == EINTR);
        if (r < 0) break;
        if (r == 0) continue; // a client's time ran out
        if (fds[0].revents & POLLIN) wake_.Drain();
        if (stop_.load()) break;
        readable.assign(conns.size(), false);
        bool any = false;
        for (size_t i = 0; i < conns.size(); ++i)
            any |= readable[i] = (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        if (!any) continue;
        ServePass(conns, readable);
        // Paces each client to one answer per pass.
        wake_.WaitFor(kPassPauseMs, [this] { return stop_.load(); });
    }
    WriteRunLogAlways("RemoteCtrlThread() End.");
}

} // namespace zz
