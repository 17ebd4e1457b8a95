#include "telephony/card/CardControl.h"

#include "platform/PathMap.h"
#include "telephony/card/CardSim.h"
#include "telephony/card/CardSimChan.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

namespace zz {

namespace {

constexpr size_t kMaxClients = 16;
constexpr size_t kMaxLine = 4096;
// Answers held for a client that does not read them; beyond this its further lines wait.
constexpr size_t kMaxPendingAnswers = 64 * 1024;

// A file name of the port: relative to the card folder and never leaving it (no absolute or drive path, no
// "..", no control characters), so that the port reads and writes nothing else as the platform's user.
bool InCardFolder(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':')) return false;
    size_t from = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && static_cast<unsigned char>(name[i]) < 0x20) return false;
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (name.compare(from, i - from, "..") == 0) return false;
            from = i + 1;
        }
    }
    return true;
}

// A file the port reads (AUDIO, FAX): its real path, or why not. Symbolic links are followed only while they stay
// in the card folder, and only plain files are read (a FIFO would hold up the port).
std::string FileToRead(const std::string& folder, const std::string& name, std::string& real) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::canonical(folder.empty() ? "." : folder, ec);
    if (ec) return "no card folder " + folder;
    const fs::path path = fs::canonical(ResolvePath(folder + name), ec);
    if (ec) return "cannot read " + name;
    if (std::mismatch(base.begin(), base.end(), path.begin(), path.end()).first != base.end())
        return "not a file of the card folder: " + name;
    if (!fs::is_regular_file(path, ec)) return name + " is not a plain file";
    real = path.string();
    return {};
}

// SAVE writes into a folder of the port's own, "saved/" in the card folder, so that a recording never replaces
// a file the card or a script reads. The name is a plain file name; a symbolic link or anything but a plain file
// in its place is refused. The channel's sound is taken only once the file is open, so a refusal loses none of it.
// An empty string, or why not; bytes: how many were written.
std::string SaveWav(CardSim& sim, int32_t ch, const std::string& name, size_t& bytes) {
    const std::string dir = sim.Folder() + "saved";
    if (mkdir(dir.c_str(), 0770) != 0 && errno != EEXIST) return "cannot make " + dir + ": " + std::strerror(errno);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dfd < 0) return "cannot open " + dir + ": " + std::strerror(errno);
    int fd = openat(dfd, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0660);
    const int openErr = errno;
    close(dfd);
    if (fd < 0) return "cannot write saved/" + name + ": " + std::strerror(openErr);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0) {
        close(fd);
        return "saved/" + name + " is not a plain file";
    }
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        return "cannot write saved/" + name;
    }
    std::vector<uint8_t> out = sim.TakeOutput(ch);
    bytes = out.size();
    return WriteAlawWav(f, out) ? std::string() : "cannot write saved/" + name;
}

// Milliseconds of NOISE: -1 when the text is no whole number, LONG_MAX when it is beyond any bound.
long ParseMs(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return text.size() > 9 ? LONG_MAX : std::atol(text.c_str());
}

std::string Hex(const std::vector<uint8_t>& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& out) {
    out.clear();
    std::string h;
    for (char c : s)
        if (c != ' ' && c != ':') h += c;
    if (h.empty() || h.size() % 2) return false;
    for (size_t i = 0; i < h.size(); i += 2) {
        char* end = nullptr;
        std::string byte = h.substr(i, 2);
        long v = std::strtol(byte.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(uint8_t(v));
    }
    return true;
}

std::string Answer(int32_t r) {
    return r >= 0 ? "OK" : "ERR " + CardSim::FarRefusal();
}

std::string Join(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& i : items)
        s += (s.empty() ? "" : " ") + i;
    return s;
}

} // namespace

CardControl::CardControl(CardSim& sim) : sim_(sim) {}

CardControl::~CardControl() {
    if (stopFd_ >= 0) {
        uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) close(listen_);
    if (stopFd_ >= 0) close(stopFd_);
}

int32_t CardControl::Start(int32_t port) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (listen_ < 0 || stopFd_ < 0) return -1;
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(listen_, 8) < 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) < 0)
        return -1;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
    return port_;
}

void CardControl::Serve() {
    std::vector<Client> clients;
    uint64_t tick = 0; // counts the port's activity; a client's last use orders who is dropped when full
    for (;;) {
        std::vector<pollfd> fds = {{stopFd_, POLLIN, 0}, {listen_, POLLIN, 0}};
        // A client with answers still to take is only written to: it reads on at its own pace, and nobody waits.
        for (const Client& c : clients)
            fds.push_back({c.fd, short(c.out.empty() ? POLLIN : POLLOUT), 0});
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents) break;
        // Only the clients that were polled are served; a new one joins after them.
        for (size_t i = 0; i < fds.size() - 2; ++i) {
            if (!fds[i + 2].revents) continue;
            clients[i].seen = ++tick;
            if (!ServeClient(clients[i], fds[i + 2].revents)) {
                close(clients[i].fd);
                clients[i].fd = -1;
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
        if (fds[1].revents & POLLIN) {
            int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) continue;
            if (clients.size() >= kMaxClients) {
                // Full: the client quiet the longest makes room, so idle connections cannot lock the port.
                auto quiet = std::min_element(clients.begin(), clients.end(),
                                              [](const Client& a, const Client& b) { return a.seen < b.seen; });
                close(quiet->fd);
                clients.erase(quiet);
            }
            clients.push_back({fd, {}, {}, ++tick});
        }
    }
    for (const Client& c : clients)
        close(c.fd);
}

bool CardControl::ServeClient(Client& c, short revents) {
    if (revents & POLLOUT) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        c.out.erase(0, size_t(n));
    } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[1024];
        ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        if (n > 0) c.in.append(buf, size_t(n));
    }
    // The lines that came are answered while the answers waiting stay small; the rest wait for the client to read.
    size_t nl;
    while (c.out.size() < kMaxPendingAnswers && (nl = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        c.out += Execute(line) + "\n";
    }
    return c.in.size() <= kMaxLine || c.in.find('\n') != std::string::npos;
}

std::string CardControl::Execute(const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    for (char& ch : cmd)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    if (cmd.empty()) return "ERR empty";
    if (cmd == "JOURNAL") {
        size_t n = 0;
        in >> n;
        std::string s = "OK";
        for (const std::string& e : sim_.Journal(n ? n : 50))
            s += " | " + e;
        return s;
    }
    if (cmd == "FAIL") {
        std::string fn;
        int32_t result = -1, times = 1, skip = 0;
        in >> fn >> result >> times >> skip;
        if (fn.empty()) return "ERR usage: FAIL function result [times [skip]]";
        return sim_.Fail(fn, result, times, skip) < 0 ? "ERR too many failures" : "OK";
    }
    if (cmd == "CLEARFAIL") {
        sim_.ClearFailures();
        return "OK";
    }
    int32_t ch = -1;
    if (!(in >> ch)) return "ERR usage: " + cmd + " channel ...";
    if (!sim_.HasChannel(ch)) return "ERR no channel " + std::to_string(ch);
    std::string rest;
    std::getline(in >> std::ws, rest);
    std::istringstream args(rest);
    std::string a, b;
    args >> a >> b;
    std::vector<uint8_t> bytes;

    if (cmd == "RING") return Answer(sim_.Ring(ch, a == "-" ? "" : a, b));
    if (cmd == "RINGISUP") return ParseHex(rest, bytes) ? Answer(sim_.RingIsup(ch, bytes)) : "ERR hex bytes";
    if (cmd == "RINGFSK") return ParseHex(rest, bytes) ? Answer(sim_.RingFsk(ch, bytes)) : "ERR hex bytes";
    if (cmd == "DTMF") return Answer(sim_.SendDtmf(ch, a));
    if (cmd == "HANGUP") return Answer(sim_.FarHangup(ch));
    if (cmd == "ALERT") return Answer(sim_.FarAlert(ch));
    if (cmd == "ANSWER") return Answer(sim_.FarAnswer(ch));
    if (cmd == "REJECT") return Answer(sim_.FarReject(ch, std::atoi(a.c_str())));
    if (cmd == "BUSY") return Answer(sim_.FarBusy(ch));
    if (cmd == "NOANSWER") return Answer(sim_.FarNoAnswer(ch));
    if (cmd == "NODIALTONE") return Answer(sim_.FarNoDialTone(ch));
    if (cmd == "POLARITY") return Answer(sim_.PolarityReversal(ch));
    if (cmd == "ACM") return ParseHex(rest, bytes) ? Answer(sim_.FarAcm(ch, bytes)) : "ERR hex bytes";
    if (cmd == "OFFHOOK") return Answer(sim_.SetHook(ch, true));
    if (cmd == "ONHOOK") return Answer(sim_.SetHook(ch, false));
    if (cmd == "FSK") {
        std::string text;
        std::getline(args >> std::ws, text);
        int type = std::atoi(a.c_str());
        std::string data = b + (text.empty() ? "" : " " + text);
        std::vector<uint8_t> frame = {uint8_t(type), uint8_t(data.size() > 255 ? 255 : data.size())};
        frame.insert(frame.end(), data.begin(), data.begin() + frame[1]);
        uint8_t sum = 0;
        for (uint8_t x : frame)
            sum = uint8_t(sum + x);
        frame.push_back(uint8_t(0x100 - sum));
        return Answer(sim_.DeliverFsk(ch, frame));
    }
    if (cmd == "FSKHEX") return ParseHex(rest, bytes) ? Answer(sim_.DeliverFsk(ch, bytes)) : "ERR hex bytes";
    if (cmd == "NOISE") {
        // Loud A-law bytes (code 0xAA decodes far from zero) for the given milliseconds.
        const std::string bound = std::to_string(CardSim::kMaxFarSoundMs);
        long ms = ParseMs(a);
        if (ms < 0) return "ERR bad length " + a + ": milliseconds from 0 to " + bound;
        if (ms > long(CardSim::kMaxFarSoundMs)) return "ERR too long: at most " + bound + " ms";
        return Answer(sim_.FeedBytes(ch, std::vector<uint8_t>(MsToBytes(uint32_t(ms)), 0xAA)));
    }
    if (cmd == "AUDIO" || cmd == "FAX" || cmd == "SAVE") {
        if (!InCardFolder(rest)) return "ERR not a file of the card folder: " + rest;
        if (cmd == "SAVE") {
            if (rest.find_first_of("/\\") != std::string::npos || rest == "." || rest == "..")
                return "ERR SAVE takes a plain file name (it writes into saved/): " + rest;
            size_t bytes = 0;
            std::string why = SaveWav(sim_, ch, rest, bytes);
            return why.empty() ? "OK " + std::to_string(bytes) : "ERR " + why;
        }
        std::string path;
        if (std::string why = FileToRead(sim_.Folder(), rest, path); !why.empty()) return "ERR " + why;
        return Answer(cmd == "AUDIO" ? sim_.FeedAudio(ch, path) : sim_.QueueFax(ch, path));
    }
    auto r = sim_.Channel(ch);
    if (!r) return "ERR no channel " + std::to_string(ch);
    if (cmd == "STATE") return "OK " + std::to_string(r->state) + " type=" + std::to_string(r->type);
    if (cmd == "PLAYED") return "OK" + std::string(r->played.empty() ? "" : " ") + Join(r->played);
    if (cmd == "DIALED") return "OK " + r->dialled;
    if (cmd == "CALLERID") return "OK " + r->txCallerId;
    if (cmd == "RINGTEXT") return "OK " + r->ringText;
    if (cmd == "KEYSSENT") return "OK " + r->dtmfSent;
    if (cmd == "FAXSENT") return "OK" + std::string(r->faxSent.empty() ? "" : " ") + Join(r->faxSent);
    if (cmd == "ISUP" || cmd == "FSKSENT") {
        std::vector<std::string> hex;
        for (const auto& m : cmd == "ISUP" ? r->isupSent : r->fskSent)
            hex.push_back(Hex(m));
        return "OK" + std::string(hex.empty() ? "" : " ") + Join(hex);
    }
    if (cmd == "LINKS") {
        std::string s = "OK talk=";
        for (size_t i = 0; i < r->talk.size(); ++i)
            s += (i ? "," : "") + std::to_string(r->talk[i]);
        return s + " group=" + std::to_string(r->group) + " mode=" + std::to_string(r->groupMode);
    }
    return "ERR unknown command " + cmd;
}

} // namespace zz
