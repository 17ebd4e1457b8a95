// Loading, running, reloading and closing the lines' scripts, and the processor-load gate that spreads the
// start of a large installation.
#include "platform/Clock.h"
#include "platform/CpuGate.h"
#include "platform/FileHandle.h"
#include "platform/MessageBox.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagTelDrive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace zz {

namespace {

std::atomic<LinePrograms*> g_programs{nullptr};

// Sanitizer builds need more stack than the scripts do.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kThreadStack = 4u << 20;
#else
constexpr size_t kThreadStack = 1u << 20;
#endif

struct ThreadBox {
    std::function<void()> fn;
};

void* ThreadTop(void* arg) {
    std::unique_ptr<ThreadBox> box(static_cast<ThreadBox*>(arg));
    try {
        box->fn();
    } catch (const std::exception& e) {
        WriteRunLogAlways(e.what());
    } catch (...) {
        WriteRunLogAlways("thread ended by an unknown exception");
    }
    return nullptr;
}

// Detached: no thread of the line layer is ever joined; each ends by its flags.
bool StartThread(std::function<void()> fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kThreadStack);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto* box = new ThreadBox{std::move(fn)};
    pthread_t t;
    int rc = pthread_create(&t, &attr, ThreadTop, box);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete box;
        WriteRunLogAlways("pthread_create failed: thread not started");
        return false;
    }
    return true;
}

void ShowState(int32_t line, const char* text) {
    LineDisplay d = CurrentLineDisplay();
    if (d.setLineState) d.setLineState(line, text);
}

std::string ScriptOf(TagTelLine* line) {
    std::lock_guard<std::mutex> lk(line->programLock);
    return line->scriptFile;
}

// Builds the line's program and publishes it in the entry; reload is allowed from then on.
TagTelBasic* BuildProgram(TagTelLine* line, LinePrograms& ops) {
    std::string script = ScriptOf(line);
    TagTelBasic* p = ops.Build(script, line->lineNo, line->call.get());
    ops.SetLineEntry(p, line);
    ops.SetReloadAllowed(p, true);
    {
        std::lock_guard<std::mutex> lk(line->programLock);
        line->program = p;
        ++line->builds;
    }
    line->loaded = true;
    char text[600];
    int32_t init = ops.InitResult(p);
    if (init == 0)
        std::snprintf(text, sizeof text, "%d: new TagTelBasic(%s) OK.", line->lineNo, script.c_str());
    else
        std::snprintf(text, sizeof text, "%d: new TagTelBasic(%s) failed. ret=%d", line->lineNo, script.c_str(), init);
    RawLog(text);
    WriteRunLog(text);
    return p;
}

// Sleeps ms in steps, ending early when the line closes.
void SleepUnlessClosing(uint32_t ms, const TagTelLine* line) {
    uint32_t start = GetTickCount();
    while (!line->closing.load()) {
        uint32_t gone = TicksSince(start);
        if (gone >= ms) return;
        SleepMs(ms - gone < 100 ? ms - gone : 100);
    }
}

} // namespace

void SetLinePrograms(LinePrograms* programs) {
    g_programs.store(programs);
}
LinePrograms* GetLinePrograms() {
    return g_programs.load();
}

bool TagTelDrive::StartWorker(std::function<void(TagTelDrive&)> work) {
    ++workers_;
    bool ok = StartThread([this, work = std::move(work)]() {
        try {
            work(*this);
        } catch (...) {
            WriteRunLogAlways("TagTelDrive worker: unexpected exception");
        }
        --workers_; // the last touch of the manager
    });
    if (!ok) --workers_;
    return ok;
}

int32_t TagTelDrive::Run(const char* cfgFile) {
    std::lock_guard<std::recursive_mutex> lk(opLock_);
    LinePrograms* ops = GetLinePrograms();
    RawLog("CloseAllTelLine()...");
    CloseAllTelLine();
    RawLog("CloseAllTelLine().");
    if (ops) ops->ClearScriptCache();
    if (lineCount_ == 0) {
        ShowMessage("Lines number is 0", "Karvelian System");
        return -1;
    }
    RawLog("Run Start ...");
    WriteRunLog("Run Start ...");
    int32_t delay = cfg_ ? cfg_->loadDelay : 125;
    if (delay < 1000) SystemClosing() = false;
    FileHandle fFile = FileHandle::Open(cfgFile, "r");
    FILE* f = fFile.get();
    if (!f) {
        char text[600];
        std::snprintf(text, sizeof text, "Open cfg file error: %s", cfgFile);
        ShowMessage(text, "Karvelian System");
        return -2;
    }
    shared_->runFlag = false;
    shared_->loadedLines = 0;
    // A line the file no longer lists has no script (the table would otherwise still name its old one).
    for (auto& line : lines_) {
        if (!line) continue;
        std::lock_guard<std::mutex> plk(line->programLock);
        if (!line->program) line->scriptFile.clear();
    }
    // A file edited since start may name a line twice: the first list wins, as the reader would refuse it.
    std::vector<bool> given(size_t(lineCount_), false);
    char buf[514];
    std::string key, value;
    while (!shared_->shutting.load() && std::fgets(buf, sizeof buf, f)) {
        std::string raw = buf;
        if (raw.empty() || raw.back() != '\n') {
            // A line over 512 characters is refused whole, as the reader does.
            int c;
            bool cut = false;
            while ((c = std::fgetc(f)) != EOF && c != '\n')
                cut = true;
            if (cut) continue;
        }
        if (raw[0] == '\n' || raw[0] == '\r') continue;
        if (!SplitCfgLine(raw, key, value)) continue;
        RawLog((key + "=" + value).c_str());
        if (key.empty() || key[0] < '0' || key[0] > '9') continue;
        RawLog(key.c_str());
        TagLineList list;
        ParseLineList(key, list);
        if (list.truncated) WriteRunLogAlways(("Run: line list cut at 5120 lines: " + key.substr(0, 60)).c_str());
        int32_t count = int32_t(list.lines.size());
        for (int32_t j = 0; j < count && !shared_->shutting.load(); ++j) {
            int32_t k = list.lines[size_t(j)];
            char text[600];
            std::snprintf(text, sizeof text, "%d:%d, '%s'", count, j, value.c_str());
            RawLog(text);
            if (k >= 0 && k < lineCount_) {
                if (given[size_t(k)]) {
                    std::snprintf(text, sizeof text, "Run: line %d is listed twice; '%s' not loaded", k, value.c_str());
                    WriteRunLogAlways(text);
                    continue;
                }
                given[size_t(k)] = true;
            }
            ReloadLine(k, value.c_str(), true);
        }
    }
    fFile.Close();
    if (shared_->shutting.load()) {
        // The manager is going: the lines handed out must not start running.
        RawLog("Run: stopped, the line manager is closing.");
        return 0;
    }
    WriteRunLogF("LOAD_DELAY = %d", delay);
    WriteRunLog("Run End.");
    RawLog("Run End.");
    SleepMs(200);
    SystemClosing() = false;
    shared_->runFlag = true;
    return 0;
}

int32_t TagTelDrive::ReloadLine(int32_t n, const char* script, bool) {
    std::lock_guard<std::recursive_mutex> lk(opLock_);
    TagTelLine* line = Line(n);
    if (!line) return -1;
    if (line->threads.load() > 0) {
        // The program belongs to its running thread: ask the thread to rebuild it from the new file rather
        // than free it under it. A line still loading, or left running by a close, is refused.
        std::lock_guard<std::mutex> plk(line->programLock);
        LinePrograms* ops = GetLinePrograms();
        if (!line->program || !ops || line->abandoned.load() || line->closing.load()) {
            char text[96];
            std::snprintf(text, sizeof text, "ReloadLine(%d): the line is busy; not reloaded", n);
            WriteRunLogAlways(text);
            return -1;
        }
        line->scriptFile = script ? script : "";
        ops->SetReload(line->program, true);
        return 0;
    }
    line->loaded = false;
    TagTelBasic* old = nullptr;
    {
        std::lock_guard<std::mutex> plk(line->programLock);
        std::swap(old, line->program);
        line->scriptFile = script ? script : "";
    }
    if (old) {
        if (LinePrograms* ops = GetLinePrograms()) ops->Destroy(old);
    }
    line->closing = false;
    line->abandoned = false;
    ++line->threads;
    if (!StartThread([line, shared = shared_]() { LineThread(line, shared); })) --line->threads;
    int32_t delay = cfg_ ? cfg_->loadDelay : 125;
    PaceHandOut(delay);
    return 0;
}

// LOAD_DELAY / 4 ms and 55 ms between two lines; a closing manager does not wait out a long delay.
void TagTelDrive::PaceHandOut(int32_t delay) {
    uint32_t ms = uint32_t(delay / 4);
    uint32_t start = GetTickCount();
    while (!shared_->shutting.load() && TicksSince(start) < ms) {
        uint32_t left = ms - TicksSince(start);
        SleepMs(left < 100 ? left : 100);
    }
    SleepMs(55);
}

void TagTelDrive::LineThread(TagTelLine* line, std::shared_ptr<Shared> shared) {
    struct TellEnd {
        Shared& s;
        ~TellEnd() { s.TellLoaded(); }
    } tellEnd{*shared}; // after EndThread: the thread no longer counts
    LinePrograms* ops = GetLinePrograms();
    TagTelBasic* prog = nullptr;
    int32_t n = line->lineNo;
    char text[96];
    try {
        ShowState(n, "加载...");
        LineDisplay d = CurrentLineDisplay();
        if (d.dispScriptFile) d.dispScriptFile(n, ScriptOf(line).c_str());
        std::snprintf(text, sizeof text, "%d Loading...", n);
        WriteRunLog(text);
        RawLog(text);
        if (n != 0) WaitCpuIdleOr(40, 75, &line->closing);
        if (!ops) {
            WriteRunLogAlways("LineLoadThread: no script engine installed");
        } else if (!line->closing.load()) {
            prog = BuildProgram(line, *ops);
        }
        if (!line->closing.load() && (!prog || ops->InitResult(prog) != 0)) ShowState(n, "加载不成功");
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "加载脚本错误...");
        WriteRunLogAlways(e.what());
        EndThread(line, prog, ops);
        return;
    } catch (...) {
        ShowMessage("TagTelDrive::LineLoadThread()", "Error");
    }
    int32_t loaded = ++shared->loadedLines;
    shared->TellLoaded();
    if (loaded % 10 == 0) {
        std::printf("  loadLinesCount=%d\n", loaded);
        std::fflush(stdout);
    }
    std::snprintf(text, sizeof text, "%d Loaded.", n);
    RawLog(text);
    try {
        // A script that did not compile ends its loading thread here: no run thread is started for it.
        if (prog && ops->InitResult(prog) == 0) RunLoaded(line, prog, *ops, *shared);
    } catch (const std::exception& e) {
        WriteRunLogAlways(e.what());
    } catch (...) {
        WriteRunLogAlways("LineRunThread: unexpected exception");
    }
    EndThread(line, prog, ops);
}

void TagTelDrive::WaitLoaded() {
    auto loading = [this] {
        for (int32_t n = 0; n < lineCount_; ++n) {
            TagTelLine* e = lines_[size_t(n)].get();
            if (e && !e->loaded.load() && e->threads.load() > 0) return true;
        }
        return false;
    };
    std::unique_lock<std::mutex> lk(shared_->loadLock);
    shared_->loadDone.wait(lk, [&] { return shared_->shutting.load() || !loading(); });
}

TagTelDrive::LoadReport TagTelDrive::Report() {
    LoadReport r;
    std::vector<std::pair<TagKvCard*, std::vector<int32_t>>> running = {
        {card_.get(), {}}, {sip_.get(), {}}, {vir_.get(), {}}};
    LinePrograms* ops = GetLinePrograms();
    std::string cause, last;
    int32_t first = -1, end = -1;
    auto flush = [&] {
        if (first < 0 || last.empty()) return;
        r.problems += (end > first ? "lines " + std::to_string(first) + "-" + std::to_string(end)
                                   : "line " + std::to_string(first)) +
                      ": " + last + "\n";
    };
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagTelLine* e = lines_[size_t(n)].get();
        if (!e) continue;
        std::string script;
        bool ready = false;
        {
            std::lock_guard<std::mutex> lk(e->programLock);
            script = e->scriptFile;
            ready = e->program && ops && ops->InitResult(e->program) == 0;
        }
        if (script.empty()) continue;
        ++r.scripted;
        cause.clear();
        if (!ready) {
            if (::access(ResolvePath(script).c_str(), R_OK) != 0)
                cause = "script " + script + ": " + std::strerror(errno);
            else
                cause = "script " + script + " does not compile (errmsg" + std::to_string(n) + ".txt)";
        } else if (e->card && e->card->status != 0) {
            cause = e->card->failure.empty() ? "its driver did not start" : e->card->failure;
        } else {
            ++r.runnable;
            for (auto& [driver, lines] : running)
                if (driver && driver == e->card) lines.push_back(n);
        }
        if (cause != last || n != end + 1) {
            flush();
            first = n;
            last = cause;
        }
        end = n;
    }
    flush();
    for (auto& [driver, lines] : running) {
        std::string why = lines.empty() ? std::string() : driver->Shortfall();
        if (!why.empty()) r.warnings += LineRangesText(lines) + ": " + why + "\n";
    }
    return r;
}

bool TagTelDrive::WaitToRun(TagTelLine* line, const Shared& shared) {
    while (!shared.runFlag.load() && !line->closing.load() && !shared.shutting.load())
        SleepMs(200);
    if (line->closing.load() || shared.shutting.load()) return false;
    SleepUnlessClosing(uint32_t(line->lineNo % 10) * 100, line);
    WaitCpuIdleOr(20, 65, &line->closing);
    return !line->closing.load();
}

// The run thread: runs the program, and rebuilds it from the line's script file on a reload request.
void TagTelDrive::RunLoaded(TagTelLine* line, TagTelBasic*& prog, LinePrograms& ops, Shared& shared) {
    int32_t n = line->lineNo;
    RawLog("LineRunThread...");
    WriteRunLog("LineRunThread...");
    for (;;) {
        RawLogF("pBasic->initRet=%d", ops.InitResult(prog));
        if (ops.InitResult(prog) != 0) return;
        if (!WaitToRun(line, shared)) return;
        ops.Run(prog);
        if (!ops.ReloadRequested(prog) || line->closing.load()) return;
        SleepMs(35);
        WaitCpuIdleOr(20, 65, &line->closing);
        if (line->closing.load()) return;
        // Unpublish before freeing, so nobody reaches the old program through the entry.
        {
            std::lock_guard<std::mutex> lk(line->programLock);
            line->program = nullptr;
        }
        line->loaded = false;
        TagTelBasic* old = prog;
        prog = nullptr;
        ops.Destroy(old);
        ShowState(n, "加载...");
        prog = BuildProgram(line, ops);
        shared.TellLoaded(); // a reload waits for its lines
        if (ops.InitResult(prog) != 0) ShowState(n, "加载不成功");
        RawLogF("LineRunThread: %d.", n);
    }
}

// A program the thread leaves in the entry is the manager's from now on, unless the line is closing: then the
// thread frees it itself.
void TagTelDrive::EndThread(TagTelLine* line, TagTelBasic* prog, LinePrograms* ops) {
    bool mine = false;
    if (prog) {
        std::lock_guard<std::mutex> lk(line->programLock);
        if (line->program != prog) {
            mine = true;
        } else if (line->closing.load()) {
            line->program = nullptr;
            mine = true;
        }
    }
    if (mine && ops) ops->Destroy(prog);
    --line->threads; // the last touch of the entry
}

void TagTelDrive::CloseAllTelLine() {
    std::lock_guard<std::recursive_mutex> lk(opLock_);
    LinePrograms* ops = GetLinePrograms();
    auto forEach = [&](auto fn) {
        for (auto& line : lines_)
            if (line) fn(*line);
    };
    // Asked again while waiting: a run that was just starting clears the flags it finds.
    auto askQuit = [&](TagTelLine& line) {
        std::lock_guard<std::mutex> plk(line.programLock);
        if (line.program && ops) {
            ops->SetReload(line.program, false);
            ops->RequestQuit(line.program);
        }
        if (line.call && (line.program || line.threads.load() > 0)) line.call->RequestStop();
    };
    auto force = [&](TagTelLine& line) {
        if (line.threads.load() == 0) return;
        if (line.call) line.call->RequestStop();
        std::lock_guard<std::mutex> plk(line.programLock);
        if (line.program && ops) ops->ForceEnd(line.program);
    };
    forEach([&](TagTelLine& line) {
        line.closing = true;
        askQuit(line);
    });
    RawLog("CloseAllTelLine(): 1");
    auto busy = [&]() {
        for (auto& line : lines_)
            if (line && line->threads.load() > 0) return true;
        return false;
    };
    uint32_t start = GetTickCount();
    for (int i = 1; busy() && TicksSince(start) < 35000; ++i) {
        SleepMs(50);
        if (i % 7 == 0)
            forEach([&](TagTelLine& line) {
                if (line.threads.load() > 0) askQuit(line);
            });
    }
    RawLog("CloseAllTelLine(): 2");
    forEach(force);
    start = GetTickCount();
    for (int i = 1; busy() && TicksSince(start) < 350; ++i) {
        SleepMs(50);
        if (i % 2 == 0) forEach(force);
    }
    RawLog("CloseAllTelLine(): 3");
    forEach([&](TagTelLine& line) {
        RawLogF("\tCloseAllTelLine()3: %d", line.lineNo);
        if (line.threads.load() > 0) {
            // Freeing the program, call object or entry under a thread that is still inside would crash it;
            // it frees its own program if it ever returns.
            line.abandoned = true;
            char text[96];
            std::snprintf(text, sizeof text, "CloseAllTelLine: line %d did not stop; its thread is left running",
                          line.lineNo);
            WriteRunLogAlways(text);
            RawLog(text);
            return;
        }
        TagTelBasic* prog = nullptr;
        {
            std::lock_guard<std::mutex> plk(line.programLock);
            std::swap(prog, line.program);
        }
        if (prog && ops) ops->Destroy(prog);
        line.closing = false;
    });
    RawLog("CloseAllTelLine(): 4");
}

bool TagTelDrive::StartReloadAll() {
    if (reloadBusy_.exchange(true)) {
        NoteToOperator("reload: a reload is already under way; this one is not started");
        return false;
    }
    bool ok = StartWorker([](TagTelDrive& d) {
        d.ReloadAll();
        d.reloadBusy_ = false;
    });
    if (!ok) reloadBusy_ = false;
    return ok;
}

namespace {
// "done: 3 lines reloaded, 2 running", then each cause of lines that cannot run and the lines not reloaded yet.
std::string ReloadEnd(int32_t reloaded, const TagTelDrive::LoadReport& r, const std::vector<int32_t>& busy) {
    std::string text = "reload: done: " + std::to_string(reloaded) + (reloaded == 1 ? " line" : " lines") +
                       " reloaded, " + std::to_string(r.runnable) + " running";
    for (size_t at = 0, end; (end = r.problems.find('\n', at)) != std::string::npos; at = end + 1)
        text += "; " + r.problems.substr(at, end - at);
    if (!busy.empty())
        text += "; " + LineRangesText(busy) + " not yet, in a call or busy: " + (busy.size() > 1 ? "they" : "it") +
                " reload" + (busy.size() > 1 ? "" : "s") + " when the call or the statement ends";
    return text;
}
// How long the reload waits for the scripts to reach their next statement before it reports.
constexpr uint32_t kReloadWaitMs = 35000;
} // namespace

void TagTelDrive::ReloadAll() {
    std::unique_lock<std::recursive_mutex> lk(opLock_);
    LinePrograms* ops = GetLinePrograms();
    if (!ops || shared_->shutting.load()) return;
    std::vector<int32_t> ended;
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagTelLine* line = Line(n);
        std::lock_guard<std::mutex> plk(line->programLock);
        TagTelBasic* p = line->program;
        // A program is built "stopped": only a line whose thread has gone has really ended.
        if (p && line->call && ((ops->Stopped(p) && line->threads.load() == 0) || ops->InitResult(p) < 0))
            ended.push_back(n);
    }
    if (!ended.empty()) {
        std::string why = " ended or did not compile: every line starts again, with the line lists of ";
        NoteToOperator("reload: " + LineRangesText(ended) + why + cfgFile_ + " read again");
        if (Run(cfgFile_.c_str()) < 0) return;
        lk.unlock();
        WaitLoaded();
        if (shared_->shutting.load()) return;
        LoadReport r = Report();
        NoteToOperator(ReloadEnd(r.scripted, r, {}));
        return;
    }
    ops->ClearScriptCache();
    int32_t delay = cfg_ ? cfg_->loadDelay : 125;
    // The lines asked to reload: one has reloaded once it has built another program (or its thread has gone).
    struct Asked {
        TagTelLine* line;
        TagTelBasic* program;
        uint32_t builds;
    };
    std::vector<Asked> asked;
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagTelLine* line = Line(n);
        std::lock_guard<std::mutex> plk(line->programLock);
        if (line->program && line->call) asked.push_back({line, line->program, line->builds});
    }
    NoteToOperator("reload: " + std::to_string(asked.size()) +
                   (asked.size() == 1 ? " line reads its" : " lines read their") +
                   " script again, each at its next statement (" + cfgFile_ + " is read at start only)");
    for (size_t i = 0; i < asked.size() && !shared_->shutting.load(); ++i) {
        {
            std::lock_guard<std::mutex> plk(asked[i].line->programLock);
            if (asked[i].line->builds == asked[i].builds) ops->SetReload(asked[i].program, true);
        }
        if (i + 1 < asked.size()) PaceHandOut(delay);
    }
    lk.unlock();
    // Whether a line not in a call has yet to reload; busy gets every line that has not.
    auto pending = [&](std::vector<int32_t>* busy) {
        bool any = false;
        for (const Asked& a : asked) {
            std::lock_guard<std::mutex> plk(a.line->programLock);
            if ((a.line->builds != a.builds && a.line->program) || a.line->threads.load() == 0) continue;
            if (busy) busy->push_back(a.line->lineNo);
            // A line in a call reloads when the call ends: nothing to wait for now.
            if (a.line->call->callState.load() != kCallConnected) any = true;
        }
        return any;
    };
    {
        std::unique_lock<std::mutex> wl(shared_->loadLock);
        uint32_t start = GetTickCount();
        while (!shared_->shutting.load() && pending(nullptr) && TicksSince(start) < kReloadWaitMs)
            GetClock().WaitOn(shared_->loadDone, wl, kReloadWaitMs - TicksSince(start));
    }
    if (shared_->shutting.load()) return;
    std::vector<int32_t> busy;
    pending(&busy);
    LoadReport r = Report();
    NoteToOperator(ReloadEnd(int32_t(asked.size() - busy.size()), r, busy));
}

} // namespace zz
