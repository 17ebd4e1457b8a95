// The debugger's engine side: breakpoints, listings and their rows, the call stack, name lookup, the variable
// grid, and the snapshot the line thread takes for the window thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Debugger.h"
#include "engine/TagMemKvs.h"
#include "platform/Clock.h"
#include "tests/engine/HandProgram.h"

namespace zz {
namespace {

// A temporary folder the test works in, with an empty script cache; gone (and the old folder back) at its end.
class ScriptFolder {
public:
    ScriptFolder() {
        char tmpl[] = "/tmp/zz_dbg_XXXXXX";
        if (!mkdtemp(tmpl) || getcwd(old_, sizeof old_) != old_ || chdir(tmpl) != 0) ADD_FAILURE() << "no folder";
        dir_ = tmpl;
        TagMemKvs::Process().Clear();
    }
    ~ScriptFolder() {
        TagMemKvs::Process().Clear();
        EXPECT_EQ(chdir(old_), 0);
        EXPECT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    ScriptFolder(const ScriptFolder&) = delete;
    ScriptFolder& operator=(const ScriptFolder&) = delete;

private:
    std::string dir_;
    char old_[4096] = {};
};

// A compiled script in a temporary folder.
class Compiled : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream("d.kvs", std::ios::binary) << "function add(a, b)\n"
                                                    "{\n"
                                                    "    s = a + b;\n"
                                                    "    return(s);\n"
                                                    "}\n"
                                                    "function two()\n"
                                                    "{\n"
                                                    "    return(2);\n"
                                                    "}\n"
                                                    "const LIMIT = 3;\n"
                                                    "x = 1;\n"
                                                    "while(x < LIMIT)\n"
                                                    "{\n"
                                                    "    x = add(x, 1);\n"
                                                    "}\n"
                                                    "y = two();\n";
        call.lineNo = 2;
        prog = std::make_unique<TagTelBasic>("d.kvs", 2, &call, 0, nullptr);
        ASSERT_EQ(prog->initResult, 0);
    }
    void TearDown() override { prog.reset(); }
    TagTelBasic* Unit(const char* name) {
        TagTelBasic* u = nullptr;
        prog->FindFunc(name, &u);
        return u;
    }

    ScriptFolder folder;
    VirtualClock clock{1000, false};
    ScopedClock useClock{&clock};
    TagCallState call;
    std::unique_ptr<TagTelBasic> prog;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "the last line has no line end";
    return out;
}

TEST_F(Compiled, TheMainListingHasOneRowPerOperationWithBlockDepthAndLinks) {
    std::string text;
    ListSource(*prog, text);
    std::vector<std::string> rows = Lines(text);
    ASSERT_EQ(static_cast<int32_t>(rows.size()), prog->OpCount());
    for (int32_t i = 0; i < prog->OpCount(); ++i) {
        const TagOper* op = prog->Op(i);
        std::string want(static_cast<size_t>(op->depth), '\t');
        want += op->text + "  [" + std::to_string(i) + ":" + std::to_string(op->lineNo) + " " +
                std::to_string(op->parent ? op->parent->index : -1);
        bool linked = op->match && (op->kind == '{' || op->kind == '}' || op->kind == 'b' || op->kind == 'o');
        if (linked) want += ":" + std::to_string(op->match->index);
        EXPECT_EQ(rows[static_cast<size_t>(i)], want + "]");
    }
    // The loop body is one block deeper than the loop.
    bool deeper = false;
    for (const std::string& r : rows)
        deeper = deeper || r.rfind("\tx = add(x, 1);", 0) == 0;
    EXPECT_TRUE(deeper) << text;
}

TEST_F(Compiled, TheFunctionListingNumbersRowsAcrossUnitsAndBreakpointsFollowThem) {
    std::string text, summary;
    ASSERT_EQ(ListFunctions(*prog, text, &summary), 0);
    TagTelBasic* add = Unit("add");
    TagTelBasic* two = Unit("two");
    ASSERT_TRUE(add && two);
    std::vector<std::string> rows = Lines(text);
    int32_t total = 2 + add->OpCount() + two->OpCount();
    ASSERT_EQ(static_cast<int32_t>(rows.size()), total);
    EXPECT_EQ(rows[0], add->defText + " : (d.kvs)");
    EXPECT_EQ(add->rowBase, 1);
    EXPECT_EQ(two->rowBase, 2 + add->OpCount());
    EXPECT_EQ(rows[1], std::string(static_cast<size_t>(add->Op(0)->depth), '\t') + add->Op(0)->text +
                           "  [0:" + std::to_string(add->Op(0)->lineNo) + "]");
    EXPECT_EQ(summary, "主流程: " + std::to_string(prog->OpCount()) + "行; 2个子函数: " + std::to_string(total) + "行");

    int32_t local = -1;
    EXPECT_EQ(FindRowUnit(*prog, 0, &local), nullptr); // a header row
    EXPECT_EQ(FindRowUnit(*prog, two->rowBase - 1, nullptr), nullptr);
    EXPECT_EQ(FindRowUnit(*prog, two->rowBase, &local), two);
    EXPECT_EQ(local, 0);
    EXPECT_EQ(FindRowUnit(*prog, total, nullptr), nullptr);
    SetRowBreak(*prog, add->rowBase + 1, 1);
    EXPECT_EQ(add->GetOpBreak(1), 1);
    EXPECT_EQ(GetRowBreak(*prog, add->rowBase + 1), 1);
    EXPECT_EQ(GetRowBreak(*prog, 0), 0);
    SetRowBreak(*prog, 0, 1); // nothing to set
    prog->SetOpBreak(0, 1);
    prog->ClearAllBreaks();
    EXPECT_EQ(add->GetOpBreak(1), 0);
    EXPECT_EQ(prog->GetOpBreak(0), 0);

    // Only a main program has a function listing.
    EXPECT_EQ(ListFunctions(*add, text), -1);
}

TEST_F(Compiled, BreakpointIndexesOutsideTheProgramChangeNothing) {
    int32_t n = prog->OpCount();
    prog->SetOpBreak(n, 1);
    prog->SetOpBreak(-1, 1);
    EXPECT_EQ(prog->GetOpBreak(n), 0);
    EXPECT_EQ(prog->GetOpBreak(-1), 0);
    prog->SetOpBreak(n - 1, 1);
    EXPECT_EQ(prog->GetOpBreak(n - 1), 1);
}

TEST_F(Compiled, LookupNameReportsParametersBeforeVariablesAndConstantsWithTheirType) {
    std::string note, value, kind;
    EXPECT_EQ(LookupName(*prog, "LIMIT", note, value, kind), 0);
    EXPECT_EQ(kind, "常量: 整型");
    EXPECT_EQ(value, "3");
    EXPECT_EQ(LookupName(*prog, "x", note, value, kind), 0);
    EXPECT_EQ(kind, "变量: 整型");
    EXPECT_EQ(LookupName(*prog, "nothing", note, value, kind), -1);
    EXPECT_EQ(value, "变量名不存在.");
    EXPECT_TRUE(kind.empty() && note.empty());

    TagTelBasic* add = Unit("add");
    add->ParamValue(0).SetStr("hi");
    TagVar* clash = nullptr;
    add->FindOrCreateVar("clash", &clash);
    clash->SetInt(9);
    add->paramNames[1] = "clash";
    add->ParamValue(1).SetInt(1);
    EXPECT_EQ(LookupName(*add, "clash", note, value, kind), 0);
    EXPECT_EQ(kind, "参数: 整型");
    EXPECT_EQ(note, "参数");
    EXPECT_EQ(LookupName(*add, "a", note, value, kind), 0);
    EXPECT_EQ(kind, "参数: 字符串");
    EXPECT_EQ(value, "\"hi\"");
}

TEST_F(Compiled, TheVariablesOfAnOperationAreLookedUpInTheUnitThenItsParent) {
    TagTelBasic* add = Unit("add");
    std::string text;
    int32_t loopCall = -1;
    for (int32_t i = 0; i < prog->OpCount(); ++i)
        if (prog->Op(i)->text.find("add(") != std::string::npos) loopCall = i;
    ASSERT_GE(loopCall, 0);
    GetOpVarsText(*prog, loopCall, text);
    EXPECT_EQ(text, "add: function add\nx: 0"); // compiled, not run: x is still 0
    add->ParamValue(0).SetInt(4);
    add->ParamValue(1).SetInt(5);
    int32_t sum = -1;
    for (int32_t i = 0; i < add->OpCount(); ++i)
        if (add->Op(i)->text.find("s = a + b") != std::string::npos) sum = i;
    ASSERT_GE(sum, 0);
    GetOpVarsText(*add, sum, text); // s is the unit's, a and b its parameters
    EXPECT_EQ(text, "a: 4\nb: 5\ns: 0");
    GetOpVarsText(*prog, prog->OpCount(), text);
    EXPECT_EQ(text, "");
}

TEST_F(Compiled, TheGridShowsParametersConstantsAndVariablesInTheAskedOrder) {
    VarGridTable grid;
    TagTelBasic* two = Unit("two");
    TagVar* tmp = nullptr;
    two->FindOrCreateVar("__m99", &tmp);
    FillVarGrid(*two, grid, 0, 0);
    ASSERT_TRUE(grid.Filled());
    EXPECT_EQ(grid.title, (std::array<std::string, 3>{"Name", "Value", "Note"}));
    for (const auto& r : grid.rows)
        EXPECT_NE(r[0], "__m99");

    FillVarGrid(*prog, grid, 0, 0);
    std::vector<std::string> names;
    for (const auto& r : grid.rows)
        names.push_back(r[0]);
    auto pos = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(pos("LIMIT"), pos("_tempVal")); // constants before variables
    EXPECT_LT(pos("x"), pos("y"));            // variables in creation order
    FillVarGrid(*prog, grid, 0, 1);
    names.clear();
    for (const auto& r : grid.rows)
        names.push_back(r[0]);
    EXPECT_GT(pos("x"), pos("y"));
    FillVarGrid(*prog, grid, 1, 0);
    names.clear();
    for (const auto& r : grid.rows)
        names.push_back(r[0]);
    EXPECT_LT(pos("_retVal"), pos("x"));
    EXPECT_LT(pos("x"), pos("y"));
    FillVarGrid(*prog, grid, 1, 1);
    names.clear();
    for (const auto& r : grid.rows)
        names.push_back(r[0]);
    EXPECT_GT(pos("_retVal"), pos("x"));
}

TEST(DebugValues, GridCellsAndTypeNames) {
    std::vector<VarRow> rows;
    TagTelBasic unit;
    unit.AddParam("p");
    TagVar *s = nullptr, *d = nullptr, *o = nullptr, *e = nullptr, *c = nullptr;
    unit.FindOrCreateVar("s", &s, "note of s");
    s->SetStr("text");
    unit.FindOrCreateVar("d", &d);
    d->SetFloat(2.5);
    unit.FindOrCreateVar("o", &o);
    TagVar k;
    k.SetInt(1);
    (*o)[k].SetInt(1);
    unit.FindOrCreateVar("e", &e);
    *e = g_nullVar;
    TagOperand lit;
    lit.kind = TagOperand::kInteger;
    lit.text = "77";
    unit.ResolveOperand(lit, &c); // a nameless constant: not shown
    CollectVarRows(unit, rows);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].name, "p");
    EXPECT_EQ(rows[0].note, "参数");
    EXPECT_EQ(rows[3].value, "text");
    EXPECT_EQ(rows[3].note, "note of s");
    EXPECT_EQ(rows[4].value, "2.5");
    EXPECT_EQ(rows[5].value, std::to_string(o->ObjId()));
    EXPECT_EQ(rows[6].value, "NULL");
    EXPECT_STREQ(TypeName(*o), "字典(数组)型");
    TagVar nothing;
    nothing.type = 9;
    EXPECT_STREQ(TypeName(nothing), "未知类型");
    TagVar none;
    *o = none;

    VarGridTable grid;
    ArrangeVarGrid({}, 1, 1, grid);
    EXPECT_FALSE(grid.Filled());
    EXPECT_TRUE(grid.rows.empty());
}

TEST(CallStack, ListsTheUnitAndItsCallersAndStopsAtARecursiveUnit) {
    test::HandLine line;
    TagTelBasic& main = line.main;
    TagTelBasic* f = test::AddFunction(main, "f");
    TagTelBasic* g = test::AddFunction(main, "g");
    std::vector<CallStackEntry> list;
    EXPECT_EQ(GetCallStack(f, nullptr), -1);
    EXPECT_EQ(GetCallStack(f, &list), -2);
    g->caller = f;
    f->caller = &main;
    ASSERT_EQ(GetCallStack(g, &list), 0);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "function g()");
    EXPECT_EQ(list[1].unit, f);
    EXPECT_EQ(list[2].name, "_main_");
    f->caller = f; // f called itself
    ASSERT_EQ(GetCallStack(f, &list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "function f()");
    EXPECT_EQ(list[1].name, "function f()");
    f->defText.clear();
    list.clear();
    AddCallStackName(f, list);
    EXPECT_EQ(list[0].name, "_main_");

    // A long chain stops at 31 entries.
    std::vector<TagTelBasic*> units;
    for (int i = 0; i < 40; ++i)
        units.push_back(test::AddFunction(main, "h" + std::to_string(i)));
    for (int i = 1; i < 40; ++i)
        units[static_cast<size_t>(i)]->caller = units[static_cast<size_t>(i) - 1];
    units[0]->caller = &main;
    ASSERT_EQ(GetCallStack(units[39], &list), 0);
    EXPECT_EQ(list.size(), 31u);
}

// The window thread reads what the paused line thread saw, while the line runs on between pauses.
TEST(DebugSnapshot, ThePausedLineLeavesItsStackAndValuesForTheWindowThread) {
    test::HandLine line;
    TagTelBasic& main = line.main;
    TagTelBasic* f = test::AddFunction(main, "f", {"n"});
    TagVar* count = nullptr;
    main.FindOrCreateVar("count", &count);
    std::atomic<bool> quit{false};
    test::AppendDo(*f, [f] { return f->ParamValue(0).SetInt(f->ParamValue(0).GetInt() + 1); });
    test::AppendDo(*f, [] { return 0; })->SetBreak(1);
    auto* call = test::Append(main, std::make_unique<TagCall>(test::FuncVar(main, "f"), &main));
    call->AddPara(count);
    test::AppendDo(main, [&] {
        if (quit) main.SetQuit(1);
        return 0;
    });
    std::thread t([&] { main.Run(); });
    DebugSnapshot seen;
    for (int round = 1; round <= 3; ++round) {
        for (int i = 0; i < 3000 && !(ReadDebugSnapshot(main, seen) && seen.serial == static_cast<uint32_t>(round));
             ++i)
            SleepMs(1);
        ASSERT_EQ(seen.serial, static_cast<uint32_t>(round));
        EXPECT_EQ(seen.unit, f);
        EXPECT_EQ(seen.opIndex, 1);
        ASSERT_EQ(seen.callStack.size(), 2u);
        EXPECT_EQ(seen.callStack[0].unit, f);
        EXPECT_EQ(seen.callStack[1].name, "_main_");
        ASSERT_FALSE(seen.unitVars.empty());
        EXPECT_EQ(seen.unitVars[0].name, "n");
        EXPECT_EQ(seen.unitVars[0].value, std::to_string(round));
        VarGridTable grid;
        ArrangeVarGrid(seen.mainVars, 1, 0, grid); // the window thread arranges the snapshot's rows
        EXPECT_TRUE(grid.Filled());
        if (round == 3) quit = true;
        main.SetPause(0); // run on to the next breakpoint
    }
    t.join();
    EXPECT_EQ(count->GetInt(), 3);
}

// A breakpoint set while the line is deep in a recursion of plain statements stops it there, in the function, with
// the function on the call stack; a quit then ends the paused run.
TEST(DebugSnapshot, ABreakpointSetDuringARecursionPausesInsideIt) {
    ScriptFolder folder;
    std::ofstream("r.kvs", std::ios::binary) << "hits = 0;\n"
                                                "function f(n)\n"
                                                "{\n"
                                                "    if(n > 0)\n"
                                                "    {\n"
                                                "        m = n - 1;\n"
                                                "        f(m);\n"
                                                "    }\n"
                                                "    hits = hits + 1;\n"
                                                "    return(n);\n"
                                                "}\n"
                                                "while(1)\n"
                                                "{\n"
                                                "    k = 20;\n"
                                                "    f(k);\n"
                                                "}\n";
    TagCallState call;
    call.lineNo = 3;
    auto prog = std::make_unique<TagTelBasic>("r.kvs", 3, &call, 0, nullptr);
    ASSERT_EQ(prog->initResult, 0);
    TagTelBasic* f = nullptr;
    prog->FindFunc("f", &f);
    ASSERT_NE(f, nullptr);
    int32_t hitsOp = -1;
    for (int32_t i = 0; i < f->OpCount(); ++i)
        if (f->Op(i)->text.find("hits = hits + 1") != std::string::npos) hitsOp = i;
    ASSERT_GE(hitsOp, 0);

    std::thread t([&] { prog->Run(); });
    // Once the line runs the function, the breakpoint goes in.
    for (int i = 0; i < 5000 && prog->runningUnit.load() != f; ++i)
        SleepMs(1);
    ASSERT_EQ(prog->runningUnit.load(), f);
    f->SetOpBreak(hitsOp, 1);
    DebugSnapshot seen;
    for (int i = 0; i < 5000 && !(ReadDebugSnapshot(*prog, seen) && seen.serial >= 1); ++i)
        SleepMs(1);
    EXPECT_EQ(seen.unit, f);
    EXPECT_EQ(seen.opIndex, hitsOp);
    // Below the outermost call the chain ends at the unit itself (it called itself), else at the main program.
    ASSERT_EQ(seen.callStack.size(), 2u);
    EXPECT_EQ(seen.callStack[0].unit, f);
    EXPECT_TRUE(seen.callStack[1].unit == f || seen.callStack[1].name == "_main_");
    f->ClearAllBreaks();
    prog->SetQuit(1);
    prog->SetPause(0);
    t.join();
    EXPECT_EQ(prog->callDepth, 0u);
}

// A breakpoint in a function, set before the run while nothing else is watched, makes the call run the body one
// statement at a time: the console hears of its plain statements, and the one with the breakpoint stops there.
// The hook takes the breakpoint away as it hears of that statement, so the run goes on without a pause.
TEST(DebugSnapshot, ABreakpointInAFunctionIsMetWhenTheUnwatchedMainFlowCallsIt) {
    ScriptFolder folder;
    std::ofstream("b.kvs", std::ios::binary) << "hits = 0;\n"
                                                "function f(n)\n"
                                                "{\n"
                                                "    hits = hits + n;\n"
                                                "    return(n);\n"
                                                "}\n"
                                                "r = f(2);\n"
                                                "r = f(3);\n"
                                                "return(hits);\n";
    TagCallState call;
    auto prog = std::make_unique<TagTelBasic>("b.kvs", 4, &call, 0, nullptr);
    ASSERT_EQ(prog->initResult, 0);
    TagTelBasic* f = nullptr;
    prog->FindFunc("f", &f);
    ASSERT_NE(f, nullptr);
    static int32_t s_hitsOp;
    static std::vector<std::pair<TagTelBasic*, int32_t>> s_heard;
    s_hitsOp = -1;
    s_heard.clear();
    for (int32_t i = 0; i < f->OpCount(); ++i)
        if (f->Op(i)->text.find("hits = hits + n") != std::string::npos) s_hitsOp = i;
    ASSERT_GE(s_hitsOp, 0);
    EXPECT_EQ(prog->debugHold.load(), 0u);
    prog->SetPause(1);
    prog->SetPause(0);
    EXPECT_EQ(prog->debugHold.load(), 0u);
    f->SetOpBreak(s_hitsOp, 1);
    EXPECT_NE(prog->debugHold.load(), 0u);

    TheEngineHooks().debugFuncHook = [](TagTelBasic* unit, int32_t index, const char*, int32_t, const char*, bool,
                                        bool) {
        s_heard.emplace_back(unit, index);
        if (index == s_hitsOp) unit->ClearAllBreaks();
    };
    EXPECT_EQ(prog->Run(), 5);
    TheEngineHooks() = EngineHooks();
    ASSERT_FALSE(s_heard.empty());
    EXPECT_EQ(s_heard.front().first, f); // from the body's opening brace on
    EXPECT_FALSE(prog->IsPaused());
    // With the breakpoint gone the second call runs unwatched: nothing more is heard of that statement.
    EXPECT_EQ(std::count(s_heard.begin(), s_heard.end(), std::make_pair(f, s_hitsOp)), 1);
    EXPECT_EQ(prog->debugHold.load(), 0u);
}

TEST(DebugSnapshot, StopEndsAPausedWaitWithoutAStep) {
    test::HandLine line;
    line.main.SetPause(1);
    std::thread t([&] { line.main.WaitDebugStep(); });
    SleepMs(30);
    line.main.stop = 1;
    t.join();
    EXPECT_TRUE(line.main.IsPaused());
}

} // namespace
} // namespace zz
