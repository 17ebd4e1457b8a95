#pragma once
// MySQL back end (DbOpen type 5): one connection of the MySQL client library, loaded at run time, with its
// stored result, an optional statement log "<logName>.log" and reconnection to the first selected database when
// the server is lost.
#include <cstdint>
#include <string>

#include "data/BackEndLog.h"
#include "data/TagDataSet.h"

struct st_mysql;
struct st_mysql_res;

namespace zz {

// Loads the client library once, before any line runs, and initialises it. 0 loaded, -1 the file failed to
// load, -2 it lacks mysql_init (or cannot be initialised). Raw-log lines tell which.
int LoadMySqlLibrary();
// Instead of loading it now: the first data set of the back end loads it (a tool that may never open a
// database starts without the library's cost).
void LoadMySqlLibraryOnDemand();
// Unloads it (after every MySQL data set is gone).
void FreeMySqlLibrary();
bool MySqlLibraryLoaded();
// File to load instead of the default "libmariadb.so.3" (empty: the environment variable ZZ_MYSQL_LIBRARY, else
// the default). Takes effect at the next LoadMySqlLibrary.
void SetMySqlLibraryPath(const std::string& path);

// Cuts a string in place at its first carriage return or line feed.
void CutAtLineEnd(char* s);

class TagMySqlData : public TagDataSet {
public:
    TagMySqlData(const char* host, const char* user, const char* password, const char* logName);
    ~TagMySqlData() override;

    int ExecToLocal(char* sql, TagLocalData* dst) override;
    // 0 after success (rows come from GetRows), or a negative code.
    int Exec(char* sql) override;
    int GetRows() override;
    int GetCols() override;
    int GetFieldName(int col, char* buf) override;
    // -2 when no field has the name, -1 without a usable result.
    int GetFieldIndex(const char* name) override;
    int GetVarByName(char* buf, const char* name, int row) override;
    // col on success; -1 no usable result, row or column out of range; -2 the row cannot be read.
    int GetVar(char* buf, int col, int row) override;
    int Close() override;

    const std::string& UseStmt() const { return useStmt; }
    const std::string& SetStmt() const { return setStmt; }

private:
    int Open(const char* database);
    int ReOpen();
    void WriteLog(const char* text);
    int RunOnce(const char* sql, bool* lost);
    void FreeResult();
    bool UsableResult() const { return result && hasResult; }
    // The 0-based row's values and lengths, fetched or reused; false when it cannot be read.
    bool SeekRow(int64_t row);

    st_mysql* mysql = nullptr;
    st_mysql_res* result = nullptr;
    bool hasResult = false;
    BackEndLog logFile;
    std::string useStmt;
    std::string setStmt;
    std::string host, user, password;
    // The row last fetched from result, so that reading a row cell by cell or rows in order needs no seek.
    int64_t curRow = -1;
    char** curValues = nullptr;
    unsigned long* curLengths = nullptr;
};

} // namespace zz
