#pragma once
// DB-Library back end (DbOpen type 1): SQL Server through FreeTDS's DB-Library (libsybdb.so.5), loaded at run
// time. TagSyb is one connection with its current result, fetched whole into fixed-width text rows; TagSybData
// adapts it to the data-set operations. All connections share one log, "<first appName>.log".
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/TagDataSet.h"

struct tds_dblib_dbprocess;
struct tds_dblib_loginrec;

namespace zz {

// Loads the library once, before any line runs. 0 loaded, -1 the file failed to load, -2 it lacks dbinit,
// -3 dbinit failed.
int LoadDbLibrary();
// Instead of loading it now: the first data set of the back end loads it (a tool that may never open a
// database starts without the library's cost).
void LoadDbLibraryOnDemand();
void FreeDbLibrary();
bool DbLibraryLoaded();
// File to load instead of "libsybdb.so.5" (empty: the environment variable ZZ_SYBDB_LIBRARY, else the default).
void SetDbLibraryPath(const std::string& path);

// The bytes a column of this DB-Library type takes in a fetched row (at most TagSyb::kBindLen).
int32_t SybColumnWidth(int type, int32_t collen);

struct TagSybColumn {
    char name[56] = "";
    int32_t width = 0;
    int32_t type = 0;
    int32_t offset = 0;
    std::unique_ptr<char[]> bound; // filled by the library for each fetched row
};

struct TagSybResult {
    int32_t cols = 0;
    int32_t rows = 0;
    int32_t rowWidth = 0;
    std::vector<TagSybColumn> columns;
    std::vector<char> rowBuf;
    std::vector<char> block; // rows x rowWidth bytes, in fetch order
};

class TagSyb {
public:
    static constexpr int32_t kBindLen = 2048;

    TagSyb(const char* server, const char* user, const char* password, const char* appName);
    ~TagSyb();
    TagSyb(const TagSyb&) = delete;
    TagSyb& operator=(const TagSyb&) = delete;

    // 1 alive, 2 reopened, 0 the reopen failed.
    int ReConnect();
    // 1 sent; -1 not sent; -2 not sent again after a reopen; -100 no connection.
    int Query(const char* sql);
    int FetchRows(TagSybResult& r);
    // Rows of the last result set; -1 not sent, -2 its results failed.
    int Exec(const char* sql);
    // Rows counted from 0. 1, or 0 with the empty string.
    int GetVar(char* buf, int col, int row);
    int GetVarByName(char* buf, const char* name, int row);
    void FreeResult(TagSybResult& r);

    tds_dblib_dbprocess* dbproc = nullptr;
    std::string useStmt;
    int32_t status = 0; // 0 connected, -1 dbopen failed, -2 the library is not loaded
    int32_t traceFlag = 0;
    TagSybResult result;
    tds_dblib_loginrec* login = nullptr;
    char server[64] = "";
};

class TagSybData : public TagDataSet {
public:
    TagSybData(const char* server, const char* user, const char* password, const char* appName);
    ~TagSybData() override;

    int ExecToLocal(char* sql, TagLocalData* dst) override;
    int Exec(char* sql) override;
    int GetRows() override;
    int GetCols() override;
    int GetFieldName(int col, char* buf) override;
    int GetFieldIndex(const char* name) override;
    // 1 found; 0 with the empty string otherwise.
    int GetVarByName(char* buf, const char* name, int row) override;
    int GetVar(char* buf, int col, int row) override;
    int Close() override;
    // Switches the connection's statement trace; debugMode is not used by this back end.
    void SetDebug(int mode) override;

    TagSyb* Connection() { return connection.get(); }

private:
    bool Connected() const { return connection && connection->status >= 0; }
    // Connects (a TagSyb) within the connect bound; the data set's status.
    int Open();
    // Shared with a statement's call, which keeps a connection given up alive until the library returns.
    std::shared_ptr<TagSyb> connection;
    std::string server, user, password, appName;
    int32_t traceFlag = 0;
    bool reopenNext = false; // a statement given up took the connection with it: the next one connects anew
};

} // namespace zz
