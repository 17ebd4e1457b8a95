// Real scripts on the line threads: the engine compiles and runs them while the manager reloads and closes.
#include "LineFakes.h"
#include "app/SystemStart.h"
#include "console/TagMonitor.h"
#include "engine/TagTelBasic.h"
#include "platform/CpuGate.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

using namespace zz;
using namespace zz::test;

namespace {

class LinesEngine : public ::testing::Test {
protected:
    LinesEngine() : dir_("linesengine"), clock_(&fast_) {
        SetLinePrograms(&EngineLinePrograms());
        SetCpuPercentSource([] { return 0; });
    }
    ~LinesEngine() override {
        drive.reset();
        SetCpuPercentSource(nullptr);
        SetLinePrograms(nullptr);
        SetDriverMakers({});
    }
    void Make(int32_t lines, const std::string& lists) {
        DriverMakers m;
        m.vir = [lines](TagRunCfg*) { return std::make_unique<FakeCard>(lines, "VirtualLine", 0); };
        SetDriverMakers(m);
        TestDir::Write("ZuZodRun.cfg", "LOAD_DELAY=5\n" + lists);
        drive = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg);
        ASSERT_EQ(drive->status, 0);
    }
    // Lines whose program runs, built from a file of `ops` statements (0: any).
    int32_t Running(int32_t ops = 0) {
        int32_t n = 0;
        for (int32_t i = 0; i < drive->LineCount(); ++i) {
            TagTelLine* e = drive->Line(i);
            std::lock_guard<std::mutex> lk(e->programLock);
            TagTelBasic* p = e->program;
            if (p && p->initResult == 0 && !p->stopped && p->curOpIndex.load() >= 0 && (!ops || p->OpCount() == ops))
                ++n;
        }
        return n;
    }
    int32_t OpsOf(int32_t line) {
        TagTelLine* e = drive->Line(line);
        std::lock_guard<std::mutex> lk(e->programLock);
        return e->program ? e->program->OpCount() : -1;
    }

    TestDir dir_;
    FastClock fast_;
    ScopedClock clock_;
    TagRunCfg cfg;
    std::unique_ptr<TagTelDrive> drive;
};

const char* kLoop = "n = 0\nwhile (1)\n{\n    n = n + 1\n}\n";
const char* kLoopLonger = "n = 0\nm = 0\nwhile (1)\n{\n    n = n + 1\n    m = m + 2\n}\n";

} // namespace

TEST_F(LinesEngine, TwoHundredScriptsRunReloadOneAndAllThenClose) {
    TestDir::Write("loop.kvs", kLoop);
    TestDir::Write("longer.kvs", kLoopLonger);
    Make(200, "0-199=loop.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return Running() == 200; }, 60000)) << Running();
    int32_t loopOps = OpsOf(0);
    ASSERT_GT(loopOps, 0);

    // One line, to another file, while every line runs.
    EXPECT_EQ(drive->ReloadLine(7, "longer.kvs"), 0);
    ASSERT_TRUE(WaitFor([&] { return OpsOf(7) != loopOps && Running() == 200; }, 60000));
    int32_t longerOps = OpsOf(7);

    // All lines, after the file changed on disk: every line rebuilds from the new text.
    TestDir::Write("loop.kvs", kLoopLonger);
    ASSERT_TRUE(drive->StartReloadAll());
    ASSERT_TRUE(WaitFor([&] { return Running(longerOps) == 200; }, 60000)) << Running(longerOps);

    drive->CloseAllTelLine();
    for (int32_t i = 0; i < 200; ++i) {
        EXPECT_EQ(drive->Line(i)->threads.load(), 0);
        EXPECT_FALSE(drive->Line(i)->abandoned.load());
        EXPECT_EQ(drive->Line(i)->program, nullptr);
    }
}

TEST_F(LinesEngine, AScriptThatDoesNotCompileStaysWithoutARunThread) {
    TestDir::Write("loop.kvs", kLoop);
    TestDir::Write("bad.kvs", "n = = 1\n");
    Make(2, "0=loop.kvs\n1=bad.kvs\n");
    ASSERT_EQ(drive->Run("ZuZodRun.cfg"), 0);
    ASSERT_TRUE(WaitFor([&] { return Running() == 1 && drive->Line(1)->threads.load() == 0; }));
    {
        std::lock_guard<std::mutex> lk(drive->Line(1)->programLock);
        ASSERT_NE(drive->Line(1)->program, nullptr);
        EXPECT_EQ(drive->Line(1)->program->initResult, -2);
        EXPECT_EQ(drive->Line(1)->program->lineEntry, drive->Line(1));
    }
    EXPECT_TRUE(std::filesystem::exists("errmsg1.txt"));
    drive.reset();
}

TEST(SystemStart, DispMonitorShowsEveryLineWithItsScriptAndState) {
    TestDir dir("dispmonitor");
    FakePrograms programs;
    SetLinePrograms(&programs);
    DriverMakers m;
    m.vir = [](TagRunCfg*) { return std::make_unique<FakeCard>(3, "VirtualLine", 0); };
    SetDriverMakers(m);
    TestDir::Write("ZuZodRun.cfg", "VIR_LINES_NUM=3\n");
    TagRunCfg cfg;
    auto owned = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg);
    TagTelDrive& drive = *owned;
    TagMonitor monitor(3);
    SetMonitor(&monitor);
    SetTelDrive(&drive);
    drive.Line(0)->scriptFile = "a.kvs";
    drive.Line(0)->program = programs.Build("a.kvs", 0, drive.Line(0)->call.get());
    drive.Line(1)->scriptFile = "bad.kvs";
    drive.Line(1)->program = programs.Build("bad.kvs", 1, drive.Line(1)->call.get());
    for (uint8_t lang : {0, 1}) {
        RunCfg().language = lang;
        DispMonitor();
        EXPECT_EQ(monitor.Text(0, 0), "0 : VirtualLine0");
        EXPECT_EQ(monitor.Text(0, 1), "a.kvs");
        EXPECT_EQ(monitor.Text(1, 1), "bad.kvs");
        EXPECT_EQ(monitor.Text(2, 1), "");
        EXPECT_EQ(monitor.Text(0, 2), lang ? "Running" : "运行");
        EXPECT_EQ(monitor.Text(1, 2), lang ? "InitErr" : "初始化失败");
        EXPECT_EQ(monitor.Text(2, 2), lang ? "Unset" : "未配置");
    }
    RunCfg().language = 0;
    SetTelDrive(nullptr);
    SetMonitor(nullptr);
    owned.reset(); // frees the programs it finds in the entries
    EXPECT_EQ(programs.Live(), 0u);
    SetLinePrograms(nullptr);
    SetDriverMakers({});
}

TEST(SystemStart, AManagerThatDoesNotStartLeavesNoLinesAndSaysSo) {
    TestDir dir("initfail");
    SetMessageStderr(false);
    std::string shown;
    SetMessageSink([&](const std::string& t, const std::string& c) { shown += c + ": " + t + "\n"; });
    EXPECT_EQ(InitSystem("missing.cfg"), -100);
    SetMessageSink(nullptr);
    SetMessageStderr(true);
    EXPECT_EQ(GetTelDrive(), nullptr);
    EXPECT_EQ(GetMonitor(), nullptr);
    EXPECT_EQ(shown, "Karvelian System: \"missing.cfg\" File Open Error.\n"
                     "Karvelian System: 初始化系统失败: 返回值=-100\n");
    EXPECT_EQ(SystemInfoText(), "初始化系统失败: 返回值=-100");
    CloseSystem();
    SetLinePrograms(nullptr);
}
