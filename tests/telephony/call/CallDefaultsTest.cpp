#include "platform/TagWriteLog.h"
#include "telephony/TagKvCall.h"
#include "tests/support/LinePattern.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <functional>

using namespace zz;

namespace {

struct Case {
    const char* op;
    int expected;
    std::function<int(TagKvCall&)> run;
};

// Every operation whose base answer is a plain result, with the arguments a builtin would pass.
std::vector<Case> PlainResults() {
    static std::string s1, s2, s3, s4;
    static int32_t i1, i2;
    static std::vector<int32_t> v1, v2, v3;
    return {
        {"SetCharge", 1, [](TagKvCall& c) { return c.SetCharge(1); }},
        {"Answer", 7, [](TagKvCall& c) { return c.Answer(7); }},
        {"SetLineParam", 0, [](TagKvCall& c) { return c.SetLineParam(5); }},
        {"PlayMemory", 0, [](TagKvCall& c) { return c.PlayMemory(nullptr, 0, 0, 0, 1); }},
        {"Record", 0, [](TagKvCall& c) { return c.Record("a.wav", 10, 1); }},
        {"SpyRec", 0, [](TagKvCall& c) { return c.SpyRec("a.wav", 10); }},
        {"GetKeys", 0, [](TagKvCall& c) { return c.GetKeys(s1, 4, 5, '#'); }},
        {"SetKeys", 0, [](TagKvCall& c) { return c.SetKeys("123"); }},
        {"KeysLen", 0, [](TagKvCall& c) { return c.KeysLen(); }},
        {"Reserved28", 0, [](TagKvCall& c) { return c.Reserved28(); }},
        {"Reserved29", 0, [](TagKvCall& c) { return c.Reserved29(); }},
        {"SendFax", 0, [](TagKvCall& c) { return c.SendFax("f.tif"); }},
        {"RecvFax", 0, [](TagKvCall& c) { return c.RecvFax("f.tif"); }},
        {"TxtSpeakToFile", 0, [](TagKvCall& c) { return c.TxtSpeakToFile("hi", "a.wav", 0, 0); }},
        {"LinkTo", 0, [](TagKvCall& c) { return c.LinkTo(3, 0); }},
        {"UnlinkTo", 0, [](TagKvCall& c) { return c.UnlinkTo(3, 0); }},
        {"UnlinkAll", 0, [](TagKvCall& c) { return c.UnlinkAll(); }},
        {"ListenTo", 0, [](TagKvCall& c) { return c.ListenTo(3, 0); }},
        {"GetLinkList", 0, [](TagKvCall& c) { return c.GetLinkList(v1, v2, v3); }},
        {"SetBreak", 0, [](TagKvCall& c) { return c.SetBreak(0); }},
        {"Dial", 0, [](TagKvCall& c) { return c.Dial("8001"); }},
        {"ImSend", 0, [](TagKvCall& c) { return c.ImSend("sip:a", "text/plain", "hi", 2); }},
        {"ImTest", 0, [](TagKvCall& c) { return c.ImTest(); }},
        {"ImRead", 0, [](TagKvCall& c) { return c.ImRead(s1, s2, s3, s4); }},
        {"ImRecv", 0, [](TagKvCall& c) { return c.ImRecv(s1, i1); }},
        {"ImMsgGetField", 0, [](TagKvCall& c) { return c.ImMsgGetField(1, "From", "", s1); }},
        {"ImMakeAns", 0, [](TagKvCall& c) { return c.ImMakeAns(1, 200, "", "", "", ""); }},
        {"ImMsgFree", 0, [](TagKvCall& c) { return c.ImMsgFree(1); }},
        {"ImMakeReq", 0,
         [](TagKvCall& c) {
             return c.ImMakeReq({"", "", "", "", "", "", "", ""}, s1);
         }},
        {"ImFileSend", 0, [](TagKvCall& c) { return c.ImFileSend("f", s1, i1, s2, i2, s3); }},
        {"ImFileRecv", 0, [](TagKvCall& c) { return c.ImFileRecv(1, "", 2, i1, s1, s2, s3, i2, s4); }},
        {"ImFileCheck", 0, [](TagKvCall& c) { return c.ImFileCheck(1, i1, i2); }},
        {"ImFileEnd", 0, [](TagKvCall& c) { return c.ImFileEnd(1); }},
        {"ImFileProcAnswer", 0, [](TagKvCall& c) { return c.ImFileProcAnswer("o"); }},
        {"MakeRing", 0, [](TagKvCall& c) { return c.MakeRing("8001"); }},
        {"TransferTo", 0, [](TagKvCall& c) { return c.TransferTo("8001"); }},
        {"LinkMedia", 0, [](TagKvCall& c) { return c.LinkMedia(&c); }},
        {"StartRtp", 0, [](TagKvCall& c) { return c.StartRtp(); }},
        {"EndRtp", 0, [](TagKvCall& c) { return c.EndRtp(); }},
        {"GetCallType", 0, [](TagKvCall& c) { return c.GetCallType(); }},
        {"SendFskMsg", 0, [](TagKvCall& c) { return c.SendFskMsg(1, "abc", 0); }},
        {"SipGetDestAddr", -1, [](TagKvCall& c) { return c.SipGetDestAddr("x", s1); }},
        {"SipGetAccAddr", -1, [](TagKvCall& c) { return c.SipGetAccAddr("a", "b", s1, i1); }},
        {"SipSetDialRoute", 0, [](TagKvCall& c) { return c.SipSetDialRoute("a", "b"); }},
        {"SipGetRtpCount", 0, [](TagKvCall& c) { return c.SipGetRtpCount(i1, i2); }},
        {"SipOnGetAccPwd", 0, [](TagKvCall& c) { return c.SipOnGetAccPwd(nullptr); }},
        {"SipOnGetAccPwdIp", 0, [](TagKvCall& c) { return c.SipOnGetAccPwdIp(nullptr); }},
        {"SipOnRegisterNotify", 0, [](TagKvCall& c) { return c.SipOnRegisterNotify(nullptr); }},
        {"CreateConfRoom", -1,
         [](TagKvCall& c) {
             i1 = 1;
             return c.CreateConfRoom(i1, i2);
         }},
        {"JoinConfRoom", -1, [](TagKvCall& c) { return c.JoinConfRoom(1, 1, 0); }},
        {"ExitConfRoom", -1, [](TagKvCall& c) { return c.ExitConfRoom(1, 1); }},
        {"DeleteConfRoom", -1, [](TagKvCall& c) { return c.DeleteConfRoom(1, 1); }},
        {"StopRecConfRoom", -1, [](TagKvCall& c) { return c.StopRecConfRoom(1, 1, 3); }},
        {"SipRecCh", -1, [](TagKvCall& c) { return c.SipRecCh(1, "r.wav", i1); }},
        {"StopSipRecCh", -1, [](TagKvCall& c) { return c.StopSipRecCh(3); }},
        {"IsPlayConfRoomEnd", -1, [](TagKvCall& c) { return c.IsPlayConfRoomEnd(1, 1, 3); }},
        {"StopPlayConfRoom", -1, [](TagKvCall& c) { return c.StopPlayConfRoom(1, 1, 3); }},
        {"SipProxyRecv", 0, [](TagKvCall& c) { return c.SipProxyRecv(s1, s2, i1, s3); }},
        {"SipProxyGetField", 0, [](TagKvCall& c) { return c.SipProxyGetField(1, "Via", nullptr, s1); }},
        {"SipProxyAddField", 0, [](TagKvCall& c) { return c.SipProxyAddField(1, "Via", "v", 0); }},
        {"SipProxyRemoveField", 0, [](TagKvCall& c) { return c.SipProxyRemoveField(1, "Via"); }},
        {"SipProxySend", 0, [](TagKvCall& c) { return c.SipProxySend(1, "x"); }},
        {"SipProxySendEx", 0, [](TagKvCall& c) { return c.SipProxySendEx(1, "x", 2); }},
        {"SipProxyDirAns", 0, [](TagKvCall& c) { return c.SipProxyDirAns(1, 404, "x"); }},
        {"SipProxySendKeepAlives", 0, [](TagKvCall& c) { return c.SipProxySendKeepAlives("a", "b"); }},
        {"SipUnregisterSpecUser", 0, [](TagKvCall& c) { return c.SipUnregisterSpecUser("u"); }},
        {"SipSetRtpAddr", 0, [](TagKvCall& c) { return c.SipSetRtpAddr("127.0.0.1", 4000, ""); }},
        {"SetDialExText", 0, [](TagKvCall& c) { return c.SetDialExText(1, ""); }},
        {"SipGetAccStat", 0, [](TagKvCall& c) { return c.SipGetAccStat("acc"); }},
        {"IsMediaOk", 1, [](TagKvCall& c) { return c.IsMediaOk(); }},
        {"GetChState", 0, [](TagKvCall& c) { return c.GetChState(); }},
        {"IsPcPlayEnd", 1, [](TagKvCall& c) { return c.IsPcPlayEnd(); }},
        {"GetNobkringAns", 0, [](TagKvCall& c) { return c.GetNobkringAns(); }},
    };
}

} // namespace

TEST(CallDefaults, EveryPlainOperationAnswersItsBaseResultAndLeavesTheCallAlone) {
    for (const Case& k : PlainResults()) {
        TagKvCall c;
        c.lineKind = kLineSip;
        EXPECT_EQ(k.run(c), k.expected) << k.op;
        EXPECT_EQ(c.callState, kCallNone) << k.op;
        EXPECT_FALSE(c.stopFlag) << k.op;
    }
}

TEST(CallDefaults, ConstructorSetsTheDocumentedStartValues) {
    TagKvCall c;
    EXPECT_EQ(c.callState, -1);
    EXPECT_EQ(c.prevState, -1);
    EXPECT_EQ(c.blockValue, 0);
    EXPECT_EQ(c.level[0], 100);
    EXPECT_EQ(c.level[1], 100);
    EXPECT_EQ(c.level[2], 100);
    EXPECT_EQ(c.breakOnKey, 1);
    EXPECT_EQ(c.sigPara[0], -1);
    EXPECT_EQ(c.sigPara[1], -1);
    EXPECT_EQ(c.tones.Count(), 0u);
    EXPECT_EQ(c.linkedCall.load(), nullptr);
}

TEST(CallDefaults, CallControlSetsTheStatesOfAnAlwaysAnsweringLine) {
    TagKvCall c;
    EXPECT_EQ(c.WaitRing(1), 0);
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_EQ(c.Hangup(), 0);
    EXPECT_EQ(c.callState, kCallReleased);
    EXPECT_EQ(c.OutCall("8001", 0, 0), 0);
    EXPECT_EQ(c.callState, kCallConnected);
    c.callState = kCallDialing;
    EXPECT_EQ(c.CheckDial(), 1);
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_EQ(c.IsRings(3), 1);
    EXPECT_EQ(c.callState, kCallRinging);

    std::string caller = "x", called = "y";
    EXPECT_EQ(c.IsRinging(caller, called), 1);
    EXPECT_EQ(caller, "");
    EXPECT_EQ(called, "");
}

TEST(CallDefaults, HangupAfterTheDisconnectHandlerLeavesTheStateClosed) {
    TagKvCall c;
    c.callState = kCallClosed;
    EXPECT_EQ(c.Hangup(), 0);
    EXPECT_EQ(c.callState, kCallClosed);
}

TEST(CallDefaults, OutValuesAreClearedWhereTheBaseAnswersEmpty) {
    TagKvCall c;
    std::string a = "old", b = "old";
    int32_t n = 9, m = 9;
    EXPECT_EQ(c.GetCallerId(a), 0);
    EXPECT_EQ(a, "");
    a = "old";
    EXPECT_EQ(c.GetCalleeId(a), 0);
    EXPECT_EQ(c.GetFirstCalleeId(b), 0);
    EXPECT_EQ(a + b, "");
    a = b = "old";
    EXPECT_EQ(c.SipGetPeerMsg(a, b, 4096), 0);
    EXPECT_EQ(a + b, "");
    c.GetFaxResource(n, m);
    EXPECT_EQ(n + m, 0);
    n = 5;
    a = "old";
    EXPECT_EQ(c.RecvFskMsg(n, a, 10), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(a, "");
    n = 9;
    EXPECT_EQ(c.RecConfRoom(1, 1, "r.wav", n), -1);
    EXPECT_EQ(n, 0);
    n = 9;
    EXPECT_EQ(c.PlayConfRoom(1, 1, "p.wav", n), -1);
    EXPECT_EQ(n, 0);
    n = 999999;
    c.SipGetAccAddr("a", "b", a, n);
    EXPECT_EQ(n, 999999); // the base writes nothing there
}

TEST(CallDefaults, StoredSettingsLandInTheirFields) {
    TagKvCall c;
    c.SetCallerId("8001");
    c.SetSubAddr("s1", "s2");
    c.SetFirstCalleeId("9001", 3);
    c.CloseLine();
    EXPECT_EQ(c.lineClosed, 1);
    c.OpenLine();
    c.SetKeyTime(4);
    c.SetNobkringAns(5);
    c.SetBreak(0);
    EXPECT_EQ(c.callerIdToSend + c.subAddr1 + c.subAddr2 + c.firstCalleeToSend, "8001s1s29001");
    EXPECT_EQ(c.firstCalleeAttr, 3);
    EXPECT_EQ(c.lineClosed, 0);
    EXPECT_EQ(c.keyTime, 4);
    EXPECT_EQ(c.GetNobkringAns(), 1);
    EXPECT_EQ(c.breakOnKey, 0);

    c.SetVolume(10, 1);
    c.SetVolume(20, 2);
    c.SetVolume(30, 0);
    c.SetVolume(40, 7);
    EXPECT_EQ(c.level[0], 40);
    EXPECT_EQ(c.level[1], 10);
    EXPECT_EQ(c.level[2], 20);
}

TEST(CallDefaults, SetSigParaStoresKindsOneAndTwoOnly) {
    TagKvCall c;
    EXPECT_EQ(c.SetSigPara(1, 3), 0);
    EXPECT_EQ(c.SetSigPara(2, -1), 0);
    EXPECT_EQ(c.SetSigPara(3, 1), -1);
    EXPECT_EQ(c.SetSigPara(0, 1), -1);
    EXPECT_EQ(c.sigPara[0], 3);
    EXPECT_EQ(c.sigPara[1], -1);
}

TEST(CallDefaults, HookStateOfAVirtualLineIsAlwaysOffHook) {
    TagKvCall vir;
    vir.lineKind = kLineVirtual;
    TagKvCall sip;
    sip.lineKind = kLineSip;
    for (int32_t s : {-1, 0, 1, 2, 6}) {
        vir.callState = s;
        sip.callState = s;
        EXPECT_EQ(vir.GetHookState(), 1);
        EXPECT_EQ(sip.GetHookState(), s == 1 ? 1 : 0);
    }
}

TEST(CallDefaults, UnlinkMediaForgetsTheLinkedCall) {
    TagKvCall a, b;
    a.linkedCall = &b;
    EXPECT_EQ(a.UnlinkMedia(), 0);
    EXPECT_EQ(a.linkedCall.load(), nullptr);
}

TEST(CallDefaults, RawSignallingDataIsBoundedTo300Bytes) {
    TagKvCall c;
    std::vector<uint8_t> big(301, 7);
    EXPECT_EQ(c.SetSigRawData(big.data(), 301), -2);
    EXPECT_EQ(c.KeepSigMessage(big.data(), 301), -2);
    EXPECT_EQ(c.TakeSigReceived(), "");
    EXPECT_EQ(c.SetSigRawData(big.data(), 300), 300);
    const uint8_t msg[] = {0x0C, 0x02, 0x00};
    EXPECT_EQ(c.KeepSigMessage(msg, 3), 3);
    EXPECT_EQ(c.TakeSigReceived(), std::string("\x0C\x02\x00", 3));
    EXPECT_EQ(c.sigSendLen, 0);
    EXPECT_EQ(c.TakeSigReceived(), "");
}

TEST(CallDefaults, LineNameIsCutAt80BytesWithoutSplittingACharacter) {
    TagKvCall c;
    c.SetName((std::string(79, 'a') + "\xD6\xD0").c_str());
    EXPECT_EQ(c.Name(), std::string(79, 'a'));
    c.SetName(nullptr);
    EXPECT_EQ(c.Name(), "");
}

// ---- the line's log lines

namespace {
struct RunLogFixture : ::testing::Test {
    TestDir dir{"calllog"};
    std::unique_ptr<TagWriteLog> log;
    int oldLevel = GetLogLevel();
    void SetUp() override {
        log = std::make_unique<TagWriteLog>("msg_log.txt", 0, true, true);
        SetRunLog(log.get());
    }
    void TearDown() override {
        SetRunLog(nullptr);
        log.reset();
        SetLogLevel(oldLevel);
    }
    std::string Text() { return TestDir::Read("msg_log.txt"); }
};
} // namespace

TEST_F(RunLogFixture, WriteLogPrefixesTheLineNumberAndHonoursTheLevel) {
    TagKvCall c;
    c.lineNo = 17;
    SetLogLevel(0);
    c.WriteLog("quiet");
    c.WriteLogAlways("always");
    SetLogLevel(1);
    c.WriteLogF("Dial(%s) : %d", "8001", -3);
    std::string s = Text();
    EXPECT_EQ(s.find("quiet"), std::string::npos);
    EXPECT_NE(s.find("lcnt=17, always]\n"), std::string::npos);
    size_t p = s.find("lcnt=17, Dial(8001) : -3]");
    ASSERT_NE(p, std::string::npos);
    size_t start = s.rfind('\n', p) + 1;
    EXPECT_TRUE(MatchLinePattern("9999-99-99 99:99:99.999 0xh [lcnt=17, Dial(8001) : -3]",
                                 s.substr(start, s.find('\n', p) - start).c_str()));
}

TEST_F(RunLogFixture, MaxTalkTimeHangsUpOnTheFirstCheckPastTheLimit) {
    SetLogLevel(1);
    TagKvCall c;
    c.lineNo = 3;
    c.maxTalkTime = 30;
    c.callState = kCallConnected;
    EXPECT_EQ(c.IsOnline(), 1); // the state change starts the count
    EXPECT_GE(c.connectTime, CalendarNow() - 1);
    c.connectTime = CalendarNow() - 30;
    EXPECT_EQ(c.IsOnline(), 1); // 30 s is not past the limit
    c.connectTime = CalendarNow() - 31;
    EXPECT_EQ(c.IsOnline(), 0);
    EXPECT_EQ(c.callState, kCallReleased);
    EXPECT_EQ(c.IsOnline(), 0);
    EXPECT_NE(Text().find("lcnt=3, Hangup On MaxTalkTime(30).]"), std::string::npos);
}

TEST_F(RunLogFixture, NoLimitNeverHangsUp) {
    TagKvCall c;
    c.callState = kCallConnected;
    c.IsOnline();
    c.connectTime = CalendarNow() - 100000;
    EXPECT_EQ(c.IsOnline(), 1);
    EXPECT_EQ(Text().find("MaxTalkTime"), std::string::npos);
}
