#pragma once
// Test doubles of the line layer: drivers of every kind, a clock that runs 50 times faster than real time, and
// scripted programs that behave like the engine's run loop (flags polled between "statements").
#include "platform/Clock.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagKvCard.h"
#include "telephony/TagTelDrive.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zz::test {

// Ticks run kScale times faster than real time: LOAD_DELAY pacing and 35 s deadlines take milliseconds, while
// sleeping threads still sleep (no busy waiting).
class FastClock : public Clock {
public:
    static constexpr uint32_t kScale = 50;
    FastClock() : start_(std::chrono::steady_clock::now()) {}
    uint32_t Ticks() override {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_);
        return uint32_t(uint64_t(us.count()) * kScale / 1000);
    }
    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / kScale)); }
    void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t ms) override {
        cv.wait_for(lk, std::chrono::microseconds(ms * 1000 / kScale));
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// Time moves only by the sleeps of the thread under test, and only once the lines have settled (quiet() holds):
// a deadline that others must meet in time then never depends on how loaded the machine is. Waits with a time-out
// wait for their event alone.
class SettledClock : public Clock {
public:
    explicit SettledClock(std::function<bool()> quiet) : quiet_(std::move(quiet)) {}
    uint32_t Ticks() override { return now_.load(); }
    void Sleep(uint32_t ms) override {
        while (!quiet_())
            std::this_thread::yield();
        now_ += ms;
    }
    void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint32_t) override { cv.wait(lk); }

private:
    std::function<bool()> quiet_;
    std::atomic<uint32_t> now_{0};
};

class FakeCall : public TagKvCall {
public:
    explicit FakeCall(int8_t kind) { lineKind = kind; }
};

// Channels of one kind named prefix + index; the channels in `broken` make nothing.
class FakeCard : public TagKvCard {
public:
    FakeCard(int32_t count, std::string prefix, int8_t kind) : prefix_(std::move(prefix)), kind_(kind) {
        lineCount = count;
    }
    int GetLineName(int32_t index, std::string& name) override {
        name.clear();
        if (index < 0 || index >= lineCount) return -1;
        name = prefix_ + std::to_string(index);
        return 0;
    }
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override {
        if (index < 0 || index >= lineCount) return nullptr;
        // A card mixes kinds: every fourth channel of an analogue card is an extension.
        int8_t kind = kind_ == kLineAnalogTrunk && index % 4 == 3 ? int8_t(kLineExtension) : kind_;
        return NewLine(index, lineNo, std::make_unique<FakeCall>(kind));
    }

private:
    std::string prefix_;
    int8_t kind_;
};

// Installs drivers of the given sizes for the manager's construction and restores the defaults after.
struct ScopedDrivers {
    ScopedDrivers(int32_t cards, int32_t sips, int32_t virs) {
        DriverMakers m;
        if (cards > 0) m.card = [cards](TagRunCfg*) { return std::make_unique<FakeCard>(cards, "Trunk", 1); };
        if (sips > 0) m.sip = [sips](TagRunCfg*) { return std::make_unique<FakeCard>(sips, "SIP:", 6); };
        m.vir = [virs](TagRunCfg*) { return std::make_unique<FakeCard>(virs, "VirtualLine", 0); };
        SetDriverMakers(m);
    }
    ~ScopedDrivers() { SetDriverMakers({}); }
};

// A program. Its script file names its behaviour:
//   "bad..."   does not compile (init result -2);
//   "end..."   runs once and ends;
//   "wait..."  waits for a call (on the line's wake event, ended by the stop flag), like a driver wait, and
//              honours quit and reload;
//   "deaf..."  ignores quit, reload and the stop flag; only the end-of-run flag ends it;
// Waiting programs are "parked" while they block, so a test clock can tell that every line has settled.
//   "hung..."  never returns until the test releases it.
struct FakeProgram {
    std::string file;
    int32_t lineNo = 0;
    TagKvCall* call = nullptr;
    int32_t init = 0;
    TagTelLine* entry = nullptr;
    std::atomic<bool> quit{false}, stop{false}, endOfRun{false}, stopped{true}, reload{false}, reloadAllowed{false};
    std::atomic<int32_t> runs{0};
    // Parked: blocked in Park with no wake-up sent since it last looked (wakeups counts those sent).
    std::atomic<bool> parked{false};
    std::atomic<uint64_t> wakeups{0}, parkedAt{0};
};

class FakePrograms : public LinePrograms {
public:
    static FakeProgram* F(TagTelBasic* p) { return reinterpret_cast<FakeProgram*>(p); }

    TagTelBasic* Build(const std::string& file, int32_t lineNo, TagKvCall* call) override {
        auto* p = new FakeProgram;
        p->file = file;
        p->lineNo = lineNo;
        p->call = call;
        p->init = file.rfind("bad", 0) == 0 ? -2 : 0;
        std::lock_guard<std::mutex> lk(m_);
        live_.insert(p);
        ++built;
        builtPerLine[lineNo]++;
        return reinterpret_cast<TagTelBasic*>(p);
    }
    void Destroy(TagTelBasic* tp) override {
        FakeProgram* p = F(tp);
        {
            std::lock_guard<std::mutex> lk(m_);
            if (!live_.erase(p)) ++badFrees;
            if (running_.count(p)) ++freedWhileRunning;
        }
        ++destroyed;
        delete p;
    }
    int32_t Run(TagTelBasic* tp) override {
        FakeProgram* p = F(tp);
        {
            std::lock_guard<std::mutex> lk(m_);
            running_.insert(p);
            if (++runningPerLine_[p->lineNo] > 1) ++doubleRuns;
        }
        p->stopped = false;
        p->call->stopFlag = false;
        ++p->runs;
        ++runsStarted;
        if (p->file.rfind("end", 0) == 0) {
            SleepMs(100);
        } else if (p->file.rfind("deaf", 0) == 0) {
            Park(*p, [p] { return p->endOfRun.load(); });
        } else if (p->file.rfind("hung", 0) == 0) {
            ++hungInside;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
            // One "statement" at a time: a wait for a call that returns on the stop flag, then the flag checks.
            while (!p->quit && !p->endOfRun && !(p->reload && p->reloadAllowed))
                Park(*p, [p] { return p->call->stopFlag.load() || p->quit || p->endOfRun; });
        }
        {
            std::lock_guard<std::mutex> lk(m_);
            running_.erase(p);
            --runningPerLine_[p->lineNo];
        }
        // Where a script's quit handler runs: it must find the line manager.
        if (p->quit) (GetTelDrive() ? quitsWithManager : quitsWithoutManager)++;
        p->stopped = true;
        return 0;
    }
    int32_t InitResult(TagTelBasic* p) override { return F(p)->init; }
    void SetLineEntry(TagTelBasic* p, TagTelLine* line) override { F(p)->entry = line; }
    void SetReloadAllowed(TagTelBasic* p, bool on) override { F(p)->reloadAllowed = on; }
    void SetReload(TagTelBasic* tp, bool on) override {
        FakeProgram* p = F(tp);
        p->reload = on;
        if (on && p->reloadAllowed) {
            ++p->wakeups;
            p->call->RequestStop();
        }
    }
    bool ReloadRequested(TagTelBasic* p) override { return F(p)->reload; }
    void RequestQuit(TagTelBasic* p) override {
        F(p)->quit = true;
        F(p)->stop = true;
        ++F(p)->wakeups;
        F(p)->call->wake.Signal();
    }
    void ForceEnd(TagTelBasic* p) override {
        F(p)->endOfRun = true;
        ++F(p)->wakeups;
        F(p)->call->wake.Signal();
    }
    bool Stopped(TagTelBasic* p) override { return F(p)->stopped; }
    void ClearScriptCache() override { ++cacheClears; }

    // Blocks on the line's wake event until done() holds. A wake-up sent after the program last looked keeps it
    // from counting as parked, so a settled clock never takes a woken thread that has not run yet for settled.
    template <class Done> static void Park(FakeProgram& p, Done done) {
        p.call->wake.WaitFor(WakeEvent::kForever, [&] {
            const uint64_t seen = p.wakeups.load();
            const bool d = done();
            if (!d) {
                p.parkedAt = seen;
                p.parked = true;
            }
            return d;
        });
        p.parked = false;
    }
    // Programs blocked in Park now.
    int32_t Parked() {
        std::lock_guard<std::mutex> lk(m_);
        int32_t n = 0;
        for (FakeProgram* p : running_)
            if (p->parked && p->parkedAt == p->wakeups) ++n;
        return n;
    }

    size_t Live() {
        std::lock_guard<std::mutex> lk(m_);
        return live_.size();
    }
    int32_t Running() {
        std::lock_guard<std::mutex> lk(m_);
        return int32_t(running_.size());
    }
    int32_t BuiltOn(int32_t line) {
        std::lock_guard<std::mutex> lk(m_);
        return builtPerLine[line];
    }

    std::atomic<int32_t> built{0}, destroyed{0}, badFrees{0}, freedWhileRunning{0}, doubleRuns{0};
    std::atomic<int32_t> runsStarted{0}, cacheClears{0}, hungInside{0};
    std::atomic<int32_t> quitsWithManager{0}, quitsWithoutManager{0};
    std::atomic<bool> release{false};

private:
    std::mutex m_;
    std::set<FakeProgram*> live_;
    std::set<FakeProgram*> running_;
    std::map<int32_t, int32_t> runningPerLine_;
    std::map<int32_t, int32_t> builtPerLine;
};

// Polls cond (real time) up to ms.
template <class F> bool WaitFor(F cond, int ms = 20000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

} // namespace zz::test
