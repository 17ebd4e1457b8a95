// Block statements and the linking pass: small scripts compiled line by line, their links checked, and then run
// by following Next from the first op, as the run loop does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagFlow.h"
#include "engine/TagMapObject.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

namespace {

// Every test works in a fresh directory: the compiler appends its messages to "errmsg0.txt" there.
class BlockCompile : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBuiltins();
        old_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/zz-blocks-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Compiles the lines as the loading code does: a failed line counts one error; the file end links last.
    static int32_t Compile(TagTelBasic& p, const std::vector<std::string>& lines, bool endOfFile = true) {
        int32_t failed = 0;
        int32_t n = 0;
        for (const std::string& l : lines) {
            std::vector<char> buf(l.begin(), l.end());
            buf.resize(TagTelBasic::kLogicalLine + 1, 0);
            if (p.CompileLine(buf.data(), ++n) < 0) {
                ++p.errorCount;
                ++failed;
            }
        }
        if (endOfFile) p.LinkAtEndOfFile();
        return failed;
    }

    // Follows Next from op 0 until the flow runs off its end; false when it does not end within limit steps.
    static bool Run(TagTelBasic& p, int32_t limit = 100000) {
        TagOper* prev = nullptr;
        for (TagOper* cur = p.Op(0); cur;) {
            if (--limit < 0) return false;
            cur->prev = prev;
            cur->EvalArgs();
            int32_t r = cur->Run();
            p.RetVal()->SetInt(r);
            if (cur->target.var) cur->StoreResult(*p.RetVal());
            prev = cur;
            cur = cur->Next();
        }
        return true;
    }

    static TagVar* V(TagTelBasic& p, const char* name) {
        TagVar* v = nullptr;
        p.FindOrCreateVar(name, &v);
        return v;
    }
    static int32_t I(TagTelBasic& p, const char* name) {
        TagVar* v = nullptr;
        return p.FindVar(name, &v) >= 0 ? v->GetInt() : -12345;
    }
    static void Set(TagTelBasic& p, const char* name, int32_t value) { V(p, name)->SetInt(value); }

    // The op whose source text is text (the first one).
    static TagOper* OpOf(TagTelBasic& p, const std::string& text) {
        for (int32_t i = 0; i < p.OpCount(); ++i)
            if (p.Op(i) && p.Op(i)->text == text) return p.Op(i);
        return nullptr;
    }

    std::string Log() const {
        std::ifstream f(dir_ / "errmsg0.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    // The messages are GBK bytes on both sides (this file is compiled with the GBK execution charset).
    bool Logged(const char* msg) const { return Log().find(msg) != std::string::npos; }

    // A fresh program compiled from lines: the number of failed lines.
    int32_t Errors(const std::vector<std::string>& lines) {
        TagTelBasic p;
        Set(p, "a", 1);
        Set(p, "b", 2);
        Set(p, "c", 3);
        Set(p, "x", 0);
        return Compile(p, lines);
    }

private:
    std::filesystem::path old_, dir_;
};

TEST_F(BlockCompile, IfElseBlocksContinueAfterTheWholeStatement) {
    TagTelBasic p;
    Set(p, "a", 1);
    ASSERT_EQ(Compile(p, {"if(a)", "{", "x = 1;", "}", "else", "{", "x = 2;", "}", "y = 3;"}), 0) << Log();
    ASSERT_EQ(p.OpCount(), 9);
    auto* ifOp = dynamic_cast<TagIf*>(p.Op(0));
    ASSERT_NE(ifOp, nullptr);
    EXPECT_EQ(ifOp->kind, 'i');
    EXPECT_EQ(ifOp->thenOp, p.Op(1));
    EXPECT_EQ(ifOp->elseOp, p.Op(5));
    EXPECT_EQ(ifOp->next, p.Op(8));
    for (int32_t end : {3, 7}) {
        EXPECT_EQ(p.Op(end)->kind, '}');
        EXPECT_EQ(p.Op(end)->parent, ifOp);
        EXPECT_EQ(p.Op(end)->match->match, p.Op(end));
    }
    EXPECT_EQ(p.Op(1)->match, p.Op(3));
    EXPECT_EQ(p.Op(5)->match, p.Op(7));
    EXPECT_EQ(p.Op(2)->depth, 1);
    EXPECT_EQ(p.Op(8)->depth, 0);
    EXPECT_EQ(p.Op(8)->parent, nullptr);
    EXPECT_TRUE(p.Scratch().ifStack.empty());
    EXPECT_TRUE(p.Scratch().braceStack.empty());
    EXPECT_EQ(p.blockDepth, 0);

    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "x"), 1);
    EXPECT_EQ(I(p, "y"), 3);
    Set(p, "a", 0);
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "x"), 2);
}

TEST_F(BlockCompile, BracelessBodiesOfIfAndElse) {
    TagTelBasic p;
    Set(p, "a", 1);
    ASSERT_EQ(Compile(p, {"if(a)", "x = 1;", "y = 2;"}), 0) << Log();
    auto* ifOp = dynamic_cast<TagIf*>(p.Op(0));
    ASSERT_NE(ifOp, nullptr);
    TagOper* body = p.Op(1);
    EXPECT_EQ(body->singleBody, 1);
    EXPECT_EQ(body->depth, 1);
    EXPECT_EQ(body->match, body);
    EXPECT_EQ(body->parent, ifOp);
    EXPECT_EQ(ifOp->thenOp, body);
    EXPECT_EQ(body->next, p.Op(2));
    EXPECT_EQ(ifOp->next, p.Op(2));
    EXPECT_TRUE(p.Scratch().ifStack.empty());

    TagTelBasic q;
    Set(q, "a", 0);
    ASSERT_EQ(Compile(q, {"x = 0;", "if(a)", "x = 1;", "else", "x = 2;", "y = x * 10 + 1;"}), 0) << Log();
    ASSERT_TRUE(Run(q));
    EXPECT_EQ(I(q, "y"), 21);
    Set(q, "a", 1);
    ASSERT_TRUE(Run(q));
    EXPECT_EQ(I(q, "y"), 11);
    // The then statement skips the else and its body.
    EXPECT_EQ(OpOf(q, "x = 1;")->next, OpOf(q, "y = x * 10 + 1;"));
    EXPECT_TRUE(q.Scratch().ifStack.empty());
}

TEST_F(BlockCompile, ElseIfChainsTakeTheFirstTrueBranch) {
    TagTelBasic p;
    Set(p, "a", 0);
    ASSERT_EQ(Compile(p, {"r = 0;", "if(a == 1)", "{", "r = 10;", "}", "else if(a == 2)", "{", "r = 20;", "}",
                          "else if(a == 3)", "r = 30;", "else", "{", "r = 40;", "}", "after = r + 1;"}),
              0)
        << Log();
    auto* head = dynamic_cast<TagIf*>(p.Op(1));
    ASSERT_NE(head, nullptr);
    ASSERT_EQ(head->elseIfs.size(), 2u);
    EXPECT_EQ(head->elseIfs[0]->head, head);
    EXPECT_EQ(head->elseIfs[1]->head, head);
    EXPECT_EQ(head->elseIfs[0]->kind, 'E');
    TagOper* after = OpOf(p, "after = r + 1;");
    EXPECT_EQ(head->next, after);
    EXPECT_EQ(head->elseIfs[0]->next, after);
    EXPECT_EQ(OpOf(p, "r = 30;")->next, after);
    EXPECT_EQ(OpOf(p, "r = 30;")->singleBody, 1);
    EXPECT_TRUE(p.Scratch().ifStack.empty());

    for (int32_t a = 1; a <= 4; ++a) {
        Set(p, "a", a);
        ASSERT_TRUE(Run(p));
        EXPECT_EQ(I(p, "r"), a * 10) << "a = " << a;
        EXPECT_EQ(I(p, "after"), a * 10 + 1);
    }
}

TEST_F(BlockCompile, IfRightAfterAnIfChainStartsANewChain) {
    TagTelBasic p;
    Set(p, "a", 1);
    Set(p, "b", 0);
    ASSERT_EQ(Compile(p, {"if(a)", "{", "x = 1;", "}", "if(b)", "{", "x = 2;", "}", "else", "y = 5;", "z = 6;"}), 0)
        << Log();
    EXPECT_TRUE(p.Scratch().ifStack.empty());
    auto* second = dynamic_cast<TagIf*>(p.Op(4));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(p.Op(0)->next, second);
    EXPECT_EQ(second->next, OpOf(p, "z = 6;"));
    EXPECT_EQ(second->elseOp, OpOf(p, "y = 5;"));
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "x"), 1);
    EXPECT_EQ(I(p, "y"), 5);
    EXPECT_EQ(I(p, "z"), 6);
}

TEST_F(BlockCompile, BracelessWhileBodyLoopsBack) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"i = 0;", "while(i < 3)", "i++;", "done = 1;"}), 0) << Log();
    auto* loop = dynamic_cast<TagWhile*>(p.Op(1));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->body, p.Op(2));
    EXPECT_EQ(p.Op(2)->next, loop);
    EXPECT_EQ(p.Op(2)->parent, loop);
    EXPECT_EQ(loop->next, p.Op(3));
    EXPECT_TRUE(p.Scratch().loopStack.empty());
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "i"), 3);
    EXPECT_EQ(I(p, "done"), 1);
}

// No line follows a body on the last line to link it back; the end of the file does.
TEST_F(BlockCompile, BracelessLoopBodyOnTheLastLineStillLoops) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"i = 0;", "while(i < 5)", "i++;"}), 0) << Log();
    EXPECT_EQ(p.Op(2)->next, p.Op(1));
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "i"), 5);

    TagTelBasic q;
    ASSERT_EQ(Compile(q, {"i = 0;", "while(i < 5)", "i++;"}, false), 0);
    EXPECT_EQ(q.Op(2)->next, nullptr);
    q.LinkAtEndOfFile();
    q.LinkAtEndOfFile(); // twice is harmless
    EXPECT_EQ(q.Op(2)->next, q.Op(1));

    // Also for a for loop, and nothing is touched at the end of a file with errors or no ops.
    TagTelBasic r;
    ASSERT_EQ(Compile(r, {"s = 0;", "for(i = 0; i < 4; i++)", "s = s + i;"}), 0) << Log();
    ASSERT_TRUE(Run(r));
    EXPECT_EQ(I(r, "s"), 6);
    TagTelBasic empty;
    empty.LinkAtEndOfFile();
    EXPECT_EQ(empty.OpCount(), 0);
}

// The same through a whole script file, whose end of compilation links the last line.
TEST_F(BlockCompile, ScriptFileEndingInABracelessLoopBodyLoops) {
    {
        std::ofstream f("main.kvs", std::ios::binary);
        f << "i = 0;\r\nn = 0;\r\nwhile(i < 5)\r\n{\r\n    i++;\r\n    for(j = 0; j < i; j++)\r\n        n++;\r\n}"
             "\r\nwhile(i < 9)\r\n    i++;\r\n";
    }
    TagKvCall call;
    TagTelBasic p("main.kvs", 0, &call, 1, nullptr);
    ASSERT_EQ(p.initResult, 0) << Log();
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "i"), 9);
    EXPECT_EQ(I(p, "n"), 1 + 2 + 3 + 4 + 5);
}

// The same at the end of an if chain: the then statement must not run on into the else statement.
TEST_F(BlockCompile, ChainOnTheLastLinesEndsTheFlow) {
    TagTelBasic p;
    Set(p, "a", 1);
    ASSERT_EQ(Compile(p, {"x = 0;", "y = 0;", "if(a)", "x = 1;", "else", "y = 2;"}), 0) << Log();
    EXPECT_EQ(p.Op(3)->next, nullptr);
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "x"), 1);
    EXPECT_EQ(I(p, "y"), 0);
    Set(p, "a", 0);
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "y"), 2);

    TagTelBasic q;
    Set(q, "a", 0);
    ASSERT_EQ(Compile(q, {"x = 0;", "if(a)", "{", "x = 1;", "}", "else if(a == 0)", "x = 2;"}), 0) << Log();
    ASSERT_TRUE(Run(q));
    EXPECT_EQ(I(q, "x"), 2);
    Set(q, "a", 1);
    ASSERT_TRUE(Run(q));
    EXPECT_EQ(I(q, "x"), 1);
}

TEST_F(BlockCompile, NestedLoopsWithBreakAndContinue) {
    TagTelBasic p;
    ASSERT_EQ(
        Compile(p, {"t = 0;", "i = 0;", "while(i < 4)", "{", "i++;", "if(i == 2)", "continue;", "j = 0;", "while(1)",
                    "{", "j++;", "if(j > i)", "{", "break;", "}", "t = t + 1;", "}", "}", "end = 1;"}),
        0)
        << Log();
    TagOper* outer = p.Op(2);
    TagOper* inner = OpOf(p, "while(1)");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(OpOf(p, "continue;")->match, outer);
    EXPECT_EQ(OpOf(p, "continue;")->singleBody, 1);
    EXPECT_EQ(OpOf(p, "break;")->match, inner);
    EXPECT_EQ(outer->next, OpOf(p, "end = 1;"));
    EXPECT_EQ(inner->next, p.Op(p.OpCount() - 2)); // the outer "}"
    EXPECT_TRUE(p.Scratch().loopStack.empty());
    EXPECT_TRUE(p.Scratch().ifStack.empty());
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "t"), 1 + 3 + 4);
    EXPECT_EQ(I(p, "i"), 4);
    EXPECT_EQ(I(p, "end"), 1);
}

TEST_F(BlockCompile, BracelessBreakLeavesTheLoop) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"i = 0;", "while(1)", "{", "i++;", "if(i >= 7)", "break;", "}", "after = i;"}), 0) << Log();
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "after"), 7);
}

TEST_F(BlockCompile, ForLoopsRunInitOnEntryAndStepAfterEachPass) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"n = 0;", "s = 0;", "while(n < 3)", "{", "n++;", "for(i = 0; i < 10; i = i + 2)", "{",
                          "if(i == 4)", "continue;", "s = s + i;", "}", "}"}),
              0)
        << Log();
    auto* loop = dynamic_cast<TagForWhile*>(OpOf(p, "for(i = 0; i < 10; i = i + 2)"));
    ASSERT_NE(loop, nullptr);
    EXPECT_NE(loop->init, nullptr);
    EXPECT_NE(loop->step, nullptr);
    EXPECT_EQ(loop->kind, 'w');
    ASSERT_TRUE(Run(p));
    // 0 + 2 + 6 + 8 per entry; every entry of the for starts again at 0.
    EXPECT_EQ(I(p, "s"), 3 * 16);
    EXPECT_EQ(I(p, "i"), 10);
}

TEST_F(BlockCompile, ForInWalksTheKeysOfAnObject) {
    TagTelBasic p;
    TagVar* obj = V(p, "obj");
    (*obj)[Int(10)] = Int(1);
    (*obj)[Str("a")] = Int(2);
    (*obj)[Int(2)] = Int(3);
    ASSERT_EQ(Compile(p, {"n = 0;", "s = 0;", "for(k in obj)", "{", "n++;", "v = obj[k];", "}", "last = k;"}), 0)
        << Log();
    auto* loop = dynamic_cast<TagForIn*>(OpOf(p, "for(k in obj)"));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->objVar, obj);
    EXPECT_EQ(loop->keyVar, V(p, "k"));
    EXPECT_EQ(loop->kind, 'w');
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "n"), 3);
    EXPECT_EQ(Text(*V(p, "last")), "a");
    // A brace-less body over a string.
    TagTelBasic q;
    V(q, "str")->SetStrN("xyz", 3);
    ASSERT_EQ(Compile(q, {"n = 0;", "for(ch in str)", "n++;"}), 0) << Log();
    ASSERT_TRUE(Run(q));
    EXPECT_EQ(I(q, "n"), 3);
    *obj = Int(0);
}

TEST_F(BlockCompile, SwitchWithSharedLabelsAndDefault) {
    TagTelBasic p;
    Set(p, "x", 0);
    ASSERT_EQ(Compile(p, {"r = 0;", "switch(x)", "{", "case(1)", "case(2)", "{", "r = 12;", "}", "case(3)", "{",
                          "r = 3;", "}", "default()", "{", "r = 99;", "}", "}", "done = r + 1;"}),
              0)
        << Log();
    auto* sw = dynamic_cast<TagSwitch*>(p.Op(1));
    ASSERT_NE(sw, nullptr);
    ASSERT_EQ(sw->caseCount, 3);
    EXPECT_EQ(sw->values[0]->GetInt(), 2); // nearest label first
    EXPECT_EQ(sw->values[1]->GetInt(), 1);
    EXPECT_EQ(sw->values[2]->GetInt(), 3);
    EXPECT_EQ(sw->targets[0], sw->targets[1]);
    EXPECT_EQ(sw->targets[0]->kind, '{');
    ASSERT_NE(sw->defaultOp, nullptr);
    EXPECT_EQ(sw->defaultOp->kind, '{');
    EXPECT_EQ(sw->next, OpOf(p, "done = r + 1;"));
    EXPECT_TRUE(p.Scratch().switchStack.empty());
    const int32_t want[][2] = {{1, 12}, {2, 12}, {3, 3}, {7, 99}};
    for (auto& w : want) {
        Set(p, "x", w[0]);
        ASSERT_TRUE(Run(p));
        EXPECT_EQ(I(p, "r"), w[1]) << "x = " << w[0];
        EXPECT_EQ(I(p, "done"), w[1] + 1);
    }
}

TEST_F(BlockCompile, SwitchWithoutDefaultAndBreakInsideASwitchLeavesTheLoop) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"i = 0;", "hits = 0;", "while(i < 10)", "{", "i++;", "switch(i)", "{", "case(3)", "{",
                          "hits = hits + 1;", "}", "case(5)", "{", "break;", "}", "}", "}", "end = i;"}),
              0)
        << Log();
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "hits"), 1);
    EXPECT_EQ(I(p, "end"), 5);
}

// An operator would drop its right side ('switch(x + 1)' switching on x), so it is refused.
TEST_F(BlockCompile, SwitchAndCaseTakeOneOperand) {
    EXPECT_GT(Errors({"switch(x + 1)", "{", "}"}), 0);
    EXPECT_TRUE(Logged("语法错误, switch(x + 1)")) << Log();
    EXPECT_GT(Errors({"switch(x)", "{", "case(a + 1)", "{", "}", "}"}), 0);
    EXPECT_TRUE(Logged("语法错误, case(a + 1)")) << Log();
    EXPECT_EQ(Errors({"switch(x)", "{", "case(-1)", "{", "}", "}"}), 0) << Log();
}

TEST_F(BlockCompile, FunctionBodyBraces) {
    TagTelBasic main;
    main.Scratch().funcDefStack.push_back(1);
    auto* unit = main.subList.Add(std::make_unique<TagTelBasic>("f.txt", "f", &main));
    ASSERT_EQ(Compile(*unit, {"{", "y = 1;", "z = y;", "}"}), 0) << Log();
    EXPECT_TRUE(main.Scratch().funcDefStack.empty());
    EXPECT_EQ(unit->Op(0)->parent, nullptr);
    EXPECT_EQ(unit->Op(3)->match, unit->Op(0));
    EXPECT_EQ(unit->Op(3)->next, nullptr);
    bool found = false;
    for (TagVar* v : unit->variables)
        found = found || v->Name() == "y";
    EXPECT_TRUE(found);

    // The first brace of a function unit with no open definition, or of a main program.
    TagTelBasic lone;
    auto* orphan = lone.subList.Add(std::make_unique<TagTelBasic>("f.txt", "g", &lone));
    EXPECT_EQ(Compile(*orphan, {"{", "}"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的function语句"));
    EXPECT_EQ(Errors({"{", "}"}), 2);
    EXPECT_TRUE(Logged("'{'前面一行必须有相应的流程控制语句"));
}

TEST_F(BlockCompile, IfAndElseMessages) {
    EXPECT_EQ(Errors({"else"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的if语句"));
    EXPECT_EQ(Errors({"else if(a)"}), 1);
    // An else at another depth than its if.
    EXPECT_EQ(Errors({"if(a)", "{", "else"}), 1);
    EXPECT_EQ(Errors({"if(a)", "{", "else if(b)"}), 1);
    EXPECT_EQ(Errors({"if(a)", "if(b)"}), 1);
    EXPECT_TRUE(Logged("前面缺少'{'语句"));
}

TEST_F(BlockCompile, FailedLinesKeepWhatTheyStored) {
    // An else if without its if keeps its slot (unlinked); a brace without a head keeps its depth.
    TagTelBasic p;
    Set(p, "a", 1);
    EXPECT_EQ(Compile(p, {"x = 1;", "else if(a)", "{"}), 2);
    EXPECT_EQ(p.OpCount(), 3);
    EXPECT_EQ(p.Op(1)->kind, 'E');
    EXPECT_EQ(p.Op(0)->next, nullptr);
    EXPECT_EQ(p.blockDepth, 1);
    EXPECT_TRUE(p.Scratch().ifStack.empty());
    EXPECT_TRUE(p.Scratch().braceStack.empty());
    // A condition that does not compile reports the expression compiler's text.
    EXPECT_EQ(Errors({"if(a b)"}), 1);
    EXPECT_TRUE(Logged("缺少操作符"));
    EXPECT_EQ(Errors({"while(a +)"}), 1);
}

TEST_F(BlockCompile, LoopMessages) {
    EXPECT_EQ(Errors({"break;"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的while语句"));
    EXPECT_FALSE(Logged("找不到匹配的while语句或for语句"));
    EXPECT_EQ(Errors({"continue;"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的while语句或for语句"));
    EXPECT_EQ(Errors({"while(a)", "}"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的'{'语句"));
    EXPECT_EQ(Errors({"for(k of obj)"}), 1);
    EXPECT_TRUE(Logged("for语句语法错误"));
    EXPECT_EQ(Errors({"for(i = 0; i < 10; i = i * 2 + 1)"}), 1);
    EXPECT_TRUE(Logged("操作符错误: 出现多个操作符"));
}

TEST_F(BlockCompile, ForLoopCompilesInitAndStepAsSimpleSteps) {
    TagTelBasic p;
    ASSERT_EQ(Compile(p, {"for(i = 0; i < 10; i = i + 1)", "{", "}"}), 0) << Log();
    auto* loop = dynamic_cast<TagForWhile*>(p.Op(0));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(p.OpCount(), 3);
    EXPECT_EQ(loop->body, p.Op(1));
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "i"), 10);
}

TEST_F(BlockCompile, SwitchMessages) {
    EXPECT_EQ(Errors({"switch(x)", "case(1)"}), 1);
    EXPECT_TRUE(Logged("前面缺少'{'语句"));
    EXPECT_EQ(Errors({"switch(x)", "{", "x = 1;"}), 1);
    EXPECT_TRUE(Logged("在一个switch块里只能有case和default语句"));
    EXPECT_EQ(Errors({"case(1)"}), 1);
    EXPECT_TRUE(Logged("找不到匹配的switch语句"));
    EXPECT_EQ(Errors({"default()"}), 1);
    EXPECT_EQ(Errors({"switch(x)", "{", "default()", "{", "}", "default()", "{"}), 1);
    EXPECT_TRUE(Logged("在一个switch块里不允许有多个default语句"));
    EXPECT_EQ(Errors({"switch(nobody)"}), 1);
    EXPECT_TRUE(Logged("表达式中的变量没有预先赋值"));
    EXPECT_EQ(Errors({"switch(x)", "{", "case(a + b * c)"}), 1);
    EXPECT_TRUE(Logged("操作符错误: 出现多个操作符"));
}

TEST_F(BlockCompile, TextBesideABraceIsReportedAndCompilationGoesOn) {
    TagTelBasic p;
    Set(p, "a", 1);
    int32_t n = 0;
    for (const char* l : {"if(a)", "{ x = 1;", "y = 2;", "} z", "w = 3;"}) {
        std::string s = l;
        EXPECT_EQ(p.CompileLine(s.data(), ++n), 0) << l;
    }
    EXPECT_TRUE(Logged("语法错误: '{'必需单独一行"));
    EXPECT_TRUE(Logged("语法错误: '}'必需单独一行"));
    EXPECT_EQ(p.errorCount, 0);
    EXPECT_EQ(p.OpCount(), 5);
    ASSERT_TRUE(Run(p));
    EXPECT_EQ(I(p, "w"), 3);
}

// Every short sequence of block lines compiles to a message or to a program that runs: no read outside the op
// list or a stack, with or without the error count that normally stops the linking.
TEST_F(BlockCompile, AnySequenceOfBlockLinesIsSafe) {
    const std::vector<std::string> pool = {
        "if(a)",       "else if(b)", "else",    "{",         "}",      "while(a < 3)", "for(i = 0; i < 2; i++)",
        "for(k in a)", "switch(a)",  "case(1)", "default()", "break;", "continue;",    "a++;"};
    const size_t n = pool.size();
    int32_t runs = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j)
                for (size_t k = 0; k < n; ++k) {
                    TagTelBasic p;
                    Set(p, "a", 0);
                    Set(p, "b", 1);
                    int32_t line = 0;
                    int32_t errors = 0;
                    for (size_t idx : {i, j, k, i}) {
                        std::string s = pool[idx];
                        if (p.CompileLine(s.data(), ++line) < 0) ++errors;
                        // The second pass keeps linking after errors, as a worst case.
                        if (pass == 0) p.errorCount = errors;
                    }
                    p.LinkAtEndOfFile();
                    if (errors == 0 && p.Scratch().braceStack.empty()) {
                        Run(p, 1000);
                        ++runs;
                    }
                }
    EXPECT_GT(runs, 0);
    std::filesystem::remove("errmsg0.txt");
}

} // namespace
