// The SIP call object over a scripted SIP stack: the call states it moves through, what it sends, and the
// edge cases of waiting, dialling, hanging up, keys, play, record and links.
#include "FakeSipLibs.h"
#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "telephony/TagTelDrive.h"
#include "telephony/TagTelLine.h"
#include "telephony/card/CardMedia.h"
#include "telephony/card/CardSim.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"
#include "telephony/sip/TagSipCall.h"
#include "telephony/sip/TagSipCfg.h"
#include "telephony/sip/TagSipDrive.h"
#include "tests/support/ClockHandshake.h"
#include "tests/support/LineStubs.h"
#include "tests/support/TestDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace zz;
using zz::test::FakeSipLibs;

namespace {

class SipCallTest : public ::testing::Test {
protected:
    SipCallTest() {
        TestDir::Write("SipCfg.ini", "reg1 = 1,1001,secret,127.0.0.1,5060\n");
        cfg = std::make_unique<TagSipCfg>("SipCfg.ini");
        drive = std::make_unique<TagSipDrive>(32, "127.0.0.1", 5060, 5060, 10500, *cfg, fake.Libs());
    }
    TagSipCall& Call(int channel) {
        lines.push_back(drive->MakeLine(channel, channel));
        return static_cast<TagSipCall&>(*lines.back()->call);
    }
    // An incoming call answered by WaitRing, its media running.
    TagSipCall& Answered(int channel) {
        TagSipCall& c = Call(channel);
        fake.Offer(channel + 1);
        EXPECT_EQ(c.WaitRing(1), 0);
        EXPECT_EQ(c.callState, kCallConnected);
        EXPECT_NE(c.mediaChannel, 0);
        return c;
    }
    // Runs f on a line thread of its own; the test goes on once that thread waits on its line.
    void Start(std::function<void()> f) {
        worker = std::thread(std::move(f));
        while (clock.Waiters() == 0)
            std::this_thread::yield();
    }
    void Join() { worker.join(); }
    size_t Count(const std::string& prefix) {
        auto j = fake.Journal();
        return size_t(std::count_if(j.begin(), j.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
    }

    TestDir dir{"sipcall"};
    VirtualClock clock;
    ScopedClock scoped{&clock};
    FakeSipLibs fake;
    std::unique_ptr<TagSipCfg> cfg;
    std::unique_ptr<TagSipDrive> drive;
    std::vector<std::unique_ptr<TagTelLine>> lines;
    std::thread worker;
};

TEST_F(SipCallTest, WaitRingAnswersAnOfferedCallWithTheProvisionalCodeOfTheHangupCause) {
    TagSipCall& c = Call(0);
    fake.ClearJournal();
    EXPECT_EQ(c.WaitRing(0), -1);
    EXPECT_TRUE(fake.Journal().empty()) << "WaitRing(0) does not look at the slot";

    fake.Offer(1, "1001", "2000");
    EXPECT_EQ(c.WaitRing(1), 0);
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_EQ(c.callerId, "1001");
    EXPECT_EQ(c.calleeId, "2000");
    EXPECT_TRUE(fake.Called("sip_call_provisional(180)"));
    EXPECT_TRUE(fake.Called("sip_call_accept"));
    EXPECT_TRUE(fake.Called("ms_channel_start_ex(")) << "the answer's media runs";
    EXPECT_EQ(c.TakeSigReceived(), std::string("1\0", 2)) << "the library call id, for a forward";
    EXPECT_EQ(c.GetHookState(), 1);

    c.Hangup();
    c.hangupCause = 185;
    fake.Offer(1);
    EXPECT_EQ(c.IsRings(1), 1);
    EXPECT_TRUE(fake.Called("sip_call_provisional(185)"));
    c.Hangup();
    c.hangupCause = 200;
    fake.Offer(1);
    fake.ClearJournal();
    EXPECT_EQ(c.IsRings(1), 1);
    EXPECT_TRUE(fake.Called("sip_call_provisional(180)"));
}

TEST_F(SipCallTest, ACallCancelledWhileTheLineAnswersIsReleasedAndTheLineWaitsForTheNext) {
    TagSipCall& c = Call(0);
    fake.provisionalState = kSipStCancelled; // the caller's CANCEL came just after the line took the call
    fake.Offer(1);
    std::atomic<bool> done{false};
    worker = std::thread([&] {
        c.WaitRing(1);
        done = true;
    });
    while (!fake.Get(1).listen && !done)
        std::this_thread::yield();
    EXPECT_FALSE(done) << "WaitRing answered a cancelled call";
    EXPECT_FALSE(fake.Called("sip_call_accept"));
    EXPECT_EQ(c.callState, kCallReleased);
    fake.Offer(1);
    Join();
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_EQ(Count("sip_call_accept"), 1u);
}

TEST_F(SipCallTest, HangupRejectsAnOfferedCallWithBusyOrTheCauseAndThenDoesNothing) {
    TagSipCall& c = Call(0);
    std::string caller, called;
    for (auto [cause, code] : {std::pair{0, 486}, {404, 404}, {299, 486}, {1000, 486}}) {
        c.hangupCause = cause;
        fake.Offer(1);
        EXPECT_EQ(c.IsRinging(caller, called), 1);
        EXPECT_EQ(c.callState, kCallRinging);
        c.Hangup();
        EXPECT_TRUE(fake.Called("sip_call_reject(" + std::to_string(code) + ")")) << cause;
        EXPECT_EQ(c.callState, kCallReleased);
        EXPECT_EQ(fake.Get(1).type, kSipTypeNone) << "the slot is freed";
        fake.ClearJournal();
    }
    c.Hangup();
    EXPECT_TRUE(fake.Journal().empty()) << "a second hang-up does nothing";

    // A call the script closed (12) stays closed: no release that would send it back to its handler.
    Answered(1);
    TagSipCall& closed = static_cast<TagSipCall&>(*lines.back()->call);
    closed.callState = kCallClosed;
    fake.ClearJournal();
    EXPECT_EQ(closed.Hangup(), 0);
    EXPECT_EQ(closed.callState, kCallClosed);
    EXPECT_FALSE(fake.Called("sip_call_bye"));
}

TEST_F(SipCallTest, HangupOfAnEstablishedCallSaysByeAndEndsItsMedia) {
    TagSipCall& c = Answered(0);
    c.Hangup();
    EXPECT_TRUE(fake.Called("sip_call_bye"));
    EXPECT_TRUE(fake.Called("sip_call_end"));
    EXPECT_EQ(c.mediaChannel, 0);
    EXPECT_EQ(c.IsMediaOk(), 0);
}

TEST_F(SipCallTest, IsOnlineHangsUpWhenThePeerHasGone) {
    TagSipCall& c = Answered(0);
    EXPECT_EQ(c.IsOnline(), 1);
    fake.SetState(1, kSipTypeIn, kSipStByed);
    EXPECT_EQ(c.IsOnline(), 0);
    EXPECT_EQ(c.callState, kCallReleased);
}

TEST_F(SipCallTest, DialOnABusySlotFailsAfterTenSecondsAndTheOfferUsesTheChannelsRtpPort) {
    TagSipCall& c0 = Call(0);
    fake.SetState(1, kSipTypeIn, kSipStEstablished);
    uint32_t before = clock.Ticks();
    EXPECT_EQ(c0.Dial("2000@127.0.0.1"), -1);
    EXPECT_GE(clock.Ticks() - before, 10000u);
    EXPECT_EQ(c0.blockValue, 1) << "channel 0 is a multiple of 30: it reports the block";
    EXPECT_FALSE(fake.Called("sip_call_out"));

    TagSipCall& c5 = Call(5);
    EXPECT_EQ(c5.Dial("2000@127.0.0.1"), 0);
    EXPECT_TRUE(fake.Called("offer(127.0.0.1:10510)"));
    EXPECT_TRUE(fake.Called("sip_call_out(2000@127.0.0.1)"));
    EXPECT_EQ(c5.callState, kCallDialing);
}

TEST_F(SipCallTest, AnAccountThatIsNotRegisteredRefusesTheDial) {
    TagSipCall& c = Call(2);
    c.SetCallerId("1001");
    fake.accountState = kSipRegPending;
    EXPECT_EQ(c.Dial("2000"), -2);
    EXPECT_EQ(c.callState, kCallReleased);
    fake.accountState = kSipRegOk;
    EXPECT_EQ(c.Dial("2000"), 0);
    EXPECT_TRUE(fake.Called("sip_call_out_by_account(1,2000)"));
}

TEST_F(SipCallTest, OutCallGivesTheRefusalTheByeAndTheAnswer) {
    clock.SetAuto(false);
    TagSipCall& c = Call(3);
    int r = 0;
    Start([&] { r = c.OutCall("2000@127.0.0.1", 0, 0); });
    fake.SetState(4, kSipTypeOut, kSipStRefused, 486);
    Join();
    EXPECT_EQ(r, -6);
    EXPECT_EQ(c.cause, 486) << "the answer code is kept for the script";
    EXPECT_EQ(c.callState, kCallReleased);

    Start([&] { r = c.OutCall("2000@127.0.0.1", 0, 0); });
    fake.SetState(4, kSipTypeOut, kSipStByed);
    Join();
    EXPECT_EQ(r, -8);

    Start([&] { r = c.OutCall("2000@127.0.0.1", 0, 0); });
    fake.ansCodeReads = 0;
    fake.SetState(4, kSipTypeOut, kSipStProceeding, 183);
    while (fake.ansCodeReads == 0 || clock.Waiters() == 0) // the line took the 183 and waits again
        std::this_thread::yield();
    fake.PeerAnswered(4);
    fake.SetState(4, kSipTypeOut, kSipStEstablished, 200);
    Join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(c.cause, 183) << "the last answer code the line took";
    EXPECT_EQ(c.callState, kCallConnected);
    EXPECT_NE(c.mediaChannel, 0);
    c.Hangup();

    clock.SetAuto(true);
    fake.ClearJournal();
    EXPECT_EQ(c.OutCall("2000@127.0.0.1", 0, 0), -2) << "nobody answers within 45 s";
    EXPECT_TRUE(fake.Called("sip_call_end")) << "the library call is ended";
}

// ---- keys

TEST_F(SipCallTest, GetKeysStopsAtTheEndKeysAndTimesOutWithWhatCame) {
    TagSipCall& c = Answered(0);
    int ch = c.mediaChannel;
    std::string keys;
    fake.Digits(ch, "12#");
    EXPECT_EQ(c.GetKeys(keys, 10, 0, '#'), 2);
    EXPECT_EQ(keys, "12") << "the terminator is not copied";

    fake.Digits(ch, "34*5#");
    EXPECT_EQ(c.GetKeys(keys, 10, 0, '*'), 3);
    EXPECT_EQ(keys, "34*") << "an end key other than the terminator is copied";
    EXPECT_EQ(c.GetKeys(keys, 10, 0, '*'), 1);
    EXPECT_EQ(keys, "5");

    fake.Digits(ch, "789");
    EXPECT_EQ(c.GetKeys(keys, 0, 0, '#'), 1) << "a count of 0 ends after the first key";
    EXPECT_EQ(keys, "7");

    EXPECT_EQ(c.GetKeys(keys, 5, 3, '#'), -1) << "three seconds without the fifth key";
    EXPECT_EQ(keys, "89");

    fake.Digits(ch, std::string(3000, '1'));
    for (int i = 0; i < 100; ++i)
        c.KeysLen();
    EXPECT_EQ(c.KeysLen(), int(TagKvCall::kKeyBufLen)) << "the key buffer does not grow without bound";
}

TEST_F(SipCallTest, GetKeysReportsTheEndOfTheCall) {
    TagSipCall& c = Answered(0);
    fake.SetState(1, kSipTypeIn, kSipStByed);
    std::string keys = "x";
    EXPECT_EQ(c.GetKeys(keys, 4, 10, '#'), -2);
    EXPECT_TRUE(keys.empty());
}

TEST_F(SipCallTest, AKeyWaitOfAnAnsweredCallWhoseAckHasNotComeBlocksUntilTheAck) {
    fake.acceptEstablishes = false;
    TagSipCall& c = Call(0);
    fake.Offer(1);
    ASSERT_EQ(c.WaitRing(1), 0);
    ASSERT_EQ(c.StartLoopPlay("prompt.wav", 0), 0); // the fake's play has ended at once
    clock.SetAuto(false);
    int result = 0;
    std::string keys;
    worker = std::thread([&] { result = c.GetKeys(keys, 1, 30, '#'); });
    // The line blocks; a line that spins looks at its ended play without bound.
    while (clock.Waiters() == 0 && fake.playEndReads < 100000)
        std::this_thread::yield();
    int reads = fake.playEndReads;
    EXPECT_LT(reads, 100) << "the key wait spins while the ACK is awaited";
    size_t plays = Count("ms_playing_create");
    {
        std::lock_guard<std::mutex> g(fake.m);
        fake.playEndsAtOnce = false; // the prompt started again plays on
    }
    fake.SetState(1, kSipTypeIn, kSipStEstablished); // the ACK
    while (Count("ms_playing_create") == plays && fake.playEndReads < reads + 100000)
        std::this_thread::yield();
    EXPECT_EQ(Count("ms_playing_create"), plays + 1) << "the prompt loops again once the call is established";
    fake.Digits(c.mediaChannel, "1");
    Join();
    clock.SetAuto(true);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(keys, "1");
}

TEST_F(SipCallTest, ACallerWhoseMediaFellSilentHasHungUp) {
    TagSipCall& c = Answered(0);
    clock.SetAuto(false);
    int result = 0;
    std::string keys;
    worker = std::thread([&] { result = c.GetKeys(keys, 4, 0, '#'); });
    while (clock.Waiters() == 0)
        std::this_thread::yield();
    fake.Silence(c.mediaChannel);
    Join();
    clock.SetAuto(true);
    EXPECT_EQ(result, -2) << "the key wait ends with the call";
    EXPECT_TRUE(fake.Called("sip_call_bye"));
    EXPECT_EQ(c.callState, kCallReleased);
}

// ---- play and record

TEST_F(SipCallTest, PlayGivesTheEndAndAPlayThatDoesNotStartLeavesNoHandle) {
    TagSipCall& c = Answered(0);
    EXPECT_EQ(c.Play("hello.wav", 1, 0), 1);
    fake.playCreateResult = -4;
    EXPECT_EQ(c.Play("missing.wav", 1, 0), -4);
    fake.playCreateResult = 0;
    fake.playStartResult = -2;
    EXPECT_EQ(c.Play("hello.wav", 1, 0), -2);
    EXPECT_TRUE(fake.playEnded.empty()) << "no handle is left";
    EXPECT_EQ(c.PlayMemory(nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(c.ReLoopPlay(), -2) << "no loop play yet";

    // New media from the peer (a re-INVITE) stops the play under the wait, which ends as for a vanished play.
    fake.playStartResult = 0;
    fake.playEndsAtOnce = false;
    clock.SetAuto(false);
    int r = 0;
    Start([&] { r = c.Play("hello.wav", 0, 0); });
    fake.peerPort = 40002;
    fake.PeerAnswered(1);
    Join();
    EXPECT_EQ(r, -1);
    clock.SetAuto(true);
}

TEST_F(SipCallTest, AHangUpTakesTheLineOutOfItsRoomWhichClosesWithTheLast) {
    TagSipCall& a = Answered(0);
    TagSipCall& b = Answered(1);
    ASSERT_EQ(a.JoinNameConf("hall", 0), 1);
    ASSERT_EQ(b.JoinNameConf("hall", 0), 2);
    std::map<int32_t, int32_t> members;
    a.Hangup();
    EXPECT_EQ(b.GetConfNum("hall", members), 1);
    b.Hangup();
    EXPECT_EQ(b.GetConfNum("hall", members), 0);
    EXPECT_TRUE(b.confClosed);
    EXPECT_EQ(Count("ms_session_destory"), 1u);
}

// Lines in a room that wait in Sleep(0) end the wait when their callers hang up, and leave the room.
TEST_F(SipCallTest, ASleepWithoutLimitEndsAtTheCallersByeAndTheRoomEmpties) {
    RegisterBuiltins();
    std::vector<TagSipCall*> calls;
    for (int ch = 0; ch < 3; ++ch) {
        calls.push_back(&Answered(ch));
        ASSERT_EQ(calls.back()->JoinNameConf("hall", 0), ch + 1);
    }
    clock.SetAuto(false);
    std::vector<std::thread> sleepers;
    for (TagSipCall* c : calls)
        sleepers.emplace_back([c] { test::RunSleep(*c, 0); });
    test::AwaitWaiters(clock, 3);
    for (int ch = 0; ch < 3; ++ch)
        fake.SetState(ch + 1, kSipTypeIn, kSipStByed);
    for (std::thread& t : sleepers)
        t.join();
    std::map<int32_t, int32_t> members;
    EXPECT_EQ(calls[0]->GetConfNum("hall", members), 0);
    for (TagSipCall* c : calls)
        EXPECT_EQ(c->callState, kCallReleased);
    clock.SetAuto(true);
}

TEST_F(SipCallTest, RecordLimitsInSamplesAndARecordingThatDoesNotStartFails) {
    TagSipCall& c = Answered(0);
    fake.recordedAtOnce = 80001;
    EXPECT_EQ(c.Record("rec.wav", 10, 1), 1) << "the online check stops a recording at its limit";
    EXPECT_TRUE(fake.Called("ms_recording_set_limit(80000)"));
    EXPECT_TRUE(fake.Called("ms_recording_destory")) << "the finished recording is closed";

    fake.recStartResult = -3;
    EXPECT_EQ(c.Record("rec.wav", 10, 1), -3) << "a recording that never started is no success";
    EXPECT_TRUE(fake.recorded.empty());
}

TEST_F(SipCallTest, RecordWithoutMediaFails) {
    TagSipCall& c = Call(0);
    EXPECT_EQ(c.SpyRec("rec.wav", 5), -2);
    EXPECT_TRUE(fake.recorded.empty());
}

// ---- a stack that does not start

TEST_F(SipCallTest, ADriverWhoseStackDidNotStartStillMakesLinesThatFindNoCall) {
    FakeSipLibs down;
    down.startResult = 7;
    TagSipDrive d(4, "127.0.0.1", 5060, 5060, 10500, *cfg, down.Libs());
    EXPECT_EQ(d.status, -1);
    auto line = d.MakeLine(3, 3);
    ASSERT_TRUE(line && line->call);
    std::string name;
    EXPECT_EQ(d.GetLineName(3, name), 0);
    EXPECT_EQ(name, "SIP:3");
    EXPECT_EQ(d.GetLineName(4, name), -1);
    TagKvCall& c = *line->call;
    EXPECT_EQ(c.IsRings(1), 0);
    EXPECT_EQ(c.Dial("2000@127.0.0.1"), -1);
    EXPECT_EQ(c.callState, kCallReleased);
    EXPECT_EQ(c.OutCall("2000@127.0.0.1", 0, 0), -1);
    EXPECT_EQ(c.Play("a.wav", 1, 0), 0);
    EXPECT_EQ(c.ImSend("2000@127.0.0.1", "text/plain", "hi", 2), -1);
    EXPECT_EQ(c.IsOnline(), 0);
}

// ---- links

class SipLinkTest : public SipCallTest {
protected:
    SipLinkTest() {
        DriverMakers makers;
        makers.sip = [this](TagRunCfg*) -> std::unique_ptr<TagKvCard> {
            return std::make_unique<TagSipDrive>(4, "127.0.0.1", 5060, 5060, 10500, *cfg, fake.Libs());
        };
        SetDriverMakers(makers);
        tel = std::make_unique<TagTelDrive>(nullptr, nullptr);
        SetTelDrive(tel.get());
        for (int i = 0; i < 3; ++i) {
            calls[i] = static_cast<TagSipCall*>(tel->Line(i)->call.get());
            fake.Offer(i + 1);
            EXPECT_EQ(calls[i]->WaitRing(1), 0);
        }
    }
    ~SipLinkTest() override {
        SetTelDrive(nullptr);
        tel.reset();
        SetDriverMakers({});
    }
    std::vector<int32_t> Links(TagSipCall& c) {
        std::vector<int32_t> l, listen, active;
        c.GetLinkList(l, listen, active);
        return l;
    }
    std::unique_ptr<TagTelDrive> tel;
    TagSipCall* calls[3] = {};
};

TEST_F(SipLinkTest, ALinkIsMadeOnceAndUnlinkingTheLastPeerEndsTheSession) {
    TagSipCall& a = *calls[0];
    EXPECT_EQ(a.LinkTo(0, 0), -1) << "not to itself";
    EXPECT_EQ(a.LinkTo(9, 0), -200) << "no such line";
    EXPECT_EQ(a.LinkTo(1, 0), 0);
    EXPECT_EQ(Links(a), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(fake.sessions.size(), 1u);
    EXPECT_EQ(a.LinkTo(1, 0), -2) << "already linked";
    EXPECT_EQ(a.UnlinkTo(2, 0), -2) << "not linked";
    EXPECT_EQ(a.UnlinkTo(1, 0), 0);
    EXPECT_TRUE(fake.sessions.empty());
    EXPECT_TRUE(Links(a).empty());
    EXPECT_EQ(a.UnlinkTo(1, 0), -1) << "no session any more";
}

TEST_F(SipLinkTest, UnlinkAllWithTwoPeersEndsTheSession) {
    TagSipCall& a = *calls[0];
    EXPECT_EQ(a.LinkTo(1, 0), 0);
    EXPECT_EQ(a.ListenTo(2, 0), 0);
    EXPECT_EQ(Links(a), (std::vector<int32_t>{1, 0, 2}));
    EXPECT_EQ(a.UnlinkAll(), 0);
    EXPECT_TRUE(fake.sessions.empty()) << "no dead session is left for the next caller's prompts";
    EXPECT_TRUE(Links(a).empty());
    fake.ClearJournal();
    EXPECT_EQ(a.Play("hello.wav", 1, 0), 1);
    auto j = fake.Journal();
    auto start =
        std::find_if(j.begin(), j.end(), [](const std::string& s) { return s.rfind("ms_playing_start(", 0) == 0; });
    ASSERT_NE(start, j.end());
    EXPECT_NE(start->find(",1,"), std::string::npos) << "the next prompt plays on the line's own channel: " << *start;
}

TEST_F(SipLinkTest, TheLinkedCallersHangUpEndsTheLinkersRecordAndSession) {
    TagSipCall& a = *calls[0];
    TagSipCall& b = *calls[1];
    ASSERT_EQ(a.LinkTo(1, 0), 0);
    // The linking line waits for a key on its own thread meanwhile.
    clock.SetAuto(false);
    std::string keys;
    Start([&] { a.GetKeys(keys, 1, 0, '#'); });
    fake.SetState(2, kSipTypeIn, kSipStByed);
    EXPECT_EQ(b.IsOnline(), 0);
    fake.Digits(a.mediaChannel, "5");
    Join();
    clock.SetAuto(true);
    EXPECT_EQ(keys, "5");
    EXPECT_TRUE(Links(a).empty()) << "the linking line still lists the caller who hung up";
    EXPECT_TRUE(fake.sessions.empty());
    fake.Offer(2);
    ASSERT_EQ(b.WaitRing(1), 0);
    EXPECT_EQ(a.LinkTo(1, 0), 0) << "the line's next caller can be linked";
}

TEST_F(SipLinkTest, AFailedLinkLeavesNoRecord) {
    TagSipCall& a = *calls[0];
    fake.sessionCreateResult = -1;
    EXPECT_EQ(a.LinkTo(1, 0), -2);
    EXPECT_TRUE(Links(a).empty());
    fake.sessionCreateResult = 0;
    EXPECT_EQ(a.LinkTo(1, 0), 0) << "the line can link again";
}

} // namespace

// ---- every wait of a line in a call ends at the caller's hang-up and at a quit

namespace {

struct LineWait {
    const char* name;
    std::function<void(TagKvCall&)> run;
};

const LineWait kSipWaits[] = {
    {"Sleep(0)", [](TagKvCall& c) { test::RunSleep(c, 0); }},
    {"Sleep(30)", [](TagKvCall& c) { test::RunSleep(c, 30); }},
    {"Play", [](TagKvCall& c) { c.Play("hello.wav", 0, 0); }},
    {"Record", [](TagKvCall& c) { c.Record("rec.wav", 60, 1); }},
    {"GetKeys",
     [](TagKvCall& c) {
         std::string keys;
         c.GetKeys(keys, 4, 30, '#');
     }},
    {"PlayConf",
     [](TagKvCall& c) {
         ASSERT_EQ(c.JoinNameConf("hall", 0), 1);
         c.PlayConf("hall", "hello.wav", 1);
     }},
};

} // namespace

TEST_F(SipCallTest, EveryWaitEndsAtTheCallersByeAndAtAQuit) {
    fake.playEndsAtOnce = false;
    int channel = 0;
    for (bool quit : {false, true})
        for (const LineWait& w : kSipWaits) {
            SCOPED_TRACE(std::string(w.name) + (quit ? " quit" : " bye"));
            TagSipCall& c = Answered(channel++);
            clock.SetAuto(false);
            worker = std::thread([&] { w.run(c); });
            test::AwaitWaiters(clock);
            if (quit)
                c.RequestStop();
            else
                fake.SetState(c.ChannelIndex() + 1, kSipTypeIn, kSipStByed);
            Join();
            clock.SetAuto(true);
            EXPECT_EQ(c.callState, quit ? kCallConnected : kCallReleased);
            c.ExitNameConf();
        }
}

TEST_F(SipCallTest, TheRingAndDialWaitsEndAtAQuit) {
    clock.SetAuto(false);
    for (int ch = 0; ch < 2; ++ch) {
        TagSipCall& c = Call(ch);
        int r = 1;
        Start([&] { r = ch == 0 ? c.WaitRing(1) : c.OutCall("2000@127.0.0.1", 0, 0); });
        c.RequestStop();
        Join();
        EXPECT_EQ(r, ch == 0 ? 0 : -2);
        EXPECT_NE(c.callState, kCallConnected);
    }
    clock.SetAuto(true);
}

// ---- a card line linked to a SIP line

namespace {

// The media engine as the card lines see it, with channels that exist (the scripted stack has none).
struct CardChannels : test::QuietCardMedia {
    int32_t ms_recording_create(int32_t& h, const char*) override { return h = 0, -1; }
    int32_t ms_recording_start(int32_t, int32_t, int32_t) override { return -1; }
    int32_t ms_playing_create(int32_t& h, const char*, WakeEvent*) override { return h = 0, -1; }
    int32_t ms_playing_start(int32_t, int32_t, int32_t) override { return -1; }
    int32_t ms_playing_is_end(int32_t, int32_t& e) override { return e = 1, 0; }
};

// Line 0 a card ISUP trunk on the simulated card, lines 1 and 2 SIP lines; both calls answered.
class SipCardLinkTest : public SipCallTest {
protected:
    SipCardLinkTest() {
        TestDir::Write("ShConfig.ini", "ChannelTypes=11\nControlPort=-1\n");
        const std::string folder = std::filesystem::current_path().string() + "/";
        DriverMakers makers;
        makers.card = [this, folder](TagRunCfg*) -> std::unique_ptr<TagKvCard> {
            auto sim = std::make_unique<CardSim>();
            this->sim = sim.get();
            return std::make_unique<TagShDrive>(std::move(sim), folder);
        };
        makers.sip = [this](TagRunCfg*) -> std::unique_ptr<TagKvCard> {
            return std::make_unique<TagSipDrive>(2, "127.0.0.1", 5060, 5060, 10500, *cfg, fake.Libs());
        };
        SetDriverMakers(makers);
        tel = std::make_unique<TagTelDrive>(nullptr, nullptr);
        SetTelDrive(tel.get());
        SetCardMedia(&channels);
        card = static_cast<TagShCall*>(tel->Line(0)->call.get());
        sip = static_cast<TagSipCall*>(tel->Line(1)->call.get());
        sim->Ring(0, "8001", "5000");
        card->WaitRing(1);
        fake.Offer(sip->ChannelIndex() + 1);
        sip->WaitRing(1);
    }
    ~SipCardLinkTest() override {
        SetTelDrive(nullptr);
        tel.reset();
        SetCardMedia(nullptr);
        SetDriverMakers({});
    }
    std::vector<int32_t> Links(TagKvCall& c) {
        std::vector<int32_t> l, listen, modes;
        c.GetLinkList(l, listen, modes);
        return l;
    }
    CardChannels channels;
    CardSim* sim = nullptr;
    std::unique_ptr<TagTelDrive> tel;
    TagShCall* card = nullptr;
    TagSipCall* sip = nullptr;
};

} // namespace

TEST_F(SipCardLinkTest, EitherCallersHangUpEndsTheLinkOnBothSides) {
    ASSERT_EQ(card->callState, kCallConnected);
    ASSERT_EQ(card->LinkTo(1, 0), 0);
    EXPECT_EQ(Links(*card), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(Links(*sip), (std::vector<int32_t>{0, 1}));
    fake.SetState(sip->ChannelIndex() + 1, kSipTypeIn, kSipStByed);
    EXPECT_EQ(sip->IsOnline(), 0);
    EXPECT_TRUE(Links(*sip).empty());
    EXPECT_TRUE(Links(*card).empty()) << "the card line still lists the SIP caller who hung up";
    EXPECT_EQ(card->linkedCall.load(), nullptr);
    EXPECT_EQ(card->mediaChannel, 0);

    fake.Offer(sip->ChannelIndex() + 1);
    sip->WaitRing(1);
    ASSERT_EQ(card->LinkTo(1, 0), 0);
    sim->FarHangup(0);
    EXPECT_EQ(card->IsOnline(), 0);
    EXPECT_TRUE(Links(*card).empty());
    EXPECT_TRUE(Links(*sip).empty()) << "the SIP line still lists the card caller who hung up";
}

TEST_F(SipCardLinkTest, ALinkTheSipLineRefusesLeavesTheCardLineUnbridged) {
    fake.sessionCreateResult = -1;
    EXPECT_NE(card->LinkTo(1, 0), 0);
    EXPECT_EQ(card->linkedCall.load(), nullptr);
    EXPECT_EQ(card->mediaChannel, 0) << "the bridge still runs";
    EXPECT_TRUE(Links(*card).empty());
    fake.sessionCreateResult = 0;
    EXPECT_EQ(card->LinkTo(1, 0), 0) << "the line can link again";
    EXPECT_EQ(card->linkedCall.load(), sip);
}
