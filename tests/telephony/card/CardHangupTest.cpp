// The end of a card call: the far end's release ends the line's waits, and a hang-up takes the line out of its
// room, its links and its media bridge, so that neither the next caller nor the card's threads reach what the
// call left.
#include "CardFixture.h"

#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "telephony/card/CardMedia.h"
#include "tests/support/ClockHandshake.h"
#include "tests/support/LineStubs.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace zz::test {

namespace {

void Connect(CardSim& sim, TagShCall& c, int32_t ch) {
    sim.Ring(ch, "8001", "5000");
    c.WaitRing(1);
    ASSERT_EQ(c.callState, kCallConnected);
}

// A media library that counts the blocks pushed to each of its channels.
struct CountingMedia : QuietCardMedia {
    std::mutex m;
    std::condition_variable cv;
    std::map<int32_t, int32_t> pushed; // under m
    int32_t ms_push_data(int32_t h, const uint8_t*, int32_t) override {
        std::lock_guard<std::mutex> g(m);
        ++pushed[h];
        cv.notify_all();
        return 0;
    }

    // Waits until the channel has n more blocks than it had.
    void AwaitMore(int32_t h, int32_t n) {
        std::unique_lock<std::mutex> lk(m);
        const int32_t from = pushed[h];
        cv.wait(lk, [&] { return pushed[h] >= from + n; });
    }
};

// The far side of a media bridge (a SIP line): what the card line asked of it.
struct BridgePeer : TagKvCall {
    int LinkTo(int32_t line, int32_t) override { return linked.push_back(line), 0; }
    int UnlinkTo(int32_t line, int32_t) override { return unlinked.push_back(line), 0; }
    std::vector<int32_t> linked, unlinked;
};

} // namespace

TEST_F(CardTest, TheFarEndsReleaseEndsASleepAndHangsTheLineUp) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    for (int32_t ch : {1, 2})
        Connect(*sim_, Line(ch), ch);
    clock.SetAuto(false);
    for (int32_t ch : {1, 2}) {
        const int32_t seconds = ch == 1 ? 0 : 30;
        std::thread line = RunWaiting(clock, [&] { RunSleep(Line(ch), seconds); });
        sim_->FarHangup(ch);
        line.join();
        EXPECT_EQ(clock.Ticks(), 0u) << "Sleep(" << seconds << ") ended at the release";
        EXPECT_EQ(Line(ch).callState, kCallReleased);
    }
    EXPECT_EQ(Calls("SsmIsupRelease(").size(), 2u);
}

TEST_F(CardTest, AHangUpLeavesTheRoomAndEndsTheLinksBothWays) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    CardCfg().makeSipConf = false; // the room is a card conference group
    for (int32_t ch : {3, 5, 7})
        Connect(*sim_, Line(ch), ch);
    ASSERT_EQ(Line(3).JoinNameConf("room", 0), 1);
    ASSERT_EQ(Line(5).JoinNameConf("room", 0), 2);
    sim_->FarHangup(5);
    EXPECT_EQ(Line(5).IsOnline(), 0);
    std::map<int32_t, int32_t> members;
    EXPECT_EQ(Line(3).GetConfNum("room", members), 1);
    EXPECT_EQ(members.count(5), 0u);
    std::string room;
    int32_t listen = 0;
    EXPECT_EQ(Line(5).IsInConf(5, room, listen), 0);

    // The owner of a link hangs up: the member leaves the owner's group; and a member's hang-up leaves it too.
    Connect(*sim_, Line(1), 1);
    ASSERT_EQ(Line(1).LinkTo(7, 0), 0);
    ASSERT_GE(sim_->Channel(7)->group, 0);
    sim_->FarHangup(1);
    EXPECT_EQ(Line(1).IsOnline(), 0);
    EXPECT_EQ(sim_->Channel(7)->group, -1);
    EXPECT_EQ(sim_->Channel(1)->group, -1);
    Connect(*sim_, Line(1), 1);
    ASSERT_EQ(Line(1).LinkTo(7, 0), 0);
    sim_->FarHangup(7);
    EXPECT_EQ(Line(7).IsOnline(), 0);
    EXPECT_EQ(sim_->Channel(7)->group, -1);
    std::vector<int32_t> lines, listens, modes;
    Line(1).GetLinkList(lines, listens, modes);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), 7), 0);

    // A bridge to a SIP line ends with the card caller's hang-up, on both sides.
    CountingMedia media;
    SetCardMedia(&media);
    BridgePeer peer;
    peer.lineNo = 40;
    Line(3).LinkMedia(&peer);
    media.AwaitMore(Line(3).mediaChannel, 1);
    sim_->FarHangup(3);
    EXPECT_EQ(Line(3).IsOnline(), 0);
    EXPECT_EQ(peer.unlinked, std::vector<int32_t>{3});
    EXPECT_EQ(Line(3).linkedCall, nullptr);
    EXPECT_EQ(Line(3).mediaChannel, 0);
    SetCardMedia(nullptr);
}

// Every wait of a line in a call ends at once when the caller hangs up and when the line is stopped (a quit).
TEST_F(CardTest, EveryWaitEndsAtTheCallersReleaseAndAtAQuit) {
    Start();
    CardCfg().makeSipConf = false;
    const std::string voice = Voice("long.wav", 600000);
    struct Wait {
        const char* name;
        std::function<void(TagShCall&)> run;
    };
    const Wait waits[] = {
        {"Sleep(0)", [](TagShCall& c) { RunSleep(c, 0); }},
        {"Sleep(30)", [](TagShCall& c) { RunSleep(c, 30); }},
        {"Play", [&](TagShCall& c) { c.Play(voice.c_str(), 0, 0); }},
        {"Record", [&](TagShCall& c) { c.Record(Path("rec.wav").c_str(), 60, 1); }},
        {"GetKeys",
         [](TagShCall& c) {
             std::string keys;
             c.GetKeys(keys, 4, 30, '#');
         }},
        {"PlayConf",
         [&](TagShCall& c) {
             ASSERT_EQ(c.JoinNameConf("room", 0), 1);
             c.PlayConf("room", voice.c_str(), 1);
         }},
        {"RecvFax", [&](TagShCall& c) { c.RecvFax(Path("in.tif").c_str()); }},
        {"RecvFskMsg",
         [](TagShCall& c) {
             int32_t type = 0;
             std::string text;
             c.RecvFskMsg(type, text, 60);
         }},
    };
    VirtualClock clock;
    ScopedClock use(&clock);
    for (bool quit : {false, true})
        for (const Wait& w : waits) {
            SCOPED_TRACE(std::string(w.name) + (quit ? " quit" : " release"));
            const int32_t ch = 2;
            Connect(*sim_, Line(ch), ch);
            clock.SetAuto(false);
            std::thread line = RunWaiting(clock, [&] { w.run(Line(ch)); });
            if (quit)
                Line(ch).RequestStop();
            else
                sim_->FarHangup(ch);
            line.join();
            clock.SetAuto(true);
            EXPECT_EQ(Line(ch).callState, quit ? kCallConnected : kCallReleased);
            Line(ch).stopFlag = false;
            Line(ch).Hangup();
        }
}

// The ring waits end when the caller gives up while it rings and when the line is stopped; a dial ends at a stop.
TEST_F(CardTest, TheRingAndDialWaitsEndWhenTheCallerGivesUpAndAtAQuit) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    const std::function<int(TagShCall&)> waits[] = {
        [](TagShCall& c) { return c.IsRings(3); },
        [](TagShCall& c) { return c.WaitRing(3); },
    };
    for (bool quit : {false, true})
        for (const auto& wait : waits) {
            SCOPED_TRACE(quit ? "quit" : "gave up");
            ASSERT_EQ(sim_->Ring(kAnalog, "8001", "5000"), 0);
            clock.SetAuto(false);
            int r = -9;
            std::thread line = RunWaiting(clock, [&] { r = wait(Line(kAnalog)); });
            if (quit)
                Line(kAnalog).RequestStop();
            else
                sim_->FarHangup(kAnalog);
            line.join();
            clock.SetAuto(true);
            EXPECT_EQ(r, 0);
            Line(kAnalog).stopFlag = false;
            Line(kAnalog).Hangup();
        }
    // A dial that waits for the far end's answer ends at a quit too.
    clock.SetAuto(false);
    int r = 0;
    std::thread dial = RunWaiting(clock, [&] { r = Line(kIsup).OutCall("12345", 0, 0); });
    Line(kIsup).RequestStop();
    dial.join();
    clock.SetAuto(true);
    EXPECT_EQ(r, -2);
    EXPECT_EQ(Line(kIsup).callState, kCallReleased);
}

// A line that goes while its bridge runs stops the card's block pump first: no block is written into it after.
TEST_F(CardTest, ALineThatGoesWhileBridgedLeavesNoBlockInThePump) {
    Start();
    CountingMedia media;
    SetCardMedia(&media);
    BridgePeer peer;
    for (int32_t ch : {1, 2}) {
        Connect(*sim_, Line(ch), ch);
        Line(ch).LinkMedia(&peer);
    }
    const int32_t other = Line(2).mediaChannel;
    media.AwaitMore(Line(1).mediaChannel, 2);
    lines_[1].reset();
    media.AwaitMore(other, 4); // the pump went round twice more
    EXPECT_FALSE(Calls("SsmStopRecordMemBlock(1)").empty());
    lines_.clear();
    SetCardMedia(nullptr);
}

} // namespace zz::test
