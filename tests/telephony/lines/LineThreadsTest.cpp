#include "LineFakes.h"
#include "platform/CpuGate.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <map>

using namespace zz;
using namespace zz::test;

namespace {

// What the line threads showed in the Status and script columns, last text per line.
std::mutex g_dispLock;
std::map<int32_t, std::string> g_state, g_script;

int RecordState(int32_t line, const char* text) {
    std::lock_guard<std::mutex> lk(g_dispLock);
    g_state[line] = text;
    return 0;
}
int RecordScript(int32_t line, const char* text) {
    std::lock_guard<std::mutex> lk(g_dispLock);
    g_script[line] = text;
    return 0;
}
std::string StateOf(int32_t line) {
    std::lock_guard<std::mutex> lk(g_dispLock);
    return g_state[line];
}

class LineThreads : public ::testing::Test {
protected:
    LineThreads() : dir_("linethreads"), clock_(&fast_) {
        SetLinePrograms(&programs);
        SetCpuPercentSource([] { return 0; });
        SetLineDisplay({RecordState, RecordScript});
        std::lock_guard<std::mutex> lk(g_dispLock);
        g_state.clear();
        g_script.clear();
    }
    ~LineThreads() override {
        drive.reset();
        SetLineDisplay({});
        SetCpuPercentSource(nullptr);
        SetLinePrograms(nullptr);
        SetDriverMakers({});
    }
    // A manager over `lines` virtual lines, with the configuration text.
    void Make(int32_t lines, const std::string& cfgText) {
        DriverMakers m;
        m.vir = [lines](TagRunCfg*) { return std::make_unique<FakeCard>(lines, "VirtualLine", 0); };
        SetDriverMakers(m);
        TestDir::Write("ZuZodRun.cfg", cfgText);
        drive = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg);
        ASSERT_EQ(drive->status, 0);
    }
    TagTelBasic* ProgramOf(int32_t n) {
        std::lock_guard<std::mutex> lk(drive->Line(n)->programLock);
        return drive->Line(n)->program;
    }
    std::string FileOf(int32_t n) {
        std::lock_guard<std::mutex> lk(drive->Line(n)->programLock);
        TagTelBasic* p = drive->Line(n)->program;
        return p ? FakePrograms::F(p)->file : std::string();
    }
    int32_t ThreadsAlive() {
        int32_t t = 0;
        for (int32_t n = 0; n < drive->LineCount(); ++n)
            t += drive->Line(n)->threads.load();
        return t;
    }
    void ExpectCleanRun() {
        EXPECT_EQ(programs.badFrees, 0);
        EXPECT_EQ(programs.freedWhileRunning, 0);
        EXPECT_EQ(programs.doubleRuns, 0);
    }

    TestDir dir_;
    FastClock fast_;
    ScopedClock clock_;
    FakePrograms programs;
    TagRunCfg cfg;
    std::unique_ptr<TagTelDrive> drive;
};

} // namespace

TEST_F(LineThreads, TwoHundredLinesLoadRunAndCloseInOrder) {
    Make(200, "LOAD_DELAY=5\n0-199=wait.kvs\n");
    SystemClosing() = true;
    testing::internal::CaptureStdout();
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    EXPECT_TRUE(drive->RunFlag());
    EXPECT_FALSE(SystemClosing());
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 200; }));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(drive->LoadedLines(), 200);
    EXPECT_NE(out.find("  loadLinesCount=10\n"), std::string::npos);
    EXPECT_NE(out.find("  loadLinesCount=200\n"), std::string::npos);
    for (int32_t n = 0; n < 200; ++n) {
        TagTelBasic* p = ProgramOf(n);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(FakePrograms::F(p)->entry, drive->Line(n));
        EXPECT_TRUE(FakePrograms::F(p)->reloadAllowed) << "the engine waits for it before a reload";
        EXPECT_TRUE(drive->Line(n)->loaded);
    }
    {
        std::lock_guard<std::mutex> lk(g_dispLock);
        EXPECT_EQ(g_script[17], "wait.kvs");
        EXPECT_EQ(g_state[17], "加载...");
    }

    drive->CloseAllTelLine();
    EXPECT_EQ(programs.Live(), 0u);
    EXPECT_EQ(programs.destroyed, 200);
    EXPECT_EQ(ThreadsAlive(), 0);
    for (int32_t n = 0; n < 200; ++n)
        EXPECT_EQ(ProgramOf(n), nullptr);
    ExpectCleanRun();
}

TEST_F(LineThreads, ReloadOfOneRunningLineRebuildsItOnItsOwnThread) {
    Make(20, "LOAD_DELAY=5\n0-19=wait.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 20; }));
    EXPECT_EQ(drive->ReloadLine(3, "wait2.kvs"), 0);
    ASSERT_TRUE(WaitFor([&] { return FileOf(3) == "wait2.kvs" && programs.Running() == 20; }));
    EXPECT_EQ(programs.BuiltOn(3), 2);
    EXPECT_EQ(programs.BuiltOn(4), 1);
    EXPECT_EQ(drive->Line(3)->threads.load(), 1);
    EXPECT_EQ(drive->ReloadLine(20, "x.kvs"), -1);
    EXPECT_EQ(drive->ReloadLine(-1, "x.kvs"), -1);
    drive->CloseAllTelLine();
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, ReloadAllWhileRunningRebuildsEveryLineOnceAndOneAtATime) {
    Make(50, "LOAD_DELAY=5\n0-49=wait.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 50; }));
    int32_t clears = programs.cacheClears;
    EXPECT_TRUE(drive->StartReloadAll());
    EXPECT_FALSE(drive->StartReloadAll()); // a second one beside the first does nothing
    ASSERT_TRUE(WaitFor([&] { return programs.built == 100 && programs.Running() == 50; }));
    EXPECT_EQ(programs.cacheClears, clears + 1);
    for (int32_t n = 0; n < 50; ++n)
        EXPECT_EQ(programs.BuiltOn(n), 2);
    EXPECT_EQ(programs.destroyed, 50);
    // Once it is done, another reload may start.
    ASSERT_TRUE(WaitFor([&] { return drive->StartReloadAll(); }));
    ASSERT_TRUE(WaitFor([&] { return programs.built == 150 && programs.Running() == 50; }));
    drive.reset();
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, ReloadAllAfterAScriptEndedRunsTheWholeListAgainReadAgain) {
    Make(6, "LOAD_DELAY=5\n0-4=wait.kvs\n5=end.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 5 && drive->Line(5)->threads.load() == 0; }));
    // The ended script stays in its entry.
    ASSERT_NE(ProgramOf(5), nullptr);
    EXPECT_TRUE(programs.Stopped(ProgramOf(5)));
    // Line 5 is no longer listed: after the reload it has no script, rather than its old one that "cannot run".
    TestDir::Write("ZuZodRun.cfg", "LOAD_DELAY=5\n0-4=wait.kvs\n");
    EXPECT_TRUE(drive->StartReloadAll());
    ASSERT_TRUE(WaitFor([&] { return programs.built == 11 && programs.Running() == 5; }));
    EXPECT_EQ(programs.destroyed, 6);
    TagTelDrive::LoadReport r = drive->Report();
    EXPECT_EQ(r.scripted, 5);
    EXPECT_EQ(r.problems, "");
    drive.reset();
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, CompileErrorLeavesTheLineWithoutARunThreadAndReloadRunsAgain) {
    Make(3, "LOAD_DELAY=5\n0,2=wait.kvs\n1=bad.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 2 && drive->Line(1)->threads.load() == 0; }));
    EXPECT_EQ(StateOf(1), "加载不成功");
    ASSERT_NE(ProgramOf(1), nullptr);
    EXPECT_EQ(programs.InitResult(ProgramOf(1)), -2);
    EXPECT_EQ(programs.runsStarted, 2);
    EXPECT_TRUE(drive->StartReloadAll());
    ASSERT_TRUE(WaitFor([&] { return programs.built == 6 && programs.Running() == 2; }));
    drive.reset();
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, CloseAllForcesAScriptDeafToQuitAfter35Seconds) {
    Make(3, "LOAD_DELAY=5\n0,2=wait.kvs\n1=deaf.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 3 && programs.Parked() == 3; }));
    // From here time moves only while every line thread is parked or gone: the 35 s and the force's grace are
    // counted in the closing thread's own steps, whatever the machine's load.
    SettledClock settled([&] { return ThreadsAlive() == programs.Parked(); });
    ScopedClock closeClock(&settled);
    uint32_t start = GetTickCount();
    drive->CloseAllTelLine();
    uint32_t took = TicksSince(start);
    EXPECT_GE(took, 35000u);
    EXPECT_LT(took, 36000u);
    EXPECT_EQ(programs.Live(), 0u);
    EXPECT_FALSE(drive->Line(1)->abandoned.load());
    ExpectCleanRun();
}

TEST_F(LineThreads, AThreadThatNeverReturnsIsLeftRunningAndFreesItsOwnProgram) {
    Make(3, "LOAD_DELAY=5\n0,2=wait.kvs\n1=hung.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 3 && programs.hungInside == 1; }));
    drive->CloseAllTelLine();
    EXPECT_TRUE(drive->Line(1)->abandoned.load());
    EXPECT_EQ(drive->Line(1)->threads.load(), 1);
    EXPECT_EQ(programs.Live(), 1u); // not freed under the thread
    EXPECT_EQ(drive->ReloadLine(1, "wait.kvs"), -1);
    programs.release = true;
    ASSERT_TRUE(WaitFor([&] { return drive->Line(1)->threads.load() == 0; }));
    EXPECT_EQ(programs.Live(), 0u);
    EXPECT_EQ(ProgramOf(1), nullptr);
    // The line can be loaded again.
    programs.release = false;
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.hungInside == 2; }));
    programs.release = true;
    drive.reset();
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, AManagerDeletedUnderAHungThreadLeavesItsLineToIt) {
    Make(2, "LOAD_DELAY=5\n0=wait.kvs\n1=hung.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 2 && programs.hungInside == 1; }));
    TagTelLine* left = drive->Line(1);
    drive.reset();
    EXPECT_EQ(programs.Live(), 1u);
    programs.release = true; // returns into a line entry and call object that still exist
    ASSERT_TRUE(WaitFor([&] { return left->threads.load() == 0; }));
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();
}

TEST_F(LineThreads, LinesWaitingForTheRunFlagOrTheProcessorGateStopAtOnce) {
    // Lines handed out 500 ms apart: the early ones wait for the run flag while the rest are handed out.
    Make(8, "LOAD_DELAY=1780\n0-7=wait.kvs\n");
    ASSERT_TRUE(drive->StartWorker([](TagTelDrive& d) { d.Run("ZuZodRun.cfg"); }));
    ASSERT_TRUE(WaitFor([&] { return programs.built >= 2; }));
    EXPECT_FALSE(drive->RunFlag());
    uint32_t start = GetTickCount();
    drive.reset(); // stops the hand-out, then closes every line
    EXPECT_LT(TicksSince(start), 35000u);
    EXPECT_EQ(programs.runsStarted, 0);
    EXPECT_EQ(programs.Live(), 0u);
    ExpectCleanRun();

    // A busy processor holds every loading thread but line 0's in the gate.
    SetCpuPercentSource([] { return 90; });
    Make(4, "LOAD_DELAY=5\n0-3=wait.kvs\n");
    int32_t before = programs.built;
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.built == before + 1; })); // line 0 skips the loading gate
    for (int32_t n = 1; n < 4; ++n)
        EXPECT_EQ(drive->Line(n)->threads.load(), 1);
    start = GetTickCount();
    drive->CloseAllTelLine();
    EXPECT_LT(TicksSince(start), 35000u);
    EXPECT_EQ(programs.Live(), 0u);
    EXPECT_EQ(ThreadsAlive(), 0);
    ExpectCleanRun();
}

TEST_F(LineThreads, ALineListedTwiceInAnEditedFileIsLoadedOnce) {
    Make(4, "LOAD_DELAY=5\n0-3=wait.kvs\n");
    TestDir::Write("ZuZodRun.cfg", "LOAD_DELAY=5\n0-3=wait.kvs\n2=other.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return programs.Running() == 4; }));
    EXPECT_EQ(programs.built, 4);
    EXPECT_EQ(FileOf(2), "wait.kvs");
    ExpectCleanRun();
}

TEST_F(LineThreads, RunRefusesNoLinesAndAnUnreadableFile) {
    SetMessageStderr(false);
    std::string messages;
    SetMessageSink([&](const std::string& t, const std::string& c) { messages += c + ": " + t + "\n"; });
    Make(0, "");
    EXPECT_EQ(drive->Run("ZuZodRun.cfg"), -1);
    Make(2, "");
    EXPECT_EQ(drive->Run("nofile.cfg"), -2);
    SetMessageSink(nullptr);
    SetMessageStderr(true);
    EXPECT_EQ(messages, "Karvelian System: Lines number is 0\nKarvelian System: Open cfg file error: nofile.cfg\n");
}

TEST_F(LineThreads, LinesAreHandedOutAtLeastAQuarterOfTheLoadDelayPlus55MsApart) {
    Make(10, "LOAD_DELAY=5\n0-9=wait.kvs\n");
    uint32_t start = GetTickCount();
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    EXPECT_GE(TicksSince(start), 10u * 56u + 200u);
}

TEST(ProcessorGate, SleepsWhileBusyThenWaitsTheGivenTime) {
    VirtualClock vc(1000);
    ScopedClock sc(&vc);
    int calls = 0;
    SetCpuPercentSource([&] { return ++calls <= 3 ? 55 : 54; });
    EXPECT_TRUE(WaitCpuIdleOr(20, 65, nullptr));
    EXPECT_EQ(vc.Ticks(), 1000u + 3 * 320 + 65);

    // Rounds run out: no final sleep.
    SetCpuPercentSource([] { return 90; });
    uint32_t t0 = vc.Ticks();
    EXPECT_FALSE(WaitCpuIdleOr(1, 75, nullptr));
    EXPECT_EQ(vc.Ticks() - t0, 10u * 320);

    std::atomic<bool> stop{true};
    t0 = vc.Ticks();
    EXPECT_FALSE(WaitCpuIdleOr(40, 75, &stop));
    EXPECT_EQ(vc.Ticks(), t0);

    // An open gate (a line alone in its process) lets the line through at once, busy or not.
    OpenCpuGate(true);
    EXPECT_TRUE(WaitCpuIdleOr(20, 65, nullptr));
    EXPECT_EQ(vc.Ticks(), t0);
    OpenCpuGate(false);
    SetCpuPercentSource(nullptr);

    // DelayMs sleeps at least once, 50 ms at a time.
    t0 = vc.Ticks();
    DelayMs(30);
    EXPECT_EQ(vc.Ticks() - t0, 50u);
    t0 = vc.Ticks();
    DelayMs(350);
    EXPECT_EQ(vc.Ticks() - t0, 350u);
}
