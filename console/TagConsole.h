#pragma once
// The operator console without its window: the run log and named events it owns, InitSystem and the status
// table's first fill, the display tick (line states, talk times, the tray alarm, counters and the status line),
// the quit message, and the orderly shutdown, reset and reload. A window (console/Rununit.h) shows what it
// decides through ConsoleView; tests and a run without a display use other views.
#include "console/DebugPages.h"
#include "console/GridCells.h"
#include "console/TagMapCfg.h"
#include "platform/FreedMemory.h"
#include "telephony/TagTelDrive.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zz {

class NamedEvent;
class TagMonitor;
class TagRemoteCtrl;
class TagTelDrive;
class TagWriteLog;

enum class Panel { Timer, Info, Lines, Count, MonConn, kCount };

// What the core asks of the window. Unless a method says otherwise the core calls it on the thread that drives
// the core (the window's thread).
class ConsoleView {
public:
    virtual ~ConsoleView() = default;
    // Any thread (the monitor server reports its connections from its own).
    virtual void PanelChanged(Panel) {}
    virtual void TrayChanged() {}
    virtual void RemoveTray() {}
    virtual void ShowWindow() {}
    // A display tick has copied its changes into the grid.
    virtual void Ticked() {}
    // The grid's size or titles changed.
    virtual void GridReset() {}
    virtual bool Geometry(FormGeometry&) { return false; }
    virtual void SetGeometry(const FormGeometry&) {}
    virtual void ScreenSize(int32_t& w, int32_t& h) { w = 1024, h = 768; }
    // The end of the shutdown: the window closes and the program leaves its event loop.
    virtual void CloseWindow() {}
    // Any thread: the quit message, queued to the window's thread, which then calls TagConsole::Shutdown.
    virtual void PostQuit() {}
    // The main run thread has handed out the lines and they have loaded: Run's result and what the lines given
    // a script can do.
    virtual void RunDone(int32_t /*result*/, const TagTelDrive::LoadReport& /*lines*/) {}
};

class TagConsole {
public:
    // Tray images: 0 normal, 2 alarm.
    static constexpr int kTrayNormal = 0, kTrayAlarm = 2;
    // The version label the main window shows (and scripts read as "Version", with "-DeZiv" after it).
    static constexpr const char* kVersionLabel = "V1.0.0";

    TagConsole();
    ~TagConsole();
    TagConsole(const TagConsole&) = delete;
    TagConsole& operator=(const TagConsole&) = delete;

    void SetView(ConsoleView* view) { view_.store(view); }
    void SetCfgFile(const std::string& file) { cfgFile_ = file; }

    // Creates the named "Quit" and "Show" events before anything starts: a platform that cannot be stopped or
    // shown through them does not start. False with the reason in error.
    bool OpenEvents(const std::string& quitEvent, const std::string& showEvent, std::string& error);
    // The main window's creation: the configuration read again, the run log, the window position, InitSystem and
    // the tray. Returns InitSystem's status (negative: no line manager).
    int32_t Start(const std::string& cfgFile);
    // Builds the line manager and, when it starts, the status table, the monitor server, the grid's fill and
    // the main run thread. The manager's status; on failure no manager is left and the reason is shown.
    int32_t InitSystem();
    void DispMonitor();

    // One display tick.
    void Tick();
    // Checks the named events: "Show" shows the window, "Quit" posts the quit message. The window also calls it
    // when their descriptors become readable.
    void CheckEvents();
    int QuitEventFd() const;
    int ShowEventFd() const;

    // The quit message posted by a script's Exit() (any thread): always reaches the shutdown, also during
    // start-up or after a failed start.
    void Exit();
    // The orderly shutdown; runs once, a second request does nothing. Every step is written to RawLog.txt
    // before it acts.
    void Shutdown();
    bool ShutdownStarted() const { return shutOnce_.load(); }
    // Deletes the line manager and the console objects and runs InitSystem again.
    void Reset();
    // Asks the line manager to reload every script (on its own thread).
    void Reload();
    // Hangs up the call of the grid's selected line.
    void HangupSelected();
    // Whether a debugger page may be opened for the line.
    bool CanOpenDebug(int32_t line) const;

    // ---- What the window shows ----
    std::string PanelText(Panel p) const;
    void SetPanelText(Panel p, const std::string& gbk);
    int TrayImage() const { return trayImage_.load(); }
    std::string TrayHint() const;
    void SetBlockAlarm(bool normal);
    // The window's caption and the tray's tip.
    std::string Caption() const;
    GridCells& Grid() { return grid_; }
    TagCtrlPages& Pages() { return pages_; }
    TagMapCfg& FormPos() { return formPos_; }
    TagMonitor* Monitor() const { return monitor_.get(); }
    TagRemoteCtrl* Remote() const { return remote_.get(); }
    const std::string& CfgFile() const { return cfgFile_; }
    // The run log's current file, empty without one.
    std::string LogFileName() const;
    int32_t Status() const { return status_; }
    bool English() const;

private:
    void DeleteSystem(uint32_t pauseMs);
    void TickLine(int32_t n, TagTelDrive* drive, int32_t& blocked);
    // The status line's counts; returns the lines in a call.
    int32_t StatusLine(TagTelDrive& drive);
    // Shows a window-thread text for the monitor connection count.
    static void ShowConnCount(int32_t count);

    // Read by the monitor server's threads too (the connection count).
    std::atomic<ConsoleView*> view_{nullptr};
    std::string cfgFile_ = "ZuZodRun.cfg";
    int32_t status_ = -1;
    std::unique_ptr<TagWriteLog> runLog_;
    FreedMemory freedMemory_; // what the calls freed, handed back from the tick
    std::unique_ptr<NamedEvent> quitEvent_, showEvent_;
    std::unique_ptr<TagMonitor> monitor_;
    std::unique_ptr<TagRemoteCtrl> remote_;
    GridCells grid_;
    TagCtrlPages pages_;
    TagMapCfg formPos_;
    mutable std::mutex textLock_;
    std::string panels_[size_t(Panel::kCount)];
    std::string trayHint_;
    std::atomic<int> trayImage_{kTrayNormal};
    std::atomic<bool> shutOnce_{false};
    std::atomic<bool> timerBusy_{false};
    std::atomic<bool> resetBusy_{false};
    int32_t lastBlocked_ = 0;
};

// The process's console (null when none); the hooks of the engine and the builtins reach it through this.
void SetConsole(TagConsole* console);
TagConsole* GetConsole();

} // namespace zz
