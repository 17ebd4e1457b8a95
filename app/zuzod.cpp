// zuzod: the platform's process. Reads ZuZodRun.cfg in the working directory, runs as a single instance per
// FORM_TITLE, keeps the run log, builds the lines and runs their scripts, and stops in order on SIGTERM/SIGINT
// or the named "Quit" event. It runs headless: message boxes go to standard error and the run log.
#include "app/SystemStart.h"
#include "builtins/Statements.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

using namespace zz;

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop.store(true);
}

// A script's Exit(): the quit message of the windowed program, here the same orderly stop as the Quit event.
void OnScriptExit() {
    RawLog("Exit()!");
    g_stop.store(true);
}

const char* kCfgFile = "ZuZodRun.cfg";

void Usage() {
    fputs("usage: zuzod [--config FILE]\n"
          "Runs the platform on the configuration file (default ZuZodRun.cfg in the working directory).\n",
          stderr);
}

} // namespace

int main(int argc, char** argv) {
    std::string cfgFile = kCfgFile;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--config") && i + 1 < argc) {
            cfgFile = argv[++i];
        } else {
            Usage();
            return 2;
        }
    }

    TagRunCfg& cfg = RunCfg();
    int rc = TagRunCfg::ReadCfgFile(cfgFile, &cfg);
    if (rc == -2) ShowMessage("\"" + cfgFile + "\" File Open Error.", "Karvelian System");

    std::string instance = cfg.formTitle.empty() ? "ZuZod from Karvelian" : cfg.formTitle;
    std::string showName = cfg.formTitle.empty() ? "ZuZod Show" : cfg.showEventName;
    std::string quitName = cfg.formTitle.empty() ? "ZuZod Quit" : cfg.quitEventName;

    InstanceLock lock;
    if (lock.Acquire(instance) != 1) {
        ShowMessage("程序已经启动！", "青岚舟自动语音系统平台");
        // Ask the running copy to show itself, as a second start does.
        NamedEvent::Signal(showName);
        SleepMs(130);
        return 1;
    }

    NamedEvent quitEvent, showEvent;
    quitEvent.Create(quitName);
    showEvent.Create(showName);

    std::unique_ptr<TagWriteLog> runLog =
        std::make_unique<TagWriteLog>(cfg.logFile, cfg.logSize, cfg.immediateLog != 0, cfg.writeLog < 1);
    SetRunLog(runLog.get());
    SetMessageSink([](const std::string& text, const std::string& caption) {
        WriteRunLogAlways((caption + ": " + text).c_str());
    });
    RawLog("zuzod started.");
    WriteRunLogAlways(("zuzod started, instance \"" + instance + "\"").c_str());
    if (rc == -3) WriteRunLogAlways("ZuZodRun.cfg: line lists overlap");

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SetExitRoutine(OnScriptExit);
    InitSystem(cfgFile);
    RawLog("InitSystem() OK.");

    // The display tick: flush the run log, watch the named events.
    uint32_t lastFlush = GetTickCount();
    while (!g_stop.load()) {
        if (quitEvent.Wait(30)) {
            WriteRunLogAlways("Quit event received");
            break;
        }
        if (showEvent.Wait(0)) WriteRunLogAlways("Show event received: running without a window");
        if (TicksSince(lastFlush) >= uint32_t(cfg.dispDelay)) {
            runLog->Flush();
            lastFlush = GetTickCount();
        }
        SleepMs(20);
    }

    WriteRunLogAlways("zuzod closing");
    CloseSystem();
    SetExitRoutine(nullptr);
    runLog->Flush();
    RawLog("delete _logFp ...");
    SetMessageSink(nullptr);
    SetRunLog(nullptr);
    runLog.reset();
    quitEvent.Close();
    showEvent.Close();
    lock.Release();
    return 0;
}
