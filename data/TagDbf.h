#pragma once
// One dBase III table file, read and written in place by record number. Values are the fields' raw bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileHandle.h"

namespace zz {

class TagDbf {
public:
    static constexpr int kMaxValueLen = 1000;

    struct Field {
        std::string name; // at most 10 characters
        char type = 'C';
        int32_t offset = 0; // within the record; the deletion flag is byte 0
        int32_t length = 0;
        int32_t decimals = 0;
    };

    // Opens an existing table; status 0, -5 (missing, unreadable, short header) or -7 (unsupported version,
    // damaged descriptors).
    explicit TagDbf(const std::string& path);
    ~TagDbf();
    TagDbf(const TagDbf&) = delete;
    TagDbf& operator=(const TagDbf&) = delete;

    int Status() const { return status; }
    int FieldCount() const { return int(fields.size()); }
    const Field& GetField(int i) const { return fields[size_t(i)]; }
    // First field of that name: exact, or without regard to letter case. -1 when none.
    int FindField(std::string_view name, bool exact) const;

    // Re-reads the record count from the file: 0, -1 (cannot position), -2 (short or changed header).
    int ReadHeader();
    uint32_t RecordCount() const;
    // Reads record r (1-based) into the record buffer, zero bytes turned into blanks. r, or -1, -2, -4.
    int ReadRecord(int64_t r);
    // The field's bytes in the record buffer (its full length).
    std::string_view FieldValue(int i) const;
    // Right-aligns value in the named field of the record buffer. 0, or -1 (no such field, value too long).
    int PutValue(std::string_view name, std::string_view value);
    // Writes the record buffer as record r, or appends it for r = -1. The row written or the new record count,
    // or -1 (cannot position), -2 (short header), -3 (short write), -4 (row outside the table).
    int WriteRecord(int64_t r);

private:
    int Load();
    int WriteLocked(int64_t r);

    FileHandle file;
    int fd = -1; // the file's descriptor while it is open
    int status = -5;
    std::string path;
    unsigned char header[32] = {};
    uint16_t headerLen = 0;
    uint16_t recordLen = 0;
    std::vector<Field> fields;
    std::vector<char> record; // recordLen + 1 bytes
};

} // namespace zz
