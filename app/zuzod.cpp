// zuzod: the platform's process. Reads ZuZodRun.cfg in the working directory, runs as a single instance per
// FORM_TITLE, keeps the run log, builds the lines and runs their scripts. With a display it shows the operator
// window and its tray icon; without one (or with --headless) it runs everything but the window. SIGTERM, SIGINT,
// SIGHUP, the named "Quit" event and a script's Exit() stop it in order; SIGUSR1 reloads every script.
#include "app/SystemStart.h"
#include "builtins/Statements.h"
#include "console/ConsoleRun.h"
#include "console/TagConsole.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/TagRunCfg.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>

using namespace zz;

namespace {

void Usage(FILE* to) {
    fputs("usage: zuzod [--headless] [--config FILE]\n"
          "Runs the platform on the configuration file (default ZuZodRun.cfg in the working directory).\n"
          "--headless runs without the window, as happens anyway when there is no display.\n",
          to);
}

// The stop and reload signals, blocked in every thread from the start: the event loop reads them from a
// signalfd, so one that arrives during start-up waits for it instead of killing the process.
int BlockSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char** argv) {
    // Logs, recordings and script output hold what callers say and key in: other users of the machine may not
    // read what the platform writes (the umask only ever tightens).
    umask(umask(0) | 027);
    int signalFd = BlockSignals();
    ConsoleStart start;
    start.signalFd = signalFd;
    bool headless = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--config") && i + 1 < argc) {
            start.cfgFile = argv[++i];
        } else if (!strcmp(argv[i], "--headless")) {
            headless = true;
        } else if (!strcmp(argv[i], "--help")) {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }

    // Only the names are needed here; the line manager reads the file again and reports what is wrong with it.
    TagRunCfg& cfg = RunCfg();
    SetMessageStderr(false);
    TagRunCfg::ReadCfgFile(start.cfgFile, &cfg);
    SetMessageStderr(true);
    std::string instance = cfg.formTitle.empty() ? "ZuZod from Karvelian" : cfg.formTitle;
    std::string showEvent = cfg.formTitle.empty() ? "ZuZod Show" : cfg.showEventName;
    std::string quitEvent = cfg.formTitle.empty() ? "ZuZod Quit" : cfg.quitEventName;

    InstanceLock lock;
    int locked = lock.Acquire(instance);
    if (locked < 0) {
        ShowMessage("the instance lock cannot be taken: " + lock.Error(), "Karvelian System");
        return 1;
    }
    if (locked == 0) {
        ShowMessage("程序已经启动！", "青岚舟自动语音系统平台");
        // Ask the running copy to show itself.
        std::string why;
        if (NamedEvent::Signal(showEvent, &why))
            SleepMs(130);
        else
            ShowMessage("the running copy was not asked to show its window: " + why, "青岚舟自动语音系统平台");
        return 1;
    }

    PrepareSystem();
    TagConsole console;
    if (std::string why; !console.OpenEvents(quitEvent, showEvent, why)) {
        ShowMessage(why, "Karvelian System");
        return 1;
    }
    SetConsole(&console);
    SetExitRoutine([] {
        if (TagConsole* c = GetConsole()) c->Exit();
    });
    int code = headless ? RunHeadless(argc, argv, console, start) : RunConsoleWindow(argc, argv, console, start);
    SetExitRoutine(nullptr);
    SetConsole(nullptr);
    lock.Release();
    return code;
}
