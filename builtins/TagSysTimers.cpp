#include "builtins/TagSysTimers.h"

#include "engine/TagCall.h"
#include "engine/TagTelBasic.h"
#include "engine/TagVar.h"
#include "platform/Clock.h"

namespace zz {

TagTimer::TagTimer() = default;
TagTimer::~TagTimer() = default;

TagSysTimers::TagSysTimers(TagTelBasic& root) : root_(root) {}

TagSysTimers::~TagSysTimers() {
    root_.timersArmed = 0;
}

void TagSysTimers::UpdateArmed() {
    uint8_t armed = 0;
    int32_t soonest = 0; // ticks from now until the earliest timer is due
    const uint32_t now = GetTickCount();
    for (auto& t : timers_) {
        const TagTimer& tm = *t.second;
        if (!tm.active) continue;
        // Signed difference: the tick wraps after 49 days.
        int32_t left = tm.interval - static_cast<int32_t>(now - tm.startTick);
        if (!armed || left < soonest) soonest = left;
        armed = 1;
    }
    root_.timerDue = now + static_cast<uint32_t>(soonest);
    root_.timersArmed = armed;
}

int32_t TagSysTimers::Add(TagVar* func, TagTelBasic* prog) {
    if (!func || !func->FuncUnit()) return -1;
    auto& slot = timers_[std::string(func->Name())];
    if (slot) return 0;
    slot = std::make_unique<TagTimer>();
    slot->handler = std::make_unique<TagCall>(func, prog);
    slot->program = prog;
    return 1;
}

int32_t TagSysTimers::Start(TagVar* func, int32_t intervalMs) {
    if (!func) return -1;
    auto it = timers_.find(std::string(func->Name()));
    if (it == timers_.end()) return -1;
    it->second->active = 1;
    it->second->interval = intervalMs;
    it->second->startTick = GetTickCount();
    UpdateArmed();
    return 0;
}

int32_t TagSysTimers::Stop(TagVar* func) {
    if (!func) return -1;
    if (func->type == TagVar::kInt && func->intVal == 0) {
        for (auto& t : timers_)
            t.second->active = 0;
        UpdateArmed();
        return 0;
    }
    auto it = timers_.find(std::string(func->Name()));
    if (it == timers_.end()) return -1;
    it->second->active = 0;
    UpdateArmed();
    return 0;
}

int32_t TagSysTimers::CheckTimers() {
    if (busy_ || timers_.empty()) return 0;
    // Cleared on every way out, an exception from a timer function included: a flag left set would keep every
    // timer of the line from firing again.
    struct Busy {
        uint8_t& flag;
        explicit Busy(uint8_t& f) : flag(f) { flag = 1; }
        ~Busy() { flag = 0; }
    } busy(busy_);
    for (auto& t : timers_) {
        TagTimer& tm = *t.second;
        if (!tm.active) continue;
        // Signed difference: the tick wraps after 49 days.
        if (static_cast<int32_t>(GetTickCount() - tm.startTick) < tm.interval) continue;
        tm.startTick = GetTickCount();
        tm.handler->Run();
        tm.startTick = GetTickCount();
    }
    UpdateArmed();
    return 0;
}

const TagTimer* TagSysTimers::Find(const std::string& name) const {
    auto it = timers_.find(name);
    return it == timers_.end() ? nullptr : it->second.get();
}

} // namespace zz
