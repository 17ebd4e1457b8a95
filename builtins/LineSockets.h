#pragma once
// The sockets a line's script opened, closed with the line's program, and the line's way of waiting on them.
#include <cstdint>
#include <map>

#include "builtins/services/NetSocket.h"
#include "engine/TagLineState.h"

namespace zz {

class TagTelBasic;

class LineSockets final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kSockets;
    explicit LineSockets(TagTelBasic&) {}
    ~LineSockets() override;
    LineSockets(const LineSockets&) = delete;
    LineSockets& operator=(const LineSockets&) = delete;

    // Sockets one line may hold, so that a script opening sockets in a loop cannot use up the process's
    // descriptors that every other line and driver needs.
    static constexpr size_t kMaxSockets = 64;
    // The line holds kMaxSockets: a new one is refused ("too many sockets" is logged once per refusal).
    bool Full() const { return ids_.size() >= kMaxSockets; }
    // Takes a new socket of kind into the table and the line's set: its handle, or a negative id failure (-3,
    // fd closed, when the line is full).
    int32_t Add(int fd, NetSock::Kind kind);
    // Remembers a handle the table already holds.
    void Keep(int32_t id, NetSock::Kind kind) { ids_[id] = kind; }
    // Closes a handle (the line's or another's) and forgets it.
    void Close(int32_t id);
    // Forgets a handle the table no longer holds.
    void Forget(int32_t id) { ids_.erase(id); }
    // Closes the line's TCP sockets (connections and servers); UDP sockets stay.
    void CloseTcp();
    size_t Count() const { return ids_.size(); }

private:
    std::map<int32_t, NetSock::Kind> ids_;
};

// The line's waiter: its wake event; it stops when the line's stop flag (a reload, a close) or quit is set.
SockWaiter LineWaiter(TagTelBasic* root);

// Connects a TCP socket for the line within seconds: 0 with *fd set, or TcpConnectWait's failure; a time-out
// logs "TcpConnect Timeout: %s:%d, sec=%d".
int32_t LineTcpConnect(TagTelBasic* root, int* fd, const char* host, int32_t port, int32_t seconds);

// A line's log line ("lcnt=%d, ..."), or a run-log line for a program without a call object.
void LineLogF(TagTelBasic* root, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

} // namespace zz
