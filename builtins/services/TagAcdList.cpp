#include "builtins/services/TagAcdList.h"

#include "platform/Clock.h"

namespace zz {

int32_t TagAcdList::Send(const std::string& name, const TagMsgFields& rec) {
    const uint32_t now = GetTickCount();
    std::lock_guard<std::mutex> lk(lock_);
    std::unique_ptr<TagAcdGroupNode>& g = groups_[name];
    if (!g) g = std::make_unique<TagAcdGroupNode>();
    g->lastUse = now;
    g->list.Add(rec);
    return g->list.GetNum();
}

int32_t TagAcdList::Num(const std::string& name) {
    std::lock_guard<std::mutex> lk(lock_);
    auto it = groups_.find(name);
    return it == groups_.end() ? 0 : it->second->list.GetNum();
}

int32_t TagAcdList::Read(int32_t line, TagMsgFields& out) {
    const uint32_t now = GetTickCount();
    std::lock_guard<std::mutex> lk(lock_);
    uint32_t best = now;
    TagAcdGroupNode* chosen = nullptr;
    for (auto& [name, g] : groups_) {
        if (g->owner >= 0 && g->owner != line) continue;
        // Strictly less: on equal times the first by name wins, and a group used at this very tick never does.
        if (g->lastUse < best) {
            best = g->lastUse;
            chosen = g.get();
        }
    }
    if (!chosen) return 0;
    chosen->lastUse = now;
    chosen->owner = line;
    return chosen->list.Read(-1, g_nullVar, out) ? 1 : 0;
}

int32_t TagAcdList::Recv(int32_t line, int32_t column, const TagVar& value, TagMsgFields& out) {
    const uint32_t now = GetTickCount();
    std::lock_guard<std::mutex> lk(lock_);
    for (auto it = groups_.begin(); it != groups_.end(); ++it) {
        TagAcdGroupNode& g = *it->second;
        if (!g.list.GetForField(column, value, out)) continue;
        g.lastUse = now;
        g.owner = line;
        if (g.list.GetNum() == 0) groups_.erase(it);
        return 1;
    }
    return 0;
}

int32_t TagAcdList::Write(int32_t mode, const TagVar& value, int32_t column, const TagVar& newValue) {
    std::lock_guard<std::mutex> lk(lock_);
    for (auto& [name, g] : groups_)
        if (g->list.Write(mode, value, column, newValue)) return 1;
    return 0;
}

int32_t TagAcdList::Clear(int32_t column, const TagVar& value) {
    std::lock_guard<std::mutex> lk(lock_);
    for (auto it = groups_.begin(); it != groups_.end(); ++it) {
        if (it->second->list.ClearForField(column, value) == 0) continue;
        if (it->second->list.GetNum() == 0) groups_.erase(it);
        return 1;
    }
    return 0;
}

TagAcdList& ProcessAcdList() {
    static TagAcdList acd; // made on first use, after the object registry, and so gone before it
    return acd;
}

} // namespace zz
