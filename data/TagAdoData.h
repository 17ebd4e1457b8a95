#pragma once
// DbOpen type 4: a database named by a connection string (on Linux an ODBC connection string). Plain SQL runs
// as a query or an execute, anything else as a stored-procedure call; a lost connection is re-opened and a
// deadlock retried once. All objects share the log "log\sqlapp.log".
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/OdbcLink.h"
#include "data/TagDataSet.h"

namespace zz {

class TagAdoData : public TagDataSet {
public:
    // logLabel null: no log hold (the builtins and the pool always pass one, possibly empty).
    TagAdoData(const char* connString, const char* logLabel);
    ~TagAdoData() override;

    int ExecToLocal(char* sql, TagLocalData* dst) override;
    // 0 for a query or a procedure call, the affected rows for an execute; -3 failed with a message, -4 without.
    int Exec(char* sql) override;
    int GetRows() override;
    int GetCols() override;
    int GetFieldName(int col, char* buf) override;
    int GetFieldIndex(const char* name) override;
    int GetVarByName(char* buf, const char* name, int row) override;
    // col, or -1 (not usable, bad column), -2 (row outside the result).
    int GetVar(char* buf, int col, int row) override;
    int Close() override;

    // Creates the components and connects. 0, -1 (failed with a message), -2.
    int Open();

    enum class Kind { Query, Execute, Proc };
    // How Exec runs a (trimmed) statement, by its first seven characters.
    static Kind Classify(const char* sql);
    // Procedure name and text arguments of a call statement.
    static void SplitProc(const std::string& sql, std::string& name, std::vector<std::string>& args);

private:
    // One attempt at running the statement on the link (connecting first when needed).
    bool RunOnce(Kind kind, const std::string& text, int& result, OdbcError& err);
    // Runs fn on the link within ms where the line can give it up (DbCallBound.h); a link given up is let go.
    bool Bounded(const char* what, int64_t ms, std::function<bool(OdbcLink&, OdbcError&)> fn, OdbcError& err);
    const OdbcResult* Active() const;
    bool Usable() const;
    std::string CellText(const OdbcResult& r, size_t row, size_t col, bool exactTrue) const;
    int64_t LocalWidth(const OdbcColumn& c) const;

    // The components: present between Open and Close; shared with a call running on them, which keeps a link
    // given up alive until its driver returns.
    std::shared_ptr<OdbcLink> link;
    OdbcResult query;
    OdbcResult storedProc;
    bool hasResult = false;
    bool isProc = false;
    int32_t currentRow = 0;
    bool lastOk = false;
    std::string connString;
    bool logHeld = false;
    std::string openError; // message of the last failed Open
};

// The shared statement log "log\sqlapp.log": "[time] text" lines, written only while some object holds it.
void AdoLog(const std::string& text);

} // namespace zz
