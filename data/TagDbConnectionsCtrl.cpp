#include "data/TagDbConnectionsCtrl.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <optional>

#include "data/DbCallBound.h"
#include "data/TagLocalData.h"
#include "platform/Clock.h"
#include "platform/SysTime.h"
#include "platform/TagRunCfg.h"
#include "platform/WakeEvent.h"

namespace zz {

std::unique_ptr<TagDataSet> MakeDbfBackEnd(const char* a1, const char* a2, const char* a3, const char* a4);
std::unique_ptr<TagDataSet> MakeAdoBackEnd(const char* a1, const char* a2, const char* a3, const char* a4);

namespace {

constexpr int32_t kMaxType = 8;
std::atomic<TagBackEndMaker> g_makers[kMaxType] = {{MakeDbfBackEnd}, {nullptr}, {nullptr}, {nullptr},
                                                   {MakeAdoBackEnd}, {nullptr}, {nullptr}, {nullptr}};

bool PooledType(int32_t type) {
    return type == 0 || type == 1 || type == 4 || type == 5;
}

const char* Str(const char* s) {
    return s ? s : "";
}

// A back end that throws gives a failure code, and the borrowed back end still goes back.
int RunOn(TagDataSet* ds, char* sql, TagLocalData* dst) {
    try {
        return ds->ExecToLocal(sql, dst);
    } catch (...) {
        dst->ClearResult();
        return -4;
    }
}

} // namespace

TagBackEndMaker SetPoolBackEndMaker(int32_t type, TagBackEndMaker maker) {
    if (type < 0 || type >= kMaxType) return nullptr;
    return g_makers[type].exchange(maker);
}

// ---- TagDbConnection ----

TagDbConnection::TagDbConnection(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4)
    : dbType(type), openArg1(Str(a1)), openArg2(Str(a2)), openArg3(Str(a3)), openArg4(Str(a4)) {}

TagDbConnection::~TagDbConnection() {
    sets.clear();
    retired.clear();
}

bool TagDbConnection::Matches(int32_t type, const char* a1, const char* a2, const char* a3) {
    std::lock_guard<std::mutex> lk(lock);
    return dbType == type && openArg1 == Str(a1) && openArg2 == Str(a2) && openArg3 == Str(a3);
}

int TagDbConnection::BackEndCount() {
    std::lock_guard<std::mutex> lk(lock);
    return int(sets.size());
}

int TagDbConnection::OpenCount() {
    std::lock_guard<std::mutex> lk(lock);
    return openCount;
}

int TagDbConnection::WaitingCount() {
    std::lock_guard<std::mutex> lk(lock);
    return int(waiters.size());
}

int TagDbConnection::AddDataSet(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4) {
    if (!PooledType(type)) return -1;
    TagBackEndMaker maker = g_makers[type].load();
    if (!maker) return -1;
    int32_t count;
    bool grow;
    {
        std::lock_guard<std::mutex> lk(lock);
        dbType = type;
        count = ++openCount;
        grow = openCount <= DbMaxConn();
        if (grow) {
            openArg1 = Str(a1);
            openArg2 = Str(a2);
            openArg3 = Str(a3);
            openArg4 = Str(a4);
            ++connecting;
        }
    }
    if (grow) {
        // Connecting can take seconds: statements of the lines already open go on meanwhile.
        std::unique_ptr<TagDataSet> ds = maker(Str(a1), Str(a2), Str(a3), Str(a4));
        std::lock_guard<std::mutex> lk(lock);
        --connecting;
        if (ds) {
            ds->busy = false;
            ds->useDone = false;
            sets.push_back(std::move(ds));
        }
        HandOut();
    }
    return count - 1;
}

// A waiter is woken at once when its statement is done or a back end is handed to it; the turn's time bound
// still goes through the process clock so that a virtual clock runs the 10-second limit in no time.
void TagDbConnection::WaitTurn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv) {
    if (dynamic_cast<VirtualClock*>(&GetClock())) {
        lk.unlock();
        SleepMs(kTurnMs);
        lk.lock();
        return;
    }
    cv.wait_for(lk, std::chrono::milliseconds(kTurnMs));
}

void TagDbConnection::HandOut() {
    // Statements still waiting while the last back end is gone (closed or never connected) find none.
    if (sets.empty() && connecting == 0) {
        for (auto& req : waiters) {
            req->taken = req->done = true;
            req->result = -100;
            req->wake->Signal();
        }
        waiters.clear();
        return;
    }
    for (auto& ds : sets) {
        if (waiters.empty()) break;
        if (ds->busy) continue;
        ds->busy = true;
        std::shared_ptr<TagDbReq> req = std::move(waiters.front());
        waiters.pop_front();
        req->taken = true;
        req->dataSet = ds.get();
        req->wake->Signal();
    }
}

void TagDbConnection::Serve(std::unique_lock<std::mutex>& lk, const std::shared_ptr<TagDbReq>& own) {
    TagDataSet* ds = own->dataSet;
    std::shared_ptr<TagDbReq> req = own;
    for (int served = 0;; ++served) {
        TagLocalData* into = req == own ? own->dst : req->theirs.get();
        lk.unlock();
        int rc = RunOn(ds, req->sql.data(), into);
        lk.lock();
        req->result = rc;
        req->done = true;
        if (req != own && !req->gone) req->wake->Signal(); // scheduled while this thread runs the next one
        bool dropped = std::any_of(retired.begin(), retired.end(), [&](auto& p) { return p.get() == ds; });
        if (dropped || waiters.empty() || served >= kServeBatch) break;
        req = std::move(waiters.front());
        waiters.pop_front();
        req->taken = true;
        if (!req->theirs) req->theirs = std::make_unique<TagLocalData>();
    }
    GiveBack(lk, ds);
}

void TagDbConnection::GiveBack(std::unique_lock<std::mutex>& lk, TagDataSet* ds) {
    std::unique_ptr<TagDataSet> closing;
    ds->busy = false;
    auto it = std::find_if(retired.begin(), retired.end(), [&](auto& p) { return p.get() == ds; });
    if (it != retired.end()) {
        closing = std::move(*it);
        retired.erase(it);
    }
    HandOut();
    givenBack.notify_all();
    if (closing) {
        // The dropped back end closes its connection outside the lock.
        lk.unlock();
        closing.reset();
        lk.lock();
    }
}

int TagDbConnection::ExecUse(char* sql, TagLocalData* dst) {
    std::unique_lock<std::mutex> lk(lock);
    int n = int(sets.size());
    // Each back end runs the statement once, while nobody else holds it: a lent one is waited for (bounded),
    // and one still lent after the wait is skipped and runs the next "use " statement instead.
    for (int turn = 0;; turn++) {
        bool pending = false;
        for (auto& ds : sets) {
            if (ds->useDone) continue;
            if (ds->busy) {
                pending = true;
                continue;
            }
            RunOn(ds.get(), sql, dst);
            ds->useDone = true;
        }
        if (!pending || turn >= kWaitTurns) break;
        WaitTurn(lk, givenBack);
    }
    return n;
}

int TagDbConnection::Exec(char* sql, TagLocalData* dst) {
    {
        std::lock_guard<std::mutex> lk(lock);
        if (sets.empty() && connecting == 0) return -100;
    }
    if (strncmp(sql, "use ", 4) == 0 || strncmp(sql, "USE ", 4) == 0) return ExecUse(sql, dst);

    const DbWaiter* waiter = CurrentDbWaiter();
    std::optional<WakeEvent> own; // the wait of a thread without a line
    auto req = std::make_shared<TagDbReq>();
    req->threadId = CurrentThreadId();
    req->sql = sql;
    req->dst = dst;
    req->wake = waiter && waiter->wake ? waiter->wake : &own.emplace();
    // As for a direct back end: a quit or reload asked while the statement waits ends the wait; one asked before
    // (the quit handler's statements) does not, but then the whole wait is kDbQuittingBoundMs at most.
    const bool stoppedBefore = DbStopAsked(waiter);
    bool stopped = false;
    const uint32_t start = GetTickCount();
    auto left = [&](int64_t ms) {
        if (stoppedBefore) ms = ms < 0 ? kDbQuittingBoundMs : std::min<int64_t>(ms, kDbQuittingBoundMs);
        return ms < 0 ? ms : std::max<int64_t>(0, ms - int64_t(TicksSince(start)));
    };
    std::unique_lock<std::mutex> lk(lock);
    auto waitUntil = [&](int64_t ms, auto ready) {
        lk.unlock();
        req->wake->WaitFor(left(ms), [&] {
            if (!stoppedBefore && DbStopAsked(waiter)) stopped = true;
            std::lock_guard<std::mutex> g(lock);
            return stopped || ready();
        });
        lk.lock();
    };
    waiters.push_back(req);
    HandOut();
    // The queue's bound ends the wait for a back end; a statement another thread took out of the queue is bounded
    // by that thread's statement bound.
    waitUntil(int64_t(kWaitTurns) * kTurnMs, [&] { return req->taken; });
    if (req->taken && !stopped) waitUntil(WakeEvent::kForever, [&] { return req->done || req->dataSet; });
    if (!req->taken) {
        waiters.erase(std::find(waiters.begin(), waiters.end(), req));
        return -200;
    }
    if (!req->done && req->dataSet) {
        if (!stopped) {
            Serve(lk, req);
            return req->result;
        }
        GiveBack(lk, req->dataSet); // the back end goes to the next in the queue
        return -200;
    }
    if (!req->done) {
        // Another line's thread still runs it: the result goes to the request's own holder, dropped with it.
        req->gone = true;
        dst->ClearResult();
        return -1;
    }
    if (req->theirs) dst->TakeResult(*req->theirs);
    return req->result;
}

int TagDbConnection::Close() {
    std::unique_ptr<TagDataSet> dropped;
    std::lock_guard<std::mutex> lk(lock);
    if (openCount < 1) return -1;
    openCount--;
    if (openCount < DbMaxConn() && size_t(openCount) < sets.size()) {
        std::unique_ptr<TagDataSet> last = std::move(sets.back());
        sets.pop_back();
        // One still lent out is closed by its borrower when it gives it back.
        if (last->busy)
            retired.push_back(std::move(last));
        else
            dropped = std::move(last);
    }
    return openCount;
}

// ---- TagDbConnectionsCtrl ----

TagDbConnectionsCtrl::~TagDbConnectionsCtrl() {
    connections.clear();
}

int TagDbConnectionsCtrl::Open(int32_t type, const char* a1, const char* a2, const char* a3, const char* a4) {
    if (!PooledType(type) || !g_makers[type].load()) return -1;
    TagDbConnection* conn = nullptr;
    int index = -1;
    {
        std::lock_guard<std::mutex> lk(lock);
        for (size_t i = 0; i < connections.size() && !conn; i++) {
            if (connections[i]->Matches(type, a1, a2, a3)) {
                conn = connections[i].get();
                index = int(i);
            }
        }
        if (!conn) {
            // Registered before it connects, so that lines opening the same source meanwhile share it.
            connections.push_back(std::make_unique<TagDbConnection>(type, a1, a2, a3, a4));
            conn = connections.back().get();
            index = int(connections.size() - 1);
        }
    }
    int rc = conn->AddDataSet(type, a1, a2, a3, a4);
    return rc < 0 ? rc : index;
}

TagDbConnection* TagDbConnectionsCtrl::Connection(int index) {
    std::lock_guard<std::mutex> lk(lock);
    if (index < 0 || size_t(index) >= connections.size()) return nullptr;
    return connections[size_t(index)].get();
}

int TagDbConnectionsCtrl::ConnectionCount() {
    std::lock_guard<std::mutex> lk(lock);
    return int(connections.size());
}

int TagDbConnectionsCtrl::Exec(int index, char* sql, TagLocalData* dst) {
    TagDbConnection* c = Connection(index);
    return c ? c->Exec(sql, dst) : -10;
}

int TagDbConnectionsCtrl::Close(int index) {
    TagDbConnection* c = Connection(index);
    return c ? c->Close() : -10;
}

TagDbConnectionsCtrl* GetDbPool() {
    static TagDbConnectionsCtrl pool;
    return &pool;
}

} // namespace zz
