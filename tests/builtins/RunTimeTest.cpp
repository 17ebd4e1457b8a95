// Run-time compilation where a script cannot look: RunLine leaves the program's operations as they were, RunKvs
// and Assert write their run-log lines, and RunKvs refuses to nest without end.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BuiltinCall.h"
#include "builtins/BuiltinTable.h"
#include "builtins/FixedAtCompile.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"

namespace zz {
namespace {

enum : int32_t { kAssert = 21, kRunKvs = 220, kRunLine = 222 };

// A line's program compiled from a script written into the working folder (the script cache keeps files by
// name for the whole process: every test names its own).
struct ScriptLine {
    ScriptLine(const std::string& file, const std::string& utf8Text, int32_t lineNo = 4) {
        RegisterBuiltins();
        TestDir::Write(file, Utf8ToGbk(utf8Text));
        call.lineNo = lineNo;
        call.lineKind = kLineVirtual;
        prog = std::make_unique<TagTelBasic>(file.c_str(), lineNo, &call, 1, nullptr);
    }
    TagKvCall call;
    std::unique_ptr<TagTelBasic> prog;
};

TEST(RunLineBuiltin, EveryTextLeavesTheProgramAsItWas) {
    test::RunLogCapture log("runline");
    ScriptLine line("runline.kvs", "y = 0;\nz = 1;\nreturn(y);\n");
    ASSERT_EQ(line.prog->initResult, 0);
    TagTelBasic& p = *line.prog;
    const int32_t count = p.OpCount(), slots = p.ops.Count(), depth = p.blockDepth;
    TagOper* last = p.Op(count - 1);
    TagVar text;
    for (const char* t : {"y = 5;", "y = ;", "{", "}", "if(y > 1)", "while(y < 3)", "for(i = 0; i < 2; i++)", "else",
                          "function f(a)", "Print(\"x\");", "NoSuch(1);", "", "y = 1; z = 2;"}) {
        SCOPED_TRACE(t);
        text.SetStr(t);
        test::RunBuiltin(kRunLine, &p, {&text});
        EXPECT_EQ(p.OpCount(), count);
        EXPECT_EQ(p.ops.Count(), slots);
        EXPECT_EQ(p.blockDepth, depth);
        EXPECT_EQ(p.errorCount, 0);
        EXPECT_EQ(last->next, nullptr);
    }
    text.SetStr("y = 7;");
    EXPECT_EQ(test::RunBuiltin(kRunLine, &p, {&text}), 0);
    TagVar* y = nullptr;
    ASSERT_GE(p.FindVar("y", &y), 0);
    EXPECT_EQ(y->GetInt(), 7);
}

TEST(RunKvsBuiltin, FailuresAreLoggedAndNestingIsBounded) {
    test::RunLogCapture log("runkvs");
    // Each level prints its depth and runs itself again until RunKvs refuses.
    ScriptLine line("nested.kvs", "d = 0;\nr = RunKvs(\"deep.kvs\");\nPrint(\"top \" + r + \"\\n\");\nreturn(r);\n");
    TestDir::Write("deep.kvs", "r = RunKvs(\"deep.kvs\");\nreturn(r + 1);\n");
    ASSERT_EQ(line.prog->initResult, 0);
    // Eight levels below the line's own script; the ninth RunKvs gives -1.
    EXPECT_EQ(line.prog->Run(), 7);
    TagVar file;
    file.SetStr("missing.kvs");
    EXPECT_EQ(test::RunBuiltin(kRunKvs, line.prog.get(), {&file}), -999);
    std::string text = log.Text();
    EXPECT_NE(text.find("RunKvs('deep.kvs') err: nested too deep [LINE=1]"), std::string::npos) << text;
    EXPECT_NE(text.find("RunKvs('missing.kvs') err: [LINE=0]"), std::string::npos) << text;
}

TEST(AssertBuiltin, AFailureWithoutADebuggerIsLoggedWithTheLine) {
    test::RunLogCapture log("assert");
    ScriptLine line("asserts.kvs", "a = 0;\nAssert(a);\nAssert(1);\nreturn(0);\n", 6);
    ASSERT_EQ(line.prog->initResult, 0);
    EXPECT_EQ(line.prog->Run(), 0);
    std::string text = log.Text();
    EXPECT_NE(text.find("[lcnt=6, Assert Failed: line=2]"), std::string::npos) << text;
    EXPECT_EQ(text.find("line=3"), std::string::npos) << text;
}

} // namespace
} // namespace zz
