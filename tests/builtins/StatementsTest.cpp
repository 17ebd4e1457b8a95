// User-function calls with copy-back, return, and the hang-up and system-quit handlers.
#include <gtest/gtest.h>

#include "LineFixture.h"
#include "builtins/Statements.h"
#include "engine/TagMapObject.h"

namespace zz {
namespace {

// Stands in for the run loop's function body: what each test's body does.
struct Body {
    static inline int calls = 0;
    static inline size_t deepest = 0;
    static inline TagCall* again = nullptr;
    static inline void (*effect)(TagTelBasic*) = nullptr;

    static int32_t Run(TagTelBasic* unit, TagTelBasic*) {
        ++calls;
        TagTelBasic* root = unit->parent;
        deepest = std::max(deepest, LineStateOf(root).callStack.size());
        if (effect) effect(unit);
        if (again) again->Run();
        return 0;
    }
};

class UserCall : public ::testing::Test {
protected:
    void SetUp() override {
        Body::calls = 0;
        Body::deepest = 0;
        Body::again = nullptr;
        Body::effect = nullptr;
        SetFunctionRunner(&Body::Run);
        unit.paramCount = 2;
        unit.paramNames[0] = "a";
        unit.paramNames[1] = "b";
        fn.InitFunc("f", "", &unit, 1);
    }
    void TearDown() override { SetFunctionRunner(nullptr); }

    test::LineFixture line;
    TagTelBasic unit{"a.kvs", "f", &line.main};
    TagVar fn;
};

TEST_F(UserCall, ANameThatIsNotAFunctionFailsWithMinusOne) {
    TagVar notFn;
    notFn.InitInt("x", "", 3, 0);
    TagCall call(&notFn, &line.main);
    EXPECT_EQ(call.Run(), -1);
    EXPECT_EQ(line.main.RetVal()->GetInt(), -1);
    EXPECT_EQ(Body::calls, 0);
}

TEST_F(UserCall, AWrongArgumentCountFailsWithMinusTwoWithoutRunning) {
    TagVar x, y, z;
    TagCall call(&fn, &line.main);
    call.AddPara(&x);
    call.AddPara(&y);
    call.AddPara(&z);
    EXPECT_EQ(call.Run(), -2);
    EXPECT_EQ(line.main.RetVal()->GetInt(), -2);
    EXPECT_EQ(Body::calls, 0);
    EXPECT_TRUE(LineStateOf(&line.main).callStack.empty());
}

TEST_F(UserCall, ChangedParametersComeBackToVariablesButNotConstants) {
    TagVar var, constant;
    var.InitInt("v", "", 1, 0);
    constant.InitInt("", "CONST", 2, 1);
    Body::effect = [](TagTelBasic* u) {
        EXPECT_EQ(u->paramValues[0].GetInt(), 1);
        EXPECT_EQ(u->paramValues[1].GetInt(), 2);
        EXPECT_EQ(LineStateOf(u->parent).callStack.back(), "f");
        u->paramValues[0].SetInt(10);
        u->paramValues[1].SetInt(20);
        u->RetVal()->SetStr("done");
    };
    TagCall call(&fn, &line.main);
    call.AddPara(&var);
    call.AddPara(&constant);
    EXPECT_EQ(call.Run(), 5); // the integer word of "done"
    EXPECT_EQ(var.GetInt(), 10);
    EXPECT_EQ(var.name, "v");
    EXPECT_EQ(constant.GetInt(), 2);
    EXPECT_STREQ(line.main.RetVal()->Str(), "done");
    EXPECT_TRUE(LineStateOf(&line.main).callStack.empty());
}

TEST_F(UserCall, ObjectsPassInAndReturnedObjectsReachTheCaller) {
    TagVar arr, other, key;
    key.SetInt(0);
    arr[key].SetInt(7);
    Body::effect = [](TagTelBasic* u) {
        TagVar k;
        k.SetInt(1);
        u->paramValues[0][k].SetInt(8);
        *u->RetVal() = u->paramValues[0];
    };
    TagCall call(&fn, &line.main);
    call.AddPara(&arr);
    call.AddPara(&other);
    call.Run();
    EXPECT_EQ(unit.paramValues[0].type, TagVar::kInt); // the unit lets go of the object
    EXPECT_EQ(arr.type, TagVar::kObject);
    EXPECT_EQ(arr.Len(), 2);
    ASSERT_EQ(line.main.RetVal()->type, TagVar::kObject);
    EXPECT_EQ(line.main.RetVal()->objId, arr.objId);
    TagVar none;
    *unit.RetVal() = none;
    *line.main.RetVal() = none;
    arr = none;
}

TEST_F(UserCall, RecursionStopsAtThirtyLevels) {
    TagVar x, y;
    TagCall call(&fn, &line.main);
    call.AddPara(&x);
    call.AddPara(&y);
    Body::again = &call;
    call.Run();
    EXPECT_EQ(Body::deepest, TagCall::kMaxDepth);
    EXPECT_EQ(Body::calls, 30);
    EXPECT_TRUE(LineStateOf(&line.main).callStack.empty());
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
}

TEST(HangupHandler, RegistersOnlyInTheMainFlowAndHandlesAReleasedCall) {
    test::LineFixture line;
    TagClose inMain(&line.main), inFunc(&line.func);
    EXPECT_EQ(inMain.SetDisconnFlag(4), 0);
    EXPECT_EQ(inFunc.SetDisconnFlag(9), -1);
    EXPECT_EQ(LineStateOf(&line.main).disconnIndex, 4);

    line.call.callState = kCallConnected;
    LineStateOf(&line.main).dialFailWord = 3;
    EXPECT_EQ(inFunc.Run(), 3);
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
    EXPECT_EQ(LineStateOf(&line.main).sysQuitIndex, 6);
    EXPECT_EQ(inFunc.Run(), 0);
    EXPECT_EQ(LineStateOf(&line.main).handlerState, 7);
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

} // namespace
} // namespace zz
