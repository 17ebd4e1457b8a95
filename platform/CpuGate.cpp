#include "platform/CpuGate.h"

#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace zz {

namespace {

// The process sampler: CPU milliseconds over wall milliseconds since the previous sample.
class CpuSampler {
public:
    CpuSampler() : lastTick_(GetTickCount()), lastCpu_(CpuMs()) {
        long n = sysconf(_SC_NPROCESSORS_ONLN);
        cores_ = n > 0 ? uint64_t(n) : 1;
    }
    int32_t Get() {
        std::lock_guard<std::mutex> lk(m_);
        uint32_t now = GetTickCount();
        uint32_t elapsed = TicksSince(lastTick_, now);
        if (elapsed > 399) {
            uint64_t cpu = CpuMs();
            // Share of the whole machine: one busy script on a many-core server must not hold every other line
            // in the gate.
            percent_ = int32_t((cpu - lastCpu_) * 100 / elapsed / cores_);
            lastTick_ = now;
            lastCpu_ = cpu;
        }
        return percent_;
    }

private:
    static uint64_t CpuMs() {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        return uint64_t(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 +
               uint64_t(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
    }
    std::mutex m_;
    uint32_t lastTick_;
    uint64_t lastCpu_;
    uint64_t cores_;
    int32_t percent_ = 0;
};

std::atomic<bool> g_gateOpen{false};
std::mutex g_cpuSourceLock;
std::function<int32_t()> g_cpuSource;

} // namespace

int32_t CpuPercentage() {
    {
        std::lock_guard<std::mutex> lk(g_cpuSourceLock);
        if (g_cpuSource) return g_cpuSource();
    }
    static CpuSampler sampler;
    return sampler.Get();
}

void SetCpuPercentSource(std::function<int32_t()> source) {
    std::lock_guard<std::mutex> lk(g_cpuSourceLock);
    g_cpuSource = std::move(source);
}

void OpenCpuGate(bool open) {
    g_gateOpen.store(open, std::memory_order_relaxed);
}

bool WaitCpuIdleOr(int32_t rounds, int32_t ms, const std::atomic<bool>* stop) {
    if (g_gateOpen.load(std::memory_order_relaxed)) return true;
    for (int32_t i = 0; i < rounds * 10; ++i) {
        if (stop && stop->load()) return false;
        if (CpuPercentage() < 55) {
            if (ms >= 1) SleepMs(uint32_t(ms));
            return true;
        }
        SleepMs(320);
    }
    return false;
}

} // namespace zz
