#pragma once
// The data source behind a script database handle: one open source and its current result. Every value crosses
// as NUL-terminated GBK text in a caller buffer of kDbValueSize bytes; rows count from 1, columns from 0;
// failures are negative return codes, never exceptions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zz {

class TagLocalData;

// Size of every value buffer handed to a read (at most kDbValueSize - 1 characters and the terminator).
constexpr size_t kDbValueSize = 4096;

// DbOpen type codes.
enum : int32_t {
    kDbTypeDbf = 0,
    kDbTypeSyb = 1,
    kDbTypeAdo = 4,
    kDbTypeMySql = 5,
    kDbTypeTqr = 7,
};

class TagDataSet {
public:
    int32_t status = 0;    // 0 open; negative: the back end's failure code from construction
    int32_t dbType = 0;    // written by DbOpen after a successful open
    int32_t debugMode = 0; // 0 quiet, 1 log statements and failures, 2 keep the last failure in lastError only
    std::string lastError;
    // Pool bookkeeping, read and written only under the owning connection's lock.
    bool busy = false;    // lent to a thread that is running a statement on it
    bool useDone = false; // a "use " statement has been run on it by the pool
    std::string logName;

    TagDataSet() = default;
    virtual ~TagDataSet() = default;
    TagDataSet(const TagDataSet&) = delete;
    TagDataSet& operator=(const TagDataSet&) = delete;

    // Runs sql and leaves the whole result in dst (emptied first). Row count or a negative code.
    virtual int ExecToLocal(char* sql, TagLocalData* dst);
    // One statement (for dBase: the table file name). sql is writable and may be changed in place.
    virtual int Exec(char* sql) = 0;
    virtual int GetRows() = 0;
    virtual int GetCols() = 0;
    // buf: kDbValueSize bytes. Returns col, or negative.
    virtual int GetFieldName(int col, char* buf) = 0;
    virtual int GetFieldIndex(const char* name) = 0;
    virtual int GetVarByName(char* buf, const char* name, int row) = 0;
    virtual int GetVar(char* buf, int col, int row) = 0;
    // Only the dBase back end writes; the others return 0 and change nothing.
    virtual int SetVarByName(const char* value, const char* name, int row);
    virtual int SetVar(const char* value, int col, int row);
    // Releases the result and the handles. 0, or the pool's result for a pooled handle.
    virtual int Close() = 0;
    virtual void SetDebug(int mode) { debugMode = mode; }
};

// Copies text into a kDbValueSize buffer: at most kDbValueSize - 1 bytes, never splitting a double-byte
// character, always terminated. Returns the bytes copied.
size_t CopyDbValue(char* buf, std::string_view text);

} // namespace zz
