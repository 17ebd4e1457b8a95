#include "media/Big5Text.h"
#include "platform/Gbk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zz;

// Literals are GBK bytes in this build.
static std::string Big5Of(const char* gbk) {
    std::string out;
    ConvertCodePage(gbk, "GBK", "CP950", out);
    return out;
}

TEST(IsBig5Text, CommonGbkIsNotBig5) {
    EXPECT_FALSE(IsBig5Text(std::string("中华人民共和国，你好 ABC 123")));
    EXPECT_FALSE(IsBig5Text(""));
    EXPECT_FALSE(IsBig5Text("plain ascii @~"));
}

TEST(IsBig5Text, LowTrailAfterOddHighRunIsBig5) {
    // 許 is A4 B3 in Big5 and 功 is A5 5C: a trail byte below 0x7F after one high byte.
    EXPECT_TRUE(IsBig5Text(Big5Of("成功")));
    EXPECT_TRUE(IsBig5Text("\xA5\x5C"));
    // After an even run the low byte is plain ASCII.
    EXPECT_FALSE(IsBig5Text("\xB0\xA1\x41"));
    // GBK extension characters with a low trail byte look the same.
    EXPECT_TRUE(IsBig5Text("\x81\x40"));
    // A byte outside both ranges ends the run.
    EXPECT_FALSE(IsBig5Text("\xA5 \x5C"));
    // Bytes after the terminating zero are not looked at.
    EXPECT_FALSE(IsBig5Text(std::string_view("ab\0\xA5\x5C", 5)));
}

TEST(Big5ToGbk, ConvertsToSimplifiedGbk) {
    std::string out = "stale";
    EXPECT_EQ(Big5ToGbk(out, Big5Of("中華民國電話號碼")), std::string("中华民国电话号码"));
    EXPECT_EQ(Big5ToGbk(out, Big5Of("歡迎光臨，請按1")), std::string("欢迎光临，请按1"));
    EXPECT_EQ(Big5ToGbk(out, "ABC 123"), "ABC 123");
}

TEST(Big5ToGbk, EmptyTextConvertsToEmpty) {
    std::string out = "stale";
    EXPECT_EQ(Big5ToGbk(out, ""), "");
}

TEST(Big5ToGbk, BrokenBytesBecomeQuestionMarks) {
    std::string out;
    Big5ToGbk(out, "A\xA4");
    EXPECT_EQ(out, "A?");
}

TEST(Big5ToGbk, LinesConvertAtOnce) {
    const std::string big5 = Big5Of("電話號碼");
    std::vector<std::thread> lines;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        lines.emplace_back([&] {
            std::string out;
            for (int i = 0; i < 50; ++i)
                if (Big5ToGbk(out, big5) != "电话号码") ++bad;
        });
    for (auto& th : lines)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}
