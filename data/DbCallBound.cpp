#include "data/DbCallBound.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Clock.h"
#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"

namespace zz {

namespace {

std::atomic<int64_t> g_connectMs{kDbConnectBoundMs};
std::atomic<int64_t> g_queryMs{kDbQueryBoundMs};
thread_local const DbWaiter* t_waiter = nullptr;

// Calls by back end. Never destroyed: a call given up may still end while the process exits.
struct Running {
    std::mutex lock;
    std::condition_variable ended;
    std::map<std::string, int32_t> count; // under lock
};
Running& Calls() {
    static Running* r = new Running;
    return *r;
}
// A call that was cancelled returns within this; a connect given up may take the client's own time-out.
constexpr int64_t kUnloadWaitMs = 1000;

void CountCall(const std::string& backEnd, int32_t n) {
    Running& r = Calls();
    std::lock_guard<std::mutex> lk(r.lock);
    if ((r.count[backEnd] += n) == 0) r.count.erase(backEnd);
    if (n < 0) r.ended.notify_all();
}

// One call between the waiting thread and the thread that runs it. The waiter's wake event is signalled only
// while the waiter still waits: once it gave up (abandoned, under m), the event may be gone.
struct Job {
    std::mutex m;
    bool done = false;
    bool abandoned = false;
    WakeEvent* wake = nullptr;
    DbCall call;
};

void RunJob(std::shared_ptr<Job> job) {
    try {
        job->call.run();
    } catch (...) {
        // A client library that throws leaves its call failed; the caller reads the failure from its results.
    }
    // What run holds goes before the caller hears of the end: it may close the connection at once.
    job->call.run = nullptr;
    bool orphaned;
    {
        std::lock_guard<std::mutex> lk(job->m);
        job->done = true;
        orphaned = job->abandoned;
        if (!orphaned) job->wake->Signal();
    }
    if (orphaned) {
        try {
            if (job->call.orphan) job->call.orphan();
            // What the call holds goes here, before the count drops: a library is never unloaded under it.
            job->call.orphan = nullptr;
            job->call.cancel = nullptr;
        } catch (...) {
        }
    }
    const std::string backEnd = job->call.backEnd;
    job.reset();
    CountCall(backEnd, -1);
}

} // namespace

DbBounds GetDbBounds() {
    return DbBounds{g_connectMs.load(), g_queryMs.load()};
}

void SetDbBounds(int64_t connectMs, int64_t queryMs) {
    g_connectMs = connectMs > 0 ? connectMs : kDbConnectBoundMs;
    g_queryMs = queryMs > 0 ? queryMs : kDbQueryBoundMs;
}

int32_t BoundSeconds(int64_t ms) {
    int64_t s = (ms + 999) / 1000;
    return s < 1 ? 1 : s > INT32_MAX ? INT32_MAX : int32_t(s);
}

ScopedDbWaiter::ScopedDbWaiter(const DbWaiter* w) : previous_(t_waiter) {
    t_waiter = w;
}

ScopedDbWaiter::~ScopedDbWaiter() {
    t_waiter = previous_;
}

const DbWaiter* CurrentDbWaiter() {
    return t_waiter;
}

bool DbStopAsked(const DbWaiter* w) {
    return w && w->stopped && w->stopped();
}

DbCallEnd RunDbCall(int64_t ms, DbCall call) {
    // A call given up that returns while the process exits would run its thread's clean-up after the client
    // library's own (a double free in the library's thread data): the exit first gives such calls a moment.
    static const bool atExit = std::atexit([] { WaitDbCallsEnded(kUnloadWaitMs); }) == 0;
    (void)atExit;
    const DbWaiter* waiter = t_waiter;
    WakeEvent own; // the wait of a thread without a line
    auto job = std::make_shared<Job>();
    job->wake = waiter && waiter->wake ? waiter->wake : &own;
    // The labels are read for the log after the wait, when the call may be ending on its own thread.
    const std::string label = std::string(call.backEnd) + " " + call.server;
    const char* what = call.what;
    job->call = std::move(call);
    auto stopAsked = [waiter] { return DbStopAsked(waiter); };
    // Looked at before the call starts: whatever the call does after that, a stop asked then ends the wait.
    const bool stoppedBefore = stopAsked();
    if (stoppedBefore && (ms < 0 || ms > kDbQuittingBoundMs)) ms = kDbQuittingBoundMs;
    const uint32_t start = GetTickCount();
    CountCall(job->call.backEnd, 1);
    try {
        std::thread(RunJob, job).detach();
    } catch (...) {
        // No thread to be had: the call runs here, bounded only by the library's own time-outs.
        CountCall(job->call.backEnd, -1);
        job->call.run();
        return DbCallEnd::kDone;
    }
    bool stopped = false;
    auto ended = [&] {
        if (!stoppedBefore && stopAsked()) stopped = true;
        std::lock_guard<std::mutex> lk(job->m);
        return job->done || stopped;
    };
    job->wake->WaitFor(ms, ended);
    {
        std::lock_guard<std::mutex> lk(job->m);
        if (job->done) return DbCallEnd::kDone;
        job->abandoned = true;
        // Under the job's lock: the call cannot finish and run its clean-up while it is being cancelled.
        if (job->call.cancel) {
            try {
                job->call.cancel();
            } catch (...) {
            }
        }
    }
    char text[600];
    std::snprintf(text, sizeof text, "%.400s: no answer to the %s after %u ms, %s", label.c_str(), what,
                  unsigned(TicksSince(start)), stopped ? "wait ended by a quit or reload" : "given up");
    WriteRunLogAlways(text);
    return stopped ? DbCallEnd::kStopped : DbCallEnd::kTimedOut;
}

bool WaitDbCallsEnded(int64_t ms, const char* backEnd) {
    Running& r = Calls();
    std::unique_lock<std::mutex> lk(r.lock);
    return r.ended.wait_for(lk, std::chrono::milliseconds(ms),
                            [&] { return backEnd ? r.count.count(backEnd) == 0 : r.count.empty(); });
}

bool MayUnloadDbLibrary(const char* backEnd, const std::string& file) {
    if (WaitDbCallsEnded(kUnloadWaitMs, backEnd)) return true;
    (void)dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD); // kept to the end of the process
    WriteRunLogAlways(
        (std::string(backEnd) + " client library kept loaded: a call given up is still inside it").c_str());
    return false;
}

} // namespace zz
