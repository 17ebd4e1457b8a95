#include "data/OdbcLink.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "data/DbCallBound.h"
#include "platform/Gbk.h"
#include "platform/LazyLibrary.h"

namespace zz {

namespace {

// unixODBC's driver manager is opened with the first connection: a platform that uses no ODBC source never
// loads it.
#define ZZ_ODBC_FUNCTIONS(X)                                                                                           \
    X(SQLAllocHandle)                                                                                                  \
    X(SQLBindParameter)                                                                                                \
    X(SQLCancel)                                                                                                       \
    X(SQLColAttribute)                                                                                                 \
    X(SQLDescribeCol)                                                                                                  \
    X(SQLDisconnect)                                                                                                   \
    X(SQLDriverConnect)                                                                                                \
    X(SQLExecDirect)                                                                                                   \
    X(SQLFetch)                                                                                                        \
    X(SQLFreeHandle)                                                                                                   \
    X(SQLGetData)                                                                                                      \
    X(SQLGetDiagRec)                                                                                                   \
    X(SQLGetInfo)                                                                                                      \
    X(SQLNumResultCols)                                                                                                \
    X(SQLRowCount)                                                                                                     \
    X(SQLSetConnectAttr)                                                                                               \
    X(SQLSetStmtAttr)                                                                                                  \
    X(SQLSetEnvAttr)
struct OdbcApi {
    ZZ_ODBC_FUNCTIONS(ZZ_LAZY_FIELD)
};
OdbcApi g_odbc;
LazyLibrary g_odbcLib("libodbc.so.2");

SQLHENV g_env = SQL_NULL_HENV;

// Null when the driver manager or its environment is not available.
SQLHENV Env() {
    const bool ready = g_odbcLib.Ready([](LazyLibrary& lib) {
        OdbcApi& api = g_odbc;
        if (!(true ZZ_ODBC_FUNCTIONS(ZZ_LAZY_BIND))) return false;
        if (g_odbc.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &g_env) != SQL_SUCCESS) {
            g_env = SQL_NULL_HENV;
            return false;
        }
        g_odbc.SQLSetEnvAttr(g_env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        return true;
    });
    return ready ? g_env : SQL_NULL_HENV;
}

bool Ok(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The value of key in an ODBC connection string ("k=v;k2={v;2}"), case-insensitive; false when absent.
bool ConnValue(const std::string& conn, const std::string& key, std::string& value) {
    size_t i = 0;
    while (i < conn.size()) {
        size_t eq = conn.find('=', i);
        if (eq == std::string::npos) return false;
        std::string k = conn.substr(i, eq - i);
        while (!k.empty() && (k.front() == ' ' || k.front() == ';'))
            k.erase(0, 1);
        while (!k.empty() && k.back() == ' ')
            k.pop_back();
        size_t j = eq + 1;
        std::string v;
        if (j < conn.size() && conn[j] == '{') {
            size_t close = conn.find('}', j);
            if (close == std::string::npos) close = conn.size();
            v = conn.substr(j + 1, close - j - 1);
            j = conn.find(';', close);
        } else {
            size_t semi = conn.find(';', j);
            v = conn.substr(j, semi == std::string::npos ? std::string::npos : semi - j);
            j = semi;
        }
        if (Lower(k) == Lower(key)) {
            value = v;
            return true;
        }
        if (j == std::string::npos) return false;
        i = j + 1;
    }
    return false;
}

void Diag(SQLSMALLINT type, SQLHANDLE h, OdbcError& err, bool utf8) {
    err.state.clear();
    err.message.clear();
    for (SQLSMALLINT rec = 1; rec <= 8; rec++) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR msg[1024] = {};
        SQLSMALLINT len = 0;
        SQLRETURN rc = g_odbc.SQLGetDiagRec(type, h, rec, state, &native, msg, SQLSMALLINT(sizeof msg), &len);
        if (!Ok(rc)) break;
        if (err.state.empty()) err.state = (const char*)state;
        std::string text((const char*)msg, strnlen((const char*)msg, sizeof msg));
        if (utf8) text = Utf8ToGbk(text);
        if (!err.message.empty()) err.message += "; ";
        err.message += text;
    }
}

// Whether text holds word starting at a character boundary (an ASCII byte right after a lead byte is a trail
// byte, not a letter). Letter case counts.
bool HoldsWord(const std::string& text, std::string_view word) {
    for (size_t i = 0; i + word.size() <= text.size(); i += GbkCharLen(text, i))
        if (text.compare(i, word.size(), word) == 0) return true;
    return false;
}

struct Stmt {
    SQLHSTMT h = SQL_NULL_HSTMT;
    ~Stmt() {
        if (h) g_odbc.SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
};

// The driver's own time-outs stay behind the line's bounds: they end the calls a line gave up.
constexpr int32_t kDriverSpareSeconds = 5;
SQLPOINTER DriverSeconds(int64_t boundMs) {
    return (SQLPOINTER)(intptr_t)(BoundSeconds(boundMs) + kDriverSpareSeconds);
}

} // namespace

// The driver's text is matched as ADO's messages were ("Connect", "Lock", with their capitals): a lower-case
// search takes ordinary failures ("no such table: connections") for lost sessions and resets them.
bool OdbcError::IsLostConnection() const {
    if (state.size() >= 2 && state.compare(0, 2, "08") == 0) return true;
    return HoldsWord(message, "连接失败") || HoldsWord(message, "Connect");
}

bool OdbcError::IsDeadlock() const {
    return state == "40001" || HoldsWord(message, "死锁") || HoldsWord(message, "Lock");
}

std::string WithGbkCharset(const std::string& connString) {
    std::string v;
    if (ConnValue(connString, "CHARSET", v)) return connString;
    std::string s = connString;
    while (!s.empty() && (s.back() == ' ' || s.back() == ';'))
        s.pop_back();
    if (!s.empty()) s += ';';
    return s + "CHARSET=gbk";
}

OdbcLink::~OdbcLink() {
    Disconnect();
}

OdbcLink::Running::Running(OdbcLink& link, void* stmt) : link_(link) {
    g_odbc.SQLSetStmtAttr((SQLHSTMT)stmt, SQL_ATTR_QUERY_TIMEOUT, DriverSeconds(GetDbBounds().queryMs), 0);
    std::lock_guard<std::mutex> lk(link_.runningLock_);
    link_.running_ = stmt;
}

OdbcLink::Running::~Running() {
    std::lock_guard<std::mutex> lk(link_.runningLock_);
    link_.running_ = nullptr;
}

void OdbcLink::Cancel() {
    std::lock_guard<std::mutex> lk(runningLock_);
    if (running_) g_odbc.SQLCancel((SQLHSTMT)running_);
}

std::string OdbcServerLabel(const std::string& connString) {
    std::string v;
    for (const char* key : {"DSN", "SERVER", "DATABASE", "DRIVER"})
        if (ConnValue(connString, key, v) && !v.empty()) return std::string(key) + "=" + v;
    return "(connection string)";
}

std::string OdbcLink::ToEdge(const std::string& gbk) const {
    return utf8Edge_ ? GbkToUtf8(gbk) : gbk;
}
std::string OdbcLink::FromEdge(const std::string& edge) const {
    return utf8Edge_ ? Utf8ToGbk(edge) : edge;
}

bool OdbcLink::Connect(const std::string& connString, OdbcError& err) {
    Disconnect();
    err = OdbcError();
    SQLHENV env = Env();
    if (!env) {
        err.message = g_odbcLib.Error().empty() ? "ODBC environment not available"
                                                : "ODBC driver manager not available: " + g_odbcLib.Error();
        return false;
    }
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!Ok(g_odbc.SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        err.message = "ODBC connection handle not available";
        return false;
    }
    DbBounds bounds = GetDbBounds();
    g_odbc.SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, DriverSeconds(bounds.connectMs), 0);
    g_odbc.SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, DriverSeconds(bounds.queryMs), 0);
    std::string conn = WithGbkCharset(connString);
    std::string charset;
    ConnValue(conn, "CHARSET", charset);
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = g_odbc.SQLDriverConnect(dbc, nullptr, (SQLCHAR*)conn.c_str(), SQL_NTS, out, SQLSMALLINT(sizeof out),
                                           &outLen, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
        Diag(SQL_HANDLE_DBC, dbc, err, true);
        if (err.message.empty()) err.message = "ODBC connect failed";
        // A connection that cannot be made is of the connection class whatever the driver says (MariaDB's
        // driver says HY000), so that a statement that meets it reconnects.
        if (err.state.compare(0, 2, "08") != 0) err.state = "08001";
        g_odbc.SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        return false;
    }
    // MariaDB's and MySQL's drivers honour CHARSET and then speak GBK; the others speak UTF-8.
    SQLCHAR driver[256] = {};
    SQLSMALLINT dlen = 0;
    g_odbc.SQLGetInfo(dbc, SQL_DRIVER_NAME, driver, SQLSMALLINT(sizeof driver), &dlen);
    std::string dname = Lower((const char*)driver);
    bool mysqlFamily = dname.find("maodbc") != std::string::npos || dname.find("myodbc") != std::string::npos;
    std::string cs = Lower(charset);
    utf8Edge_ = !(mysqlFamily && (cs.rfind("gbk", 0) == 0 || cs.rfind("gb2312", 0) == 0));
    dbc_ = dbc;
    return true;
}

void OdbcLink::Disconnect() {
    if (!dbc_) return;
    g_odbc.SQLDisconnect((SQLHDBC)dbc_);
    g_odbc.SQLFreeHandle(SQL_HANDLE_DBC, (SQLHDBC)dbc_);
    dbc_ = nullptr;
}

bool OdbcLink::Fetch(void* stmtHandle, OdbcResult& res, OdbcError& err) {
    SQLHSTMT st = (SQLHSTMT)stmtHandle;
    SQLSMALLINT ncols = 0;
    if (!Ok(g_odbc.SQLNumResultCols(st, &ncols))) {
        Diag(SQL_HANDLE_STMT, st, err, utf8Edge_);
        return false;
    }
    for (SQLSMALLINT c = 1; c <= ncols; c++) {
        SQLCHAR name[512] = {};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!Ok(g_odbc.SQLDescribeCol(st, SQLUSMALLINT(c), name, SQLSMALLINT(sizeof name), &nameLen, &type, &size,
                                      &digits, &nullable))) {
            Diag(SQL_HANDLE_STMT, st, err, utf8Edge_);
            return false;
        }
        SQLLEN display = 0;
        g_odbc.SQLColAttribute(st, SQLUSMALLINT(c), SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display);
        OdbcColumn col;
        col.name = FromEdge(std::string((const char*)name, strnlen((const char*)name, sizeof name)));
        col.sqlType = type;
        col.columnSize = size > SQLULEN(INT64_MAX) ? INT64_MAX : int64_t(size);
        col.displaySize = display < 0 ? 0 : int64_t(display);
        res.columns.push_back(std::move(col));
    }
    std::vector<char> buf(8192);
    for (;;) {
        SQLRETURN rc = g_odbc.SQLFetch(st);
        if (rc == SQL_NO_DATA) break;
        if (!Ok(rc)) {
            Diag(SQL_HANDLE_STMT, st, err, utf8Edge_);
            return false;
        }
        std::vector<OdbcCell> row{size_t(ncols)};
        for (SQLSMALLINT c = 1; c <= ncols; c++) {
            OdbcCell& cell = row[size_t(c - 1)];
            std::string value;
            // Long values come in pieces; every piece is kept.
            for (;;) {
                SQLLEN ind = 0;
                rc = g_odbc.SQLGetData(st, SQLUSMALLINT(c), SQL_C_CHAR, buf.data(), SQLLEN(buf.size()), &ind);
                if (rc == SQL_NO_DATA) break;
                if (!Ok(rc)) {
                    Diag(SQL_HANDLE_STMT, st, err, utf8Edge_);
                    return false;
                }
                if (ind == SQL_NULL_DATA) break;
                cell.isNull = false;
                size_t got =
                    (ind == SQL_NO_TOTAL || ind < 0 || size_t(ind) >= buf.size()) ? buf.size() - 1 : size_t(ind);
                value.append(buf.data(), got);
                if (rc == SQL_SUCCESS) break;
                if (ind != SQL_NO_TOTAL && ind >= 0 && size_t(ind) < buf.size()) break;
            }
            if (!cell.isNull) cell.text = FromEdge(value);
        }
        res.rows.push_back(std::move(row));
    }
    return true;
}

bool OdbcLink::Run(const std::string& sql, OdbcResult& res, int64_t* affected, OdbcError& err) {
    res.Clear();
    err = OdbcError();
    if (affected) *affected = 0;
    if (!dbc_) {
        err.state = "08003";
        err.message = "Connection not open";
        return false;
    }
    Stmt st;
    if (!Ok(g_odbc.SQLAllocHandle(SQL_HANDLE_STMT, (SQLHDBC)dbc_, &st.h))) {
        Diag(SQL_HANDLE_DBC, (SQLHDBC)dbc_, err, utf8Edge_);
        return false;
    }
    Running running(*this, st.h); // before st goes: a cancel never meets a freed statement
    std::string text = ToEdge(sql);
    SQLRETURN rc = g_odbc.SQLExecDirect(st.h, (SQLCHAR*)text.data(), SQLINTEGER(text.size()));
    if (rc == SQL_NO_DATA) return true; // a searched update or delete that touched nothing
    if (!Ok(rc)) {
        Diag(SQL_HANDLE_STMT, st.h, err, utf8Edge_);
        return false;
    }
    SQLSMALLINT ncols = 0;
    g_odbc.SQLNumResultCols(st.h, &ncols);
    if (ncols > 0) return Fetch(st.h, res, err);
    SQLLEN n = 0;
    if (affected && Ok(g_odbc.SQLRowCount(st.h, &n)) && n > 0) *affected = n;
    return true;
}

bool OdbcLink::Call(const std::string& proc, const std::vector<std::string>& args, OdbcResult& res, OdbcError& err) {
    res.Clear();
    err = OdbcError();
    if (!dbc_) {
        err.state = "08003";
        err.message = "Connection not open";
        return false;
    }
    Stmt st;
    if (!Ok(g_odbc.SQLAllocHandle(SQL_HANDLE_STMT, (SQLHDBC)dbc_, &st.h))) {
        Diag(SQL_HANDLE_DBC, (SQLHDBC)dbc_, err, utf8Edge_);
        return false;
    }
    Running running(*this, st.h); // before st goes: a cancel never meets a freed statement
    std::string text = "{call " + ToEdge(proc) + "(";
    for (size_t i = 0; i < args.size(); i++)
        text += i ? ",?" : "?";
    text += ")}";
    std::vector<std::string> values;
    std::vector<SQLLEN> lens(args.size());
    values.reserve(args.size());
    for (const auto& a : args)
        values.push_back(ToEdge(a));
    for (size_t i = 0; i < values.size(); i++) {
        lens[i] = SQLLEN(values[i].size());
        SQLULEN colSize = values[i].empty() ? 1 : values[i].size();
        if (!Ok(g_odbc.SQLBindParameter(st.h, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, colSize, 0,
                                        values[i].data(), lens[i], &lens[i]))) {
            Diag(SQL_HANDLE_STMT, st.h, err, utf8Edge_);
            return false;
        }
    }
    SQLRETURN rc = g_odbc.SQLExecDirect(st.h, (SQLCHAR*)text.data(), SQLINTEGER(text.size()));
    if (rc == SQL_NO_DATA) return true;
    if (!Ok(rc)) {
        Diag(SQL_HANDLE_STMT, st.h, err, utf8Edge_);
        return false;
    }
    SQLSMALLINT ncols = 0;
    g_odbc.SQLNumResultCols(st.h, &ncols);
    return ncols > 0 ? Fetch(st.h, res, err) : true;
}

} // namespace zz
