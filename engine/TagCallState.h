#pragma once
// What the script engine sees of a line's call object: the call and stop state that the run loop steers by, the
// line's wake event that every wait of the line blocks on, the line's number and kind, and the line's log lines. The
// line layer's call interface derives from it; the engine never needs more, so it stays below the line layer.
#include <atomic>
#include <cstdint>

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

class TagCallState {
public:
    TagCallState() = default;
    virtual ~TagCallState() = default;
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
        wake.Signal();
    }
    // Sets the call state and wakes the line (a hang-up seen by the driver, a call offered).
    void SetCallState(int32_t state) {
        callState = state;
        wake.Signal();
    }
    // Waits on the line's wake event until pred() holds, the stop flag is set or ms of Clock time pass
    // (WakeEvent::kForever: no limit); true when pred() held.
    template <class Pred> bool WaitLine(int64_t ms, Pred pred) {
        bool held = false;
        wake.WaitFor(ms, [&] { return (held = pred()) || stopFlag.load(std::memory_order_acquire); });
        return held;
    }

    std::atomic<bool> stopFlag{false};         // shared: ends every waiting loop of the line
    WakeEvent wake;                            // shared: signalled by whoever has news for the line
    int32_t lineNo = 0;                        // global line number
    std::atomic<int32_t> callState{kCallNone}; // shared
    int8_t lineKind = 0;                       // the line layer's line kinds; 0 is a virtual line
};

} // namespace zz
