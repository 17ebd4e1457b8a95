#pragma once
// Named events between processes ("ZuZod Show", "ZuZod Quit", "AutoRun Quit"): the owner binds an abstract
// AF_UNIX datagram socket named after the event; signalling sends it one datagram. Pending datagrams are the
// signalled state, and reading them resets it. An abstract name vanishes with its process, so a Quit left
// from a dead copy can never stop the next one. Only datagrams sent by this process's user signal it: another
// user's are dropped.
#include <cstdint>
#include <string>

namespace zz {

class NamedEvent {
public:
    NamedEvent() = default;
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Creates the event, not signalled. False when the name is taken by a live owner or the socket fails.
    bool Create(const std::string& name);
    bool IsOpen() const { return fd_ >= 0; }
    // Readable while the event is signalled (for poll() and event loops); -1 when not open.
    int Fd() const { return fd_; }
    // True when the event is or becomes signalled within ms; it is then reset.
    bool Wait(uint32_t ms);
    // Drops a pending signal.
    void Reset();
    void Close();

    // Signals the event of another process (or this one). False when no live process owns the name.
    static bool Signal(const std::string& name);
    // True when a live process owns the event.
    static bool Exists(const std::string& name);

private:
    // Reads every pending datagram: true when one came from this user.
    bool Drain();
    int fd_ = -1;
};

} // namespace zz
