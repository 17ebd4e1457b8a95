#include "telephony/sip/MediaEngine.h"

#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"
#include "telephony/sip/MediaVoice.h"
#include "telephony/sip/ReHeaders.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace zz {

namespace {

constexpr size_t kMaxQueued = 8;     // frames of a channel's input kept (160 ms): older ones are dropped
constexpr size_t kExternalQueue = 25; // frames of an external channel's output kept for its taker
constexpr int kRecvBatch = 16;
constexpr int kPacketRoom = 1500;
constexpr int kToneTicks = 5; // an in-band digit: 100 ms of tone, then 60 ms of silence
constexpr int kGapTicks = 3;
constexpr int kToneLevel = 5000;

bool Encodes(int pt) {
    return pt == 0 || pt == 8;
}

int16_t Decode(uint8_t b, int pt) {
    return pt == 0 ? g711_ulaw2pcm(b) : g711_alaw2pcm(b);
}

uint8_t Encode(int16_t s, int pt) {
    return pt == 0 ? PcmToUlaw(s) : PcmToAlaw(s);
}

int16_t Clip(int32_t v) {
    return int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

uint32_t Random32() {
    static thread_local std::mt19937 rng{std::random_device{}()};
    return rng();
}

// Row and column frequencies of a DTMF digit; false for any other character.
bool DtmfFreqs(char d, double& low, double& high) {
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941}, cols[] = {1209, 1336, 1477, 1633};
    const char* p = std::strchr(keys, d >= 'a' && d <= 'd' ? d - 32 : d);
    if (!d || !p) return false;
    int i = int(p - keys);
    low = rows[i / 4];
    high = cols[i % 4];
    return true;
}

} // namespace

struct MediaEngine::Channel {
    int id = 0;
    bool external = false;
    bool started = false;
    bool ready = false; // its socket has packets this step
    int fd = -1;
    int localPort = 0;
    MediaEngine* owner = nullptr;
    sockaddr_in peer{};
    int pt = 8;
    int evpt = -1;
    WakeEvent* wake = nullptr;
    // RTP out
    uint32_t ssrc = Random32();
    uint16_t seq = uint16_t(Random32());
    uint32_t ts = Random32();
    bool marker = true;
    uint32_t eventTs = 0;
    int32_t received = 0, sent = 0;
    uint32_t foreign = 0; // packets dropped because another host sent them
    // 20 ms steps since the peer's last packet; silent once it passed the limit (the line is woken once)
    uint32_t quietSteps = 0;
    bool silent = false;
    bool held = false; // the peer holds the call: its silence is no sign it is gone
    // media in
    std::deque<Frame> in;
    Frame cur{};
    bool haveCur = false;
    // external channels: what the engine gives the system to take
    std::deque<Frame> out;
    // DTMF
    std::string digits;
    telev* tel = nullptr;
    bool eventStarted = false; // an RFC 4733 event began and has not ended
    bool telSending = false;
    dtmf_dec* dec = nullptr;
    std::string dialQueue; // in-band digits to send
    int toneTick = 0;
    uint32_t tonePhase = 0;
    // attachments
    int play = 0;
    std::vector<int> recordings;
    int session = 0;
    bool listenOnly = false;
    Frame sessionOut{};

    ~Channel() {
        if (fd >= 0) close(fd);
        mem_deref(tel);
        mem_deref(dec);
    }
};

struct MediaEngine::Play {
    int id = 0;
    std::shared_ptr<const VoicePcm> pcm;
    size_t pos = 0;
    int kind = 0, target = 0; // 0: not started
    bool ended = false;
    WakeEvent* wake = nullptr;
};

struct MediaEngine::Recording {
    int id = 0;
    std::unique_ptr<VoiceRecorder> file;
    int kind = 0, target = 0;
    int32_t limit = 0;
    bool signalled = false;
    WakeEvent* wake = nullptr;
};

struct MediaEngine::Session {
    int id = 0;
    std::vector<int> members; // channels
    std::vector<int> plays;
    std::vector<int> recordings;
};

MediaEngine::MediaEngine() = default;

MediaEngine::~MediaEngine() {
    ms_exit();
}

int MediaEngine::NextId() {
    nextId_ = nextId_ == INT32_MAX ? 1 : nextId_ + 1;
    return nextId_;
}

MediaEngine::Channel* MediaEngine::FindChannel(int id) {
    auto it = channels_.find(id);
    return it == channels_.end() ? nullptr : it->second.get();
}
MediaEngine::Play* MediaEngine::FindPlay(int id) {
    auto it = plays_.find(id);
    return it == plays_.end() ? nullptr : it->second.get();
}
MediaEngine::Recording* MediaEngine::FindRecording(int id) {
    auto it = recordings_.find(id);
    return it == recordings_.end() ? nullptr : it->second.get();
}
MediaEngine::Session* MediaEngine::FindSession(int id) {
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

// ---- the thread

int MediaEngine::ms_init() {
    std::lock_guard<std::mutex> g(m_);
    if (running_) return 0;
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (timerFd_ < 0 || stopFd_ < 0) return -1;
    itimerspec its{};
    its.it_interval.tv_nsec = 20 * 1000 * 1000;
    its.it_value.tv_nsec = 20 * 1000 * 1000;
    if (timerfd_settime(timerFd_, 0, &its, nullptr) != 0) return -1;
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    running_ = true;
    uint64_t gen = 0;
    {
        std::lock_guard<std::mutex> pg(phaseLock_);
        stopWorkers_ = false;
        gen = phaseGen_;
    }
    // Half the processors work the channels, at most four of them (the media thread is one).
    unsigned cores = std::thread::hardware_concurrency();
    size_t extra = std::min<size_t>(3, cores > 2 ? cores / 2 - 1 : 0);
    for (size_t i = 0; i < extra; ++i)
        workers_.emplace_back([this, i, gen] { WorkerThread(i + 1, gen); });
    thread_ = std::thread([this] { MediaThread(); });
    return 0;
}

int MediaEngine::ms_exit() {
    {
        std::lock_guard<std::mutex> g(m_);
        if (!running_ && timerFd_ < 0) return 0;
        running_ = false;
    }
    if (stopFd_ >= 0) {
        uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard<std::mutex> pg(phaseLock_);
        stopWorkers_ = true;
    }
    phaseCv_.notify_all();
    for (std::thread& w : workers_)
        w.join();
    workers_.clear();
    std::lock_guard<std::mutex> g(m_);
    orderDirty_ = true;
    order_.clear();
    if (epollFd_ >= 0) close(epollFd_);
    epollFd_ = -1;
    sessions_.clear();
    recordings_.clear();
    plays_.clear();
    channels_.clear();
    if (timerFd_ >= 0) close(timerFd_);
    if (stopFd_ >= 0) close(stopFd_);
    timerFd_ = stopFd_ = -1;
    return 0;
}

void MediaEngine::MediaThread() {
    pollfd fds[2] = {{timerFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        if (!(fds[0].revents & POLLIN)) continue;
        uint64_t ticks = 0;
        if (read(timerFd_, &ticks, sizeof ticks) != sizeof ticks) continue;
        // A late thread catches up: each elapsed 20 ms still sends its packet.
        for (uint64_t i = 0; i < ticks && i < 50; ++i) {
            std::lock_guard<std::mutex> g(m_);
            Tick();
        }
    }
}

void MediaEngine::TickForTest() {
    std::lock_guard<std::mutex> g(m_);
    Tick();
}

// ---- one 20 ms step

void MediaEngine::Tick() {
    if (orderDirty_) {
        order_.clear();
        for (auto& [id, c] : channels_)
            order_.push_back(c.get());
        ready_.resize(std::max<size_t>(1, order_.size()));
        orderDirty_ = false;
    }
    // The sockets with packets, from one look at all of them. The sockets are level-triggered, so asking again
    // before reading them would only report the same ones: the array has room for every channel instead.
    int n = epollFd_ >= 0 ? epoll_wait(epollFd_, ready_.data(), int(ready_.size()), 0) : 0;
    for (int i = 0; i < n; ++i)
        static_cast<Channel*>(ready_[size_t(i)].data.ptr)->ready = true;
    RunPhase(kInput);
    for (auto& [id, s] : sessions_)
        MixSession(*s);
    RunPhase(kOutput);
}

void MediaEngine::InputPhase(Channel& c, Scratch& scratch) {
    // Without the engine's thread (a test steps it) every socket is read.
    const int32_t before = c.received;
    if ((c.ready || epollFd_ < 0) && c.started && c.fd >= 0) Receive(c, scratch);
    c.ready = false;
    if (c.started && !c.external && !c.held) {
        if (c.received != before) {
            c.quietSteps = 0;
        } else if (++c.quietSteps >= kSilentSteps && !c.silent) {
            c.silent = true;
            if (c.wake) c.wake->Signal();
        }
    }
    c.haveCur = !c.in.empty();
    if (c.haveCur) {
        c.cur = c.in.front();
        c.in.pop_front();
        if (c.dec) dtmf_dec_probe(c.dec, c.cur.data(), kFrame);
    } else {
        c.cur.fill(0);
    }
    for (int r : c.recordings)
        if (Recording* rec = FindRecording(r)) Write(*rec, c.cur);
}

void MediaEngine::MixSession(Session& s) {
    std::array<int32_t, kFrame> sum{};
    for (int p : s.plays) {
        Play* play = FindPlay(p);
        if (!play) continue;
        Frame f;
        NextPlayFrame(*play, f, false);
        for (int i = 0; i < kFrame; ++i)
            sum[size_t(i)] += f[size_t(i)];
    }
    for (int m : s.members) {
        Channel* c = FindChannel(m);
        if (c && !c->listenOnly)
            for (int i = 0; i < kFrame; ++i)
                sum[size_t(i)] += c->cur[size_t(i)];
    }
    Frame all;
    for (int i = 0; i < kFrame; ++i)
        all[size_t(i)] = Clip(sum[size_t(i)]);
    for (int r : s.recordings)
        if (Recording* rec = FindRecording(r)) Write(*rec, all);
    for (int m : s.members) {
        Channel* c = FindChannel(m);
        if (!c) continue;
        for (int i = 0; i < kFrame; ++i)
            c->sessionOut[size_t(i)] = Clip(sum[size_t(i)] - (c->listenOnly ? 0 : c->cur[size_t(i)]));
    }
}

void MediaEngine::OutputPhase(Channel& c) {
    if (!c.started) return;
    Frame out;
    if (c.session)
        out = c.sessionOut;
    else
        out.fill(0);
    if (Play* p = c.play ? FindPlay(c.play) : nullptr) NextPlayFrame(*p, out, true);
    Output(c, out);
}

// ---- the workers: the channels' input and output run in slices on several threads

void MediaEngine::RunSlice(int phase, size_t slice, size_t slices, Scratch& scratch) {
    size_t from = order_.size() * slice / slices, to = order_.size() * (slice + 1) / slices;
    for (size_t i = from; i < to; ++i) {
        if (phase == kInput)
            InputPhase(*order_[i], scratch);
        else
            OutputPhase(*order_[i]);
    }
}

void MediaEngine::RunPhase(int phase) {
    // A few channels are not worth the hand-over.
    const size_t slices = workers_.size() + 1;
    if (workers_.empty() || order_.size() < kParallelFrom) {
        RunSlice(phase, 0, 1, scratch_);
        return;
    }
    {
        std::lock_guard<std::mutex> g(phaseLock_);
        phase_ = phase;
        pending_ = int(workers_.size());
        ++phaseGen_;
    }
    phaseCv_.notify_all();
    RunSlice(phase, 0, slices, scratch_);
    std::unique_lock<std::mutex> g(phaseLock_);
    doneCv_.wait(g, [&] { return pending_ == 0; });
}

// seen: the step count when the engine started; a worker started again after ms_exit waits for the next step
// instead of working the channels of the last run at once.
void MediaEngine::WorkerThread(size_t slice, uint64_t seen) {
    Scratch scratch;
    for (;;) {
        int phase;
        {
            std::unique_lock<std::mutex> g(phaseLock_);
            phaseCv_.wait(g, [&] { return stopWorkers_ || phaseGen_ != seen; });
            if (stopWorkers_) return;
            seen = phaseGen_;
            phase = phase_;
        }
        RunSlice(phase, slice, workers_.size() + 1, scratch);
        std::lock_guard<std::mutex> g(phaseLock_);
        if (--pending_ == 0) doneCv_.notify_one();
    }
}

// Only the host the call's offer names is heard: packets from any other address (a host that found the port, or
// the previous caller of the line still sending) are dropped, so no stranger's sound or keys reach a call. The
// port is not checked, for phones that do not send from the port they receive on.
void MediaEngine::Receive(Channel& c, Scratch& scratch) {
    auto& bufs = scratch.packets;
    mmsghdr msgs[kRecvBatch];
    iovec iov[kRecvBatch];
    sockaddr_in from[kRecvBatch];
    for (;;) {
        for (int i = 0; i < kRecvBatch; ++i) {
            iov[i] = {bufs[size_t(i)].data(), kPacketRoom};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        }
        int n = recvmmsg(c.fd, msgs, kRecvBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) return;
        for (int i = 0; i < n; ++i) {
            if (msgs[i].msg_hdr.msg_namelen < sizeof(sockaddr_in) || from[i].sin_family != AF_INET ||
                from[i].sin_addr.s_addr != c.peer.sin_addr.s_addr) {
                if (c.foreign++ == 0) {
                    char got[INET_ADDRSTRLEN] = "?", want[INET_ADDRSTRLEN] = "?";
                    inet_ntop(AF_INET, &from[i].sin_addr, got, sizeof got);
                    inet_ntop(AF_INET, &c.peer.sin_addr, want, sizeof want);
                    WriteRunLogF("RTP port %d: packets from %s are dropped, the call's media comes from %s", c.localPort,
                                 got, want);
                }
                continue;
            }
            TakeRtp(c, bufs[size_t(i)].data(), msgs[i].msg_len);
        }
        if (n < kRecvBatch) return;
    }
}

void MediaEngine::TakeRtp(Channel& c, const uint8_t* p, size_t n) {
    if (n < 12 || (p[0] >> 6) != 2) return;
    size_t head = 12 + size_t(p[0] & 0x0F) * 4;
    if (p[0] & 0x10) {
        if (n < head + 4) return;
        head += 4 + size_t((p[head + 2] << 8) | p[head + 3]) * 4;
    }
    if (n < head) return;
    size_t len = n - head;
    if (p[0] & 0x20 && len > 0) len -= std::min<size_t>(len, p[n - 1]); // padding
    const uint8_t* payload = p + head;
    int pt = p[1] & 0x7F;
    ++c.received;
    if (pt == c.evpt && c.tel) {
        mbuf mb{const_cast<uint8_t*>(payload), len, 0, len};
        int event = 0;
        bool end = false;
        if (telev_recv(c.tel, &mb, &event, &end) != 0) return;
        // A digit counts once: at its start, or at its end when its start was lost.
        if (!end || !c.eventStarted) Digit(c, char(telev_code2digit(event)));
        c.eventStarted = !end;
        return;
    }
    if (pt != c.pt) return;
    for (size_t off = 0; off + kFrame <= len; off += kFrame) {
        Frame f;
        for (int i = 0; i < kFrame; ++i)
            f[size_t(i)] = Decode(payload[off + size_t(i)], pt);
        if (c.in.size() >= kMaxQueued) c.in.pop_front();
        c.in.push_back(f);
    }
}

void MediaEngine::Digit(Channel& c, char d) {
    if (d <= 0) return;
    if (c.digits.size() < 1024) c.digits += d;
    if (c.wake) c.wake->Signal();
}

void MediaEngine::NextPlayFrame(Play& p, Frame& out, bool mix) {
    if (!p.pcm || p.ended) return;
    const std::vector<int16_t>& s = p.pcm->samples;
    for (int i = 0; i < kFrame; ++i) {
        int16_t v = p.pos < s.size() ? s[p.pos++] : 0;
        out[size_t(i)] = mix ? Clip(out[size_t(i)] + v) : v;
    }
    if (p.pos >= s.size()) {
        p.ended = true;
        if (p.wake) p.wake->Signal();
    }
}

void MediaEngine::Output(Channel& c, Frame& out) {
    if (!c.dialQueue.empty()) {
        // In-band digits: a tone of the digit's two frequencies, then silence.
        double low = 0, high = 0;
        if (c.toneTick < kToneTicks && DtmfFreqs(c.dialQueue[0], low, high)) {
            for (int i = 0; i < kFrame; ++i, ++c.tonePhase) {
                double t = c.tonePhase / 8000.0;
                out[size_t(i)] = Clip(int32_t(kToneLevel * (std::sin(2 * M_PI * low * t) + std::sin(2 * M_PI * high * t))));
            }
        } else {
            out.fill(0);
        }
        if (++c.toneTick >= kToneTicks + kGapTicks) {
            c.dialQueue.erase(0, 1);
            c.toneTick = 0;
            c.tonePhase = 0;
        }
    }
    if (c.external) {
        if (c.out.size() >= kExternalQueue) c.out.pop_front();
        c.out.push_back(out);
        return;
    }
    uint32_t ts = c.ts;
    c.ts += kFrame;
    if (c.telSending && c.tel) {
        uint8_t ev[16];
        mbuf mb{ev, sizeof ev, 0, 0};
        bool marker = false;
        if (telev_poll(c.tel, &marker, &mb) == 0) {
            if (marker) c.eventTs = ts;
            SendRtp(c, ev, mb.end, c.evpt, c.eventTs, marker);
            return;
        }
        c.telSending = false;
    }
    uint8_t payload[kFrame];
    for (int i = 0; i < kFrame; ++i)
        payload[i] = Encode(out[size_t(i)], c.pt);
    SendRtp(c, payload, kFrame, c.pt, ts, c.marker);
    c.marker = false;
}

void MediaEngine::SendRtp(Channel& c, const uint8_t* payload, size_t n, int pt, uint32_t ts, bool marker) {
    if (c.fd < 0) return;
    uint8_t pkt[12 + 200];
    pkt[0] = 0x80;
    pkt[1] = uint8_t((marker ? 0x80 : 0) | (pt & 0x7F));
    uint16_t seq = c.seq++;
    pkt[2] = uint8_t(seq >> 8);
    pkt[3] = uint8_t(seq);
    for (int i = 0; i < 4; ++i) {
        pkt[4 + i] = uint8_t(ts >> (24 - 8 * i));
        pkt[8 + i] = uint8_t(c.ssrc >> (24 - 8 * i));
    }
    std::memcpy(pkt + 12, payload, n);
    if (sendto(c.fd, pkt, 12 + n, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&c.peer), sizeof c.peer) > 0)
        ++c.sent;
}

void MediaEngine::Write(Recording& r, const Frame& f) {
    if (!r.file) return;
    r.file->Write(f.data(), kFrame);
    if (r.limit > 0 && !r.signalled && r.file->Samples() > r.limit) {
        r.signalled = true;
        if (r.wake) r.wake->Signal();
    }
}

// ---- channels

int MediaEngine::ms_channel_create(int& ch, WakeEvent* wake) {
    std::lock_guard<std::mutex> g(m_);
    auto c = std::make_unique<Channel>();
    c->id = NextId();
    c->owner = this;
    c->wake = wake;
    ch = c->id;
    channels_[ch] = std::move(c);
    orderDirty_ = true;
    return 0;
}

int MediaEngine::ms_channel_start_ex(int ch, int type, int localPort, const char* peerAddr, int peerPort, int evpt) {
    if (!Encodes(type) || peerPort <= 0 || peerPort > 65535) return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(peerPort));
    if (!peerAddr || inet_pton(AF_INET, peerAddr, &peer.sin_addr) != 1) return -1;
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -3;
    // A channel started again on its own port keeps its socket: only the peer and the payloads change.
    if (c->fd < 0 || c->localPort != localPort) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return -1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(uint16_t(localPort));
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            WriteRunLogF("RTP port %d: %s", localPort, std::strerror(errno));
            close(fd);
            return -2;
        }
        if (c->fd >= 0) close(c->fd);
        c->fd = fd;
        c->localPort = localPort;
        if (epollFd_ >= 0) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.ptr = c;
            epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &e);
        }
    }
    c->peer = peer;
    c->pt = type;
    c->evpt = evpt;
    if (!c->tel) telev_alloc(&c->tel, 20);
    if (evpt < 0 && !c->dec)
        dtmf_dec_alloc(&c->dec, 8000, 1, [](char d, void* arg) {
            auto* self = static_cast<Channel*>(arg);
            self->owner->Digit(*self, d);
        }, c);
    c->started = true;
    c->quietSteps = 0;
    c->silent = false;
    c->marker = true;
    c->foreign = 0;
    return 0;
}

int MediaEngine::ms_channel_stop(int ch) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -1;
    c->started = false;
    if (c->fd >= 0) close(c->fd);
    c->fd = -1;
    c->localPort = 0;
    return 0;
}

void MediaEngine::LeaveSession(Channel& c) {
    if (Session* s = FindSession(c.session)) std::erase(s->members, c.id);
    c.session = 0;
    c.listenOnly = false;
}

int MediaEngine::ms_channel_destory(int ch) {
    std::lock_guard<std::mutex> g(m_);
    auto it = channels_.find(ch);
    if (it == channels_.end()) return -1;
    Channel& c = *it->second;
    LeaveSession(c);
    if (Play* p = FindPlay(c.play)) p->target = p->kind = 0;
    for (int r : c.recordings)
        if (Recording* rec = FindRecording(r)) rec->target = rec->kind = 0;
    channels_.erase(it);
    orderDirty_ = true;
    return 0;
}

int MediaEngine::ms_channel_reset(int ch) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -1;
    c->in.clear();
    c->eventStarted = false;
    if (c->dec) dtmf_dec_reset(c->dec, 8000, 1);
    return 0;
}

int MediaEngine::ms_channel_is_silent(int ch) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    return c ? c->silent ? 1 : 0 : -1;
}

int MediaEngine::ms_channel_set_held(int ch, int held) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -1;
    c->held = held != 0;
    c->quietSteps = 0;
    c->silent = false;
    return 0;
}

int MediaEngine::ms_recv_send_count(int ch, int32_t& received, int32_t& sent) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -1;
    received = c->received;
    sent = c->sent;
    return 0;
}

int MediaEngine::ms_external_channel_create(int& ch) {
    std::lock_guard<std::mutex> g(m_);
    auto c = std::make_unique<Channel>();
    c->id = NextId();
    c->external = true;
    ch = c->id;
    channels_[ch] = std::move(c);
    orderDirty_ = true;
    return 0;
}

int MediaEngine::ms_external_channel_start(int ch, int type) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c || !c->external || !Encodes(type)) return -1;
    c->pt = type;
    c->started = true;
    return 0;
}

int MediaEngine::ms_push_data(int ch, const uint8_t* data, int length) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c || !c->external || !data || length < 0) return -1;
    for (int off = 0; off + kFrame <= length; off += kFrame) {
        Frame f;
        for (int i = 0; i < kFrame; ++i)
            f[size_t(i)] = Decode(data[off + i], c->pt);
        if (c->in.size() >= kMaxQueued) c->in.pop_front();
        c->in.push_back(f);
    }
    return 0;
}

int MediaEngine::ms_get_data(int ch, uint8_t* data, int length) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c || !c->external || !data) return -1;
    int given = 0;
    while (given + kFrame <= length && !c->out.empty()) {
        for (int i = 0; i < kFrame; ++i)
            data[given + i] = Encode(c->out.front()[size_t(i)], c->pt);
        c->out.pop_front();
        given += kFrame;
    }
    return given;
}

// ---- play

int MediaEngine::ms_playing_create(int& h, const char* file, WakeEvent* wake) {
    auto pcm = LoadVoice(file ? file : "");
    if (!pcm) return -1;
    std::lock_guard<std::mutex> g(m_);
    auto p = std::make_unique<Play>();
    p->id = NextId();
    p->pcm = std::move(pcm);
    p->wake = wake;
    h = p->id;
    plays_[h] = std::move(p);
    return 0;
}

void MediaEngine::Detach(Play& p) {
    if (p.kind == kMediaOnChannel) {
        if (Channel* c = FindChannel(p.target); c && c->play == p.id) c->play = 0;
    } else if (p.kind == kMediaOnSession) {
        if (Session* s = FindSession(p.target)) std::erase(s->plays, p.id);
    }
    p.kind = p.target = 0;
}

int MediaEngine::ms_playing_start(int h, int kind, int target) {
    std::lock_guard<std::mutex> g(m_);
    Play* p = FindPlay(h);
    if (!p) return -1;
    Detach(*p);
    if (kind == kMediaOnChannel) {
        Channel* c = FindChannel(target);
        if (!c) return -2;
        if (Play* old = FindPlay(c->play)) {
            old->ended = true;
            old->kind = old->target = 0;
        }
        c->play = h;
    } else if (kind == kMediaOnSession) {
        Session* s = FindSession(target);
        if (!s) return -2;
        s->plays.push_back(h);
    } else {
        return -3;
    }
    p->kind = kind;
    p->target = target;
    p->pos = 0;
    p->ended = false;
    return 0;
}

int MediaEngine::ms_playing_is_end(int h) {
    std::lock_guard<std::mutex> g(m_);
    Play* p = FindPlay(h);
    return p ? (p->ended ? 1 : 0) : -1;
}

int MediaEngine::ms_playing_stop(int h) {
    std::lock_guard<std::mutex> g(m_);
    Play* p = FindPlay(h);
    if (!p) return -1;
    Detach(*p);
    p->ended = true;
    return 0;
}

int MediaEngine::ms_playing_destory(int h) {
    std::lock_guard<std::mutex> g(m_);
    Play* p = FindPlay(h);
    if (!p) return -1;
    Detach(*p);
    plays_.erase(h);
    return 0;
}

int MediaEngine::ms_forget_wake(WakeEvent* wake) {
    std::lock_guard<std::mutex> g(m_);
    for (auto& [id, c] : channels_)
        if (c->wake == wake) c->wake = nullptr;
    for (auto& [id, p] : plays_)
        if (p->wake == wake) p->wake = nullptr;
    for (auto& [id, r] : recordings_)
        if (r->wake == wake) r->wake = nullptr;
    return 0;
}

// ---- record

int MediaEngine::ms_recording_create(int& h, const char* file, WakeEvent* wake) {
    auto f = std::make_unique<VoiceRecorder>(file ? file : "");
    if (!f->Ok()) return -1;
    std::lock_guard<std::mutex> g(m_);
    auto r = std::make_unique<Recording>();
    r->id = NextId();
    r->file = std::move(f);
    r->wake = wake;
    h = r->id;
    recordings_[h] = std::move(r);
    return 0;
}

void MediaEngine::Detach(Recording& r) {
    if (r.kind == kMediaOnChannel) {
        if (Channel* c = FindChannel(r.target)) std::erase(c->recordings, r.id);
    } else if (r.kind == kMediaOnSession) {
        if (Session* s = FindSession(r.target)) std::erase(s->recordings, r.id);
    }
    r.kind = r.target = 0;
}

int MediaEngine::ms_recording_start(int h, int kind, int target) {
    std::lock_guard<std::mutex> g(m_);
    Recording* r = FindRecording(h);
    if (!r || !r->file) return -1;
    Detach(*r);
    if (kind == kMediaOnChannel) {
        Channel* c = FindChannel(target);
        if (!c) return -2;
        c->recordings.push_back(h);
    } else if (kind == kMediaOnSession) {
        Session* s = FindSession(target);
        if (!s) return -2;
        s->recordings.push_back(h);
    } else {
        return -3;
    }
    r->kind = kind;
    r->target = target;
    return 0;
}

int MediaEngine::ms_recording_set_limit(int h, int32_t samples) {
    std::lock_guard<std::mutex> g(m_);
    Recording* r = FindRecording(h);
    if (!r) return -1;
    r->limit = samples;
    r->signalled = false;
    return 0;
}

int32_t MediaEngine::ms_recorded_length(int h) {
    std::lock_guard<std::mutex> g(m_);
    Recording* r = FindRecording(h);
    return r && r->file ? r->file->Samples() : 0;
}

int MediaEngine::ms_recording_stop(int h) {
    std::lock_guard<std::mutex> g(m_);
    Recording* r = FindRecording(h);
    if (!r) return -1;
    Detach(*r);
    if (r->file) r->file->Close();
    return 0;
}

int MediaEngine::ms_recording_destory(int h) {
    std::lock_guard<std::mutex> g(m_);
    Recording* r = FindRecording(h);
    if (!r) return -1;
    Detach(*r);
    recordings_.erase(h);
    return 0;
}

// ---- DTMF

int MediaEngine::ms_dtmf_get_str(int ch, std::string& digits, int maxLen) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c) return -1;
    size_t n = std::min(c->digits.size(), size_t(maxLen > 1 ? maxLen - 1 : 0));
    digits.assign(c->digits, 0, n);
    c->digits.erase(0, n);
    return 0;
}

int MediaEngine::ms_dtmf_dial(int ch, const char* digits, int length) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!c || !c->started || !digits) return -1;
    for (int i = 0; i < length; ++i) {
        char d = digits[i];
        double lo, hi;
        if (!DtmfFreqs(d, lo, hi)) continue;
        if (c->evpt >= 0 && c->tel && !c->external) {
            telev_send(c->tel, telev_digit2code(d), false);
            telev_send(c->tel, telev_digit2code(d), true);
            c->telSending = true;
        } else if (c->dialQueue.size() < 256) {
            c->dialQueue += d;
        }
    }
    return 0;
}

// ---- sessions

int MediaEngine::ms_session_create(int& session) {
    std::lock_guard<std::mutex> g(m_);
    auto s = std::make_unique<Session>();
    s->id = NextId();
    session = s->id;
    sessions_[session] = std::move(s);
    return 0;
}

int MediaEngine::ms_session_add(int session, int ch) {
    std::lock_guard<std::mutex> g(m_);
    Session* s = FindSession(session);
    Channel* c = FindChannel(ch);
    if (!s || !c) return -1;
    if (c->session != session) {
        LeaveSession(*c);
        s->members.push_back(ch);
    }
    c->session = session;
    c->listenOnly = false;
    return 0;
}

int MediaEngine::ms_session_listen(int session, int ch) {
    int r = ms_session_add(session, ch);
    if (r != 0) return r;
    std::lock_guard<std::mutex> g(m_);
    FindChannel(ch)->listenOnly = true;
    return 0;
}

int MediaEngine::ms_session_remove(int session, int ch) {
    std::lock_guard<std::mutex> g(m_);
    Channel* c = FindChannel(ch);
    if (!FindSession(session) || !c || c->session != session) return -1;
    LeaveSession(*c);
    return 0;
}

int MediaEngine::ms_session_destory(int session) {
    std::lock_guard<std::mutex> g(m_);
    Session* s = FindSession(session);
    if (!s) return -1;
    for (int m : s->members)
        if (Channel* c = FindChannel(m)) c->session = 0, c->listenOnly = false;
    for (int p : s->plays)
        if (Play* play = FindPlay(p)) play->kind = play->target = 0, play->ended = true;
    for (int r : s->recordings)
        if (Recording* rec = FindRecording(r)) rec->kind = rec->target = 0;
    sessions_.erase(session);
    return 0;
}

} // namespace zz
