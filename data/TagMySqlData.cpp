#include "data/TagMySqlData.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/socket.h>

#include "data/DbCallBound.h"
#include "data/MySqlApi.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/ClientLibrary.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr const char* kDefaultFile = "libmariadb.so.3";
constexpr size_t kMsgSize = 2048;   // "Error: %s" and other formatted log texts
constexpr size_t kDbNameSize = 512; // the database name taken from the kept "USE " statement

ClientLibrary g_lib;
MySqlApi g_api;
bool g_loaded = false;
LoadOnDemand g_onDemand;
std::string g_path;

std::unique_ptr<TagDataSet> MakeMySql(const char* a1, const char* a2, const char* a3, const char* a4) {
    return std::make_unique<TagMySqlData>(a1, a2, a3, a4);
}

bool StartsNoCase(const char* s, const char* head) {
    size_t n = std::strlen(head);
    return std::strlen(s) >= n && GbkEqualNoCase(std::string_view(s, n), head);
}

// The lost-server texts of the client libraries differ in capitals ("MySQL server has gone away", MariaDB's
// "Server has gone away"); a restarted server also shows as a lost connection.
bool IsLostServer(unsigned int err, const char* text) {
    if (err == CR_SERVER_GONE_ERROR || err == CR_SERVER_LOST) return true;
    std::string low = GbkLower(text ? text : "");
    return low.find("server has gone away") != std::string::npos || low.find("lost connection to") != std::string::npos;
}

// Reads and frees the results after the first; false when one of them failed. (A CALL answers with one per
// statement of the procedure and a closing status, and the client refuses the next statement, "Commands out of
// sync", while any is left unread.)
bool ReadLaterResults(MYSQL* m) {
    bool ok = true;
    while (g_api.more_results(m)) {
        int rc = g_api.next_result(m);
        if (rc < 0) break;
        if (rc > 0) {
            ok = false; // the error ends the answer, and its text stays for the log
            break;
        }
        if (MYSQL_RES* res = g_api.store_result(m)) g_api.free_result(res);
    }
    return ok;
}

// The client's own time-outs stay behind the line's bound, so the line gives up first and shuts the socket down
// itself (see Statement); they only end a connect that was given up.
constexpr unsigned kClientSpareSeconds = 5;

// One connect on a thread of its own (DbCallBound.h); the job owns all it touches.
struct ConnectJob {
    std::string host, user, password, database;
    bool hasDatabase = false;
    MYSQL* mysql = nullptr;
    bool ok = false;
    std::string error;

    void Run() {
        mysql = g_api.init(nullptr);
        if (!mysql) {
            error = "out of memory";
            return;
        }
        // Scripts carry GBK text: every connection talks GBK to the server.
        g_api.options(mysql, MYSQL_SET_CHARSET_NAME, "gbk");
        DbBounds b = GetDbBounds();
        unsigned connectS = unsigned(BoundSeconds(b.connectMs)) + kClientSpareSeconds;
        unsigned queryS = unsigned(BoundSeconds(b.queryMs)) + kClientSpareSeconds;
        g_api.options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectS);
        g_api.options(mysql, MYSQL_OPT_READ_TIMEOUT, &queryS);
        g_api.options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &queryS);
        ok = g_api.real_connect(mysql, host.c_str(), user.c_str(), password.c_str(),
                                hasDatabase ? database.c_str() : nullptr, 0, nullptr, 0) != nullptr;
        if (!ok) error = g_api.error(mysql);
    }
    void Free() {
        if (mysql) g_api.close(mysql);
        mysql = nullptr;
    }
};

// One statement with its whole answer, on a thread of its own.
struct QueryJob {
    MYSQL* mysql = nullptr; // lent by the data set; the job closes it when the line gave it up
    std::string sql;
    int rc = 0;
    MYSQL_RES* result = nullptr;
    bool arrived = false, laterOk = false;

    void Run() {
        rc = g_api.query(mysql, sql.c_str());
        if (rc != 0) return;
        result = g_api.store_result(mysql);
        arrived = result || g_api.errno_(mysql) == 0;
        laterOk = ReadLaterResults(mysql);
    }
    void Free() {
        if (result) g_api.free_result(result);
        result = nullptr;
        if (mysql) g_api.close(mysql);
        mysql = nullptr;
    }
    // Ends a call blocked on the socket: the client sees the connection gone and returns.
    void Cancel() const {
        if (!g_api.get_socket) return;
        my_socket fd = g_api.get_socket(mysql);
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
    }
};

DbCallEnd RunQuery(const std::shared_ptr<QueryJob>& job, const std::string& host) {
    DbCall call;
    call.backEnd = "MySQL";
    call.server = host;
    call.what = "statement";
    call.run = [job] { job->Run(); };
    call.cancel = [job] { job->Cancel(); };
    call.orphan = [job] { job->Free(); };
    return RunDbCall(GetDbBounds().queryMs, std::move(call));
}

std::string NoAnswerText(DbCallEnd end, int64_t ms) {
    if (end == DbCallEnd::kStopped) return "the wait was ended by a quit or reload";
    return "no answer from the server within " + std::to_string(ms) + " ms";
}

} // namespace

const MySqlApi* GetMySqlApi() {
    return g_loaded ? &g_api : nullptr;
}
bool MySqlLibraryLoaded() {
    return g_loaded;
}
void SetMySqlLibraryPath(const std::string& path) {
    g_path = path;
}

void LoadMySqlLibraryOnDemand() {
    g_onDemand.Ask();
    SetPoolBackEndMaker(kDbTypeMySql, &MakeMySql);
}

int LoadMySqlLibrary() {
    // The pool builds MySQL back ends through this maker; without the library they fail to open like direct ones.
    SetPoolBackEndMaker(kDbTypeMySql, &MakeMySql);
    if (g_loaded) return 0;
    std::string file = ClientLibraryFile(g_path, "ZZ_MYSQL_LIBRARY", kDefaultFile);
    if (!g_lib.Open(file)) {
        RawLogF("LoadLibrary('%s') : -1.", file.c_str());
        WriteRunLogAlways(("MySQL client library not loaded, MySQL disabled: " + g_lib.Error()).c_str());
        return -1;
    }
    MySqlApi api;
    if (!g_lib.Get(api.init, "mysql_init")) {
        RawLog("GetProcAddress('mysql_init') : NULL.");
        RawLog("FreeLibrary(mySqlHd)...");
        g_lib.Close();
        RawLog("FreeLibrary(mySqlHd).");
        return -2;
    }
    bool all = g_lib.Get(api.server_init, "mysql_server_init") & g_lib.Get(api.options, "mysql_options") &
               g_lib.Get(api.real_connect, "mysql_real_connect") & g_lib.Get(api.error, "mysql_error") &
               g_lib.Get(api.errno_, "mysql_errno") & g_lib.Get(api.close, "mysql_close") &
               g_lib.Get(api.query, "mysql_query") & g_lib.Get(api.store_result, "mysql_store_result") &
               g_lib.Get(api.free_result, "mysql_free_result") & g_lib.Get(api.num_rows, "mysql_num_rows") &
               g_lib.Get(api.num_fields, "mysql_num_fields") & g_lib.Get(api.field_seek, "mysql_field_seek") &
               g_lib.Get(api.fetch_field, "mysql_fetch_field") & g_lib.Get(api.data_seek, "mysql_data_seek") &
               g_lib.Get(api.fetch_row, "mysql_fetch_row") & g_lib.Get(api.fetch_lengths, "mysql_fetch_lengths") &
               g_lib.Get(api.more_results, "mysql_more_results") & g_lib.Get(api.next_result, "mysql_next_result");
    g_lib.Get(api.server_end, "mysql_server_end");
    g_lib.Get(api.get_socket, "mysql_get_socket");
    // Initialise the client once here: left to the first mysql_init, two lines' first connections race.
    if (!all || api.server_init(0, nullptr, nullptr) != 0) {
        RawLog(all ? "mysql_server_init() : Error!" : "GetProcAddress('mysql_*') : NULL.");
        RawLog("FreeLibrary(mySqlHd)...");
        g_lib.Close();
        RawLog("FreeLibrary(mySqlHd).");
        return -2;
    }
    g_api = api;
    g_loaded = true;
    RawLogF("LoadLibrary('%s') : 0, OK.", file.c_str());
    return 0;
}

void FreeMySqlLibrary() {
    if (!g_loaded) return;
    // A statement a line gave up may still be inside the library: unloading under it would crash.
    if (!MayUnloadDbLibrary("MySQL", ClientLibraryFile(g_path, "ZZ_MYSQL_LIBRARY", kDefaultFile))) return;
    RawLog("FreeLibrary(mySqlHd)...");
    if (g_api.server_end) g_api.server_end();
    g_loaded = false;
    g_api = MySqlApi();
    g_lib.Close();
    RawLog("FreeLibrary(mySqlHd).");
}

void CutAtLineEnd(char* s) {
    if (s) s[std::strcspn(s, "\r\n")] = '\0';
}

TagMySqlData::TagMySqlData(const char* host_, const char* user_, const char* password_, const char* logName_)
    : host(host_ ? host_ : ""), user(user_ ? user_ : ""), password(password_ ? password_ : "") {
    if (logName_ && *logName_ && logFile.Open(logName_)) WriteLog("Start.");
    g_onDemand.Ensure(g_loaded, [] { LoadMySqlLibrary(); });
    if (!g_loaded) {
        status = -1;
        WriteLog("Load libmySQL.dll fail!");
        return;
    }
    status = Open(nullptr);
}

TagMySqlData::~TagMySqlData() {
    Close();
    WriteLog("End.");
}

void TagMySqlData::WriteLog(const char* text) {
    logFile.Write(text);
}

int TagMySqlData::Open(const char* database) {
    auto job = std::make_shared<ConnectJob>();
    job->host = host;
    job->user = user;
    job->password = password;
    job->hasDatabase = database != nullptr;
    if (database) job->database = database;
    DbCall call;
    call.backEnd = "MySQL";
    call.server = host;
    call.what = "connect";
    call.run = [job] { job->Run(); };
    call.orphan = [job] { job->Free(); };
    const int64_t bound = GetDbBounds().connectMs;
    DbCallEnd end = RunDbCall(bound, std::move(call));
    if (end == DbCallEnd::kDone && job->ok) {
        mysql = job->mysql;
        return 0;
    }
    status = -1;
    lastError = "Open:Connect Err";
    char msg[kMsgSize];
    std::snprintf(msg, sizeof msg, "Failed to connect to database: Error: %s\n",
                  end == DbCallEnd::kDone ? job->error.c_str() : NoAnswerText(end, bound).c_str());
    WriteLog(msg);
    if (end == DbCallEnd::kDone) job->Free();
    mysql = nullptr;
    return -1;
}

int TagMySqlData::ReOpen() {
    WriteLog("Reconnecting...");
    char db[kDbNameSize] = "";
    bool hasDb = useStmt.size() > 4;
    if (hasDb) {
        std::string_view name = std::string_view(useStmt).substr(4);
        size_t n = name.size() < sizeof db ? name.size() : GbkSafeCut(name, sizeof db - 5);
        std::memcpy(db, name.data(), n);
        db[n] = '\0';
    }
    Close();
    int r = Open(hasDb ? db : nullptr);
    char msg[kMsgSize];
    std::snprintf(msg, sizeof msg, "Open('%s') is %d.", db, r);
    WriteLog(msg);
    if (r == 0 && !setStmt.empty()) {
        auto job = std::make_shared<QueryJob>();
        job->mysql = mysql;
        job->sql = setStmt;
        if (RunQuery(job, host) == DbCallEnd::kDone) {
            if (job->result) g_api.free_result(job->result);
        } else {
            mysql = nullptr; // the connection went with the statement given up
        }
    }
    return r;
}

void TagMySqlData::FreeResult() {
    if (result && g_loaded) g_api.free_result(result);
    result = nullptr;
    curRow = -1;
    curValues = nullptr;
    curLengths = nullptr;
}

int TagMySqlData::Close() {
    if (!g_loaded) return 0;
    FreeResult();
    if (mysql) g_api.close(mysql);
    mysql = nullptr;
    return 0;
}

// One attempt: 0, or a negative code with the failure logged (or kept in lastError in mode 2). *lost: the server
// went away (worth a reconnect); a statement given up (no answer in time, or a quit) is not tried again, and its
// connection goes with it, so the next statement connects anew.
int TagMySqlData::RunOnce(const char* sql, bool* lost) {
    hasResult = true;
    *lost = false;
    FreeResult();
    int rc = -1;
    std::string text = "not connected";
    if (mysql) {
        auto job = std::make_shared<QueryJob>();
        job->mysql = mysql;
        job->sql = sql;
        const int64_t bound = GetDbBounds().queryMs;
        DbCallEnd end = RunQuery(job, host);
        if (end == DbCallEnd::kDone) {
            rc = job->rc;
            result = job->result;
            // A result that fails to arrive is a failure, not an empty result; so is a failing later result of
            // a CALL.
            if (rc == 0 && job->laterOk && job->arrived) return 0;
            FreeResult();
            if (rc == 0) rc = -1;
            text = g_api.error(mysql);
            *lost = IsLostServer(g_api.errno_(mysql), text.c_str());
        } else {
            mysql = nullptr;
            text = NoAnswerText(end, bound);
        }
    } else {
        *lost = true;
    }
    char msg[kMsgSize];
    std::snprintf(msg, sizeof msg, "Error: %s", text.c_str());
    if (debugMode == 2) {
        lastError = msg;
    } else {
        WriteLog(sql);
        WriteLog(msg);
    }
    hasResult = false;
    return rc > 0 ? -rc : (rc < 0 ? rc : -1);
}

int TagMySqlData::Exec(char* sql) {
    if (status < 0) return status;
    if (!sql) return -1;
    if (debugMode == 1) WriteLog(sql);
    if (useStmt.empty()) {
        if (StartsNoCase(sql, "USE ")) {
            useStmt = sql;
            // Reconnect into the database so that a later reconnect returns to it; the statement still runs.
            Close();
            Open(sql + 4);
        }
    } else if (setStmt.empty() && StartsNoCase(sql, "set ")) {
        setStmt = sql;
    }
    int rc = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool lost = false;
        rc = RunOnce(sql, &lost);
        if (!lost) break;
        ReOpen();
    }
    return rc;
}

int TagMySqlData::GetRows() {
    if (!g_loaded || !UsableResult()) return 0;
    my_ulonglong n = g_api.num_rows(result);
    return n > my_ulonglong(INT_MAX) ? INT_MAX : int(n);
}

int TagMySqlData::GetCols() {
    if (!g_loaded || !UsableResult()) return 0;
    return int(g_api.num_fields(result));
}

int TagMySqlData::GetFieldName(int col, char* buf) {
    if (!g_loaded) return 0;
    buf[0] = '\0';
    if (!UsableResult() || col < 0 || col >= GetCols()) return -1;
    g_api.field_seek(result, MYSQL_FIELD_OFFSET(col));
    MYSQL_FIELD* f = g_api.fetch_field(result);
    if (f && f->name) CopyDbValue(buf, std::string_view(f->name, f->name_length));
    return col;
}

int TagMySqlData::GetFieldIndex(const char* name) {
    if (!g_loaded || !UsableResult()) return -1;
    int n = GetCols();
    for (int i = 0; i < n; ++i) {
        g_api.field_seek(result, MYSQL_FIELD_OFFSET(i));
        MYSQL_FIELD* f = g_api.fetch_field(result);
        if (f && f->name && name && GbkEqualNoCase(f->name, name)) return i;
    }
    return -2;
}

int TagMySqlData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    int col = GetFieldIndex(name);
    if (col < 0) return -1;
    return GetVar(buf, col, row);
}

bool TagMySqlData::SeekRow(int64_t row) {
    if (row != curRow) {
        // Rows read in order need no seek: the client's seek walks the result from its first row.
        if (row != curRow + 1 || curRow < 0) g_api.data_seek(result, my_ulonglong(row));
        curValues = g_api.fetch_row(result);
        curLengths = curValues ? g_api.fetch_lengths(result) : nullptr;
        curRow = curValues ? row : -1;
    }
    return curValues != nullptr;
}

int TagMySqlData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    if (!g_loaded || !UsableResult()) return -1;
    if (row < 1 || row > GetRows() || col < 0 || col >= GetCols()) return -1;
    if (!SeekRow(int64_t(row) - 1)) {
        if (debugMode != 2) {
            char msg[kMsgSize];
            std::snprintf(msg, sizeof msg, "GetVar() Error: row=%d, colIndex=%d", row - 1, col);
            WriteLog(msg);
        }
        return -2;
    }
    if (curValues[col]) CopyDbValue(buf, std::string_view(curValues[col], curLengths ? curLengths[col] : 0));
    return col;
}

int TagMySqlData::ExecToLocal(char* sql, TagLocalData* dst) {
    dst->ClearResult();
    int rc = Exec(sql);
    if (rc < 0) {
        dst->lastError = lastError;
        return rc;
    }
    int rows = GetRows();
    if (rows <= 0) return rows;
    int cols = GetCols();
    if (cols <= 0) return cols;
    dst->SetRows(rows);
    auto fail = [dst](int code) {
        dst->ClearResult();
        return code;
    };
    for (int j = 0; j < cols; ++j) {
        g_api.field_seek(result, MYSQL_FIELD_OFFSET(j));
        MYSQL_FIELD* f = g_api.fetch_field(result);
        if (!f) return fail(-4);
        // The declared width; AddField caps what a read cannot hand out (a LONGTEXT declares 4 GB).
        if (dst->fields.AddField(std::string_view(f->name ? f->name : ""), int64_t(f->length)) < 0) return fail(-4);
    }
    if (!dst->AllocRecords()) return fail(-3);
    for (int r = 0; r < rows; ++r) {
        if (!SeekRow(r)) return fail(-4);
        for (int j = 0; j < cols; ++j) {
            if (curValues[j]) dst->PutCell(r, j, std::string_view(curValues[j], curLengths ? curLengths[j] : 0));
        }
    }
    return rows;
}

} // namespace zz
