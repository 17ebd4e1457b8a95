#include "app/SystemStart.h"

#include "builtins/BuiltinTable.h"
#include "builtins/LineSettings.h"
#include "console/TagMonitor.h"
#include "data/TagMySqlData.h"
#include "data/TagSybData.h"
#include "data/TagTqrDbData.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/SysTime.h"
#include "platform/TagWriteLog.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagTelDrive.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace zz {

namespace {

class EnginePrograms : public LinePrograms {
public:
    TagTelBasic* Build(const std::string& file, int32_t lineNo, TagKvCall* call) override {
        return new TagTelBasic(file.c_str(), lineNo, call, 1, nullptr);
    }
    void Destroy(TagTelBasic* p) override { delete p; }
    int32_t Run(TagTelBasic* p) override { return p->Run(); }
    int32_t InitResult(TagTelBasic* p) override { return p->initResult; }
    void SetLineEntry(TagTelBasic* p, TagTelLine* line) override { p->lineEntry = line; }
    void SetReloadAllowed(TagTelBasic* p, bool on) override { p->SetReloadAllowed(on ? 1 : 0); }
    void SetReload(TagTelBasic* p, bool on) override { p->SetReload(on ? 1 : 0); }
    bool ReloadRequested(TagTelBasic* p) override { return p->reloadRequested != 0; }
    void RequestQuit(TagTelBasic* p) override {
        p->SetQuit(1);
        p->stop = 1;
    }
    void ForceEnd(TagTelBasic* p) override { p->endOfRun = 1; }
    bool Stopped(TagTelBasic* p) override { return p->stopped != 0; }
    void ClearScriptCache() override { TagMemKvs::Process().Clear(); }
};

std::unique_ptr<TagMonitor> g_monitor;
std::atomic<bool> g_closed{false};
std::string g_info;

int32_t LinesCountHook() {
    TagTelDrive* d = GetTelDrive();
    return d ? d->LineCount() : 0;
}

int KeyModeOf(int32_t line) {
    TagTelDrive* d = GetTelDrive();
    TagTelLine* e = d ? d->Line(line) : nullptr;
    if (!e) return -1;
    std::lock_guard<std::mutex> lk(e->programLock);
    if (!e->program) return -1;
    const LineSettingsState* st = e->program->FindLineState<LineSettingsState>();
    return st ? st->keyDispMode.load() : 0;
}

} // namespace

LinePrograms& EngineLinePrograms() {
    static EnginePrograms programs;
    return programs;
}

const std::string& SystemInfoText() {
    return g_info;
}

void MainRunThread(TagTelDrive& drive) {
    RawLog("MainRunThread()...");
    WriteRunLog("MainRunThread()...");
    drive.Run(drive.CfgFile().c_str());
}

int32_t InitSystem(const std::string& cfgFile) {
    RegisterBuiltins();
    SetLinePrograms(&EngineLinePrograms());
    SetDbLibraries({[] { LoadMySqlLibrary(); }, [] { LoadTqrDbLibrary(); }, [] { LoadDbLibrary(); }, FreeTqrDbLibrary,
                    FreeMySqlLibrary, FreeDbLibrary});
    SetLineDisplay({SetLineState, DispScriptFile});
    TheEngineHooks().linesCount = LinesCountHook;
    TheEngineHooks().setLineState = [](int32_t line, const char* state) { SetLineState(line, state); };
    SetKeyModeLookup(KeyModeOf);
    g_closed = false;

    TagRunCfg& cfg = RunCfg();
    auto drive = std::make_unique<TagTelDrive>(cfgFile.c_str(), &cfg);
    SetLogLevel(cfg.writeLog);
    bool english = cfg.language != 0;
    int32_t status = drive->status;
    if (status < 0) {
        drive.reset();
        SleepMs(600);
        char text[96];
        std::snprintf(text, sizeof text, english ? "Initialize failed. return : %d" : "初始化系统失败: 返回值=%d",
                      status);
        g_info = text;
        ShowMessage(text, "Karvelian System");
        return status;
    }

    LocalTime t = GetLocalTime();
    int32_t ex, in, vir, ip;
    int32_t all = drive->GetLinesNum(ex, in, vir, ip);
    char text[160];
    std::snprintf(text, sizeof text, "%d-%d-%d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute, t.second);
    g_info = text;
    std::snprintf(text, sizeof text,
                  english ? "Lines:%d: Ex:%d, In:%d, Vir:%d, Ip:%d" : "总线数:%d: 外:%d, 内:%d, 虚:%d, Ip:%d", all, ex,
                  in, vir, ip);
    g_info += text;
    WriteRunLogAlways(g_info.c_str());

    RawLog("TagMonitor()...");
    g_monitor = std::make_unique<TagMonitor>(drive->LineCount());
    SetMonitor(g_monitor.get());
    RawLog("TagMonitor() OK.");
    SetTelDrive(drive.get());
    DispMonitor();
    RawLog("DispMonitor().");
    TagTelDrive* d = drive.release();
    if (!d->StartWorker(MainRunThread)) WriteRunLogAlways("MainRunThread could not be started");
    RawLog("Create : MainRunThread..");
    return status;
}

void DispMonitor(GridCells* grid) {
    TagMonitor* m = GetMonitor();
    TagTelDrive* d = GetTelDrive();
    if (!m || !d || d->status != 0) return;
    bool english = RunCfg().language != 0;
    LinePrograms* ops = GetLinePrograms();
    for (int32_t n = 0; n < d->LineCount(); ++n) {
        TagTelLine* e = d->Line(n);
        char text[128];
        std::snprintf(text, sizeof text, "%d : %s", n, e->name);
        m->SetField(n, text, 0);
        std::string script;
        int32_t init = 0;
        bool has = false;
        {
            std::lock_guard<std::mutex> lk(e->programLock);
            if (e->program && ops) {
                has = true;
                script = e->scriptFile;
                init = ops->InitResult(e->program);
            }
        }
        m->SetField(n, script, 1);
        if (!has)
            SetLineState(n, english ? "Unset" : "未配置");
        else if (init != 0)
            SetLineState(n, english ? "InitErr" : "初始化失败");
        else
            SetLineState(n, english ? "Running" : "运行");
    }
    m->InitGrid(grid);
}

void CloseSystem() {
    if (g_closed.exchange(true)) return;
    SystemClosing() = true;
    RawLog("isCloseing = true;");
    RawLog("delete pTelDrive;");
    TagTelDrive* d = GetTelDrive();
    SetTelDrive(nullptr);
    delete d;
    SleepMs(150);
    RawLog("delete pMonitor;");
    SetMonitor(nullptr);
    g_monitor.reset();
    SetKeyModeLookup(nullptr);
    SetLineDisplay({});
    RawLog("Close Ok.");
}

} // namespace zz
