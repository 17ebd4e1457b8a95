#pragma once
// The local copy of a pooled result: the whole result of one statement, copied by the back end that ran it
// (ExecToLocal) into one zero-filled block of fixed-width records, so that later reads need neither the pool
// nor the database.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/TagDataSet.h"

namespace zz {

class TagDbConnectionsCtrl;

struct TagField {
    std::string name;   // as the back end reports it
    int32_t offset = 0; // first byte within a record
    int32_t size = 0;   // width in bytes
};

class TagFields {
public:
    // A cell never holds more than a read can hand out; wider (or negative, or wrapped) widths are cut to this.
    static constexpr int64_t kMaxFieldSize = int64_t(kDbValueSize) - 1;

    // Appends a field at the current record size. The width is clamped to 0 ... kMaxFieldSize. 0, or -1 when
    // the record would grow beyond what one record may hold.
    int AddField(std::string_view name, int64_t size);
    void Clear();

    int32_t Count() const { return int32_t(list.size()); }
    int32_t RecordSize() const { return recordSize; }
    const TagField& operator[](int32_t i) const { return list[size_t(i)]; }

    std::vector<TagField> list;
    int32_t recordSize = 0;
};

class TagLocalData : public TagDataSet {
public:
    // Largest record block one result may take (bytes); a bigger result is refused rather than allocated.
    static constexpr int64_t kMaxRecordBytes = int64_t(1) << 30;

    // Joins the pool's connection for (type, a1, a2, a3); status and connIndex take the pool's Open result.
    TagLocalData(TagDbConnectionsCtrl* pool, int32_t type, const char* a1, const char* a2, const char* a3,
                 const char* a4);
    // A result holder outside the pool: where a statement run on another line's thread leaves its result.
    TagLocalData();
    ~TagLocalData() override;

    int Exec(char* sql) override;
    int GetRows() override { return rows; }
    int GetCols() override { return fields.Count(); }
    int GetFieldName(int col, char* buf) override;
    int GetFieldIndex(const char* name) override;
    int GetVarByName(char* buf, const char* name, int row) override;
    // Returns the column's width (bytes copied), -1 bad column, -2 row outside 1 ... rows.
    int GetVar(char* buf, int col, int row) override;
    // Clears the local result and leaves the pool; the pool's result (once; later calls return 0).
    int Close() override;

    // Used by the back ends' ExecToLocal.
    void ClearResult();
    // Replaces this result with from's, leaving from empty.
    void TakeResult(TagLocalData& from);
    void SetRows(int32_t n) { rows = n < 0 ? 0 : n; }
    // Allocates rows x record size zero-filled bytes when no block exists and the size is above 0; null when a
    // block exists, the size is 0, the block would exceed kMaxRecordBytes or the allocation fails (logged).
    char* AllocRecords();
    // Start of the cell of row (0-based) and col, its width in *width; null without a block or out of range.
    char* CellAddress(int32_t row, int32_t col, int32_t* width);
    // Copies at most the cell's width of text into the cell, never splitting a double-byte character.
    // Bytes copied, or -1 when there is no such cell.
    int PutCell(int32_t row, int32_t col, std::string_view text);
    // Bytes of the record block (rows x record size, computed in 64 bits).
    int64_t RecordBytes() const { return int64_t(rows) * fields.RecordSize(); }
    char* Records() { return records.get(); }
    int32_t ConnIndex() const { return connIndex; }

    TagFields fields;

private:
    TagDbConnectionsCtrl* pool;
    int32_t connIndex = -1;
    int32_t rows = 0;
    std::unique_ptr<char[]> records;
    bool joined = false; // still counted in the pool's connection
};

} // namespace zz
