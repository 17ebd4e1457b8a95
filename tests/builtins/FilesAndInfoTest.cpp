// File times and system information where a script cannot set the scene: a file's write time, a call that has
// been connected for a while, a line without a call object.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>
#include <string>

#include "BuiltinCall.h"
#include "LineFixture.h"
#include "telephony/TagKvCall.h"

namespace zz {
namespace {

enum : int32_t { kFileLenTime = 209, kGetSysInfoVal = 271 };

// Sets the file's write time to the local time given.
void SetWriteTime(const char* path, int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    timeval tv[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    ASSERT_EQ(::utimes(path, tv), 0);
}

TEST(FileBuiltins, WriteTimesReadAsTheirPackedLocalForm) {
    TestDir dir("filetime");
    TestDir::Write(dir.path() / "a.wav", "1234567");
    TagVar name, size, time;
    name.SetStr("a.wav");
    SetWriteTime("a.wav", 2024, 3, 5, 10, 20, 8);
    EXPECT_EQ(test::RunBuiltin(kFileLenTime, nullptr, {&name, &size, &time}), 0);
    EXPECT_EQ(size.GetInt(), 7);
    EXPECT_STREQ(time.Str(), "20240305 10:20:08");
    // The packed form keeps seconds in twos.
    SetWriteTime("a.wav", 2024, 12, 31, 23, 59, 59);
    EXPECT_EQ(test::RunBuiltin(kFileLenTime, nullptr, {&name, &size, &time}), 0);
    EXPECT_STREQ(time.Str(), "20241231 23:59:58");
}

TEST(SysInfoBuiltins, ConnectedCallsGiveTalkAndConnectTimes) {
    test::LineFixture line;
    TagVar key, value;
    key.SetStr("connectedtime1");
    EXPECT_EQ(test::RunBuiltin(kGetSysInfoVal, &line.func, {&key, &value}), 0);
    EXPECT_EQ(value.GetInt(), 0);
    line.call.MarkConnected();
    line.call.connectTime = line.call.connectTime - 1000;
    EXPECT_EQ(test::RunBuiltin(kGetSysInfoVal, &line.func, {&key, &value}), 0);
    EXPECT_EQ(value.GetInt(), line.call.connectTime.load());
    key.SetStr("TALKTIME");
    EXPECT_EQ(test::RunBuiltin(kGetSysInfoVal, &line.func, {&key, &value}), 0);
    EXPECT_GE(value.GetInt(), 1000);
    line.call.blockValue = 3;
    key.SetStr("IsBlock");
    EXPECT_EQ(test::RunBuiltin(kGetSysInfoVal, &line.main, {&key, &value}), 0);
    EXPECT_EQ(value.GetInt(), 3);
    // Without a call object the block value is not stored at all.
    line.main.pKvCall = nullptr;
    value.SetStr("kept");
    EXPECT_EQ(test::RunBuiltin(kGetSysInfoVal, &line.main, {&key, &value}), 0);
    EXPECT_STREQ(value.Str(), "kept");
}

} // namespace
} // namespace zz
