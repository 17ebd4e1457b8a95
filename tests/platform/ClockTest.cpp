#include "platform/Clock.h"
#include "platform/SysTime.h"
#include "platform/WakeEvent.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace zz;

TEST(Clock, TicksSinceIsCorrectAcrossTheWrap) {
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(TicksSince(5u, 5u), 0u);
}

TEST(Clock, VirtualClockAutoAdvancesOnSleep) {
    VirtualClock vc(0xFFFFFF00u);
    ScopedClock sc(&vc);
    uint32_t start = GetTickCount();
    SleepMs(60000);
    EXPECT_EQ(TicksSince(start), 60000u);
}

TEST(Clock, PollSeesReadyDescriptorsAtOnceAndTimesOutOnTheClock) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pollfd p{fds[0], POLLIN, 0};
    EXPECT_EQ(GetClock().Poll(&p, 1, 0), 0);
    VirtualClock vc(100);
    ScopedClock sc(&vc);
    EXPECT_EQ(GetClock().Poll(&p, 1, 20000), 0);
    EXPECT_EQ(GetTickCount(), 20100u);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(GetClock().Poll(&p, 1, 20000), 1);
    EXPECT_EQ(GetTickCount(), 20100u);
    EXPECT_EQ(GetClock().Poll(&p, 1, -1), 1);
    close(fds[0]);
    close(fds[1]);
}

TEST(Clock, ManualVirtualClockWakesSleeperOnAdvance) {
    VirtualClock vc(0, false);
    ScopedClock sc(&vc);
    std::atomic<bool> woke{false}, started{false};
    std::thread t([&] {
        started = true;
        SleepMs(1000);
        woke = true;
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it reach its wait
    vc.Advance(500);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(woke);
    vc.Advance(500);
    t.join();
    EXPECT_TRUE(woke);
}

TEST(SysTime, ThreadIdsDifferBetweenThreads) {
    uint32_t main = CurrentThreadId(), other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(main, other);
    EXPECT_EQ(main, CurrentThreadId());
}

TEST(SysTime, CpuPercentStaysInRange) {
    int p = ProcessCpuPercent();
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
}

// A line's wait: woken by a signal from another thread, timed out by the clock, never by real time.
TEST(WakeEvent, ASignalEndsTheWaitAndTheClockTimesItOut) {
    zz::VirtualClock clock(0, false);
    zz::ScopedClock scoped(&clock);
    zz::WakeEvent ev;
    std::atomic<bool> news{false};
    std::thread t([&] {
        while (clock.Waiters() == 0)
            std::this_thread::yield();
        news = true;
        ev.Signal();
    });
    EXPECT_TRUE(ev.WaitFor(zz::WakeEvent::kForever, [&] { return news.load(); }));
    t.join();

    bool result = true;
    std::thread w([&] { result = ev.WaitFor(10000, [] { return false; }); });
    while (clock.Waiters() == 0)
        std::this_thread::yield();
    clock.Advance(9999);
    while (clock.Waiters() == 0)
        std::this_thread::yield(); // it waits again for the last millisecond
    clock.Advance(1);
    w.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(clock.Ticks(), 10000u);

    zz::VirtualClock autoClock;
    zz::ScopedClock scopedAuto(&autoClock);
    EXPECT_FALSE(ev.WaitFor(500, [] { return false; }));
    EXPECT_EQ(autoClock.Ticks(), 500u) << "an auto clock takes the whole time-out at once";
}
