// The link, conference, key and speech builtins through scripts: on a virtual line of the fake sound card, and on
// call objects whose driver keeps a journal.
#include "VirtualFakes.h"

#include "platform/Clock.h"
#include "tests/builtins/ScriptOnCall.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zz;
using namespace zz::test;

namespace {

// A line whose driver holds conference sessions and speaks: what the builtins asked, in order.
class RoomLine : public JournalCall {
public:
    explicit RoomLine(int32_t line) {
        lineNo = line;
        mediaChannel = 100 + line;
    }
    int CreateConfRoom(int32_t& kind, int32_t& session) override {
        kind = 1;
        session = 7;
        Note("create");
        return 0;
    }
    int JoinConfRoom(int32_t session, int32_t, int32_t listen) override {
        Note("join " + std::to_string(session) + " " + std::to_string(listen));
        return 0;
    }
    int ExitConfRoom(int32_t session, int32_t) override {
        Note("exit " + std::to_string(session));
        return 0;
    }
    int DeleteConfRoom(int32_t session, int32_t) override {
        Note("delete " + std::to_string(session));
        return 0;
    }
    int RecConfRoom(int32_t, int32_t, const char* file, int32_t& handle) override {
        Note("rec " + std::string(file));
        handle = 40;
        return 0;
    }
    int StopRecConfRoom(int32_t, int32_t, int32_t handle) override {
        Note("stop rec " + std::to_string(handle));
        return 0;
    }
    int PlayConfRoom(int32_t, int32_t, const char* file, int32_t& handle) override {
        Note("play " + std::string(file));
        handle = 41;
        return 0;
    }
    int IsPlayConfRoomEnd(int32_t, int32_t, int32_t) override { return 1; }
    int StopPlayConfRoom(int32_t, int32_t, int32_t handle) override {
        Note("stop play " + std::to_string(handle));
        return 0;
    }
    int SipRecCh(int32_t channel, const char* file, int32_t& handle) override {
        Note("rec ch " + std::to_string(channel) + " " + file);
        handle = 42;
        return 0;
    }
    int StopSipRecCh(int32_t handle) override {
        Note("stop rec ch " + std::to_string(handle));
        return 0;
    }
    int IsOnline() override { return 1; }
    int SetKeys(const char* digits) override {
        Note("SetKeys " + std::string(digits));
        return 2;
    }
    int TxtSpeak(const char* text, int32_t a, int32_t b, int32_t soundCard) override {
        Note("TxtSpeak " + std::string(text) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
             std::to_string(soundCard));
        return 5;
    }
};

struct VirtualScripts : ::testing::Test, VirtualLines {
    TagKvCall& v = Call(kVir);
};

} // namespace

TEST_F(VirtualScripts, LinkBuiltinsFollowTheVirtualLinesRules) {
    static_assert(ScriptOnCall::kLine == VirtualLines::kVir);
    ScriptOnCall s("virlinks");
    s.Run(R"(r = LinkTo(3, 0);
Print("self " + r + "\n");
r = LinkTo(4, 0);
Print("virtual " + r + "\n");
r = LinkTo(1, 0);
Print("sip " + r + "\n");
r = UnlinkTo(2, 0);
Print("other " + r + "\n");
r = UnlinkTo(1, 0);
Print("unlinked " + r + "\n");
r = ListenTo(1, 0);
r = UnlinkAll();
Print("all " + r + "\n");
r = JoinConf("a", 0);
Print("join " + r + "\n");
r = ExitConf();
Print("exit " + r + "\n");
return(0);
)",
          v);
    EXPECT_EQ(s.Printed(), "self -1\nvirtual -200\nsip 0\nother -2\nunlinked 0\nall 0\njoin -2\nexit 0\n");
    EXPECT_EQ(card.OpenDevices(), 0);
    EXPECT_GE(journal.Find("sip0 unlink 3 ch=1"), 0);
}

TEST(RoomBuiltins, JoinCountRecordPlayAndLeaveByName) {
    ScriptOnCall s("rooms");
    RoomLine other(5), line(ScriptOnCall::kLine);
    ASSERT_EQ(other.JoinNameConf("a", 0), 1);
    int32_t r = s.Run(R"(const RO = 9;
r = SetSndDir("voc", "", "");
r = JoinConf("a", 1);
Print("join " + r + "\n");
m = 0;
r = GetConfNum("a", m);
Print("num " + r + " " + m[3] + " " + m[5] + "\n");
r = GetConfNum("a", RO);
Print("read-only " + r + " " + RO + "\n");
name = "x";
listen = 5;
r = IsInConf(3, name, listen);
Print("in " + r + " " + name + " " + listen + "\n");
r = IsInConf(9, name, listen);
Print("in " + r + " [" + name + "] " + listen + "\n");
r = RecConf("a", "room");
Print("rec " + r + "\n");
r = RecConf("a", "room");
Print("again " + r + "\n");
r = RecConf("b", "room");
Print("none " + r + "\n");
r = RecConfCh("a", 3, "");
Print("ch empty " + r + "\n");
r = RecConfCh("a", 3, "me");
Print("ch " + r + "\n");
r = RecConfCh("a", 9, "me");
Print("ch none " + r + "\n");
r = PlayConf("a", "music", 1);
Print("play " + r + "\n");
r = ExitConf();
Print("exit " + r + "\n");
r = ExitConf();
Print("exit " + r + "\n");
return(0);
)",
                      line);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.Printed(), "join 2\nnum 2 1 0\nread-only 2 9\nin 1 a 1\nin 0 [] 0\nrec 40\nagain -2\nnone -1\n"
                           "ch empty 0\nch 0\nch none -1\nplay 41\nexit 7\nexit 0\n");
    EXPECT_EQ(line.journal,
              (std::vector<std::string>{"join 7 1", "rec voc\\room.WAV", "rec ch 103 voc\\me.WAV",
                                        "play voc\\music.WAV", "stop play 41", "stop rec ch 42", "exit 7"}));
    // The last member closes the room: its recording stops and the session goes.
    EXPECT_EQ(other.ExitNameConf(), 7);
    EXPECT_EQ(other.journal, (std::vector<std::string>{"create", "join 7 0", "exit 7", "stop rec 40", "delete 7"}));
    EXPECT_TRUE(other.confClosed);
}

TEST(RoomBuiltins, TheLineThatClosesARoomSeesIsLastExitConfAndLinkListsHoldOnlyTodaysPeers) {
    struct LinkedLine : RoomLine {
        using RoomLine::RoomLine;
        int GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen,
                        std::vector<int32_t>& modes) override {
            lines = peers;
            listen.assign(peers.size(), 0);
            modes.assign(peers.size(), 1);
            return int(peers.size());
        }
        int UnlinkAll() override { return peers.clear(), 0; }
        std::vector<int32_t> peers{4, 6};
    };
    ScriptOnCall s("roomlast");
    LinkedLine line(ScriptOnCall::kLine);
    s.Run(R"(r = JoinConf("solo", 0);
v = -1;
r = GetSysInfoVal("IsLastExitConf", v);
Print("before " + v + "\n");
r = ExitConf();
r = GetSysInfoVal("IsLastExitConf", v);
Print("after " + v + "\n");
p = 0;
k = 0;
t = 0;
r = GetLinkList(p, k, t);
Print("list " + r + " " + p[1] + "\n");
r = UnlinkAll();
r = GetLinkList(p, k, t);
Print("list " + r + " [" + p[1] + "]\n");
return(0);
)",
          line);
    EXPECT_EQ(s.Printed(), "before 0\nafter 1\nlist 2 6\nlist 0 []\n");
}

TEST_F(VirtualScripts, KeysTypedForTheLineEndAtTheEndKeyOrTheMaximum) {
    ScriptOnCall s("pckeys");
    TypeLineKeys(kVir, "12#34");
    s.Run(R"(k = "";
r = PcGetKeys(k, 10, 5);
Print("" + r + " [" + k + "]\n");
return(0);
)",
          v);
    EXPECT_EQ(s.Printed(), "3 [12]\n"); // the '#' counts, and is dropped
    EXPECT_EQ(GetLineKeys(kVir), "34");
    SetLineKeys(kVir, "12.5");
    s.Run(R"(k = "";
r = SetEndKey("*");
r = GetKeys(k, 10, 5);
Print("" + r + " [" + k + "]\n");
return(0);
)",
          v);
    EXPECT_EQ(s.Printed(), "3 [12.]\n"); // an end key '*' stands for '.' too, and is kept
    EXPECT_EQ(GetLineKeys(kVir), "5");
    // Without an end key a '#' is a plain key and stays; a maximum of 0 returns at once.
    SetLineKeys(kVir, "12#45");
    s.Run(R"(k = "";
r = SetEndKey(0);
r = PcGetKeys(k, 3, 5);
Print("" + r + " [" + k + "]\n");
r = PcGetKeys(k, 0, 0);
Print("" + r + " [" + k + "]\n");
return(0);
)",
          v);
    EXPECT_EQ(s.Printed(), "3 [12#]\n0 []\n");
    EXPECT_EQ(GetLineKeys(kVir), "45");
}

TEST_F(VirtualScripts, KeyInputTimesOutWithTheKeysLeftInTheColumn) {
    VirtualClock clock(0, true); // every wait moves the clock by itself
    ScopedClock scoped(&clock);
    ScriptOnCall s("pckeystime");
    SetLineKeys(kVir, "12");
    s.Run(R"(k = "x";
r = PcGetKeys(k, 5, 5);
Print("" + r + " [" + k + "]\n");
r = SetKeyTime(2);
r = PcGetKeys(k, 5, 0);
Print("" + r + " [" + k + "]\n");
return(0);
)",
          v);
    EXPECT_EQ(s.Printed(), "-1 []\n-1 []\n");
    EXPECT_EQ(GetLineKeys(kVir), "12");
    EXPECT_EQ(v.keyTime, 2);
    EXPECT_GE(GetTickCount(), 7000u);
}

TEST(KeyAndSpeechBuiltins, SettingsAndSpeechGoToTheCall) {
    ScriptOnCall s("speech");
    RoomLine call(ScriptOnCall::kLine);
    call.keysResult = -1;
    s.Run(R"(k = "";
r = SetTimeoutVoc(5);
Print("voc " + r + "\n");
r = GetKeys(k, 3, 10);
Print("keys " + r + "\n");
r = SetKeys("12");
Print("set " + r + "\n");
r = SetTtsPara(2, "", "");
Print("para " + r + "\n");
r = TxtSpeak("hello", 0, 1);
r = PcTxtSpeak("hello", 1, 0);
Print("speak " + r + "\n");
r = SetTtsPara(0, "", "");
r = TxtSpeakToFile("hello", "hi.wav", 1, 0);
Print("file " + r + "\n");
return(0);
)",
          call);
    // The failed key input neither plays the time-out voice nor hangs up.
    EXPECT_EQ(call.journal, (std::vector<std::string>{"GetKeys 3 10 #", "SetKeys 12", "TxtSpeak hello 0 1 0",
                                                      "TxtSpeak hello 1 0 1"}));
    EXPECT_EQ(call.speechMode, 0);
    EXPECT_EQ(s.Printed(), "voc -1\nkeys -1\nset 2\npara 0\nspeak 5\nfile 0\n");
    // Spoken as PCM, converted to A-law at the path; the PCM file is gone.
    std::string wav = TestDir::Read("hi.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(uint8_t(wav[20]), 6); // format tag A-law
    EXPECT_FALSE(std::filesystem::exists("hi.wav.wav"));
}
