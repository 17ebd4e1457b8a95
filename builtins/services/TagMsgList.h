#pragma once
// Message records and the locked, optionally sorted list that holds them: the one container behind every mailbox
// of a line, the process-wide mailboxes, the inter-line server slots and the list of each ACD group.
#include <array>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "engine/TagVar.h"

namespace zz {

// One message: a key, the sender's line and up to 20 fields, of which the first Count() travel with a copy.
class TagMsgFields {
public:
    static constexpr int32_t kMaxFields = 20;

    TagMsgFields() = default;
    // Copies count, sender, key and the first count fields (an array as a copy of its own, see HeldValue.h).
    TagMsgFields(const TagMsgFields& src);
    // The same onto an existing record: its fields from src's count on stay as they were.
    TagMsgFields& operator=(const TagMsgFields& src);
    ~TagMsgFields();

    int32_t Count() const { return count_; }
    // Stores n held to 0..20.
    void SetCount(int32_t n) { count_ = n < 0 ? 0 : (n > kMaxFields ? kMaxFields : n); }
    // Field i := value / var := field i; false (nothing done) for i outside 0..19. Neither looks at the count.
    bool SetField(int32_t i, const TagVar& value);
    bool GetField(int32_t i, TagVar& var) const;
    // Field i whatever the count; the shared empty value for i outside 0..19.
    const TagVar& Field(int32_t i) const;

    int32_t sender = 0;
    TagVar key;
    std::array<TagVar, kMaxFields> fields;

private:
    int32_t count_ = 0;
};

// A sort column: -1 the key, 0..19 a field.
struct TagOrderCol {
    int32_t column;
    uint8_t descending;
};

// Every operation holds the list's lock for its whole run. The list limit is MAX_MSG_NUM, compared unsigned (0: no
// limit): the count before an insertion must not exceed it, so a full list holds MAX_MSG_NUM + 1 records.
class TagMsgList {
public:
    TagMsgList() = default;
    TagMsgList(const TagMsgList&) = delete;
    TagMsgList& operator=(const TagMsgList&) = delete;

    // Appends a copy and sorts: the new count, 0 when the list is full.
    int32_t Add(const TagMsgFields& rec);
    // Take the first record (that matches) into out; false, out unchanged, when there is none.
    bool Get(TagMsgFields& out);
    bool GetForType(const TagVar& value, TagMsgFields& out);
    bool GetForField(int32_t column, const TagVar& value, TagMsgFields& out);
    bool GetFor2Field(int32_t column1, const TagVar& value1, int32_t andOr, int32_t column2, const TagVar& value2,
                      TagMsgFields& out);
    // Copies without removing: mode -1 the first record, -2 the first whose key equals value, any other mode the
    // first whose field `mode` equals value.
    bool Read(int32_t mode, const TagVar& value, TagMsgFields& out);
    // The texts of column2 (-1 the key) of the records that match column1 and value, comma-separated while the
    // text stays below 2047 characters; returns the number of matching records.
    int32_t ReadFor(int32_t column1, const TagVar& value, int32_t column2, std::string& text);
    // Finds as Read does and sets field `column` (if the record has it) or, for a negative column, the key.
    bool Write(int32_t mode, const TagVar& value, int32_t column, const TagVar& newValue);
    // Removals: the number of records removed.
    int32_t Clear();
    int32_t ClearFrom(int32_t line);
    int32_t ClearForType(const TagVar& value);
    int32_t ClearForField(int32_t column, const TagVar& value);
    int32_t GetNum();
    int32_t GetNumForType(const TagVar& value);
    int32_t GetNumForField(int32_t column, const TagVar& value);
    // Counts the records per value of column (-1 the key) into the script object: an element holding an integer
    // is raised by one, any other becomes 1 and counts as a new group. Returns the number of new groups.
    int32_t CountMsg(int32_t column, TagVar& object);
    // Sets (direction >= 0; nonzero: descending) or removes (direction < 0) a sort column; -1 for a column outside
    // -1..19, else 0. The records already held are sorted at the next Add or successful Write.
    int32_t SetOrderBy(int32_t column, int32_t direction);
    // Stable sort by the order columns: 0 (untouched) when none is set, else 1.
    int32_t Sort();

private:
    template <class Pred> bool Take(Pred pred, TagMsgFields& out);
    template <class Pred> int32_t Remove(Pred pred);
    template <class Pred> int32_t CountIf(Pred pred);
    std::list<TagMsgFields>::iterator Find(int32_t mode, const TagVar& value);
    void SortLocked();

    std::recursive_mutex lock_;
    std::list<TagMsgFields> records_;
    std::vector<TagOrderCol> order_;
    bool sorted_ = false; // the records stand in the order of the current columns
};

} // namespace zz
