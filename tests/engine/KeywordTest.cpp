// Keyword table, statement-head matcher, line helpers and the operand splitter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/TagKeyword.h"
#include "engine/Tokenize.h"

using namespace zz;

namespace {

int32_t MatchOrd(const char* line, int32_t* count = nullptr) {
    int32_t n = 0;
    const RecKeyword* r = g_keyword.Match(line, &n);
    if (count) *count = n;
    return r ? r->ordinal : -1;
}

int32_t FindOrd(const char* name) {
    const RecKeyword* r = g_keyword.Find(name);
    return r ? r->ordinal : -1;
}

} // namespace

TEST(TagKeywordTable, HasAllRecordsWithTheirOrdinalsLengthsAndKinds) {
    EXPECT_EQ(g_keyword.Count(), 282);
    struct {
        const char* name;
        int ord, kind, cat, args;
    } spots[] = {
        {"else if(", 0, 'E', 0, 1},
        {"for(", 15, 'w', 0, 3},
        {"StopTimer(", 23, 'g', 0, 1},
        {"Type(", 24, 'g', 2, 2},
        {"Float(", 26, 'v', 2, 2},
        {"Eval(", 45, 'R', 2, 1},
        {"EregSplit(", 56, 'g', 2, 3},
        {"DbOpen(", 57, 'g', 3, 6},
        {"DbExecMap(", 65, 'g', 3, 5},
        {"SelectLan(", 66, 'g', 1, 1},
        {"SetRecPos(", 87, 'g', 1, 1},
        {"LoadVocFile(", 88, 'g', 4, 2},
        {"Play(", 90, 'g', 4, 1},
        {"SetTones(", 102, 'g', 4, 10},
        {"SipProxyRecv(", 136, 'g', 4, 4},
        {"SipProxyGetField(", 137, 'v', 8, 3},
        {"SipProxyAddField(", 138, 'g', 4, 4},
        {"TransferTo(", 179, 'g', 4, 1},
        {"TcpOpen(", 180, 'g', 5, 4},
        {"UdpTest(", 199, 'g', 5, 1},
        {"PcGetKeys(", 200, 'g', 6, 3},
        {"PcSetKeys(", 204, 'g', 6, 2},
        {"TextFileAppend(", 205, 'g', 7, 3},
        {"GetFileList(", 234, 'g', 7, 4},
        {"SendMsg(", 235, 'g', 8, 4},
        {"RecvMsgFor2Field(", 239, 'g', 8, 12},
        {"GetMsgFieldVal(", 249, 'v', 8, 1},
        {"AcdListNum(", 260, 'g', 8, 1},
        {"GetShareMem(", 261, 'g', 9, 3},
        {"InterLineServer(", 269, 'g', 9, 1},
        {"GetSysInfo(", 270, 'g', 7, 1},
        {"SetMaxTalkTime(", 275, 'g', 7, 1},
        {"GetSigRawData(", 276, 'g', 4, 1},
        {"RecvFskMsg(", 281, 'g', 4, 3},
    };
    for (auto& s : spots) {
        const RecKeyword* r = g_keyword.At(s.ord);
        ASSERT_NE(r, nullptr) << s.name;
        EXPECT_STREQ(r->name, s.name);
        EXPECT_EQ(r->ordinal, s.ord);
        EXPECT_EQ(r->kind, s.kind) << s.name;
        EXPECT_EQ(r->category, s.cat) << s.name;
        EXPECT_EQ(r->argCount, s.args) << s.name;
        EXPECT_EQ(r->nameLen, static_cast<int32_t>(std::strlen(s.name)));
    }
    int values = 0;
    for (int i = 0; i < 282; ++i)
        values += g_keyword.At(i)->kind == 'v';
    EXPECT_EQ(values, 7);
    EXPECT_EQ(g_keyword.At(282), nullptr);
}

TEST(TagKeywordFind, FindsBuiltinsOnlyWithTheirParenthesis) {
    EXPECT_EQ(FindOrd("Play("), 90);
    EXPECT_EQ(FindOrd("Play"), -1);
    EXPECT_EQ(FindOrd("if("), -1);
    EXPECT_EQ(FindOrd("play("), -1);
    EXPECT_EQ(FindOrd("RecvFskMsg("), 281);
}

TEST(TagKeywordMatch, ElseIfAndIfMatchWithAnyBlanks) {
    EXPECT_EQ(MatchOrd("else if(a)"), 0);
    EXPECT_EQ(MatchOrd("else   if (a)"), 0);
    EXPECT_EQ(MatchOrd("else\tif\t(a)"), 0);
    EXPECT_EQ(MatchOrd("if(a)"), 1);
    EXPECT_EQ(MatchOrd("if (a)"), 1);
    EXPECT_EQ(MatchOrd("else"), 2);
    EXPECT_EQ(MatchOrd("  else  \r\n"), 2);
    EXPECT_EQ(MatchOrd("break ;"), 9);
    EXPECT_EQ(MatchOrd("continue;"), 10);
}

TEST(TagKeywordMatch, ConstAndFunctionAreRecognisedByTheirWordAlone) {
    int32_t n = 0;
    EXPECT_EQ(MatchOrd("const n = 5;", &n), 16);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(MatchOrd("function Foo(a, b)"), 12);
    EXPECT_EQ(MatchOrd("constant = 1"), -1);
    EXPECT_EQ(MatchOrd("constx(1)"), -1);
}

TEST(TagKeywordMatch, AssignmentsAndOddStartsMatchNothing) {
    EXPECT_EQ(MatchOrd("x = 5"), -1);
    EXPECT_EQ(MatchOrd("x=Play(1)"), -1);
    EXPECT_EQ(MatchOrd("1abc("), -1);
    EXPECT_EQ(MatchOrd(""), -1);
    EXPECT_EQ(MatchOrd("\xB0\xA1("), -1);
    EXPECT_EQ(MatchOrd("Nonsense(1)"), -1);
}

TEST(TagKeywordMatch, BracesBuiltinsAndIncludes) {
    int32_t n = 0;
    EXPECT_EQ(MatchOrd("{", &n), 3);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(MatchOrd("  }", &n), 4);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(MatchOrd("Play(\"a.wav\")", &n), 90);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(MatchOrd("#include <lib.kvs>"), 14);
    EXPECT_EQ(MatchOrd("#include \"lib.kvs\""), 14);
    EXPECT_EQ(MatchOrd("default()"), 8);
}

TEST(TagKeywordHelpers, RestOfLineTestAcceptsOnlyBlanksAndComments) {
    EXPECT_TRUE(IsRestEmpty(""));
    EXPECT_TRUE(IsRestEmpty("  \t"));
    EXPECT_TRUE(IsRestEmpty("  // note"));
    EXPECT_TRUE(IsRestEmpty(" \r\n"));
    EXPECT_FALSE(IsRestEmpty(" x"));
    EXPECT_FALSE(IsRestEmpty("a"));
}

TEST(TagKeywordHelpers, TrimStripAndSkip) {
    char a[] = "abc \t\n";
    TrimRight(a);
    EXPECT_STREQ(a, "abc");
    char b[] = " a b\tc\nd e";
    StripLineBlanks(b);
    EXPECT_STREQ(b, "abc");
    EXPECT_STREQ(SkipLeadFiller(" =\t x"), "x");
}

namespace {

struct Split {
    int32_t rc;
    TagOperand l, r;
    char op;
    std::string msg;
};

Split Tok(const char* text) {
    Split s;
    s.rc = Tokenize(s.l, s.op, s.r, text, s.msg);
    return s;
}

} // namespace

TEST(TokenizeSplit, MinusBeforeADigitStartsANegativeLeftOperand) {
    Split s = Tok("-5");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.kind, TagOperand::kInteger);
    EXPECT_EQ(s.l.text, "-5");
    EXPECT_EQ(s.op, 0);
    s = Tok("a -5");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.text, "a");
    EXPECT_EQ(s.op, '-');
    EXPECT_EQ(s.r.text, "5");
    EXPECT_EQ(s.r.kind, TagOperand::kInteger);
    s = Tok("-x");
    EXPECT_EQ(s.l.kind, TagOperand::kNone);
    EXPECT_EQ(s.op, '-');
    EXPECT_EQ(s.r.text, "x");
    s = Tok("-2.5");
    EXPECT_EQ(s.l.kind, TagOperand::kFloat);
}

TEST(TokenizeSplit, OperatorsMapToTheirStepCharacters) {
    struct {
        const char* text;
        char op;
    } cases[] = {{"a==b", '='}, {"a=b", '='},  {"a!=b", '#'}, {"a!b", '#'},  {"!b", '!'},   {"a>=b", 'g'},
                 {"a<=b", 'l'}, {"a>>b", 'R'}, {"a<<b", 'L'}, {"a||b", 'o'}, {"a&&b", 'a'}, {"a|b", '|'},
                 {"a&b", '&'},  {"a^b", '^'},  {"~b", '~'},   {"a%b", '%'},  {"a[b", '['},  {"a+b", '+'}};
    for (auto& c : cases) {
        Split s = Tok(c.text);
        EXPECT_EQ(s.rc, 0) << c.text;
        EXPECT_EQ(s.op, c.op) << c.text;
    }
}

TEST(TokenizeSplit, StringLiteralsResolveEscapes) {
    Split s = Tok(R"("a\"b\n\t\\c\x" + 1)");
    ASSERT_EQ(s.rc, 0) << s.msg;
    EXPECT_EQ(s.l.kind, TagOperand::kString);
    EXPECT_EQ(s.l.text, "a\"b\n\t\\c\\x");
    EXPECT_EQ(s.op, '+');
    s = Tok(R"("")");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.kind, TagOperand::kString);
    EXPECT_EQ(s.l.text, "");
    s = Tok("\"a;b,c\"");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.text, "a;b,c");
}

TEST(TokenizeSplit, EveryMessageExactly) {
    Split s = Tok("a+b-c");
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(s.msg, "操作符错误: 出现多个操作符");
    EXPECT_EQ(s.op, '+');
    s = Tok("\"abc");
    EXPECT_EQ(s.rc, -2);
    EXPECT_EQ(s.msg, "语法错误: 字符串没有结束");
    s = Tok("a,b");
    EXPECT_EQ(s.rc, -3);
    EXPECT_EQ(s.msg, "不支持的操作符");
    s = Tok("a ? b");
    EXPECT_EQ(s.rc, -3);
    s = Tok("a b");
    EXPECT_EQ(s.rc, -4);
    EXPECT_EQ(s.msg, "语法错误: 缺少操作符");
    s = Tok("a + b c");
    EXPECT_EQ(s.rc, -5);
    EXPECT_EQ(s.msg, "语法错误");
    s = Tok("12ab");
    EXPECT_EQ(s.rc, -5);
    s = Tok("a; b");
    EXPECT_EQ(s.rc, -5);
    s = Tok("a ;  ");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.text, "a");
    s = Tok("x\"s\"");
    EXPECT_EQ(s.rc, -5);
    s = Tok("a b+c");
    EXPECT_EQ(s.rc, -4);
    s = Tok("a+b");
    EXPECT_TRUE(s.msg.empty());
}

TEST(TokenizeSplit, KindsOfOperands) {
    Split s = Tok("abc_1 * 3.25");
    EXPECT_EQ(s.l.kind, TagOperand::kName);
    EXPECT_EQ(s.r.kind, TagOperand::kFloat);
    s = Tok(".5");
    EXPECT_EQ(s.l.kind, TagOperand::kFloat);
    s = Tok("");
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.kind, TagOperand::kNone);
    EXPECT_EQ(s.r.kind, TagOperand::kNone);
    s = Tok("+x");
    EXPECT_EQ(s.l.kind, TagOperand::kName);
    EXPECT_EQ(s.l.text, "+x");
}

TEST(TokenizeSplit, LongOperandsDoNotOverrunAnything) {
    std::string big = "\"" + std::string(5000, 'x') + "\" + " + std::string(3000, 'y');
    Split s = Tok(big.c_str());
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.l.text.size(), 5000u);
    EXPECT_EQ(s.r.text.size(), 3000u);
}
