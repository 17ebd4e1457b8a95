// The statement compiler: lines compiled by hand into a program, checked by the operations they store, the
// variables they create and the entries of the error log; a few compiled lines are run for their values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "builtins/BuiltinOper.h"
#include "builtins/BuiltinTable.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/Statements.h"
#include "builtins/UserDll.h"
#include "engine/TagCalculate.h"
#include "engine/TagCall.h"
#include "engine/TagExpre.h"
#include "engine/TagFlow.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"

using namespace zz;

// The log is shown in UTF-8 when the message is missing.
#define EXPECT_LOGGED(message) EXPECT_TRUE(Logged(message)) << GbkToUtf8(Log())

namespace {

// Every test runs in a fresh directory, since the error log is written to the working directory.
class StatementCompiler : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBuiltins();
        old_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/zz-stmt-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
        prog.runMode = 0; // warnings are logged too
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }

    int32_t Line(const std::string& text, int32_t line = 1) { return Line(prog, text, line); }
    static int32_t Line(TagTelBasic& unit, const std::string& text, int32_t line = 1) {
        std::string buf = text;
        return unit.CompileLine(buf.data(), line);
    }
    // The error log of line 0, as bytes.
    std::string Log() const {
        std::ifstream f(dir_ / "errmsg0.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    bool Logged(const std::string& message) const { return Log().find("): " + message) != std::string::npos; }
    TagVar* Var(const char* name) {
        TagVar* v = nullptr;
        prog.FindVar(name, &v);
        return v;
    }
    TagOper* Last() { return prog.Op(prog.OpCount() - 1); }
    template <class T> T* LastAs() { return dynamic_cast<T*>(Last()); }
    void Assign(const char* name, int32_t value) {
        TagVar* v = nullptr;
        prog.FindOrCreateVar(name, &v);
        v->SetInt(value);
    }
    // Runs the newest operation as the run loop would, without its result handling.
    void RunLast() {
        Last()->EvalArgs();
        Last()->Run();
    }

    TagTelBasic prog;
    std::filesystem::path dir_, old_;
};

} // namespace

TEST_F(StatementCompiler, BlankAndCommentLinesCompileToNothing) {
    EXPECT_EQ(Line(""), 0);
    EXPECT_EQ(Line("   \t  "), 0);
    EXPECT_EQ(Line("// a note"), 0);
    EXPECT_EQ(Line("  /* one */  "), 0);
    EXPECT_EQ(prog.OpCount(), 0);
    EXPECT_EQ(Log(), "");

    EXPECT_EQ(Line("/* lead */ x = 1;"), 0);
    EXPECT_EQ(prog.OpCount(), 1);
    ASSERT_NE(Var("x"), nullptr);
}

TEST_F(StatementCompiler, OpenCommentHidesLinesUntilItCloses) {
    EXPECT_EQ(Line("/* starts here", 1), 0);
    EXPECT_EQ(Line("x = 1;", 2), 0);
    EXPECT_EQ(Line("still */ y = 2;", 3), 0);
    EXPECT_EQ(Var("x"), nullptr);
    ASSERT_NE(Var("y"), nullptr);
    EXPECT_TRUE(prog.Scratch().commentStack.empty());

    // A comment closed on the line of a statement hides nothing after it.
    EXPECT_EQ(Line("z = 1; /* note */", 4), 0);
    EXPECT_EQ(Line("w = 2;", 5), 0);
    EXPECT_NE(Var("w"), nullptr);
    EXPECT_TRUE(prog.Scratch().commentStack.empty());
    EXPECT_EQ(Var("z")->Note(), " note ");
}

TEST_F(StatementCompiler, StrayCommentEndIsReported) {
    EXPECT_EQ(Line("*/ x = 1;", 4), 0);
    EXPECT_EQ(Log(), std::string("[Error](4): 找不到匹配的起始注释/*, */ x = 1;\n"));
    EXPECT_EQ(prog.OpCount(), 0);
}

TEST_F(StatementCompiler, SimpleAssignmentIsOneCalculation) {
    EXPECT_EQ(Line("x = 5; // counter"), 0);
    TagVar* x = Var("x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->Note(), " counter");
    auto* c = LastAs<TagCalculate>();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, '=');
    EXPECT_EQ(c->dest, x);
    EXPECT_EQ(c->op, 0);
    EXPECT_EQ(c->left->GetInt(), 5);
    EXPECT_TRUE(c->left->readOnly);
    EXPECT_EQ(c->text, "x = 5; // counter");
    EXPECT_EQ(c->lineNo, 1);
    EXPECT_EQ(c->index, 0);

    Assign("a", 2);
    Assign("b", 3);
    EXPECT_EQ(Line("y = a + b;"), 0);
    auto* sum = LastAs<TagCalculate>();
    ASSERT_NE(sum, nullptr);
    EXPECT_EQ(sum->op, '+');
    EXPECT_EQ(sum->left, Var("a"));
    EXPECT_EQ(sum->right, Var("b"));
    EXPECT_EQ(prog.Op(0)->next, sum);

    EXPECT_EQ(Line("n = -a;"), 0);
    auto* neg = LastAs<TagCalculate>();
    ASSERT_NE(neg, nullptr);
    EXPECT_EQ(neg->op, '-');
    EXPECT_EQ(neg->left, Var("a"));
    EXPECT_EQ(neg->right, nullptr);
    RunLast();
    EXPECT_EQ(Var("n")->GetInt(), -2);

    EXPECT_EQ(Line("my var = 1;"), 0);
    EXPECT_NE(Var("myvar"), nullptr);
}

TEST_F(StatementCompiler, LongerRightSidesBecomeExpressionsOrSums) {
    for (const char* n : {"a", "b", "c", "d"})
        Assign(n, 1);
    EXPECT_EQ(Line("x = a + b + c;"), 0);
    auto* two = LastAs<TagExpre>();
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->stepCount, 2);
    EXPECT_EQ(two->kind, '=');

    EXPECT_EQ(Line("x = a + b + c + d;"), 0);
    auto* sum = LastAs<TagMulPlus>();
    ASSERT_NE(sum, nullptr);
    EXPECT_EQ(sum->count, 4);
    EXPECT_EQ(sum->dest, Var("x"));
    EXPECT_EQ(sum->operands[3], Var("d"));

    EXPECT_EQ(Line("x = a * b + c;"), 0);
    EXPECT_NE(LastAs<TagExpre>(), nullptr);

    EXPECT_EQ(Line("x = a * b + c", 9), -1);
    EXPECT_LOGGED("缺少结束的分号, x = a * b + c");
    EXPECT_EQ(Line("x = a * b + \"c;"), -1);
    EXPECT_LOGGED("语法错误: 字符串没有结束");
    EXPECT_EQ(Line("x = a * b + c; d;"), -1);
    EXPECT_LOGGED("语法错误, x = a * b + c; d;");
    // Two operands that the operand splitter refuses are no expression either.
    EXPECT_EQ(Line("x = a * b; c;"), -1);
    EXPECT_LOGGED("语法错, x = a * b; c;");
}

TEST_F(StatementCompiler, CompiledAssignmentsComputeTheirValues) {
    EXPECT_EQ(Line("x = 4 * (2 + 3);"), 0);
    RunLast();
    EXPECT_EQ(Var("x")->GetInt(), 20);

    Assign("a", 1);
    Assign("b", 2);
    Assign("c", 3);
    Assign("d", 4);
    EXPECT_EQ(Line("y = (a + b) * (c + d);"), 0);
    RunLast();
    EXPECT_EQ(Var("y")->GetInt(), 21);

    EXPECT_EQ(Line("s = a + b + c + d;"), 0);
    RunLast();
    EXPECT_EQ(Var("s")->GetInt(), 10);

    EXPECT_EQ(Line("t = \"ab\" + \"c;d\";"), 0);
    RunLast();
    EXPECT_EQ(std::string(Var("t")->Str()), "abc;d");

    EXPECT_EQ(Line("i = 3;"), 0);
    RunLast();
    EXPECT_EQ(Line("m[i] = 7;"), 0);
    RunLast();
    EXPECT_EQ(Var("m")->Find(*Var("i")).GetInt(), 7);
}

TEST_F(StatementCompiler, IncrementsAndDecrements) {
    Assign("x", 5);
    EXPECT_EQ(Line("x++;"), 0);
    auto* inc = LastAs<TagCalculate>();
    ASSERT_NE(inc, nullptr);
    EXPECT_EQ(inc->dest, Var("x"));
    EXPECT_EQ(inc->left, Var("x"));
    EXPECT_EQ(inc->op, '+');
    EXPECT_EQ(inc->right->GetInt(), 1);
    RunLast();
    EXPECT_EQ(Var("x")->GetInt(), 6);

    EXPECT_EQ(Line("--x"), 0);
    auto* dec = LastAs<TagCalculate>();
    ASSERT_NE(dec, nullptr);
    EXPECT_EQ(dec->op, '-');
    EXPECT_EQ(dec->right, inc->right); // one shared literal 1

    // A new name comes into being at 0.
    EXPECT_EQ(Line("k++;"), 0);
    EXPECT_EQ(Var("k")->GetInt(), 0);

    EXPECT_EQ(Line("a!++;"), 0);
    EXPECT_LOGGED("自加或自减的变量名不合法");
    EXPECT_EQ(prog.OpCount(), 3);

    // 'x = y++' is no increment of a variable named "x=y".
    Line("x = k++;");
    TagVar* odd = nullptr;
    EXPECT_LT(prog.FindVar("x=k", &odd), 0);
}

TEST_F(StatementCompiler, ShapesThatAreNoAssignmentStoreNothing) {
    Assign("x", 1);
    EXPECT_EQ(Line("x + 1;"), 0);
    EXPECT_EQ(prog.OpCount(), 0);
    EXPECT_EQ(Log(), "");

    // The blocks are left as they were: the next statement is still the if's single body, linked once.
    EXPECT_EQ(Line("if(x)", 2), 0);
    EXPECT_EQ(Line("x + 1;", 3), 0);
    EXPECT_EQ(Line("y = 2;", 4), 0);
    EXPECT_EQ(Line("x + 1;", 5), 0);
    EXPECT_EQ(Line("z = 3;", 6), 0);
    auto* cond = dynamic_cast<TagIf*>(prog.Op(0));
    ASSERT_NE(cond, nullptr);
    EXPECT_EQ(cond->thenOp, prog.Op(1));
    EXPECT_EQ(prog.Op(1)->singleBody, 1);
    EXPECT_EQ(prog.Op(1)->depth, 1);
    EXPECT_EQ(prog.Op(2)->depth, 0);
    EXPECT_TRUE(prog.Scratch().ifStack.empty());
    EXPECT_EQ(Log(), "");
}

TEST_F(StatementCompiler, AssignmentMessages) {
    EXPECT_EQ(Line("x = y;"), -1);
    EXPECT_EQ(Log(), std::string("[Error](1): 表达式中的变量没有预先赋值, y\n")) << "one message a fault";
    EXPECT_EQ(Line("5 = x;"), -1);
    EXPECT_LOGGED("常量不可以赋值或者是非法的变量名, 5 = x;");
    EXPECT_EQ(Line("\"s\" = 1;"), -1);
    // An unknown left operand is never read as a unary minus.
    EXPECT_EQ(Line("z = q - 1;"), -1);
    EXPECT_LOGGED("表达式中的变量没有预先赋值, q");
    EXPECT_EQ(prog.OpCount(), 0);
}

TEST_F(StatementCompiler, ElementTargets) {
    Assign("i", 2);
    EXPECT_EQ(Line("a[i] = 5;"), 0);
    auto* c = LastAs<TagCalculate>();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->dest, Var("a"));
    EXPECT_EQ(c->destSub, Var("i"));

    // One operand: an operator would drop its right side, so it is refused.
    EXPECT_EQ(Line("b[i + 1] = 5;"), -1);
    EXPECT_LOGGED("下标[]语法错误:, b[i + 1] = 5;");

    EXPECT_EQ(Line("a[i = 5;"), -1);
    EXPECT_LOGGED("不可辨识的关键字, a[i = 5;");
    EXPECT_EQ(Line("a[nope] = 5;"), -1);
    EXPECT_LOGGED("表达式中的变量没有预先赋值:, a[nope] = 5;");
}

TEST_F(StatementCompiler, ConstantDeclarations) {
    EXPECT_EQ(Line("const N = 10", 1), 0);
    EXPECT_EQ(prog.OpCount(), 0);
    ASSERT_NE(Var("N"), nullptr);
    EXPECT_TRUE(Var("N")->readOnly);
    EXPECT_EQ(Var("N")->GetInt(), 10);

    EXPECT_EQ(Line("N = 3;", 2), -1);
    EXPECT_LOGGED("常量不可以赋值, N = 3;");
    EXPECT_EQ(Line("N++;", 3), -1);

    const int32_t warnings = prog.warningCount;
    EXPECT_EQ(Line("const N = 10", 4), 0);
    EXPECT_EQ(prog.warningCount, warnings + 1);
    EXPECT_NE(Log().find("[Warning](4): 常量重复定义, const N = 10\n"), std::string::npos);
    EXPECT_EQ(Line("const N = 11", 5), -1);
    EXPECT_NE(Log().find("[Error](5): 常量重复定义, const N = 11\n"), std::string::npos);
    EXPECT_EQ(Var("N")->GetInt(), 10);

    EXPECT_EQ(Line("const M = N"), 0);
    EXPECT_EQ(Var("M")->GetInt(), 10);
    EXPECT_EQ(Line("const S = \"abc\""), 0);
    EXPECT_EQ(std::string(Var("S")->Str()), "abc");
    EXPECT_EQ(Line("const P = N + 1"), -1);
    EXPECT_LOGGED("常量定义错误，不能运算");
    Assign("v", 1);
    EXPECT_EQ(Line("const Q = v"), -1);
    EXPECT_LOGGED("常量定义错误，=号右边必须为常量");
    EXPECT_EQ(Line("const R"), -1);
    EXPECT_LOGGED("不可辨识的关键字, const R");
    EXPECT_EQ(prog.OpCount(), 0);
}

TEST_F(StatementCompiler, BuiltinCallsAndTheirTargets) {
    Assign("f", 1);
    EXPECT_EQ(Line("r = Play(f);"), 0);
    auto* play = LastAs<TagBuiltin>();
    ASSERT_NE(play, nullptr);
    EXPECT_STREQ(play->builtinName, "Play(");
    EXPECT_EQ(play->kind, 'g');
    EXPECT_EQ(play->target.var, Var("r"));
    EXPECT_EQ(play->target.sub, nullptr);
    EXPECT_EQ(&play->Operand(0), Var("f"));

    Assign("i", 0);
    EXPECT_EQ(Line("a[i] = Str(f, 1, 2, 3);"), 0);
    auto* str = LastAs<TagBuiltin>();
    ASSERT_NE(str, nullptr);
    EXPECT_EQ(str->kind, 'v');
    EXPECT_EQ(str->target.var, Var("a"));
    EXPECT_EQ(str->target.sub, Var("i"));

    // A builtin standing alone has no target, a value builtin included (_retVal keeps what it held).
    EXPECT_EQ(Line("Substr(f, f, 1, 2);"), 0);
    EXPECT_EQ(Last()->target.var, nullptr);
    EXPECT_EQ(Line("Hangup();"), 0);
    EXPECT_EQ(Last()->target.var, nullptr);
    EXPECT_EQ(Line("h = Hangup();"), 0);
    EXPECT_EQ(Last()->target.var, Var("h"));
    EXPECT_EQ(Line("Time()"), 0);

    // Argument expressions are queued onto the operation, in order, into temporaries.
    EXPECT_EQ(Line("Print(f + 1);"), 0);
    ASSERT_EQ(Last()->args.size(), 1u);
    EXPECT_NE(Var("__m0"), nullptr);
    EXPECT_TRUE(prog.Scratch().pendingArgs.empty());
}

TEST_F(StatementCompiler, ArgumentListMessages) {
    Assign("a", 1);
    Assign("b", 1);
    EXPECT_EQ(Line("Hangup(1);"), -1);
    EXPECT_LOGGED("操作参数太多, Hangup(1);");
    EXPECT_EQ(Line("Play();"), -1);
    EXPECT_LOGGED("操作参数不够, Play();");
    EXPECT_EQ(Line("Play(a, );"), 0); // a blank last piece is dropped
    EXPECT_EQ(Line("Play(, a);"), -1);
    EXPECT_EQ(Line("Play(a, , b);"), -1);
    EXPECT_LOGGED("参数不可以为空, Play(a, , b);");
    EXPECT_EQ(Line("Print(\"a, b\");"), 0);
    EXPECT_EQ(Line("Print(\"abc);"), -1);
    EXPECT_LOGGED("语法错误: 字符串没有结束, Print(\"abc);");
    EXPECT_EQ(Line("Print(zz);"), -1);
    EXPECT_LOGGED("表达式中的变量没有预先赋值, zz\n");
    EXPECT_EQ(Line("Print({);"), -1);
    EXPECT_LOGGED("语法错误: '{'或'}'必需单独一行");
    std::string many = "Print(a";
    for (int i = 0; i < 40; ++i)
        many += ", a";
    EXPECT_EQ(Line(many + ");"), -1);
    EXPECT_LOGGED("语法错误: 太多的参数");
    EXPECT_EQ(Line("Nothing;"), -1);
    EXPECT_LOGGED("不可辨识的关键字, Nothing;");
}

TEST_F(StatementCompiler, FailedLineLeavesNoPendingState) {
    Assign("v", 1);
    // The first argument is queued, the second fails.
    EXPECT_EQ(Line("Str(v + 1, unknown, 1, 2);"), -1);
    EXPECT_EQ(Line("r = Play(unknown);"), -1);
    EXPECT_EQ(Line("Hangup();"), 0);
    EXPECT_TRUE(Last()->args.empty());
    EXPECT_EQ(Last()->target.var, nullptr);
}

TEST_F(StatementCompiler, SplitOfArgumentTexts) {
    auto& a = prog.Scratch().args;
    EXPECT_EQ(prog.SplitArgs(")", 40, a, ',', ')'), 0);
    EXPECT_EQ(prog.SplitArgs(" x ,  y);", 40, a, ',', ')'), 2);
    EXPECT_EQ(a[0], "x ");
    EXPECT_EQ(a[1], "y");
    EXPECT_EQ(prog.SplitArgs("\"a,\\\"b\", c)", 40, a, ',', ')'), 2);
    EXPECT_EQ(a[0], "\"a,\\\"b\"");
    EXPECT_EQ(prog.SplitArgs("a, , b)", 40, a, ',', ')'), -1);
    EXPECT_EQ(prog.SplitArgs("\"abc)", 40, a, ',', ')'), -3);
    EXPECT_EQ(prog.SplitArgs("a } b", 40, a, ',', ')'), -5);
    // Block heads: the closing ")" goes, unless a ";" closed the piece.
    EXPECT_EQ(prog.SplitArgs("a > b)", 40, a, ';', 0), 1);
    EXPECT_EQ(a[0], "a > b");
    EXPECT_EQ(prog.SplitArgs("a > b);", 40, a, ';', 0), 1);
    EXPECT_EQ(a[0], "a > b)");
    EXPECT_EQ(prog.SplitArgs("i = 0; i < 3; i++)", 40, a, ';', 0), 3);
    EXPECT_EQ(a[2], "i++");
    // Right sides: each ";" closes a piece and one must come.
    EXPECT_EQ(prog.SplitArgs(" 4 * (2 + 3);", 40, a, ';', ';'), 1);
    EXPECT_EQ(a[0], "4 * (2 + 3)");
    EXPECT_EQ(prog.SplitArgs(" a", 40, a, ';', ';'), -2);
    EXPECT_EQ(prog.SplitArgs("k \t in  obj", 40, a, ' ', 0), 3);
    EXPECT_EQ(a[2], "obj");

    std::string many;
    for (int i = 0; i < 41; ++i)
        many += "x,";
    EXPECT_EQ(prog.SplitArgs(many.c_str(), 40, a, ',', ')'), -4);
    // An argument is one 1024-byte buffer at most.
    std::string huge(3000, 'q');
    EXPECT_EQ(prog.SplitArgs((huge + ")").c_str(), 40, a, ',', ')'), 1);
    EXPECT_EQ(a[0].size(), 1023u);
    // A list whose end is ")" must have it.
    EXPECT_EQ(prog.SplitArgs("\"x\"", 40, a, ',', ')'), -6);
    EXPECT_EQ(prog.SplitArgs("\"x\") ; ", 40, a, ',', ')'), 1);
}

TEST_F(StatementCompiler, UserFunctionsDefinitionsAndCalls) {
    EXPECT_EQ(Line("Foo(1);", 1), -1);
    EXPECT_LOGGED("不可辨识的关键字, Foo(1);");

    EXPECT_EQ(Line("function Foo(a, b) // adds", 2), 0);
    ASSERT_EQ(prog.subList.Count(), 1);
    TagTelBasic* foo = prog.subList.Get(0);
    EXPECT_EQ(foo->unitName, "Foo");
    EXPECT_EQ(foo->parent, &prog);
    EXPECT_EQ(foo->paramCount, 2);
    EXPECT_EQ(foo->paramNames[1], "b");
    EXPECT_EQ(foo->defText, "function Foo(a, b) // adds");
    ASSERT_EQ(prog.Scratch().funcDefStack.size(), 1u);
    EXPECT_EQ(prog.Scratch().funcDefStack.back(), 2);
    TagVar* fv = Var("Foo");
    ASSERT_NE(fv, nullptr);
    EXPECT_EQ(fv->type, TagVar::kFunction);
    EXPECT_EQ(fv->FuncUnit(), foo);
    EXPECT_TRUE(fv->readOnly);
    EXPECT_EQ(prog.OpCount(), 0);
    prog.Scratch().funcDefStack.clear();

    EXPECT_EQ(Line("Foo(1, 2, 3);"), -1);
    EXPECT_LOGGED("操作参数太多");
    EXPECT_EQ(Line("Foo(1);"), -1);
    EXPECT_LOGGED("操作参数不够");
    EXPECT_EQ(Line("r = Foo(1, 2);"), 0);
    auto* call = LastAs<TagCall>();
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->kind, 'R');
    EXPECT_EQ(call->funcVar, fv);
    EXPECT_EQ(call->paramCount, 2);
    EXPECT_EQ(call->target.var, Var("r"));
    EXPECT_EQ(foo->Scratch().callerNames["_main_"], 1);
}

TEST_F(StatementCompiler, FunctionDefinitionMessages) {
    EXPECT_EQ(Line("function Play(a)"), -1);
    EXPECT_LOGGED("函数定义错误: 和系统函数重名");
    EXPECT_EQ(Line("function if(a)"), -1);
    EXPECT_EQ(Line("function NoList"), -1);
    EXPECT_LOGGED("函数定义错误: 语法错");
    EXPECT_EQ(Line("function F(a, , b)"), -1);
    EXPECT_LOGGED("参数不可以为空");
    EXPECT_EQ(prog.subList.Count(), 0);

    EXPECT_EQ(Line("function G()"), 0);
    EXPECT_EQ(prog.subList.Get(0)->paramCount, 0);
    EXPECT_EQ(Line("function G(x)"), -1);
    EXPECT_LOGGED("函数定义错误: 重复定义");

    // These fail after the unit was made, and keep it.
    EXPECT_EQ(Line("function H(a, b[1])"), -1);
    EXPECT_LOGGED("函数定义错误: 参数名不合法");
    Line("v = 1;");
    EXPECT_EQ(Line("function v(a)"), -1);
    EXPECT_LOGGED("函数定义错误: 函数名已经被定义为变量或常量");
    EXPECT_EQ(prog.subList.Count(), 3);
}

TEST_F(StatementCompiler, CallsInsideAFunctionUnit) {
    TagTelBasic unit("a.kvs", "f", &prog);
    unit.AddParam("p");
    Line(unit, "x = p + 1;");
    ASSERT_EQ(unit.OpCount(), 1);
    Line("function g()");
    prog.Scratch().funcDefStack.clear();
    EXPECT_EQ(Line(unit, "g();"), 0);
    EXPECT_EQ(prog.subList.Get(0)->Scratch().callerNames["f"], 1);

    // Temporaries count across the main program and its functions.
    EXPECT_EQ(Line(unit, "Print(p * 2);"), 0);
    EXPECT_EQ(Line("Print(1 * 2);"), 0);
    TagVar* t = nullptr;
    EXPECT_GE(unit.FindOwnVar("__m0", &t), 0);
    EXPECT_GE(prog.FindOwnVar("__m2", &t), 0);
}

TEST_F(StatementCompiler, DllCallsFollowTheirDeclaration) {
    EXPECT_EQ(Line("h = 0;"), 0);
    EXPECT_EQ(Line("Add(1, 2);"), -1);
    EXPECT_EQ(Line("DllFunction(h, \"Add\", 2);"), 0);
    EXPECT_EQ(Line("DllFunction(h, \"Add\", 5);"), 0); // the first declaration stays
    EXPECT_EQ(Line("Add(1);"), -1);
    EXPECT_LOGGED("操作参数不够, Add(1);");
    EXPECT_EQ(Line("s = Add(1, h);"), 0);
    auto* call = LastAs<TagDllCall>();
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->funcName, "Add");
    EXPECT_EQ(call->kind, 'g');
    ASSERT_EQ(call->dllArgs.size(), 2u);
    EXPECT_EQ(call->dllArgs[1], Var("h"));
    EXPECT_EQ(call->target.var, Var("s"));

    EXPECT_EQ(Line("DllFunction(h, \"Any\", -1);"), 0);
    EXPECT_EQ(Line("Any(1, 2, 3);"), 0);
    EXPECT_TRUE(LastAs<TagDllCall>()->dllArgs.empty());
}

TEST_F(StatementCompiler, SimpleStatements) {
    EXPECT_EQ(Line("x = 1;"), 0);
    EXPECT_EQ(Line("Close();", 2), 0);
    EXPECT_EQ(Last()->kind, 'x');
    EXPECT_NE(LastAs<TagClose>(), nullptr);
    EXPECT_EQ(prog.disconnIndex, 1);
    EXPECT_NE(Log().find("[Warning](2): 最好不要使用将来可能不支持的Close()函数, 请使用OnDisconn()函数\n\n"),
              std::string::npos);
    EXPECT_EQ(Line("OnDisconn();"), 0);
    EXPECT_EQ(Last()->kind, 'g');
    EXPECT_EQ(prog.disconnIndex, 2);
    EXPECT_EQ(Line("OnSysQuit();"), 0);
    EXPECT_NE(LastAs<TagOnSysQuit>(), nullptr);
    EXPECT_EQ(prog.sysQuitIndex, 3);
    EXPECT_EQ(Line("return(x);"), 0);
    EXPECT_EQ(Last()->kind, 'r');
    EXPECT_NE(LastAs<TagReturn>(), nullptr);
    const int32_t warnings = prog.warningCount;
    EXPECT_EQ(Line("IsSysQuit(x);"), 0);
    EXPECT_NE(LastAs<TagIsSysQuit>(), nullptr);
    EXPECT_EQ(prog.warningCount, warnings + 1);
    EXPECT_EQ(Line("Exit(0);"), 0);
    EXPECT_NE(LastAs<TagExit>(), nullptr);
    EXPECT_EQ(Line("Assert(x);"), 0);
    EXPECT_NE(LastAs<TagAssert>(), nullptr);
    EXPECT_EQ(Line("StartTimer(\"t\", 100);"), 0);
    EXPECT_NE(LastAs<TagStartTimer>(), nullptr);
    EXPECT_EQ(Line("StopTimer(\"t\");"), 0);
    EXPECT_NE(LastAs<TagStopTimer>(), nullptr);
    EXPECT_EQ(Line("return();"), -1);

    // A function's handlers mean nothing to the main flow.
    TagTelBasic unit("a.kvs", "f", &prog);
    EXPECT_EQ(Line(unit, "OnDisconn();"), 0);
    EXPECT_EQ(Line(unit, "OnSysQuit();"), 0);
    EXPECT_EQ(prog.disconnIndex, 2);
    EXPECT_EQ(prog.sysQuitIndex, 3);
    EXPECT_EQ(unit.disconnIndex, -1);
}

TEST_F(StatementCompiler, IncludeLines) {
    std::ofstream("inc.kvs") << "incVar = 3;\r\n";
    prog.scriptFile = "main.kvs";
    EXPECT_EQ(Line("#include \"inc.kvs\" // library"), 0);
    EXPECT_NE(Var("incVar"), nullptr);
    EXPECT_EQ(prog.scriptFile, "main.kvs");
    EXPECT_EQ(Line("#include <inc.kvs>"), 0); // compiled once only

    EXPECT_EQ(Line("#include incfile"), -1);
    EXPECT_LOGGED("语法错：得不到有效的文件名, #include incfile");
    EXPECT_EQ(Line("#include"), -1);
    EXPECT_EQ(Line("#include <inc.kvs"), -1);
    TagTelBasic unit("a.kvs", "f", &prog);
    EXPECT_EQ(Line(unit, "#include <inc.kvs>"), -1);
    EXPECT_LOGGED("在函数里不可以使用包含文件语句");
}

TEST_F(StatementCompiler, ForHeadsSplitForTheBlocks) {
    Assign("obj", 0);
    EXPECT_EQ(Line("for(k in obj)"), 0);
    EXPECT_EQ(prog.Scratch().argCount, 2);
    EXPECT_EQ(prog.Scratch().args[0], "k");
    EXPECT_EQ(prog.Scratch().args[1], "obj");
    EXPECT_EQ(Line("for(k of obj)"), -1);
    EXPECT_LOGGED("for语句语法错误");
    EXPECT_EQ(Line("for(i = 0; i < 3)"), -1);
    EXPECT_LOGGED("操作参数不够");
}

// Decisions the builtin branch takes while compiling, through the compiling unit and its line.
class BuiltinBranch : public StatementCompiler {
protected:
    void SetUp() override {
        StatementCompiler::SetUp();
        call.lineKind = kLineVirtual;
        prog.pKvCall = &call;
        prog.lineNo = 0;
        Assign("a", 1);
    }
    // The call is this fixture's and goes before the base's program, whose destructor would stop it.
    void TearDown() override {
        prog.pKvCall = nullptr;
        StatementCompiler::TearDown();
    }
    TagKvCall call;
    TagTelBasic func{"a.kvs", "f", &prog};
};

TEST_F(BuiltinBranch, KeysAndSpeechFollowTheLineKind) {
    EXPECT_EQ(Line("GetKeys(a, a, a);"), 0);
    EXPECT_NE(LastAs<TagPcGetKeys>(), nullptr);
    EXPECT_EQ(Line(func, "GetKeys(a, a, a);"), 0);
    EXPECT_NE(dynamic_cast<TagPcGetKeys*>(func.Op(0)), nullptr);
    EXPECT_EQ(Line("PlayNumber(a, a);"), 0);
    EXPECT_EQ(LastAs<TagPlayNumber>()->pcFlag, 1);
    EXPECT_EQ(Line("TxtSpeak(a, a, a);"), 0);
    EXPECT_EQ(LastAs<TagTxtSpeak>()->pcFlag, 1);

    call.lineKind = kLineSip;
    EXPECT_EQ(Line("GetKeys(a, a, a);"), 0);
    EXPECT_NE(LastAs<TagGetKeys>(), nullptr);
    EXPECT_EQ(Line("PcGetKeys(a, a, a);"), 0);
    EXPECT_NE(LastAs<TagPcGetKeys>(), nullptr);
    EXPECT_EQ(Line("PlayNumber(a, a);"), 0);
    EXPECT_EQ(LastAs<TagPlayNumber>()->pcFlag, 0);
    EXPECT_EQ(Line("PcPlayNumber(a, a);"), 0);
    EXPECT_EQ(LastAs<TagPlayNumber>()->pcFlag, 1);
    EXPECT_EQ(Line("TxtSpeak(a, a, a);"), 0);
    EXPECT_EQ(LastAs<TagTxtSpeak>()->pcFlag, 0);
    EXPECT_EQ(Line("PcTxtSpeak(a, a, a);"), 0);
    EXPECT_EQ(LastAs<TagTxtSpeak>()->pcFlag, 1);
}

TEST_F(BuiltinBranch, ProgramsTheOperationsKeep) {
    prog.lineNo = 12;
    TagTelBasic unit{"a.kvs", "g", &prog}; // a function unit carries its parent's line number
    EXPECT_EQ(Line(unit, "DispInfo(a, a);"), 0);
    EXPECT_EQ(dynamic_cast<TagDispInfo*>(unit.Op(0))->displayLine, 12);
    EXPECT_EQ(Line(unit, "SetDispColor(a, a);"), 0);
    EXPECT_EQ(dynamic_cast<TagSetDispColor*>(unit.Op(1))->displayLine, 12);
    prog.lineNo = 0;

    EXPECT_EQ(Line(func, "Eval(a);"), 0);
    auto* eval = dynamic_cast<TagEval*>(func.Op(0));
    ASSERT_NE(eval, nullptr);
    EXPECT_EQ(eval->Program(), &func);
    EXPECT_EQ(eval->kind, 'R');
    EXPECT_EQ(Line(func, "RunKvs(a);"), 0);
    EXPECT_EQ(dynamic_cast<TagBuiltin*>(func.Op(1))->Program(), &prog);
    EXPECT_EQ(Line(func, "Play(a);"), 0);
    EXPECT_EQ(dynamic_cast<TagBuiltin*>(func.Op(2))->Program(), &prog);

    EXPECT_EQ(prog.optimize, 1);
    EXPECT_EQ(Line(func, "RunLine(a);"), 0);
    EXPECT_EQ(prog.optimize, 0);

    prog.optimize = 1;
    EXPECT_EQ(Line("InterLineServer(a);"), 0);
    EXPECT_EQ(prog.optimize, 0);

    EXPECT_EQ(Line(func, "DllFunction(a, \"Mul\", 2);"), 0);
    const auto& names = prog.LineState<UserLibState>().Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], std::make_pair(std::string("Mul"), 2));
    EXPECT_EQ(Line("Mul(a, a);"), 0);
    EXPECT_NE(LastAs<TagDllCall>(), nullptr);
    EXPECT_EQ(Line("AcdListRead();"), 0);
    EXPECT_TRUE(Last()->args.empty());
}

TEST_F(StatementCompiler, ScriptFileCompilesEndToEnd) {
    std::ofstream("main.kvs") << "x = 4 * (2 + 3);\n"
                                 "function used(a)\n"
                                 "{\n"
                                 "  RunLine(a);\n"
                                 "}\n"
                                 "function unused()\n"
                                 "{\n"
                                 "  return(1);\n"
                                 "}\n"
                                 "used(x);\n";
    TagKvCall call;
    call.lineNo = 0;
    TagTelBasic main("main.kvs", 0, &call, 0, nullptr);
    EXPECT_EQ(main.errorCount, 0) << GbkToUtf8(Log());
    EXPECT_EQ(main.initResult, 0);
    // RunLine keeps every function, called or not.
    EXPECT_EQ(main.subList.Count(), 2);
    ASSERT_GE(main.OpCount(), 2);
    main.Op(0)->Run();
    TagVar* x = nullptr;
    main.FindVar("x", &x);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetInt(), 20);
}

TEST_F(BuiltinBranch, ProgramStartedByRunKvsActsOnItsCallersLine) {
    TagTelBasic started;
    started.calledProgram = 1;
    started.callingProgram = &prog;
    Line(started, "a = 1;");
    EXPECT_EQ(Line(started, "SendMsg(a, a, a, a);"), 0);
    EXPECT_EQ(dynamic_cast<TagBuiltin*>(started.Op(1))->Program(), &prog);
    // RunKvs goes one level up only: a started main program keeps itself.
    EXPECT_EQ(Line(started, "RunKvs(a);"), 0);
    EXPECT_EQ(dynamic_cast<TagBuiltin*>(started.Op(2))->Program(), &started);
    // DllFunction declares on the caller's line, where later calls find the name.
    EXPECT_EQ(Line(started, "DllFunction(a, \"Sum\", 1);"), 0);
    EXPECT_EQ(Line(started, "Sum(a);"), 0);
    EXPECT_EQ(Line("Sum(a);"), 0);
}

// Malformed lines are refused with messages, never a crash: pieces of the language thrown together.
TEST_F(StatementCompiler, SurvivesMalformedLines) {
    static const char* const kPieces[] = {"x",        "y",        "=",        "==",     "(",          ")",
                                          "[",        "]",        "{",        "}",      ";",          ",",
                                          "+",        "++",       "-",        "--",     "*",          "/*",
                                          "*/",       "//",       "\"",       "\"a\"",  "\\",         "1",
                                          "2.5",      " ",        "\t",       "if(",    "for(",       "const",
                                          "function", "Play(",    "#include", "<",      ">",          "Str(",
                                          "in",       "\xb1\xed", "return(",  "Close(", "OnSysQuit(", "DllFunction(",
                                          "Foo(",     "!",        "~"};
    constexpr size_t kCount = sizeof kPieces / sizeof kPieces[0];
    Assign("x", 1);
    Assign("y", 2);
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int32_t n = 0; n < 3000; ++n) {
        std::string line;
        for (uint32_t k = 1 + next() % 9; k > 0; --k)
            line += kPieces[next() % kCount];
        int32_t rc = Line(line, n + 1);
        EXPECT_TRUE(rc == 0 || rc == -1) << line;
        // A failed line counts, and stops the linking as a compilation would.
        if (rc < 0) ++prog.errorCount;
        prog.Scratch().commentStack.clear();
        prog.Scratch().funcDefStack.clear();
    }
    std::string huge = "x = \"" + std::string(5000, 'q') + "\";";
    EXPECT_EQ(Line(huge), -1); // cut to one logical line, the string no longer closes
}
