#pragma once
// The time bounds of every call a database back end makes into its client library, and the way a line waits for
// one: the call runs on a thread of its own while the line blocks on its wake event, so a quit or a reload ends
// the wait at once and a server that never answers holds the line no longer than the bound. A call the line gave
// up goes on by itself; when it returns, its own clean-up releases what it used (the back end has let go of it).
#include <cstdint>
#include <functional>
#include <string>

namespace zz {

class WakeEvent;

// Connect: 15 s (the ODBC login time-out of old); statement: 60 s, result fetch included.
constexpr int64_t kDbConnectBoundMs = 15000;
constexpr int64_t kDbQueryBoundMs = 60000;
// A call made once the line was already told to quit (by its quit handler) waits at most this long, so that a
// dead server cannot keep a quitting line past the shutdown's wait.
constexpr int64_t kDbQuittingBoundMs = 5000;

struct DbBounds {
    int64_t connectMs = kDbConnectBoundMs;
    int64_t queryMs = kDbQueryBoundMs;
};
DbBounds GetDbBounds();
// Tests shorten the bounds; a value <= 0 restores its default.
void SetDbBounds(int64_t connectMs, int64_t queryMs);
// Whole seconds for client libraries that take seconds (at least 1).
int32_t BoundSeconds(int64_t ms);

// What ends a line's database wait early: its wake event and the test that the line is to stop.
struct DbWaiter {
    WakeEvent* wake = nullptr;
    std::function<bool()> stopped;
};

// Makes w the waiter of the calling thread's database calls while it lives (the database builtins set it).
class ScopedDbWaiter {
public:
    explicit ScopedDbWaiter(const DbWaiter* w);
    ~ScopedDbWaiter();
    ScopedDbWaiter(const ScopedDbWaiter&) = delete;
    ScopedDbWaiter& operator=(const ScopedDbWaiter&) = delete;

private:
    const DbWaiter* previous_;
};

// The calling thread's waiter (null outside a line), and whether w's line is to stop now.
const DbWaiter* CurrentDbWaiter();
bool DbStopAsked(const DbWaiter* w);

enum class DbCallEnd { kDone, kTimedOut, kStopped };

struct DbCall {
    const char* backEnd = "";     // for the run log: "MySQL", "SQL Server", "ODBC", "Tqr"
    std::string server;           // ... the server or connection the call talks to
    const char* what = "";        // ... "connect" or "statement"
    std::function<void()> run;    // the library call; what it writes must outlive the wait (the job owns it)
    std::function<void()> cancel; // optional: makes a running call return soon; called at most once, on the
                                  // waiting thread, while run has not finished
    std::function<void()> orphan; // after run, only when the wait ended first: frees what run used
};

// Runs call.run and waits for it up to ms of Clock time, or until the thread's waiter is told to stop while it
// waits (a stop already asked when the call starts does not end it: a quit handler still writes its records,
// within kDbQuittingBoundMs). kDone: run finished. Otherwise the caller must not touch what run uses any more, and the
// run log says which back end and server did not answer and how long the line waited.
DbCallEnd RunDbCall(int64_t ms, DbCall call);

// Waits up to ms of real time until no call is running (of backEnd, as DbCall names it; null: of any back end):
// true when none is left.
bool WaitDbCallsEnded(int64_t ms, const char* backEnd = nullptr);
// Before a client library is unloaded: true when no call of backEnd is inside it (after a short wait for calls
// that were cancelled). Otherwise the library file gets a reference of its own that is never given back, so that
// neither this unload nor the one at exit pulls the code from under the call, and false is returned.
bool MayUnloadDbLibrary(const char* backEnd, const std::string& file);

} // namespace zz
