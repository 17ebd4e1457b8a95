#pragma once
// The connection pool: all lines that open the same source share up to DB_MAX_CONN back ends. Each statement
// borrows one back end for its run, first come first served, and gets the whole result as a local copy.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "data/TagDataSet.h"

namespace zz {

class TagLocalData;

// Creates a back end of one type from the four DbOpen operands. Back ends outside this library register
// theirs (types 1 and 5) when their client library loads; 0 and 4 are built in.
using TagBackEndMaker = std::unique_ptr<TagDataSet> (*)(const char* a1, const char* a2, const char* a3, const char* a4);
// Installs the maker for a pooled type (0, 1, 4 or 5); null removes it. Returns the previous one.
TagBackEndMaker SetPoolBackEndMaker(int32_t type, TagBackEndMaker maker);

class WakeEvent;

// One statement waiting for a back end. Whoever holds a back end runs the waiting statements in arrival order
// (each for its owner, whose thread is woken once its result is in) and hands the back end over only every
// kServeBatch statements, so a back end never idles while a woken thread is being scheduled. The owner waits on
// its line's wake event, so a quit or reload ends its wait at once; a statement another thread runs then goes on
// into the request's own result holder (the request lives as long as either side holds it).
struct TagDbReq {
    uint32_t threadId = 0;
    std::string sql;
    TagLocalData* dst = nullptr;          // the owner's: written only on the owner's thread
    std::unique_ptr<TagLocalData> theirs; // where another thread leaves the result
    TagDataSet* dataSet = nullptr;        // handed to this request's thread, which then runs it and serves the queue
    bool taken = false;                   // out of the queue: another thread runs it
    bool done = false;                    // ... and has finished; result holds the outcome
    bool gone = false;                    // the owner stopped waiting: wake may be gone
    int result = 0;
    WakeEvent* wake = nullptr; // signalled, under the connection's lock, when done or handed a back end
};
class TagDbConnection {
public:
    static constexpr int kWaitTurns = 200; // turns of kTurnMs before a statement gives up (-200)
    static constexpr uint32_t kTurnMs = 50;
    // Statements a thread runs for others before it hands its back end to the oldest waiting thread.
    static constexpr int kServeBatch = 8;

    // A connection to the source (type, a1, a2, a3); a4 is the log label of the back ends it creates.
    TagDbConnection(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4);
    ~TagDbConnection();
    TagDbConnection(const TagDbConnection&) = delete;
    TagDbConnection& operator=(const TagDbConnection&) = delete;

    // Counts one more open and adds a back end while the count is within DB_MAX_CONN, connecting without any
    // lock held. Open number (0-based), or -1 for a type the pool does not take (or that has no back end
    // available).
    int AddDataSet(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4);
    // Runs sql on a back end into dst. -100 no back end, -200 none became free in time (or the line was told to
    // quit or reload while it waited for one), -1 the line was told so while another line's thread ran it.
    int Exec(char* sql, TagLocalData* dst);
    // Counts one open less and drops a back end when the count falls below DB_MAX_CONN. The new count, or -1.
    int Close();

    bool Matches(int32_t type, const char* a1, const char* a2, const char* a3);
    int BackEndCount();
    int OpenCount();
    // Statements queued for a back end now.
    int WaitingCount();

private:
    int ExecUse(char* sql, TagLocalData* dst);
    // Runs own (already handed ds) and then queued statements on ds; gives ds back. Caller holds lk.
    void Serve(std::unique_lock<std::mutex>& lk, const std::shared_ptr<TagDbReq>& own);
    // Makes ds free again (closing it when Close dropped it meanwhile) and hands it on. Caller holds lk.
    void GiveBack(std::unique_lock<std::mutex>& lk, TagDataSet* ds);
    // Hands free back ends to the oldest waiting requests. Caller holds lock.
    void HandOut();
    void WaitTurn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv);

    std::vector<std::unique_ptr<TagDataSet>> sets;
    std::deque<std::shared_ptr<TagDbReq>> waiters;
    // Back ends dropped by Close while lent out: destroyed by their borrower when it gives them back.
    std::vector<std::unique_ptr<TagDataSet>> retired;
    int32_t openCount = 0;
    int32_t connecting = 0; // back ends being connected now: statements wait for them rather than fail
    std::mutex lock;
    std::condition_variable givenBack; // wakes a "use " statement waiting for a lent back end
    int32_t dbType = -1;
    std::string openArg1, openArg2, openArg3, openArg4;
};

class TagDbConnectionsCtrl {
public:
    TagDbConnectionsCtrl() = default;
    ~TagDbConnectionsCtrl();
    TagDbConnectionsCtrl(const TagDbConnectionsCtrl&) = delete;
    TagDbConnectionsCtrl& operator=(const TagDbConnectionsCtrl&) = delete;

    // Connection index >= 0, or negative (see TagDbConnection::AddDataSet). The pool's lock is held only to find
    // or register the connection: statements of other lines go on while this one connects.
    int Open(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4);
    // -10 when index is not a connection of the pool.
    int Exec(int index, char* sql, TagLocalData* dst);
    int Close(int index);

    TagDbConnection* Connection(int index);
    int ConnectionCount();

private:
    std::mutex lock; // taken before any connection's lock, never while connecting
    std::vector<std::unique_ptr<TagDbConnection>> connections;
};

// The process's pool, created on first use and destroyed at exit.
TagDbConnectionsCtrl* GetDbPool();

} // namespace zz
