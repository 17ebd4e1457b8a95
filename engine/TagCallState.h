#pragma once
// What the script engine sees of a line's call object: the call and stop state that the run loop steers by, the
// line's wake event that every wait of the line blocks on, the line's number and kind, and the line's log lines. The
// line layer's call interface derives from it; the engine never needs more, so it stays below the line layer.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/WakeEvent.h"

namespace zz {

// Call states.
enum : int32_t {
    kCallNone = -1,
    kCallDialing = 0,
    kCallConnected = 1,
    kCallReleased = 2,
    kCallColorRingFailed = 4,
    kCallRinging = 6,
    kCallDialFailed = 11,
    kCallClosed = 12,
};

// The call state word: every change raises the line's attention, so the run loop sees a hang-up at the next
// statement without reading the state after each one.
class CallStateWord {
public:
    explicit CallStateWord(std::atomic<uint32_t>& attention) : attention_(attention) {}
    CallStateWord(const CallStateWord&) = delete;
    CallStateWord& operator=(const CallStateWord&) = delete;

    CallStateWord& operator=(int32_t state) {
        store(state);
        return *this;
    }
    operator int32_t() const { return load(); }
    int32_t load(std::memory_order order = std::memory_order_seq_cst) const { return v_.load(order); }
    void store(int32_t state) {
        v_.store(state);
        attention_.store(1, std::memory_order_release);
    }
    bool compare_exchange_strong(int32_t& expected, int32_t desired) {
        if (!v_.compare_exchange_strong(expected, desired)) return false;
        attention_.store(1, std::memory_order_release);
        return true;
    }

private:
    std::atomic<int32_t> v_{kCallNone};
    std::atomic<uint32_t>& attention_;
};

class TagCallState {
public:
    TagCallState() = default;
    virtual ~TagCallState();
    TagCallState(const TagCallState&) = delete;
    TagCallState& operator=(const TagCallState&) = delete;

    // Per-line log lines: "lcnt=%d, %s". WriteLog honours the log level, WriteLogAlways does not.
    void WriteLog(const char* text) const;
    void WriteLogAlways(const char* text) const;
    void WriteLogF(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
    void WriteLogAlwaysF(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

    // Ends every wait of the line: sets the stop flag and wakes the line.
    void RequestStop() {
        stopFlag = true;
        Attend();
        wake.Signal();
    }
    // Asks the run loop to look at the line's flags after the statement that runs now.
    void Attend() { attention.store(1, std::memory_order_release); }
    // Sets the call state and wakes the line (a hang-up seen by the driver, a call offered).
    void SetCallState(int32_t state) {
        callState = state;
        wake.Signal();
    }
    // Waits on the line's wake event until pred() holds, the stop flag is set or ms of Clock time pass
    // (WakeEvent::kForever: no limit); true when pred() held.
    template <class Pred> bool WaitLine(int64_t ms, Pred pred) {
        bool held = false;
        wake.WaitFor(ms, [&] {
            RunHanded();
            return (held = pred()) || stopFlag.load(std::memory_order_acquire);
        });
        return held;
    }

    // Runs fn on the line's own thread, between two of its statements or while it waits, and blocks until it
    // ran: what another thread does with the line's variables (they are no thread-safe objects) never runs
    // beside the line's statements. False, with fn never run, when the line did not take it within ms of real
    // time (a statement that blocks without waiting on the line) or the line went.
    bool RunOnLine(std::function<void()> fn, int64_t ms);
    // Runs what other threads handed to the line; the line's thread calls it between statements and in waits.
    void RunHanded() {
        if (handedCount_.load(std::memory_order_acquire) != 0) RunHandedNow();
    }

    // Raised (1) by every change the run loop must look at between statements: a quit, reload, stop, end of run,
    // pause or step of a program of the line, and any change of the call state. The run loop takes it back to 0
    // and then reads the flags themselves.
    std::atomic<uint32_t> attention{0};
    std::atomic<bool> stopFlag{false};  // shared: ends every waiting loop of the line
    WakeEvent wake;                     // shared: signalled by whoever has news for the line
    int32_t lineNo = 0;                 // global line number
    CallStateWord callState{attention}; // shared; starts as kCallNone
    int8_t lineKind = 0;                // the line layer's line kinds; 0 is a virtual line

private:
    struct Handed;
    void RunHandedNow();
    std::mutex handedLock_;
    std::deque<std::shared_ptr<Handed>> handed_; // under handedLock_
    std::atomic<int> handedCount_{0};
    bool runningHanded_ = false; // the line's thread: a handed function that waits runs no other inside it
};

} // namespace zz
