#pragma once
// Hand-shakes with a line blocked on a manual VirtualClock: the test acts once the line waits.
#include <thread>

#include "platform/Clock.h"

namespace zz::test {

// Returns once at least n threads wait on the clock.
inline void AwaitWaiters(VirtualClock& clock, int32_t n = 1) {
    while (clock.Waiters() < n)
        std::this_thread::yield();
}

} // namespace zz::test
