#pragma once
// Named events between processes ("ZuZod Show", "ZuZod Quit", "AutoRun Quit"): the owner binds an AF_UNIX datagram
// socket file in the instance lock's folder, which only this user can write in, so no other user can take an
// event's name; signalling sends it one datagram. Pending datagrams are the signalled state, and reading them resets
// it. The datagrams queued in a socket die with its process: a Quit sent to a dead copy can never stop the next one,
// which replaces the socket file the dead copy left. Only datagrams sent by this process's user signal it.
#include <cstdint>
#include <string>

namespace zz {

class NamedEvent {
public:
    NamedEvent() = default;
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Creates the event, not signalled. False when a live process owns the name or the socket fails (Error says
    // why).
    bool Create(const std::string& name);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }
    // Readable while the event is signalled (for poll() and event loops); -1 when not open.
    int Fd() const { return fd_; }
    // True when the event is or becomes signalled within ms; it is then reset.
    bool Wait(uint32_t ms);
    // Drops a pending signal.
    void Reset();
    // Closes the event and removes its socket file.
    void Close();

    // Signals the event of another process (or this one). False when the signal is not delivered: no live process
    // owns the name, or the owner's queue is full; error (when given) says why.
    static bool Signal(const std::string& name, std::string* error = nullptr);
    // True when a live process owns the event.
    static bool Exists(const std::string& name);
    // The socket file of an event: InstanceLock::LockDir() + "/zuzod-" + the name escaped as lock files are +
    // ".sock". A path that would not fit a socket address (107 bytes) names the file "zuzod-" + the 16 lowercase
    // hex digits of the name's 64-bit FNV-1a hash + ".sock". Empty when even that does not fit.
    static std::string Path(const std::string& name);

private:
    // Reads every pending datagram: true when one came from this user.
    bool Drain();
    int fd_ = -1;
    std::string path_, error_;
    uint64_t dev_ = 0, ino_ = 0; // the socket file bound, so that Close removes no one else's
};

} // namespace zz
