// The shared append files: line prefixes, closing, idle files, and many lines writing at once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <sstream>
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
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
    EXPECT_TRUE(
        std::regex_match(TestDir::Read("log.txt"), std::regex("a12\n" + stamp + " : a\n" + stamp + " \\[7\\]: a\n")))
        << TestDir::Read("log.txt");
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
    const std::string script =
        R"(pad = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghij";
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
    const std::regex whole(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\]: L(\d+) (\d+) 0123.*ij0123.*ghij)");
    std::map<int, int> next;
    std::string text;
    int count = 0;
    while (std::getline(in, text)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, whole)) << text;
        const int lineNo = std::stoi(m[2]);
        EXPECT_EQ(m[1], m[2]);
        EXPECT_EQ(std::stoi(m[3]), next[lineNo]++) << text; // each line's texts in its own order
        ++count;
    }
    EXPECT_EQ(count, kLines * kEach);
    EXPECT_EQ(next.size(), size_t(kLines));
}

} // namespace
} // namespace zz
