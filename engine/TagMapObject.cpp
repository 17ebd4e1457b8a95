#include "engine/TagMapObject.h"

#include <algorithm>
#include <functional>
#include <map>
#include <new>

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
// The queue is the thread's own value: once the thread has let it go (a program's end runs the statics' destructors
// after the main thread's own values, and a static store may still hold objects then), objects are deleted as they
// come instead.
thread_local bool t_destroying = false;
thread_local bool t_queueGone = false;
struct PendingQueue {
    std::vector<TagMapItem*> items;
    ~PendingQueue() { t_queueGone = true; }
};
thread_local PendingQueue t_queue;

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// Equal keys (0.0 and -0.0, any two NaNs) hash alike.
struct DblHash {
    size_t operator()(double d) const {
        if (d != d) return 0x7FF8;
        return std::hash<double>{}(d == 0 ? 0.0 : d);
    }
};
struct DblEq {
    bool operator()(double a, double b) const { return (a != a && b != b) || a == b; }
};

// The key text of a string key: up to its first NUL.
std::string_view KeyText(const TagVar& key) {
    return std::string_view(key.Str());
}

} // namespace

// Every key that is not in the array part, with the key order for walks (built when a walk needs it).
struct TagHashPart {
    using IntMap = std::unordered_map<int32_t, TagVar>;
    using StrMap = std::unordered_map<std::string, TagVar, TextHash, std::equal_to<>>;
    using DblMap = std::unordered_map<double, TagVar, DblHash, DblEq>;
    IntMap ints, objs;
    StrMap strs;
    DblMap dbls;

    bool sorted = false;
    std::vector<IntMap::value_type*> intOrder, objOrder;
    std::vector<StrMap::value_type*> strOrder;
    std::vector<DblMap::value_type*> dblOrder;

    size_t Size() const { return ints.size() + objs.size() + strs.size() + dbls.size(); }

    void Sort() {
        if (sorted) return;
        auto fill = [](auto& map, auto& order, auto less) {
            order.clear();
            order.reserve(map.size());
            for (auto& e : map)
                order.push_back(&e);
            std::sort(order.begin(), order.end(), [&](auto* a, auto* b) { return less(a->first, b->first); });
        };
        fill(ints, intOrder, std::less<int32_t>());
        fill(objs, objOrder, std::less<int32_t>());
        fill(strs, strOrder, std::less<std::string>());
        fill(dbls, dblOrder, DblKeyLess());
        sorted = true;
    }
};

TagMapItem::TagMapItem() = default;

TagMapItem::~TagMapItem() {
    Clear(false);
}

TagHashPart& TagMapItem::Hash() {
    if (!hash) hash = std::make_unique<TagHashPart>();
    return *hash;
}

size_t TagMapItem::Size() const {
    return count + downCount + (hash ? hash->Size() : 0);
}

TagVar* TagMapItem::FindLowInt(int32_t k) {
    uint32_t down = static_cast<uint32_t>(base) - 1u - static_cast<uint32_t>(k);
    if (down < downCount) return &ElemIn(downSegs, down);
    return hash ? FindHashInt(k) : nullptr;
}

TagVar* TagMapItem::FindHashInt(int32_t k) {
    auto it = hash->ints.find(k);
    return it == hash->ints.end() ? nullptr : &it->second;
}

TagVar* TagMapItem::FindOther(const TagVar& key) {
    if (!hash) return nullptr;
    switch (key.type) {
    case TagVar::kString: {
        auto it = hash->strs.find(KeyText(key));
        return it == hash->strs.end() ? nullptr : &it->second;
    }
    case TagVar::kDouble: {
        auto it = hash->dbls.find(key.DblVal());
        return it == hash->dbls.end() ? nullptr : &it->second;
    }
    default: {
        auto it = hash->objs.find(key.ObjId());
        return it == hash->objs.end() ? nullptr : &it->second;
    }
    }
}

TagVar& TagMapItem::ItemOther(const TagVar& key) {
    if (TagVar* e = FindOther(key)) return *e;
    TagHashPart& h = Hash();
    h.sorted = false;
    switch (key.type) {
    case TagVar::kString:
        return h.strs.try_emplace(std::string(KeyText(key))).first->second;
    case TagVar::kDouble:
        return h.dbls.try_emplace(key.DblVal()).first->second;
    default:
        return h.objs.try_emplace(key.ObjId()).first->second;
    }
}

// A key that extends a run of the array part (or starts it, in an object without integer keys) goes there; any
// other into the hash part. The caller found no element for k.
TagVar& TagMapItem::NewInt(int32_t k) {
    const bool noInts = count == 0 && downCount == 0 && (!hash || hash->ints.empty());
    if (noInts) base = k;
    const int64_t d = int64_t{k} - base;
    if (count + downCount < 0x7FFFFFFFu) {
        if (d == count) {
            if (count == cap) {
                Grow(segs, cap);
                seg0 = segs[0];
                if (segs.size() > 1) seg1 = segs[1];
            }
            if (hash) hash->sorted = false;
            return Elem(count++);
        }
        if (d == -1 - int64_t{downCount}) {
            if (downCount == downCap) Grow(downSegs, downCap);
            if (hash) hash->sorted = false;
            return ElemIn(downSegs, downCount++);
        }
    }
    TagHashPart& h = Hash();
    h.sorted = false;
    return h.ints.try_emplace(k).first->second;
}

// Segments are raw memory with their elements built in place, so that Clear can release and destroy each element
// in one pass.
void TagMapItem::Grow(std::vector<TagVar*>& segs, uint32_t& cap) {
    const uint32_t n = SegSize(segs.size());
    segs.reserve(segs.size() + 1);
    auto* seg = static_cast<TagVar*>(::operator new (size_t{n} * sizeof(TagVar)));
    for (uint32_t i = 0; i < n; ++i)
        new (seg + i) TagVar();
    segs.push_back(seg);
    cap += n;
}

void TagMapItem::SpillFrom(uint32_t from) {
    for (uint32_t off = from; off < count; ++off) {
        TagVar& e = Elem(off);
        Hash().ints.try_emplace(static_cast<int32_t>(static_cast<uint32_t>(base) + off), std::move(e));
        e.Reset(); // the value and its counted reference went with the move
    }
    if (hash) hash->sorted = false;
    count = from;
}

void TagMapItem::SpillDownFrom(uint32_t from) {
    for (uint32_t down = from; down < downCount; ++down) {
        TagVar& e = ElemIn(downSegs, down);
        Hash().ints.try_emplace(static_cast<int32_t>(static_cast<uint32_t>(base) - 1u - down), std::move(e));
        e.Reset();
    }
    if (hash) hash->sorted = false;
    downCount = from;
}

int32_t TagMapItem::Remove(const TagVar& key) {
    // The element leaves the object before its value is released: the release may come back to this object.
    if (key.type != TagVar::kString && key.type != TagVar::kDouble && key.type != TagVar::kObject) {
        uint32_t off = static_cast<uint32_t>(key.intVal) - static_cast<uint32_t>(base);
        if (off < count) {
            if (off + 1 < count) SpillFrom(off + 1);
            TagVar& e = Elem(off);
            TagVar gone(std::move(e));
            e.Reset();
            --count;
            gone = TagVar();
            return 1;
        }
        uint32_t down = static_cast<uint32_t>(base) - 1u - static_cast<uint32_t>(key.intVal);
        if (down < downCount) {
            if (down + 1 < downCount) SpillDownFrom(down + 1);
            TagVar& e = ElemIn(downSegs, down);
            TagVar gone(std::move(e));
            e.Reset();
            --downCount;
            gone = TagVar();
            return 1;
        }
    }
    if (!hash) return 0;
    auto drop = [&](auto& map, const auto& k) {
        auto node = map.extract(k);
        if (node.empty()) return 0;
        hash->sorted = false;
        node.mapped() = TagVar();
        return 1;
    };
    switch (key.type) {
    case TagVar::kString: {
        auto it = hash->strs.find(KeyText(key));
        if (it == hash->strs.end()) return 0;
        return drop(hash->strs, it->first);
    }
    case TagVar::kDouble:
        return drop(hash->dbls, key.DblVal());
    case TagVar::kObject:
        return drop(hash->objs, key.ObjId());
    default:
        return drop(hash->ints, key.intVal);
    }
}

template <class F> void TagMapItem::Walk(F&& f) {
    const std::string* none = nullptr;
    if (hash) hash->Sort();
    // Integer keys of the hash part lie below or above the array part's runs.
    size_t low = 0;
    if (hash)
        while (low < hash->intOrder.size() && hash->intOrder[low]->first < base)
            ++low;
    if (hash)
        for (size_t i = 0; i < low; ++i)
            if (!f(2, hash->intOrder[i]->first, none, 0.0, hash->intOrder[i]->second)) return;
    for (uint32_t down = downCount; down-- > 0;)
        if (!f(2, static_cast<int32_t>(static_cast<uint32_t>(base) - 1u - down), none, 0.0, ElemIn(downSegs, down)))
            return;
    for (uint32_t off = 0; off < count; ++off)
        if (!f(2, static_cast<int32_t>(static_cast<uint32_t>(base) + off), none, 0.0, Elem(off))) return;
    if (!hash) return;
    for (size_t i = low; i < hash->intOrder.size(); ++i)
        if (!f(2, hash->intOrder[i]->first, none, 0.0, hash->intOrder[i]->second)) return;
    for (auto* e : hash->strOrder)
        if (!f(1, 0, &e->first, 0.0, e->second)) return;
    for (auto* e : hash->dblOrder)
        if (!f(3, 0, none, e->first, e->second)) return;
    for (auto* e : hash->objOrder)
        if (!f(4, e->first, none, 0.0, e->second)) return;
}

bool TagMapItem::At(size_t index, int32_t& kind, int32_t& ik, const std::string*& sk, double& dk, TagVar*& value) {
    if (index >= Size()) return false;
    if (hash) hash->Sort();
    size_t low = 0;
    if (hash)
        low = static_cast<size_t>(std::lower_bound(hash->intOrder.begin(), hash->intOrder.end(), base,
                                                   [](auto* e, int32_t b) { return e->first < b; }) -
                                  hash->intOrder.begin());
    kind = 2;
    sk = nullptr;
    dk = 0;
    if (index < low) {
        ik = hash->intOrder[index]->first;
        value = &hash->intOrder[index]->second;
        return true;
    }
    index -= low;
    if (index < downCount) {
        const uint32_t down = downCount - 1 - static_cast<uint32_t>(index);
        ik = static_cast<int32_t>(static_cast<uint32_t>(base) - 1u - down);
        value = &ElemIn(downSegs, down);
        return true;
    }
    index -= downCount;
    if (index < count) {
        ik = static_cast<int32_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(index));
        value = &Elem(static_cast<uint32_t>(index));
        return true;
    }
    index = index - count + low;
    if (index < hash->intOrder.size()) {
        ik = hash->intOrder[index]->first;
        value = &hash->intOrder[index]->second;
        return true;
    }
    index -= hash->intOrder.size();
    if (index < hash->strOrder.size()) {
        kind = 1;
        sk = &hash->strOrder[index]->first;
        value = &hash->strOrder[index]->second;
        return true;
    }
    index -= hash->strOrder.size();
    if (index < hash->dblOrder.size()) {
        kind = 3;
        dk = hash->dblOrder[index]->first;
        value = &hash->dblOrder[index]->second;
        return true;
    }
    index -= hash->dblOrder.size();
    kind = 4;
    ik = hash->objOrder[index]->first;
    value = &hash->objOrder[index]->second;
    return true;
}

void TagMapItem::FreeRun(std::vector<TagVar*>& segs, uint32_t used, bool release) {
    uint32_t off = 0;
    for (size_t s = 0; s < segs.size(); ++s) {
        TagVar* seg = segs[s];
        const uint32_t n = SegSize(s);
        for (uint32_t i = 0; i < n; ++i, ++off) {
            if (release && off < used && seg[i].type == TagVar::kObject) seg[i] = TagVar();
            seg[i].~TagVar();
        }
        ::operator delete(seg);
    }
    segs.clear();
}

void TagMapItem::Clear(bool release) {
    // Releasing an element's object only queues that object's deletion (see TagMapObject::Kill), so nothing
    // comes back to this object while its elements go.
    FreeRun(segs, count, release);
    seg0 = seg1 = nullptr;
    FreeRun(downSegs, downCount, release);
    count = cap = downCount = downCap = 0;
    if (hash && release) {
        auto drop = [](auto& map) {
            for (auto& e : map)
                if (e.second.type == TagVar::kObject) e.second = TagVar();
        };
        drop(hash->ints);
        drop(hash->strs);
        drop(hash->dbls);
        drop(hash->objs);
    }
    hash.reset();
}

namespace {

// The key as a value, the way GetItemAt hands it out: an object key comes back as its id, an integer.
void SetKey(TagVar& out, int kind, int32_t ik, const std::string* sk, double dk) {
    if (kind == 1)
        out.SetStr(sk->c_str());
    else if (kind == 3)
        out.SetFloat(dk);
    else
        out.SetInt(ik);
}

bool Alive(const TagMapItem* item) {
    return item && !item->dead.load(std::memory_order_acquire);
}

// Pins the live object of an id for the length of a call by id.
struct Pinned {
    TagMapItem* item;
    explicit Pinned(int32_t id) : item(g_mapObjects.Pin(id)) {}
    ~Pinned() {
        if (item) TagMapObject::Unpin(item);
    }
    Pinned(const Pinned&) = delete;
    Pinned& operator=(const Pinned&) = delete;
};

// The id of a record handed out by a set operation, which stays in the registry uncounted (or names no object).
int32_t IdOf(TagMapItem* item) {
    int32_t id = item->id;
    TagMapObject::Unpin(item);
    return id;
}

} // namespace

TagMapObject::TagMapObject() = default;

// Items go without releasing one another (they are all going); a record that a value still points at stays until
// that value lets go of it.
TagMapObject::~TagMapObject() {
    g_mapShuttingDown = true;
    std::unordered_map<int32_t, TagMapItem*> all;
    {
        std::lock_guard<std::mutex> g(cs);
        all.swap(items);
    }
    for (auto& [id, item] : all)
        item->dead = 1;
    for (auto& [id, item] : all)
        item->Clear(false);
    for (auto& [id, item] : all)
        Unpin(item);
}

TagMapItem* TagMapObject::NewItem() {
    auto* item = new TagMapItem();
    item->pins.store(2, std::memory_order_relaxed); // the registry's and the caller's
    std::lock_guard<std::mutex> g(cs);
    int32_t id = lastId;
    do {
        // Ids stay positive: negative values are the error results of the object operations.
        id = id >= 0x7FFFFFFF ? 1 : id + 1;
    } while (items.count(id));
    lastId = id;
    item->id = id;
    items.emplace(id, item);
    return item;
}

TagMapItem* TagMapObject::DeadItem(int32_t id) {
    auto* item = new TagMapItem();
    item->pins.store(1, std::memory_order_relaxed);
    item->dead.store(1, std::memory_order_relaxed);
    item->id = id;
    return item;
}

TagMapItem* TagMapObject::Pin(int32_t id) {
    std::lock_guard<std::mutex> g(cs);
    auto it = items.find(id);
    if (it == items.end()) return nullptr;
    PinItem(it->second);
    return it->second;
}

int32_t TagMapObject::AddRef(TagMapItem* item) {
    if (!Alive(item)) return -1;
    return item->refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

void TagMapObject::Release(TagMapItem* item) {
    if (!Alive(item)) return;
    if (item->refCount.fetch_sub(1, std::memory_order_acq_rel) - 1 < 1) Kill(item);
}

void TagMapObject::Kill(TagMapItem* item) {
    {
        std::lock_guard<std::mutex> g(cs);
        if (item->dead.exchange(1, std::memory_order_acq_rel)) return;
        items.erase(item->id);
    }
    if (g_mapShuttingDown) {
        item->Clear(false);
        Unpin(item);
        return;
    }
    if (t_queueGone) {
        item->Clear(true);
        Unpin(item);
        return;
    }
    std::vector<TagMapItem*>& pending = t_queue.items;
    // The registry's pin goes with the item into the queue.
    pending.push_back(item);
    if (t_destroying) return;
    t_destroying = true;
    while (!pending.empty()) {
        TagMapItem* cur = pending.back();
        pending.pop_back();
        cur->Clear(true);
        Unpin(cur);
    }
    t_destroying = false;
}

TagMapItem* TagMapObject::Clone(TagMapItem* a) {
    if (!Alive(a)) return DeadItem(-1);
    TagMapItem* dst = NewItem();
    TagVar key;
    a->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        dst->Item(key) = v;
        return true;
    });
    return dst;
}

TagMapItem* TagMapObject::Merge(TagMapItem* a, TagMapItem* b) {
    TagMapItem* dst = Clone(a);
    if (!Alive(dst) || !Alive(b) || b == dst) return dst;
    TagVar key;
    b->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        TagVar& e = dst->Item(key);
        if (e.type == TagVar::kEmpty) e = v;
        return true;
    });
    return dst;
}

TagMapItem* TagMapObject::Subtract(TagMapItem* a, TagMapItem* b) {
    if (!Alive(a)) return DeadItem(-1);
    if (!Alive(b)) return DeadItem(-2);
    TagMapItem* dst = NewItem();
    TagVar key;
    a->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        if (!b->Find(key)) dst->Item(key) = v;
        return true;
    });
    return dst;
}

TagMapItem* TagMapObject::Intersect(TagMapItem* a, TagMapItem* b) {
    if (!Alive(a)) return DeadItem(-1);
    if (!Alive(b)) return DeadItem(-2);
    TagMapItem* dst = NewItem();
    TagVar key;
    b->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
        SetKey(key, kind, ik, sk, dk);
        if (a->Find(key)) dst->Item(key) = v;
        return true;
    });
    return dst;
}

namespace {

// Objects already open on the way down (not only the one being dumped) print as "{...}", so no cycle of any
// length recurses without end.
void DumpItem(TagMapItem* item, std::string& out, std::vector<TagMapItem*>& path) {
    path.push_back(item);
    out += "{\r\n";
    bool first = true;
    item->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
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
        TagMapItem* sub = v.Object();
        if (!sub) {
            v.AppendText(out, 1);
        } else if (std::find(path.begin(), path.end(), sub) != path.end() || path.size() >= kMaxDumpDepth) {
            out += "{...}";
        } else if (Alive(sub)) {
            DumpItem(sub, out, path);
        }
        return true;
    });
    out += "\r\n}";
    path.pop_back();
}

} // namespace

int32_t TagMapObject::Dump(TagMapItem* item, std::string& out) {
    out.clear();
    if (!Alive(item)) return -1;
    std::vector<TagMapItem*> path;
    DumpItem(item, out, path);
    return 0;
}

TagMapItem* TagMapObject::DeepCopy(TagMapItem* item, int32_t& droppedFunctions) {
    if (!Alive(item)) return DeadItem(item ? item->id : -1);
    // Each object reached is copied once, so shared elements and cycles keep their shape in the copy.
    std::map<TagMapItem*, TagMapItem*> made;
    std::vector<std::pair<TagMapItem*, TagMapItem*>> todo;
    auto copyOf = [&](TagMapItem* src) {
        auto it = made.find(src);
        if (it != made.end()) return it->second;
        TagMapItem* dst = NewItem();
        made.emplace(src, dst);
        todo.emplace_back(src, dst);
        return dst;
    };
    TagMapItem* top = copyOf(item);
    TagVar key;
    while (!todo.empty()) {
        auto [src, dst] = todo.back();
        todo.pop_back();
        src->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar& v) {
            SetKey(key, kind, ik, sk, dk);
            TagVar& e = dst->Item(key);
            TagMapItem* sub = v.Object();
            if (sub && Alive(sub)) {
                TagMapItem* copy = copyOf(sub);
                PinItem(copy);
                TagVar holder;
                holder.HoldObject(copy);
                e = holder;
            } else if (v.type == TagVar::kFunction) {
                ++droppedFunctions; // stays null: see TagVar::AssignDetached
            } else {
                e = v;
            }
            return true;
        });
    }
    // Every copy was pinned for this walk; the values now hold them.
    for (auto& [src, dst] : made)
        if (dst != top) Unpin(dst);
    return top;
}

// ---- By id ----

int32_t TagMapObject::NewObject() {
    return IdOf(NewItem());
}

int32_t TagMapObject::AddRef(int32_t id) {
    Pinned p(id);
    return p.item ? AddRef(p.item) : -1;
}

int32_t TagMapObject::Release(int32_t id) {
    Pinned p(id);
    if (!p.item) return -1;
    Release(p.item);
    return 0;
}

TagVar* TagMapObject::FindItem(int32_t id, const TagVar& key) {
    Pinned p(id);
    return p.item ? p.item->Find(key) : nullptr;
}

TagVar& TagMapObject::Item(int32_t id, const TagVar& key) {
    Pinned p(id);
    return p.item ? p.item->Item(key) : g_nullVar;
}

int32_t TagMapObject::Count(int32_t id) {
    Pinned p(id);
    return p.item ? static_cast<int32_t>(p.item->Size()) : -1;
}

int32_t TagMapObject::RefCount(int32_t id) {
    Pinned p(id);
    return p.item ? p.item->refCount.load() : -1;
}

int32_t TagMapObject::Live() {
    std::lock_guard<std::mutex> g(cs);
    return static_cast<int32_t>(items.size());
}

int32_t TagMapObject::GetItemAt(int32_t id, int32_t index, TagVar& keyOut, TagVar& valueOut) {
    Pinned p(id);
    if (!p.item) return -1;
    int32_t kind = 0, ik = 0;
    const std::string* sk = nullptr;
    double dk = 0;
    TagVar* v = nullptr;
    if (index < 0 || !p.item->At(static_cast<size_t>(index), kind, ik, sk, dk, v)) return -2;
    SetKey(keyOut, kind, ik, sk, dk);
    valueOut = *v;
    return index;
}

int32_t TagMapObject::ListItems(int32_t id, std::vector<TagKeyEntry>& list) {
    Pinned p(id);
    if (!p.item) {
        list.clear();
        return -1;
    }
    return ListItems(p.item, list);
}

int32_t TagMapObject::ListItems(TagMapItem* item, std::vector<TagKeyEntry>& list) {
    list.clear();
    if (!Alive(item)) return -1;
    list.reserve(item->Size());
    item->Walk([&](int kind, int32_t ik, const std::string* sk, double dk, TagVar&) {
        list.emplace_back();
        list.back().kind = kind;
        SetKey(list.back().key, kind, ik, sk, dk);
        return true;
    });
    return static_cast<int32_t>(list.size());
}

int32_t TagMapObject::RemoveItem(int32_t id, const TagVar& key) {
    Pinned p(id);
    return p.item ? p.item->Remove(key) : 0;
}

int32_t TagMapObject::Clone(int32_t id) {
    Pinned p(id);
    return p.item ? IdOf(Clone(p.item)) : -1;
}

int32_t TagMapObject::Merge(int32_t a, int32_t b) {
    Pinned pa(a), pb(b);
    return pa.item ? IdOf(Merge(pa.item, pb.item)) : -1;
}

int32_t TagMapObject::Subtract(int32_t a, int32_t b) {
    Pinned pa(a), pb(b);
    return IdOf(Subtract(pa.item, pb.item));
}

int32_t TagMapObject::Intersect(int32_t a, int32_t b) {
    Pinned pa(a), pb(b);
    return IdOf(Intersect(pa.item, pb.item));
}

int32_t TagMapObject::Dump(int32_t id, std::string& out) {
    Pinned p(id);
    out.clear();
    return p.item ? Dump(p.item, out) : -1;
}

} // namespace zz
