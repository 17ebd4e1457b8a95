#include "data/TagTqrDbData.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "data/DbCallBound.h"
#include "data/TagLocalData.h"
#include "data/TqrDbApi.h"
#include "platform/ClientLibrary.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr const char* kDefaultFile = "libTqrDbApi.so";
constexpr int32_t kMsgSize = 2048;   // error texts and formatted log lines
constexpr int32_t kNameSize = 512;   // a column name in ExecToLocal
constexpr int32_t kValueSize = 2500; // a value in ExecToLocal

struct TqrApi {
    TqrDbInitFn init = nullptr;
    TqrDbFreeFn free = nullptr;
    TqrDbOpenFn open = nullptr;
    TqrDbCloseFn close = nullptr;
    TqrDbExecFn exec = nullptr;
    TqrDbRowsFn rows = nullptr;
    TqrDbColsFn cols = nullptr;
    TqrDbGetColInfoByIndexFn colInfoByIndex = nullptr;
    TqrDbGetColInfoByNameFn colInfoByName = nullptr;
    TqrDbNextFn next = nullptr;
    TqrDbGotoRecFn gotoRec = nullptr;
    TqrDbGetValByNameFn valByName = nullptr;
    TqrDbGetValByIndexFn valByIndex = nullptr;
};

ClientLibrary g_lib;
TqrApi g_api;
bool g_loaded = false;
LoadOnDemand g_onDemand;
std::string g_path;

template <typename Fn> bool Find(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(GetTqrDbProc(name));
    return fn != nullptr;
}

// The library offers no time-out of its own: each connect and statement runs where the line can give it up, and a
// call given up closes its handle whenever the library returns.
struct TqrCall {
    void* handle = nullptr;
    int32_t result = 0;
    int32_t retCode = 0;
    char err[kMsgSize] = "";
    void CloseHandle() {
        if (handle) g_api.close(handle);
        handle = nullptr;
    }
};

DbCallEnd RunTqr(const std::string& server, const char* what, int64_t ms, std::shared_ptr<TqrCall> job,
                 std::function<void(TqrCall&)> run) {
    DbCall call;
    call.backEnd = "Tqr";
    call.server = server;
    call.what = what;
    call.run = [job, run = std::move(run)] { run(*job); };
    call.orphan = [job] { job->CloseHandle(); };
    return RunDbCall(ms, std::move(call));
}

std::string NoAnswer(DbCallEnd end, int64_t ms) {
    if (end == DbCallEnd::kStopped) return "the wait was ended by a quit or reload";
    return "no answer within " + std::to_string(ms) + " ms";
}

void Unload() {
    RawLog("FreeLibrary(tqrDbHd)...");
    g_loaded = false;
    g_api = TqrApi();
    g_lib.Close();
    RawLog("FreeLibrary(tqrDbHd).");
}

} // namespace

bool TqrDbLibraryLoaded() {
    return g_loaded;
}
void SetTqrDbLibraryPath(const std::string& path) {
    g_path = path;
}

void* GetTqrDbProc(const char* name) {
    if (!g_lib.Loaded() || !name) return nullptr;
    if (void* p = g_lib.Sym(name)) return p;
    char decorated[512];
    std::snprintf(decorated, sizeof decorated, "_%s@8", name);
    return g_lib.Sym(decorated);
}

void LoadTqrDbLibraryOnDemand() {
    g_onDemand.Ask();
}

int LoadTqrDbLibrary() {
    if (g_loaded) return 0;
    std::string file = ClientLibraryFile(g_path, "ZZ_TQRDB_LIBRARY", kDefaultFile);
    if (!g_lib.Open(file)) {
        RawLogF("LoadLibrary('%s') : -1.", file.c_str());
        WriteRunLogAlways(("Tqr database library not loaded, Tqr disabled: " + g_lib.Error()).c_str());
        return -1;
    }
    TqrApi a;
    if (!Find(a.init, "TqrDbInit")) {
        RawLog("GetProcAddress('TqrDbInit') : NULL.");
        Unload();
        return -2;
    }
    Find(a.free, "TqrDbFree");
    bool all = Find(a.open, "TqrDbOpen") & Find(a.close, "TqrDbClose") & Find(a.exec, "TqrDbExec") &
               Find(a.rows, "TqrDbRows") & Find(a.cols, "TqrDbCols") &
               Find(a.colInfoByIndex, "TqrDbGetColInfoByIndex") & Find(a.colInfoByName, "TqrDbGetColInfoByName") &
               Find(a.next, "TqrDbNext") & Find(a.gotoRec, "TqrDbGotoRec") & Find(a.valByName, "TqrDbGetValByName") &
               Find(a.valByIndex, "TqrDbGetValByIndex");
    if (!all) {
        // Every call goes through these: a library without one of them would crash the first line using it.
        RawLog("GetProcAddress('TqrDb*') : NULL.");
        Unload();
        return -2;
    }
    RawLogF("LoadLibrary('%s') : 0, OK.", file.c_str());
    if (a.init() < 0) {
        RawLog("_TqrDbInit() : Error!");
        Unload();
        return -3;
    }
    g_api = a;
    g_loaded = true;
    return 0;
}

void FreeTqrDbLibrary() {
    if (!g_lib.Loaded()) return;
    // A call a line gave up may still be inside the library: unloading under it would crash.
    if (!MayUnloadDbLibrary("Tqr", ClientLibraryFile(g_path, "ZZ_TQRDB_LIBRARY", kDefaultFile))) return;
    Unload();
}

void TagTqrDbData::SplitHostPort(const char* operand, std::string& host_, int32_t& port_) {
    std::string s = operand ? operand : "";
    size_t colon = s.find(':');
    if (colon == std::string::npos) {
        host_ = s;
        port_ = kDefaultPort;
        return;
    }
    host_ = s.substr(0, colon);
    port_ = int32_t(std::strtol(s.c_str() + colon + 1, nullptr, 10));
}

TagTqrDbData::TagTqrDbData(const char* host_, int32_t port_, const char* user_, const char* password_,
                           const char* logName_)
    : host(host_ ? host_ : ""), port(port_), user(user_ ? user_ : ""), password(password_ ? password_ : "") {
    if (logName_ && *logName_ && logFile.Open(logName_)) WriteLog("Start.");
    g_onDemand.Ensure(g_loaded, [] { LoadTqrDbLibrary(); });
    if (!g_loaded) {
        status = -1;
        WriteLog("Load TqrDbApi.dll fail!");
        return;
    }
    status = Open(nullptr);
}

TagTqrDbData::~TagTqrDbData() {
    Close();
    WriteLog("End.");
}

void TagTqrDbData::WriteLog(const char* text) {
    logFile.Write(text);
}

int TagTqrDbData::Open(const char* database) {
    auto job = std::make_shared<TqrCall>();
    const std::string server = host + ":" + std::to_string(port);
    const int64_t bound = GetDbBounds().connectMs;
    std::optional<std::string> db;
    if (database) db = database;
    DbCallEnd end =
        RunTqr(server, "connect", bound, job, [h = host, p = port, db, u = user, pw = password](TqrCall& c) {
            c.handle = g_api.open(h.c_str(), p, db ? db->c_str() : nullptr, u.c_str(), pw.c_str());
        });
    if (end == DbCallEnd::kDone && job->handle) {
        handle = job->handle;
        return 0;
    }
    status = -1;
    lastError = "Open:Connect Err";
    char msg[kMsgSize];
    if (end == DbCallEnd::kDone)
        std::snprintf(msg, sizeof msg, "Failed to connect to database: Error: %s\n", server.c_str());
    else
        std::snprintf(msg, sizeof msg, "Failed to connect to database: Error: %s, %s\n", server.c_str(),
                      NoAnswer(end, bound).c_str());
    WriteLog(msg);
    return -1;
}

int TagTqrDbData::ReOpen() {
    WriteLog("Reconnecting...");
    Close();
    int r = Open("");
    char msg[64];
    std::snprintf(msg, sizeof msg, "Open() is %d.", r);
    WriteLog(msg);
    return r;
}

int TagTqrDbData::Close() {
    if (handle && g_loaded) g_api.close(handle);
    handle = nullptr;
    return 0;
}

void TagTqrDbData::Report(const char* sql, const char* msg) {
    if (debugMode == 2) {
        lastError = msg;
    } else {
        WriteLog(sql);
        WriteLog(msg);
    }
}

int TagTqrDbData::Exec(char* sql) {
    if (status >= 0 && !handle && reopenNext) {
        reopenNext = false;
        ReOpen();
    }
    // A closed handle is a failure, not an empty success.
    if (status < 0 || !handle) return status < 0 ? status : -1;
    if (!sql) return -1;
    if (debugMode == 1) WriteLog(sql);
    int r = 0;
    for (int attempt = 0; attempt < 2 && handle; ++attempt) {
        bool retry = false;
        auto job = std::make_shared<TqrCall>();
        job->handle = handle;
        const int64_t bound = GetDbBounds().queryMs;
        DbCallEnd end =
            RunTqr(host + ":" + std::to_string(port), "statement", bound, job, [text = std::string(sql)](TqrCall& c) {
                c.result = g_api.exec(c.handle, text.c_str(), &c.retCode, c.err, kMsgSize);
            });
        if (end != DbCallEnd::kDone) {
            handle = nullptr; // closed by the call when the library returns
            reopenNext = true;
            retCode = 0;
            Report(sql, ("Error: " + NoAnswer(end, bound)).c_str());
            return -1;
        }
        r = job->result;
        retCode = job->retCode;
        char* err = job->err;
        err[kMsgSize - 1] = '\0';
        if (r < 0 || retCode < 0) {
            char line[kMsgSize];
            std::snprintf(line, sizeof line, "TqrDbExec[%s]: ret=%d, retCode=%d", sql, r, int(retCode));
            WriteLog(line);
            std::string msg = "Error: " + std::string(err);
            msg.resize(GbkSafeCut(msg, kMsgSize - 1)); // formed in a 2048-byte buffer
            retry = r < 0;
            Report(sql, msg.c_str());
        }
        if (!retry) break;
        ReOpen();
    }
    return r;
}

int TagTqrDbData::GetRows() {
    return handle ? g_api.rows(handle) : 0;
}
int TagTqrDbData::GetCols() {
    return handle ? g_api.cols(handle) : 0;
}

int TagTqrDbData::GetFieldName(int col, char* buf) {
    buf[0] = '\0';
    if (!handle) return -1;
    int32_t width = 0, r1 = 0, r2 = 0;
    return g_api.colInfoByIndex(handle, col, buf, int32_t(kDbValueSize), &width, &r1, &r2);
}

int TagTqrDbData::GetFieldIndex(const char* name) {
    if (!handle) return -1;
    int32_t width = 0, r1 = 0, r2 = 0;
    return g_api.colInfoByName(handle, name ? name : "", &width, &r1, &r2);
}

int TagTqrDbData::GetVarByName(char* buf, const char* name, int row) {
    buf[0] = '\0';
    if (!handle) return -1;
    if (g_api.gotoRec(handle, row) < 0) return -2;
    return g_api.valByName(handle, name ? name : "", buf, int32_t(kDbValueSize));
}

int TagTqrDbData::GetVar(char* buf, int col, int row) {
    buf[0] = '\0';
    if (!handle) return -1;
    if (g_api.gotoRec(handle, row) < 0) return -2;
    return g_api.valByIndex(handle, col, buf, int32_t(kDbValueSize));
}

int TagTqrDbData::ExecToLocal(char* sql, TagLocalData* dst) {
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
    auto fail = [dst](int code) {
        dst->ClearResult();
        return code;
    };
    dst->SetRows(rows);
    for (int j = 0; j < cols; ++j) {
        char name[kNameSize] = "";
        int32_t width = 0, r1 = 0, r2 = 0;
        if (g_api.colInfoByIndex(handle, j, name, kNameSize, &width, &r1, &r2) < 0) return fail(-4);
        name[kNameSize - 1] = '\0';
        if (dst->fields.AddField(name, width) < 0) return fail(-4);
    }
    if (!dst->AllocRecords()) return fail(-3);
    if (g_api.gotoRec(handle, 1) < 0) return fail(-4);
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < cols; ++j) {
            char value[kValueSize];
            value[0] = '\0';
            if (g_api.valByIndex(handle, j, value, kValueSize) >= 0) {
                value[kValueSize - 1] = '\0';
                dst->PutCell(r, j, value);
            }
        }
        g_api.next(handle);
    }
    return rows;
}

} // namespace zz
