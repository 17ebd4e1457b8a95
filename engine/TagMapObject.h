#pragma once
// The process-wide registry of script arrays and objects by integer id, with their reference counts.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/TagVar.h"

namespace zz {

// Orders double keys totally: NaN sorts after every number and equals itself, so a NaN key cannot break a map.
struct DblKeyLess {
    bool operator()(double a, double b) const {
        bool na = a != a, nb = b != b;
        if (na || nb) return !na && nb;
        return a < b;
    }
};

// One object: four ordered element maps by key kind, walked int, string, double, object-id.
struct TagMapItem {
    std::map<int32_t, TagVar> intItems;
    std::map<std::string, TagVar> strItems;
    std::map<double, TagVar, DblKeyLess> dblItems;
    std::map<int32_t, TagVar> objItems;
    int32_t refCount = 0;

    size_t Size() const { return intItems.size() + strItems.size() + dblItems.size() + objItems.size(); }
};

class TagMapObject {
public:
    TagMapObject();
    ~TagMapObject();
    TagMapObject(const TagMapObject&) = delete;
    TagMapObject& operator=(const TagMapObject&) = delete;

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

private:
    TagMapItem* Lookup(int32_t id);
    void DumpItem(int32_t id, TagMapItem* item, std::string& out, std::vector<int32_t>& path);
    void DestroyItem(std::unique_ptr<TagMapItem> item);

    std::recursive_mutex cs;
    std::map<int32_t, std::unique_ptr<TagMapItem>> items;
    int32_t lastId = 0;
};

extern TagMapObject g_mapObjects;
// Set while the registry is destroyed at exit: items then go without releasing what their elements hold.
extern std::atomic<bool> g_mapShuttingDown;

} // namespace zz
