#pragma once
// A console core on fake drivers and fake programs, with a view that records what the core asks of the window.
#include "console/TagConsole.h"
#include "console/TagMonitor.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "tests/support/TestDir.h"
#include "tests/telephony/lines/LineFakes.h"

#include <condition_variable>
#include <gtest/gtest.h>

namespace zz::test {

struct RecordingView : ConsoleView {
    std::mutex m;
    std::condition_variable cv;
    int posts = 0, closes = 0, trayRemoved = 0, shows = 0;
    bool runDone = false;
    int32_t runResult = 0, scripted = -1;
    TagTelDrive::LoadReport report;
    FormGeometry geometry;
    bool hasGeometry = true;

    void PostQuit() override {
        std::lock_guard<std::mutex> g(m);
        ++posts;
    }
    void CloseWindow() override { ++closes; }
    void RemoveTray() override { ++trayRemoved; }
    void ShowWindow() override { ++shows; }
    bool Geometry(FormGeometry& g) override {
        g = geometry;
        return hasGeometry;
    }
    void RunDone(int32_t result, const TagTelDrive::LoadReport& lines) override {
        std::lock_guard<std::mutex> g(m);
        runDone = true;
        runResult = result;
        scripted = lines.scripted;
        report = lines;
        cv.notify_all();
    }
    // The main run thread has handed out the lines (no time limit: the thread always gets there).
    void WaitRunDone() {
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [this] { return runDone; });
    }
};

class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest() : dir_("console"), clock_(&fast_) {
        saved_ = RunCfg();
        SetLinePrograms(&programs_);
        SetLineDisplay({SetLineState, DispScriptFile});
        SetMessageStderr(false);
        SetMessageSink([this](const std::string& t, const std::string& c) { messages += c + ": " + t + "\n"; });
        console.SetView(&view);
        SetConsole(&console);
    }
    ~ConsoleTest() override {
        console.Shutdown();
        SetConsole(nullptr);
        SetMessageSink(nullptr);
        SetMessageStderr(true);
        SetLineDisplay({});
        SetLinePrograms(nullptr);
        SetDriverMakers({});
        RunCfg() = saved_;
        SetLogLevel(0);
    }
    // Starts the console on `lines` virtual lines and the configuration text; waits for the lines' hand-out.
    int32_t Start(int32_t lines, const std::string& cfgText) {
        DriverMakers makers;
        makers.vir = [lines](TagRunCfg*) { return std::make_unique<FakeCard>(lines, "VirtualLine", 0); };
        SetDriverMakers(makers);
        TestDir::Write("ZuZodRun.cfg", cfgText);
        TagRunCfg::ReadCfgFile("ZuZodRun.cfg", &RunCfg());
        messages.clear();
        int32_t status = console.Start("ZuZodRun.cfg");
        if (status >= 0) view.WaitRunDone();
        return status;
    }
    // Gives a line a running program, as a loaded line has.
    void GiveProgram(int32_t line) {
        TagTelLine* e = GetTelDrive()->Line(line);
        std::lock_guard<std::mutex> lk(e->programLock);
        e->program = programs_.Build("run.kvs", line, e->call.get());
        SetLineState(line, "运行");
    }
    TagKvCall& Call(int32_t line) { return *GetTelDrive()->Line(line)->call; }

    TestDir dir_;
    FastClock fast_;
    ScopedClock clock_;
    TagRunCfg saved_;
    FakePrograms programs_;
    RecordingView view;
    TagConsole console;
    std::string messages;
};

} // namespace zz::test
