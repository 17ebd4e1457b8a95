// The run loop on hand-built programs: restart at the end, quit and reload with and without OnSysQuit, hang-up
// handling in the main flow and inside functions, recursion, returned objects, timers and the debugger's pause.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/LineRandom.h"
#include "engine/TagCalculate.h"
#include "engine/TagExpre.h"
#include "engine/TagFlow.h"
#include "engine/TagMapObject.h"
#include "platform/Clock.h"
#include "tests/engine/HandProgram.h"

namespace zz {
namespace {

using test::Append;
using test::AppendDo;
using test::HandLine;
using test::TagDo;

// Ends a flow that would otherwise never stop, and fails the test.
TagDo* AppendGuard(TagTelBasic& main, int& runs, int limit = 1000) {
    return AppendDo(main, [&main, &runs, limit] {
        if (++runs > limit) {
            ADD_FAILURE() << "the flow does not end";
            main.endOfRun = 1;
        }
        return 0;
    });
}

struct HookLog {
    static inline std::vector<std::string> states;
    static void SetLineState(int32_t, const char* s) { states.emplace_back(s); }
};

class RunLoop : public ::testing::Test {
protected:
    void SetUp() override { HookLog::states.clear(); }
    void TearDown() override { TheEngineHooks() = EngineHooks(); }

    VirtualClock clock;
    ScopedClock scoped{&clock};
    HandLine line;
    TagTelBasic& main = line.main;
};

TEST_F(RunLoop, AScriptWithoutOperationsEndsAtOnceAndAProgramThatDidNotCompileDoesNotRun) {
    TheEngineHooks().setLineState = &HookLog::SetLineState;
    EXPECT_EQ(main.Run(), 0);
    EXPECT_EQ(main.stopped, 1);
    EXPECT_EQ(main.endOfRun, 1);
    EXPECT_EQ(HookLog::states, (std::vector<std::string>{"运行", "已停止"}));

    HandLine other;
    other.main.initResult = -1;
    EXPECT_EQ(other.main.Run(), -1);
    EXPECT_EQ(other.main.stopped, 0);
}

TEST_F(RunLoop, TheFlowStartsAgainAtTheEndAndAQuitWithoutOnSysQuitEndsItAfterTheCurrentOperation) {
    int a = 0, b = 0;
    TagNamedVar x;
    x.InitInt("x", "", 0, 0);
    AppendDo(main, [&] { return ++a; });
    Append(main, std::make_unique<test::TagDo>([&] {
               if (++b == 3) main.SetQuit(1);
               return 40 + b;
           }))
        ->SetTarget(&x, nullptr);
    line.call.callState = kCallConnected;
    EXPECT_EQ(main.Run(), 43);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(x.GetInt(), 43);
    EXPECT_EQ(main.RetVal()->GetInt(), 43);
    EXPECT_EQ(line.call.callState.load(), kCallNone); // reset at the start
    EXPECT_EQ(main.stopped, 1);
}

TEST_F(RunLoop, AQuitJumpsToOnSysQuitOnceAndTheHandlerRunsToItsEnd) {
    std::vector<std::string> trace;
    int guard = 0;
    AppendDo(main, [&] {
        trace.push_back("work");
        main.SetQuit(1);
        return 0;
    });
    AppendDo(main, [&] {
        trace.push_back("skipped");
        return 0;
    });
    Append(main, std::make_unique<TagOnSysQuit>(2, &main));
    EXPECT_EQ(main.sysQuitIndex, 2);
    AppendDo(main, [&] {
        trace.push_back("handler");
        main.SetQuit(1); // a later quit does not jump again
        return 0;
    });
    AppendDo(main, [&] {
        trace.push_back("handler end");
        return 0;
    });
    AppendGuard(main, guard);
    main.Run();
    EXPECT_EQ(trace, (std::vector<std::string>{"work", "handler", "handler end"}));
    EXPECT_EQ(main.handlerState.load(), 7);
}

TEST_F(RunLoop, AReloadWhoseOnSysQuitRunsOffTheEndLeavesTheLoop) {
    int work = 0, handler = 0, guard = 0;
    main.SetReloadAllowed(1);
    TagOper* top = AppendDo(main, [&] {
        if (++work == 2) main.SetReload(1);
        if (work > 1000) {
            ADD_FAILURE() << "the script starts again and again";
            main.endOfRun = 1;
        }
        return 0;
    });
    Append(main, std::make_unique<test::TagJump>(top));
    Append(main, std::make_unique<TagOnSysQuit>(2, &main));
    AppendDo(main, [&] { return ++handler; });
    AppendGuard(main, guard);
    line.call.callState = kCallNone;
    main.Run();
    EXPECT_EQ(work, 2);
    EXPECT_EQ(handler, 1);
    EXPECT_EQ(guard, 1);
    EXPECT_TRUE(line.call.stopFlag.load()); // the pending reload ends waiting operations
}

// Run returns the result of the last statement that ran: braces the flow passes over after a calculation do not
// count, also when the calculations ran in one stretch (a reload pending at the start ends the flow after it).
TEST_F(RunLoop, RunReturnsTheLastStatementsResultPastTheBracesAfterIt) {
    TagNamedVar a, b, t, x;
    a.InitInt("a", "", 6, 0);
    b.InitInt("b", "", 7, 0);
    std::vector<TagCalculate> steps{TagCalculate(&t, nullptr, &a, '*', &b), TagCalculate(&x, nullptr, &t, '+', &a)};
    Append(main, std::make_unique<TagExpre>(steps));
    Append(main, std::make_unique<TagNull>());
    int after = 0;
    AppendDo(main, [&] { return ++after; });
    main.SetReloadAllowed(1);
    main.SetReload(1);
    EXPECT_EQ(main.Run(), 2); // the expression's two steps
    EXPECT_EQ(x.GetInt(), 48);
    EXPECT_EQ(after, 0);
    EXPECT_EQ(main.RetVal()->GetInt(), 0); // the brace reset it
}

TEST_F(RunLoop, AReloadWaitsWhileTheLineIsInACall) {
    int work = 0, guard = 0;
    main.SetReloadAllowed(1);
    AppendDo(main, [&] {
        ++work;
        if (work == 1) {
            line.call.callState = kCallConnected;
            main.SetReload(1);
        }
        if (work == 4) line.call.callState = kCallClosed; // the call is over: now the reload goes ahead
        return 0;
    });
    AppendGuard(main, guard);
    main.Run();
    EXPECT_EQ(work, 4);
}

TEST_F(RunLoop, AHangUpJumpsToOnDisconnWhichHandlesItAndReturnsTheDialFailureWord) {
    std::vector<std::string> trace;
    AppendDo(main, [&] {
        trace.push_back("wait");
        line.call.callState = kCallReleased;
        main.dialFailWord = 5;
        return 0;
    });
    AppendDo(main, [&] {
        trace.push_back("skipped");
        return 0;
    });
    auto* close = Append(main, std::make_unique<TagClose>(&main));
    close->kind = 'x';
    EXPECT_EQ(close->SetDisconnFlag(2), 0);
    AppendDo(main, [&] {
        trace.push_back("after hang-up " + std::to_string(main.RetVal()->GetInt()));
        main.SetQuit(1);
        return 0;
    });
    main.Run();
    EXPECT_EQ(trace, (std::vector<std::string>{"wait", "after hang-up 5"}));
    EXPECT_EQ(line.call.callState.load(), kCallClosed);
    EXPECT_EQ(main.dialFailWord, 0);
}

TEST_F(RunLoop, InsideAFunctionAHangUpOrAQuitReturnsToTheMainFlowFirst) {
    std::vector<std::string> trace;
    TagTelBasic* f = test::AddFunction(main, "f");
    AppendDo(*f, [&] {
        trace.push_back("f");
        if (trace.size() == 1)
            line.call.callState = kCallReleased;
        else
            main.SetQuit(1);
        return 0;
    });
    AppendDo(*f, [&] {
        trace.push_back("f skipped");
        return 0;
    });
    TagOper* top = Append(main, std::make_unique<TagCall>(test::FuncVar(main, "f"), &main));
    AppendDo(main, [&] {
        trace.push_back("main skipped");
        return 0;
    });
    Append(main, std::make_unique<TagClose>(&main))->SetDisconnFlag(2);
    AppendDo(main, [&] {
        trace.push_back("hang-up handler");
        return 0;
    });
    Append(main, std::make_unique<test::TagJump>(top));
    Append(main, std::make_unique<TagOnSysQuit>(5, &main));
    AppendDo(main, [&] {
        trace.push_back("quit handler");
        return 0;
    });
    main.Run();
    EXPECT_EQ(trace, (std::vector<std::string>{"f", "hang-up handler", "f", "quit handler"}));
    EXPECT_EQ(line.call.callState.load(), kCallClosed);
    EXPECT_EQ(main.callDepth, 0u);
}

// The console hears of the statements that may wait, and of every statement while a debugger page shows the program.
TEST_F(RunLoop, TheConsoleHearsOfWaitingStatementsAndOfAllWhileAPageWatches) {
    static std::vector<int32_t> heard;
    heard.clear();
    TheEngineHooks().debugLineHook = [](TagTelBasic*, int32_t index, const char*, int32_t) { heard.push_back(index); };
    TagNamedVar x, one;
    x.InitInt("x", "", 0, 0);
    one.InitInt("", "", 1, 1);
    Append(main, std::make_unique<TagCalculate>(&x, nullptr, &x, '+', &one));
    int rounds = 0;
    AppendDo(main, [&] {
        if (++rounds == 2) main.SetQuit(1);
        return 0;
    });
    main.Run();
    EXPECT_EQ(heard, (std::vector<int32_t>{1, 1}));
    heard.clear();
    rounds = 0;
    main.SetWatched(1);
    main.Run();
    EXPECT_EQ(heard, (std::vector<int32_t>{0, 1, 0, 1}));
    EXPECT_EQ(x.GetInt(), 4);
}

TEST_F(RunLoop, UnboundedRecursionStopsAtThirtyLevelsWithMinusOne) {
    TagTelBasic* f = test::AddFunction(main, "f", {"n"});
    int bodies = 0;
    size_t deepest = 0;
    TagVar* n = &f->ParamValue(0);
    AppendDo(*f, [&] {
        ++bodies;
        deepest = std::max(deepest, size_t{main.callDepth});
        return 0;
    });
    auto* again = Append(*f, std::make_unique<TagCall>(test::FuncVar(main, "f"), f));
    again->AddPara(n);
    TagNamedVar arg;
    TagVar result;
    arg.InitInt("a", "", 1, 0);
    auto* call = Append(main, std::make_unique<TagCall>(test::FuncVar(main, "f"), &main));
    call->AddPara(&arg);
    call->SetTarget(&result, nullptr);
    AppendDo(main, [&] {
        main.SetQuit(1);
        return 0;
    });
    main.Run();
    EXPECT_EQ(bodies, 30);
    EXPECT_EQ(deepest, 30u);
    EXPECT_EQ(result.GetInt(), -1); // the innermost refusal is what every level returns
    EXPECT_EQ(main.callDepth, 0u);
    EXPECT_EQ(f->caller, nullptr); // the walk's chain is restored after each call
}

TEST_F(RunLoop, AnObjectReturnedByAFunctionReachesTheCallerIntact) {
    TagTelBasic* f = test::AddFunction(main, "make");
    TagVar* local = nullptr;
    f->FindOrCreateVar("arr", &local);
    AppendDo(*f, [local] {
        TagVar k, v;
        k.SetStr("a");
        v.SetInt(1);
        (*local)[k] = v;
        k.SetStr("b");
        v.SetStr("two");
        (*local)[k] = v;
        return 0;
    });
    Append(*f, std::make_unique<TagReturn>(local, f));
    TagVar* x = nullptr;
    main.FindOrCreateVar("x", &x);
    Append(main, std::make_unique<TagCall>(test::FuncVar(main, "make"), &main))->SetTarget(x, nullptr);
    int32_t id = 0, len = 0;
    std::string b;
    AppendDo(main, [&] {
        id = x->type == TagVar::kObject ? x->ObjId() : 0;
        len = x->Len();
        TagVar k;
        k.SetStr("b");
        b = x->Find(k).ToString();
        main.SetQuit(1);
        return 0;
    });
    main.Run();
    EXPECT_NE(id, 0);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(b, "two");
    EXPECT_EQ(local->type, TagVar::kInt);       // the function let go of its own reference
    EXPECT_EQ(f->RetVal()->type, TagVar::kInt); // and of the returned value once handed over
    EXPECT_EQ(x->type, TagVar::kInt);           // the main flow's objects are released at its end
    EXPECT_EQ(g_mapObjects.Count(id), -1);      // nothing holds the object any more
}

TEST_F(RunLoop, HandlerIndexesOutsideTheOperationListAreIgnored) {
    int work = 0, guard = 0;
    main.disconnIndex = 50;
    AppendDo(main, [&] {
        ++work;
        line.call.callState = kCallReleased;
        if (work == 3) main.SetQuit(1);
        return 0;
    });
    AppendGuard(main, guard);
    main.sysQuitIndex = 99; // treated as no handler: the quit ends the script
    main.Run();
    EXPECT_EQ(work, 3);
}

TEST_F(RunLoop, WithoutACallObjectTheFlowEnds) {
    int work = 0;
    AppendDo(main, [&] {
        if (++work == 2) main.pKvCall = nullptr; // the line layer took the call away
        return 0;
    });
    main.Run();
    EXPECT_EQ(work, 2);
    EXPECT_EQ(main.stopped, 1);

    HandLine other;
    other.main.pKvCall = nullptr;
    int ran = 0;
    AppendDo(other.main, [&] { return ++ran; });
    other.main.Run();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(other.main.stopped, 1);
}

TEST_F(RunLoop, ACalledProgramEndsOnItsCallersQuitAndHandsAHandledHangUpBack) {
    TagTelBasic called;
    called.pKvCall = &line.call;
    called.calledProgram = 1;
    called.callingProgram = &main;
    int work = 0;
    AppendDo(called, [&] {
        ++work;
        line.call.callState = kCallClosed; // its own OnDisconn handled a hang-up
        if (work == 2) main.SetQuit(1);
        return 0;
    });
    line.call.callState = kCallConnected;
    called.Run();
    EXPECT_EQ(work, 2);
    EXPECT_EQ(line.call.callState.load(), kCallReleased); // the caller's handler is due as well
    EXPECT_EQ(called.GetRoot(), &main);
}

TEST(LineRandom, EachThreadHasItsOwnSequence) {
    auto draw = [](uint32_t seed, int n) {
        SeedLineRandom(seed);
        std::vector<int32_t> out;
        for (int i = 0; i < n; ++i)
            out.push_back(LineRandom());
        return out;
    };
    std::vector<int32_t> ref = draw(7, 200);
    for (int32_t v : ref)
        ASSERT_TRUE(v >= 0 && v <= 32767);
    std::vector<int32_t> a, b;
    std::thread ta([&] { a = draw(7, 200); });
    std::thread tb([&] { b = draw(7, 200); });
    ta.join();
    tb.join();
    EXPECT_EQ(a, ref);
    EXPECT_EQ(b, ref);
    EXPECT_NE(draw(8, 200), ref);
}

// The line tells the console each time it stops before a statement: the tests below wait for that, never for time.
struct PauseSeen {
    std::mutex m;
    std::condition_variable cv;
    int waits = 0;
    static PauseSeen* current;

    PauseSeen() {
        current = this;
        TheEngineHooks().flushDebugPages = [](TagTelBasic*) {
            std::lock_guard<std::mutex> g(current->m);
            ++current->waits;
            current->cv.notify_all();
        };
    }
    ~PauseSeen() { TheEngineHooks() = EngineHooks(); }
    void WaitFor(int n) {
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return waits >= n; });
    }
};
PauseSeen* PauseSeen::current = nullptr;

// The console's side: pause, step and run from another thread while the line runs.
TEST(RunLoopDebugger, ThreeStepsRunThreeOperationsAndClearingThePauseRunsOn) {
    HandLine line;
    TagTelBasic& main = line.main;
    PauseSeen seen;
    std::atomic<int> ran{0};
    AppendDo(main, [&] {
        if (++ran == 10) main.SetQuit(1);
        return ran.load();
    });
    main.SetPause(1);
    std::thread t([&] { main.Run(); });
    seen.WaitFor(1);
    EXPECT_EQ(ran.load(), 0);
    // Each step runs one operation and stops before the next.
    for (int i = 1; i <= 3; ++i) {
        main.Step();
        seen.WaitFor(i + 1);
        EXPECT_EQ(ran.load(), i);
    }
    main.SetPause(0);
    t.join(); // the tenth operation quits
    EXPECT_EQ(ran.load(), 10);
    EXPECT_EQ(main.stopped, 1);
}

TEST(RunLoopDebugger, ABreakpointPausesBeforeItsOperationAndStopEndsTheWait) {
    HandLine line;
    TagTelBasic& main = line.main;
    PauseSeen seen;
    std::atomic<int> first{0}, second{0};
    AppendDo(main, [&] { return ++first; });
    AppendDo(main, [&] {
        main.SetQuit(1);
        return ++second;
    });
    main.SetOpBreak(1, 1);
    std::thread t([&] { main.Run(); });
    seen.WaitFor(1);
    EXPECT_TRUE(main.IsPaused());
    EXPECT_EQ(first.load(), 1);
    EXPECT_EQ(second.load(), 0);
    main.stop = 1;
    main.Notify();
    t.join();
    EXPECT_EQ(second.load(), 1);
}

// Under the debugger a loop of plain calculations runs one statement a step, braces included, and runs on in
// one go once the pause is cleared.
TEST(RunLoopDebugger, EachStepRunsOneStatementOfALoopOfCalculations) {
    HandLine line;
    TagTelBasic& main = line.main;
    int32_t lineNo = 0;
    for (std::string text : {"x = 0;", "while(x < 100)", "{", "x = x + 1;", "}", "return(x);"})
        ASSERT_EQ(main.CompileLine(text.data(), ++lineNo), 0) << text;
    TagVar* x = nullptr;
    ASSERT_GE(main.FindOwnVar("x", &x), 0);
    // The line tells each wait before a statement.
    static struct {
        std::mutex m;
        std::condition_variable cv;
        int waits = 0;
    } seen;
    seen.waits = 0;
    TheEngineHooks().flushDebugPages = [](TagTelBasic*) {
        std::lock_guard<std::mutex> g(seen.m);
        ++seen.waits;
        seen.cv.notify_all();
    };
    auto waitBefore = [&](int n) {
        std::unique_lock<std::mutex> g(seen.m);
        seen.cv.wait(g, [&] { return seen.waits >= n; });
        return main.curOpIndex.load();
    };
    main.SetPause(1);
    int32_t result = -1;
    std::thread t([&] { result = main.Run(); });
    std::vector<int32_t> indexes, values;
    for (int n = 1; n <= 11; ++n) {
        indexes.push_back(waitBefore(n));
        values.push_back(x->GetInt());
        main.Step();
    }
    waitBefore(12);
    main.SetPause(0);
    t.join();
    EXPECT_EQ(indexes, (std::vector<int32_t>{0, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2}));
    EXPECT_EQ(values, (std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(result, 100);
    TheEngineHooks() = EngineHooks();
}

} // namespace
} // namespace zz
