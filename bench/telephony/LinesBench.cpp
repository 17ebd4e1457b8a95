// Time and memory to load and start 1,024 lines each compiling a 500-line script, and the processor time the
// same lines cost per second while they wait for calls.
//
// The scripts are compiled by the engine; while running, each line waits for a call the way a line driver does
// (polling its call object every 250 ms until the stop flag is set), since the scripts' own waiting builtins
// come with the drivers. The manager's deliberate pauses (LOAD_DELAY hand-out, run-flag and gate waits) run on
// a virtual clock: the figures are the work, not the pacing.
#include "app/SystemStart.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/CpuGate.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagTelDrive.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace zz;

namespace {

constexpr int32_t kLines = 1024;

std::atomic<int32_t> g_waiting{0};
std::atomic<int32_t> g_pollMs{250};

// A line waiting for a call as the drivers poll (the SIP driver every 250 ms) until the stop flag.
class WaitingCall : public TagKvCall {
public:
    int WaitRing(int32_t) override {
        ++g_waiting;
        while (!stopFlag)
            std::this_thread::sleep_for(std::chrono::milliseconds(g_pollMs.load()));
        --g_waiting;
        return -1;
    }
};

class WaitingCard : public TagKvCard {
public:
    explicit WaitingCard(int32_t n) { lineCount = n; }
    int GetLineName(int32_t i, std::string& name) override {
        name = "VirtualLine" + std::to_string(i) + "#";
        return i >= 0 && i < lineCount ? 0 : -1;
    }
    std::unique_ptr<TagTelLine> MakeLine(int32_t i, int32_t lineNo) override {
        if (i < 0 || i >= lineCount) return nullptr;
        return NewLine(i, lineNo, std::make_unique<WaitingCall>());
    }
};

// The engine's programs, whose main flow is one wait for a call after another.
class WaitingPrograms : public LinePrograms {
public:
    LinePrograms& e = EngineLinePrograms();
    TagTelBasic* Build(const std::string& f, int32_t n, TagKvCall* c) override { return e.Build(f, n, c); }
    void Destroy(TagTelBasic* p) override { e.Destroy(p); }
    int32_t Run(TagTelBasic* p) override {
        p->stopped = 0;
        p->pKvCall->stopFlag = false;
        while (!p->IsQuit() && !p->endOfRun && !p->IsReloadPending())
            static_cast<TagKvCall*>(p->pKvCall)->WaitRing(1);
        p->stopped = 1;
        return 0;
    }
    int32_t InitResult(TagTelBasic* p) override { return e.InitResult(p); }
    void SetLineEntry(TagTelBasic* p, TagTelLine* l) override { e.SetLineEntry(p, l); }
    void SetReloadAllowed(TagTelBasic* p, bool on) override { e.SetReloadAllowed(p, on); }
    void SetReload(TagTelBasic* p, bool on) override { e.SetReload(p, on); }
    bool ReloadRequested(TagTelBasic* p) override { return e.ReloadRequested(p); }
    void RequestQuit(TagTelBasic* p) override { e.RequestQuit(p); }
    void ForceEnd(TagTelBasic* p) override { e.ForceEnd(p); }
    bool Stopped(TagTelBasic* p) override { return e.Stopped(p); }
    void ClearScriptCache() override { e.ClearScriptCache(); }
};

// 500 lines: assignments, conditions and loops.
std::string Script500() {
    std::string s = "n = 0\ntotal = 0\n";
    int lines = 2;
    // Appends only: GCC 12 warns falsely (-Wrestrict) on a literal joined to a temporary string.
    for (int b = 0; lines + 12 <= 500; ++b) {
        std::string i = "i";
        i += std::to_string(b);
        s.append(i).append(" = 0\nwhile (").append(i).append(" < 3)\n{\n");
        s.append("    ").append(i).append(" = ").append(i).append(" + 1\n");
        s.append("    total = total + ").append(i).append("\n}\n");
        s.append("if (total > ").append(std::to_string(b * 7));
        s.append(")\n{\n    n = n + 1\n}\nelse\n{\n    n = n - 1\n}\n");
        lines += 13;
    }
    while (lines < 500) {
        const std::string n = std::to_string(lines);
        s.append("v").append(n).append(" = n + ").append(n).append("\n");
        ++lines;
    }
    return s;
}

int32_t Failed(TagTelDrive& d) {
    int32_t n = 0;
    for (int32_t i = 0; i < d.LineCount(); ++i) {
        std::lock_guard<std::mutex> lk(d.Line(i)->programLock);
        if (d.Line(i)->program && d.Line(i)->program->initResult != 0) ++n;
    }
    return n;
}

long RssKiB() {
    std::ifstream in("/proc/self/statm");
    long size = 0, rss = 0;
    in >> size >> rss;
    return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void BM_StartAndIdle1024Lines(benchmark::State& state) {
    char dir[] = "/tmp/zz_lines_bench_XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    char* cwd = get_current_dir_name();
    std::string old = cwd ? cwd : ".";
    std::free(cwd);
    if (chdir(dir) != 0) return;
    {
        std::ofstream("script500.kvs") << Script500();
        std::ofstream("ZuZodRun.cfg") << "LOAD_DELAY=5\n0-1023=script500.kvs\n";
    }
    WaitingPrograms programs;
    SetLinePrograms(&programs);
    DriverMakers makers;
    makers.vir = [](TagRunCfg*) { return std::make_unique<WaitingCard>(kLines); };
    SetDriverMakers(makers);
    SetCpuPercentSource([] { return 0; });
    g_pollMs = int32_t(state.range(0));

    for (auto _ : state) {
        VirtualClock pacing(0, true);
        SetClock(&pacing);
        TagRunCfg cfg;
        long rss0 = RssKiB();
        double t0 = Now();
        auto drive = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg);
        drive->Run("ZuZodRun.cfg");
        // Lines whose script does not compile never wait: stop looking once every loading thread is done.
        while (g_waiting.load() < kLines && Now() - t0 < 120) {
            if (drive->LoadedLines() == kLines && g_waiting.load() + Failed(*drive) >= kLines) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        double started = Now() - t0;
        long rss1 = RssKiB();
        int32_t ok = 0;
        for (int32_t n = 0; n < kLines; ++n) {
            std::lock_guard<std::mutex> lk(drive->Line(n)->programLock);
            TagTelBasic* p = drive->Line(n)->program;
            if (p && p->initResult == 0 && p->OpCount() > 100) ++ok;
        }

        // Idle: every line waits for a call. The close below waits on real time again.
        SetClock(nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        double c0 = CpuSeconds(), w0 = Now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double idleCpu = (CpuSeconds() - c0) / (Now() - w0);

        double c1 = Now();
        drive.reset();
        double closed = Now() - c1;

        state.SetIterationTime(started);
        state.counters["lines_compiled_ok"] = ok;
        state.counters["lines_waiting"] = g_waiting.load();
        state.counters["start_s"] = started;
        state.counters["start_ms_per_line"] = started * 1000 / kLines;
        state.counters["rss_MiB"] = double(rss1 - rss0) / 1024;
        state.counters["rss_KiB_per_line"] = double(rss1 - rss0) / kLines;
        state.counters["idle_core_percent"] = idleCpu * 100;
        state.counters["idle_us_per_line_per_s"] = idleCpu * 1e6 / kLines;
        state.counters["close_s"] = closed;
        state.counters["lines_left_running"] = g_waiting.load();
    }
    SetCpuPercentSource(nullptr);
    SetDriverMakers({});
    SetLinePrograms(nullptr);
    if (chdir(old.c_str()) != 0) return;
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0) return;
}
// Argument: the call's poll interval while waiting (ms).
BENCHMARK(BM_StartAndIdle1024Lines)
    ->Arg(250)
    ->Arg(1000)
    ->Arg(5000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One line's share of the start: compiling the 500-line script into a program and freeing it.
void BM_CompileScript500(benchmark::State& state) {
    char dir[] = "/tmp/zz_lines_bench_XXXXXX";
    if (!mkdtemp(dir)) return;
    std::string file = std::string(dir) + "/script500.kvs";
    std::ofstream(file) << Script500();
    TagKvCall call;
    for (auto _ : state) {
        TagTelBasic* p = EngineLinePrograms().Build(file, 0, &call);
        benchmark::DoNotOptimize(p->initResult);
        EngineLinePrograms().Destroy(p);
    }
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0) return;
}
BENCHMARK(BM_CompileScript500)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
