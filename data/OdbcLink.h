#pragma once
// A small ODBC client (unixODBC) standing in for the ADO components: one connection, statements run directly,
// whole results fetched into memory. Text crosses as GBK: drivers that speak UTF-8 are converted at this edge,
// MariaDB's driver is asked for GBK.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

struct OdbcColumn {
    std::string name;       // GBK
    int16_t sqlType = 0;    // SQL_* data type
    int64_t columnSize = 0; // declared size (characters for text types)
    int64_t displaySize = 0;
};

struct OdbcCell {
    std::string text; // GBK
    bool isNull = true;
};

struct OdbcResult {
    std::vector<OdbcColumn> columns;
    std::vector<std::vector<OdbcCell>> rows;
    void Clear() {
        columns.clear();
        rows.clear();
    }
};

struct OdbcError {
    std::string state;   // first SQLSTATE ("08S01"), empty when the failure carried none
    std::string message; // GBK, empty when the driver gave no text
    bool IsLostConnection() const;
    bool IsDeadlock() const;
};

class OdbcLink {
public:
    OdbcLink() = default;
    ~OdbcLink();
    OdbcLink(const OdbcLink&) = delete;
    OdbcLink& operator=(const OdbcLink&) = delete;

    // Connects with an ODBC connection string (GBK). False with err filled on failure.
    bool Connect(const std::string& connString, OdbcError& err);
    void Disconnect();
    bool Connected() const { return dbc_ != nullptr; }

    // Runs sql; when it produces a result set, fetches it whole into res (else res is empty and *affected
    // holds the driver's row count). False with err on failure.
    bool Run(const std::string& sql, OdbcResult& res, int64_t* affected, OdbcError& err);
    // Calls a procedure with input parameters given as text.
    bool Call(const std::string& proc, const std::vector<std::string>& args, OdbcResult& res, OdbcError& err);

    bool Utf8Edge() const { return utf8Edge_; }
    // From another thread: asks the driver to end the statement running now (SQLCancel); nothing without one.
    void Cancel();

private:
    // The statement running now, for Cancel, while it lives.
    class Running {
    public:
        Running(OdbcLink& link, void* stmt);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        OdbcLink& link_;
    };

    std::string ToEdge(const std::string& gbk) const;
    std::string FromEdge(const std::string& edge) const;
    bool Fetch(void* stmt, OdbcResult& res, OdbcError& err);

    void* dbc_ = nullptr;
    bool utf8Edge_ = true;
    std::mutex runningLock_;
    void* running_ = nullptr; // under runningLock_
};

// The part of a connection string the run log names the server by (DSN, SERVER, DATABASE or DRIVER), never the
// password.
std::string OdbcServerLabel(const std::string& connString);

// Adds CHARSET=gbk to a connection string that names no character set (drivers that do not know the key
// ignore it).
std::string WithGbkCharset(const std::string& connString);

} // namespace zz
