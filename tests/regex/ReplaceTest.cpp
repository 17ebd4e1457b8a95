// Replacement with every $ reference form, counts, start positions, right to left and empty matches.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "regex/Split.h"
#include "tests/regex/RegexTestUtil.h"

using namespace zz;
using namespace zz::regextest;

TEST(RegexReplace, ReferenceForms) {
    EXPECT_EQ(Repl("(\\w+) (\\w+)", "hello world", "$2 $1"), "world hello");
    EXPECT_EQ(Repl("b", "abc", "[$&]"), "a[b]c");
    EXPECT_EQ(Repl("b", "abc", "[$0]"), "a[b]c");
    EXPECT_EQ(Repl("b", "abc", "[$`]"), "a[a]c");
    EXPECT_EQ(Repl("b", "abc", "[$']"), "a[c]c");
    EXPECT_EQ(Repl("b", "abc", "[$_]"), "a[abc]c");
    EXPECT_EQ(Repl("b", "abc", "$$"), "a$c");
    EXPECT_EQ(Repl("b", "abc", "$"), "a$c");
    EXPECT_EQ(Repl("b", "abc", "$x$"), "a$x$c");
    EXPECT_EQ(Repl("(a)|(b)", "b", "[$+]"), "[b]");
    EXPECT_EQ(Repl("(a)(x)?", "a", "[$+]"), "[a]");
    EXPECT_EQ(Repl("(x)?b", "b", "[$+]"), "[b]"); // no group took part: the match
    EXPECT_EQ(Repl("(?<w>b)", "abc", "<${w}>"), "a<b>c");
    EXPECT_EQ(Repl("(?<w>b)", "abc", "<${W}>"), "a<b>c");
    EXPECT_EQ(Repl("(b)", "abc", "<${x}>"), "a<${x}>c"); // no group named x stays literal
    EXPECT_EQ(Repl("(a)|b", "b", "[$1]"), "[]");         // a group that took no part adds nothing
}

TEST(RegexReplace, NumberedReferencesDropDigitsAboveGroupCount) {
    EXPECT_EQ(Repl("(b)", "abc", "$12"), "ab2c"); // group 1, then the character 2
    EXPECT_EQ(Repl("(b)", "abc", "$9"), "a$9c");
    EXPECT_EQ(Repl("(b)", "abc", "$100"), "ab00c");
    EXPECT_EQ(Repl("b", "abc", "$1"), "a$1c");
    const char* twelve = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)";
    EXPECT_EQ(Repl(twelve, "abcdefghijkl", "$12"), "l"); // group 12 once, nothing after it
    EXPECT_EQ(Repl(twelve, "abcdefghijkl", "$123"), "l3");
    EXPECT_EQ(Repl(twelve, "abcdefghijkl", "$1$10"), "aj");
}

TEST(RegexReplace, CountsAndStart) {
    EXPECT_EQ(Repl("a", "aaa", "b", 1), "baa");
    EXPECT_EQ(Repl("a", "aaa", "b", 0), "aaa");
    EXPECT_EQ(Repl("a", "aaa", "b", -1), "bbb");
    EXPECT_EQ(Repl("z", "aaa", "b"), "aaa");
    EXPECT_EQ(Repl("a", "aaa", "b", -1, 0, 1), "abb"); // text before start is copied
    EXPECT_EQ(Repl("a", "", "b"), "");
    EXPECT_EQ(Repl("", "", "b"), "b");
}

TEST(RegexReplace, EmptyMatchesReportedOnce) {
    EXPECT_EQ(Repl("x*", "abc", "-"), "-a-b-c-");
    EXPECT_EQ(Repl("a*", "baac", "-"), "-b--c-");
    EXPECT_EQ(Repl("\\b", "ab cd", "|"), "|ab| |cd|");
    EXPECT_EQ(Repl("x*", "abc", "-", -1, RIGHTTOLEFT), "-a-b-c-");
}

TEST(RegexReplace, RightToLeft) {
    EXPECT_EQ(Repl("a", "aaa", "b", 1, RIGHTTOLEFT), "aab");
    EXPECT_EQ(Repl("(\\d)(\\d)", "12345", "<$2$1>", -1, RIGHTTOLEFT), "1<32><54>");
}

TEST(RegexReplace, ResultAndKeptContext) {
    CRegexpT re("a");
    CContext ctx;
    MatchResultT last;
    int n = 0;
    char* out = re.Replace("xaya", 4, "b", 1, n, -1, 1, &last, &ctx);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out, n), "xbya");
    EXPECT_TRUE(last.IsMatched()); // the count stopped the loop after a match
    EXPECT_EQ(last.GetStart(), 1);
    EXPECT_EQ(ctx.m_nBeginPos, 2);
    CRegexpT::FreeString(out);
    out = re.Replace("xyz", "b");
    EXPECT_STREQ(out, "xyz"); // a new text even without a match
    CRegexpT::FreeString(out);
}

TEST(RegexReplace, ThreadsShareTheReferencePattern) {
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &ok] {
            bool all = true;
            for (int i = 0; i < 200; ++i)
                all = all && Repl("(\\d+)", "n=42", "<$1$$>") == "n=<42$>";
            ok[t] = all;
        });
    for (auto& th : threads)
        th.join();
    for (int v : ok)
        EXPECT_TRUE(v);
}

TEST(RegexReplace, GbkTextPassesThrough) {
    // double-byte text is matched byte by byte and copied unchanged around the matches
    EXPECT_EQ(Repl("\\d+", "电话123号", "#"), "电话#号");
    EXPECT_EQ(Repl("话", "电话电话", "X"), "电X电X");
}

namespace {
std::string Pieces(const char* pattern, const std::string& text) {
    CRegexpT re(pattern);
    std::string out;
    for (std::string_view p : RegexSplit(re, text))
        out.append("[").append(p).append("]");
    return out;
}
} // namespace

TEST(RegexSplit, PiecesBetweenMatches) {
    EXPECT_EQ(Pieces(",", "a,b,,c"), "[a][b][][c]");
    EXPECT_EQ(Pieces(",", "abc"), "[abc]");
    EXPECT_EQ(Pieces(",", ",a,"), "[][a][]");
    EXPECT_EQ(Pieces("\\s*;\\s*", "a ; b;c"), "[a][b][c]");
}

TEST(RegexSplit, EmptyMatchesAlwaysAdvance) {
    EXPECT_EQ(Pieces("x*", "abc"), "[a][b][c][]");
    EXPECT_EQ(Pieces("", "ab"), "[a][b][]");
    EXPECT_EQ(Pieces("\\b", "ab cd"), "[ab][ ][cd][]");
    EXPECT_EQ(Pieces(",?", "a,b"), "[a][b][]");
    // a double-byte character is never cut in two
    EXPECT_EQ(Pieces("", "电话"), "[电][话][]");
}
