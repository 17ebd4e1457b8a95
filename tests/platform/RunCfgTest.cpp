#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "platform/audio/Audio.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace zz;

static std::string SourceFile(const std::string& path) {
    const char* src = std::getenv("ZZ_SOURCE_DIR");
    return std::string(src ? src : ".") + "/" + path;
}

static std::vector<int32_t> List(const std::string& s) {
    TagLineList l;
    ParseLineList(s, l);
    return l.lines;
}

TEST(LineList, RangeForms) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(List("0+9"), (V{1, 3, 5, 7, 9}));
    EXPECT_EQ(List("0*9"), (V{0, 2, 4, 6, 8}));
    EXPECT_EQ(List("3-3"), (V{3}));
    EXPECT_EQ(List("9-3"), V{});
    EXPECT_EQ(List("1,5-7"), (V{1, 5, 6, 7}));
    EXPECT_EQ(List("5-"), (V{5}));
}

TEST(LineList, HugeRangesAreCutAt5120Lines) {
    TagLineList l;
    ParseLineList("0-2147483647", l);
    EXPECT_EQ(l.lines.size(), 5120u);
    EXPECT_TRUE(l.truncated);
    EXPECT_EQ(l.lines.back(), 5119);
    ParseLineList(std::string(10000, '9') + ",1", l);
    EXPECT_EQ(l.lines.size(), 2u);
}

TEST(CfgLine, BlanksCommentsAndEquals) {
    std::string k, v;
    ASSERT_TRUE(SplitCfgLine("FORM_TITLE = My  Title // note\r\n", k, v));
    EXPECT_EQ(k, "FORM_TITLE");
    EXPECT_EQ(v, "MyTitle");
    ASSERT_TRUE(SplitCfgLine("LOG_FILE=/var/log//x.txt", k, v));
    EXPECT_EQ(v, "/var/log//x.txt");
    EXPECT_FALSE(SplitCfgLine("no equals here", k, v));
}

class ReadCfg : public ::testing::Test {
protected:
    TestDir dir{"cfg"};
    TagRunCfg cfg;
    int Read(const std::string& text) {
        TestDir::Write("ZuZodRun.cfg", text);
        return TagRunCfg::ReadCfgFile("ZuZodRun.cfg", &cfg);
    }
    void TearDown() override {
        SetLogLevel(0);
        SetDbMaxConn(0);
        SetDbBitfieldIsDigit(false);
        SetMsgListLimit(2048);
    }
};

TEST_F(ReadCfg, DefaultsStandWhenKeysAreMissing) {
    EXPECT_EQ(Read("// nothing\n"), 0);
    EXPECT_EQ(cfg.virLines, 2);
    EXPECT_EQ(cfg.monitorPort, 2004);
    EXPECT_EQ(cfg.loadDelay, 125);
    EXPECT_EQ(cfg.dispDelay, 500);
    EXPECT_EQ(cfg.logFile, "msg_log.txt");
    EXPECT_EQ(cfg.logSize, 2100000);
    EXPECT_EQ(cfg.title[0], "\xD3\xC3\xBB\xA7\xCF\xFB\xCF\xA2"
                            "1"); // 用户消息1 in GBK
}

TEST_F(ReadCfg, ClampsAndTruthWords) {
    EXPECT_EQ(Read("log_size=1\nDISP_DELAY=50\nLOAD_DELAY=0\nCOL_GROUP_NUM=3\nCOL_GROUP_NUM=11\n"
                   "MONITOR_MAX_CONN=-1\nIS_WRITE_LOG=3\nIS_SHOW_FORM=no\nIS_IMMEDIATE_LOG=false\n"
                   "LANGUAGE_TYPE=en\nIS_DISP_SENTE=note\nDB_MAX_CONN=4\nDB_BITFIELD_IS_DIGIT=yes\n"
                   "MAX_MSG_NUM=99\nFORM_TITLE=Zu Zod\nMONITOR_PORT=0\n"),
              0);
    EXPECT_EQ(cfg.logSize, 2097152);
    EXPECT_EQ(cfg.dispDelay, 100);
    EXPECT_EQ(cfg.loadDelay, 5);
    EXPECT_EQ(cfg.colGroups, 3);
    EXPECT_EQ(cfg.monitorMaxConn, -1);
    EXPECT_EQ(cfg.writeLog, 3);
    EXPECT_EQ(GetLogLevel(), 3);
    EXPECT_EQ(cfg.showForm, 0);
    EXPECT_EQ(cfg.immediateLog, 0);
    EXPECT_EQ(cfg.language, 1);
    EXPECT_EQ(cfg.dispSentence, 2);
    EXPECT_EQ(DbMaxConn(), 4);
    EXPECT_TRUE(DbBitfieldIsDigit());
    EXPECT_EQ(MsgListLimit(), 99);
    EXPECT_EQ(cfg.formTitle, "ZuZod");
    EXPECT_EQ(cfg.quitEventName, "ZuZod Quit");
    EXPECT_EQ(cfg.monitorPort, 2004);
    EXPECT_EQ(Read("LOG_SIZE=500\nDISP_DELAY=20000\n"), 0);
    EXPECT_EQ(cfg.logSize, 80 * 1048576);
    EXPECT_EQ(cfg.dispDelay, 15000);
}

TEST_F(ReadCfg, MistakesAmongGoodLinesAreNamedWithFileAndLineAndTheDefaultsStand) {
    TestDir::Write("my.cfg", "FORM_TITLE=Demo\n7demo.kvs\n8-x=demo.kvs\n// comment\n\nBOGUS_KEY=1\nMONITOR_PORT=abc\n"
                             "IS_WRITE_LOG=maybe\nLOG_SIZE=500\nCOL_GROUP_NUM=11\nLOAD_DELAY=2x\n9-3=a.kvs\n"
                             "LANGUAGE_TYPE=1\nIS_SHOW_FORM=no\nIS_IMMEDIATE_LOG=false\nMAX_MSG_NUM=99999999999\n"
                             "3-5=a.kvs\nSOUND_OUT_DEVICE=null\nVIR_LINES_NUM=4\n");
    EXPECT_EQ(TagRunCfg::ReadCfgFile("my.cfg", &cfg), 0);
    const std::vector<std::string> expected = {
        "my.cfg:2: no '=' in \"7demo.kvs\"; line ignored",
        "my.cfg:3: line list \"8-x\" is not line numbers and ranges (as in 0-3,7); it names no line",
        "my.cfg:6: unknown key BOGUS_KEY ignored",
        "my.cfg:7: MONITOR_PORT=abc is not a number; 2004 kept",
        "my.cfg:8: IS_WRITE_LOG=maybe is not yes, no or a number; 0 used",
        "my.cfg:9: LOG_SIZE=500 is above 80; 80 used",
        "my.cfg:10: COL_GROUP_NUM=11 is outside 1-10; 1 kept",
        "my.cfg:11: LOAD_DELAY=2x is not a number; 5 used",
        "my.cfg:12: line list \"9-3\" names no line",
        "my.cfg:13: LANGUAGE_TYPE=1 is not EN or CN; Chinese used",
        "my.cfg:16: MAX_MSG_NUM=99999999999 is out of range; 2147483647 used",
    };
    EXPECT_EQ(cfg.warnings, expected);
    EXPECT_EQ(cfg.monitorPort, 2004);
    EXPECT_EQ(cfg.writeLog, 0);
    EXPECT_EQ(cfg.logSize, 80 * 1048576);
    EXPECT_EQ(cfg.loadDelay, 5);
    EXPECT_EQ(cfg.virLines, 4);
    EXPECT_EQ(cfg.badLines, 1);
    EXPECT_EQ(cfg.lineLists, 3);
    zz::ResetAudioDeviceNames();
    // The demo's own configuration has nothing to say.
    ASSERT_EQ(TagRunCfg::ReadCfgFile(SourceFile("examples/ZuZodRun.cfg"), &cfg), 0);
    EXPECT_EQ(cfg.warnings, std::vector<std::string>{});
}

TEST_F(ReadCfg, OverlappingListsAreRefusedNamingTheFileAndTheLines) {
    std::string said;
    SetMessageSink([&](const std::string& text, const std::string&) { said += text + "\n"; });
    EXPECT_EQ(Read("VIR_LINES_NUM=7\n1-8=a.kvs\n2,4,6=b.kvs\nVIR_LINES_NUM=9\n"), -3);
    EXPECT_EQ(cfg.virLines, 7);
    TestDir::Write("b.cfg", "0=z.kvs\n3-5=a.kvs\n4-6,0,9,9=b.kvs\n");
    EXPECT_EQ(TagRunCfg::ReadCfgFile("b.cfg", &cfg), -3);
    SetMessageSink(nullptr);
    EXPECT_EQ(said, "Error : ZuZodRun.cfg : line lists overlap: lines 2, 4, 6 are in both 1-8=a.kvs (line 2) and "
                    "2,4,6=b.kvs (line 3)\n"
                    "Error : b.cfg : line lists overlap: line 0 is in both 0=z.kvs (line 1) and 4-6,0,9,9=b.kvs "
                    "(line 3); lines 4-5 are in both 3-5=a.kvs (line 2) and 4-6,0,9,9=b.kvs (line 3); line 9 is "
                    "twice in 4-6,0,9,9=b.kvs (line 3)\n");
    EXPECT_EQ(TagRunCfg::ReadCfgFile("missing.cfg", &cfg), -2);
    EXPECT_EQ(TagRunCfg::ReadCfgFile("ZuZodRun.cfg", nullptr), -1);
}

TEST_F(ReadCfg, OverlongLinesAreIgnoredWhole) {
    EXPECT_EQ(Read("TITLE1=" + std::string(600, 'x') + "=VIR_LINES_NUM=5\nTITLE2=ok\n"), 0);
    EXPECT_EQ(cfg.title[1], "ok");
    EXPECT_EQ(cfg.virLines, 2);
}

TEST_F(ReadCfg, SoundDeviceNamesComeFromTheFile) {
    EXPECT_EQ(Read("SOUND_OUT_DEVICE=plughw:1\nSOUND_IN_DEVICE3=hw:2\n"), 0);
    EXPECT_EQ(zz::AudioOutDeviceName(7), "plughw:1");
    EXPECT_EQ(zz::AudioInDeviceName(3), "hw:2");
    zz::ResetAudioDeviceNames();
}
