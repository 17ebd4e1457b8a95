// What waiting lines cost: 1,000 lines, each running its compiled script on a thread of its own, all blocked in
// one kind of wait (a driver's wait for a call, Sleep without limit, or Play of a voice that does not end). The
// figures: the processor share of one core the idle lines take, and how long a quit or a reload takes to end
// the lines' waits (until each line's run returns: the median and the slowest line; and until every line's thread
// has exited).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagPcPlayer.h"

using namespace zz;

namespace {

constexpr int32_t kLines = 1000;
using Steady = std::chrono::steady_clock;

// The real clock, counting the threads blocked in a wait: the bench starts measuring once every line waits.
class CountingClock : public RealClock {
public:
    void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) override {
        ++waiting;
        RealClock::WaitOn(cv, lk, ms);
        --waiting;
    }
    std::atomic<int32_t> waiting{0};
};

// A driver's wait for a call: blocked on the line's wake event until a call is offered or the line stops.
class RingingCall : public TagKvCall {
public:
    int WaitRing(int32_t) override {
        if (!WaitLine(WakeEvent::kForever, [&] { return offered.load(); })) return -1;
        MarkConnected();
        return 0;
    }
    std::atomic<bool> offered{false};
};

// A sound-card player whose voice never ends by itself; stopping it ends the play.
class EndlessPlayer : public TagPcPlayer {
public:
    int Status() const override { return 0; }
    void Play(const char*, int) override { finished_ = false; }
    void SetLoop(bool) override {}
    bool IsFinished() override { return finished_; }
    void Stop() override {
        finished_ = true;
        if (wake_) wake_->Signal();
    }
    void SetWake(WakeEvent* wake) override { wake_ = wake; }

private:
    std::atomic<bool> finished_{false};
    WakeEvent* wake_ = nullptr;
};

const char* const kScripts[] = {
    "r = WaitRing(1);\nreturn(r);\n",
    "r = Sleep(0);\nreturn(r);\n",
    "r = Play(\"long\");\nreturn(r);\n",
};
const char* const kWaitNames[] = {"WaitRing", "Sleep", "Play"};

struct Line {
    RingingCall call;
    TagTelBasic* prog = nullptr;
    std::thread thread;
    Steady::time_point ended;
};

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Argument 0: the kind of wait; argument 1: 0 quit (as closing the lines does), 1 reload.
void BM_IdleLinesAndQuit(benchmark::State& state) {
    const auto wait = size_t(state.range(0));
    const bool reload = state.range(1) != 0;
    char dir[] = "/tmp/zz_wait_bench_XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::ofstream("idle.kvs") << kScripts[wait];
    RegisterBuiltins();
    SetPcPlayerMaker([](const char*, int) { return std::unique_ptr<TagPcPlayer>(new EndlessPlayer); });
    CountingClock clock;
    ScopedClock scoped(&clock);
    state.SetLabel(std::string(kWaitNames[wait]) + (reload ? ", reload" : ", quit"));

    for (auto _ : state) {
        TagMemKvs::Process().Clear();
        std::vector<std::unique_ptr<Line>> lines;
        for (int32_t n = 0; n < kLines; ++n) {
            auto line = std::make_unique<Line>();
            line->call.lineNo = n;
            line->prog = new TagTelBasic("idle.kvs", n, &line->call, 1, nullptr);
            line->prog->SetReloadAllowed(1);
            lines.push_back(std::move(line));
        }
        for (auto& l : lines)
            l->thread = std::thread([p = l.get()] {
                p->prog->Run();
                p->ended = Steady::now();
            });
        while (clock.waiting.load() < kLines)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));

        // Idle: every line blocked in its wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        double c0 = CpuSeconds();
        auto w0 = Steady::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double idle = (CpuSeconds() - c0) / std::chrono::duration<double>(Steady::now() - w0).count();

        // Every line is asked at once, as closing or reloading all lines does.
        auto asked = Steady::now();
        for (auto& l : lines) {
            if (reload) {
                l->prog->SetReload(1);
            } else {
                l->prog->SetQuit(1);
                l->call.RequestStop();
            }
        }
        std::vector<double> ends;
        for (auto& l : lines) {
            l->thread.join();
            ends.push_back(Ms(l->ended - asked));
        }
        double all = Ms(Steady::now() - asked);
        std::sort(ends.begin(), ends.end());
        for (auto& l : lines)
            delete l->prog;

        state.SetIterationTime(all / 1000);
        state.counters["idle_core_percent"] = idle * 100;
        state.counters["idle_us_per_line_per_s"] = idle * 1e6 / kLines;
        state.counters["median_line_end_ms"] = ends[ends.size() / 2];
        state.counters["slowest_line_end_ms"] = ends.back();
        state.counters["all_threads_exited_ms"] = all;
    }
    SetPcPlayerMaker(nullptr);
    if (chdir("/tmp") != 0) return;
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0) return;
}
BENCHMARK(BM_IdleLinesAndQuit)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
