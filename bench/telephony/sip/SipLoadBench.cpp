// SIP lines under load from SIPp on loopback. Each line does what the demo script does: it waits for a call,
// answers, plays a prompt in a loop, waits for a key and hangs up. SIPp's callers send their voice, then the key 1
// as an RFC 4733 event; the lines' RTP goes to a receiver of the bench that times every packet.
//
// BM_ConcurrentCalls/N: N calls up at once (the driver offers 1024 channels); over 10 s it counts the packets that
// came more than 40 ms behind their stream's schedule or not at all ("lost"), the process's processor use and the
// memory each call adds.
// BM_CallsPerSecond/R/S: SIPp offers R calls a second for S seconds, each hung up as soon as its key (sent as SIP
// INFO, see quick.xml) is in; the calls completed per second, the failed ones and the SIP thread's load at the
// start and at the end.
// BM_VanishingCallers/R/S: callers that vanish once answered; every line must take calls again.
//
// Needs sipp (Debian's sip-tester) and the prompt made by sox; skips without them. SIPp writes the calls it saw
// fail, and why, to /tmp/zz_sipp_err.log.
#include "platform/WakeEvent.h"
#include "telephony/TagTelLine.h"
#include "telephony/sip/SipStack.h"
#include "telephony/sip/TagSipCall.h"
#include "telephony/sip/TagSipCfg.h"
#include "telephony/sip/TagSipDrive.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zz;

namespace {

constexpr int kRtpBase = 20000;
constexpr uint64_t kLateMs = 40;

uint64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double RssKb() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, rss = 0;
    in >> pages >> rss;
    return double(rss) * double(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// A UDP socket on an ephemeral port of 127.0.0.1; the port.
int BindLoopbackUdp(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A UDP port free a moment ago on 127.0.0.1: SIPp given 0 takes 5060, which a running zuzod may hold.
uint16_t FreeUdpPort() {
    uint16_t port = 0;
    close(BindLoopbackUdp(port));
    return port;
}

// Times the RTP of every stream (by SSRC) against a schedule of one packet every 20 ms from its first packet.
class RtpReceiver {
public:
    RtpReceiver() {
        uint16_t p = 0;
        fd_ = BindLoopbackUdp(p);
        port = p;
        int size = 32 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        thread_ = std::thread([this] { Loop(); });
    }
    ~RtpReceiver() {
        quit_ = true;
        thread_.join();
        close(fd_);
    }
    // Starts a new count (the streams' schedules start again from their next packet).
    void Reset() {
        std::lock_guard<std::mutex> g(m_);
        streams_.clear();
    }
    struct Totals {
        uint64_t expected = 0, received = 0, late = 0;
    };
    Totals Take() {
        std::lock_guard<std::mutex> g(m_);
        Totals t;
        for (auto& [ssrc, s] : streams_) {
            t.expected += s.lastExt - s.firstExt + 1;
            t.received += s.count;
            t.late += s.late;
        }
        return t;
    }
    int port = 0;

private:
    struct Stream {
        uint64_t t0 = 0;
        int64_t firstExt = 0, lastExt = 0;
        uint16_t lastSeq = 0;
        int64_t cycles = 0;
        uint64_t count = 0, late = 0;
    };
    void Loop() {
        static uint8_t bufs[64][256];
        while (!quit_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            mmsghdr msgs[64];
            iovec iov[64];
            for (int i = 0; i < 64; ++i) {
                iov[i] = {bufs[i], sizeof bufs[i]};
                msgs[i] = {};
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            int n = recvmmsg(fd_, msgs, 64, MSG_DONTWAIT, nullptr);
            uint64_t now = NowUs();
            std::lock_guard<std::mutex> g(m_);
            for (int i = 0; i < n; ++i) {
                const uint8_t* b = bufs[i];
                if (msgs[i].msg_len < 12 || (b[1] & 0x7F) != 8) continue;
                uint16_t seq = uint16_t(b[2] << 8 | b[3]);
                uint32_t ssrc = uint32_t(b[8]) << 24 | uint32_t(b[9]) << 16 | uint32_t(b[10]) << 8 | b[11];
                auto [it, fresh] = streams_.try_emplace(ssrc);
                Stream& s = it->second;
                if (fresh) {
                    s.t0 = now;
                    s.lastSeq = seq;
                    s.firstExt = s.lastExt = seq;
                    s.count = 1;
                    continue;
                }
                if (seq < 0x1000 && s.lastSeq > 0xF000) ++s.cycles;
                s.lastSeq = seq;
                int64_t ext = s.cycles * 65536 + seq;
                if (ext > s.lastExt) s.lastExt = ext;
                ++s.count;
                uint64_t due = s.t0 + uint64_t(ext - s.firstExt) * 20000;
                if (now > due + kLateMs * 1000) ++s.late;
            }
        }
    }
    int fd_ = -1;
    std::atomic<bool> quit_{false};
    std::mutex m_;
    std::map<uint32_t, Stream> streams_;
    std::thread thread_;
};

// Lines of the real driver, each on a thread doing the demo's road.
class LoadLines {
public:
    LoadLines(int n, const std::string& prompt) {
        dir_ = std::filesystem::temp_directory_path() / ("zz_sipload_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "SipCfg.ini") << "sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\n";
        cfg_ = std::make_unique<TagSipCfg>((dir_ / "SipCfg.ini").c_str());
        drive_ = std::make_unique<TagSipDrive>(n, "127.0.0.1", 0, 0, kRtpBase, *cfg_, GetSipLibs());
        for (int i = 0; i < n; ++i)
            lines_.push_back(drive_->MakeLine(i, i));
        for (auto& l : lines_)
            threads_.emplace_back([this, c = l->call.get(), prompt] { Road(*c, prompt); });
    }
    ~LoadLines() {
        quit_ = true;
        for (auto& l : lines_)
            l->call->RequestStop();
        for (auto& t : threads_)
            t.join();
        lines_.clear();
        drive_.reset();
        std::filesystem::remove_all(dir_);
    }
    bool ok() const { return drive_ && drive_->status == 0; }
    uint16_t Port() { return static_cast<SipStack*>(GetSipLibs().ua)->UdpPort(); }
    int Connected() {
        int n = 0;
        for (auto& l : lines_)
            n += l->call->callState == kCallConnected;
        return n;
    }
    std::atomic<int> completed{0};
    std::atomic<int> ended{0}; // calls answered and hung up, with or without the key
    // How the calls without the key ended: GetKeys's result and keys, and how many.
    std::map<std::string, int> outcomes;
    std::mutex outcomesLock_;

private:
    void Road(TagKvCall& c, const std::string& prompt) {
        while (!quit_) {
            c.stopFlag = false;
            c.WaitRing(1);
            if (quit_ || c.callState != kCallConnected) continue;
            c.StartLoopPlay(prompt.c_str(), 0);
            std::string keys;
            int got = c.GetKeys(keys, 1, 120, '#');
            c.Hangup();
            ++ended;
            if (keys == "1") {
                ++completed;
            } else {
                std::lock_guard<std::mutex> g(outcomesLock_);
                ++outcomes[std::to_string(got) + ":" + keys];
            }
        }
    }
    std::filesystem::path dir_;
    std::unique_ptr<TagSipCfg> cfg_;
    std::unique_ptr<TagSipDrive> drive_;
    std::vector<std::unique_ptr<TagTelLine>> lines_;
    std::vector<std::thread> threads_;
    std::atomic<bool> quit_{false};
};

// The looping prompt the lines play; empty, with the benchmark skipped, without sox.
std::string Prompt(benchmark::State& state) {
    std::string path = (std::filesystem::temp_directory_path() / "zz_sipload_prompt.wav").string();
    std::string cmd = "sox -n -r 8000 -c 1 -e a-law " + path + " synth 3 sine 440 vol 0.5 2>/dev/null";
    if (std::system(cmd.c_str()) == 0) return path;
    state.SkipWithError("sox is needed for the prompt");
    return {};
}

// Runs SIPp with a scenario of this folder against the lines; returns its process id.
pid_t Sipp(const char* scenarioFile, uint16_t port, int rxport, int calls, int rate, int holdMs) {
    std::string scenario = std::string(ZZ_BENCH_DIR) + "/" + scenarioFile;
    std::vector<std::string> args = {"sipp",
                                     "-sf",
                                     scenario,
                                     "-i",
                                     "127.0.0.1",
                                     "-p",
                                     std::to_string(FreeUdpPort()),
                                     "-mi",
                                     "127.0.0.1",
                                     "-m",
                                     std::to_string(calls),
                                     "-l",
                                     std::to_string(calls),
                                     "-r",
                                     std::to_string(rate),
                                     "-set",
                                     "rxport",
                                     std::to_string(rxport),
                                     "-d",
                                     std::to_string(holdMs),
                                     "-nostdin",
                                     "-trace_err",
                                     "-error_file",
                                     "/tmp/zz_sipp_err.log",
                                     "-timeout",
                                     "300",
                                     "-max_socket",
                                     "65000",
                                     "127.0.0.1:" + std::to_string(port)};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "sipp", &fa, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ConcurrentCalls(benchmark::State& state) {
    const int n = int(state.range(0));
    std::string prompt = Prompt(state);
    if (prompt.empty()) return;
    for (auto _ : state) {
        RtpReceiver rx;
        LoadLines lines(n, prompt);
        if (!lines.ok()) {
            state.SkipWithError("the SIP driver did not start");
            return;
        }
        double idleRss = RssKb();
        const int rate = 100;
        const int measureMs = 10000;
        const int hold = n * 1000 / rate + 5000 + measureMs;
        pid_t sipp = Sipp("caller.xml", lines.Port(), rx.port, n, rate, hold);
        if (!sipp) {
            state.SkipWithError("sipp is needed for the load");
            return;
        }
        // Every call up, and a moment to settle; then the measured stretch.
        for (int i = 0; i < 600 && lines.Connected() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.counters["calls_up"] = lines.Connected();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        rx.Reset();
        double cpu0 = CpuSeconds();
        uint64_t t0 = NowUs();
        std::this_thread::sleep_for(std::chrono::milliseconds(measureMs));
        double cpu = (CpuSeconds() - cpu0) / (double(NowUs() - t0) / 1e6);
        RtpReceiver::Totals t = rx.Take();
        double rss = RssKb();
        int sippExit = WaitExit(sipp);
        double lost =
            t.expected ? double(t.late + (t.expected - std::min(t.expected, t.received))) / double(t.expected) : 1;
        state.counters["lost_pct"] = lost * 100;
        state.counters["late"] = double(t.late);
        state.counters["missing"] = double(t.expected - std::min(t.expected, t.received));
        state.counters["cpu_pct"] = cpu * 100;
        state.counters["KiB_per_call"] = (rss - idleRss) / n;
        state.counters["completed"] = lines.completed.load();
        state.counters["sipp_exit"] = sippExit;
    }
}

// Processor seconds of one thread of this process so far.
double ThreadCpuSeconds(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t paren = text.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream fields(text.substr(paren + 2));
    std::string f;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::atof(f.c_str());
        if (i == 15) stime = std::atof(f.c_str());
    }
    return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Descriptors this process holds.
int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// BM_CallsPerSecond/R/S: SIPp offers R calls a second for S seconds. The SIP thread's processor use is taken in
// the first and the last 30 s (or tenth) of the run: flat when nothing piles up in the stack.
void BM_CallsPerSecond(benchmark::State& state) {
    const int rate = int(state.range(0));
    const int seconds = int(state.range(1));
    std::string prompt = Prompt(state);
    if (prompt.empty()) return;
    for (auto _ : state) {
        RtpReceiver rx;
        // Lines enough for the calls that overlap: each lasts about half a second.
        LoadLines lines(std::min(1024, rate * 2 + 50), prompt);
        if (!lines.ok()) {
            state.SkipWithError("the SIP driver did not start");
            return;
        }
        auto* ua = static_cast<SipStack*>(GetSipLibs().ua);
        const int tid = ua->SipThreadTid();
        double cpu0 = CpuSeconds();
        double rss0 = RssKb();
        int fds0 = OpenDescriptors();
        uint64_t t0 = NowUs();
        pid_t sipp = Sipp("quick.xml", lines.Port(), rx.port, rate * seconds, rate, 100);
        if (!sipp) {
            state.SkipWithError("sipp is needed for the load");
            return;
        }
        const int window = std::max(1, std::min(30, seconds / 10));
        std::vector<double> sipCpu; // per window
        double last = ThreadCpuSeconds(tid);
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(sipp, &status, WNOHANG)) == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(window));
            double now = ThreadCpuSeconds(tid);
            sipCpu.push_back((now - last) / window * 100);
            last = now;
        }
        int sippExit = done == sipp && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        double wall = double(NowUs() - t0) / 1e6;
        // SIPp ends with the last BYE's answer, while the lines that sent the last BYEs are still letting their
        // calls go: they are counted once done.
        for (int i = 0; i < 300 && lines.ended.load() < rate * seconds; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.counters["cpu_pct"] = (CpuSeconds() - cpu0) / wall * 100;
        state.counters["completed"] = lines.completed.load();
        state.counters["calls_per_s"] = lines.completed.load() / wall;
        state.counters["failed"] = rate * seconds - lines.completed.load();
        state.counters["in_call_at_end"] = lines.Connected();
        state.counters["sipp_exit"] = sippExit;
        state.counters["ended"] = lines.ended.load();
        for (auto& [how, n] : lines.outcomes)
            std::fprintf(stderr, "a call ended without the key: GetKeys %s, %d times\n", how.c_str(), n);
        if (sipCpu.size() >= 2) {
            state.counters["sip_thread_first_pct"] = sipCpu.front();
            // The last full window while SIPp still offered calls.
            state.counters["sip_thread_last_pct"] = sipCpu[sipCpu.size() - 2];
        }
        state.counters["rss_growth_KiB"] = RssKb() - rss0;
        state.counters["fd_growth"] = OpenDescriptors() - fds0;
    }
}

// BM_VanishingCallers/R/S: R calls a second for S seconds whose callers vanish once answered (no RTP, no BYE):
// every line must notice within its minute of silence and take calls again; the lines still in a call after
// that, and what memory and descriptors the process kept.
void BM_VanishingCallers(benchmark::State& state) {
    const int rate = int(state.range(0));
    const int seconds = int(state.range(1));
    std::string prompt = Prompt(state);
    if (prompt.empty()) return;
    for (auto _ : state) {
        RtpReceiver rx;
        LoadLines lines(1024, prompt);
        if (!lines.ok()) {
            state.SkipWithError("the SIP driver did not start");
            return;
        }
        double rss0 = RssKb();
        int fds0 = OpenDescriptors();
        pid_t sipp = Sipp("vanish.xml", lines.Port(), rx.port, rate * seconds, rate, 0);
        if (!sipp) {
            state.SkipWithError("sipp is needed for the load");
            return;
        }
        int sippExit = WaitExit(sipp);
        // A minute of silence and the hang-up's BYE: every line is free again well within two.
        for (int i = 0; i < 1200 && lines.ended.load() < rate * seconds; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.counters["ended"] = lines.ended.load();
        state.counters["in_call_at_end"] = lines.Connected();
        state.counters["rss_growth_KiB"] = RssKb() - rss0;
        state.counters["fd_growth"] = OpenDescriptors() - fds0;
        state.counters["sipp_exit"] = sippExit;
    }
}

} // namespace

BENCHMARK(BM_VanishingCallers)->Args({10, 200})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ConcurrentCalls)->Arg(100)->Arg(500)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CallsPerSecond)
    ->Args({50, 10})
    ->Args({200, 10})
    ->Args({300, 10})
    ->Args({500, 10})
    ->Args({100, 200})
    ->Args({500, 120})
    ->Args({500, 300})
    ->Args({700, 120})
    ->Args({900, 120})
    ->Args({1200, 120})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
