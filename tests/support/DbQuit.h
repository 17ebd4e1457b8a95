#pragma once
// A line that is told to quit while a database call of it waits on its server.
#include <atomic>
#include <functional>
#include <thread>

#include "data/DbCallBound.h"
#include "platform/WakeEvent.h"

namespace zz::test {

// Runs call on a line thread of its own and tells that line to quit once blocked() has returned (blocked waits
// until the line waits on its server). call's result, after the line's thread has finished.
inline int QuitWhileBlocked(const std::function<int()>& call, const std::function<void()>& blocked) {
    WakeEvent wake;
    std::atomic<bool> quit{false};
    DbWaiter waiter{&wake, [&] { return quit.load(); }};
    int rc = 0;
    std::thread line([&] {
        ScopedDbWaiter scope(&waiter);
        rc = call();
    });
    blocked();
    quit = true;
    wake.Signal();
    line.join();
    return rc;
}

} // namespace zz::test
