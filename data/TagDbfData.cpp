#include "data/TagDbfData.h"

#include <string>

#include "platform/PathMap.h"

namespace zz {

TagDbfData::TagDbfData(const char* fileName) {
    std::string name = fileName ? fileName : "";
    status = Exec(name.data());
}

TagDbfData::~TagDbfData() {
    Close();
}

int TagDbfData::Exec(char* sql) {
    Close();
    table = std::make_unique<TagDbf>(ResolvePath(sql ? sql : ""));
    status = table->Status();
    return status;
}

int TagDbfData::Close() {
    table.reset();
    return 0;
}

int TagDbfData::GetRows() {
    if (!Usable()) return -1;
    int rc = table->ReadHeader();
    if (rc < 0) return rc;
    uint32_t n = table->RecordCount();
    return n > uint32_t(INT32_MAX) ? INT32_MAX : int(n);
}

int TagDbfData::GetCols() {
    return Usable() ? table->FieldCount() : -1;
}

int TagDbfData::GetFieldName(int col, char* buf) {
    buf[0] = '\0';
    if (!Usable() || col < 0 || col >= table->FieldCount()) return -1;
    CopyDbValue(buf, table->GetField(col).name);
    return col;
}

int TagDbfData::GetFieldIndex(const char* name) {
    if (!Usable()) return -1;
    return table->FindField(name ? name : "", false);
}

int TagDbfData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    if (!Usable() || col < 0 || col >= table->FieldCount()) return -1;
    if (table->ReadRecord(row) != row) return -2;
    CopyDbValue(buf, table->FieldValue(col));
    return col;
}

int TagDbfData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    if (!Usable()) return -1;
    if (table->ReadRecord(row) != row) return -2;
    int col = table->FindField(name ? name : "", true);
    if (col < 0) return -1;
    CopyDbValue(buf, table->FieldValue(col));
    return col;
}

int TagDbfData::SetVarByName(const char* value, const char* name, int row) {
    if (!Usable()) return -1;
    if (row != -1) {
        if (table->ReadHeader() < 0) return -2;
        if (row < 1 || int64_t(row) > int64_t(table->RecordCount())) return -2;
        if (table->ReadRecord(row) != row) return -2;
    }
    if (table->PutValue(name ? name : "", value ? value : "") < 0) return -1;
    return table->WriteRecord(row);
}

int TagDbfData::SetVar(const char* value, int col, int row) {
    if (!Usable() || col < 0 || col >= table->FieldCount()) return -1;
    return SetVarByName(value, table->GetField(col).name.c_str(), row);
}

} // namespace zz
