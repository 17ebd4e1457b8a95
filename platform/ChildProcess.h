#pragma once
// A program of the host started from a command line: it inherits standard input, output and error only (every
// other descriptor of the process is closed in it), and a thread of its own reaps it whenever it ends, so a
// program left running never becomes a zombie. The waiting side blocks on a WakeEvent that the end signals.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zz {

class WakeEvent;

class ChildProcess {
public:
    ChildProcess() = default;
    // Leaves a running program running (its reaper still reaps it).
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the command line, split into words as Windows splits one (blanks separate, double quotes group, a
    // backslash before a quote escapes it); the first word is the program, looked up in PATH unless it holds a
    // path separator. False when it cannot be started.
    bool Start(const std::string& commandLine);
    // The event signalled when the program ends (null: none). Cleared before the event goes.
    void Watch(WakeEvent* wake);
    bool Ended() const;
    // The exit status once ended; 128 + the signal for a program that a signal ended.
    int32_t ExitCode() const;
    // Kills a program that has not ended.
    void Kill();

    // The words of a command line as Start splits them.
    static std::vector<std::string> SplitCommandLine(const std::string& commandLine);

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace zz
