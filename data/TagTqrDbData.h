#pragma once
// Tqr back end (DbOpen type 7): a connection of the company's database library, loaded at run time. Every read
// goes to the library, which keeps the current result and record; the back end keeps an optional statement log
// "<logName>.log" and reconnects when a statement fails in the library.
#include <cstdint>
#include <string>

#include "data/BackEndLog.h"
#include "data/TagDataSet.h"

namespace zz {

// Loads and initialises the library once, before any line runs. 0 loaded, -1 the file failed to load, -2 it
// lacks TqrDbInit, -3 TqrDbInit failed.
int LoadTqrDbLibrary();
// Instead of loading it now: the first data set of the back end loads it (a tool that may never open a
// database starts without the library's cost).
void LoadTqrDbLibraryOnDemand();
void FreeTqrDbLibrary();
bool TqrDbLibraryLoaded();
// File to load instead of "libTqrDbApi.so" (empty: the environment variable ZZ_TQRDB_LIBRARY, else the default).
void SetTqrDbLibraryPath(const std::string& path);
// The loaded library's function of that name (also tried as "_<name>@8"), or null.
void* GetTqrDbProc(const char* name);

class TagTqrDbData : public TagDataSet {
public:
    static constexpr int32_t kDefaultPort = 2013;

    TagTqrDbData(const char* host, int32_t port, const char* user, const char* password, const char* logName);
    ~TagTqrDbData() override;

    // DbOpen's first operand "host[:port]": the host before the first colon, the decimal port after it (2013
    // without a colon).
    static void SplitHostPort(const char* operand, std::string& host, int32_t& port);

    int ExecToLocal(char* sql, TagLocalData* dst) override;
    int Exec(char* sql) override;
    int GetRows() override;
    int GetCols() override;
    int GetFieldName(int col, char* buf) override;
    int GetFieldIndex(const char* name) override;
    int GetVarByName(char* buf, const char* name, int row) override;
    int GetVar(char* buf, int col, int row) override;
    int Close() override;

    int32_t RetCode() const { return retCode; }

private:
    int Open(const char* database);
    int ReOpen();
    void WriteLog(const char* text);
    void Report(const char* sql, const char* msg);

    void* handle = nullptr;
    BackEndLog logFile;
    std::string host;
    int32_t port = kDefaultPort;
    std::string user, password;
    int32_t retCode = 0;
    // A statement given up (no answer in time, or a quit) took the handle with it: the next one connects anew.
    bool reopenNext = false;
};

} // namespace zz
