// The shared append files: line prefixes, closing, idle files, and many lines writing at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>
#include <thread>

#include "LineFixture.h"
#include "NetPeers.h"
#include "builtins/BuiltinTable.h"
#include "builtins/services/TTxtAppend.h"
#include "platform/Clock.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

int32_t Append(TagTelBasic& prog, const char* file, TagVar value, int32_t mode) {
    TagVar name, m;
    name.SetStr(file);
    m.SetInt(mode);
    TagVar* args[] = {&name, &value, &m};
    return MakeBuiltinOper(205, args, 3, &prog, nullptr)->Run();
}

int32_t CloseFile(const char* file) {
    TagVar name;
    name.SetStr(file);
    TagVar* args[] = {&name};
    return MakeBuiltinOper(206, args, 1, nullptr, nullptr)->Run();
}

// Whether text starts with a time stamp "2026-12-09 15:42:09.123": its length, else 0.
size_t StampAt(std::string_view text) {
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd.ddd";
    if (text.size() < kShape.size()) return 0;
    for (size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != kShape[i]) return 0;
    return kShape.size();
}

TEST(AppendFiles, ModesGiveNoLineEndALineEndATimeAndTheLineNumber) {
    TestDir dir("append");
    test::LineFixture line(7);
    TagVar text, num;
    text.SetStr("a");
    num.SetInt(12);
    EXPECT_EQ(Append(line.func, "log.txt", text, 0), 0);
    EXPECT_EQ(Append(line.main, "log.txt", num, 1), 0);
    EXPECT_EQ(Append(line.main, "log.txt", text, 2), 0);
    EXPECT_EQ(Append(line.main, "log.txt", text, 3), 0);
    EXPECT_EQ(CloseFile("log.txt"), 0);
    EXPECT_EQ(CloseFile("log.txt"), -1);
    const std::string log = TestDir::Read("log.txt");
    std::string_view rest(log);
    ASSERT_EQ(rest.substr(0, 4), "a12\n") << log;
    rest.remove_prefix(4);
    size_t n = StampAt(rest);
    ASSERT_GT(n, 0u) << log;
    ASSERT_EQ(rest.substr(n, 5), " : a\n") << log;
    rest.remove_prefix(n + 5);
    n = StampAt(rest);
    ASSERT_GT(n, 0u) << log;
    EXPECT_EQ(rest.substr(n), " [7]: a\n") << log;
    EXPECT_EQ(Append(line.main, "no/such/dir/x.txt", text, 1), -1);
}

TEST(AppendFiles, AFileIdleElevenMinutesClosesAtTheNextAppendAndOpensAgain) {
    TestDir dir("append");
    VirtualClock clock(5000, false);
    ScopedClock scoped(&clock);
    TTxtAppend table;
    EXPECT_EQ(table.Append("a.txt", 1, "first", 1), 0);
    clock.Advance(5 * 60000);
    EXPECT_EQ(table.Append("b.txt", 1, "b", 1), 0);
    EXPECT_EQ(table.Count(), 2u);
    clock.Advance(6 * 60000);
    EXPECT_EQ(table.Append("b.txt", 1, "b", 1), 0); // a.txt has been idle 11 minutes, b.txt 6
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_EQ(table.Close("a.txt"), -1);
    EXPECT_EQ(table.Append("a.txt", 1, "second", 1), 0);
    EXPECT_EQ(TestDir::Read("a.txt"), "first\nsecond\n");
    EXPECT_EQ(table.Count(), 2u);
}

// 16 lines append to one file while others close it and the clock keeps making every file idle: no line is lost
// or torn.
TEST(AppendFiles, SixteenLinesAtOnceLoseAndTearNoLine) {
    TestDir dir("append");
    const int kLines = 16, kEach = 300;
    const std::string kPad = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghij";
    const std::string script = R"(pad = ")" + kPad + R"(";
j = 0;
for(i = 0; i < 300; i++)
{
    TextFileAppend("shared.txt", "L" + _lineNo + " " + i + " " + pad + pad, 3);
    j++;
    if(j == 40)
    {
        TextFileClose("shared.txt");
        j = 0;
    }
}
return(0);
)";
    std::vector<std::unique_ptr<test::ScriptLine>> lines;
    for (int i = 1; i <= kLines; ++i) {
        lines.push_back(std::make_unique<test::ScriptLine>(script, i));
        ASSERT_TRUE(lines.back()->Compiled());
    }
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    std::atomic<bool> done{false};
    std::thread ager([&] {
        while (!done) {
            clock.Advance(601000);
            std::this_thread::yield();
        }
    });
    for (auto& l : lines)
        l->Start();
    for (auto& l : lines)
        EXPECT_EQ(l->Join(), 0);
    done = true;
    ager.join();
    TheTxtAppend().Close("shared.txt");

    std::istringstream in(TestDir::Read("shared.txt"));
    std::map<int, int> next;
    std::string text;
    int count = 0;
    while (std::getline(in, text)) {
        // "stamp [line]: Lline i pad pad"
        const size_t n = StampAt(text);
        ASSERT_GT(n, 0u) << text;
        int stampLine = -1, lineNo = -2, i = -1, used = 0;
        ASSERT_EQ(std::sscanf(text.c_str() + n, " [%d]: L%d %d %n", &stampLine, &lineNo, &i, &used), 3) << text;
        EXPECT_EQ(stampLine, lineNo);
        EXPECT_EQ(text.substr(n + size_t(used)), kPad + kPad) << text;
        EXPECT_EQ(i, next[lineNo]++) << text; // each line's texts in its own order
        ++count;
    }
    EXPECT_EQ(count, kLines * kEach);
    EXPECT_EQ(next.size(), size_t(kLines));
}

} // namespace
} // namespace zz
