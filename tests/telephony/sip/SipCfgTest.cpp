// SipCfg.ini: settings, comments and the account lines.
#include "platform/TagWriteLog.h"
#include "telephony/sip/TagSipCfg.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

using namespace zz;

namespace {

class SipCfgTest : public ::testing::Test {
protected:
    void SetUp() override {
        log = std::make_unique<TagWriteLog>("msg_log.txt", 0, true, true);
        SetRunLog(log.get());
        SetLogLevel(1);
    }
    void TearDown() override {
        SetRunLog(nullptr);
        log.reset();
        SetLogLevel(oldLevel);
    }
    std::string Log() { return TestDir::Read("msg_log.txt"); }

    TestDir dir{"sipcfg"};
    std::unique_ptr<TagWriteLog> log;
    int oldLevel = GetLogLevel();
};

TEST_F(SipCfgTest, SettingsKeepTheirDefaultsAndReadKeysWithoutRegardToCase) {
    TagSipCfg missing("no-such.ini");
    EXPECT_EQ(missing.sipIpAddr, "0.0.0.0");
    EXPECT_EQ(missing.sipIpPort, 5060);
    EXPECT_EQ(missing.rtpBasePort, 10500);
    EXPECT_EQ(missing.SdpAudioList, "8,18,3,98");
    EXPECT_EQ(missing.ReadCfgFile("no-such.ini"), -1);

    TestDir::Write("SipCfg.ini", "SIPIPADDR = 127.0.0.1 \t\n"
                                 "rtpbaseport=20000 // the RTP ports\n"
                                 "msrpLocalPath = /tmp/a/b // files\n"
                                 "SdpAudioList=0,8\r\n"
                                 "regId = 7\n"
                                 "outProxyAddr=localhost\n"
                                 "outProxyPort=5070\n"
                                 "no equals sign here\n"
                                 "unknownKey=1\n");
    TagSipCfg cfg("SipCfg.ini");
    EXPECT_EQ(cfg.sipIpAddr, "127.0.0.1");
    EXPECT_EQ(cfg.rtpBasePort, 20000);
    EXPECT_EQ(cfg.msrpLocalPath, "/tmp/a/b // files") << "a single slash before the two keeps the whole text";
    EXPECT_EQ(cfg.SdpAudioList, "0,8");
    EXPECT_EQ(cfg.regId, 7) << "regId is the stored single-account key, not an account line";
    EXPECT_EQ(cfg.outProxyAddr, "127.0.0.1") << "a host name is replaced by its address";
    EXPECT_EQ(cfg.outProxyPort, 5070);
    EXPECT_TRUE(cfg.regCtrl.Accounts().empty());
}

TEST_F(SipCfgTest, AccountLinesAreCheckedAndBuilt) {
    TagSipRegCtrl regs;
    EXPECT_EQ(regs.AddReg(0, "1,a,b,127.0.0.1,5060"), -1);
    EXPECT_EQ(regs.AddReg(3, "1,a,b,127.0.0.1"), -3);
    EXPECT_NE(Log().find("配置注册参数不正确, n=4"), std::string::npos);
    EXPECT_NE(Log().find("配置注册参数不正确, 注册id必须大于0, id=0"), std::string::npos);

    EXPECT_EQ(regs.AddReg(3, "1, acc 1 ,pw,127.0.0.1,5060"), 3);
    EXPECT_EQ(regs.AddReg(3, "1,x,pw,127.0.0.1,5060"), -2);
    const TagSipReg& a = regs.Accounts()[0];
    EXPECT_EQ(a.account, "acc1") << "blanks are dropped";
    EXPECT_EQ(a.aor, "sip:acc1@127.0.0.1") << "the domain is the server address";
    EXPECT_EQ(a.registrar, "sip:127.0.0.1");
    EXPECT_EQ(a.authUser, "acc1");
    EXPECT_EQ(a.server, "sip:127.0.0.1:5060");
    EXPECT_EQ(a.expires, 3600);
    EXPECT_TRUE(a.outboundProxy.empty());
    EXPECT_EQ(a.mustRegister, 1);

    EXPECT_EQ(regs.AddReg(4, "0,acc2,pw,127.0.0.1,5062,,,0,1,120"), 4);
    const TagSipReg& b = regs.Accounts()[1];
    EXPECT_EQ(b.expires, 3600) << "below 300 seconds";
    EXPECT_EQ(b.outboundProxy, "sip:127.0.0.1:5062") << "the registrar as proxy, on the server's port";
    EXPECT_EQ(regs.AddReg(5, "1,acc3,pw,127.0.0.1,5060,auth3,example.org,9,0,600"), 5);
    const TagSipReg& c = regs.Accounts()[2];
    EXPECT_EQ(c.aor, "sip:acc3@example.org");
    EXPECT_EQ(c.authUser, "auth3");
    EXPECT_EQ(c.field7, 9);
    EXPECT_EQ(c.expires, 600);
    EXPECT_EQ(regs.AddReg(6, "1,acc,pw,no-such-host.invalid,5060"), -5);
    EXPECT_EQ(regs.AddReg(7, "1,acc,pw,127.0.0.1,5060,a,b,1,2,3,4"), -3) << "more than ten fields";

    EXPECT_EQ(regs.FindByName("SIP:ACC1@127.0.0.1"), &regs.Accounts()[0]);
    EXPECT_EQ(regs.FindByName("auth3"), &regs.Accounts()[2]);
    EXPECT_EQ(regs.AccountState("nobody"), 0);
}

TEST_F(SipCfgTest, EncipheredPasswordsAreDeciphered) {
    // "secret" enciphered with RC4 under the key "acc1".
    EXPECT_EQ(DecipherPassword("^^d70bebbdb4a0", "acc1"), "secret");
    EXPECT_EQ(DecipherPassword("plain", "acc1"), "plain");
    EXPECT_EQ(DecipherPassword("^^x", "acc1"), "^^x") << "shorter than four characters: as it stands";
}

TEST_F(SipCfgTest, CommentsAndAccountKeysOfTheFile) {
    TestDir::Write("SipCfg.ini", "reg=1,a,b,127.0.0.1,5060\n"
                                 "REG2 = 1,two,pw,127.0.0.1,5060   // a comment\n"
                                 "reg2=1,again,pw,127.0.0.1,5060\n");
    TagSipCfg cfg("SipCfg.ini");
    ASSERT_EQ(cfg.regCtrl.Accounts().size(), 1u);
    EXPECT_EQ(cfg.regCtrl.Accounts()[0].account, "two");
    EXPECT_NE(Log().find("注册id已经存在, id=2"), std::string::npos);
}

} // namespace
