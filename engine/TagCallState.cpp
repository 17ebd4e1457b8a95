#include "engine/TagCallState.h"

#include <condition_variable>
#include <cstdarg>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/TagWriteLog.h"

namespace zz {

// A function handed to the line, and its outcome, shared by the thread that waits for it and the line.
struct TagCallState::Handed {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool running = false, done = false, dropped = false; // under m
};

TagCallState::~TagCallState() {
    std::lock_guard<std::mutex> g(handedLock_);
    for (auto& h : handed_) {
        std::lock_guard<std::mutex> hg(h->m);
        h->dropped = true;
        h->cv.notify_all();
    }
}

bool TagCallState::RunOnLine(std::function<void()> fn, int64_t ms) {
    auto h = std::make_shared<Handed>();
    h->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> g(handedLock_);
        handed_.push_back(h);
        handedCount_.fetch_add(1, std::memory_order_release);
    }
    Attend();
    wake.Signal();
    std::unique_lock<std::mutex> lk(h->m);
    const uint32_t start = GetTickCount();
    while (!h->done && !h->dropped && !h->running && int64_t(TicksSince(start)) < ms)
        GetClock().WaitOn(h->cv, lk, uint32_t(ms - int64_t(TicksSince(start))));
    // Once begun it is waited for to its end; not begun, the line passes it over if it comes to it later.
    if (h->running) h->cv.wait(lk, [&] { return h->done; });
    if (!h->done) h->dropped = true;
    return h->done;
}

void TagCallState::RunHandedNow() {
    if (runningHanded_) return;
    runningHanded_ = true;
    for (;;) {
        std::shared_ptr<Handed> h;
        {
            std::lock_guard<std::mutex> g(handedLock_);
            if (handed_.empty()) break;
            h = std::move(handed_.front());
            handed_.pop_front();
            handedCount_.fetch_sub(1, std::memory_order_release);
        }
        {
            std::lock_guard<std::mutex> hg(h->m);
            if (h->dropped) continue;
            h->running = true;
        }
        h->fn();
        std::lock_guard<std::mutex> hg(h->m);
        h->done = true;
        h->cv.notify_all();
    }
    runningHanded_ = false;
}

void TagCallState::WriteLog(const char* text) const {
    if (GetLogLevel() == 0) return;
    WriteLogAlways(text);
}

void TagCallState::WriteLogAlways(const char* text) const {
    char buf[512];
    std::snprintf(buf, sizeof buf, "lcnt=%d, %s", lineNo, text ? text : "");
    WriteRunLogAlways(buf);
}

void TagCallState::WriteLogF(const char* fmt, ...) const {
    if (GetLogLevel() == 0) return;
    char buf[400];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteLogAlways(buf);
}

void TagCallState::WriteLogAlwaysF(const char* fmt, ...) const {
    char buf[400];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteLogAlways(buf);
}

} // namespace zz
