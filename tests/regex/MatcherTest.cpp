// Searching: backtracking of every element, groups, look-around, recursion, right to left, and the faults the
// matcher must not have (endless recursion, reads past the captures, deep C++ recursion on long subjects).
#include <gtest/gtest.h>

#include <string>

#include "platform/TagWriteLog.h"
#include "tests/regex/RegexTestUtil.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::regextest;

TEST(RegexMatcher, BacktrackingThroughListsAndAlternatives) {
    CRegexpT re("(a|ab)(c|bcd)(d*)");
    MatchResultT m = re.Match("abcd");
    ASSERT_TRUE(m.IsMatched());
    EXPECT_EQ(m.GetStart(), 0);
    EXPECT_EQ(m.GetEnd(), 4);
    EXPECT_EQ(Group(re, "abcd", 1), "a");
    EXPECT_EQ(Group(re, "abcd", 2), "bcd");
    EXPECT_EQ(Group(re, "abcd", 3), "");
    EXPECT_EQ(Find("(?:ab|a|bc)*d", "abcd"), "abcd"); // a repetition that takes another way repeats again
    EXPECT_EQ(Find("x(?:a+|b)+?y", "xaabay"), "xaabay");
    EXPECT_EQ(Find("(?:a|b)*?b", "aab"), "aab");
    EXPECT_EQ(Find("(ab|a)(?:c|b)+d", "abbd"), "abbd");
}

TEST(RegexMatcher, GroupThatTookNoPart) {
    CRegexpT re("(a)|b");
    MatchResultT m = re.Match("b");
    ASSERT_TRUE(m.IsMatched());
    EXPECT_EQ(m.MaxGroupNumber(), 1);
    EXPECT_EQ(m.GetGroupStart(1), -1);
    EXPECT_EQ(m.GetGroupEnd(1), -1);
    EXPECT_EQ(m.GetGroupStart(7), -1); // past the groups: the default
    MatchResultT none = re.Match("c");
    EXPECT_FALSE(none.IsMatched());
    EXPECT_EQ(none.GetStart(), -1);
    EXPECT_EQ(none.MaxGroupNumber(), 0);
    EXPECT_EQ(FindGroup("(?:(a)|b)+", "ab", 1), "a"); // kept from an earlier round
    EXPECT_EQ(FindGroup("(a|b)+", "ab", 1), "b");
}

TEST(RegexMatcher, AtomicAndPossessive) {
    EXPECT_EQ(Find("(?>a*)a", "aaa"), kNone);
    EXPECT_EQ(Find("(?>a|ab)c", "abc"), kNone);
    EXPECT_EQ(Find("(?>ab|a)c", "abc"), "abc");
    EXPECT_EQ(Find("(?:ab)*+ab", "ababab"), kNone);
    EXPECT_EQ(FindGroup("(?>(a)b|ac)", "ac", 1), kNone); // captures of a failed atomic try are undone
}

TEST(RegexMatcher, LookAround) {
    EXPECT_EQ(Find("(?<=a)b", "bab"), "b");
    CRegexpT behind("(?<=a)b");
    EXPECT_EQ(behind.Match("bab").GetStart(), 2);
    EXPECT_EQ(Find("(?<!a)b", "abcb"), "b");
    EXPECT_EQ(CRegexpT("(?<!a)b").Match("abcb").GetStart(), 3);
    EXPECT_EQ(Find("a(?=b)", "acab"), "a");
    EXPECT_EQ(CRegexpT("a(?!b)").Match("abac").GetStart(), 2);
    EXPECT_EQ(FindGroup("(?=(a+))a", "aaa", 1), "aaa"); // captures of a positive look-ahead stay
    EXPECT_EQ(FindGroup("(?!(a)b)a", "ac", 1), kNone);
    EXPECT_EQ(FindGroup("(?<=(\\d+))x", "12x", 1), "12"); // captures inside look-behind: smaller position first
    EXPECT_EQ(Find("(?<=ab|b)c", "abc"), "c");
}

TEST(RegexMatcher, Conditions) {
    CRegexpT re("(<)?\\w+(?(1)>|)");
    EXPECT_EQ(Group(re, "<ab>"), "<ab>");
    EXPECT_EQ(Group(re, "ab>"), "ab");
    EXPECT_EQ(Find("(?(?=\\d)\\d+|[a-z]+)", "42"), "42");
    EXPECT_EQ(Find("(?(?=\\d)\\d+|[a-z]+)", "ab"), "ab");
    EXPECT_EQ(Find("(?<q>')?x(?(q)')", "'x'"), "'x'");
    EXPECT_EQ(Find("(?(nosuch)a|b)", "ab"), "a"); // a name of no group counts as true
    EXPECT_EQ(Find("(a)?(?(9)x|y)", "xy"), "y");  // a group above the count: no capture
    EXPECT_EQ(Find("(?(1)a|b|c)", "c"), "c");     // further alternatives belong to the no branch
}

TEST(RegexMatcher, BackReferenceAboveGroupCountIsNoCapture) {
    EXPECT_EQ(Find("(a)\\99", "aa"), kNone);
    EXPECT_EQ(Find("a|\\99", "b"), kNone);
    EXPECT_EQ(Find("\\k<nosuch>|b", "b"), "b");
    EXPECT_EQ(Find("(a)|\\1b", "b"), kNone); // a group that did not capture fails the reference
}

TEST(RegexMatcher, Recursion) {
    CRegexpT paren("\\((?:[^()]|(?R))*\\)");
    EXPECT_EQ(Group(paren, "x(a(b)c)y"), "(a(b)c)");
    EXPECT_EQ(Find("(a(?1)?b)", "aaabbb"), "aaabbb");
    EXPECT_EQ(Find("(?<p>a(?R<p>)?b)", "aabb"), "aabb");
    EXPECT_EQ(Find("(?'p'a(?R'p')?b)", "aabb"), "aabb");
    EXPECT_EQ(Find("(?R9)x", "x"), "x"); // no target: matches empty
    // recursion that makes no progress fails that branch instead of overflowing the stack
    EXPECT_EQ(Find("a|(?R)b", "b"), kNone);
    EXPECT_EQ(Find("a|(?R)b", "ab"), "a");
    EXPECT_EQ(Find("c|a(?R)b", "aacbb"), "aacbb");
    EXPECT_EQ(Find("(?R)", "abc"), kNone);
    EXPECT_EQ(Find("(a|(?1)b)", "abb"), "a");
    EXPECT_EQ(Find("(x|(?2))(y|(?1))", "xy"), "xy");
}

TEST(RegexMatcher, BoundariesAtLineBreaks) {
    CRegexpT start("^x", MULTILINE);
    EXPECT_EQ(start.Match("a\nx").GetStart(), 2);
    EXPECT_EQ(start.Match("a\rx").GetStart(), 2);
    EXPECT_FALSE(CRegexpT("^\\n", MULTILINE).Match("a\r\n").IsMatched()); // not between CR and LF
    EXPECT_EQ(CRegexpT("a$", MULTILINE).Match("xa\r\nb").GetStart(), 1);
    EXPECT_FALSE(CRegexpT("\\r$", MULTILINE).Match("a\r\n").IsMatched());
    EXPECT_EQ(CRegexpT("\\Z").Match("ab\r\n").GetStart(), 2);
    EXPECT_EQ(CRegexpT("\\b")
                  .Match("\xb0\xa1"
                         "a")
                  .GetStart(),
              2); // high bytes are no word bytes
    EXPECT_EQ(CRegexpT("\\B")
                  .Match("\xb0\xa1"
                         "a")
                  .GetStart(),
              0);
}

TEST(RegexMatcher, StartPositionsAndFailures) {
    CRegexpT re("\\d+");
    EXPECT_EQ(re.Match("abc123", 3).GetStart(), 3);
    EXPECT_EQ(re.Match("abc123", 5).GetStart(), 5);
    EXPECT_FALSE(re.Match("abc123", 7).IsMatched()); // after the end
    EXPECT_FALSE(re.Match("abc", 3).IsMatched());
    EXPECT_EQ(CRegexpT("").Match("abc", 3).GetStart(), 3); // the end itself is tried
    EXPECT_EQ(CRegexpT("foo").Match("xxfoofoo", 3).GetStart(), 5);
}

TEST(RegexMatcher, RightToLeft) {
    CRegexpT re("\\d+", RIGHTTOLEFT);
    MatchResultT m = re.Match("a12b345c");
    ASSERT_TRUE(m.IsMatched());
    EXPECT_EQ(m.GetStart(), 4);
    EXPECT_EQ(m.GetEnd(), 7);
    EXPECT_EQ(re.Match("a12b345c", 4).GetStart(), 1); // from position 4 leftwards
    CRegexpT groups("(\\w+) (\\w+)", RIGHTTOLEFT);
    MatchResultT g = groups.Match("one two three");
    EXPECT_EQ(g.GetStart(), 4);
    EXPECT_EQ(g.GetGroupStart(1), 4);
    EXPECT_EQ(g.GetGroupEnd(1), 7);
    EXPECT_EQ(g.GetGroupStart(2), 8);
    EXPECT_EQ(Find("a.*?", "xabcab", RIGHTTOLEFT), "ab");
    EXPECT_EQ(Find("^ab", "abab", RIGHTTOLEFT), "ab");
    EXPECT_EQ(Find("(a)x\\1", "axa bxb", RIGHTTOLEFT), kNone); // \1 is met before its group, right to left
    EXPECT_EQ(Find("\\1x(a)", "axa", RIGHTTOLEFT), "axa");
    EXPECT_EQ(Find("B", "abAB", RIGHTTOLEFT | IGNORECASE), "B");
    EXPECT_EQ(CRegexpT("b", RIGHTTOLEFT | IGNORECASE).Match("abAB").GetStart(), 3);
    EXPECT_EQ(Find("x[a-c]{2,}+", "xabcxab", RIGHTTOLEFT), "xab");
    EXPECT_EQ(Find("(?=b)\\w", "abc", RIGHTTOLEFT), "b"); // look-ahead still looks rightwards
}

TEST(RegexMatcher, ContextReusedAcrossSearches) {
    CRegexpT re("x*");
    CContext ctx;
    re.PrepareMatch("abc", 3, 0, &ctx);
    std::string seen;
    for (int i = 0; i < 10; ++i) {
        MatchResultT m = re.Match(&ctx);
        if (!m.IsMatched()) break;
        seen += std::to_string(m.GetStart());
    }
    EXPECT_EQ(seen, "0123"); // each empty match once, then the search ends
    CRegexpT a("a*");
    a.PrepareMatch("baac", 4, 0, &ctx);
    seen.clear();
    for (MatchResultT m = a.Match(&ctx); m.IsMatched(); m = a.Match(&ctx))
        seen += std::to_string(m.GetStart()) + "-" + std::to_string(m.GetEnd()) + " ";
    EXPECT_EQ(seen, "0-0 1-3 3-3 4-4 ");
}

TEST(RegexMatcher, HugeCountsAreCountedNotCopied) {
    EXPECT_EQ(Find("a{2147483647}", "aaa"), kNone);
    EXPECT_EQ(Find("(?:){2147483647}x", "x"), "x");
    EXPECT_EQ(Find("(a?){2000000000}b", "aab"), "aab");
    EXPECT_EQ(Find("(?:ab){1000000}", "abab"), kNone);
    std::string many(100000, 'a');
    EXPECT_EQ(Find("a{100000}", many + "b").size(), 100000u);
    EXPECT_EQ(Find("(?:a|b){100000}", many).size(), 100000u);
}

TEST(RegexMatcher, LongSubjectOnLineThreadStack) {
    std::string subject;
    for (int i = 0; i < 100000; ++i)
        subject += "ab";
    subject += 'c';
    EXPECT_TRUE(OnLineThreadStack([&] {
        // every repetition and alternative keeps its state on the context's own stacks
        bool all = Find("(a|b)*c", subject) == subject;
        all = all && Find("(?:ab|a)+?c", subject).size() == subject.size();
        all = all && Find("(?:(a)|b)+c", subject).size() == subject.size();
        all = all && Find("(?>a|b)*c", subject).size() == subject.size();
        all = all && Find("(?:a|b)*+c", subject).size() == subject.size();
        all = all && Find("\\A(?:a|b)*d", subject) == kNone;
        return all;
    }));
}

// A search that would run for minutes, or overflow the thread's stack, gives up with no match and a run-log line
// naming the pattern; it never reports a span it did not match.
class RegexGivingUp : public ::testing::Test {
protected:
    RegexGivingUp() : dir_("regexlimits"), log_("msg_log.txt", 0, true, true) { SetRunLog(&log_); }
    ~RegexGivingUp() override { SetRunLog(nullptr); }
    std::string Log() {
        log_.Flush();
        return TestDir::Read("msg_log.txt");
    }
    TestDir dir_;
    TagWriteLog log_;
};

TEST_F(RegexGivingUp, RunawayBacktrackingStopsAtTheStepLimit) {
    CRegexpT re("(a*)*b");
    // 2^28 ways to cut the a's before the c says no: abandoned after the step limit
    EXPECT_EQ(Group(re, std::string(28, 'a') + "c"), kNone);
    EXPECT_NE(Log().find("Regexp gave up (match limit), no match: (a*)*b"), std::string::npos);
    EXPECT_EQ(Group(re, "aaab"), "aaab"); // the limit is per search
}

TEST_F(RegexGivingUp, RecursionPastTheStackFailsTheWholeMatch) {
    const std::string subject = std::string(500, 'a') + std::string(500, 'b');
    std::string span;
    auto search = [&] {
        CRegexpT re("(a(?1)?b)");
        MatchResultT m = re.Match(subject.c_str());
        span = m.IsMatched() ? std::to_string(m.GetStart()) + ".." + std::to_string(m.GetEnd()) : kNone;
        return true;
    };
    ASSERT_TRUE(OnThreadStack(64u << 20, search));
    EXPECT_EQ(span, "0..1000");
    ASSERT_TRUE(OnThreadStack(128u << 10, search)); // too little stack for 500 levels: no match, not 12..988
    EXPECT_EQ(span, kNone);
    EXPECT_NE(Log().find("Regexp gave up (stack), no match: (a(?1)?b)"), std::string::npos);
    ASSERT_TRUE(OnLineThreadStack([] {
        std::string nested = std::string(3000, '(') + std::string(3000, ')');
        return Find("\\((?:[^()]|(?R))*\\)", nested) == kNone;
    }));
}

TEST(RegexMatcher, UnpreparedContextFindsNothing) {
    CRegexpT re("");
    CContext ctx;
    EXPECT_EQ(re.PrepareMatch("abc", 3, 0, nullptr), nullptr);
    EXPECT_FALSE(re.Match(&ctx).IsMatched());
    EXPECT_FALSE(re.Match(static_cast<CContext*>(nullptr)).IsMatched());
    EXPECT_EQ(re.Match(static_cast<const char*>(nullptr), 0).GetStart(), 0); // no text is the empty text
}
