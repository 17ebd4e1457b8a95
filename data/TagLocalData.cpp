#include "data/TagLocalData.h"

#include <cstring>
#include <new>

#include "data/TagDbConnectionsCtrl.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"

namespace zz {

int TagFields::AddField(std::string_view name, int64_t size) {
    if (size < 0) size = 0;
    if (size > kMaxFieldSize) size = kMaxFieldSize;
    if (int64_t(recordSize) + size > int64_t(INT32_MAX)) return -1;
    TagField f;
    f.name.assign(name);
    f.offset = recordSize;
    f.size = int32_t(size);
    list.push_back(std::move(f));
    recordSize += int32_t(size);
    return 0;
}

void TagFields::Clear() {
    list.clear();
    recordSize = 0;
}

TagLocalData::TagLocalData(TagDbConnectionsCtrl* pool_, int32_t type, const char* a1, const char* a2, const char* a3,
                           const char* a4)
    : pool(pool_) {
    debugMode = 0;
    connIndex = pool ? pool->Open(type, a1, a2, a3, a4) : -1;
    status = connIndex;
    joined = connIndex >= 0;
}

TagLocalData::TagLocalData() : pool(nullptr) {
    debugMode = 0;
}

TagLocalData::~TagLocalData() {
    Close();
}

void TagLocalData::TakeResult(TagLocalData& from) {
    rows = from.rows;
    fields = std::move(from.fields);
    records = std::move(from.records);
    from.ClearResult();
}

void TagLocalData::ClearResult() {
    rows = 0;
    fields.Clear();
    records.reset();
}

char* TagLocalData::AllocRecords() {
    if (records) return nullptr;
    int64_t bytes = RecordBytes();
    if (bytes <= 0) return nullptr;
    if (bytes > kMaxRecordBytes) {
        WriteRunLogF("TagLocalData: result of %lld bytes refused", (long long)bytes);
        return nullptr;
    }
    records.reset(new (std::nothrow) char[size_t(bytes)]);
    if (!records) {
        WriteRunLog(" new err!");
        return nullptr;
    }
    memset(records.get(), 0, size_t(bytes));
    return records.get();
}

char* TagLocalData::CellAddress(int32_t row, int32_t col, int32_t* width) {
    if (!records || row < 0 || row >= rows || col < 0 || col >= fields.Count()) return nullptr;
    const TagField& f = fields[col];
    if (width) *width = f.size;
    return records.get() + int64_t(row) * fields.RecordSize() + f.offset;
}

int TagLocalData::PutCell(int32_t row, int32_t col, std::string_view text) {
    int32_t width = 0;
    char* cell = CellAddress(row, col, &width);
    if (!cell) return -1;
    size_t n = text.size() <= size_t(width) ? text.size() : GbkSafeCut(text, size_t(width));
    if (n) memcpy(cell, text.data(), n);
    return int(n);
}

int TagLocalData::Exec(char* sql) {
    if (!pool || !joined) return -10;
    return pool->Exec(connIndex, sql, this);
}

int TagLocalData::GetFieldName(int col, char* buf) {
    buf[0] = '\0';
    if (col < 0 || col >= GetCols()) return -1;
    CopyDbValue(buf, fields[col].name);
    return col;
}

int TagLocalData::GetFieldIndex(const char* name) {
    for (int32_t i = 0; i < fields.Count(); i++)
        if (GbkEqualNoCase(fields[i].name, name)) return i;
    return -1;
}

int TagLocalData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    int col = GetFieldIndex(name);
    if (col < 0) return -1;
    return GetVar(buf, col, row);
}

int TagLocalData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    if (col < 0 || col >= GetCols()) return -1;
    if (row < 1 || row > rows || !records) return -2;
    int32_t width = 0;
    const char* cell = CellAddress(row - 1, col, &width);
    if (!cell) return -2;
    size_t n = size_t(width) < kDbValueSize ? size_t(width) : kDbValueSize - 1;
    memcpy(buf, cell, n);
    buf[n] = '\0';
    return int(n);
}

int TagLocalData::Close() {
    ClearResult();
    if (!joined || !pool) return 0;
    joined = false;
    return pool->Close(connIndex);
}

} // namespace zz
