#include "engine/TagMapObject.h"

#include <algorithm>

#include "engine/NumText.h"

namespace zz {

// Defined together so that the null value goes first at exit and the registry after it.
TagMapObject g_mapObjects;
TagVar g_nullVar(1);
std::atomic<bool> g_mapShuttingDown{false};

namespace {

// A dump nested deeper than this is cut like a cycle, so a long chain cannot exhaust the stack.
constexpr size_t kMaxDumpDepth = 64;

// Deleting an object releases what its elements hold, which may delete further objects: they are queued and
// deleted one after another instead of recursively, so long chains cannot exhaust the stack.
thread_local bool t_destroying = false;
thread_local std::vector<std::unique_ptr<TagMapItem>> t_pending;

// Visits the elements in iteration order: integer, string, double, then object-id keys. The visitor returns
// false to stop.
template <class F> void Walk(TagMapItem& item, F&& f) {
    for (auto& [k, v] : item.intItems)
        if (!f(2, k, static_cast<const std::string*>(nullptr), 0.0, v)) return;
    for (auto& [k, v] : item.strItems)
        if (!f(1, 0, &k, 0.0, v)) return;
    for (auto& [k, v] : item.dblItems)
        if (!f(3, 0, static_cast<const std::string*>(nullptr), k, v)) return;
    for (auto& [k, v] : item.objItems)
        if (!f(4, k, static_cast<const std::string*>(nullptr), 0.0, v)) return;
}

// The key as a value, the way GetItemAt hands it out: an object key comes back as its id, an integer.
void SetKey(TagVar& out, int kind, int32_t ik, const std::string* sk, double dk) {
    if (kind == 1)
        out.SetStr(sk->c_str());
    else if (kind == 3)
        out.SetFloat(dk);
    else
        out.SetInt(ik);
}

TagVar* FindIn(TagMapItem& item, const TagVar& key) {
    switch (key.type) {
    case TagVar::kString: {
        auto it = item.strItems.find(std::string(key.strVal.c_str()));
        return it == item.strItems.end() ? nullptr : &it->second;
    }
    case TagVar::kDouble: {
        auto it = item.dblItems.find(key.dblVal);
        return it == item.dblItems.end() ? nullptr : &it->second;
    }
    case TagVar::kObject: {
        auto it = item.objItems.find(key.objId);
        return it == item.objItems.end() ? nullptr : &it->second;
    }
    default: {
        auto it = item.intItems.find(key.intVal);
        return it == item.intItems.end() ? nullptr : &it->second;
    }
    }
}

TagVar& ItemIn(TagMapItem& item, const TagVar& key) {
    switch (key.type) {
    case TagVar::kString:
        return item.strItems.try_emplace(std::string(key.strVal.c_str())).first->second;
    case TagVar::kDouble:
        return item.dblItems.try_emplace(key.dblVal).first->second;
    case TagVar::kObject:
        return item.objItems.try_emplace(key.objId).first->second;
    default:
        return item.intItems.try_emplace(key.intVal).first->second;
    }
}

} // namespace

TagMapObject::TagMapObject() = default;

TagMapObject::~TagMapObject() {
    g_mapShuttingDown = true;
    std::lock_guard<std::recursive_mutex> g(cs);
    items.clear();
}

TagMapItem* TagMapObject::Lookup(int32_t id) {
    std::lock_guard<std::recursive_mutex> g(cs);
    auto it = items.find(id);
    return it == items.end() ? nullptr : it->second.get();
}

int32_t TagMapObject::NewObject() {
    std::lock_guard<std::recursive_mutex> g(cs);
    int32_t id = lastId;
    do {
        // Ids stay positive: negative values are the error results of the object operations.
        id = id >= 0x7FFFFFFF ? 1 : id + 1;
    } while (items.count(id));
    lastId = id;
    items.emplace(id, std::make_unique<TagMapItem>());
    return id;
}

int32_t TagMapObject::AddRef(int32_t id) {
    std::lock_guard<std::recursive_mutex> g(cs);
    auto it = items.find(id);
    if (it == items.end()) return -1;
    return ++it->second->refCount;
}

int32_t TagMapObject::Release(int32_t id) {
    std::lock_guard<std::recursive_mutex> g(cs);
    auto it = items.find(id);
    if (it == items.end()) return -1;
    if (--it->second->refCount < 1) {
        // Out of the map first: a cycle that comes back to this id while it is being deleted finds nothing.
        std::unique_ptr<TagMapItem> dead = std::move(it->second);
        items.erase(it);
        DestroyItem(std::move(dead));
    }
    return 0;
}

void TagMapObject::DestroyItem(std::unique_ptr<TagMapItem> item) {
    if (g_mapShuttingDown) return;
    t_pending.push_back(std::move(item));
    if (t_destroying) return;
    t_destroying = true;
    while (!t_pending.empty()) {
        std::unique_ptr<TagMapItem> cur = std::move(t_pending.back());
        t_pending.pop_back();
        Walk(*cur, [](int, int32_t, const std::string*, double, TagVar& v) {
            if (v.type == TagVar::kObject) v = TagVar();
            return true;
        });
    }
    t_destroying = false;
}

TagVar* TagMapObject::FindItem(int32_t id, const TagVar& key) {
    TagMapItem* item = Lookup(id);
    return item ? FindIn(*item, key) : nullptr;
}

TagVar& TagMapObject::Item(int32_t id, const TagVar& key) {
    TagMapItem* item = Lookup(id);
    return item ? ItemIn(*item, key) : g_nullVar;
}

int32_t TagMapObject::Count(int32_t id) {
    TagMapItem* item = Lookup(id);
    return item ? static_cast<int32_t>(item->Size()) : -1;
}

int32_t TagMapObject::RefCount(int32_t id) {
    std::lock_guard<std::recursive_mutex> g(cs);
    auto it = items.find(id);
    return it == items.end() ? -1 : it->second->refCount;
}

int32_t TagMapObject::Live() {
    std::lock_guard<std::recursive_mutex> g(cs);
    return static_cast<int32_t>(items.size());
}

int32_t TagMapObject::GetItemAt(int32_t id, int32_t index, TagVar& keyOut, TagVar& valueOut) {
    TagMapItem* item = Lookup(id);
    if (!item) return -1;
    if (index < 0 || static_cast<size_t>(index) >= item->Size()) return -2;
    int32_t n = 0;
    Walk(*item, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        if (n++ != index) return true;
        SetKey(keyOut, kind, ik, sk, dk);
        valueOut = v;
        return false;
    });
    return index;
}

int32_t TagMapObject::ListItems(int32_t id, std::vector<TagKeyEntry>& list) {
    list.clear();
    TagMapItem* item = Lookup(id);
    if (!item) return -1;
    list.reserve(item->Size());
    Walk(*item, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar&) {
        list.emplace_back();
        list.back().kind = kind;
        SetKey(list.back().key, kind, ik, sk, dk);
        return true;
    });
    return static_cast<int32_t>(list.size());
}

int32_t TagMapObject::RemoveItem(int32_t id, const TagVar& key) {
    TagMapItem* item = Lookup(id);
    if (!item) return 0;
    // The element leaves the map before its value is released: the release may delete this very object.
    auto drop = [](auto& map, const auto& k) {
        auto node = map.extract(k);
        if (node.empty()) return 0;
        node.mapped() = TagVar();
        return 1;
    };
    switch (key.type) {
    case TagVar::kString:
        return drop(item->strItems, std::string(key.strVal.c_str()));
    case TagVar::kDouble:
        return drop(item->dblItems, key.dblVal);
    case TagVar::kObject:
        return drop(item->objItems, key.objId);
    default:
        return drop(item->intItems, key.intVal);
    }
}

int32_t TagMapObject::Clone(int32_t id) {
    TagMapItem* src = Lookup(id);
    if (!src) return -1;
    int32_t nid = NewObject();
    TagMapItem* dst = Lookup(nid);
    TagVar key;
    Walk(*src, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        ItemIn(*dst, key) = v;
        return true;
    });
    return nid;
}

int32_t TagMapObject::Merge(int32_t a, int32_t b) {
    int32_t nid = Clone(a);
    if (nid < 0) return -1;
    TagMapItem* sb = Lookup(b);
    if (!sb || b == nid) return nid;
    TagMapItem* dst = Lookup(nid);
    TagVar key;
    Walk(*sb, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        TagVar& e = ItemIn(*dst, key);
        if (e.type == TagVar::kEmpty) e = v;
        return true;
    });
    return nid;
}

int32_t TagMapObject::Subtract(int32_t a, int32_t b) {
    TagMapItem* sa = Lookup(a);
    if (!sa) return -1;
    TagMapItem* sb = Lookup(b);
    if (!sb) return -2;
    int32_t nid = NewObject();
    TagMapItem* dst = Lookup(nid);
    TagVar key;
    Walk(*sa, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        if (!FindIn(*sb, key)) ItemIn(*dst, key) = v;
        return true;
    });
    return nid;
}

int32_t TagMapObject::Intersect(int32_t a, int32_t b) {
    TagMapItem* sa = Lookup(a);
    if (!sa) return -1;
    TagMapItem* sb = Lookup(b);
    if (!sb) return -2;
    int32_t nid = NewObject();
    TagMapItem* dst = Lookup(nid);
    TagVar key;
    Walk(*sb, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        if (FindIn(*sa, key)) ItemIn(*dst, key) = v;
        return true;
    });
    return nid;
}

int32_t TagMapObject::Dump(int32_t id, std::string& out) {
    out.clear();
    TagMapItem* item = Lookup(id);
    if (!item) return -1;
    std::vector<int32_t> path;
    DumpItem(id, item, out, path);
    return 0;
}

// Objects already open on the way down (not only the one being dumped) print as "{...}", so no cycle of any
// length recurses without end.
void TagMapObject::DumpItem(int32_t id, TagMapItem* item, std::string& out, std::vector<int32_t>& path) {
    path.push_back(id);
    out += "{\r\n";
    bool first = true;
    Walk(*item, [&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        if (!first) out += ",\r\n";
        first = false;
        if (kind == 1) {
            out += '"';
            out += *sk;
            out += "\":";
        } else if (kind == 3) {
            AppendFixed6(out, dk);
            out += ':';
        } else {
            AppendInt(out, ik);
            out += ':';
        }
        if (v.type != TagVar::kObject) {
            v.AppendText(out, 1);
        } else if (std::find(path.begin(), path.end(), v.objId) != path.end() || path.size() >= kMaxDumpDepth) {
            out += "{...}";
        } else if (TagMapItem* sub = Lookup(v.objId)) {
            DumpItem(v.objId, sub, out, path);
        }
        return true;
    });
    out += "\r\n}";
    path.pop_back();
}

} // namespace zz
