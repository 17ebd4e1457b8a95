// Call-control and voice builtins on a call object that keeps a journal: the operations they call, with which
// arguments, and what the script sees of the results.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "ScriptOnCall.h"
#include "platform/Clock.h"
#include "tests/support/ClockHandshake.h"

namespace zz {
namespace {

using test::JournalCall;
using test::ScriptOnCall;

TEST(CallControl, VoiceNamesAreCompletedByTheLinesDirectoryAndExtension) {
    ScriptOnCall s("voicepaths");
    JournalCall call;
    s.Run(R"(r = SetSndDir("d:\\voc", "", "");
r = Play("hello");
r = Play("c:\\x\\a.wav");
r = Play("sub\\hello.wav");
r = Play("\\\\server\\hi");
r = SetBreak(0);
r = SetSndExt(".vox");
r = Play("hello");
r = Record("msg", 30);
r = StartRecord("talk.wav", 600);
r = SelectLan(1);
r = Play("hello");
return(0);
)",
          call);
    EXPECT_EQ(call.journal, (std::vector<std::string>{
                                "Play d:\\voc\\hello.WAV 1 0",
                                "Play c:\\x\\a.wav 1 0",
                                "Play d:\\voc\\sub\\hello.wav 1 0",
                                "Play \\\\server\\hi.WAV 1 0",
                                "Play d:\\voc\\hello.vox 0 0",
                                "Record d:\\voc\\msg.vox 30 0",
                                "SpyRec d:\\voc\\talk.wav 600",
                                "Play hello.vox 0 0",
                            }));
}

TEST(CallControl, DialFailuresMarkTheCallOrWaitForOnDisconn) {
    ScriptOnCall s("dialfail");
    JournalCall call;
    call.dialResult = -3;
    int32_t r = s.Run(R"(r = SetDialFailedTo(1);
r = Dial("8001");
Print("marked: " + r + "\n");
r = SetDialFailedTo(0);
r = CheckDial();
Print("unmarked: " + r + "\n");
r = Hangup();
return(1);
OnDisconn();
Print("OnDisconn: " + _retVal + "\n");
return(2);
)",
                      call);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(s.Printed(), "marked: -3\nunmarked: -3\nOnDisconn: -3\n");
}

TEST(CallControl, AMarkedFailureSetsTheFailedStateAndOutCallKeepsEveryResult) {
    ScriptOnCall s("outcall");
    JournalCall call;
    call.dialResult = -5;
    s.Run(R"(r = SetDialFailedTo(1);
r = Dial("8001");
return(0);
)",
          call);
    EXPECT_EQ(call.callState, kCallDialFailed);
    EXPECT_EQ(call.journal, (std::vector<std::string>{"Dial 8001"}));

    JournalCall ok;
    ok.dialResult = 7;
    s.Run(R"(r = OutCall("8002");
r = Hangup();
return(1);
OnDisconn();
Print("OnDisconn: " + _retVal + "\n");
return(2);
)",
          ok);
    EXPECT_EQ(s.Printed(), "OnDisconn: 7\n");
    EXPECT_EQ(ok.journal.front(), "OutCall 8002 0 0");
}

TEST(CallControl, GetKeysTakesAtMostTheKeyBufferAndTurnsStarsIntoPoints) {
    ScriptOnCall s("keys");
    JournalCall call;
    call.keys = "12*5";
    call.keysResult = 4;
    s.Run(R"(k = "";
r = GetKeys(k, 0, 10);
Print("keys " + r + " " + k + "\n");
r = SetEndKey("*");
r = GetKeys(k, 1000000, 5);
r = SetStarToPoint(0);
r = GetKeys(k, 2, 5);
Print("keys " + k + "\n");
return(0);
)",
          call);
    EXPECT_EQ(call.journal, (std::vector<std::string>{"GetKeys 100 10 #", "GetKeys 1024 5 *", "GetKeys 2 5 *"}));
    EXPECT_EQ(s.Printed(), "keys 4 12.5\nkeys 12\n");
}

TEST(CallControl, AFailedKeyInputPlaysTheTimeOutVoiceAndHangsUp) {
    ScriptOnCall s("keytimeout");
    JournalCall call;
    call.keys = "7.";
    call.keysResult = -1;
    s.Run(R"(k = "";
r = SetSndDir("voc", "", "");
r = GetKeys(k, 3, 10);
return(1);
OnDisconn();
Print("keys " + r + " " + k + "\n");
return(2);
)",
          call);
    EXPECT_EQ(call.journal, (std::vector<std::string>{"GetKeys 3 10 #", "Play voc\\timeout.wav 0 0", "Hangup"}));
    EXPECT_EQ(s.Printed(), "keys -1 7.\n");

    // The caller hung up while keying: the line hangs up without trying the voice.
    JournalCall ended;
    ended.keysResult = TagKvCall::kKeysCallEnded;
    ScriptOnCall again("keysended");
    again.Run(
        "k = \"\";\nr = GetKeys(k, 3, 10);\nreturn(1);\nOnDisconn();\nPrint(\"keys \" + r + \"\\n\");\nreturn(2);\n",
        ended);
    EXPECT_EQ(ended.journal, (std::vector<std::string>{"GetKeys 3 10 #", "Hangup"}));
    EXPECT_EQ(again.Printed(), "keys -2\n");
}

TEST(CallControl, NumbersOfTheCallComeBackWholeAndSetVolumeTakesKindThenLevel) {
    ScriptOnCall s("numbers");
    JournalCall call;
    std::string longNumber(600, '8');
    call.callerId = "丄" + longNumber;
    s.Run(R"(a = "";
b = "";
n = 0;
r = IsRinging(a, b);
k = Len(a, n);
Print("ringing " + r + " " + k + " " + b + "\n");
r = GetCallerId(a);
k = Len(a, n);
Print("caller " + r + " " + k + "\n");
r = SetVolume(1, 55);
r = SetVolume(2, 45);
return(0);
)",
          call);
    EXPECT_EQ(s.Printed(), "ringing 1 511 555\ncaller 1 511\n");
    EXPECT_EQ(call.level[1], 55);
    EXPECT_EQ(call.level[2], 45);
}

// Sleep blocks on the line's wake event: a hang-up, a quit or a stop ends it at once, the clock its time.
TEST(CallControl, SleepWaitsForItsTimeOrTheEndOfTheTalk) {
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    RegisterBuiltins();
    JournalCall call;
    call.callState = kCallConnected;
    TagTelBasic unit;
    unit.pKvCall = &call;
    TagVar seconds;
    seconds.SetInt(0);
    TagVar* args[] = {&seconds};
    auto sleep = MakeBuiltinOper(148, args, 1, &unit, nullptr);
    ASSERT_TRUE(sleep);

    std::thread caller([&] {
        test::AwaitWaiters(clock);
        call.SetCallState(kCallReleased);
    });
    EXPECT_EQ(sleep->Run(), 0);
    caller.join();
    EXPECT_EQ(clock.Ticks(), 0u);

    std::thread quitter([&] {
        test::AwaitWaiters(clock);
        unit.SetQuit(1);
    });
    EXPECT_EQ(sleep->Run(), 0) << "a quit";
    quitter.join();
    unit.SetQuit(0);

    seconds.SetFloat(5.0);
    std::thread timer([&] {
        test::AwaitWaiters(clock);
        clock.Advance(5000);
        test::AwaitWaiters(clock); // not past its time yet
        clock.Advance(1);
    });
    EXPECT_EQ(sleep->Run(), 0);
    timer.join();
    EXPECT_EQ(clock.Ticks(), 5001u);

    seconds.SetInt(0);
    std::thread stopper([&] {
        test::AwaitWaiters(clock);
        call.RequestStop();
    });
    EXPECT_EQ(sleep->Run(), 0) << "a stop";
    stopper.join();
}

// Play takes a voice from the line's memory, then the process's, then the file; "*" empties one store only.
TEST(CallControl, VoicesInMemoryPlayFromTheirStoreUntilItIsEmptied) {
    ScriptOnCall s("memvoices");
    TestDir::Write("a.WAV", "line voice");
    TestDir::Write("b.WAV", "process voice");
    JournalCall call;
    s.Run(R"(r = LoadVocFile("a", 0);
r = LoadVocFile("b", 1);
r = UnloadVocFile("*", 1);
r = Play("a");
r = Play("b");
r = UnloadVocFile("a", 0);
r = Play("a");
return(0);
)",
          call);
    EXPECT_EQ(call.journal, (std::vector<std::string>{"PlayMemory 0 10 0 1", "Play b.WAV 1 0", "Play a.WAV 1 0"}));
}

// The demo of examples/ serves calls on a telephone line until no call comes any more; a called number that
// begins with 2 hears Chinese; its prompts play whole (keys wait for GetKeys).
TEST(CallControl, TheDemoServesACallAndWaitsForTheNext) {
    const char* src = std::getenv("ZZ_SOURCE_DIR");
    ASSERT_TRUE(src);
    ScriptOnCall s("demo");
    std::filesystem::create_directories("voc/en");
    JournalCall call;
    call.callerId = "8001";
    call.calleeId = "2000";
    call.keys = "1234";
    call.keysResult = 4;
    EXPECT_EQ(s.Run(TestDir::Read(std::string(src) + "/examples/demo.kvs"), call), -1);
    EXPECT_EQ(call.journal, (std::vector<std::string>{"WaitRing 1", "Play voc\\welcome.WAV 0 0", "GetKeys 4 10 #",
                                                      "Play voc\\youpressed.WAV 0 0", "Play voc\\t3.WAV 0 0", "Hangup",
                                                      "WaitRing 1"}));
    EXPECT_EQ(s.Printed(), "line 3: waiting for a call\nline 3: call from 8001 to 2000\nline 3: keys 1234 (4)\n"
                           "line 3: hung up\nline 3: waiting for a call\n");
}

} // namespace
} // namespace zz
