#pragma once
// What a waiting line blocks on: whoever has news for the line (its driver, a quit or reload, a hang-up, a
// message from another line) signals the event, and the waiting thread checks its own condition again. Time-outs
// run on the Clock, so a VirtualClock takes them in tests. The event also has a descriptor that poll() sees
// readable while a signal is pending, so a line can wait on a socket and its wake-ups together.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace zz {

class WakeEvent {
public:
    static constexpr int64_t kForever = -1;

    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Wakes every thread waiting now and marks the descriptor readable.
    void Signal();
    // Waits until pred() holds or ms of the Clock's time have passed (kForever: no limit); pred's last answer.
    // pred is asked at the start and after every signal, without the event's lock held.
    template <class Pred> bool WaitFor(int64_t ms, Pred pred) {
        const uint32_t start = GetTickCount();
        std::unique_lock<std::mutex> lk(m_);
        for (;;) {
            const uint64_t seen = generation_;
            lk.unlock();
            bool done = pred();
            lk.lock();
            if (done) return true;
            uint32_t waited = TicksSince(start);
            if (ms >= 0 && int64_t(waited) >= ms) return false;
            if (generation_ != seen) continue; // signalled while pred ran
            uint32_t left = ms < 0 ? kLongWait : uint32_t(ms - int64_t(waited));
            GetClock().WaitOn(cv_, lk, left);
        }
    }
    // Readable while a signal is pending (an eventfd); -1 when the system gave none.
    int Fd() const { return fd_; }
    // Takes the pending signal off the descriptor (after poll() said it was readable).
    void Drain();

private:
    static constexpr uint32_t kLongWait = 3600000; // an unlimited wait looks again every hour
    std::mutex m_;
    std::condition_variable cv_;
    uint64_t generation_ = 0;
    int fd_ = -1;
};

} // namespace zz
