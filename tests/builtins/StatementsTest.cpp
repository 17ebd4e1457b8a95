// User-function calls with copy-back, return, the hang-up and system-quit handlers and the statement-like
// builtins. Function bodies are hand-built operations run by the real run loop.
#include <gtest/gtest.h>

#include <algorithm>

#include "LineFixture.h"
#include "builtins/Statements.h"
#include "engine/TagMapObject.h"
#include "platform/Clock.h"
#include "platform/NamedEvent.h"
#include "tests/engine/HandProgram.h"

namespace zz {
namespace {

using test::AppendDo;

class UserCall : public ::testing::Test {
protected:
    void SetUp() override {
        unit.AddParam("a");
        unit.AddParam("b");
        fn.InitFunc("f", "", &unit, 1);
    }
    // The body: counts its runs and records the deepest call depth.
    void CountingBody() {
        AppendDo(unit, [this] {
            ++calls;
            deepest = std::max(deepest, size_t{line.main.callDepth});
            return 0;
        });
    }

    test::LineFixture line;
    TagTelBasic unit{"a.kvs", "f", &line.main};
    TagNamedVar fn;
    int calls = 0;
    size_t deepest = 0;
};

TEST_F(UserCall, ANameThatIsNotAFunctionFailsWithMinusOne) {
    CountingBody();
    TagNamedVar notFn;
    notFn.InitInt("x", "", 3, 0);
    TagCall call(&notFn, &line.main);
    EXPECT_EQ(call.Run(), -1);
    EXPECT_EQ(line.main.RetVal()->GetInt(), -1);
    EXPECT_EQ(calls, 0);
}

TEST_F(UserCall, AWrongArgumentCountFailsWithMinusTwoWithoutRunning) {
    CountingBody();
    TagVar x, y, z;
    TagCall call(&fn, &line.main);
    call.AddPara(&x);
    call.AddPara(&y);
    call.AddPara(&z);
    EXPECT_EQ(call.Run(), -2);
    EXPECT_EQ(line.main.RetVal()->GetInt(), -2);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(line.main.callDepth, 0u);
}

TEST_F(UserCall, ChangedParametersComeBackToVariablesButNotConstants) {
    TagNamedVar var, constant;
    var.InitInt("v", "", 1, 0);
    constant.InitInt("", "CONST", 2, 1);
    TagTelBasic* u = &unit;
    TagTelBasic* main = &line.main;
    AppendDo(
        unit,
        [u, main] {
            EXPECT_EQ(u->ParamValue(0).GetInt(), 1);
            EXPECT_EQ(u->ParamValue(1).GetInt(), 2);
            EXPECT_EQ(main->callDepth, 1u);
            EXPECT_EQ(main->runningUnit.load(), u);
            u->ParamValue(0).SetInt(10);
            u->ParamValue(1).SetInt(20);
            u->RetVal()->SetStr("done");
            return 0;
        },
        "body")
        ->kind = 'R'; // the body's result must not overwrite its _retVal
    TagCall call(&fn, &line.main);
    call.AddPara(&var);
    call.AddPara(&constant);
    EXPECT_EQ(call.Run(), 5); // the integer word of "done"
    EXPECT_EQ(var.GetInt(), 10);
    EXPECT_EQ(var.Name(), "v");
    EXPECT_EQ(constant.GetInt(), 2);
    EXPECT_STREQ(line.main.RetVal()->Str(), "done");
    EXPECT_EQ(line.main.callDepth, 0u);
    EXPECT_EQ(line.main.runningUnit.load(), &line.main);
}

TEST_F(UserCall, ObjectsPassInAndAReturnedObjectReachesTheCaller) {
    TagVar arr, other, key;
    key.SetInt(0);
    arr[key].SetInt(7);
    TagVar* a = &unit.ParamValue(0);
    AppendDo(unit, [a] {
        TagVar k;
        k.SetInt(1);
        (*a)[k].SetInt(8);
        return 0;
    });
    test::Append(unit, std::make_unique<TagReturn>(a, &unit));
    TagCall call(&fn, &line.main);
    call.AddPara(&arr);
    call.AddPara(&other);
    call.Run();
    EXPECT_EQ(unit.ParamValue(0).type, TagVar::kInt); // the unit lets go of the object
    EXPECT_EQ(unit.RetVal()->type, TagVar::kInt);
    EXPECT_EQ(arr.type, TagVar::kObject);
    EXPECT_EQ(arr.Len(), 2);
    ASSERT_EQ(line.main.RetVal()->type, TagVar::kObject);
    EXPECT_EQ(line.main.RetVal()->ObjId(), arr.ObjId());
    EXPECT_EQ(g_mapObjects.RefCount(arr.ObjId()), 2);
    TagVar none;
    int32_t id = arr.ObjId();
    *line.main.RetVal() = none;
    arr = none;
    EXPECT_EQ(g_mapObjects.Count(id), -1);
}

TEST_F(UserCall, RecursionStopsAtThirtyLevels) {
    CountingBody();
    TagVar x, y;
    auto* again = test::Append(unit, std::make_unique<TagCall>(&fn, &unit));
    again->AddPara(&unit.ParamValue(0));
    again->AddPara(&unit.ParamValue(1));
    TagCall call(&fn, &line.main);
    call.AddPara(&x);
    call.AddPara(&y);
    EXPECT_EQ(call.Run(), -1);
    EXPECT_EQ(deepest, TagCall::kMaxDepth);
    EXPECT_EQ(calls, 30);
    EXPECT_EQ(line.main.callDepth, 0u);
}

TEST_F(UserCall, AddParaStopsAtForty) {
    TagVar v;
    TagCall call(&fn, &line.main);
    for (int i = 0; i < TagCall::kMaxParams; ++i)
        EXPECT_EQ(call.AddPara(&v), 0);
    EXPECT_EQ(call.AddPara(&v), -1);
    EXPECT_EQ(call.paramCount, 40);
}

TEST(ReturnStatement, SetsTheUnitResultAndEndsTheBody) {
    test::LineFixture line;
    TagVar v;
    v.SetStr("12x");
    TagReturn r(&v, &line.func);
    EXPECT_EQ(r.kind, 'r');
    EXPECT_EQ(r.Run(), 12);
    EXPECT_STREQ(line.func.RetVal()->Str(), "12x");
    EXPECT_EQ(r.Next(), nullptr);
    TagReturn self(line.func.RetVal(), &line.func); // return(_retVal)
    EXPECT_EQ(self.Run(), 12);
    EXPECT_STREQ(line.func.RetVal()->Str(), "12x");
}

TEST(HangupHandler, RegistersOnlyInTheMainFlowAndHandlesAReleasedCall) {
    VirtualClock clock;
    ScopedClock scoped(&clock);
    test::LineFixture line;
    TagClose inMain(&line.main), inFunc(&line.func);
    EXPECT_EQ(inMain.SetDisconnFlag(4), 0);
    EXPECT_EQ(inFunc.SetDisconnFlag(9), -1);
    EXPECT_EQ(line.main.disconnIndex, 4);

    line.call.callState = kCallConnected;
    line.main.dialFailWord = 3;
    uint32_t start = GetTickCount();
    EXPECT_EQ(inFunc.Run(), 3);
    EXPECT_EQ(TicksSince(start), 50u);
    EXPECT_EQ(line.call.callState.load(), kCallConnected);
    EXPECT_EQ(inMain.Run(), 0);
    line.call.callState = kCallReleased;
    inMain.Run();
    EXPECT_EQ(line.call.callState.load(), kCallClosed);
}

TEST(SysQuitHandler, RegistersItsIndexAndStopsHandlerJumps) {
    test::LineFixture line;
    TagOnSysQuit q(6, &line.main);
    TagOnSysQuit inFunc(2, &line.func);
    EXPECT_EQ(line.main.sysQuitIndex, 6);
    EXPECT_EQ(inFunc.Run(), 0);
    EXPECT_EQ(line.main.handlerState, 7);
}

TEST(DllCall, KeepsItsNameAndTheLineProgram) {
    test::LineFixture line;
    TagVar a, b;
    std::string name = "Add";
    TagDllCall call(name.c_str(), &line.func);
    name = "changed";
    call.AddPara(&a);
    call.AddPara(&b);
    EXPECT_EQ(call.funcName, "Add");
    EXPECT_EQ(call.dllArgs.size(), 2u);
    EXPECT_EQ(call.Program(), &line.main);
}

TEST(StatementBuiltins, IsSysQuitReadsTheLineFlagAndAssertGivesItsCondition) {
    test::LineFixture line;
    TagVar out, cond;
    out.SetStr("x");
    TagIsSysQuit q(&out, &line.func);
    EXPECT_EQ(q.Run(), 0);
    EXPECT_EQ(out.type, TagVar::kInt);
    line.main.SetQuit(1);
    EXPECT_EQ(q.Run(), 1);
    EXPECT_EQ(out.GetInt(), 1);

    cond.SetStr("42abc");
    TagAssert a(&cond, &line.main);
    EXPECT_EQ(a.Run(), 42);
}

struct ExitCalls {
    static inline int count = 0;
    static void Routine() { ++count; }
};

TEST(StatementBuiltins, ExitSignalsTheAutoRunEventOnlyForANonZeroCodeAndAlwaysCallsTheExitRoutine) {
    VirtualClock clock;
    ScopedClock scoped(&clock);
    NamedEvent autoRun;
    bool owned = autoRun.Create("AutoRun Quit");
    SetExitRoutine(&ExitCalls::Routine);
    ExitCalls::count = 0;
    TagVar code;
    code.SetInt(0);
    TagExit quiet(&code);
    EXPECT_EQ(quiet.Run(), 0);
    EXPECT_EQ(ExitCalls::count, 1);
    if (owned) {
        EXPECT_FALSE(autoRun.Wait(0));
    }

    code.SetInt(3);
    TagExit loud(&code);
    uint32_t start = GetTickCount();
    EXPECT_EQ(loud.Run(), 3);
    EXPECT_EQ(TicksSince(start), 200u);
    EXPECT_EQ(ExitCalls::count, 2);
    if (owned) {
        EXPECT_TRUE(autoRun.Wait(1000));
        // With no controlling process there is nothing to wait for.
        autoRun.Close();
        start = GetTickCount();
        EXPECT_EQ(loud.Run(), 3);
        EXPECT_EQ(TicksSince(start), 0u);
    }
    SetExitRoutine(nullptr);
}

} // namespace
} // namespace zz
