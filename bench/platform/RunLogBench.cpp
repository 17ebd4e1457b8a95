// The run log under many line threads: each thread writes a few lines and ends, as lines do when they start
// and stop. The log's cost must grow with the lines written, not with the threads alive; the "off" rows are the
// same threads without a log, for scale.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/TagWriteLog.h"

namespace {

void RunThreads(benchmark::State& state, bool logOn, bool immediate) {
    const int threads = int(state.range(0));
    const int lines = 8;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "zz_runlog_bench";
    std::filesystem::create_directories(dir);
    for (auto _ : state) {
        std::filesystem::remove(dir / "bench_log.txt");
        zz::TagWriteLog log(logOn ? (dir / "bench_log.txt").string() : std::string(), 0, immediate, true);
        std::vector<std::thread> pool;
        pool.reserve(size_t(threads));
        // Threads live together, as running lines do, then all end.
        std::latch together(threads + 1);
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                for (int i = 0; i < lines; ++i)
                    log.AddLine(("lcnt=" + std::to_string(t) + ", line " + std::to_string(i)).c_str());
                together.arrive_and_wait();
            });
        together.arrive_and_wait();
        for (auto& th : pool)
            th.join();
        log.Flush();
    }
    state.counters["lines/s"] =
        benchmark::Counter(double(threads) * lines * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ThreadsNoLog(benchmark::State& s) {
    RunThreads(s, false, false);
}
void BM_ThreadsBufferedLog(benchmark::State& s) {
    RunThreads(s, true, false);
}
void BM_ThreadsImmediateLog(benchmark::State& s) {
    RunThreads(s, true, true);
}

} // namespace

BENCHMARK(BM_ThreadsNoLog)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreadsBufferedLog)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreadsImmediateLog)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
