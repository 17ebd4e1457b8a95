#include "builtins/TagSysTimers.h"

#include "builtins/Statements.h"
#include "engine/TagTelBasic.h"
#include "engine/TagVar.h"
#include "platform/Clock.h"

namespace zz {

TagTimer::TagTimer() = default;
TagTimer::~TagTimer() = default;
TagSysTimers::TagSysTimers() = default;
TagSysTimers::~TagSysTimers() = default;

int32_t TagSysTimers::Add(TagVar* func, TagTelBasic* prog) {
    if (!func || func->type != TagVar::kFunction || !func->funcUnit) return -1;
    auto& slot = timers_[func->name];
    if (slot) return 0;
    slot = std::make_unique<TagTimer>();
    slot->handler = std::make_unique<TagCall>(func, prog);
    slot->program = prog;
    return 1;
}

int32_t TagSysTimers::Start(TagVar* func, int32_t intervalMs) {
    if (!func) return -1;
    auto it = timers_.find(func->name);
    if (it == timers_.end()) return -1;
    it->second->active = 1;
    it->second->interval = intervalMs;
    it->second->startTick = GetTickCount();
    return 0;
}

int32_t TagSysTimers::Stop(TagVar* func) {
    if (!func) return -1;
    if (func->type == TagVar::kInt && func->intVal == 0) {
        for (auto& t : timers_) t.second->active = 0;
        return 0;
    }
    auto it = timers_.find(func->name);
    if (it == timers_.end()) return -1;
    it->second->active = 0;
    return 0;
}

int32_t TagSysTimers::CheckTimers() {
    if (busy_ || timers_.empty()) return 0;
    busy_ = 1;
    for (auto& t : timers_) {
        TagTimer& tm = *t.second;
        if (!tm.active) continue;
        // Signed difference: the tick wraps after 49 days.
        if (static_cast<int32_t>(GetTickCount() - tm.startTick) < tm.interval) continue;
        tm.handler->Run();
        tm.startTick = GetTickCount();
    }
    busy_ = 0;
    return 0;
}

const TagTimer* TagSysTimers::Find(const std::string& name) const {
    auto it = timers_.find(name);
    return it == timers_.end() ? nullptr : it->second.get();
}

} // namespace zz
