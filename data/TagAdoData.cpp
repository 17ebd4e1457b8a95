#include "data/TagAdoData.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "data/DbCallBound.h"
#include "data/TagLocalData.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/PathMap.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr size_t kMaxMessage = 1499;
constexpr int64_t kMaxLocalWidth = 2048;

std::mutex g_logLock;
FileHandle g_log;
int g_logHolders = 0;

void HoldLog() {
    std::lock_guard<std::mutex> lk(g_logLock);
    if (g_logHolders++ == 0 && !g_log) g_log = FileHandle::Open(MapPath("log\\sqlapp.log").c_str(), "a+");
}

void ReleaseLog() {
    std::lock_guard<std::mutex> lk(g_logLock);
    if (g_logHolders > 0 && --g_logHolders == 0) g_log.Close();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        b++;
    while (e > b && IsBlank(s[e - 1]))
        e--;
    return s.substr(b, e - b);
}

// Splits at sep characters that stand outside single quotes; runs of separators count once when collapse.
std::vector<std::string> SplitOutsideQuotes(const std::string& s, bool (*isSep)(char), bool collapse) {
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false, lastSep = false;
    for (char c : s) {
        if (c == '\'') quoted = !quoted;
        if (!quoted && isSep(c)) {
            if (!(collapse && lastSep)) parts.push_back(cur);
            cur.clear();
            lastSep = true;
            continue;
        }
        lastSep = false;
        cur += c;
    }
    parts.push_back(cur);
    return parts;
}

bool IsComma(char c) {
    return c == ',';
}

// Data sizes of the binary values of the fixed-size types; a cell holds three characters per byte.
int64_t BinarySize(int16_t sqlType) {
    switch (sqlType) {
    case SQL_BIT:
        return 2;
    case SQL_TINYINT:
    case SQL_SMALLINT:
        return 2;
    case SQL_INTEGER:
        return 4;
    case SQL_BIGINT:
        return 8;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return 8;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return 34;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
        return 8;
    default:
        return -1;
    }
}

} // namespace

void AdoLog(const std::string& text) {
    std::lock_guard<std::mutex> lk(g_logLock);
    if (!g_log) return;
    char stamp[32];
    FormatTimeStamp(stamp);
    fprintf(g_log.get(), "[%s] %s\n", stamp, text.c_str());
    fflush(g_log.get());
}

TagAdoData::TagAdoData(const char* conn, const char* logLabel) {
    status = 0;
    lastOk = false;
    connString = conn ? conn : "";
    status = Open();
    if (status < 0) {
        if (!openError.empty()) ShowMessage(openError, "初始化ADO错误...");
        return;
    }
    debugMode = 0;
    if (logLabel) {
        logName = logLabel;
        HoldLog();
        logHeld = true;
        AdoLog("Start.");
    }
    status = 0;
}

TagAdoData::~TagAdoData() {
    Close();
    if (logHeld) {
        AdoLog("End.");
        ReleaseLog();
    }
}

bool TagAdoData::Bounded(const char* what, int64_t ms, std::function<bool(OdbcLink&, OdbcError&)> fn, OdbcError& err) {
    struct Out {
        bool ok = false;
        OdbcError err;
    };
    auto out = std::make_shared<Out>();
    DbCall call;
    call.backEnd = "ODBC";
    call.server = OdbcServerLabel(connString);
    call.what = what;
    call.run = [l = link, out, fn = std::move(fn)] { out->ok = fn(*l, out->err); };
    call.cancel = [l = link] { l->Cancel(); };
    DbCallEnd end = RunDbCall(ms, std::move(call));
    if (end == DbCallEnd::kDone) {
        err = out->err;
        return out->ok;
    }
    link.reset(); // disconnected by the call when its driver returns; the next statement connects anew
    err.state = "HYT00";
    err.message = end == DbCallEnd::kStopped ? "the wait was ended by a quit or reload"
                                             : "no answer within " + std::to_string(ms) + " ms";
    return false;
}

int TagAdoData::Open() {
    link = std::make_shared<OdbcLink>();
    OdbcError err;
    openError.clear();
    bool connected = Bounded(
        "connect", GetDbBounds().connectMs, [cs = connString](OdbcLink& l, OdbcError& e) { return l.Connect(cs, e); },
        err);
    if (connected) return 0;
    if (!err.message.empty()) {
        AdoLog(err.message);
        openError = err.message;
        return -1;
    }
    AdoLog("TagAdoData::Open() Err.");
    return -2;
}

int TagAdoData::Close() {
    link.reset();
    query.Clear();
    storedProc.Clear();
    return 0;
}

TagAdoData::Kind TagAdoData::Classify(const char* sql) {
    char head[8] = {};
    for (int i = 0; i < 7 && sql[i]; i++) {
        char c = sql[i];
        head[i] = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    if (strcmp(head, "SELECT ") == 0) return Kind::Query;
    for (const char* v : {"UPDATE ", "DELETE ", "INSERT ", "CREATE "})
        if (strcmp(head, v) == 0) return Kind::Execute;
    for (const char* v : {"DROP ", "ALTER ", "USE ", "SET "})
        if (strncmp(head, v, strlen(v)) == 0) return Kind::Execute;
    return Kind::Proc;
}

void TagAdoData::SplitProc(const std::string& sql, std::string& name, std::vector<std::string>& args) {
    name.clear();
    args.clear();
    std::vector<std::string> pieces = SplitOutsideQuotes(sql, IsComma, false);
    std::vector<std::string> words = SplitOutsideQuotes(
        pieces[0], [](char c) { return IsBlank(c); }, true);
    size_t next = 1;
    if (words[0] == "exec" || words[0] == "EXEC") {
        name = words.size() > 1 ? words[1] : "";
        next = 2;
    } else {
        name = words[0];
    }
    if (words.size() > next) args.push_back(Trimmed(words[next]));
    for (size_t i = 1; i < pieces.size(); i++)
        args.push_back(Trimmed(pieces[i]));
    for (auto& a : args) {
        if (!a.empty() && a[0] == '\'') a = a.size() >= 2 ? a.substr(1, a.size() - 2) : std::string();
    }
}

bool TagAdoData::RunOnce(Kind kind, const std::string& text, int& result, OdbcError& err) {
    if (!link) link = std::make_shared<OdbcLink>();
    std::string name;
    std::vector<std::string> args;
    if (kind == Kind::Proc) SplitProc(text, name, args);
    // The rows arrive in the call's own result: a call given up may still be filling it.
    auto rows = std::make_shared<OdbcResult>();
    auto affected = std::make_shared<int64_t>(0);
    const bool connecting = !link->Connected();
    DbBounds b = GetDbBounds();
    bool ok = Bounded(
        connecting ? "connect and statement" : "statement", (connecting ? b.connectMs : 0) + b.queryMs,
        [kind, text, name, args, rows, affected, cs = connString](OdbcLink& l, OdbcError& e) {
            if (!l.Connected() && !l.Connect(cs, e)) return false;
            if (kind == Kind::Proc) return l.Call(name, args, *rows, e);
            return l.Run(text, *rows, kind == Kind::Execute ? affected.get() : nullptr, e);
        },
        err);
    if (kind == Kind::Query) {
        isProc = false;
        hasResult = true;
        query = std::move(*rows);
    } else if (kind == Kind::Execute) {
        isProc = false;
        hasResult = false;
        query.Clear();
        if (ok) result = *affected > INT32_MAX ? INT32_MAX : int(*affected);
    } else {
        isProc = true;
        storedProc = std::move(*rows);
        hasResult = ok && !storedProc.columns.empty();
    }
    return ok;
}

int TagAdoData::Exec(char* sql) {
    currentRow = 0;
    // Trim blanks and tabs in place.
    size_t len = strlen(sql), b = 0;
    while (b < len && IsBlank(sql[b]))
        b++;
    while (len > b && IsBlank(sql[len - 1]))
        len--;
    memmove(sql, sql + b, len - b);
    sql[len - b] = '\0';
    std::string text(sql);

    if (debugMode == 1) AdoLog(text);
    if (debugMode == 2) lastError.clear();
    Kind kind = Classify(sql);

    int result = 0;
    for (int attempt = 0; attempt < 2; attempt++) {
        lastOk = true;
        result = 0;
        bool reconnect = false, deadlock = false;
        OdbcError err;
        bool ok = true;
        try {
            ok = RunOnce(kind, text, result, err);
        } catch (const std::exception&) {
            // out of memory on a huge result and the like: a failure without the driver's message
            ok = false;
            err = OdbcError();
            query.Clear();
            storedProc.Clear();
        }
        if (!ok) {
            std::string msg = err.message.substr(0, GbkSafeCut(err.message, kMaxMessage));
            if (!msg.empty() && msg.find("return a result set") != std::string::npos) {
                // a procedure without rows: not a failure
            } else if (!msg.empty()) {
                if (debugMode == 2) {
                    lastError = msg;
                } else {
                    AdoLog(text);
                    AdoLog(msg);
                }
                if (err.IsLostConnection())
                    reconnect = true;
                else if (err.IsDeadlock())
                    deadlock = true;
                result = -3;
                lastOk = false;
            } else {
                if (debugMode == 2) {
                    lastError = "...";
                } else {
                    AdoLog(text);
                    AdoLog("...");
                }
                result = -4;
                lastOk = false;
                break;
            }
        }
        if (reconnect) {
            AdoLog("重连step1...");
            Close();
            Open();
            AdoLog("重连.");
        }
        if (!(reconnect || deadlock)) break;
    }
    if (kind == Kind::Proc && !lastOk) hasResult = false;
    return result;
}

const OdbcResult* TagAdoData::Active() const {
    return isProc ? &storedProc : &query;
}

bool TagAdoData::Usable() const {
    return link && lastOk;
}

std::string TagAdoData::CellText(const OdbcResult& r, size_t row, size_t col, bool exactTrue) const {
    const OdbcCell& cell = r.rows[row][col];
    if (r.columns[col].sqlType != SQL_BIT) return cell.text;
    // Drivers hand bits out as "1"/"0", as words, or (MariaDB's BIT(1)) as the raw byte.
    bool truth = cell.text == "1" || cell.text == std::string(1, '\x01') ||
                 (exactTrue ? cell.text == "True" : GbkEqualNoCase(cell.text, "true"));
    if (DbBitfieldIsDigit()) return truth ? "1" : "0";
    if (cell.isNull) return "";
    return truth ? "True" : "False";
}

int TagAdoData::GetRows() {
    if (isProc && Usable() && hasResult) {
        currentRow = 0;
        return int(storedProc.rows.size());
    }
    if (hasResult && lastOk && link) return int(query.rows.size());
    return 0;
}

int TagAdoData::GetCols() {
    return Usable() ? int(Active()->columns.size()) : 0;
}

int TagAdoData::GetFieldName(int col, char* buf) {
    buf[0] = '\0';
    if (!Usable() || col < 0 || col >= GetCols()) return -1;
    CopyDbValue(buf, Active()->columns[size_t(col)].name);
    return col;
}

int TagAdoData::GetFieldIndex(const char* name) {
    if (!Usable()) return -1;
    const OdbcResult* r = Active();
    for (size_t i = 0; i < r->columns.size(); i++)
        if (GbkEqualNoCase(r->columns[i].name, name ? name : "")) return int(i);
    return -2;
}

int TagAdoData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    return GetVar(buf, GetFieldIndex(name), row);
}

int TagAdoData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    if (!Usable() || col < 0 || col >= GetCols()) return -1;
    const OdbcResult* r = Active();
    if (row < 1 || size_t(row) > r->rows.size()) return -2;
    currentRow = row - 1;
    CopyDbValue(buf, CellText(*r, size_t(row - 1), size_t(col), false));
    return col;
}

int64_t TagAdoData::LocalWidth(const OdbcColumn& c) const {
    int64_t w;
    switch (c.sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        // Sizes count characters; a character takes up to two bytes in GBK.
        w = c.columnSize > 0 ? (c.columnSize > kMaxLocalWidth ? kMaxLocalWidth : c.columnSize * 2) : c.displaySize * 2;
        if (w <= 0) w = kMaxLocalWidth;
        break;
    default: {
        // Three characters a byte of the binary value, or the driver's display size when that is larger (a
        // DATETIME(6) shows 26 characters in 8 bytes).
        int64_t bin = BinarySize(c.sqlType);
        w = std::max(bin >= 0 ? bin * 3 : c.columnSize, c.displaySize);
        if (w <= 0) w = kMaxLocalWidth;
    }
    }
    return w > kMaxLocalWidth ? kMaxLocalWidth : w;
}

int TagAdoData::ExecToLocal(char* sql, TagLocalData* dst) {
    dst->ClearResult();
    SetDebug(dst->debugMode);
    int rc = Exec(sql);
    if (rc < 0) {
        dst->lastError = lastError;
        return rc;
    }
    int rows = GetRows();
    if (rows <= 0) return rows;
    int cols = GetCols();
    if (cols <= 0) return cols;
    const OdbcResult* r = Active();
    dst->SetRows(rows);
    for (int c = 0; c < cols; c++) {
        // A driver may understate a column (SQLite gives its 64-bit integers as 4-byte INTEGER columns of
        // display size 10): the longest value fetched widens it, up to the cap.
        int64_t longest = 0;
        for (const auto& row : r->rows)
            longest = std::max<int64_t>(longest, int64_t(row[size_t(c)].text.size()));
        int64_t width = std::min(std::max(LocalWidth(r->columns[size_t(c)]), longest), kMaxLocalWidth);
        if (dst->fields.AddField(r->columns[size_t(c)].name, width) < 0) {
            dst->ClearResult();
            return -4;
        }
    }
    if (!dst->AllocRecords()) {
        dst->ClearResult();
        return -3;
    }
    for (int row = 0; row < rows; row++)
        for (int c = 0; c < cols; c++)
            dst->PutCell(row, c, CellText(*r, size_t(row), size_t(c), true));
    currentRow = 0;
    return rows;
}

} // namespace zz
