#pragma once
// The system's time base: a 32-bit millisecond tick count that wraps, and sleeps. Everything that waits goes
// through the current Clock, so tests can swap in a VirtualClock and run long deadlines in milliseconds.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <mutex>

struct pollfd;

namespace zz {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t Ticks() = 0;        // milliseconds, wraps at 2^32
    virtual void Sleep(uint32_t ms) = 0; // blocks the caller for ms of this clock's time
    // Blocks on cv (lk held, as for cv.wait) until it is notified or up to ms of this clock's time have passed.
    // May return early; callers wait in a loop on their own condition and deadline.
    virtual void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) = 0;
    // poll() on n descriptors with up to ms of this clock's time as the limit (ms < 0: none); poll's result.
    // By default the real poll(), which a clock whose time is the real time keeps.
    virtual int Poll(pollfd* fds, size_t n, int32_t ms);
    // The date and time of day (CLOCK_REALTIME) that local times, log heads and dated file names come from.
    virtual timespec WallTime();
};

// CLOCK_MONOTONIC based.
class RealClock : public Clock {
public:
    uint32_t Ticks() override;
    void Sleep(uint32_t ms) override;
    void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) override;
};

// Time moves only when Advance is called, or, in auto mode, by the amount every Sleep or WaitOn asks for (a
// wait in auto mode times out at once unless its condition already holds). In manual mode a wait ends when its
// own condition variable is notified or when Advance moves the clock. Poll looks at the descriptors at once in
// auto mode (and advances by ms when none is ready); in manual mode it ends when a descriptor is ready or the
// clock has been moved past ms.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(uint32_t start = 0, bool autoAdvance = true) : now_(start), auto_(autoAdvance) {}
    uint32_t Ticks() override { return now_.load(std::memory_order_acquire); }
    void Sleep(uint32_t ms) override;
    void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) override;
    int Poll(pollfd* fds, size_t n, int32_t ms) override;
    void Advance(uint32_t ms);
    void SetAuto(bool on) { auto_ = on; }
    // From now on the wall time is secs at the current tick and moves with this clock's ticks (until then it is
    // the real one), so a test can hold many events within one second of the date.
    void SetWallTime(time_t secs);
    timespec WallTime() override;
    // Threads blocked in WaitOn now (tests hand-shake on it before they advance the clock).
    int32_t Waiters();

private:
    struct Waiter {
        std::mutex* m;
        std::condition_variable* cv;
        int pins = 0; // Advance is notifying it: the waiter stays registered until it is done
    };
    std::atomic<uint32_t> now_;
    std::atomic<bool> auto_;
    std::atomic<int64_t> wallMs_{-1}; // the wall time in ms at wallTick_; -1: the real one
    std::atomic<uint32_t> wallTick_{0};
    std::mutex m_;
    std::condition_variable cv_;
    std::list<Waiter> waiters_; // under m_
};

// The clock in force for the process. Never null; tests install theirs with ScopedClock.
Clock& GetClock();
void SetClock(Clock* clock); // nullptr restores the real clock

class ScopedClock {
public:
    explicit ScopedClock(Clock* c) { SetClock(c); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

inline uint32_t GetTickCount() {
    return GetClock().Ticks();
}
inline void SleepMs(uint32_t ms) {
    GetClock().Sleep(ms);
}
// Elapsed time between two tick counts, correct across the wrap.
inline uint32_t TicksSince(uint32_t start, uint32_t now) {
    return now - start;
}
inline uint32_t TicksSince(uint32_t start) {
    return GetTickCount() - start;
}
// Sleeps 50 ms at a time until ms have passed, at least once (so 30 ms last 50).
inline void DelayMs(uint32_t ms) {
    const uint32_t start = GetTickCount();
    do {
        SleepMs(50);
    } while (TicksSince(start) < ms);
}

} // namespace zz
