#include "media/TagEnNumber.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zz;
using Names = std::vector<std::string>;

static Names Words(int n) {
    Names v{"stale"};
    TheEnNumber().NumberToWords(n, v);
    return v;
}

TEST(TagEnNumber, ReadsGroupsWithAndOnlyAfterHundred) {
    EXPECT_EQ(Words(125), (Names{"1", "hundred", "and", "20", "5"}));
    EXPECT_EQ(Words(1005), (Names{"1", "thousand", "5"}));
    EXPECT_EQ(Words(105), (Names{"1", "hundred", "and", "5"}));
    EXPECT_EQ(Words(110), (Names{"1", "hundred", "and", "10"}));
    EXPECT_EQ(Words(999), (Names{"9", "hundred", "and", "90", "9"}));
    EXPECT_EQ(Words(21), (Names{"20", "1"}));
    EXPECT_EQ(Words(20), (Names{"20"}));
    EXPECT_EQ(Words(300), (Names{"3", "hundred"}));
    EXPECT_EQ(Words(1000000), (Names{"1", "million"}));
    EXPECT_EQ(Words(2000000000), (Names{"2", "billion"}));
}

TEST(TagEnNumber, HigherGroupsSurviveTheRecursion) {
    EXPECT_EQ(Words(1500000000), (Names{"1", "billion", "5", "hundred", "million"}));
    EXPECT_EQ(Words(2147483647), (Names{"2", "billion", "1", "hundred", "and", "40", "7", "million", "4", "hundred",
                                        "and", "80", "3", "thousand", "6", "hundred", "and", "40", "7"}));
    EXPECT_EQ(Words(12345), (Names{"12", "thousand", "3", "hundred", "and", "40", "5"}));
}

TEST(TagEnNumber, ZeroAndNegativeGiveNoNamesAndClearTheList) {
    Names v{"x"};
    EXPECT_EQ(TheEnNumber().NumberToWords(0, v), 0);
    EXPECT_TRUE(v.empty());
    v = {"x"};
    EXPECT_EQ(TheEnNumber().NumberToWords(-42, v), 0);
    EXPECT_TRUE(v.empty());
}

TEST(TagEnNumber, DigitsSkipOtherCharacters) {
    Names v{"x"};
    EXPECT_EQ(TheEnNumber().DigitsToWords("2a05", v), 3);
    EXPECT_EQ(v, (Names{"2", "0", "5"}));
    EXPECT_EQ(TheEnNumber().DigitsToWords("", v), 0);
    EXPECT_TRUE(v.empty());
}

TEST(TagEnNumber, SharedInstanceServesManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Names v;
            for (int i = 0; i < 2000; ++i) {
                TheEnNumber().NumberToWords(i * 7919 + t, v);
                for (auto& s : v)
                    if (s.empty()) ++bad;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}
