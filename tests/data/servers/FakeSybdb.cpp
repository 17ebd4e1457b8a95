// A stand-in for FreeTDS's DB-Library (there is no SQL Server here): the functions the DB-Library back end calls,
// with FreeTDS's constants and binding rules, over canned results that the tests register through the
// fake_syb_* functions. A batch whose text was not registered gives one result set without columns, as an
// UPDATE does; a batch beginning with "fail" fails in dbresults; "raise" sends a server message and an error.
// The server "stall" and the batch "stall" stand for a server that stops answering: dbopen or dbsqlok blocks
// until fake_syb_answer (fake_syb_wait_stalled waits until n calls block).
#include <sybdb.h>
#include <sybfront.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "FakeStall.h"

#undef dbopen

namespace {

struct Col {
    std::string name;
    int type;
    int len;
};
struct ResultSet {
    std::vector<Col> cols;
    std::vector<std::vector<std::string>> rows;
};
struct Bind {
    int vartype = 0;
    DBINT varlen = 0;
    BYTE* addr = nullptr;
};

std::mutex g_lock;
std::map<std::string, std::vector<ResultSet>> g_batches;
std::map<std::string, int> g_sent;
std::set<DBPROCESS*> g_procs;
int g_openFails = 0, g_opens = 0, g_inits = 0;
std::string g_lastCharset, g_lastApp;
EHANDLEFUNC g_err = nullptr;
MHANDLEFUNC g_msg = nullptr;
int g_loginTime = 0, g_queryTime = 0;

zz::test::FakeStall g_stall;

} // namespace

struct tds_dblib_loginrec {
    std::string user, password, app, charset;
};

struct tds_dblib_dbprocess {
    std::string buffer;
    bool sent = false;
    bool dead = false;
    bool broken = false;
    std::vector<ResultSet> batch;
    bool failBatch = false;
    int set = -1;
    int row = -1;
    std::vector<Bind> binds;
};

extern "C" {

// ---- test controls ----

__attribute__((visibility("default"))) void fake_syb_reset() {
    std::lock_guard<std::mutex> lk(g_lock);
    g_batches.clear();
    g_sent.clear();
    g_openFails = g_opens = 0;
    g_stall.Rearm();
}

__attribute__((visibility("default"))) void fake_syb_wait_stalled(int n) {
    g_stall.WaitStalled(n);
}

// Lets every stalled call return (and later ones pass); fake_syb_reset stalls them again.
__attribute__((visibility("default"))) void fake_syb_answer() {
    g_stall.Answer();
}

// The seconds last given to dbsetlogintime and dbsettime.
__attribute__((visibility("default"))) int fake_syb_login_time() {
    return g_loginTime;
}
__attribute__((visibility("default"))) int fake_syb_query_time() {
    return g_queryTime;
}

// Appends one result set to the batch of sql: ncols columns, nrows rows of cells given row by row.
__attribute__((visibility("default"))) void fake_syb_add_result(const char* sql, int ncols, const char* const* names,
                                                                const int* types, const int* lens, int nrows,
                                                                const char* const* cells) {
    std::lock_guard<std::mutex> lk(g_lock);
    ResultSet rs;
    for (int c = 0; c < ncols; ++c)
        rs.cols.push_back({names[c], types[c], lens[c]});
    for (int r = 0; r < nrows; ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < ncols; ++c)
            row.push_back(cells[r * ncols + c] ? cells[r * ncols + c] : "");
        rs.rows.push_back(row);
    }
    g_batches[sql].push_back(rs);
}

// The server goes away: every open connection is dead, and says so.
__attribute__((visibility("default"))) void fake_syb_kill_all() {
    std::lock_guard<std::mutex> lk(g_lock);
    for (DBPROCESS* p : g_procs)
        p->dead = true;
}

// The server goes away unnoticed: the next send fails, and only then is the connection dead.
__attribute__((visibility("default"))) void fake_syb_break_all() {
    std::lock_guard<std::mutex> lk(g_lock);
    for (DBPROCESS* p : g_procs)
        p->broken = true;
}

__attribute__((visibility("default"))) void fake_syb_open_fails(int n) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_openFails = n;
}

__attribute__((visibility("default"))) int fake_syb_sent(const char* sql) {
    std::lock_guard<std::mutex> lk(g_lock);
    auto it = g_sent.find(sql);
    return it == g_sent.end() ? 0 : it->second;
}

__attribute__((visibility("default"))) int fake_syb_opens() {
    return g_opens;
}
__attribute__((visibility("default"))) int fake_syb_inits() {
    return g_inits;
}
__attribute__((visibility("default"))) const char* fake_syb_charset() {
    return g_lastCharset.c_str();
}

// ---- DB-Library ----

RETCODE dbinit(void) {
    ++g_inits;
    return SUCCEED;
}
void dbexit(void) {}

LOGINREC* dblogin(void) {
    return new LOGINREC();
}
void dbloginfree(LOGINREC* login) {
    delete login;
}

RETCODE dbsetlname(LOGINREC* login, const char* value, int which) {
    if (!login) return FAIL;
    std::string v = value ? value : "";
    switch (which) {
    case DBSETUSER:
        login->user = v;
        break;
    case DBSETPWD:
        login->password = v;
        break;
    case DBSETAPP:
        login->app = v;
        break;
    case DBSETCHARSET:
        login->charset = v;
        break;
    default:
        return FAIL;
    }
    return SUCCEED;
}

EHANDLEFUNC dberrhandle(EHANDLEFUNC handler) {
    EHANDLEFUNC old = g_err;
    g_err = handler;
    return old;
}

MHANDLEFUNC dbmsghandle(MHANDLEFUNC handler) {
    MHANDLEFUNC old = g_msg;
    g_msg = handler;
    return old;
}

RETCODE dbsetlogintime(int seconds) {
    g_loginTime = seconds;
    return SUCCEED;
}
RETCODE dbsettime(int seconds) {
    g_queryTime = seconds;
    return SUCCEED;
}

DBPROCESS* dbopen(LOGINREC* login, const char* server) {
    if (server && std::strcmp(server, "stall") == 0) g_stall.Block();
    std::lock_guard<std::mutex> lk(g_lock);
    g_lastCharset = login ? login->charset : "";
    if (!login || login->password == "bad" || g_openFails > 0) {
        if (g_openFails > 0) --g_openFails;
        return nullptr;
    }
    ++g_opens;
    DBPROCESS* p = new DBPROCESS();
    g_procs.insert(p);
    return p;
}

void dbclose(DBPROCESS* dbproc) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_procs.erase(dbproc);
    delete dbproc;
}

RETCODE dbsetopt(DBPROCESS*, int, const char*, int) {
    return SUCCEED;
}
DBBOOL dbdead(DBPROCESS* dbproc) {
    return dbproc ? dbproc->dead : TRUE;
}
DBBOOL dbhasretstat(DBPROCESS*) {
    return FALSE;
}
DBINT dbretstatus(DBPROCESS*) {
    return 0;
}

void dbfreebuf(DBPROCESS* dbproc) {
    if (dbproc) dbproc->buffer.clear();
}

// As FreeTDS: a command added after a batch was sent starts a new buffer; otherwise it appends.
RETCODE dbcmd(DBPROCESS* dbproc, const char cmdstring[]) {
    if (!dbproc) return FAIL;
    if (dbproc->sent) {
        dbproc->buffer.clear();
        dbproc->sent = false;
    }
    dbproc->buffer += cmdstring;
    return SUCCEED;
}

RETCODE dbsqlsend(DBPROCESS* dbproc) {
    if (!dbproc) return FAIL;
    if (dbproc->dead || dbproc->broken) {
        dbproc->dead = true;
        if (g_err)
            g_err(dbproc, 9, SYBEWRIT, 32, const_cast<char*>("Write to the server failed"),
                  const_cast<char*>("Broken pipe"));
        return FAIL;
    }
    std::lock_guard<std::mutex> lk(g_lock);
    const std::string& sql = dbproc->buffer;
    g_sent[sql]++;
    auto it = g_batches.find(sql);
    dbproc->batch = it != g_batches.end() ? it->second : std::vector<ResultSet>(1);
    dbproc->failBatch = sql.rfind("fail", 0) == 0;
    dbproc->set = -1;
    dbproc->sent = true;
    return SUCCEED;
}

RETCODE dbsqlok(DBPROCESS* dbproc) {
    if (!dbproc || !dbproc->sent) return FAIL;
    if (dbproc->buffer == "stall") g_stall.Block();
    if (dbproc->buffer == "raise") {
        if (g_msg)
            g_msg(dbproc, 2627, 1, 14, const_cast<char*>("Violation of PRIMARY KEY constraint"),
                  const_cast<char*>("FAKESRV"), const_cast<char*>("p_add"), 3);
        if (g_err)
            g_err(dbproc, 4, SYBECOFL, 5, const_cast<char*>("Data conversion resulted in overflow"),
                  const_cast<char*>("no space"));
    }
    return SUCCEED;
}

RETCODE dbresults(DBPROCESS* dbproc) {
    if (!dbproc) return FAIL;
    if (dbproc->failBatch) return FAIL;
    if (++dbproc->set >= int(dbproc->batch.size())) return NO_MORE_RESULTS;
    dbproc->row = -1;
    dbproc->binds.assign(dbproc->batch[size_t(dbproc->set)].cols.size(), Bind());
    return SUCCEED;
}

static const ResultSet* Current(DBPROCESS* p) {
    return p && p->set >= 0 && p->set < int(p->batch.size()) ? &p->batch[size_t(p->set)] : nullptr;
}

int dbnumcols(DBPROCESS* dbproc) {
    const ResultSet* rs = Current(dbproc);
    return rs ? int(rs->cols.size()) : 0;
}

static const Col* Column(DBPROCESS* p, int column) {
    const ResultSet* rs = Current(p);
    return rs && column >= 1 && column <= int(rs->cols.size()) ? &rs->cols[size_t(column - 1)] : nullptr;
}

char* dbcolname(DBPROCESS* dbproc, int column) {
    const Col* c = Column(dbproc, column);
    return c ? const_cast<char*>(c->name.c_str()) : nullptr;
}
int dbcoltype(DBPROCESS* dbproc, int column) {
    const Col* c = Column(dbproc, column);
    return c ? c->type : -1;
}
DBINT dbcollen(DBPROCESS* dbproc, int column) {
    const Col* c = Column(dbproc, column);
    return c ? c->len : -1;
}

RETCODE dbbind(DBPROCESS* dbproc, int column, int vartype, DBINT varlen, BYTE* varaddr) {
    if (!Column(dbproc, column) || !varaddr) return FAIL;
    dbproc->binds[size_t(column - 1)] = Bind{vartype, varlen, varaddr};
    return SUCCEED;
}

// STRINGBIND: the text blank-padded to varlen - 1 and terminated; NTBSTRINGBIND: terminated, no padding.
STATUS dbnextrow(DBPROCESS* dbproc) {
    const ResultSet* rs = Current(dbproc);
    if (!rs || dbproc->dead) return rs ? FAIL : NO_MORE_ROWS;
    if (++dbproc->row >= int(rs->rows.size())) return NO_MORE_ROWS;
    const std::vector<std::string>& row = rs->rows[size_t(dbproc->row)];
    for (size_t c = 0; c < dbproc->binds.size(); ++c) {
        const Bind& b = dbproc->binds[c];
        if (!b.addr || b.varlen <= 0) continue;
        size_t room = size_t(b.varlen) - 1;
        size_t n = row[c].size() < room ? row[c].size() : room;
        std::memcpy(b.addr, row[c].data(), n);
        if (b.vartype == STRINGBIND) {
            std::memset(b.addr + n, ' ', room - n);
            b.addr[room] = 0;
        } else {
            b.addr[n] = 0;
        }
    }
    return REG_ROW;
}

RETCODE dbcanquery(DBPROCESS* dbproc) {
    if (!dbproc) return FAIL;
    const ResultSet* rs = Current(dbproc);
    if (rs) dbproc->row = int(rs->rows.size());
    return SUCCEED;
}

} // extern "C"
