#include "builtins/services/TagMsgList.h"

#include <iterator>

#include "builtins/services/HeldValue.h"
#include "platform/TagRunCfg.h"

namespace zz {

namespace {

constexpr size_t kReadForRoom = 2047; // the text of ReadFor stays below this many characters

bool Equal(const TagVar& a, const TagVar& b) {
    return TagVar::IsEqual(a, b) != 0;
}

// The key predicate, and the field predicate: a record with too few fields never matches.
bool KeyIs(const TagMsgFields& r, const TagVar& value) {
    return Equal(r.key, value);
}
bool FieldIs(const TagMsgFields& r, int32_t column, const TagVar& value) {
    return column >= 0 && column < r.Count() && Equal(r.Field(column), value);
}

const TagVar& KeyOrField(const TagMsgFields& r, int32_t column) {
    return column < 0 ? r.key : r.Field(column);
}

// Both columns must lie below the count (a negative one always does); flag 0: both values match, else either.
bool MatchMsgFields(const TagMsgFields& r, int32_t c1, const TagVar& v1, int32_t andOr, int32_t c2, const TagVar& v2) {
    if (c1 >= r.Count() || c2 >= r.Count()) return false;
    bool a = Equal(KeyOrField(r, c1), v1), b = Equal(KeyOrField(r, c2), v2);
    return andOr == 0 ? a && b : a || b;
}

// Whether a goes before b: the first order column whose values differ decides.
bool CompareByMsgFields(const std::vector<TagOrderCol>& order, const TagMsgFields& a, const TagMsgFields& b) {
    for (const TagOrderCol& c : order) {
        const TagVar& x = KeyOrField(a, c.column);
        const TagVar& y = KeyOrField(b, c.column);
        if (Equal(x, y)) continue;
        return c.descending ? TagVar::IsGreater(x, y) != 0 : TagVar::IsLess(x, y) != 0;
    }
    return false;
}

} // namespace

// ---- records

TagMsgFields::TagMsgFields(const TagMsgFields& src) {
    *this = src;
}

TagMsgFields& TagMsgFields::operator=(const TagMsgFields& src) {
    if (this == &src) return *this;
    count_ = src.count_;
    sender = src.sender;
    // A record is copied into a list and out of it: another line's copy holds arrays of its own.
    key.AssignDetached(src.key);
    for (int32_t i = 0; i < src.count_; ++i)
        fields[size_t(i)].AssignDetached(src.fields[size_t(i)]);
    return *this;
}

TagMsgFields::~TagMsgFields() {
    ReleaseValue(key);
    for (TagVar& f : fields)
        ReleaseValue(f);
}

bool TagMsgFields::SetField(int32_t i, const TagVar& value) {
    if (i < 0 || i >= kMaxFields) return false;
    fields[size_t(i)] = value;
    return true;
}

bool TagMsgFields::GetField(int32_t i, TagVar& var) const {
    if (i < 0 || i >= kMaxFields) return false;
    var = fields[size_t(i)];
    return true;
}

const TagVar& TagMsgFields::Field(int32_t i) const {
    return i >= 0 && i < kMaxFields ? fields[size_t(i)] : g_nullVar;
}

// ---- the list

int32_t TagMsgList::Add(const TagMsgFields& rec) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    const uint32_t n = uint32_t(records_.size());
    const uint32_t limit = uint32_t(MsgListLimit());
    if (limit != 0 && n > limit) return 0;
    if (order_.empty() || !sorted_) {
        records_.push_back(rec);
        // Sorted before the lock is let go, so no other line ever takes from a list in arrival order by mistake.
        SortLocked();
    } else {
        // Into a list already in order: after the last record it does not go before, as a stable sort puts it.
        auto it = records_.end();
        while (it != records_.begin() && CompareByMsgFields(order_, rec, *std::prev(it)))
            --it;
        records_.insert(it, rec);
    }
    return int32_t(n + 1);
}

template <class Pred> bool TagMsgList::Take(Pred pred, TagMsgFields& out) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (!pred(*it)) continue;
        out = *it;
        records_.erase(it);
        return true;
    }
    return false;
}

bool TagMsgList::Get(TagMsgFields& out) {
    return Take([](const TagMsgFields&) { return true; }, out);
}

bool TagMsgList::GetForType(const TagVar& value, TagMsgFields& out) {
    return Take([&](const TagMsgFields& r) { return KeyIs(r, value); }, out);
}

bool TagMsgList::GetForField(int32_t column, const TagVar& value, TagMsgFields& out) {
    return Take([&](const TagMsgFields& r) { return FieldIs(r, column, value); }, out);
}

bool TagMsgList::GetFor2Field(int32_t column1, const TagVar& value1, int32_t andOr, int32_t column2,
                              const TagVar& value2, TagMsgFields& out) {
    return Take([&](const TagMsgFields& r) { return MatchMsgFields(r, column1, value1, andOr, column2, value2); }, out);
}

std::list<TagMsgFields>::iterator TagMsgList::Find(int32_t mode, const TagVar& value) {
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (mode == -1 || (mode == -2 && KeyIs(*it, value)) || (mode != -2 && FieldIs(*it, mode, value))) return it;
    }
    return records_.end();
}

bool TagMsgList::Read(int32_t mode, const TagVar& value, TagMsgFields& out) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    auto it = Find(mode, value);
    if (it == records_.end()) return false;
    out = *it;
    return true;
}

int32_t TagMsgList::ReadFor(int32_t column1, const TagVar& value, int32_t column2, std::string& text) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    text.clear();
    int32_t n = 0;
    for (const TagMsgFields& r : records_) {
        // A record too short for column1 matches, as does every record for a column below -1.
        bool match = column1 == -1                           ? KeyIs(r, value)
                     : (column1 >= 0 && r.Count() > column1) ? Equal(r.Field(column1), value)
                                                             : true;
        if (!match) continue;
        std::string piece;
        if (column2 == -1)
            r.key.ToString(piece);
        else if (column2 >= 0 && r.Count() > column2)
            r.Field(column2).ToString(piece);
        if (text.size() + piece.size() < kReadForRoom) {
            if (n > 0) text += ',';
            text += piece;
        }
        ++n;
    }
    return n;
}

bool TagMsgList::Write(int32_t mode, const TagVar& value, int32_t column, const TagVar& newValue) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    auto it = Find(mode, value);
    if (it == records_.end()) return false;
    if (column < 0)
        it->key.AssignDetached(newValue);
    else if (it->Count() > column)
        it->fields[size_t(column)].AssignDetached(newValue);
    SortLocked();
    return true;
}

template <class Pred> int32_t TagMsgList::Remove(Pred pred) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    const size_t before = records_.size();
    records_.remove_if(pred);
    return int32_t(before - records_.size());
}

int32_t TagMsgList::Clear() {
    return Remove([](const TagMsgFields&) { return true; });
}

int32_t TagMsgList::ClearFrom(int32_t line) {
    return Remove([&](const TagMsgFields& r) { return r.sender == line; });
}

int32_t TagMsgList::ClearForType(const TagVar& value) {
    return Remove([&](const TagMsgFields& r) { return KeyIs(r, value); });
}

int32_t TagMsgList::ClearForField(int32_t column, const TagVar& value) {
    return Remove([&](const TagMsgFields& r) { return FieldIs(r, column, value); });
}

template <class Pred> int32_t TagMsgList::CountIf(Pred pred) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    int32_t n = 0;
    for (const TagMsgFields& r : records_)
        n += pred(r) ? 1 : 0;
    return n;
}

int32_t TagMsgList::GetNum() {
    // The list keeps its size as records come and go: a count never walks a long queue under its lock.
    std::lock_guard<std::recursive_mutex> lk(lock_);
    return int32_t(records_.size());
}

int32_t TagMsgList::GetNumForType(const TagVar& value) {
    return CountIf([&](const TagMsgFields& r) { return KeyIs(r, value); });
}

int32_t TagMsgList::GetNumForField(int32_t column, const TagVar& value) {
    return CountIf([&](const TagMsgFields& r) { return FieldIs(r, column, value); });
}

int32_t TagMsgList::CountMsg(int32_t column, TagVar& object) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    int32_t groups = 0;
    for (const TagMsgFields& r : records_) {
        if (column >= 0 && r.Count() <= column) continue;
        const TagVar& value = KeyOrField(r, column);
        const TagVar& held = object.Find(value);
        TagVar next;
        next.SetInt(held.type == TagVar::kInt ? held.GetInt() + 1 : 1);
        if (held.type != TagVar::kInt) ++groups;
        object[value] = next;
    }
    return groups;
}

int32_t TagMsgList::SetOrderBy(int32_t column, int32_t direction) {
    if (column < -1 || column >= TagMsgFields::kMaxFields) return -1;
    std::lock_guard<std::recursive_mutex> lk(lock_);
    auto it = order_.begin();
    while (it != order_.end() && it->column != column)
        ++it;
    sorted_ = false;
    if (direction >= 0) {
        if (it != order_.end())
            it->descending = direction != 0;
        else
            order_.push_back({column, uint8_t(direction != 0)});
    } else if (it != order_.end()) {
        order_.erase(it);
    }
    return 0;
}

void TagMsgList::SortLocked() {
    if (order_.empty()) return;
    // std::list::sort is a stable merge sort: records equal on every column keep their arrival order.
    records_.sort([this](const TagMsgFields& a, const TagMsgFields& b) { return CompareByMsgFields(order_, a, b); });
    sorted_ = true;
}

int32_t TagMsgList::Sort() {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    if (order_.empty()) return 0;
    SortLocked();
    return 1;
}

} // namespace zz
