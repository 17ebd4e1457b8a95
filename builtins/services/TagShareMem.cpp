#include "builtins/services/TagShareMem.h"

namespace zz {

template <class Fn> int32_t TagShareMem::OnMap(const ShareKey& key, Fn&& fn) {
    std::lock_guard<std::mutex> lk(lock_);
    switch (key.kind) {
    case ShareKey::kText:
        return fn(texts_, key.text);
    case ShareKey::kFloat:
        return fn(floats_, key.d);
    default:
        return fn(ints_, key.i);
    }
}

int32_t TagShareMem::Set(const ShareKey& key, const TagVar& value) {
    return OnMap(key, [&](auto& map, const auto& k) {
        map[k].v.AssignDetached(value);
        return int32_t(map.size());
    });
}

int32_t TagShareMem::Get(const ShareKey& key, TagVar& var) {
    return OnMap(key, [&](auto& map, const auto& k) {
        auto it = map.find(k);
        if (it == map.end()) return -1;
        var.AssignDetached(it->second.v);
        return int32_t(map.size());
    });
}

int32_t TagShareMem::Acc(const ShareKey& key, TagVar& var, const TagVar& newValue) {
    return OnMap(key, [&](auto& map, const auto& k) {
        auto it = map.find(k);
        if (it == map.end()) return -1;
        var.AssignDetached(it->second.v);
        it->second.v.AssignDetached(newValue);
        return int32_t(map.size());
    });
}

int32_t TagShareMem::Inc(const ShareKey& key, const TagVar& delta, TagVar& var) {
    return OnMap(key, [&](auto& map, const auto& k) {
        auto it = map.find(k);
        if (it == map.end()) return -1;
        it->second.v.AssignDetached(it->second.v + delta);
        var.AssignDetached(it->second.v);
        return 0;
    });
}

int32_t TagShareMem::Dec(const ShareKey& key, const TagVar& delta, TagVar& var) {
    return OnMap(key, [&](auto& map, const auto& k) {
        auto it = map.find(k);
        if (it == map.end()) return -1;
        it->second.v.AssignDetached(it->second.v - delta);
        var.AssignDetached(it->second.v);
        return 0;
    });
}

bool TagShareMem::Replace(const ShareKey& key, const TagVar& expected, const TagVar& newValue) {
    return OnMap(key, [&](auto& map, const auto& k) {
               auto it = map.find(k);
               if (it == map.end() || !TagVar::IsEqual(it->second.v, expected)) return 0;
               it->second.v.AssignDetached(newValue);
               return 1;
           }) != 0;
}

void TagShareMem::Clear() {
    std::lock_guard<std::mutex> lk(lock_);
    ints_.clear();
    texts_.clear();
    floats_.clear();
}

TagShareMem& ProcessShareMem() {
    static TagShareMem table; // made on first use, after the object registry, and so gone before it
    return table;
}

std::mutex& ShareMemFindLock() {
    static std::mutex lock;
    return lock;
}

} // namespace zz
