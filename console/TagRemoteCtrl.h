#pragma once
// The remote monitor server: monitoring clients follow the line grid over TCP. A client sends any 5 bytes; the
// answer carries every grid field that changed since that client's last answer, with its colour indices, and
// ends with the console's status line. One connection per client address, at most the configured number; a
// client that has not asked for kIdleDropMs (of the Clock's time) is dropped, so idle connections cannot keep
// real monitors out.
//
// Two threads, both blocking in poll() and ended by the destructor, which joins them: one accepts, one answers.
// The answering thread is the only one that sends; connections are shared pointers, so a connection replaced or
// dropped by the accepting thread stays open until the answering thread lets go of it.
#include "console/TagMonitor.h"
#include "platform/Clock.h"
#include "platform/WakeEvent.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zz {

class TagRemoteConn {
public:
    static constexpr size_t kRequestSize = 5;
    static constexpr size_t kAnswerCap = 25000; // an answer stops growing here; the rest waits for the next
    static constexpr size_t kTextMax = 40;      // bytes of a field's text on the wire
    static constexpr int kSendTimeoutMs = 1000; // a client that takes no data for this long is dropped

    // Every field starts marked changed with the row's current colours, so a new client gets the whole grid.
    TagRemoteConn(int32_t lineCount, int fd, TagMonitor* monitor, std::string address);
    ~TagRemoteConn();
    TagRemoteConn(const TagRemoteConn&) = delete;
    TagRemoteConn& operator=(const TagRemoteConn&) = delete;

    // 1 when a whole request was read; 0 otherwise (a short request is dropped, a closed or failed socket
    // clears the alive flag).
    int RecvRequest();
    // Builds the answer under lock (the server's), then sends it outside: 0 sent, -2 failed (alive cleared).
    int SendChanges(std::mutex& lock, const std::string& status);
    // Marks a field changed with its colour pair (caller holds the server's lock).
    void Mark(int32_t line, int32_t field, int32_t fg, int32_t bg);

    int Fd() const { return fd_; }
    const std::string& Address() const { return address_; }
    // Milliseconds since the connection's last whole request (or its start).
    uint32_t IdleMs() const { return TicksSince(lastAsked_.load()); }
    bool Alive() const { return alive_.load(); }

private:
    struct Entry {
        uint8_t changed, fg, bg;
    };
    // Appends the change records and the end record; the caller holds the server's lock.
    void BuildAnswer(std::string& out, const std::string& status);

    int32_t lines_;
    int fd_;
    TagMonitor* monitor_;
    std::string address_;
    std::atomic<bool> alive_{true};
    std::atomic<uint32_t> lastAsked_;
    std::vector<Entry> table_; // lines_ x 8
};

class TagRemoteCtrl : public TagFieldNotify {
public:
    static constexpr size_t kStatusSize = 512;
    static constexpr uint32_t kPassPauseMs = 80;   // at most one answer per client this often
    static constexpr uint32_t kIdleDropMs = 60000; // a client silent this long is dropped

    // A connection limit below 1 leaves the server off. Otherwise it listens on the port (SO_REUSEADDR, all
    // addresses); a port that cannot be opened is shown in a message box and leaves the server off.
    TagRemoteCtrl(int32_t lineCount, int32_t port, int32_t maxConn, TagMonitor* monitor);
    ~TagRemoteCtrl() override;
    TagRemoteCtrl(const TagRemoteCtrl&) = delete;
    TagRemoteCtrl& operator=(const TagRemoteCtrl&) = delete;

    bool Running() const { return listenFd_ >= 0; }
    // The port really bound (useful when 0 asked for any free one), -1 when off.
    int32_t BoundPort() const { return boundPort_; }

    void NotifyField(int32_t line, int32_t field, int32_t fg, int32_t bg) override;
    // Cut to 511 bytes without splitting a double-byte character.
    void SetStatusText(const std::string& text);
    std::string StatusText() const;

    // 0 accepted, -1 refused (the limit is reached or the socket is known). An older connection from the same
    // address is dropped first.
    int AddConn(int fd);
    void DelConn(int fd);
    void DelConnByAddr(const std::string& address);
    size_t ConnCount() const;

    // Told the connection count whenever it changes (the console's monitor panel). Any thread.
    using ConnCountSink = void (*)(int32_t count);
    static void SetConnCountSink(ConnCountSink sink);

private:
    void ListenTcpThread();
    void RemoteCtrlThread();
    // One pass over the connections: answer those with a request, drop the dead.
    void ServePass(const std::vector<std::shared_ptr<TagRemoteConn>>& conns, const std::vector<bool>& readable);
    // Drops the clients silent for kIdleDropMs; the Clock's milliseconds until the next one falls due, -1 none.
    int32_t DropIdle(std::vector<std::shared_ptr<TagRemoteConn>>& conns);
    void ShowConnCount();

    int32_t lines_, port_, maxConn_;
    TagMonitor* monitor_;
    mutable std::mutex lock_; // the connection map, the change tables and the status text
    std::map<int, std::shared_ptr<TagRemoteConn>> conns_;
    std::string status_;
    std::atomic<bool> stop_{false};
    WakeEvent wake_; // stop, or the connection map changed
    int listenFd_ = -1;
    int32_t boundPort_ = -1;
    std::thread listenThread_, serveThread_;
};

} // namespace zz
