#include "platform/TagWriteLog.h"
#include "tests/support/LinePattern.h"
#include "tests/support/TestDir.h"

#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace zz;

static int CountLines(const std::string& s, const std::string& needle) {
    int n = 0;
    for (size_t p = 0; (p = s.find(needle, p)) != std::string::npos; ++p)
        ++n;
    return n;
}

TEST(RunLog, LineHasTheExactHeadAndIsCutAt127Characters) {
    TestDir d("runlog");
    {
        TagWriteLog log("msg_log.txt", 0, true, true);
        log.AddLine(std::string(200, 'x').c_str());
    }
    std::string s = TestDir::Read("msg_log.txt");
    size_t start = s.find("\n", 1) + 1;
    std::string line = s.substr(start, s.find('\n', start) - start);
    EXPECT_TRUE(MatchLinePattern(("9999-99-99 99:99:99.999 0xh [" + std::string(127, 'x') + "]").c_str(), line.c_str()))
        << line;
    EXPECT_EQ(s.rfind("\nSystem Start...\n", 0), 0u);
    EXPECT_NE(s.find("]\nSystem Closed.\n"), std::string::npos);
}

TEST(RunLog, AFullRingWritesItsOwnThreadsLinesOnly) {
    TestDir d("runlog41");
    TagWriteLog log("msg_log.txt", 0, false, true);
    std::promise<void> written, done;
    std::thread other([&] {
        log.AddLine("other thread");
        written.set_value();
        done.get_future().wait(); // keeps its line pending while this thread fills its ring
    });
    written.get_future().wait();
    for (int i = 0; i < 40; ++i)
        log.AddLine(("line " + std::to_string(i)).c_str());
    EXPECT_EQ(CountLines(TestDir::Read("msg_log.txt"), "line "), 0);
    log.AddLine("line 40");
    std::string s = TestDir::Read("msg_log.txt");
    EXPECT_EQ(CountLines(s, "line "), 40);
    EXPECT_EQ(CountLines(s, "other thread"), 0) << "another thread's ring is the display tick's to write";
    EXPECT_EQ(log.Flush(), 2);
    done.set_value();
    other.join();
}

TEST(RunLog, ImmediateModeWritesEachLineInOrderWithoutOtherThreadsLines) {
    TestDir d("runlogimm");
    TagWriteLog log("msg_log.txt", 0, true, true);
    std::promise<void> written, done;
    TagWriteLog quiet("quiet.txt", 0, false, true);
    std::thread other([&] {
        quiet.AddLine("pending elsewhere");
        written.set_value();
        done.get_future().wait();
    });
    written.get_future().wait();
    for (int i = 0; i < 100; ++i)
        log.AddLine(("n" + std::to_string(i)).c_str());
    std::string s = TestDir::Read("msg_log.txt");
    EXPECT_EQ(CountLines(s, " [n"), 100);
    EXPECT_LT(s.find("[n9]"), s.find("[n10]"));
    EXPECT_LT(s.find("[n98]"), s.find("[n99]"));
    EXPECT_EQ(log.Flush(), 0);
    EXPECT_EQ(TestDir::Read("quiet.txt").find("pending elsewhere"), std::string::npos);
    done.set_value();
    other.join();
}

TEST(RunLog, EndedThreadsLinesAreWrittenWithoutAFlush) {
    TestDir d("runlogend");
    TagWriteLog log("msg_log.txt", 0, false, true);
    std::thread([&] { log.AddLine("bye from a thread"); }).join();
    EXPECT_NE(TestDir::Read("msg_log.txt").find("bye from a thread]"), std::string::npos);
    EXPECT_EQ(log.Flush(), 0);
}

TEST(RunLog, FixedNameOverLimitIsRenamedToBakAtStart) {
    TestDir d("runlogbak");
    TestDir::Write("msg_log.txt", std::string(3 * 1024 * 1024, 'o'));
    {
        TagWriteLog log("msg_log.txt", 2 * 1048576, true, true);
        log.AddLine("fresh");
    }
    EXPECT_EQ(std::filesystem::file_size("msg_log.txt.bak"), 3u * 1024 * 1024);
    std::string s = TestDir::Read("msg_log.txt");
    EXPECT_LT(s.size(), 200u);
    EXPECT_NE(s.find("fresh]"), std::string::npos);
}

TEST(RunLog, DatedNameCarriesTheOpeningTimeAndSwitchesWhenFull) {
    TestDir d("runlogdated");
    TagWriteLog log("logs.d/msg_log.txt", 200, true, false);
    const char* name = "logs.d/msg_log99999999_999999.txt";
    EXPECT_EQ(log.Flush(), -1) << "folder does not exist yet";
    std::filesystem::create_directory("logs.d");
    TagWriteLog log2("logs.d/msg_log.txt", 200, true, false);
    EXPECT_TRUE(MatchLinePattern(name, log2.FileName().c_str())) << log2.FileName();
    std::string first = log2.FileName();
    for (int i = 0; i < 5; ++i)
        log2.AddLine("a line long enough to pass the limit soon");
    EXPECT_GT(std::filesystem::file_size(first), 200u);
}

TEST(RunLog, EntryPointsHonourTheLevel) {
    TestDir d("runloglevel");
    TagWriteLog log("msg_log.txt", 0, true, true);
    SetRunLog(&log);
    SetLogLevel(0);
    WriteRunLog("hidden");
    WriteRunLogAlways("always");
    RawLog("raw hidden");
    SetLogLevel(3);
    WriteRunLog("copied");
    SetLogLevel(0);
    SetRunLog(nullptr);
    std::string s = TestDir::Read("msg_log.txt");
    EXPECT_EQ(s.find("hidden"), std::string::npos);
    EXPECT_NE(s.find("[always]"), std::string::npos);
    EXPECT_NE(s.find("[copied]"), std::string::npos);
    std::string raw = TestDir::Read("RawLog.txt");
    EXPECT_NE(raw.find("[copied]\n"), std::string::npos);
    EXPECT_EQ(raw.find("raw hidden"), std::string::npos);
}

TEST(RunLog, LogsAreReadableByTheUserAndGroupOnly) {
    TestDir d("runlogmode");
    const mode_t umaskWas = umask(0);
    TestDir::Write("old_log.txt", "from an older run\n");
    chmod("old_log.txt", 0666);
    {
        TagWriteLog log("msg_log.txt", 0, true, true);
        log.AddLine("keys 1234#");
        TagWriteLog old("old_log.txt", 0, true, true);
        old.AddLine("keys 1234#");
        SetLogLevel(2);
        RawLog("keys 1234#");
        SetLogLevel(0);
    }
    umask(umaskWas);
    auto mode = [](const char* name) { return std::filesystem::status(name).permissions(); };
    using P = std::filesystem::perms;
    EXPECT_EQ(mode("msg_log.txt"), P(0640));
    EXPECT_EQ(mode("RawLog.txt"), P(0640));
    EXPECT_EQ(mode("old_log.txt"), P(0660));
}

TEST(RunLog, TimeStampHasTheDatabaseLogForm) {
    char buf[32];
    FormatTimeStamp(buf);
    EXPECT_TRUE(MatchLinePattern("99999999 99:99:99.999", buf)) << buf;
}
