#include "data/TagSybData.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <sybdb.h>
#include <sybfront.h>

#include "data/DbCallBound.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/ClientLibrary.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr const char* kDefaultFile = "libsybdb.so.5";

// The library's functions; FreeTDS's own constants (STRINGBIND, DBSETAPP...) are used with them.
struct SybApi {
    RETCODE (*init)() = nullptr;
    LOGINREC* (*login)() = nullptr;
    void (*loginfree)(LOGINREC*) = nullptr;
    EHANDLEFUNC (*errhandle)(EHANDLEFUNC) = nullptr;
    MHANDLEFUNC (*msghandle)(MHANDLEFUNC) = nullptr;
    RETCODE (*setlname)(LOGINREC*, const char*, int) = nullptr;
    DBPROCESS* (*open)(LOGINREC*, const char*) = nullptr;
    RETCODE (*setopt)(DBPROCESS*, int, const char*, int) = nullptr;
    void (*close)(DBPROCESS*) = nullptr;
    RETCODE (*cmd)(DBPROCESS*, const char*) = nullptr;
    void (*freebuf)(DBPROCESS*) = nullptr;
    RETCODE (*sqlsend)(DBPROCESS*) = nullptr;
    RETCODE (*sqlok)(DBPROCESS*) = nullptr;
    RETCODE (*results)(DBPROCESS*) = nullptr;
    DBBOOL (*hasretstat)(DBPROCESS*) = nullptr;
    DBINT (*retstatus)(DBPROCESS*) = nullptr;
    int (*numcols)(DBPROCESS*) = nullptr;
    char* (*colname)(DBPROCESS*, int) = nullptr;
    int (*coltype)(DBPROCESS*, int) = nullptr;
    DBINT (*collen)(DBPROCESS*, int) = nullptr;
    RETCODE (*bind)(DBPROCESS*, int, int, DBINT, BYTE*) = nullptr;
    STATUS (*nextrow)(DBPROCESS*) = nullptr;
    RETCODE (*canquery)(DBPROCESS*) = nullptr;
    DBBOOL (*dead)(DBPROCESS*) = nullptr;
    void (*exit)() = nullptr;
    RETCODE (*setlogintime)(int) = nullptr;
    RETCODE (*settime)(int) = nullptr;
};

ClientLibrary g_lib;
SybApi g_api;
bool g_loaded = false;
LoadOnDemand g_onDemand;
std::string g_path;

// The shared log and the count of live connections, reached from every line thread.
std::mutex g_logLock;
FileHandle g_log;
int g_live = 0;

void LogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogF(const char* fmt, ...) {
    std::lock_guard<std::mutex> lk(g_logLock);
    if (!g_log) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(g_log.get(), fmt, ap);
    va_end(ap);
    std::fflush(g_log.get());
}

std::string Stamp() {
    char s[32];
    FormatTimeStamp(s);
    return s;
}

bool Filled(const char* s) {
    return s && *s;
}

int OnDbError(DBPROCESS* dbproc, int, int, int oserr, char* dberrstr, char* oserrstr) {
    std::string st = Stamp();
    if (!dbproc || (g_api.dead && g_api.dead(dbproc))) {
        LogF("[%s] DB-Connection status : DEAD!\n", st.c_str());
    } else {
        LogF("[%s] DB-Library error:\n\t%s\n", st.c_str(), dberrstr ? dberrstr : "");
        if (oserr != DBNOERR) LogF("Operating-system error:\n\t%s\n", oserrstr ? oserrstr : "");
    }
    return INT_CANCEL;
}

int OnDbMessage(DBPROCESS*, DBINT msgno, int msgstate, int severity, char* msgtext, char* srvname, char* procname,
                int line) {
    std::string entry;
    char piece[256];
    std::snprintf(piece, sizeof piece, "[%s] Msg %ld, Level %d, State %d : ", Stamp().c_str(), long(msgno), severity,
                  msgstate);
    entry += piece;
    if (Filled(srvname)) entry += std::string("Server '") + srvname + "', ";
    if (Filled(procname)) entry += std::string("Procedure '") + procname + "', ";
    if (line > 0) entry += "Line " + std::to_string(line);
    if (Filled(msgtext)) entry += std::string("\n\t") + msgtext + "\n\n";
    LogF("%s", entry.c_str());
    return 0;
}

// DB-Library's own time-outs (process-wide, in seconds) stay behind the line's bounds: they end the calls a line
// gave up, which still hold their connection.
constexpr int kLibrarySpareSeconds = 5;
void ApplyLibraryTimeouts() {
    DbBounds b = GetDbBounds();
    if (g_api.setlogintime) g_api.setlogintime(BoundSeconds(b.connectMs) + kLibrarySpareSeconds);
    if (g_api.settime) g_api.settime(BoundSeconds(b.queryMs) + kLibrarySpareSeconds);
}

std::unique_ptr<TagDataSet> MakeSyb(const char* a1, const char* a2, const char* a3, const char* a4) {
    return std::make_unique<TagSybData>(a1, a2, a3, a4);
}

// Copies text into a fixed field of size bytes, cut without splitting a double-byte character.
void CopyField(char* field, size_t size, const char* text) {
    std::string_view s = text ? text : "";
    size_t n = s.size() < size ? s.size() : GbkSafeCut(s, size - 1);
    std::memcpy(field, s.data(), n);
    field[n] = '\0';
}

} // namespace

bool DbLibraryLoaded() {
    return g_loaded;
}
void SetDbLibraryPath(const std::string& path) {
    g_path = path;
}

void LoadDbLibraryOnDemand() {
    g_onDemand.Ask();
    SetPoolBackEndMaker(kDbTypeSyb, &MakeSyb);
}

int LoadDbLibrary() {
    SetPoolBackEndMaker(kDbTypeSyb, &MakeSyb);
    if (g_loaded) return 0;
    std::string file = ClientLibraryFile(g_path, "ZZ_SYBDB_LIBRARY", kDefaultFile);
    if (!g_lib.Open(file)) {
        WriteRunLogAlways(("DB-Library not loaded, SQL Server disabled: " + g_lib.Error()).c_str());
        return -1;
    }
    SybApi a;
    if (!g_lib.Get(a.init, "dbinit")) {
        g_lib.Close();
        return -2;
    }
    g_lib.Get(a.login, "dblogin");
    g_lib.Get(a.errhandle, "dberrhandle");
    g_lib.Get(a.msghandle, "dbmsghandle");
    g_lib.Get(a.setlname, "dbsetlname");
    g_lib.Get(a.open, "dbopen");
    g_lib.Get(a.setopt, "dbsetopt");
    g_lib.Get(a.close, "dbclose");
    g_lib.Get(a.cmd, "dbcmd");
    g_lib.Get(a.sqlsend, "dbsqlsend");
    g_lib.Get(a.sqlok, "dbsqlok");
    g_lib.Get(a.results, "dbresults");
    g_lib.Get(a.hasretstat, "dbhasretstat");
    g_lib.Get(a.retstatus, "dbretstatus");
    g_lib.Get(a.numcols, "dbnumcols");
    g_lib.Get(a.colname, "dbcolname");
    g_lib.Get(a.coltype, "dbcoltype");
    g_lib.Get(a.collen, "dbcollen");
    g_lib.Get(a.bind, "dbbind");
    g_lib.Get(a.nextrow, "dbnextrow");
    g_lib.Get(a.canquery, "dbcanquery");
    g_lib.Get(a.dead, "dbdead");
    g_lib.Get(a.loginfree, "dbloginfree");
    g_lib.Get(a.freebuf, "dbfreebuf");
    g_lib.Get(a.exit, "dbexit");
    g_lib.Get(a.setlogintime, "dbsetlogintime");
    g_lib.Get(a.settime, "dbsettime");
    bool all = a.login && a.errhandle && a.msghandle && a.setlname && a.open && a.close && a.cmd && a.sqlsend &&
               a.sqlok && a.results && a.numcols && a.colname && a.coltype && a.collen && a.bind && a.nextrow &&
               a.canquery && a.dead;
    if (!all) {
        WriteRunLogAlways("DB-Library lacks a function, SQL Server disabled");
        g_lib.Close();
        return -2;
    }
    // Started once here rather than by every connection.
    if (a.init() == FAIL) {
        WriteRunLogAlways("dbinit failed, SQL Server disabled");
        g_lib.Close();
        return -3;
    }
    // The handlers are process-wide; installed always, since without one the library may end the process on a
    // dead connection. They write only while the shared log is open.
    a.errhandle(&OnDbError);
    a.msghandle(&OnDbMessage);
    g_api = a;
    g_loaded = true;
    return 0;
}

void FreeDbLibrary() {
    if (!g_loaded) return;
    // A call a line gave up may still be inside the library: unloading under it would crash.
    if (!MayUnloadDbLibrary("SQL Server", ClientLibraryFile(g_path, "ZZ_SYBDB_LIBRARY", kDefaultFile))) return;
    if (g_api.exit) g_api.exit();
    g_loaded = false;
    g_api = SybApi();
    g_lib.Close();
}

// Server types the DB-Library header does not name.
constexpr int kSybUnique = 36, kXSybVarBinary = 165, kXSybBinary = 173;

int32_t SybColumnWidth(int type, int32_t collen) {
    int64_t len = collen < 0 ? 0 : collen;
    int64_t w;
    switch (type) {
    case SYBIMAGE:
    case SYBVARBINARY:
    case SYBBINARY:
    case kXSybVarBinary:
    case kXSybBinary:
        w = 2 * len; // two hex digits a byte
        break;
    case SYBVARCHAR:
    case SYBCHAR:
        w = 256;
        break;
    case SYBINT1:
    case SYBBIT:
    case SYBBITN:
        w = 3;
        break;
    case SYBINT2:
        w = 6;
        break;
    case SYBINT4:
        w = 11;
        break;
    case SYBMONEY:
    case SYBMONEY4:
        w = 26;
        break;
    case SYBDATETIME:
    case SYBDATETIME4:
    case SYBDATETIMN:
        w = 27;
        break;
    case SYBFLT8:
    case SYBREAL:
    case SYBFLTN:
        w = 20;
        break;
    // Types the original width table lacks: their binary length would cut their text.
    case SYBINT8:
        w = 20;
        break;
    case SYBINTN:
        w = len <= 1 ? 3 : len == 2 ? 6 : len <= 4 ? 11 : 20;
        break;
    case SYBMONEYN:
        w = 26;
        break;
    case SYBDECIMAL:
    case SYBNUMERIC:
        w = 41;
        break;
    case kSybUnique:
        w = 36;
        break;
    case SYBMSDATE:
    case SYBDATE:
        w = 10;
        break;
    case SYBMSTIME:
    case SYBTIME:
    case SYBBIGTIME:
        w = 16;
        break;
    case SYBMSDATETIME2:
    case SYBBIGDATETIME:
        w = 27;
        break;
    case SYBMSDATETIMEOFFSET:
        w = 34;
        break;
    default:
        w = len;
        break;
    }
    return int32_t(w > TagSyb::kBindLen ? TagSyb::kBindLen : w);
}

// ---- TagSyb ----

TagSyb::TagSyb(const char* server_, const char* user, const char* password, const char* appName) {
    CopyField(server, sizeof server, server_);
    int live;
    {
        std::lock_guard<std::mutex> lk(g_logLock);
        live = ++g_live;
        if (!g_log && Filled(appName)) {
            g_log = FileHandle::Open(MapPath(std::string(appName) + ".log").c_str(), "a+");
            if (g_log) {
                std::fprintf(g_log.get(), "[%s] KvAppServer Started.\n", Stamp().c_str());
                std::fflush(g_log.get());
            }
        }
    }
    g_onDemand.Ensure(g_loaded, [] { LoadDbLibrary(); });
    if (!g_loaded) {
        LogF("[%s] Load ntwdblib.dll fail, Must install SQL Server client-tools first.\n", Stamp().c_str());
        status = -2;
        return;
    }
    LogF("Start SqlServer[%d] ...\n", live);
    login = g_api.login();
    if (login) {
        g_api.setlname(login, user ? user : "", DBSETUSER);
        g_api.setlname(login, password ? password : "", DBSETPWD);
        g_api.setlname(login, appName ? appName : "", DBSETAPP);
        // Scripts carry GBK text.
        g_api.setlname(login, "GBK", DBSETCHARSET);
        dbproc = g_api.open(login, server);
    }
    status = dbproc ? 0 : -1;
}

TagSyb::~TagSyb() {
    FreeResult(result);
    if (g_loaded) {
        if (dbproc) g_api.close(dbproc);
        if (login && g_api.loginfree) g_api.loginfree(login);
    }
    dbproc = nullptr;
    login = nullptr;
    std::lock_guard<std::mutex> lk(g_logLock);
    if (--g_live <= 0 && g_log) {
        std::fprintf(g_log.get(), "[%s] KvAppServer Closed.\n", Stamp().c_str());
        g_log.Close();
    }
}

void TagSyb::FreeResult(TagSybResult& r) {
    r.columns.clear();
    r.rowBuf.clear();
    r.block.clear();
    r.block.shrink_to_fit();
}

int TagSyb::ReConnect() {
    if (!g_loaded || !login) return 0;
    if (dbproc && !g_api.dead(dbproc)) return 1;
    if (dbproc) g_api.close(dbproc);
    dbproc = g_api.open(login, server);
    LogF("[%s] ReConnect %s\n", Stamp().c_str(), dbproc ? "OK" : "Failed");
    if (!dbproc) return 0;
    if (!useStmt.empty()) {
        g_api.cmd(dbproc, useStmt.c_str());
        if (g_api.sqlsend(dbproc) == SUCCEED) FetchRows(result);
    }
    return 2;
}

int TagSyb::Query(const char* sql) {
    for (int send = 0;; ++send) {
        if (ReConnect() == 0) return -100;
        // A batch that failed to go out stays in the command buffer; the next one must not append to it.
        if (g_api.freebuf) g_api.freebuf(dbproc);
        g_api.cmd(dbproc, sql);
        if (g_api.sqlsend(dbproc) == SUCCEED) break;
        LogF("Err: [%s]\n", sql);
        if (ReConnect() != 2) return -1;
        if (send == 1) return -2;
    }
    if (traceFlag) LogF("[%s] --> [%s]\n", Stamp().c_str(), sql);
    if (useStmt.empty() && std::strlen(sql) >= 4 && GbkEqualNoCase(std::string_view(sql, 4), "USE ")) useStmt = sql;
    return 1;
}

int TagSyb::FetchRows(TagSybResult& r) {
    if (!dbproc || g_api.sqlok(dbproc) != SUCCEED) return -1;
    for (;;) {
        RETCODE rc = g_api.results(dbproc);
        if (rc == NO_MORE_RESULTS) return 1;
        if (rc != SUCCEED) {
            if (traceFlag) LogF("[%s] _dbresults Err!\n", Stamp().c_str());
            return -1;
        }
        // Each result set replaces the previous one: the last of a batch stays current.
        r.rows = 0;
        r.rowWidth = 0;
        FreeResult(r);
        int cols = g_api.numcols(dbproc);
        r.cols = cols < 0 ? 0 : cols;
        r.columns.resize(size_t(r.cols));
        for (int k = 1; k <= r.cols; ++k) {
            TagSybColumn& c = r.columns[size_t(k - 1)];
            CopyField(c.name, sizeof c.name, g_api.colname(dbproc, k));
            c.type = g_api.coltype(dbproc, k);
            c.width = SybColumnWidth(c.type, g_api.collen(dbproc, k));
            c.offset = r.rowWidth;
            r.rowWidth += c.width;
            c.bound = std::make_unique<char[]>(size_t(kBindLen) + 4);
            g_api.bind(dbproc, k, STRINGBIND, kBindLen, reinterpret_cast<BYTE*>(c.bound.get()));
        }
        if (r.rowWidth > 0) r.rowBuf.assign(size_t(r.rowWidth) + 1, '\0');
        for (;;) {
            STATUS s = g_api.nextrow(dbproc);
            if (s == NO_MORE_ROWS) break;
            // A broken fetch ends the batch rather than spinning on the failure.
            if (s == FAIL || s == BUF_FULL) return -1;
            if (s != REG_ROW || r.rowWidth <= 0) continue;
            for (const TagSybColumn& c : r.columns)
                std::memcpy(&r.rowBuf[size_t(c.offset)], c.bound.get(), size_t(c.width));
            r.block.insert(r.block.end(), r.rowBuf.begin(), r.rowBuf.begin() + r.rowWidth);
            r.rows++;
        }
        g_api.canquery(dbproc);
    }
}

int TagSyb::Exec(const char* sql) {
    result.cols = result.rows = result.rowWidth = 0;
    if (Query(sql) <= 0) return -1;
    if (FetchRows(result) == -1) {
        LogF("[%s] '%s' Err!\n", Stamp().c_str(), sql);
        return -2;
    }
    return result.rows;
}

int TagSyb::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    const TagSybResult& r = result;
    if (r.rows == 0 || r.cols == 0 || col < 0 || col >= r.cols || row < 0 || row >= r.rows || r.block.empty() ||
        size_t(col) >= r.columns.size())
        return 0;
    const TagSybColumn& c = r.columns[size_t(col)];
    std::memcpy(buf, &r.block[size_t(row) * size_t(r.rowWidth) + size_t(c.offset)], size_t(c.width));
    buf[c.width] = '\0';
    return 1;
}

int TagSyb::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    for (int i = 0; i < result.cols && size_t(i) < result.columns.size(); ++i) {
        if (name && GbkEqualNoCase(result.columns[size_t(i)].name, name)) return GetVar(buf, i, row);
    }
    return 0;
}

// ---- TagSybData ----

TagSybData::TagSybData(const char* server_, const char* user_, const char* password_, const char* appName_)
    : server(server_ ? server_ : ""), user(user_ ? user_ : ""), password(password_ ? password_ : ""),
      appName(appName_ ? appName_ : "") {
    status = Open();
}

int TagSybData::Open() {
    auto made = std::make_shared<std::shared_ptr<TagSyb>>();
    DbCall call;
    call.backEnd = "SQL Server";
    call.server = server;
    call.what = "connect";
    call.run = [made, s = server, u = user, p = password, a = appName] {
        ApplyLibraryTimeouts();
        *made = std::make_shared<TagSyb>(s.c_str(), u.c_str(), p.c_str(), a.c_str());
    };
    call.orphan = [made] { made->reset(); };
    if (RunDbCall(GetDbBounds().connectMs, std::move(call)) != DbCallEnd::kDone) {
        LogF("[%s] Open %s: no answer in time\n", Stamp().c_str(), server.c_str());
        return -1;
    }
    connection = std::move(*made);
    connection->traceFlag = traceFlag;
    return connection->status;
}

TagSybData::~TagSybData() {
    Close();
}

int TagSybData::Close() {
    connection.reset();
    return 0;
}

void TagSybData::SetDebug(int mode) {
    traceFlag = mode;
    if (connection) connection->traceFlag = mode;
}

int TagSybData::Exec(char* sql) {
    if (!connection && reopenNext) {
        reopenNext = false;
        Open();
    }
    if (!Connected() || !sql) return -1;
    auto rows = std::make_shared<int>(-1);
    DbCall call;
    call.backEnd = "SQL Server";
    call.server = server;
    call.what = "statement";
    call.run = [c = connection, text = std::string(sql), rows] {
        ApplyLibraryTimeouts();
        *rows = c->Exec(text.c_str());
    };
    if (RunDbCall(GetDbBounds().queryMs, std::move(call)) != DbCallEnd::kDone) {
        LogF("[%s] '%s' Err! no answer in time\n", Stamp().c_str(), sql);
        connection.reset(); // closed by the call when the library returns
        reopenNext = true;
        return -1;
    }
    return *rows;
}

int TagSybData::GetRows() {
    return Connected() ? connection->result.rows : -1;
}
int TagSybData::GetCols() {
    return Connected() ? connection->result.cols : -1;
}

int TagSybData::GetFieldName(int col, char* buf) {
    if (!Connected()) return -1;
    const TagSybResult& r = connection->result;
    if (col < 0 || col >= r.cols || size_t(col) >= r.columns.size()) return -2;
    CopyDbValue(buf, r.columns[size_t(col)].name);
    return col;
}

int TagSybData::GetFieldIndex(const char* name) {
    if (!Connected()) return -1;
    const TagSybResult& r = connection->result;
    for (int i = 0; i < r.cols && size_t(i) < r.columns.size(); ++i) {
        if (name && GbkEqualNoCase(r.columns[size_t(i)].name, name)) return i;
    }
    return -2;
}

int TagSybData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    return Connected() ? connection->GetVarByName(buf, name, row - 1) : 0;
}

int TagSybData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    return Connected() ? connection->GetVar(buf, col, row - 1) : 0;
}

int TagSybData::ExecToLocal(char* sql, TagLocalData* dst) {
    dst->ClearResult();
    int rc = Exec(sql);
    if (rc < 0) return rc;
    int rows = GetRows();
    if (rows <= 0) return rows;
    int cols = GetCols();
    if (cols <= 0) return cols;
    const TagSybResult& r = connection->result;
    dst->SetRows(rows);
    for (const TagSybColumn& c : r.columns) {
        if (dst->fields.AddField(c.name, c.width) < 0) {
            dst->ClearResult();
            return -4;
        }
    }
    char* records = dst->AllocRecords();
    if (!records) {
        dst->ClearResult();
        return -3;
    }
    // The local layout is this back end's row layout, so the whole block moves in one piece.
    if (dst->RecordBytes() == int64_t(r.block.size()) && dst->fields.RecordSize() == r.rowWidth) {
        std::memcpy(records, r.block.data(), r.block.size());
    } else {
        char buf[kDbValueSize];
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < cols; ++col)
                if (connection->GetVar(buf, col, row)) dst->PutCell(row, col, buf);
    }
    return rows;
}

} // namespace zz
