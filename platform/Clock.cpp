#include "platform/Clock.h"

#include <ctime>
#include <thread>

namespace zz {

uint32_t RealClock::Ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms);
}

void RealClock::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void VirtualClock::Sleep(uint32_t ms) {
    if (auto_) {
        Advance(ms);
        std::this_thread::yield();
        return;
    }
    uint32_t start = Ticks();
    std::unique_lock<std::mutex> lk(m_);
    cv_.wait(lk, [&] { return uint32_t(Ticks() - start) >= ms; });
}

void VirtualClock::Advance(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lk(m_);
        now_.fetch_add(ms, std::memory_order_acq_rel);
    }
    cv_.notify_all();
}

namespace {
RealClock g_realClock;
std::atomic<Clock*> g_clock{&g_realClock};
} // namespace

Clock& GetClock() { return *g_clock.load(std::memory_order_acquire); }
void SetClock(Clock* clock) { g_clock.store(clock ? clock : &g_realClock, std::memory_order_release); }

} // namespace zz
