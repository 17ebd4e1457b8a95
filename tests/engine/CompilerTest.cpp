// The expression compiler: precedence, steps and temporaries, and every message it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/TagExpre.h"
#include "engine/TagKeyword.h"
#include "engine/TagMapObject.h"
#include "engine/TagTelBasic.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

namespace {

struct Compiled {
    std::vector<TagCalculate> steps;
    std::string err, warn;
};

Compiled Compile(TagTelBasic& unit, const char* text, const char* target = "r", TagVar* sub = nullptr) {
    Compiled c;
    TagComplexExpre(text, &unit, target, sub, "note", c.steps, c.err, c.warn);
    return c;
}

void Set(TagTelBasic& unit, const char* name, const TagVar& v) {
    TagVar* var = nullptr;
    unit.FindOrCreateVar(name, &var);
    *var = v;
}

TagVar* Get(TagTelBasic& unit, const char* name) {
    TagVar* v = nullptr;
    unit.FindVar(name, &v);
    return v;
}

// Compiles into r, runs the steps and gives r.
TagVar Eval(TagTelBasic& unit, const char* text) {
    Compiled c = Compile(unit, text);
    EXPECT_EQ(c.err, "") << text;
    if (!c.err.empty() || c.steps.empty()) return TagVar();
    TagExpre e(c.steps);
    e.Run();
    return *e.result;
}

int32_t EvalInt(TagTelBasic& unit, const char* text) {
    return Eval(unit, text).GetInt();
}

} // namespace

TEST(TagComplexExprePrecedence, LevelsGroupAsTheLanguageSays) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    Set(u, "b", Int(2));
    Set(u, "c", Int(3));
    EXPECT_EQ(EvalInt(u, "a + b * c"), 7);
    EXPECT_EQ(EvalInt(u, "(a + b) * c"), 9);
    EXPECT_EQ(EvalInt(u, "10 - 2 - 3"), 5);
    EXPECT_EQ(EvalInt(u, "100 / 10 / 5"), 2);
    EXPECT_EQ(EvalInt(u, "1 << 2 + 1"), 8);
    EXPECT_EQ(EvalInt(u, "2 + 3 << 1"), 10);
    EXPECT_EQ(EvalInt(u, "-b * c"), -6);
    EXPECT_EQ(EvalInt(u, "7 > 3 == 1"), 1);
    EXPECT_EQ(EvalInt(u, "b == 2 & a"), 1);
    // || and && share one level, left to right: (1 || 0) && 0.
    Set(u, "z", Int(0));
    EXPECT_EQ(EvalInt(u, "a || z && z"), 0);
    // & binds looser than ==: a & (b == 2).
    EXPECT_EQ(EvalInt(u, "a & b == 2"), 1);
    EXPECT_EQ(EvalInt(u, "!z == 1"), 1);
    EXPECT_EQ(EvalInt(u, "~a"), -2);
    EXPECT_EQ(EvalInt(u, "a - -5"), 6);
    EXPECT_EQ(EvalInt(u, "+a + 1"), 2);
    EXPECT_EQ(EvalInt(u, "c % b"), 1);
    EXPECT_EQ(EvalInt(u, "((a))"), 1);
}

TEST(TagComplexExpreSteps, LastStepWritesTheTargetAndItsTemporaryIsGone) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    Set(u, "b", Int(2));
    Set(u, "c", Int(3));
    int32_t vars = u.VarCount();
    Compiled c = Compile(u, "a + b * c");
    ASSERT_EQ(c.err, "");
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].op, '*');
    EXPECT_EQ(c.steps[0].dest->Name(), "__m0");
    EXPECT_EQ(c.steps[0].dest->Note(), "中间变量");
    EXPECT_EQ(c.steps[1].op, '+');
    EXPECT_EQ(c.steps[1].right, c.steps[0].dest);
    EXPECT_EQ(c.steps[1].dest, Get(u, "r"));
    EXPECT_EQ(Get(u, "__m1"), nullptr);
    EXPECT_EQ(u.VarCount(), vars + 2); // __m0 and r
    EXPECT_EQ(Get(u, "r")->Note(), "note");
}

TEST(TagComplexExpreSteps, ParenthesisedOrBareOperandIsOneCopyStep) {
    TagTelBasic u;
    Set(u, "a", Int(4));
    for (const char* text : {"a", "(a)", "((a))"}) {
        Compiled c = Compile(u, text);
        ASSERT_EQ(c.steps.size(), 1u) << text;
        EXPECT_EQ(c.steps[0].op, 0);
        EXPECT_EQ(c.steps[0].left, Get(u, "a"));
    }
    Compiled c = Compile(u, "-5");
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_EQ(c.steps[0].op, 0);
    EXPECT_EQ(c.steps[0].left->intVal, -5);
    EXPECT_EQ(c.steps[0].left->readOnly, 1);
    c = Compile(u, "-a");
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_EQ(c.steps[0].op, '-');
    c = Compile(u, "a - -5");
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].op, 0);
    EXPECT_EQ(c.steps[1].op, '-');
}

TEST(TagComplexExpreSteps, SubscriptsChainAndWriteIntoATargetElement) {
    TagTelBasic u;
    TagVar* x = nullptr;
    u.FindOrCreateVar("x", &x);
    (*x)[Int(1)][Int(2)] = Str("deep");
    Compiled c = Compile(u, "x[1][2]");
    ASSERT_EQ(c.err, "");
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].op, '[');
    EXPECT_EQ(c.steps[1].op, '[');
    EXPECT_EQ(c.steps[1].left, c.steps[0].dest);
    EXPECT_EQ(Bytes(Eval(u, "x[1][2]")), "deep");
    TagVar key = Str("k");
    Compiled d = Compile(u, "x[1][2] + \"!\"", "y", &key);
    TagExpre(d.steps).Run();
    EXPECT_EQ(Bytes(Get(u, "y")->Find(Str("k"))), "deep!");
    *x = TagVar();
    *Get(u, "y") = TagVar();
    *Get(u, "r") = TagVar();
    *Get(u, "__m0") = TagVar();
    *Get(u, "__m2") = TagVar();
}

TEST(TagComplexExpreSteps, LiteralsBecomeSharedConstantsWithEscapes) {
    TagTelBasic u;
    EXPECT_EQ(Bytes(Eval(u, "\"a\\nb\" + \"\\q\"")), "a\nb\\q");
    int32_t vars = u.VarCount();
    Eval(u, "\"a\\nb\" + \"\\q\"");
    EXPECT_EQ(u.VarCount(), vars); // constants and target reused
    std::string big = "\"" + std::string(2000, 'z') + "\" + 1";
    EXPECT_EQ(Eval(u, big.c_str()).Len(), 2001);
}

TEST(TagComplexExpreSteps, TemporariesAreNumberedAcrossTheProgramAndItsFunctions) {
    TagTelBasic main;
    TagTelBasic fn("a.kvs", "Fn", &main);
    Set(main, "a", Int(1));
    Compile(main, "a * 2 + 1");
    Compiled c = Compile(fn, "a * 3 + 1");
    ASSERT_EQ(c.err, "");
    EXPECT_EQ(c.steps[0].dest->Name(), "__m2");
    EXPECT_EQ(*main.TempCounter(), 4);
    EXPECT_GE(fn.FindOwnVar("__m2", nullptr), 0);
    EXPECT_EQ(main.FindOwnVar("__m2", nullptr), -1);
}

TEST(TagComplexExpreSteps, OnlyTheTemporaryThisCompilationCreatedIsDeleted) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    // A script variable that happens to carry the next temporary's name.
    Set(u, "__m0", Int(42));
    Compiled c = Compile(u, "a + 5");
    ASSERT_EQ(c.err, "");
    ASSERT_EQ(c.steps.size(), 1u);
    ASSERT_NE(Get(u, "__m0"), nullptr);
    EXPECT_EQ(Get(u, "__m0")->intVal, 42);
    // The constant 5, created last, is still there for the step to read.
    TagExpre(c.steps).Run();
    EXPECT_EQ(Get(u, "r")->intVal, 6);
}

// Each compilation deletes its last temporary from amid the table (its target comes after it): every later
// lookup still finds the one entry of a name, and literals their one shared constant.
TEST(TagComplexExpreSteps, LookupsStayExactAfterTemporariesAreDeleted) {
    TagTelBasic u;
    Set(u, "a", Int(3));
    for (int round = 0; round < 2; ++round) {
        const int32_t vars = u.VarCount();
        for (int i = 0; i < 40; ++i) {
            const std::string t = "t" + std::to_string(i);
            Compiled c = Compile(u, "a * 2 + 7", t.c_str());
            ASSERT_EQ(c.err, "");
            TagExpre(c.steps).Run();
            ASSERT_NE(Get(u, t.c_str()), nullptr);
            EXPECT_EQ(Get(u, t.c_str())->Name(), t);
            EXPECT_EQ(Get(u, t.c_str())->intVal, 13);
        }
        // The first round made 40 targets, 2 constants and 40 kept temporaries; the second only the temporaries.
        EXPECT_EQ(u.VarCount() - vars, round == 0 ? 82 : 40);
    }
}

TEST(TagComplexExpreTokens, PlusOnlyNeedsThreePlusesAndNothingElse) {
    EXPECT_EQ(TagComplexExpre("a + b + c + d").plusOnly, 1);
    EXPECT_EQ(TagComplexExpre("a + b + c").plusOnly, 0);
    EXPECT_EQ(TagComplexExpre("a + b - c + d").plusOnly, 0);
    EXPECT_EQ(TagComplexExpre("a + \"-*\" + c + d").plusOnly, 1);
    TagComplexExpre t("x >= 1 && y != 2; ignored");
    ASSERT_EQ(t.TokenResult(), 7);
    EXPECT_EQ(t.tokens[1].text, ">=");
    EXPECT_EQ(t.tokens[5].text, "!=");
    EXPECT_EQ(TagComplexExpre("").TokenResult(), 0);
}

TEST(TagComplexExpreMessages, MessagesAreGbkBytes) {
    TagTelBasic u;
    EXPECT_EQ(Compile(u, "").err, "\xD3\xEF\xB7\xA8\xB4\xED\xCE\xF3, \xB1\xED\xB4\xEF\xCA\xBD\xCE\xAA\xBF\xD5\xA3\xA1");
    EXPECT_EQ(Compile(u, "\"x").err,
              "\xD3\xEF\xB7\xA8\xB4\xED\xCE\xF3: \xD7\xD6\xB7\xFB\xB4\xAE\xC3\xBB\xD3\xD0\xBD\xE1\xCA\xF8");
}

TEST(TagComplexExpreMessages, EmptyAndUnsplittableTexts) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    EXPECT_EQ(Compile(u, "").err, "语法错误, 表达式为空！");
    EXPECT_EQ(Compile(u, "  ; a").err, "语法错误, 表达式为空！");
    for (const char* text : {"a\"b\"", "\"a\"b", "12ab", "a + \xB0\xA1"})
        EXPECT_EQ(Compile(u, text).err, "语法错误, 缺少操作符!") << text;
}

TEST(TagComplexExpreMessages, MissingOperatorAndCalls) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    Set(u, "b", Int(1));
    EXPECT_EQ(Compile(u, "a b").err, "语法错误, 缺少操作符:a b");
    EXPECT_EQ(Compile(u, "a + b c").err, "语法错误, 缺少操作符:b c");
    EXPECT_EQ(Compile(u, "f(1)").err, "复杂表达式内暂不支持函数调用 ");
    EXPECT_EQ(Compile(u, "a + (b)").err, "");
}

TEST(TagComplexExpreMessages, UnmatchedBracketsAreReportedAndParsingGoesOn) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    Set(u, "b", Int(1));
    EXPECT_EQ(Compile(u, "(a + b").err, "(没有匹配的括号 ");
    EXPECT_EQ(Compile(u, "a + b)").err, ")没有匹配的括号 ");
    EXPECT_EQ(Compile(u, "a[1").err, "[没有匹配的括号 ");
    EXPECT_EQ(Compile(u, "a]").err, "]没有匹配的括号 ");
    // Several messages follow one another without separator.
    EXPECT_EQ(Compile(u, "(a + zz").err, "表达式中的变量没有预先赋值:zz(没有匹配的括号 ");
}

TEST(TagComplexExpreMessages, StepMessages) {
    TagTelBasic u;
    Set(u, "a", Int(1));
    EXPECT_EQ(Compile(u, "a + nope").err, "表达式中的变量没有预先赋值:nope");
    EXPECT_EQ(Compile(u, "\"abc").err, "语法错误: 字符串没有结束");
    EXPECT_EQ(Compile(u, "a?b").err, "不支持的操作符");
    EXPECT_EQ(Compile(u, "a +").err, "语法错误:a+");
    EXPECT_EQ(Compile(u, "!").err, "没有可操作的变量.");
}

TEST(TagComplexExpreMessages, SingleEqualsWarnsOncePerOccurrenceAndComparesEquality) {
    TagTelBasic u;
    Set(u, "a", Int(2));
    Set(u, "b", Int(2));
    const std::string w = "'='比较将来可能不再支持, 在表达式中最好使用'=='表示等于比较";
    Compiled c = Compile(u, "a = b");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.warn, w);
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_EQ(c.steps[0].op, '=');
    EXPECT_EQ(Compile(u, "a = b && b = a").warn, w + w);
    EXPECT_EQ(Compile(u, "a == b").warn, "");
    EXPECT_EQ(EvalInt(u, "a = b"), 1);
}

TEST(TagComplexExpreRun, ConditionEvaluatesBothSidesSafely) {
    TagTelBasic u;
    Set(u, "x", Int(0));
    EXPECT_EQ(EvalInt(u, "0 && (10 / x > 1)"), 0);
    Set(u, "s", Str("ab"));
    EXPECT_EQ(Bytes(Eval(u, "s * 3")), "ababab");
    EXPECT_EQ(Bytes(Eval(u, "s + 1 + 2.5 + \"y\"")), "ab12.5y");
}

// Arbitrary texts from the language's own characters never crash the splitter, the compiler or the steps.
TEST(TagComplexExpreRobust, RandomTextsCompileOrFailCleanly) {
    static const char kAlphabet[] = "ab1 0.5\"\\+-*/%<>=!&|^~()[],;?:'\t\xB0\xA1x_";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    TagTelBasic u;
    Set(u, "a", Int(3));
    Set(u, "b", Str("s"));
    Set(u, "x", Int(0));
    int compiled = 0;
    for (int i = 0; i < 5000; ++i) {
        std::string text;
        size_t len = next() % 24;
        for (size_t k = 0; k < len; ++k)
            text += kAlphabet[next() % (sizeof kAlphabet - 1)];
        TagOperand l, r;
        char op = 0;
        std::string msg;
        Tokenize(l, op, r, text.c_str(), msg);
        int32_t n = 0;
        g_keyword.Match(text.c_str(), &n);
        EXPECT_LE(n, static_cast<int32_t>(text.size()) + 1);
        Compiled c = Compile(u, text.c_str());
        if (c.err.empty() && !c.steps.empty()) {
            TagExpre(c.steps).Run();
            ++compiled;
        }
    }
    EXPECT_GT(compiled, 100);
    *Get(u, "r") = TagVar();
}
