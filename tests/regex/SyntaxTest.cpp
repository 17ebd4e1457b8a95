// How pattern texts compile: each construct of the syntax, and where this dialect differs from PCRE.
#include <gtest/gtest.h>

#include <random>

#include "tests/regex/RegexTestUtil.h"

using namespace zz;
using namespace zz::regextest;

TEST(RegexSyntax, LiteralsEscapesAndQuoting) {
    EXPECT_EQ(Find("b.d", "abcde"), "bcd");
    EXPECT_EQ(Find("\\x41", "zA"), "A");
    EXPECT_EQ(Find("\\xg", "axg"), "xg");  // no hex digit: the letter x
    EXPECT_EQ(Find("\\u0141", "zA"), "A"); // low 8 bits of the code
    EXPECT_EQ(Find("\\x{263A}z", "\x3Az"), "\x3Az");
    EXPECT_EQ(Find("\\t\\n\\r\\f\\v\\a\\e", "\t\n\r\f\v\a\x1b"), "\t\n\r\f\v\a\x1b");
    EXPECT_EQ(Find("\\Qa.b\\E", "axb a.b"), "a.b");
    EXPECT_EQ(Find("\\Qa.b", "axb a.b"), "a.b"); // runs to the end
    EXPECT_EQ(Find("\\Uab\\E", "ab AB"), "AB");
    EXPECT_EQ(Find("\\LAB\\UC\\E", "ABc abc"), "abc"); // the first case mode stays
    EXPECT_EQ(Find("a\\", "a\\"), "a\\");              // a trailing backslash is literal
    EXPECT_EQ(Find("\\%\\-", "%-"), "%-");
    EXPECT_EQ(Find("a(?#comment)b", "ab"), "ab");
    EXPECT_EQ(Find("a b # comment\n c", "abc", EXTENDED), "abc");
    EXPECT_EQ(Find("[a b]+", "a b", EXTENDED), "a"); // blanks skipped inside classes too
}

TEST(RegexSyntax, Quantifiers) {
    EXPECT_EQ(Find("a{,3}", "aaa"), "");      // minimum and maximum 0: the empty element
    EXPECT_EQ(Find("a{3,1}", "aaaa"), "aaa"); // maximum raised to the minimum
    EXPECT_EQ(Find("a{2}", "aaa"), "aa");
    EXPECT_EQ(Find("a{2,}", "aaaa"), "aaaa");
    EXPECT_EQ(Find("a{1,2}", "aaaa"), "aa");
    EXPECT_EQ(Find("a{1,2}?", "aaaa"), "a");
    EXPECT_EQ(Find("a{2}?", "aaaa"), "aa"); // ? after {n} has no effect
    EXPECT_EQ(Find("a{x}b", "ab"), "b");    // braces without a number: {0}
    EXPECT_EQ(Find("ab*", "abbb"), "abbb"); // the quantifier takes the last literal only
    EXPECT_EQ(Find("ab+?", "abbb"), "ab");
    EXPECT_EQ(Find("ab?+b", "ab"), kNone);
    EXPECT_EQ(Find("a*+a", "aaa"), kNone);
    EXPECT_EQ(Find("a*?b", "aaab"), "aaab");
    EXPECT_EQ(Find("*a", "a"), "a"); // a quantifier with nothing before it repeats nothing
}

TEST(RegexSyntax, ClassesAndUnsignedRanges) {
    EXPECT_EQ(Find("[a-]+", "x-a-"), "-a-"); // a '-' before ']' makes no range
    EXPECT_EQ(Find("[^a-c]+", "abcxyz"), "xyz");
    EXPECT_EQ(Find("[abc", "xxcab"), "c"); // an open class runs to the end
    EXPECT_EQ(Find("[\\d_]+", "a1_2b"), "1_2");
    EXPECT_EQ(Find("[\\b]", "a\bb"), "\b");
    EXPECT_EQ(Find("[]a]", "a]"), kNone); // ']' first closes the class at once (unlike PCRE)
    // class ranges run over unsigned bytes 0..255: GBK high bytes lie above ASCII
    EXPECT_EQ(Find("[\\x80-\\xff]+", "ab\xb0\xa1z"), "\xb0\xa1");
    EXPECT_EQ(Find("[\\x00-\\xff]+", std::string("a\0\xff", 3)), std::string("a\0\xff", 3));
    EXPECT_EQ(Find("[\\x20-\\xff]+", "\x01"
                                     "ab\xb0\xa1\n"),
              "ab\xb0\xa1");
    EXPECT_EQ(Find("[a-\\xff]+", "Zab\xfe"), "ab\xfe");
    EXPECT_EQ(Find("[^\\x80-\\xff]+", "\xb0\xa1ok\xb0"), "ok");
    EXPECT_EQ(Find("[\\xff-a]", "\xb0"
                                "a"),
              kNone); // a reversed range holds nothing
    EXPECT_EQ(Find(".+", "\xb0\xa1"), "\xb0\xa1");
    EXPECT_EQ(Find("[[:alpha:]]+", "12ab3"), "ab");
    EXPECT_EQ(Find("[[:^digit:]x]+", "12ab3"), "ab");
    EXPECT_EQ(Find("[:digit:]+", "ab12"), "12"); // a POSIX class alone
    EXPECT_EQ(Find("[[:xdigit:]]+", "zz0fAg"), "0fA");
    EXPECT_EQ(Find("[[:blank:]]+", "a \tb"), " \t");
    EXPECT_EQ(Find("[[:punct:]]+", "ab!?c"), "!?");
    EXPECT_EQ(Find("[[:nosuch:]a]", "b"), kNone);      // an unknown name matches nothing
    EXPECT_EQ(Find("[[:alpha:]]", "\xb0\xa1"), kNone); // bytes from 0x80 up are in no POSIX class
}

TEST(RegexSyntax, TwoWhitespaceSets) {
    // left to right \s is blank, tab, CR, LF; right to left (look-behind) it adds form feed and vertical tab
    EXPECT_EQ(Find("\\s", "a\fb"), kNone);
    EXPECT_EQ(Find("\\s", "a\tb"), "\t");
    EXPECT_EQ(Find("(?<=\\s)b", "a\fb"), "b");
    EXPECT_EQ(Find("\\s", "a\fb", RIGHTTOLEFT), "\f");
    EXPECT_EQ(Find("\\S+", "\f\v", 0), "\f\v");
}

TEST(RegexSyntax, AnchorsAndFlagWord) {
    EXPECT_EQ(Find("^b", "a\nb"), kNone);
    EXPECT_EQ(Find("^b", "a\nb", MULTILINE), "b");
    // $ is the very end: not before a final line feed (unlike PCRE)
    EXPECT_EQ(Find("a$", "a\n"), kNone);
    EXPECT_EQ(Find("a$", "a\nb", MULTILINE), "a");
    EXPECT_EQ(Find("a\\Z", "a\r\n"), "a");
    EXPECT_EQ(Find("a\\Z", "a\n"), "a");
    EXPECT_EQ(Find("a\\z", "a\n"), kNone);
    EXPECT_EQ(Find("\\Aa", "ba"), kNone);
    EXPECT_EQ(Find("a.b", "a\nb"), kNone);
    EXPECT_EQ(Find("a.b", "a\nb", SINGLELINE), "a\nb");
    EXPECT_EQ(Find("\\bfoo\\b", "afoo foo"), "foo");
    EXPECT_EQ(Find("\\Boo", "foo"), "oo");
    EXPECT_EQ(Find("ABC", "xabc", IGNORECASE), "abc");
    // \G: everywhere without GLOBAL, only at the search's start with it
    EXPECT_EQ(Find("\\Gb", "ab"), "b");
    EXPECT_EQ(Find("(?g)\\Gb", "ab"), kNone);
    EXPECT_EQ(Find("(?g)\\Gb", "ab", 0, 1), "b");
    EXPECT_EQ(Find("\\Gb", "ab", GLOBAL), kNone);
}

TEST(RegexSyntax, InlineFlags) {
    EXPECT_EQ(Find("a(?i)b", "aB"), "aB");
    EXPECT_EQ(Find("a(?i)b", "AB"), kNone);
    EXPECT_EQ(Find("(?i)[a-c]+", "ABC"), kNone); // classes are not affected by ignore-case
    EXPECT_EQ(Find("(?i)\\w+", "AB"), "AB");
    EXPECT_EQ(Find("(?i:a)b", "Ab AB"), "Ab");
    EXPECT_EQ(Find("(a(?i)b|c)", "C"), "C");    // later alternatives of the group included
    EXPECT_EQ(Find("(?:(?i)a)b", "AB"), kNone); // ends with its group
    EXPECT_EQ(Find("(?i-i)a", "A"), kNone);
    EXPECT_EQ(Find("(?s).", "\n"), "\n");
    EXPECT_EQ(Find("(?m)^b", "a\nb"), "b");
    EXPECT_EQ(Find("(?I)X", "x"), "x");
}

TEST(RegexSyntax, GroupsAndNamesNumberedAfterUnnamed) {
    CRegexpT re("(?<n>x)(y)");
    EXPECT_EQ(re.MaxGroupNumber(), 2);
    EXPECT_EQ(re.GetNamedGroupNumber("n"), 2);
    EXPECT_EQ(re.GetNamedGroupNumber("N"), 2); // names ignore case
    EXPECT_EQ(Group(re, "xy", 1), "y");
    EXPECT_EQ(Group(re, "xy", 2), "x");
    CRegexpT same("(?'a'x)|(?P<A>y)");
    EXPECT_EQ(same.MaxGroupNumber(), 1); // one name, one number
    EXPECT_EQ(Group(same, "y", 1), "y");
    EXPECT_EQ(FindGroup("(?:a)(b)", "ab", 1), "b");
    EXPECT_EQ(Find("(?<w>a)\\k<w>\\k'w'", "aaa"), "aaa");
    EXPECT_EQ(FindGroup("(a(b", "ab", 2), "b"); // open groups run to the end
}

TEST(RegexSyntax, MalformedPatternsStillCompile) {
    EXPECT_EQ(Find("ab)c", "abc"), "ab"); // a stray ')' ends the pattern
    EXPECT_EQ(Find("", "abc"), "");
    EXPECT_EQ(Find("(", "abc"), "");
    EXPECT_EQ(Find("a{", "b"), ""); // braces without a number: a{0}
    EXPECT_EQ(Find("(?", "x"), "");
    EXPECT_EQ(Find("[", "x"), kNone);
    EXPECT_EQ(Find("\\k", "k"), "k");
    EXPECT_EQ(Find("x}", "x}"), "x}");
    EXPECT_EQ(Find("\\x{41", "A"), "A");
    EXPECT_EQ(Find("(?(", "a"), "");
    EXPECT_EQ(Find("(?R", "a"), kNone);
    CRegexpT none;
    EXPECT_FALSE(none.Match("abc").IsMatched());
    int n = 0;
    EXPECT_EQ(none.Replace("abc", 3, "x", 1, n), nullptr);
}

TEST(RegexSyntax, BackReferencesAreNeverOctal) {
    EXPECT_EQ(Find("\\12", "\n"), kNone); // group 12, which does not exist: no capture
    EXPECT_EQ(Find("(a)\\1", "aa"), "aa");
    EXPECT_EQ(Find("(a)\\10", "aa0"), kNone); // group 10, not group 1 followed by 0
    EXPECT_EQ(Find("(a)\\1234", "a"), kNone);
    EXPECT_EQ(Find("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)\\12", "abcdefghijkll"), "abcdefghijkll");
    EXPECT_EQ(Find("(a)\\1", "aA", IGNORECASE), "aA");
}

TEST(RegexSyntax, GroupsNestedDeeperThan64AreRefused) {
    auto nested = [](int depth) { return std::string(size_t(depth), '(') + "a" + std::string(size_t(depth), ')'); };
    CRegexpT ok(nested(64).c_str());
    EXPECT_TRUE(ok.IsCompiled());
    EXPECT_TRUE(ok.Match("a").IsMatched());
    CRegexpT deep(nested(65).c_str());
    EXPECT_FALSE(deep.IsCompiled()); // refused: nothing compiled, every search fails, no replacement is made
    EXPECT_FALSE(deep.Match("a").IsMatched());
    int len = 0;
    EXPECT_EQ(deep.Replace("a", 1, "b", 1, len), nullptr);
    EXPECT_TRUE(OnLineThreadStack([] {
        std::string deeper(5000, '(');
        deeper += "a|(?:b";
        deeper += std::string(5000, ')');
        CRegexpT re(deeper.c_str());
        return !re.IsCompiled() && !re.Match("a").IsMatched();
    }));
    std::string stacked = "a";
    for (int i = 0; i < 5000; ++i)
        stacked += "{1,2}";
    EXPECT_EQ(Find(stacked.c_str(), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa").size(), 16u);
    EXPECT_EQ(Find("(?:(?:(?:a)))", "a"), "a");
}

TEST(RegexSyntax, ArbitraryPatternTextsCompileAndMatchSafely) {
    // every byte string is a pattern; none may crash, read outside the subject or hang
    static const char pieces[] = "()[]{}?*+|^$.\\-:<>=!'#,0123456789abcRkPQELUxudDsSwWbBAZzG";
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::string pattern;
        for (int n = int(rng() % 24); n > 0; --n)
            pattern += (rng() % 8 == 0) ? char(rng() % 256) : pieces[rng() % (sizeof pieces - 1)];
        std::string subject;
        for (int n = int(rng() % 12); n > 0; --n)
            subject += "abc01 (){}\n\xb0"[rng() % 12];
        for (int flags : {0, int(RIGHTTOLEFT), IGNORECASE | MULTILINE | SINGLELINE | EXTENDED}) {
            CRegexpT re(pattern.data(), int(pattern.size()), flags);
            MatchResultT m = re.Match(subject.data(), int(subject.size()), -1);
            if (m.IsMatched()) {
                EXPECT_LE(0, m.GetStart());
                EXPECT_LE(m.GetStart(), m.GetEnd());
                EXPECT_LE(m.GetEnd(), int(subject.size()));
            }
            int len = 0;
            char* out = re.Replace(subject.data(), int(subject.size()), "<$1$&$+>", 8, len);
            ASSERT_NE(out, nullptr);
            CRegexpT::FreeString(out);
        }
    }
}
