#include "LineFakes.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace zz;
using namespace zz::test;

namespace {

struct Manager {
    explicit Manager(const std::string& cfgText, const char* file = "ZuZodRun.cfg") {
        TestDir::Write("ZuZodRun.cfg", cfgText);
        drive = std::make_unique<TagTelDrive>(file, &cfg);
    }
    TagRunCfg cfg;
    std::unique_ptr<TagTelDrive> drive;
};

std::string Messages;

struct CaptureMessages {
    CaptureMessages() {
        Messages.clear();
        SetMessageStderr(false);
        SetMessageSink([](const std::string& t, const std::string& c) { Messages += c + ": " + t + "\n"; });
    }
    ~CaptureMessages() {
        SetMessageSink(nullptr);
        SetMessageStderr(true);
    }
};

} // namespace

TEST(LineTable, ListsCardSipAndVirtualLinesByteForByte) {
    TestDir dir("linestable");
    ScopedDrivers drivers(6, 2, 2);
    Manager m("IS_WRITE_LOG=0\n");
    ASSERT_EQ(m.drive->status, 0);
    EXPECT_EQ(m.drive->LineCount(), 10);
    const std::string expected = "linesCount: 10\n"
                                 "线路号  类型  名称\n"
                                 "------------------------------------\n"
                                 "     0  A_EX  Trunk0\n"
                                 "     1  A_EX  Trunk1\n"
                                 "     2  A_EX  Trunk2\n"
                                 "------------------------------------\n"
                                 "     3  A_IN  Trunk3\n"
                                 "------------------------------------\n"
                                 "     4  A_EX  Trunk4\n"
                                 "     5  A_EX  Trunk5\n"
                                 "------------------------------------\n"
                                 "     6  SIP   SIP:0\n"
                                 "     7  SIP   SIP:1\n"
                                 "------------------------------------\n"
                                 "     8  VIR   VirtualLine0\n"
                                 "     9  VIR   VirtualLine1\n"
                                 "==============================================\n"
                                 "线路统计：\n"
                                 "0-2 = A_EX (3)\n"
                                 "4-5 = A_EX (2)\n"
                                 "3-3 = A_IN (1)\n"
                                 "6-7 = SIP  (2)\n"
                                 "8-9 = VIR  (2)\n"
                                 "==============================================\n";
    std::string got = TestDir::Read("LinesList.txt");
    EXPECT_EQ(got, expected);
    // The header is GBK on disk.
    const unsigned char head[] = {0xCF, 0xDF, 0xC2, 0xB7, 0xBA, 0xC5};
    ASSERT_GT(got.size(), 15u + sizeof head);
    EXPECT_EQ(0, std::memcmp(got.data() + 15, head, sizeof head));
}

TEST(LineTable, LinesAreNumberedDriverByDriverAndGetCallTellsTheKind) {
    TestDir dir("linesgetcall");
    ScopedDrivers drivers(4, 2, 2);
    SetLogLevel(1);
    TagWriteLog log("run.txt", 0, true, true);
    SetRunLog(&log);
    Manager m("IS_WRITE_LOG=1\n");
    uint8_t kind = 7;
    ASSERT_NE(m.drive->GetCall(0, kind), nullptr);
    EXPECT_EQ(kind, kDriveCard);
    EXPECT_EQ(m.drive->GetCall(5, kind), m.drive->Line(5)->call.get());
    EXPECT_EQ(kind, kDriveSip);
    EXPECT_EQ(m.drive->GetCall(6, kind)->lineKind, kLineVirtual);
    EXPECT_EQ(kind, kDriveVirtual);
    EXPECT_EQ(m.drive->GetCall(8, kind), nullptr);
    EXPECT_EQ(kind, kDriveNone);
    EXPECT_EQ(m.drive->GetCall(-1, kind), nullptr);
    m.drive.reset();
    SetRunLog(nullptr);
    SetLogLevel(0);
    EXPECT_NE(TestDir::Read("run.txt").find("TagTelDrive::GetCall(ch=8): pPhyCard->telCount=4, pSipCard->telCount=2, "
                                            "pVirCard->telCount=2]"),
              std::string::npos);
}

TEST(LineTable, TotalLinesLimitCutsTheCountAndTheListing) {
    TestDir dir("linestotal");
    ScopedDrivers drivers(4, 2, 2);
    Manager m("TOTAL_LINES_NUM=3\n");
    EXPECT_EQ(m.drive->LineCount(), 3);
    EXPECT_EQ(m.drive->Line(3), nullptr);
    uint8_t kind;
    EXPECT_NE(m.drive->GetCall(7, kind), nullptr); // made, only unused
    std::string list = TestDir::Read("LinesList.txt");
    EXPECT_EQ(list.rfind("linesCount: 3\n", 0), 0u);
    EXPECT_NE(list.find("     2  A_EX  Trunk2\n"), std::string::npos);
    EXPECT_EQ(list.find("Trunk3"), std::string::npos);
    EXPECT_NE(list.find("0-2 = A_EX (3)\n"), std::string::npos);
}

TEST(LineTable, UnreadableConfigurationMakesNoDriversAndNoLines) {
    TestDir dir("linesnocfg");
    CaptureMessages cap;
    ScopedDrivers drivers(4, 2, 2);
    TagRunCfg cfg;
    TagTelDrive d("missing.cfg", &cfg);
    EXPECT_EQ(d.status, -100);
    EXPECT_EQ(d.LineCount(), 0);
    uint8_t kind;
    EXPECT_EQ(d.GetCall(0, kind), nullptr);
    EXPECT_FALSE(std::filesystem::exists("LinesList.txt"));
    EXPECT_EQ(Messages, "Karvelian System: \"missing.cfg\" File Open Error.\n");
}

TEST(LineTable, CountsLinesByKindAndCallState) {
    TestDir dir("linescount");
    ScopedDrivers drivers(8, 2, 3); // trunks 0-7 with extensions at 3 and 7
    Manager m("");
    int32_t ex = -1, in = -1, vir = -1, other = -1;
    EXPECT_EQ(m.drive->GetConnectedNum(ex, in, vir, other), 0);
    EXPECT_EQ(ex + in + vir + other, 0);
    EXPECT_EQ(m.drive->GetLinesNum(ex, in, vir, other), 13);
    EXPECT_EQ(ex, 6);
    EXPECT_EQ(in, 2);
    EXPECT_EQ(vir, 3);
    EXPECT_EQ(other, 2);
    m.drive->Line(0)->call->callState = kCallConnected;
    m.drive->Line(3)->call->callState = kCallConnected;
    m.drive->Line(9)->call->callState = kCallConnected;
    m.drive->Line(1)->call->callState = kCallDialing;
    m.drive->Line(8)->call->callState = kCallDialing;
    EXPECT_EQ(m.drive->GetConnectedNum(ex, in, vir, other), 3);
    EXPECT_EQ(ex, 1);
    EXPECT_EQ(in, 1);
    EXPECT_EQ(other, 1);
    ex = 10, other = 20;
    EXPECT_EQ(m.drive->GetIdleNum(ex, other), 32); // adds to what the caller holds
    EXPECT_EQ(ex, 11);
    EXPECT_EQ(other, 21);

    // Talk time and block state need a program on the line.
    uint32_t talk = 99, since = 99;
    EXPECT_EQ(m.drive->GetTalkTime(0, talk, since), 0);
    EXPECT_EQ(m.drive->GetBlockState(0), -1);
    EXPECT_EQ(m.drive->GetBlockState(99), -1);
    FakePrograms programs;
    SetLinePrograms(&programs);
    TagTelLine* line = m.drive->Line(0);
    line->program = programs.Build("wait.kvs", 0, line->call.get());
    line->call->connectTime = CalendarNow() - 42;
    line->call->blockValue = 3;
    EXPECT_EQ(m.drive->GetTalkTime(0, talk, since), 1);
    EXPECT_GE(talk, 42u);
    EXPECT_LE(talk, 44u);
    EXPECT_EQ(since, uint32_t(line->call->connectTime.load()));
    EXPECT_EQ(m.drive->GetBlockState(0), 3);
    EXPECT_EQ(m.drive->GetReloadNum(), 0);
    programs.SetReload(line->program, true);
    EXPECT_EQ(m.drive->GetReloadNum(), 1);
    m.drive.reset(); // frees the program it finds in the entry
    EXPECT_EQ(programs.Live(), 0u);
    EXPECT_EQ(programs.badFrees, 0);
    SetLinePrograms(nullptr);
}

TEST(LineTable, TypeTags) {
    const char* want[] = {"VIR ", "A_EX", "A_IN", "REC ", "DIG ", "H323", "SIP ", "VOIP", "FAX "};
    for (int8_t k = 0; k <= 8; ++k)
        EXPECT_STREQ(TagTelDrive::GetLineTypeName(k), want[k]);
    EXPECT_STREQ(TagTelDrive::GetLineTypeName(9), "OTH ");
    EXPECT_STREQ(TagTelDrive::GetLineTypeName(-1), "OTH ");
}

TEST(LineTable, DefaultVirtualLinesAreBaseCallsNamedInTheConfiguredLanguage) {
    TestDir dir("linesvir");
    {
        Manager m("VIR_LINES_NUM=2\nLANGUAGE_TYPE=EN\n");
        ASSERT_EQ(m.drive->LineCount(), 2);
        EXPECT_STREQ(m.drive->Line(1)->name, "VirtualLine1#");
        EXPECT_EQ(m.drive->Line(1)->call->lineKind, kLineVirtual);
        EXPECT_EQ(m.drive->Line(1)->call->Name(), "VirtualLine1#");
    }
    {
        Manager m("VIR_LINES_NUM=3\n");
        ASSERT_EQ(m.drive->LineCount(), 3);
        EXPECT_STREQ(m.drive->Line(2)->name, "虚拟线路2#");
    }
    {
        Manager m("VIR_LINES_NUM=-4\n");
        EXPECT_EQ(m.drive->status, 0);
        EXPECT_EQ(m.drive->LineCount(), 0);
    }
    {
        // More than any line list can address is cut, not allocated.
        Manager m("VIR_LINES_NUM=2147483647\n");
        EXPECT_EQ(m.drive->LineCount(), 5120);
    }
}

TEST(LineTable, DatabaseLibrariesLoadAtConstructionAndUnloadAtDestructionInOrder) {
    TestDir dir("linesdb");
    std::string calls;
    auto rec = [&](const char* name) { return [&calls, name] { calls += std::string(name) + " "; }; };
    SetDbLibraries({rec("MySql"), rec("TqrDb"), rec("DbLib"), rec("-TqrDb"), rec("-MySql"), rec("-DbLib")});
    {
        Manager m("VIR_LINES_NUM=1\n");
        EXPECT_EQ(calls, "MySql TqrDb DbLib ");
    }
    EXPECT_EQ(calls, "MySql TqrDb DbLib -TqrDb -MySql -DbLib ");
    calls.clear();
    {
        CaptureMessages cap;
        TagRunCfg cfg;
        TagTelDrive d("missing.cfg", &cfg);
    }
    EXPECT_EQ(calls, "MySql TqrDb DbLib "); // a manager that never started unloads nothing
    SetDbLibraries({});
}
