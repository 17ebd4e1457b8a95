// zz_sip_line: SIP lines of the real driver, worked by commands on standard input, for the tests against real
// SIP peers (tests/telephony/sip/peer/). It reads SipCfg.ini in the working directory, starts the driver and
// prints "ready"; then each input line "<command> <line> <args...>" runs on that line's own thread and, when done,
// prints "done <line> <command> <result> <texts...>" (texts with CR and LF written as \r and \n).
#include "platform/TagWriteLog.h"
#include "telephony/TagTelDrive.h"
#include "telephony/sip/MsrpEngine.h"
#include "telephony/sip/TagSipDrive.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

using namespace zz;

namespace {

std::mutex g_out;

std::string Escape(const std::string& s) {
    std::string o;
    for (char c : s)
        o += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return o;
}

std::string Unescape(const std::string& s) {
    std::string o;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
            o += s[++i] == 'r' ? '\r' : '\n';
        } else {
            o += s[i];
        }
    }
    return o;
}

void Print(const std::string& text) {
    std::lock_guard<std::mutex> g(g_out);
    std::cout << text << std::endl;
}

// One worker thread per line, so that a line waiting for a call does not hold up the others.
class LineWorker {
public:
    explicit LineWorker(TagKvCall* call) : call_(call), thread_([this] { Loop(); }) {}
    ~LineWorker() {
        {
            std::lock_guard<std::mutex> g(m_);
            quit_ = true;
        }
        cv_.notify_all();
        call_->RequestStop();
        thread_.join();
    }
    void Post(std::function<void(TagKvCall&)> job) {
        {
            std::lock_guard<std::mutex> g(m_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_all();
    }

private:
    void Loop() {
        for (;;) {
            std::function<void(TagKvCall&)> job;
            {
                std::unique_lock<std::mutex> g(m_);
                cv_.wait(g, [&] { return quit_ || !jobs_.empty(); });
                if (quit_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            call_->stopFlag = false;
            job(*call_);
        }
    }
    TagKvCall* call_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void(TagKvCall&)>> jobs_;
    bool quit_ = false;
    std::thread thread_;
};

void Run(TagKvCall& c, int line, const std::string& cmd, std::istringstream& in) {
    std::string a, b, d;
    int n = 0, m = 0, r = 0;
    std::string out;
    if (cmd == "ring") {
        // The line looks once, so the stack gives it the next call, and says so before it waits.
        std::string caller, called;
        c.IsRinging(caller, called);
        Print("listening " + std::to_string(line));
        r = c.WaitRing(1);
        out = c.callerId + " " + c.calleeId;
    } else if (cmd == "play") {
        in >> a;
        r = c.Play(a.c_str(), 1, 0);
    } else if (cmd == "loopplay") {
        in >> a;
        r = c.StartLoopPlay(a.c_str(), 0);
    } else if (cmd == "keys") {
        in >> n >> m >> a;
        std::string keys;
        r = c.GetKeys(keys, n, m, a.empty() ? 0 : a[0]);
        out = keys;
    } else if (cmd == "record") {
        in >> a >> n;
        r = c.Record(a.c_str(), n, 0);
    } else if (cmd == "hangup") {
        r = c.Hangup();
    } else if (cmd == "callerid") {
        in >> a;
        c.SetCallerId(a.c_str());
    } else if (cmd == "outcall") {
        in >> a;
        r = c.OutCall(a.c_str(), 0, 0);
        out = std::to_string(c.cause);
    } else if (cmd == "online") {
        r = c.IsOnline();
    } else if (cmd == "link") {
        in >> n;
        r = c.LinkTo(n, 0);
    } else if (cmd == "unlinkall") {
        r = c.UnlinkAll();
    } else if (cmd == "setkeys") {
        in >> a;
        r = c.SetKeys(a.c_str());
    } else if (cmd == "imsend") {
        in >> a;
        std::getline(in >> std::ws, b);
        r = c.ImSend(a.c_str(), "text/plain", b.c_str(), int32_t(b.size()));
    } else if (cmd == "imread") {
        std::string from, to, type, body;
        r = c.ImRead(from, to, type, body);
        out = from + " " + Escape(body);
    } else if (cmd == "accstat") {
        in >> a;
        r = c.SipGetAccStat(a.c_str());
    } else if (cmd == "imwait" || cmd == "accwait") {
        // Messages and registrations have no wait of their own (scripts ask again); the shell asks every 10 ms.
        in >> a >> n;
        for (int i = 0; i < 3000; ++i) {
            r = cmd == "imwait" ? c.ImTest() : c.SipGetAccStat(a.c_str());
            if (cmd == "imwait" ? r > 0 : r == n) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } else if (cmd == "filesend") {
        in >> a;
        std::string id, uri, offer;
        int32_t handle = 0, size = 0;
        r = c.ImFileSend(a.c_str(), id, handle, uri, size, offer);
        out = Escape(offer);
    } else if (cmd == "filerecv") {
        std::getline(in >> std::ws, a);
        std::string answer, path, name, id;
        int32_t handle = 0, size = 0;
        r = c.ImFileRecv(0, Unescape(a).c_str(), 0, handle, answer, path, name, size, id);
        out = path + " " + Escape(answer);
    } else if (cmd == "fileanswer") {
        std::getline(in >> std::ws, a);
        r = c.ImFileProcAnswer(Unescape(a).c_str());
    } else if (cmd == "filewait") {
        in >> n;
        auto* msrp = dynamic_cast<MsrpEngine*>(GetSipLibs().msrp);
        r = msrp ? msrp->WaitDone(n, 60000) : -1;
        int32_t done = 0, total = 0;
        c.ImFileCheck(n, done, total);
        out = std::to_string(done) + "/" + std::to_string(total);
    } else {
        r = -999;
    }
    Print("done " + std::to_string(line) + " " + cmd + " " + std::to_string(r) + " " + out);
}

} // namespace

int main() {
    TagWriteLog log("run.txt", 0, true, true);
    SetRunLog(&log);
    SetLogLevel(1);
    DriverMakers makers;
    makers.sip = MakeSipDrive;
    SetDriverMakers(makers);
    auto drive = std::make_unique<TagTelDrive>(nullptr, nullptr);
    SetTelDrive(drive.get());
    Print(std::string("ready ") + (drive->status == 0 ? "0" : "-1"));
    std::map<int, std::unique_ptr<LineWorker>> workers;
    std::string lineText;
    while (std::getline(std::cin, lineText)) {
        std::istringstream in(lineText);
        std::string cmd;
        int line = -1;
        in >> cmd >> line;
        if (cmd == "quit") break;
        TagTelLine* entry = drive->Line(line);
        if (!entry) {
            Print("done " + std::to_string(line) + " " + cmd + " -2 no such line");
            continue;
        }
        auto& w = workers[line];
        if (!w) w = std::make_unique<LineWorker>(entry->call.get());
        std::streamoff at = in.tellg();
        auto rest = std::make_shared<std::string>(at < 0 ? std::string() : lineText.substr(size_t(at)));
        w->Post([line, cmd, rest](TagKvCall& c) {
            std::istringstream args(*rest);
            Run(c, line, cmd, args);
        });
    }
    workers.clear();
    SetTelDrive(nullptr);
    drive.reset();
    SetRunLog(nullptr);
    Print("bye");
    return 0;
}
