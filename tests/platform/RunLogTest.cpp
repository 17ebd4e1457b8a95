#include "platform/Clock.h"
#include "platform/TagWriteLog.h"
#include "tests/support/LinePattern.h"
#include "tests/support/TestDir.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
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
    EXPECT_NE(log2.FileName(), first);
    EXPECT_LE(std::filesystem::file_size(first), 200u);
}

// The files of a dated log in name order (the order of a listing in the C locale) with their contents.
static std::vector<std::pair<std::string, std::string>> DatedFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : std::filesystem::directory_iterator("."))
        if (e.path().filename().string().rfind("msg_log", 0) == 0)
            files.emplace_back(e.path().filename().string(), TestDir::Read(e.path()));
    std::sort(files.begin(), files.end());
    return files;
}

// Every line of text, whole: a head and "]" (or the start and end lines).
static std::vector<std::string> WholeLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

static time_t LocalSecond(int hour, int minute, int second) {
    tm parts{};
    parts.tm_year = 2024 - 1900;
    parts.tm_mon = 4;
    parts.tm_mday = 1;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return mktime(&parts);
}

TEST(RunLog, EveryDatedFileStaysWithinTheLimitAtAnyRateAndTheNamesKeepTheOrder) {
    for (bool immediate : {false, true}) {
        SCOPED_TRACE(immediate ? "immediate" : "rings and the display tick");
        TestDir d("runlograte");
        VirtualClock clock(0, false);
        ScopedClock use(&clock);
        clock.SetWallTime(LocalSecond(9, 30, 0));
        const int32_t limit = 1000;
        {
            TagWriteLog log("msg_log.txt", limit, immediate, false);
            std::promise<void> written, done;
            std::thread other([&] {
                for (int i = 0; i < 30; ++i)
                    log.AddLine(("other " + std::to_string(i)).c_str());
                written.set_value();
                done.get_future().wait(); // its lines stay pending for the display tick
            });
            written.get_future().wait();
            for (int i = 0; i < 300; ++i)
                log.AddLine(("line " + std::to_string(i) + " " + std::string(size_t(i % 9) * 10, 'x')).c_str());
            log.Flush();
            // The next second's lines, more than one file takes: the switch is named after it.
            clock.Advance(1000);
            for (int i = 0; i < 25; ++i)
                log.AddLine(("next second " + std::to_string(i)).c_str());
            done.set_value();
            other.join();
        }
        auto files = DatedFiles();
        ASSERT_GT(files.size(), 20u);
        EXPECT_EQ(files[0].first, "msg_log20240501_093000.txt");
        EXPECT_EQ(files[1].first, "msg_log20240501_093000_001.txt");
        EXPECT_EQ(files[10].first, "msg_log20240501_093000_010.txt");
        auto next = std::find_if(files.begin(), files.end(),
                                 [](const auto& f) { return f.first == "msg_log20240501_093001.txt"; });
        ASSERT_NE(next, files.end());
        EXPECT_NE(WholeLines(next->second)[0].find("[next second "), std::string::npos);
        for (auto f = files.begin(); f != next; ++f)
            EXPECT_NE(f->first.find("_093000"), std::string::npos) << f->first;
        std::vector<std::string> all;
        for (const auto& [name, text] : files) {
            EXPECT_LE(text.size(), size_t(limit)) << name;
            EXPECT_EQ(text.back(), '\n') << name;
            for (const std::string& line : WholeLines(text))
                all.push_back(line);
        }
        ASSERT_EQ(all.size(), 2u + 30 + 300 + 25);
        EXPECT_EQ(all.front(), "System Start...");
        EXPECT_EQ(all.back(), "System Closed.");
        int mine = 0, others = 0;
        for (size_t i = 1; i + 1 < all.size(); ++i) {
            EXPECT_TRUE(MatchLinePattern("9999-99-99 99:99:99.999 0xh [*]", all[i].c_str())) << all[i];
            if (i + 26 >= all.size())
                EXPECT_NE(all[i].find("[next second " + std::to_string(i + 26 - all.size()) + "]"), std::string::npos);
            else if (all[i].find("[line ") != std::string::npos)
                EXPECT_NE(all[i].find("[line " + std::to_string(mine++) + " "), std::string::npos) << all[i];
            else
                others += all[i].find("[other ") != std::string::npos;
        }
        EXPECT_EQ(mine, 300);
        EXPECT_EQ(others, 30);
    }
}

TEST(RunLog, ALineLongerThanTheLimitHasAFileOfItsOwnAndAFixedNameStaysWithinIt) {
    TestDir d("runloglong");
    VirtualClock clock(0, false);
    ScopedClock use(&clock);
    clock.SetWallTime(LocalSecond(9, 30, 0));
    // An earlier run's full file of the same second is left as it is.
    TestDir::Write("msg_log20240501_093000.txt", std::string(150, 'o') + "\n");
    {
        TagWriteLog log("msg_log.txt", 150, true, false);
        log.AddLine("short");
        log.AddLine(std::string(127, 'L').c_str());
        log.AddLine("after");
    }
    auto files = DatedFiles();
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].second, std::string(150, 'o') + "\n");
    EXPECT_EQ(files[1].first, "msg_log20240501_093000_001.txt");
    EXPECT_EQ(WholeLines(files[1].second).size(), 2u) << files[1].second;
    EXPECT_EQ(WholeLines(files[2].second).size(), 1u) << files[2].second;
    EXPECT_GT(files[2].second.size(), 150u);
    EXPECT_NE(files[2].second.find(std::string(127, 'L') + "]\n"), std::string::npos);
    EXPECT_NE(files[3].second.find("[after]\nSystem Closed.\n"), std::string::npos);

    for (bool immediate : {false, true}) {
        TagWriteLog fixed(immediate ? "fixed_imm.txt" : "fixed.txt", 300, immediate, true);
        for (int i = 0; i < 100; ++i)
            fixed.AddLine(("fixed " + std::to_string(i)).c_str());
        fixed.Flush();
        const std::string text = TestDir::Read(fixed.FileName());
        EXPECT_LE(text.size(), 300u);
        EXPECT_NE(text.find("[fixed 99]\n"), std::string::npos);
    }
}

TEST(RunLog, AFileRemovedUnderTheLogIsStartedAgainAtTheNextTick) {
    TestDir d("runlogrm");
    for (bool fixed : {false, true}) {
        TagWriteLog log("msg_log.txt", 0, true, fixed);
        log.AddLine("before");
        std::filesystem::remove(log.FileName());
        log.Flush();
        log.AddLine("after");
        EXPECT_NE(TestDir::Read(log.FileName()).find("[after]"), std::string::npos) << log.FileName();
    }
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
