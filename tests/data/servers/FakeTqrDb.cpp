// A stand-in for the company's database library (libTqrDbApi.so): its thirteen functions over canned results
// that the tests register through the fake_tqr_* functions. A statement that was not registered gives an empty
// result; one beginning with "bad" succeeds in the library with a negative return code; fake_tqr_fail_exec
// makes the next statements fail in the library. The host "stall" and the statement "stall" stand for a server
// that stops answering: the call blocks until fake_tqr_answer (fake_tqr_wait_stalled waits until n calls block).
// Buffers are filled within the sizes passed.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "FakeStall.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Result {
    std::vector<std::string> names;
    std::vector<int32_t> widths;
    std::vector<std::vector<std::string>> rows;
};

struct Handle {
    std::string host;
    int32_t port = 0;
    Result result;
    int32_t record = 1;
};

std::mutex g_lock;
std::map<std::string, Result> g_results;
int g_failExec = 0, g_openFails = 0, g_opens = 0, g_execs = 0, g_inits = 0, g_live = 0;
std::string g_lastHost, g_lastDb;
int32_t g_lastPort = 0;
std::atomic<int32_t> g_lastGoto{0};

zz::test::FakeStall g_stall;

void Put(char* buf, int32_t size, const std::string& text) {
    if (!buf || size <= 0) return;
    size_t n = text.size() < size_t(size) - 1 ? text.size() : size_t(size) - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
}

int32_t Col(const Handle* h, const char* name) {
    for (size_t i = 0; name && i < h->result.names.size(); ++i)
        if (h->result.names[i] == name) return int32_t(i);
    return -1;
}

const std::string* Value(const Handle* h, int32_t col) {
    if (h->record < 1 || h->record > int32_t(h->result.rows.size())) return nullptr;
    const auto& row = h->result.rows[size_t(h->record - 1)];
    return col >= 0 && col < int32_t(row.size()) ? &row[size_t(col)] : nullptr;
}

} // namespace

// ---- test controls ----

EXPORT void fake_tqr_reset() {
    std::lock_guard<std::mutex> lk(g_lock);
    g_results.clear();
    g_failExec = g_openFails = g_opens = g_execs = 0;
    g_stall.Rearm();
}

EXPORT void fake_tqr_add_result(const char* sql, int ncols, const char* const* names, const int32_t* widths, int nrows,
                                const char* const* cells) {
    std::lock_guard<std::mutex> lk(g_lock);
    Result r;
    for (int c = 0; c < ncols; ++c) {
        r.names.push_back(names[c]);
        r.widths.push_back(widths[c]);
    }
    for (int i = 0; i < nrows; ++i) {
        std::vector<std::string> row;
        for (int c = 0; c < ncols; ++c)
            row.push_back(cells[i * ncols + c]);
        r.rows.push_back(row);
    }
    g_results[sql] = r;
}

EXPORT void fake_tqr_wait_stalled(int n) {
    g_stall.WaitStalled(n);
}

// Lets every stalled call return (and later ones pass); fake_tqr_reset stalls them again.
EXPORT void fake_tqr_answer() {
    g_stall.Answer();
}

EXPORT void fake_tqr_fail_exec(int n) {
    g_failExec = n;
}
EXPORT void fake_tqr_open_fails(int n) {
    g_openFails = n;
}
EXPORT int fake_tqr_opens() {
    return g_opens;
}
EXPORT int fake_tqr_execs() {
    return g_execs;
}
EXPORT int fake_tqr_inits() {
    return g_inits;
}
EXPORT int fake_tqr_live() {
    return g_live;
}
EXPORT int32_t fake_tqr_last_port() {
    return g_lastPort;
}
EXPORT int32_t fake_tqr_last_goto() {
    return g_lastGoto;
}
EXPORT const char* fake_tqr_last_host() {
    return g_lastHost.c_str();
}
EXPORT const char* fake_tqr_last_db() {
    return g_lastDb.c_str();
}

// ---- the library ----

EXPORT int32_t TqrDbInit() {
    ++g_inits;
    const char* fail = std::getenv("FAKE_TQR_INIT_FAIL");
    return fail && *fail ? -1 : 0;
}

EXPORT int32_t TqrDbFree() {
    return 0;
}

EXPORT void* TqrDbOpen(const char* host, int32_t port, const char* database, const char*, const char* password) {
    if (host && std::strcmp(host, "stall") == 0) g_stall.Block();
    std::lock_guard<std::mutex> lk(g_lock);
    g_lastHost = host ? host : "";
    g_lastPort = port;
    g_lastDb = database ? database : "(none)";
    if (g_openFails > 0 || (password && std::strcmp(password, "bad") == 0)) {
        if (g_openFails > 0) --g_openFails;
        return nullptr;
    }
    ++g_opens;
    ++g_live;
    Handle* h = new Handle();
    h->host = g_lastHost;
    h->port = port;
    return h;
}

EXPORT int32_t TqrDbClose(void* handle) {
    std::lock_guard<std::mutex> lk(g_lock);
    --g_live;
    delete static_cast<Handle*>(handle);
    return 0;
}

EXPORT int32_t TqrDbExec(void* handle, const char* sql, int32_t* retCode, char* errText, int32_t errSize) {
    Handle* h = static_cast<Handle*>(handle);
    if (sql && std::strcmp(sql, "stall") == 0) g_stall.Block();
    std::lock_guard<std::mutex> lk(g_lock);
    ++g_execs;
    h->result = Result();
    h->record = 1;
    *retCode = 0;
    if (g_failExec > 0) {
        --g_failExec;
        Put(errText, errSize, "connection to " + h->host + " lost");
        return -1;
    }
    std::string s = sql ? sql : "";
    if (s.rfind("bad", 0) == 0) {
        *retCode = -5;
        Put(errText, errSize, "syntax error near '" + s + "'");
        return 0;
    }
    auto it = g_results.find(s);
    if (it != g_results.end()) h->result = it->second;
    return int32_t(h->result.rows.size());
}

EXPORT int32_t TqrDbRows(void* handle) {
    return int32_t(static_cast<Handle*>(handle)->result.rows.size());
}
EXPORT int32_t TqrDbCols(void* handle) {
    return int32_t(static_cast<Handle*>(handle)->result.names.size());
}

EXPORT int32_t TqrDbGetColInfoByIndex(void* handle, int32_t col, char* name, int32_t nameSize, int32_t* width, int32_t*,
                                      int32_t*) {
    Handle* h = static_cast<Handle*>(handle);
    if (col < 0 || col >= int32_t(h->result.names.size())) return -1;
    Put(name, nameSize, h->result.names[size_t(col)]);
    *width = h->result.widths[size_t(col)];
    return col;
}

EXPORT int32_t TqrDbGetColInfoByName(void* handle, const char* name, int32_t* width, int32_t*, int32_t*) {
    Handle* h = static_cast<Handle*>(handle);
    int32_t c = Col(h, name);
    if (c >= 0) *width = h->result.widths[size_t(c)];
    return c;
}

EXPORT int32_t TqrDbNext(void* handle) {
    ++static_cast<Handle*>(handle)->record;
    return 0;
}

EXPORT int32_t TqrDbGotoRec(void* handle, int32_t record) {
    Handle* h = static_cast<Handle*>(handle);
    g_lastGoto = record;
    if (record < 1 || record > int32_t(h->result.rows.size())) return -1;
    h->record = record;
    return 0;
}

EXPORT int32_t TqrDbGetValByName(void* handle, const char* name, char* value, int32_t valueSize) {
    Handle* h = static_cast<Handle*>(handle);
    const std::string* v = Value(h, Col(h, name));
    if (!v) return -1;
    Put(value, valueSize, *v);
    return int32_t(v->size());
}

EXPORT int32_t TqrDbGetValByIndex(void* handle, int32_t col, char* value, int32_t valueSize) {
    const std::string* v = Value(static_cast<Handle*>(handle), col);
    if (!v) return -1;
    Put(value, valueSize, *v);
    return int32_t(v->size());
}
