#pragma once
// How the program runs its console, with or without the window; no Qt in this header, so GBK-compiled code may
// include it.
#include <string>

namespace zz {

class TagConsole;

struct ConsoleStart {
    std::string cfgFile = "ZuZodRun.cfg";
    // The signalfd of SIGTERM, SIGINT, SIGHUP (orderly shutdown) and SIGUSR1 (reload every script), blocked in
    // every thread before any starts; -1 none.
    int signalFd = -1;
};

// Without a window: message boxes to standard error and the run log. 0 after an orderly stop, 1 when the system
// did not start or gave no line a script.
int RunHeadless(int argc, char** argv, TagConsole& console, const ConsoleStart& start);
// With the window (and the tray icon when the desktop has one); the exit status.
int RunConsoleWindow(int argc, char** argv, TagConsole& console, const ConsoleStart& start, bool withTray = true);

} // namespace zz
