#include "telephony/sip/SipStack.h"

#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"
#include "telephony/sip/MediaEngine.h"
#include "telephony/sip/MsrpEngine.h"
#include "telephony/sip/SipSdp.h"
#include "telephony/sip/SipStackParts.h"
// libre's print handler (the header wants a module name and level of its user's own messages, which are none).
#define DEBUG_MODULE "zuzod"
#define DEBUG_LEVEL 0
#include <re_dbg.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <future>
#include <netdb.h>
#include <pthread.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zz {

namespace {

// The libraries in force: the real ones unless a test installed others.
std::mutex g_libsLock;
SipLibs g_libs{nullptr, nullptr, nullptr};

SipLibs RealLibs() {
    static SipStack* ua = new SipStack;
    static MediaEngine* media = new MediaEngine;
    static MsrpEngine* msrp = new MsrpEngine;
    return {ua, media, msrp};
}

constexpr uint64_t kSummaryMs = 60000; // the tallies' summaries

// A thousand calls hold a descriptor for their RTP and perhaps one for a TCP peer each.
void RaiseFileLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

} // namespace

SipLibs GetSipLibs() {
    std::lock_guard<std::mutex> g(g_libsLock);
    if (!g_libs.ua) g_libs = RealLibs();
    return g_libs;
}

void SetSipLibs(const SipLibs& libs) {
    std::lock_guard<std::mutex> g(g_libsLock);
    g_libs = libs.ua && libs.media && libs.msrp ? libs : RealLibs();
}

std::string RandomToken() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return buf;
}

uint64_t SteadyMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

SipStack::Creds* SipStack::NewCreds(const std::string& user, const std::string& pass) {
    auto* c = static_cast<Creds*>(mem_zalloc(sizeof(Creds), [](void* arg) {
        auto* self = static_cast<Creds*>(arg);
        mem_deref(self->user);
        mem_deref(self->pass);
    }));
    if (!c) return nullptr;
    str_dup(&c->user, user.c_str());
    str_dup(&c->pass, pass.c_str());
    return c;
}

SipStack::SipStack() {
    for (int i = 0; i <= kSipMaxSlots; ++i) {
        slots_.push_back(std::make_unique<Slot>());
        slotSip_.push_back(std::make_unique<SlotSip>());
        slotSip_.back()->callid = i;
        slotSip_.back()->stack = this;
    }
}

SipStack::~SipStack() {
    sip_exit();
}

// ---- settings

int SipStack::sip_set_work_type(int type) {
    workType_ = type;
    return 0;
}

int SipStack::sip_set_app_firewall(int on) {
    firewall_ = on;
    return 0;
}

int SipStack::sip_set_sdp_media_list(const char* list) {
    codecs_ = SdpCodecList(list ? list : "");
    return 0;
}

int SipStack::sip_set_max_reg_users(int n) {
    maxRegUsers_ = n > 0 ? size_t(n) : 0;
    return 0;
}

int SipStack::set_default_outdial_proxy(const char* addr, uint16_t port, int tcp) {
    if (!addr || !*addr || !port) return -1;
    return Exec([=, this] {
        defaultProxyHost_ = std::string(addr) + ":" + std::to_string(port);
        defaultRoute_ = "sip:" + defaultProxyHost_ + ";lr" + (tcp ? ";transport=tcp" : "");
        return 0;
    });
}

// ---- the thread

int SipStack::sip_start_ex(const char* addr, uint16_t udpPort, uint16_t tcpPort) {
    if (running_) return 0;
    RaiseFileLimit();
    std::string a = addr && *addr ? addr : "0.0.0.0";
    std::promise<int> started;
    std::future<int> result = started.get_future();
    thread_ = std::thread([this, a, udpPort, tcpPort, &started] {
        sipThreadId_ = std::this_thread::get_id();
        sipTid_ = int(gettid());
        pthread_setname_np(pthread_self(), "zz-sip"); // as perf and top show it
        int r = StartOnThread(a, udpPort, tcpPort);
        started.set_value(r);
        if (r == 0) {
            re_main(nullptr);
            StopOnThread();
        }
        libre_close();
        dbg_handler_set(nullptr, nullptr); // after libre's last words
    });
    int r = result.get();
    if (r != 0) {
        thread_.join();
        return r;
    }
    running_ = true;
    StartCallbackThread();
    return 0;
}

int SipStack::StartOnThread(const std::string& addr, uint16_t udp, uint16_t tcp) {
    int err = libre_init();
    if (err) return err;
    // libre's messages (colour-coded, on standard error) go to the run log instead.
    dbg_init(DBG_INFO, DBG_NONE);
    dbg_handler_set(OnLibraryMessage, this);
    // libre's descriptor table holds 1,024 unless sized first, and the lines' wake events are made before the
    // stack: its sockets (the TCP listener, each TCP peer) come above that.
    rlimit rl{};
    rlim_t most = getrlimit(RLIMIT_NOFILE, &rl) == 0 ? rl.rlim_cur : 65536;
    fd_setsize(int(std::clamp<rlim_t>(most, 1024, 1 << 20)));
    sa nsv[4];
    uint32_t nsn = 4;
    if (dns_srv_get(nullptr, 0, nsv, &nsn) == 0 && nsn) dnsc_alloc(&dnsc_, nullptr, nsv, nsn);
    err = sip_alloc(&sip_, dnsc_, 4096, 4096, 4096, "zuzod", nullptr, nullptr);
    sa laddr;
    if (!err) err = sa_set_str(&laddr, addr.c_str(), udp);
    if (!err) err = sip_transp_add(sip_, SIP_TRANSP_UDP, &laddr);
    if (!err) {
        sa_set_port(&laddr, tcp);
        err = sip_transp_add(sip_, SIP_TRANSP_TCP, &laddr);
    }
    bindAddr_ = addr;
    bindAny_ = sa_is_any(&laddr);
    // Requests go first to the proxy (it takes those of other users' dialogs), then the sessions, then the rest.
    if (!err) err = sip_listen(&early_, sip_, true, OnRequestEarly, this);
    if (!err) err = sipsess_listen(&sock_, sip_, 1024, OnInvite, this);
    if (!err) err = sip_listen(&late_, sip_, true, OnRequestLate, this);
    if (!err) err = sip_listen(&resp_, sip_, false, OnResponse, this);
    if (!err) err = mqueue_alloc(&mq_, OnWakeup, this);
    if (err) {
        WriteRunLogAlways("SIP stack: start failed");
        StopOnThread();
        return err;
    }
    {
        std::lock_guard<std::mutex> g(jobsLock_);
        accepting_ = true;
    }
    summaryTimer_ = new tmr;
    tmr_init(summaryTimer_);
    tmr_start(summaryTimer_, kSummaryMs, OnSummaryTimer, this);
    SendProbe();
    char text[160];
    std::snprintf(text, sizeof text, "SIP listening on %s: udp %u, tcp %u", addr.c_str(), LocalPort(SIP_TRANSP_UDP),
                  LocalPort(SIP_TRANSP_TCP));
    WriteRunLogAlways(text);
    return 0;
}

void SipStack::StopOnThread() {
    {
        std::lock_guard<std::mutex> g(jobsLock_);
        accepting_ = false;
    }
    RunJobs(); // whoever waits on a job queued before the stop gets its answer
    while (!held_.empty())
        DropHeld(held_.front().get(), 486);
    for (int i = 1; i <= kSipMaxSlots; ++i)
        EndSlot(i);
    {
        std::lock_guard<std::mutex> g(accLock_);
        for (auto& [id, acc] : accounts_) {
            tmr_cancel(&acc->refresh);
            mem_deref(acc->auth);
        }
        accounts_.clear();
    }
    {
        std::lock_guard<std::mutex> g(imLock_);
        for (auto& [h, e] : inbox_) {
            mem_deref(e->st);
            mem_deref(const_cast<sip_msg*>(e->msg));
        }
        inbox_.clear();
        unread_.clear();
    }
    for (sipsess* s : retired_)
        mem_deref(s);
    retired_.clear();
    // Requests still out are forgotten with the stack.
    if (sip_) sip_close(sip_, true);
    for (Request* r : requests_) {
        mem_deref(r->auth);
        delete r;
    }
    requests_.clear();
    {
        std::lock_guard<std::mutex> g(jobsLock_);
        mq_ = static_cast<mqueue*>(mem_deref(mq_));
    }
    datagramHelper_ = static_cast<udp_helper*>(mem_deref(datagramHelper_));
    if (summaryTimer_) {
        tmr_cancel(summaryTimer_);
        delete summaryTimer_;
        summaryTimer_ = nullptr;
    }
    resp_ = static_cast<sip_lsnr*>(mem_deref(resp_));
    late_ = static_cast<sip_lsnr*>(mem_deref(late_));
    sock_ = static_cast<sipsess_sock*>(mem_deref(sock_));
    early_ = static_cast<sip_lsnr*>(mem_deref(early_));
    sip_ = static_cast<struct sip*>(mem_deref(sip_));
    dnsc_ = static_cast<dnsc*>(mem_deref(dnsc_));
    SummariseTallies("before the stop");
}

int SipStack::sip_exit() {
    if (!running_) return 0;
    StopCallbackThread();
    Exec([] {
        re_cancel();
        return 0;
    });
    if (thread_.joinable()) thread_.join();
    running_ = false;
    return 0;
}

int SipStack::Exec(std::function<int()> fn) {
    if (std::this_thread::get_id() == sipThreadId_) return fn();
    auto done = std::make_shared<std::promise<int>>();
    std::future<int> result = done->get_future();
    {
        // Queued and woken under the lock the stop takes, so the queue is never gone under a push.
        std::lock_guard<std::mutex> g(jobsLock_);
        if (!accepting_) return -1;
        jobs_.push_back([fn = std::move(fn), done] { done->set_value(fn()); });
        mqueue_push(mq_, 0, nullptr);
    }
    return result.get();
}

void SipStack::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> g(jobsLock_);
    if (!accepting_) return;
    jobs_.push_back(std::move(fn));
    mqueue_push(mq_, 0, nullptr);
}

void SipStack::OnWakeup(int, void*, void* arg) {
    static_cast<SipStack*>(arg)->RunJobs();
}

void SipStack::RunJobs() {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> g(jobsLock_);
            if (jobs_.empty()) break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
    for (sipsess* s : retired_)
        mem_deref(s);
    retired_.clear();
}

void SipStack::Retire(sipsess* sess) {
    if (!sess) return;
    // A handler that ended the session may still use it when this one returns: let it go a moment later.
    retired_.push_back(sess);
    std::lock_guard<std::mutex> g(jobsLock_);
    if (mq_) mqueue_push(mq_, 0, nullptr);
}

// ---- undecodable datagrams

void SipStack::SendProbe() {
    probeId_ = "zz-probe-" + RandomToken();
    std::string to = bindAny_ ? std::string("127.0.0.1") : bindAddr_;
    std::string text = "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP " + to + ":9;branch=z9hG4bK" + probeId_ +
                       "\r\nFrom: <sip:probe@" + to + ">;tag=1\r\nTo: <sip:probe@" + to +
                       ">;tag=2\r\nCall-ID: " + probeId_ + "\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    sa dst;
    if (sa_set_str(&dst, to.c_str(), LocalPort(SIP_TRANSP_UDP)) != 0) return;
    int fd = socket(dst.u.sa.sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    (void)!sendto(fd, text.data(), text.size(), 0, &dst.u.sa, dst.len);
    close(fd);
}

bool SipStack::TakeProbe(const sip_msg* msg) {
    if (msg->req || msg->tp != SIP_TRANSP_UDP || datagramHelper_ || probeId_.empty() ||
        pl_strcmp(&msg->callid, probeId_.c_str()) != 0)
        return false;
    udp_register_helper(&datagramHelper_, static_cast<udp_sock*>(msg->sock), 0, nullptr, OnDatagram, this);
    return true;
}

bool SipStack::OnDatagram(sa* src, mbuf* mb, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    const size_t left = mbuf_get_left(mb);
    const uint8_t* p = mbuf_buf(mb);
    // Left to libre: what it drops unread (4 bytes or less) and STUN (its magic cookie).
    if (left <= 4 || (left >= 8 && p[4] == 0x21 && p[5] == 0x12 && p[6] == 0xA4 && p[7] == 0x42)) return false;
    const size_t pos = mb->pos;
    sip_msg* msg = nullptr;
    int err = sip_msg_decode(&msg, mb);
    mem_deref(msg);
    mb->pos = pos;
    if (!err) return false;
    char from[64] = {};
    re_snprintf(from, sizeof from, "%J", src);
    self->undecodable_.Note(std::string("SIP: a datagram from ") + from + " is no SIP message",
                            std::string("from ") + from);
    return true;
}

void SipStack::NoteStrayResponse(const sip_msg* msg) {
    char text[200] = {};
    re_snprintf(text, sizeof text, "from %J: %u %r (%r)", &msg->src, msg->scode, &msg->reason, &msg->cseq.met);
    std::string what = PrintableText(text, strlen(text));
    strays_.Note("SIP: a response " + what + " matches no request", what);
}

void SipStack::OnLibraryMessage(int, const char* p, size_t len, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    std::string text = PrintableText(p, len);
    if (text.empty()) return;
    // libre starts each with its module ("tcp: send: write(): Broken pipe"): a tally for each of the first few.
    std::string module = text.substr(0, std::min(text.find(':'), size_t(16)));
    LogTally* tally;
    {
        std::lock_guard<std::mutex> g(self->libraryLock_);
        if (self->library_.size() >= 16 && !self->library_.count(module)) module = "other";
        auto& t = self->library_[module];
        if (!t) t = std::make_unique<LogTally>("messages of the SIP library (" + module + ")");
        tally = t.get();
    }
    tally->Note("SIP library: " + text, "\"" + text + "\"");
}

uint64_t SipStack::LibraryMessages() const {
    std::lock_guard<std::mutex> g(libraryLock_);
    uint64_t n = 0;
    for (const auto& [module, t] : library_)
        n += t->Count();
    return n;
}

void SipStack::SummariseTallies(const char* when) {
    undecodable_.Summarise(when);
    strays_.Summarise(when);
    std::lock_guard<std::mutex> g(libraryLock_);
    for (auto& [module, t] : library_)
        t->Summarise(when);
}

void SipStack::OnSummaryTimer(void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    self->SummariseTallies("in the last minute");
    tmr_start(self->summaryTimer_, kSummaryMs, OnSummaryTimer, self);
}

// ---- addresses

int SipStack::sip_get_listen(std::string& addr, uint16_t& udpPort, uint16_t& tcpPort) {
    std::string a;
    uint16_t udp = 0, tcp = 0;
    int r = Exec([&] {
        sa laddr;
        if (!sip_ || sip_transp_laddr(sip_, &laddr, SIP_TRANSP_UDP, nullptr) != 0) return -1;
        char text[64] = "";
        sa_ntop(&laddr, text, sizeof text);
        a = text;
        udp = sa_port(&laddr);
        tcp = LocalPort(SIP_TRANSP_TCP);
        return 0;
    });
    if (r != 0) return r;
    addr = a, udpPort = udp, tcpPort = tcp;
    return 0;
}

uint16_t SipStack::LocalPort(int tp) const {
    sa laddr;
    if (!sip_ || sip_transp_laddr(sip_, &laddr, static_cast<sip_transp>(tp), nullptr) != 0) return 0;
    return sa_port(&laddr);
}

std::string SipStack::LocalAddrFor(const std::string& host) {
    if (!bindAny_) return bindAddr_;
    // The source address the system would send from to reach the host.
    std::string h = host.substr(0, host.find(':'));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    std::string out;
    if (!h.empty() && getaddrinfo(h.c_str(), "5060", &hints, &res) == 0 && res) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in me{};
        socklen_t len = sizeof me;
        if (fd >= 0 && connect(fd, res->ai_addr, res->ai_addrlen) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&me), &len) == 0) {
            char buf[INET_ADDRSTRLEN];
            out = inet_ntop(AF_INET, &me.sin_addr, buf, sizeof buf);
        }
        if (fd >= 0) close(fd);
        freeaddrinfo(res);
    }
    if (out.empty() || out == "0.0.0.0") {
        sa ip;
        char buf[64] = "127.0.0.1";
        if (net_default_source_addr_get(AF_INET, &ip) == 0) sa_ntop(&ip, buf, sizeof buf);
        out = buf;
    }
    return out;
}

std::string SipStack::ContactFor(const std::string& user, const std::string& host, int tp) {
    std::string c = "sip:" + (user.empty() ? std::string("zuzod") : user) + "@" + LocalAddrFor(host) + ":" +
                    std::to_string(LocalPort(tp));
    if (tp == SIP_TRANSP_TCP) c += ";transport=tcp";
    return c;
}

// ---- slots

void SipStack::Update(int callid, const std::function<void(Slot&)>& change) {
    if (!ValidSlot(callid)) return;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    change(s);
    if (s.waker) s.waker->Signal();
}

void SipStack::sip_set_call_waker(int callid, WakeEvent* wake) {
    if (!ValidSlot(callid)) return;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    s.waker = wake;
}

void SipStack::sip_set_call_listen(int callid, bool on) {
    if (!ValidSlot(callid)) return;
    Slot& s = *slots_[size_t(callid)];
    {
        std::lock_guard<std::mutex> g(s.m);
        if (s.listening == on) return;
        s.listening = on;
    }
    // A call may be ringing for a line: the SIP thread gives it to this one.
    if (on && holding_.load() > 0) Post([this] { GiveHeld(); });
}

int SipStack::get_call_type(int callid) {
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    return s.type;
}

int SipStack::get_callin_state(int callid) {
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    return s.type == kSipTypeIn ? s.state : 0;
}

int SipStack::get_callout_state(int callid) {
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    return s.type == kSipTypeOut ? s.state : 0;
}

int SipStack::get_call_oa_state_ex(int callid, int& newFlag) {
    newFlag = 0;
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    newFlag = s.oaNew ? 1 : 0;
    return s.oa;
}

int SipStack::clear_call_oa_newflag(int callid) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    s.oaNew = false;
    return 0;
}

int SipStack::sip_get_ans_code(int callid) {
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    return s.ansCode;
}

int SipStack::sip_call_get_peeraddr(int callid, std::string& out) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    out = s.peerAddr;
    return 0;
}

int SipStack::sip_call_get_myaddr(int callid, std::string& out) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    out = s.myAddr;
    return 0;
}

int SipStack::sip_get_dtmf_info(int callid, std::string& digits) {
    digits.clear();
    if (!ValidSlot(callid)) return 0;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    digits.swap(s.dtmfInfo);
    return int(digits.size());
}

int SipStack::sip_get_peer_msg(int callid, std::string& first, std::string& second, int size) {
    first.clear();
    second.clear();
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    first = s.peerFrom.substr(0, 199);
    second = s.peerMsg.substr(0, size_t(size > 0 ? size - 1 : 0));
    return int(second.size());
}

int SipStack::sip_set_out_route(int callid, const char* source, const char* dest) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    s.outSource = source ? source : "";
    s.outRoute = dest ? dest : "";
    return 0;
}

int SipStack::sip_set_dial_ex_text(int callid, const char* text) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    s.dialExText = text ? text : "";
    // Each header line ends in CRLF, however the script wrote it.
    std::string fixed;
    size_t pos = 0;
    while (pos < s.dialExText.size()) {
        size_t nl = s.dialExText.find('\n', pos);
        std::string line = s.dialExText.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) fixed += line + "\r\n";
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    s.dialExText = fixed;
    return 0;
}

// ---- SDP

int SipStack::sip_get_init_sdp_offer(const char* addr, int port, std::string& sdp) {
    sdp = SdpOffer(addr ? addr : "0.0.0.0", port, codecs_);
    return 0;
}

int SipStack::sip_get_init_sdp_offer_ex(const char* addr, int port, int option, std::string& sdp) {
    std::vector<int> only;
    for (int t : codecs_)
        if (t == option) only.push_back(t);
    if (only.empty() && (option == 0 || option == 8)) only.push_back(option);
    sdp = SdpOffer(addr ? addr : "0.0.0.0", port, only.empty() ? codecs_ : only);
    return 0;
}

int SipStack::sip_get_sdp_answer(const char* addr, int port, const char* peerSdp, std::string& sdp) {
    sdp = SdpAnswer(addr ? addr : "0.0.0.0", port, peerSdp ? peerSdp : "");
    return sdp.empty() ? -1 : 0;
}

int SipStack::sip_call_get_peer_sdp(int callid, std::string& sdp) {
    if (!ValidSlot(callid)) return -1;
    Slot& s = *slots_[size_t(callid)];
    std::lock_guard<std::mutex> g(s.m);
    sdp = s.peerSdp;
    return sdp.empty() ? -1 : 0;
}

int SipStack::sip_call_get_peermedia_ex(int callid, int& type, std::string& addr, uint16_t& port, int& evpt) {
    std::string sdp;
    if (sip_call_get_peer_sdp(callid, sdp) != 0) return -1;
    int p = 0;
    if (!SdpPeerMedia(sdp, type, addr, p, evpt)) return -1;
    port = uint16_t(p);
    if (addr.size() > 19) addr.resize(19);
    return 0;
}

// ---- accounts

int SipStack::sip_account_register(const SipAccountArgs& a) {
    return AddAccount(a, true);
}

int SipStack::sip_account_set(const SipAccountArgs& a) {
    return AddAccount(a, false);
}

int SipStack::AddAccount(const SipAccountArgs& a, bool doRegister) {
    return Exec([=, this] {
        auto acc = std::make_unique<Account>();
        acc->args = a;
        acc->doRegister = doRegister;
        acc->stack = this;
        acc->callId = RandomToken() + "@zuzod";
        acc->fromTag = RandomToken();
        // The configured contact names the bound address; the one the registrar reaches us at replaces "any".
        SipUriParts c = ParseSipUri(a.contact);
        acc->contact = ContactFor(c.user, ParseSipUri(a.server).host, SIP_TRANSP_UDP);
        Creds* creds = NewCreds(a.authUser, a.password);
        sip_auth_alloc(&acc->auth, OnAuth, creds, true);
        mem_deref(creds);
        {
            std::lock_guard<std::mutex> g(accLock_);
            if (auto it = accounts_.find(a.id); it != accounts_.end()) {
                tmr_cancel(&it->second->refresh);
                mem_deref(it->second->auth);
            }
            accounts_[a.id] = std::move(acc);
        }
        if (doRegister) SendRegister(a.id, uint32_t(a.expires));
        return 0;
    });
}

void SipStack::SendRegister(int id, uint32_t expires) {
    Account* acc;
    {
        std::lock_guard<std::mutex> g(accLock_);
        auto it = accounts_.find(id);
        if (it == accounts_.end()) return;
        acc = it->second.get();
    }
    const SipAccountArgs& a = acc->args;
    std::string route = !a.outboundProxy.empty() ? a.outboundProxy : a.server;
    if (route.find(";lr") == std::string::npos) route += ";lr";
    Request* r = NewRequest("REGISTER", a.registrar, a.aor, a.aor, route);
    r->callId = acc->callId;
    r->fromTag = acc->fromTag;
    r->cseq = ++acc->cseq;
    r->extra = "Contact: <" + acc->contact + ">;expires=" + std::to_string(expires) + "\r\nExpires: " +
               std::to_string(expires) + "\r\n";
    r->auth = static_cast<sip_auth*>(mem_ref(acc->auth));
    r->done = [this, id, expires](Request& req, int err, const sip_msg* msg) {
        std::lock_guard<std::mutex> g(accLock_);
        auto it = accounts_.find(id);
        if (it == accounts_.end()) return;
        Account& ac = *it->second;
        ac.cseq = std::max(ac.cseq, req.cseq);
        bool ok = !err && msg && msg->scode >= 200 && msg->scode < 300;
        int state = expires == 0 ? kSipRegPending : ok ? kSipRegOk : kSipRegFailed;
        if (state != ac.state)
            WriteRunLogF("register(id=%d, %s): %d", id, ac.args.aor.c_str(), msg ? int(msg->scode) : -err);
        ac.state = state;
        ac.registered = ok && expires > 0;
        // A registration is renewed before it lapses; a failed one is tried again a minute later.
        if (expires > 0) tmr_start(&ac.refresh, ok ? uint64_t(expires) * 900 : 60000, OnRefresh, &ac);
    };
    if (Send(r) != 0) {
        std::lock_guard<std::mutex> g(accLock_);
        acc->state = kSipRegFailed;
    }
}

void SipStack::OnRefresh(void* arg) {
    auto* acc = static_cast<Account*>(arg);
    acc->stack->SendRegister(acc->args.id, uint32_t(acc->args.expires));
}

int SipStack::sip_account_get_state(int id) {
    std::lock_guard<std::mutex> g(accLock_);
    auto it = accounts_.find(id);
    return it == accounts_.end() ? -1 : it->second->state;
}

int SipStack::sip_account_unregister(int id) {
    return Exec([=, this] {
        bool was;
        {
            std::lock_guard<std::mutex> g(accLock_);
            auto it = accounts_.find(id);
            if (it == accounts_.end()) return -1;
            tmr_cancel(&it->second->refresh);
            was = it->second->registered;
            it->second->registered = false;
            it->second->state = kSipRegPending;
        }
        if (was) SendRegister(id, 0);
        return 0;
    });
}

int SipStack::OnAuth(char** user, char** pass, const char*, void* arg) {
    auto* c = static_cast<Creds*>(arg);
    if (!c) return EINVAL;
    int err = str_dup(user, c->user);
    return err ? err : str_dup(pass, c->pass);
}

} // namespace zz
