#pragma once
// Script arrays and objects: the record of one object (an array part for a run of consecutive integer keys, which
// grows up from its first key and down below it, and hash maps for every other key, walked in key order), and the
// process-wide registry of live objects by id with their reference counts.
//
// A value of type 4 points at its record. The record lives while the registry holds it (its script reference
// count has not dropped below 1) or while any value still points at it: a value copied without counting (copy
// construction, a typed setter that leaves an object) keeps the memory, and finds a deleted object empty and
// nameless, as it would find an unknown id. The elements of an object are the business of the one line that
// holds it: objects reach another line only as copies (TagVar::AssignDetached).
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/TagVar.h"

namespace zz {

// Orders double keys totally: NaN sorts after every number and equals itself, so a NaN key cannot break a walk.
struct DblKeyLess {
    bool operator()(double a, double b) const {
        bool na = a != a, nb = b != b;
        if (na || nb) return !na && nb;
        return a < b;
    }
};

struct TagHashPart;

// One object.
struct TagMapItem {
    // Elements of the array part, in two runs that grow away from the key base: keys base and up, and keys
    // base - 1 and down (an array filled from its last key). In each run segment 0 holds 16, segment s the next
    // 16 << (s - 1) up to 4,096 elements in all, and every further segment 4,096 more, so growing never moves an
    // element (its address stays valid until it is removed), a small array stays small and a large one leaves at
    // most one segment's slack.
    static constexpr uint32_t kFirstSeg = 16;
    static constexpr uint32_t kPage = 4096;
    static constexpr uint32_t kSmallSegs = 9; // 16 + 16 + 32 + ... + 2048 = kPage

    TagMapItem();
    ~TagMapItem();
    TagMapItem(const TagMapItem&) = delete;
    TagMapItem& operator=(const TagMapItem&) = delete;

    // The element of a key, or null; never creates.
    TagVar* Find(const TagVar& key) {
        if (key.type != TagVar::kString && key.type != TagVar::kDouble && key.type != TagVar::kObject)
            return FindInt(key.intVal);
        return FindOther(key);
    }
    // The element of a key, created empty when missing.
    TagVar& Item(const TagVar& key) {
        if (key.type != TagVar::kString && key.type != TagVar::kDouble && key.type != TagVar::kObject) {
            uint32_t off = static_cast<uint32_t>(key.intVal) - static_cast<uint32_t>(base);
            if (off < count) return Elem(off);
            // The next key of a plain array, with room left in its last segment.
            // (The key after INT32_MAX wraps to INT32_MIN, which belongs below.)
            if (off == count && count < cap && !hash && key.intVal != INT32_MIN) return Elem(count++);
            if (hash || downCount)
                if (TagVar* e = FindLowInt(key.intVal)) return *e;
            return NewInt(key.intVal);
        }
        return ItemOther(key);
    }
    // The element of an integer key in the array part above base, or null (it may still be elsewhere).
    TagVar* ArrayElem(int32_t k) {
        uint32_t off = static_cast<uint32_t>(k) - static_cast<uint32_t>(base);
        return off < count ? &Elem(off) : nullptr;
    }
    TagVar* FindInt(int32_t k) {
        if (TagVar* e = ArrayElem(k)) return e;
        return hash || downCount ? FindLowInt(k) : nullptr;
    }
    // 1 when the element existed (its value is released and it is gone), else 0.
    int32_t Remove(const TagVar& key);
    size_t Size() const;

    // Visits the elements in key order: integers, strings, doubles, then object ids, each ascending. The visitor
    // gets the key kind (2, 1, 3, 4), the integer or id key, the string key (kind 1), the double key (kind 3) and
    // the value, and returns false to stop.
    template <class F> void Walk(F&& f);
    // The index-th element in walk order and its key, or false.
    bool At(size_t index, int32_t& kind, int32_t& ik, const std::string*& sk, double& dk, TagVar*& value);
    // Releases what the elements hold (unless the process is ending) and frees them.
    void Clear(bool release);

    std::atomic<int32_t> refCount{0}; // values that count this object (assignment and subscripting)
    std::atomic<int32_t> pins{0};     // the registry while the object lives, and every value pointing here
    std::atomic<uint8_t> dead{0};     // deleted, or built as the result of a failed operation
    int32_t id = 0;
    int32_t base = 0;   // the first integer key of the array part
    uint32_t count = 0; // its elements: keys base .. base + count - 1, all present
    uint32_t cap = 0;   // the elements the segments hold
    std::vector<TagVar*> segs;
    // segs[0] and segs[1], one load nearer the first 32 elements (null until they are made)
    TagVar* seg0 = nullptr;
    TagVar* seg1 = nullptr;
    uint32_t downCount = 0; // the run below: keys base - 1 .. base - downCount, in that order
    uint32_t downCap = 0;
    std::vector<TagVar*> downSegs;
    std::unique_ptr<TagHashPart> hash;

private:
    TagVar& Elem(uint32_t off) {
        if (off < kFirstSeg) return seg0[off];
        if (off < 2 * kFirstSeg) return seg1[off - kFirstSeg];
        return ElemIn(segs, off);
    }
    static TagVar& ElemIn(const std::vector<TagVar*>& segs, uint32_t off) {
        if (off >= kPage) return segs[kSmallSegs - 1 + off / kPage][off % kPage];
        uint32_t q = off / kFirstSeg;
        uint32_t s = q ? static_cast<uint32_t>(std::bit_width(q)) : 0;
        uint32_t start = s ? kFirstSeg << (s - 1) : 0;
        return segs[s][off - start];
    }
    static uint32_t SegSize(size_t s) { return s == 0 ? kFirstSeg : s < kSmallSegs ? kFirstSeg << (s - 1) : kPage; }
    // One more segment at the end of a run.
    static void Grow(std::vector<TagVar*>& segs, uint32_t& cap);
    // Releases (when asked) what the first `used` elements of a run hold, and frees all of its elements.
    static void FreeRun(std::vector<TagVar*>& segs, uint32_t used, bool release);
    // An integer key outside the run above base: the run below, then the hash part.
    TagVar* FindLowInt(int32_t k);
    TagVar* FindHashInt(int32_t k);
    TagVar* FindOther(const TagVar& key);
    TagVar& ItemOther(const TagVar& key);
    TagVar& NewInt(int32_t k);
    // Keys base + from and above leave the array part for the hash part.
    void SpillFrom(uint32_t from);
    // Keys base - 1 - from and below leave the array part for the hash part.
    void SpillDownFrom(uint32_t from);
    TagHashPart& Hash();
};

class TagMapObject {
public:
    TagMapObject();
    ~TagMapObject();
    TagMapObject(const TagMapObject&) = delete;
    TagMapObject& operator=(const TagMapObject&) = delete;

    // ---- By id ----
    int32_t NewObject();
    int32_t AddRef(int32_t id);
    int32_t Release(int32_t id);
    TagVar* FindItem(int32_t id, const TagVar& key);
    // The element, created when missing; g_nullVar when the id names no object.
    TagVar& Item(int32_t id, const TagVar& key);
    int32_t Count(int32_t id);
    int32_t GetItemAt(int32_t id, int32_t index, TagVar& keyOut, TagVar& valueOut);
    int32_t ListItems(int32_t id, std::vector<TagKeyEntry>& list);
    int32_t RemoveItem(int32_t id, const TagVar& key);
    int32_t Clone(int32_t id);
    int32_t Merge(int32_t a, int32_t b);
    int32_t Subtract(int32_t a, int32_t b);
    int32_t Intersect(int32_t a, int32_t b);
    int32_t Dump(int32_t id, std::string& out);
    // Reference count of a live object, -1 for an unknown id (tests and the debugger).
    int32_t RefCount(int32_t id);
    // Number of live objects.
    int32_t Live();

    // ---- By record (what values use); every record handed out is pinned once for the caller ----
    TagMapItem* NewItem();
    // A record naming no object, with the given id (the failed result an operation gave).
    static TagMapItem* DeadItem(int32_t id);
    // The live object of id, or null.
    TagMapItem* Pin(int32_t id);
    static void PinItem(TagMapItem* item) { item->pins.fetch_add(1, std::memory_order_relaxed); }
    static void Unpin(TagMapItem* item) {
        if (item->pins.fetch_sub(1, std::memory_order_acq_rel) == 1) delete item;
    }
    // The new count, or -1 for an object that no longer lives.
    int32_t AddRef(TagMapItem* item);
    // Count - 1; below 1 the object is deleted: its elements let go of what they hold, one deletion after
    // another on this thread rather than recursively.
    void Release(TagMapItem* item);
    TagMapItem* Clone(TagMapItem* a);
    TagMapItem* Merge(TagMapItem* a, TagMapItem* b);
    TagMapItem* Subtract(TagMapItem* a, TagMapItem* b);
    TagMapItem* Intersect(TagMapItem* a, TagMapItem* b);
    // The text form; -1 with an empty text for an object that no longer lives.
    int32_t Dump(TagMapItem* item, std::string& out);
    // The keys in walk order; -1 for an object that no longer lives.
    int32_t ListItems(TagMapItem* item, std::vector<TagKeyEntry>& list);
    // A copy of the object and of every object it reaches (shared shape kept), counted once for the caller's
    // value; for values that another line will read.
    // droppedFunctions counts the function values left null in the copy.
    TagMapItem* DeepCopy(TagMapItem* item, int32_t& droppedFunctions);

private:
    void Kill(TagMapItem* item);

    std::mutex cs; // guards items and lastId only
    std::unordered_map<int32_t, TagMapItem*> items;
    int32_t lastId = 0;
};

extern TagMapObject g_mapObjects;
// Set while the registry is destroyed at exit: items then go without releasing what their elements hold.
extern std::atomic<bool> g_mapShuttingDown;

} // namespace zz
