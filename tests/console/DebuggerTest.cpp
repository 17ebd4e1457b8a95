// The debugger's pages on a real script running on its line thread: a breakpoint in a function stops it, the
// page shows the function's variables and the call stack, a step runs one statement, Run goes on to the next
// breakpoint, and closing the page lets the script run on without breakpoints.
#include "app/SystemStart.h"
#include "console/TagConsole.h"
#include "engine/TagTelBasic.h"
#include "tests/support/TestDir.h"
#include "tests/telephony/lines/LineFakes.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

using namespace zz;
using namespace zz::test;

namespace {

const char* const kScript = "function Add(a, b)\n"
                            "{\n"
                            "    c = a + b;\n"
                            "    return(c);\n"
                            "}\n"
                            "x = 1;\n"
                            "y = Add(x, 2);\n"
                            "z = y * 10;\n"
                            "n = 0;\n"
                            "while(n >= 0)\n"
                            "{\n"
                            "    n = n + 1;\n"
                            "}\n";

int32_t RowOf(const std::vector<std::string>& rows, const std::string& text) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].find(text) != std::string::npos) return int32_t(i);
    return -1;
}

std::string VarValue(const VarGridTable& t, const std::string& name) {
    for (auto& r : t.rows)
        if (r[0] == name) return r[1];
    return "?";
}

class Debugger : public ::testing::Test {
protected:
    Debugger() : dir_("debugger") {
        PrepareSystem();
        SetConsole(&console);
        DriverMakers makers;
        makers.vir = [](TagRunCfg*) { return std::make_unique<FakeCard>(1, "VirtualLine", 0); };
        SetDriverMakers(makers);
        TestDir::Write("ZuZodRun.cfg", "");
        drive = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg);
        SetTelDrive(drive.get());
        TestDir::Write("dbg.kvs", kScript);
        TagTelLine* e = drive->Line(0);
        prog = EngineLinePrograms().Build("dbg.kvs", 0, e->call.get());
        e->program = prog;
        SystemClosing() = false;
        console.Pages().SetListener([this](int32_t) {
            std::lock_guard<std::mutex> g(m);
            ++changes;
            cv.notify_all();
        });
    }
    ~Debugger() override {
        console.Pages().SetListener(nullptr);
        if (runner.joinable()) {
            prog->SetQuit(1);
            prog->stop = 1;
            runner.join();
        }
        SystemClosing() = true;
        SetTelDrive(nullptr);
        drive.reset(); // frees the program left in the entry
        SetConsole(nullptr);
        SetDriverMakers({});
    }
    // Waits (no limit: the line thread always gets there) until the page shows a pause newer than `after`.
    TagPageState WaitPause(uint32_t after) {
        TagPageState s;
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return console.Pages().State(0, s) && s.paused && s.serial > after; });
        return s;
    }

    TestDir dir_;
    TagRunCfg cfg;
    TagConsole console;
    std::unique_ptr<TagTelDrive> drive;
    TagTelBasic* prog = nullptr;
    std::thread runner;
    std::mutex m;
    std::condition_variable cv;
    int changes = 0;
};

} // namespace

TEST_F(Debugger, BreakpointStopsInAFunctionStepRunsOneStatementAndClosingLetsTheScriptRunOn) {
    ASSERT_EQ(prog->initResult, 0);
    TagCtrlPages& pages = console.Pages();
    ASSERT_TRUE(pages.Open(0));
    EXPECT_FALSE(pages.Open(0)); // a line has one page at most
    TagPageState s;
    ASSERT_TRUE(pages.State(0, s));
    int32_t inFunc = RowOf(s.funcRows, "c = a + b;");
    int32_t zRow = RowOf(s.mainRows, "z = y * 10;");
    ASSERT_GE(inFunc, 0);
    ASSERT_GE(zRow, 0);
    pages.ToggleBreak(true, inFunc);
    ASSERT_TRUE(pages.State(0, s));
    EXPECT_EQ(s.funcBreaks[size_t(inFunc)], 1);

    runner = std::thread([this] { prog->Run(); });
    s = WaitPause(0);
    EXPECT_TRUE(s.inFunction);
    EXPECT_EQ(s.funcCur, inFunc);
    EXPECT_EQ(VarValue(s.funcVars, "a"), "1");
    EXPECT_EQ(VarValue(s.funcVars, "b"), "2");
    EXPECT_EQ(VarValue(s.mainVars, "x"), "1");
    std::vector<CallStackEntry> stack;
    ASSERT_TRUE(pages.CallStack(stack));
    ASSERT_EQ(stack.size(), 2u);
    EXPECT_NE(stack[0].name.find("Add"), std::string::npos);
    EXPECT_EQ(stack[1].name, "_main_");
    std::string kind, value, note;
    EXPECT_EQ(pages.LookupName(true, "a", kind, value, note), 0);
    EXPECT_EQ(kind, "参数");

    pages.Step();
    s = WaitPause(s.serial);
    EXPECT_EQ(s.funcCur, inFunc + 1);
    EXPECT_EQ(VarValue(s.funcVars, "c"), "3");
    EXPECT_NE(pages.OperVars(true, inFunc).find("c: 3"), std::string::npos);

    pages.ToggleBreak(true, inFunc);
    pages.ToggleBreak(false, zRow);
    pages.Run();
    s = WaitPause(s.serial);
    EXPECT_FALSE(s.inFunction);
    EXPECT_EQ(s.mainCur, zRow);
    EXPECT_EQ(VarValue(s.mainVars, "y"), "3");

    pages.Close(0);
    EXPECT_FALSE(pages.HasPage(0));
    EXPECT_FALSE(prog->IsPaused());
    for (int32_t i = 0; i < prog->OpCount(); ++i)
        EXPECT_EQ(prog->GetOpBreak(i), 0);
    pages.Run(); // no page, nothing paused: nothing happens
}
