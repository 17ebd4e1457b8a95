#pragma once
// Shared memory: named script values that lines exchange without messages. A table maps keys of three kinds to
// values, each kind in a map of its own (the text "1", the integer 1 and the number 1.0 are three keys). Every line's
// main program holds one (a family record), and one process-wide table serves negative line numbers.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "builtins/services/HeldValue.h"
#include "builtins/services/LineTable.h"
#include "engine/TagLineState.h"
#include "engine/TagTelBasic.h"

namespace zz {

// A key as its variable's type selects the map: a string by its text, a floating-point number by its value,
// anything else by its integer word as it stands.
struct ShareKey {
    enum Kind : uint8_t { kInt, kText, kFloat };
    Kind kind = kInt;
    int32_t i = 0;
    double d = 0;
    std::string text;
};

// Each operation holds the table's lock for its whole run. Sizes are those of the map the key selects. Values go in
// and come out as detached copies (TagVar::AssignDetached): an array never belongs to two lines at once.
class TagShareMem {
public:
    // Stores a copy of value (of an array, a copy of the whole array): the map's size.
    int32_t Set(const ShareKey& key, const TagVar& value);
    // -1 for an absent key (var untouched); else var := the value and the map's size.
    int32_t Get(const ShareKey& key, TagVar& var);
    // Get and set at once: var := the old value, the entry := newValue; -1 for an absent key, else the map's size.
    int32_t Acc(const ShareKey& key, TagVar& var, const TagVar& newValue);
    // The entry := entry + delta (entry - delta), var := the new value: 0, or -1 for an absent key.
    int32_t Inc(const ShareKey& key, const TagVar& delta, TagVar& var);
    int32_t Dec(const ShareKey& key, const TagVar& delta, TagVar& var);
    // When the key holds a value equal to expected, it becomes newValue: true.
    bool Replace(const ShareKey& key, const TagVar& expected, const TagVar& newValue);
    void Clear();

private:
    // Orders every double, NaN after all numbers, so a NaN key cannot break the map.
    struct DoubleOrder {
        bool operator()(double a, double b) const { return (a != a || b != b) ? (a == a && b != b) : a < b; }
    };
    template <class Fn> int32_t OnMap(const ShareKey& key, Fn&& fn);

    std::mutex lock_;
    std::map<int32_t, HeldVar> ints_;
    std::map<std::string, HeldVar> texts_;
    std::map<double, HeldVar, DoubleOrder> floats_;
};

// A line's table.
class ShareMemState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kShareMem;
    explicit ShareMemState(TagTelBasic&) {}
    TagShareMem table;
};

TagShareMem& ProcessShareMem();

// Runs fn(TagShareMem&) on the table of line (negative: the process-wide table) and returns its result; -2 for a
// line not below the line count or without a program. Another line's program is held meanwhile.
template <class Fn> int32_t WithShareMem(int32_t line, Fn&& fn) {
    if (line >= LinesCount()) return -2;
    if (line < 0) return fn(ProcessShareMem());
    LineProgram prog(line);
    if (!prog) return -2;
    return fn(prog->LineState<ShareMemState>().table);
}
// Taken by FindShareMem around its walk over the lines, so that two searches never replace the same value twice.
std::mutex& ShareMemFindLock();

} // namespace zz
