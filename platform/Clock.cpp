#include "platform/Clock.h"

#include <poll.h>

#include <cerrno>
#include <ctime>
#include <thread>
#include <vector>

namespace zz {

uint32_t RealClock::Ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms);
}

void RealClock::Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RealClock::WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) {
    cv.wait_for(lk, std::chrono::milliseconds(ms));
}

timespec Clock::WallTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

void VirtualClock::SetWallTime(time_t secs) {
    wallTick_.store(Ticks(), std::memory_order_relaxed);
    wallMs_.store(int64_t(secs) * 1000, std::memory_order_release);
}

timespec VirtualClock::WallTime() {
    const int64_t base = wallMs_.load(std::memory_order_acquire);
    if (base < 0) return Clock::WallTime();
    const int64_t ms = base + TicksSince(wallTick_.load(std::memory_order_relaxed), Ticks());
    return timespec{time_t(ms / 1000), long(ms % 1000) * 1000000};
}

int Clock::Poll(pollfd* fds, size_t n, int32_t ms) {
    const uint32_t start = Ticks();
    for (;;) {
        int32_t left = ms;
        if (ms > 0) {
            const uint32_t spent = TicksSince(start, Ticks());
            left = spent >= uint32_t(ms) ? 0 : ms - int32_t(spent);
        }
        int r = ::poll(fds, nfds_t(n), left);
        if (r >= 0 || errno != EINTR) return r;
    }
}

int VirtualClock::Poll(pollfd* fds, size_t n, int32_t ms) {
    if (ms <= 0) return Clock::Poll(fds, n, ms);
    if (auto_) {
        int r = Clock::Poll(fds, n, 0);
        if (r == 0 && ms > 0) {
            Advance(uint32_t(ms));
            std::this_thread::yield();
        }
        return r;
    }
    // Manual mode: nothing wakes poll() when the test moves the clock, so it looks again every few real
    // milliseconds (test clocks only).
    const uint32_t start = Ticks();
    for (;;) {
        int r = Clock::Poll(fds, n, 2);
        if (r != 0 || TicksSince(start, Ticks()) >= uint32_t(ms)) return r;
    }
}

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

void VirtualClock::WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) {
    if (auto_) {
        lk.unlock();
        Advance(ms);
        std::this_thread::yield();
        lk.lock();
        return;
    }
    const uint32_t start = Ticks();
    std::list<Waiter>::iterator me;
    {
        std::lock_guard<std::mutex> g(m_);
        me = waiters_.insert(waiters_.end(), Waiter{lk.mutex(), &cv});
    }
    cv_.notify_all(); // a test waiting for Waiters() to grow
    // Advance notifies cv under the caller's mutex, which the caller holds until cv.wait releases it: a move of
    // the clock after this check is not lost.
    if (uint32_t(Ticks() - start) < ms) cv.wait(lk);
    lk.unlock();
    {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return me->pins == 0; });
        waiters_.erase(me);
    }
    lk.lock();
}

int32_t VirtualClock::Waiters() {
    std::lock_guard<std::mutex> g(m_);
    return int32_t(waiters_.size());
}

void VirtualClock::Advance(uint32_t ms) {
    std::vector<Waiter*> pinned;
    {
        std::lock_guard<std::mutex> lk(m_);
        now_.fetch_add(ms, std::memory_order_acq_rel);
        for (Waiter& w : waiters_) {
            ++w.pins;
            pinned.push_back(&w);
        }
    }
    for (Waiter* w : pinned) {
        std::lock_guard<std::mutex> g(*w->m);
        w->cv->notify_all();
    }
    {
        std::lock_guard<std::mutex> lk(m_);
        for (Waiter* w : pinned)
            --w->pins;
    }
    cv_.notify_all();
}

namespace {
RealClock g_realClock;
std::atomic<Clock*> g_clock{&g_realClock};
} // namespace

Clock& GetClock() {
    return *g_clock.load(std::memory_order_acquire);
}
void SetClock(Clock* clock) {
    g_clock.store(clock ? clock : &g_realClock, std::memory_order_release);
}

} // namespace zz
