// Script timers: registration at compile time, arming and disarming, and when a due timer fires.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "LineFixture.h"
#include "builtins/BuiltinTable.h"
#include "builtins/Statements.h"
#include "builtins/TagSysTimers.h"
#include "platform/Clock.h"
#include "tests/engine/HandProgram.h"

namespace zz {
namespace {

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        tick = test::AddFunction(line.main, "tick");
        test::AppendDo(*tick, [this] {
            ++fired;
            clock.Advance(bodyMs);
            return 0;
        });
        tock = test::AddFunction(line.main, "tock");
        test::AppendDo(*tock, [this] { return ++tocks; });
        tickVar = test::FuncVar(line.main, "tick");
        tockVar = test::FuncVar(line.main, "tock");
    }
    TagSysTimers& table() { return line.main.LineState<TagSysTimers>(); }

    VirtualClock clock{1000, false};
    ScopedClock scoped{&clock};
    test::LineFixture line;
    TagTelBasic* tick = nullptr;
    TagTelBasic* tock = nullptr;
    TagVar* tickVar = nullptr;
    TagVar* tockVar = nullptr;
    int fired = 0, tocks = 0;
    uint32_t bodyMs = 0;
};

TEST_F(Timers, StartTimerRegistersWhenCompiledOncePerFunctionAndOnlyForFunctions) {
    TagVar seconds;
    TagNamedVar notFn;
    seconds.SetFloat(0.5);
    notFn.InitInt("n", "", 1, 0);
    TagStartTimer a(tickVar, &seconds, &line.main);
    TagStartTimer b(tickVar, &seconds, tick); // in a function unit: the line's table all the same
    TagStartTimer c(&notFn, &seconds, &line.main);
    EXPECT_EQ(table().Count(), 1u);
    const TagTimer* t = table().Find("tick");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->active, 0);
    EXPECT_EQ(t->interval, 1000);
    EXPECT_EQ(t->program, &line.main);
    EXPECT_EQ(table().Add(tickVar, &line.main), 0);
    EXPECT_EQ(table().Add(&notFn, &line.main), -1);
    EXPECT_EQ(c.Run(), -1); // a non-function first operand
    EXPECT_EQ(a.Program(), &line.main);
}

TEST_F(Timers, HalfASecondFiresAtTheFirstCheckFiveHundredMillisecondsAfterTheStart) {
    TagVar seconds;
    seconds.SetStr("0.5");
    TagStartTimer start(tickVar, &seconds, &line.main);
    EXPECT_EQ(start.Run(), 0);
    EXPECT_EQ(table().Find("tick")->interval, 500);
    clock.Advance(499);
    table().CheckTimers();
    EXPECT_EQ(fired, 0);
    clock.Advance(1);
    table().CheckTimers();
    EXPECT_EQ(fired, 1);
    table().CheckTimers();
    EXPECT_EQ(fired, 1);
    clock.Advance(5000); // several periods passed: still one run per check
    table().CheckTimers();
    EXPECT_EQ(fired, 2);
}

TEST_F(Timers, ZeroFiresAtEveryCheckAndALongHandlerCountsTheNextPeriodFromItsEnd) {
    TagVar zero, two;
    zero.SetInt(0);
    two.SetInt(2);
    TagStartTimer everyCheck(tockVar, &zero, &line.main);
    TagStartTimer slow(tickVar, &two, &line.main);
    everyCheck.Run();
    slow.Run();
    for (int i = 0; i < 3; ++i)
        table().CheckTimers();
    EXPECT_EQ(tocks, 3);

    bodyMs = 3000; // longer than its interval
    clock.Advance(2000);
    table().CheckTimers();
    EXPECT_EQ(fired, 1);
    clock.Advance(1999);
    table().CheckTimers();
    EXPECT_EQ(fired, 1);
    clock.Advance(1);
    table().CheckTimers();
    EXPECT_EQ(fired, 2);
}

TEST_F(Timers, StopTimerDisarmsOneOrAllAndAnUnknownFunctionGivesMinusOne) {
    TagVar zero, other;
    zero.SetInt(0);
    TagStartTimer a(tickVar, &zero, &line.main), b(tockVar, &zero, &line.main);
    a.Run();
    b.Run();
    TagStopTimer stopTick(tickVar, &line.main);
    EXPECT_EQ(stopTick.Run(), 0);
    table().CheckTimers();
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(tocks, 1);
    TagStopTimer stopAll(&zero, &line.main);
    EXPECT_EQ(stopAll.Run(), 0);
    table().CheckTimers();
    EXPECT_EQ(tocks, 1);
    EXPECT_EQ(table().Count(), 2u); // disarmed timers stay and can be armed again
    EXPECT_EQ(a.Run(), 0);
    table().CheckTimers();
    EXPECT_EQ(fired, 1);

    TagTelBasic* lone = test::AddFunction(line.main, "lone");
    (void)lone;
    TagStopTimer stopLone(test::FuncVar(line.main, "lone"), &line.main);
    EXPECT_EQ(stopLone.Run(), -1);
}

TEST_F(Timers, ATimerFunctionDoesNotFireTimersFromItsOwnStatements) {
    TagVar zero;
    zero.SetInt(0);
    // tick's body checks the timers again, as the run loop does between its statements.
    test::AppendDo(*tick, [this] { return table().CheckTimers(); });
    TagStartTimer a(tickVar, &zero, &line.main), b(tockVar, &zero, &line.main);
    a.Run();
    b.Run();
    table().CheckTimers();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(tocks, 1);
}

TEST_F(Timers, IntervalsOutsideThe32BitRangeAreHeldToIt) {
    TagVar huge, nan;
    huge.SetFloat(1e12);
    nan.SetFloat(std::numeric_limits<double>::quiet_NaN());
    TagStartTimer a(tickVar, &huge, &line.main);
    EXPECT_EQ(a.Run(), 0);
    EXPECT_EQ(table().Find("tick")->interval, INT32_MAX);
    TagStartTimer b(tickVar, &nan, &line.main);
    EXPECT_EQ(b.Run(), 0);
    EXPECT_EQ(table().Find("tick")->interval, 0);
}

TEST_F(Timers, AThrowingTimerFunctionLeavesTheTableFiringAndTheRunLoopAsksOnlyWhileATimerIsArmed) {
    TagVar zero;
    zero.SetInt(0);
    bool boom = true;
    test::AppendDo(*tock, [&]() -> int32_t {
        if (boom) throw std::runtime_error("handler failed");
        return 0;
    });
    EXPECT_EQ(line.main.timersArmed, 0);
    TagStartTimer a(tockVar, &zero, &line.main);
    a.Run();
    EXPECT_EQ(line.main.timersArmed, 1);
    EXPECT_THROW(table().CheckTimers(), std::runtime_error);
    boom = false;
    table().CheckTimers();
    EXPECT_EQ(tocks, 2) << "the table fires again after a failed run";
    TagStopTimer stop(tockVar, &line.main);
    stop.Run();
    EXPECT_EQ(line.main.timersArmed, 0);
}

TEST_F(Timers, DueTimersFireBetweenStatementsOfTheRunLoopButNotInsideTheirOwnFunction) {
    RegisterBuiltins();
    int work = 0;
    ASSERT_EQ(table().Add(tickVar, &line.main), 1);
    table().Start(tickVar, 0);
    bodyMs = 10;
    test::AppendDo(line.main, [&] {
        if (++work == 4) line.main.SetQuit(1);
        return 0;
    });
    line.main.Run();
    EXPECT_EQ(work, 4);
    EXPECT_EQ(fired, 4); // once after each statement, none from inside the timer function
}

} // namespace
} // namespace zz
