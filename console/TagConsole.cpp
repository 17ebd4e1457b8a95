#include "console/TagConsole.h"

#include "console/TagMonitor.h"
#include "console/TagRemoteCtrl.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/SysTime.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagTelDrive.h"

#include <condition_variable>
#include <cstdio>

namespace zz {

namespace {

std::atomic<TagConsole*> g_console{nullptr};

// Held while a display tick runs, so the shutdown can wait for it.
std::mutex g_tickLock;
std::condition_variable g_tickDone;

constexpr uint32_t kTickWaitMs = 2000;  // the shutdown waits this long for a running tick
constexpr uint32_t kCloseDriveMs = 150; // after the line manager, for threads still on their way out
constexpr uint32_t kResetDriveMs = 800; // the same in a reset
constexpr uint32_t kFailPauseMs = 600;  // after a line manager that did not start
constexpr uint32_t kResetPauseMs = 100;

std::string Format(const char* fmt, int32_t a) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a);
    return text;
}

} // namespace

void SetConsole(TagConsole* console) {
    g_console.store(console);
}

TagConsole* GetConsole() {
    return g_console.load();
}

TagConsole::TagConsole() : quitEvent_(std::make_unique<NamedEvent>()), showEvent_(std::make_unique<NamedEvent>()) {
    // The grid's eight columns as the window first shows them.
    const int32_t widths[TagLineRec::kFields] = {124, 108, 56, 76, 204, 83, 57, 62};
    grid_.SetSize(TagLineRec::kFields, 1);
    for (int32_t c = 0; c < TagLineRec::kFields; ++c)
        grid_.SetColWidth(c, widths[c]);
}

TagConsole::~TagConsole() {
    if (GetConsole() == this) SetConsole(nullptr);
    TagRemoteCtrl::SetConnCountSink(nullptr);
}

bool TagConsole::English() const {
    return RunCfg().language != 0;
}

std::string TagConsole::Caption() const {
    const std::string& title = RunCfg().formTitle;
    if (!title.empty()) return title;
    return English() ? "Karvelian CTI Server" : "青岚舟语音系统 运行平台";
}

std::string TagConsole::PanelText(Panel p) const {
    std::lock_guard<std::mutex> g(textLock_);
    return panels_[size_t(p)];
}

void TagConsole::SetPanelText(Panel p, const std::string& gbk) {
    {
        std::lock_guard<std::mutex> g(textLock_);
        panels_[size_t(p)] = gbk;
    }
    if (ConsoleView* v = view_.load()) v->PanelChanged(p);
}

std::string TagConsole::TrayHint() const {
    std::lock_guard<std::mutex> g(textLock_);
    return trayHint_;
}

void TagConsole::SetBlockAlarm(bool normal) {
    {
        std::lock_guard<std::mutex> g(textLock_);
        if (normal)
            trayHint_ = English() ? "Karvelian CTI Server" : "青岚舟语音平台";
        else
            trayHint_ = English() ? "Err: Lines Block or Quit!" : "注意: 脚本退出或线路堵塞";
    }
    trayImage_ = normal ? kTrayNormal : kTrayAlarm;
    if (ConsoleView* v = view_.load()) v->TrayChanged();
}

void TagConsole::ShowConnCount(int32_t count) {
    if (TagConsole* c = GetConsole())
        c->SetPanelText(Panel::MonConn, Format(c->English() ? "MonitorServer Running, Conn Num: %d"
                                                            : "远程监控服务已经启动, 当前连接数: %d",
                                               count));
}

bool TagConsole::OpenEvents(const std::string& quitEvent, const std::string& showEvent, std::string& error) {
    for (auto [event, name] : {std::pair{quitEvent_.get(), &quitEvent}, std::pair{showEvent_.get(), &showEvent}}) {
        if (!event->Create(*name)) {
            error = "the event \"" + *name + "\" cannot be created: " + event->Error();
            quitEvent_->Close();
            return false;
        }
    }
    return true;
}

int32_t TagConsole::Start(const std::string& cfgFile) {
    cfgFile_ = cfgFile;
    const TagRunCfg& cfg = RunCfg();
    SetLogLevel(cfg.writeLog);
    runLog_ = std::make_unique<TagWriteLog>(cfg.logFile, cfg.logSize, cfg.immediateLog != 0, cfg.writeLog < 1);
    SetRunLog(runLog_.get());
    TagRemoteCtrl::SetConnCountSink(&TagConsole::ShowConnCount);

    FormGeometry g;
    if (ConsoleView* v = view_.load()) v->Geometry(g);
    // The widths come from the file or the grid's own, never from a view that has not been sized yet.
    for (int32_t& w : g.colWidth)
        w = 0;
    formPos_.Load();
    if (!LoadPost(formPos_, g)) {
        int32_t w = 1024, h = 768;
        if (ConsoleView* v = view_.load()) v->ScreenSize(w, h);
        SetDefaultPost(g, w, h, cfg.colGroups, cfg.dispSentence);
    }
    if (ConsoleView* v = view_.load()) v->SetGeometry(g);
    for (int32_t c = 0; c < FormGeometry::kCols; ++c)
        if (g.colWidth[c] > 0) grid_.SetColWidth(c, g.colWidth[c]);

    int32_t status = InitSystem();
    RawLog("InitSystem() OK.");
    SetBlockAlarm(true);
    RawLog("new TagCtrlPages()...");
    RawLog("new TagCtrlPages() OK.");
    return status;
}

int32_t TagConsole::InitSystem() {
    TagRunCfg& cfg = RunCfg();
    auto drive = std::make_unique<TagTelDrive>(cfgFile_.c_str(), &cfg);
    SetLogLevel(cfg.writeLog);
    status_ = drive->status;
    if (status_ < 0) {
        drive.reset();
        SleepMs(kFailPauseMs);
        std::string text = Format(English() ? "Initialize failed. return : %d" : "初始化系统失败: 返回值=%d", status_);
        ShowMessage(text, "Karvelian System");
        SetPanelText(Panel::Info, text);
        return status_;
    }
    LocalTime t = GetLocalTime();
    char text[160];
    std::snprintf(text, sizeof text, "%d-%d-%d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    SetPanelText(Panel::Info, text);
    int32_t ex, in, vir, ip;
    int32_t all = drive->GetLinesNum(ex, in, vir, ip);
    std::snprintf(text, sizeof text,
                  English() ? "Lines:%d: Ex:%d, In:%d, Vir:%d, Ip:%d" : "总线数:%d: 外:%d, 内:%d, 虚:%d, Ip:%d", all,
                  ex, in, vir, ip);
    SetPanelText(Panel::Lines, text);
    WriteRunLogAlways((PanelText(Panel::Info) + " " + text).c_str());

    RawLog("TagMonitor()...");
    monitor_ = std::make_unique<TagMonitor>(drive->LineCount());
    SetMonitor(monitor_.get());
    RawLog("TagMonitor() OK.");
    remote_ = std::make_unique<TagRemoteCtrl>(drive->LineCount(), cfg.monitorPort, cfg.monitorMaxConn, monitor_.get());
    RawLog("TagRemoteCtrl().");
    SetTelDrive(drive.get());
    DispMonitor();
    RawLog("DispMonitor().");
    TagTelDrive* d = drive.release();
    bool started = d->StartWorker([this](TagTelDrive& drive) {
        RawLog("MainRunThread()...");
        WriteRunLog("MainRunThread()...");
        int32_t result = drive.Run(drive.CfgFile().c_str());
        if (result >= 0) drive.WaitLoaded();
        if (ConsoleView* v = view_.load(); v && !shutOnce_.load()) v->RunDone(result, drive.Report());
    });
    if (!started) WriteRunLogAlways("MainRunThread could not be started");
    RawLog("Create : MainRunThread..");
    return status_;
}

void TagConsole::DispMonitor() {
    TagMonitor* m = GetMonitor();
    TagTelDrive* d = GetTelDrive();
    if (!m || !d || d->status != 0) return;
    bool english = English();
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
    m->InitGrid(&grid_);
    if (ConsoleView* v = view_.load()) v->GridReset();
}

// ---- the display tick

void TagConsole::TickLine(int32_t n, TagTelDrive* drive, int32_t& blocked) {
    int32_t b = drive ? drive->GetBlockState(n) : 0;
    TagLineRec row = monitor_->Row(n);
    // The status texts below are written only while the line runs: a script that ended (or a load that failed)
    // since the row was read keeps its "已停止", and with it the tray's alarm.
    if (row.state == 3 && b != row.block) {
        SetRunningLineState(n, b != 0 ? "堵塞" : "运行");
        monitor_->SetBlock(n, b);
        monitor_->Repaint(n);
    }
    // A running line counts while it stays blocked, not only on the tick it blocked; so do lines that
    // stopped or failed to start.
    if ((row.state == 3 && b != 0) || row.state == 0 || row.state == 4) ++blocked;
    if (b != 0 || !drive) return;
    uint32_t seconds = 0, connected = 0;
    bool talk = drive->GetTalkTime(n, seconds, connected) == 1;
    char text[48] = "连通";
    if (RunCfg().dispTalkTime) std::snprintf(text, sizeof text, "连通 %u:%02u", seconds / 60, seconds % 60);
    if ((row.talk != 0) != talk) {
        SetRunningLineState(n, talk ? text : "运行");
        monitor_->SetTalk(n, talk);
        monitor_->Repaint(n);
    } else if (talk && RunCfg().dispTalkTime) {
        SetRunningLineState(n, text);
    }
}

int32_t TagConsole::StatusLine(TagTelDrive& drive) {
    int32_t ex, in, vir, ip, idleEx = 0, idleIp = 0;
    int32_t conn = drive.GetConnectedNum(ex, in, vir, ip);
    int32_t idle = drive.GetIdleNum(idleEx, idleIp);
    char text[200];
    std::snprintf(text, sizeof text,
                  English() ? "Connected:%d.%d: Ex:%d.%d, In:%d, Vir:%d, Ip:%d.%d"
                            : "连通数:%d.%d: 外:%d.%d, 内:%d, 虚:%d, Ip:%d.%d",
                  conn, idle, ex, idleEx, in, vir, ip, idleIp);
    std::string line = text;
    if (int32_t waiting = drive.GetReloadNum(); waiting > 0) line += Format(" Waiting Reload Num:%d", waiting);
    if (remote_) remote_->SetStatusText(line);
    SetPanelText(Panel::Count, line);
    return conn;
}

void TagConsole::Tick() {
    LocalTime t = GetLocalTime();
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    SetPanelText(Panel::Timer, clock);
    CheckEvents();
    if (SystemClosing().load() || timerBusy_.exchange(true)) return;
    struct Done {
        std::atomic<bool>& busy;
        ~Done() {
            std::lock_guard<std::mutex> g(g_tickLock);
            busy = false;
            g_tickDone.notify_all();
        }
    } done{timerBusy_};
    TagTelDrive* drive = GetTelDrive();
    if (monitor_) {
        int32_t blocked = 0;
        for (int32_t n = 0; n < monitor_->LineCount() && !SystemClosing().load(); ++n)
            TickLine(n, drive, blocked);
        if (blocked != lastBlocked_) {
            SetBlockAlarm(blocked == 0);
            lastBlocked_ = blocked;
        }
        if (SystemClosing().load()) return;
        monitor_->Flush();
    }
    if (RunCfg().immediateLog == 0 && runLog_) runLog_->Flush();
    if (drive) freedMemory_.Step(StatusLine(*drive));
    if (ConsoleView* v = view_.load()) v->Ticked();
}

std::string TagConsole::LogFileName() const {
    return runLog_ ? runLog_->FileName() : std::string();
}

void TagConsole::CheckEvents() {
    ConsoleView* v = view_.load();
    if (showEvent_->Wait(0) && v) v->ShowWindow();
    if (quitEvent_->Wait(0)) {
        RawLog("HasQuitEvent!");
        if (v) v->PostQuit();
    }
}

int TagConsole::QuitEventFd() const {
    return quitEvent_->Fd();
}

int TagConsole::ShowEventFd() const {
    return showEvent_->Fd();
}

// ---- quit, shutdown, reset, reload

void TagConsole::Exit() {
    RawLog("Exit()!");
    if (ConsoleView* v = view_.load()) v->PostQuit();
}

void TagConsole::DeleteSystem(uint32_t pauseMs) {
    RawLog("delete pTelDrive;");
    TagTelDrive* d = GetTelDrive();
    // The scripts' quit handlers run with the manager still published; only then does it go.
    if (d) d->Close();
    SetTelDrive(nullptr);
    delete d;
    SleepMs(pauseMs);
    RawLog("delete pRemoteCtrl;");
    remote_.reset();
    RawLog("delete pMonitor;");
    SetMonitor(nullptr);
    monitor_.reset();
}

void TagConsole::Shutdown() {
    if (shutOnce_.exchange(true)) return;
    SystemClosing() = true;
    RawLog("isCloseing = true;");
    {
        std::unique_lock<std::mutex> lk(g_tickLock);
        const uint32_t start = GetTickCount();
        while (timerBusy_.load() && TicksSince(start) < kTickWaitMs)
            GetClock().WaitOn(g_tickDone, lk, kTickWaitMs - TicksSince(start));
    }
    RawLog("delete pCtrlPages...");
    pages_.CloseAll();
    RawLog("ModifyTrayIcon()...");
    if (ConsoleView* v = view_.load()) v->RemoveTray();
    RawLog("SavePost()...");
    FormGeometry g;
    // Without a window there is no position to keep.
    if (ConsoleView* v = view_.load(); v && v->Geometry(g)) SavePost(formPos_, g);
    DeleteSystem(kCloseDriveMs);
    RawLog("delete _logFp ...");
    SetRunLog(nullptr);
    runLog_.reset();
    RawLog("Close Ok.");
    quitEvent_->Close();
    showEvent_->Close();
    if (ConsoleView* v = view_.load()) v->CloseWindow();
}

void TagConsole::Reset() {
    if (shutOnce_.load() || resetBusy_.exchange(true)) return;
    SleepMs(kResetPauseMs);
    if (RunCfg().dispSentence == 1) pages_.CloseAll();
    SetPanelText(Panel::Info, English() ? "Reinitialize..." : "正在重新初始化...");
    SystemClosing() = true;
    DeleteSystem(kResetDriveMs);
    InitSystem();
    SystemClosing() = false;
    resetBusy_ = false;
}

void TagConsole::Reload() {
    if (RunCfg().dispSentence == 1) pages_.CloseAll();
    TagTelDrive* d = GetTelDrive();
    if (d && d->status == 0) d->StartReloadAll();
}

void TagConsole::HangupSelected() {
    TagTelDrive* d = GetTelDrive();
    int32_t line = monitor_ ? monitor_->SelectedLine() : -1;
    if (!d || d->status != 0 || line < 0) return;
    d->HangupLine(line);
}

bool TagConsole::CanOpenDebug(int32_t line) const {
    TagTelDrive* d = GetTelDrive();
    if (RunCfg().dispSentence != 1 || !d || d->status != 0 || pages_.HasPage(line)) return false;
    TagTelLine* e = d->Line(line);
    if (!e) return false;
    std::lock_guard<std::mutex> lk(e->programLock);
    return e->program != nullptr;
}

} // namespace zz

namespace zz {

void InstallDebugHooks() {
    EngineHooks& h = TheEngineHooks();
    h.debugLineHook = [](TagTelBasic* prog, int32_t index, const char* text, int32_t) {
        if (SystemClosing().load() || !prog) return;
        DispRunInfo(index, text, prog->lineNo);
        if (TagConsole* c = GetConsole()) c->Pages().OnLine(prog, index);
    };
    h.debugFuncHook = [](TagTelBasic* unit, int32_t index, const char* text, int32_t, const char*, bool cur,
                         bool prev) {
        if (SystemClosing().load() || !unit) return;
        DispRunInfo(index, text, unit->lineNo);
        if (TagConsole* c = GetConsole()) c->Pages().OnFunc(unit, index, cur, prev);
    };
    h.flushDebugPages = [](TagTelBasic* prog) {
        if (SystemClosing().load()) return;
        if (TagConsole* c = GetConsole()) c->Pages().OnPause(prog);
    };
}

} // namespace zz
