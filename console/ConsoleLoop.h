#pragma once
// The console's event loop glue, shared by the window and a run without one: the display timer, the named events'
// and the signals' descriptors, and the one line the program prints once it runs. Signals: SIGTERM, SIGINT and
// SIGHUP run the orderly shutdown, SIGUSR1 reloads every script; the program blocks them before any thread starts
// and hands their signalfd here.
#include "console/ConsoleRun.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <string>

namespace zz {

class TagConsole;
class ConsoleView;

class ConsoleLoop : public QObject {
public:
    ConsoleLoop(TagConsole& console, ConsoleView& view);
    // Starts the console and the timer; the console's status (negative: no line manager).
    int32_t Start(const ConsoleStart& start);
    // The line on standard error once the console runs: lines by kind, the run log, the monitor port, how to stop.
    static std::string StartLine(TagConsole& console);

private:
    void OnSignal();

    TagConsole& console_;
    ConsoleView& view_;
    QTimer tick_;
    int signalFd_ = -1;
    std::unique_ptr<QSocketNotifier> signals_, quit_, show_;
};

} // namespace zz
