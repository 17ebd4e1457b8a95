#pragma once
// Script timers: a function of the script called periodically on its line's thread. There are no timer
// threads: the run loop asks the table between two statements once the earliest armed timer is due, and a due
// timer runs its function there.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/TagLineState.h"

namespace zz {

class TagVar;
class TagTelBasic;
class TagCall;

struct TagTimer {
    TagTimer();
    ~TagTimer();
    uint32_t startTick = 0;
    int32_t interval = 1000; // ms
    int32_t active = 0;
    std::unique_ptr<TagCall> handler; // a call of the function, as a script call compiles
    TagTelBasic* program = nullptr;   // the program that compiled the StartTimer
};

// The line's timer table: a family record of the line's main program.
class TagSysTimers final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kTimers;

    explicit TagSysTimers(TagTelBasic& root);
    ~TagSysTimers() override;
    TagSysTimers(const TagSysTimers&) = delete;
    TagSysTimers& operator=(const TagSysTimers&) = delete;

    // -1 when func holds no function; 0 when a timer of that name exists; 1 after creating an inactive one.
    int32_t Add(TagVar* func, TagTelBasic* prog);
    // Arms the timer of func's name: 0, or -1 when there is none.
    int32_t Start(TagVar* func, int32_t intervalMs);
    // An integer 0 disarms every timer; else the timer of that name (-1 when there is none).
    int32_t Stop(TagVar* func);
    // Fires every due timer, unless a timer function is running already. A timer function that fails with an
    // exception leaves the table usable; the exception goes on to the caller.
    int32_t CheckTimers();
    size_t Count() const { return timers_.size(); }
    const TagTimer* Find(const std::string& name) const;

private:
    // Tells the run loop whether any timer is armed.
    void UpdateArmed();

    TagTelBasic& root_;
    std::map<std::string, std::unique_ptr<TagTimer>> timers_;
    uint8_t busy_ = 0;
};

} // namespace zz
