// Voice, keys, recording, links, conference groups, fax and FSK of card lines on the simulated card, and the
// simulated card's control port.
#include "CardFixture.h"

#include "telephony/card/CardControl.h"
#include "telephony/card/CardMedia.h"
#include "tests/support/LineStubs.h"

#include <condition_variable>
#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zz::test {

namespace {
// Answers an offered call on the line.
void Connect(CardSim& sim, TagShCall& c, int32_t ch) {
    sim.Ring(ch, "8001", "5000");
    c.WaitRing(1);
    ASSERT_EQ(c.callState, kCallConnected);
}
} // namespace

TEST_F(CardTest, PlayKeysAndRecording) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    TagShCall& c = Line(kIsup);
    Connect(*sim_, c, kIsup);
    const std::string hello = Voice("hello.wav", 1500);

    uint32_t t0 = clock.Ticks();
    EXPECT_EQ(c.Play(hello.c_str(), 1, 0), 1); // played to its end
    EXPECT_GE(clock.Ticks() - t0, 1500u);
    EXPECT_EQ(sim_->TakeOutput(kIsup).size(), MsToBytes(1500));
    EXPECT_LT(c.Play("missing.wav", 1, 0), 0);
    sim_->SendDtmf(kIsup, "12#5");
    EXPECT_EQ(c.Play(hello.c_str(), 1, 0), 1); // keys waiting: not played
    EXPECT_EQ(sim_->Channel(kIsup)->played.size(), 1u);

    std::string keys;
    EXPECT_EQ(c.GetKeys(keys, 4, 0, '#'), 2);
    EXPECT_EQ(keys, "12");
    EXPECT_EQ(c.keyBuf, "5");
    sim_->SendDtmf(kIsup, "7*9");
    EXPECT_EQ(c.GetKeys(keys, 10, 0, '*'), 3);
    EXPECT_EQ(keys, "57*");
    t0 = clock.Ticks();
    EXPECT_EQ(c.GetKeys(keys, 4, 5, '#'), -1); // no key within 5 s
    EXPECT_GE(clock.Ticks() - t0, 5000u);
    sim_->SendDtmf(kIsup, "3");
    c.SetKeyTime(2);
    EXPECT_EQ(c.GetKeys(keys, 4, 60, '#'), -1); // the inter-key time ends it with what came
    EXPECT_EQ(keys, "3");
    c.SetKeyTime(0);

    // Silence ends a recording with silence detection after two silent blocks; speech keeps it going.
    const std::string rec = Path("rec.wav");
    t0 = clock.Ticks();
    EXPECT_EQ(c.Record(rec.c_str(), -10, 0), -1);
    EXPECT_LE(clock.Ticks() - t0, 1500u);
    sim_->FeedBytes(kIsup, std::vector<uint8_t>(MsToBytes(3000), 0xAA));
    t0 = clock.Ticks();
    EXPECT_EQ(c.Record(rec.c_str(), -10, 0), -1);
    EXPECT_GE(clock.Ticks() - t0, 3000u);
    EXPECT_GT(std::filesystem::file_size(rec), 44u + MsToBytes(3000));
    // A plain recording runs to its limit; a key ends it when asked to.
    EXPECT_EQ(c.Record(rec.c_str(), 2, 0), 1);
    EXPECT_EQ(std::filesystem::file_size(rec), 44u + MsToBytes(2000));
    sim_->SendDtmf(kIsup, "9");
    EXPECT_EQ(c.Record(rec.c_str(), 20, 1), 0);

    // The far end hangs up during a play: the play ends and the call is released.
    sim_->FarHangup(kIsup);
    EXPECT_EQ(c.Play(hello.c_str(), 0, 0), 0);
    EXPECT_EQ(c.callState, kCallReleased);
    std::string none;
    EXPECT_EQ(c.GetKeys(none, 4, 5, '#'), -2);
    uint8_t small[57] = {};
    EXPECT_EQ(c.PlayMemory(small, 0, 57, 0, 0), 2);
}

TEST_F(CardTest, LinksAndListeningBetweenTwoLines) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    for (int32_t ch : {1, 2, 3})
        Connect(*sim_, Line(ch), ch);
    EXPECT_EQ(Line(1).LinkTo(1, 0), -1);
    EXPECT_EQ(Line(1).LinkTo(-1, 0), -1);
    EXPECT_EQ(Line(1).LinkTo(99, 0), -200);

    EXPECT_EQ(Line(1).LinkTo(2, 7), 0);
    auto a = sim_->Channel(1), b = sim_->Channel(2);
    EXPECT_GE(a->group, 0);
    EXPECT_EQ(a->group, b->group);
    EXPECT_EQ(a->groupMode, 1);
    EXPECT_EQ(b->groupMode, 0);
    EXPECT_EQ(Line(2).confGroup, a->group);
    EXPECT_EQ(Line(2).confOwner, 1);
    EXPECT_EQ(Line(1).LinkTo(2, 7), 2); // already a member
    std::vector<int32_t> lines, listen, modes;
    EXPECT_EQ(Line(1).GetLinkList(lines, listen, modes), 2);
    EXPECT_EQ(lines, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(modes, (std::vector<int32_t>{1, 7}));
    // Keys and voice of one line reach the other.
    EXPECT_EQ(Line(1).SetKeys("42"), 0);
    EXPECT_EQ(Line(2).KeysLen(), 2);
    EXPECT_EQ(Line(1).ListenTo(3, 0), 0);
    EXPECT_EQ(sim_->Channel(3)->groupMode, 2);
    EXPECT_EQ(Line(1).UnlinkTo(5, 0), -1);

    // The last other member leaves: the group is freed with the own channel taken out.
    EXPECT_EQ(Line(1).UnlinkTo(3, 0), 0);
    EXPECT_EQ(Line(1).UnlinkTo(2, 0), 0);
    EXPECT_EQ(Line(1).GetLinkList(lines, listen, modes), 0);
    EXPECT_EQ(sim_->Channel(1)->group, -1);
    EXPECT_EQ(Line(1).confGroup, -1);

    // Without card conferences the lines talk directly; the records stay even when the talk fails.
    _isConfEnable = false;
    sim_->Fail("SsmTalkWithEx", -1, 1);
    EXPECT_EQ(Line(1).LinkTo(2, 0), -1);
    EXPECT_EQ(Line(1).GetLinkList(lines, listen, modes), 2);
    EXPECT_EQ(Line(1).UnlinkTo(2, 0), -1);
    EXPECT_EQ(Line(1).LinkTo(3, 0), 0);
    EXPECT_EQ(sim_->Channel(3)->talk, std::vector<int32_t>{1});
    EXPECT_EQ(Line(1).UnlinkTo(3, 0), 0);
    EXPECT_EQ(Line(1).GetLinkList(lines, listen, modes), 0);
}

TEST_F(CardTest, ConferenceGroupAcrossLines) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    for (int32_t ch : {3, 5, 7})
        Connect(*sim_, Line(ch), ch);
    ASSERT_EQ(Line(3).LinkTo(5, 0), 0);
    // Line 5, in line 3's group, links line 7: 7 joins that group and is recorded by line 5.
    ASSERT_EQ(Line(5).LinkTo(7, 0), 0);
    const int32_t group = sim_->Channel(3)->group;
    EXPECT_EQ(sim_->Channel(7)->group, group);
    EXPECT_EQ(Line(7).confOwner, 5);
    std::vector<int32_t> lines, listen, modes;
    Line(5).GetLinkList(lines, listen, modes);
    EXPECT_EQ(lines, std::vector<int32_t>{7});
    // A play on line 3 is heard by both members.
    const std::string v = Voice("conf.wav", 200);
    Line(3).Play(v.c_str(), 0, 0);
    EXPECT_EQ(sim_->Channel(5)->state, kChTalking);
    // Line 7 leaves through its owner's call, on its own thread.
    Line(7).UnlinkAll();
    EXPECT_EQ(sim_->Channel(7)->group, -1);
    EXPECT_EQ(Line(7).confGroup, -1);
    Line(5).GetLinkList(lines, listen, modes);
    EXPECT_TRUE(lines.empty());

    // An owner's member list changes on the owner's thread and on a leaving member's at once.
    ASSERT_EQ(Line(3).LinkTo(7, 0), 0);
    std::thread owner([&] {
        for (int i = 0; i < 50; ++i) {
            Line(3).LinkTo(5, 0);
            Line(3).UnlinkTo(5, 0);
        }
    });
    Line(7).UnlinkAll();
    owner.join();
    Line(3).GetLinkList(lines, listen, modes);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), 7), 0);
    EXPECT_EQ(sim_->Channel(7)->group, -1);
}

TEST_F(CardTest, ARoomOfCardLinesTakesAPlayAndItsEnd) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    CardCfg().makeSipConf = false; // the room is a card conference group
    for (int32_t ch : {3, 5})
        Connect(*sim_, Line(ch), ch);
    ASSERT_EQ(Line(3).JoinNameConf("room", 0), 1);
    ASSERT_EQ(Line(5).JoinNameConf("room", 0), 2);
    // The play goes out of line 3's channel, which the group hears; waiting ends with it.
    const std::string v = Voice("bell.wav", 300);
    EXPECT_GT(Line(3).PlayConf("room", v.c_str(), 1), 0);
    EXPECT_EQ(Calls("SsmPlayFile(3").size(), 1u);
    EXPECT_NE(sim_->SsmCheckPlay(3), 0);
    EXPECT_GT(Line(3).PlayConf("room", v.c_str(), 0), 0) << "the ended play left the room free for the next";
    EXPECT_EQ(Line(3).PlayConf("room", v.c_str(), 0), -2);
    // One recording a room, on the channel of the line that started it, stopped when the room closes.
    const std::string rec = Path("room.wav");
    EXPECT_EQ(Line(3).RecConf("room", rec.c_str()), 4);
    EXPECT_EQ(Line(5).RecConf("room", rec.c_str()), -2);
    Line(3).ExitNameConf();
    Line(5).ExitNameConf();
    EXPECT_EQ(Calls("SsmStopRecord(3)").size(), 1u);
    EXPECT_EQ(sim_->Channel(3)->group, -1);
}

TEST_F(CardTest, FaxSendAndReceiveTiff) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    Connect(*sim_, Line(1), 1);
    Connect(*sim_, Line(2), 2);
    const std::string page = Path("page.tif");
    WriteTiff(page);
    Line(1).SetFaxLocalId("0123456789012345678901234");
    EXPECT_EQ(Line(1).faxLocalId, "01234567890123456789");
    EXPECT_EQ(Line(1).SendFax(page.c_str()), 1);
    EXPECT_EQ(sim_->Channel(1)->faxSent, std::vector<std::string>{page});
    // The card's settling answer (3) is asked again after a short wait, then the end.
    auto ends = Calls("SsmFaxCheckEnd(8)");
    ASSERT_GE(ends.size(), 2u);
    EXPECT_NE(std::find(ends.begin(), ends.end(), "SsmFaxCheckEnd(8) = 3"), ends.end());

    sim_->QueueFax(2, page);
    const std::string got = Path("got.tif");
    EXPECT_EQ(Line(2).RecvFax(got.c_str()), 1);
    std::string cmd = "tiffinfo " + got + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    int32_t total = 0, busy = 0;
    Line(2).GetFaxResource(total, busy);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(busy, 0);

    // Both fax channels taken: none to allocate.
    drive_->faxRecs[0].busy = drive_->faxRecs[1].busy = 1;
    EXPECT_EQ(Line(1).SendFax(page.c_str()), -1);
    drive_->faxRecs[0].busy = drive_->faxRecs[1].busy = 0;
    // Nothing arrives within a minute: the receive fails with no pages.
    EXPECT_EQ(Line(2).RecvFax(got.c_str()), 0);
    EXPECT_LT(Line(1).SendFax(Path("none.tif").c_str()), 0);
}

TEST_F(CardTest, FskFramesBothWays) {
    Start();
    VirtualClock clock;
    ScopedClock use(&clock);
    Connect(*sim_, Line(1), 1);
    Connect(*sim_, Line(2), 2);
    _isConfEnable = false;
    ASSERT_EQ(Line(1).LinkTo(2, 0), 0);
    EXPECT_EQ(Line(1).SendFskMsg(1, "abc", 0), 6);
    EXPECT_EQ(Hex(sim_->Channel(1)->fskSent.at(0)), "01036162"
                                                    "63D6");
    int32_t type = 0;
    std::string text;
    EXPECT_EQ(Line(2).RecvFskMsg(type, text, 10), 3);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(Line(2).SendFskMsg(2, "", 0), 3);
    EXPECT_EQ(Line(1).RecvFskMsg(type, text, 10), 0);
    EXPECT_EQ(type, 2);

    // A bad checksum, a frame as long as the receive buffer, and the card's time-outs.
    sim_->DeliverFsk(2, {0x01, 0x02, 'h', 'i', 0x00});
    EXPECT_EQ(Line(2).RecvFskMsg(type, text, 10), -2);
    sim_->DeliverFsk(2, std::vector<uint8_t>(1024, 0x31));
    EXPECT_EQ(Line(2).RecvFskMsg(type, text, 10), -2);
    uint32_t t0 = clock.Ticks();
    EXPECT_EQ(Line(2).RecvFskMsg(type, text, 0), -102);
    EXPECT_GE(clock.Ticks() - t0, 5000u);
    Line(2).RecvFskMsg(type, text, 70);
    EXPECT_EQ(Calls("SsmStartRcvFSK_II(2, 4464").size(), 1u);
}

namespace {
// Records what the media library is asked to carry.
struct FakeMedia : test::QuietCardMedia {
    std::mutex m;
    std::condition_variable cv;
    std::vector<int32_t> pushed; // under m
    int32_t ms_external_channel_create(int32_t& h) override { return h = 7, 0; }
    int32_t ms_push_data(int32_t, const uint8_t*, int32_t n) override {
        std::lock_guard<std::mutex> g(m);
        pushed.push_back(n);
        cv.notify_all();
        return 0;
    }
};
} // namespace

TEST_F(CardTest, MediaBridgeBlocksAndConferenceRooms) {
    VirtualClock clock(0, false); // the card hands no block back until the test moves its time
    ScopedClock use(&clock);
    Start();
    FakeMedia media;
    SetCardMedia(&media);
    TagShCall& c = Line(1);
    EXPECT_EQ(c.EndRtp(), 0);
    EXPECT_EQ(c.StartRtp(), 0);
    EXPECT_EQ(c.mediaChannel, 7);
    EXPECT_EQ(Calls("SsmRecordMemBlock(1").size(), 2u);
    EXPECT_EQ(Calls("SsmPlayMemBlock(1").size(), 2u);
    // A full block goes to the media channel whole, never a byte past its 320.
    while (clock.Waiters() == 0)
        std::this_thread::yield();
    clock.Advance(40);
    {
        std::unique_lock<std::mutex> lk(media.m);
        media.cv.wait(lk, [&] { return !media.pushed.empty(); });
        EXPECT_EQ(media.pushed[0], 320);
    }
    clock.SetAuto(true); // the stop's pause
    c.EndRtp();
    EXPECT_EQ(c.mediaChannel, 0);
    SetCardMedia(nullptr);
    int32_t kind = 0, session = 0;
    EXPECT_EQ(c.CreateConfRoom(kind, session), -2);
    EXPECT_EQ(kind, 1);
    CardCfg().makeSipConf = false;
    int32_t group = c.CreateConfRoom(kind, session);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(group, session);
    EXPECT_EQ(c.JoinConfRoom(session, 0, 0), 0);
    EXPECT_EQ(c.ExitConfRoom(session, 0), 0);
    EXPECT_EQ(c.DeleteConfRoom(session, 0), 0);
    int32_t h = 5;
    EXPECT_EQ(c.StopPlayConfRoom(1, 1, 0), -1);
    EXPECT_EQ(c.StopSipRecCh(0), -1);
    EXPECT_EQ(c.PlayConfRoom(1, 1, "x.wav", h), -1);
    lines_.clear();
    drive_.reset(); // the card's threads end while the test's clock is still there
}

TEST_F(CardTest, ControlPortDrivesTheFarEnd) {
    Start();
    CardControl control(*sim_);
    const int32_t port = control.Start(0);
    ASSERT_GT(port, 0);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    auto ask = [fd](const std::string& line) {
        std::string out = line + "\n";
        send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        std::string reply;
        char ch;
        while (recv(fd, &ch, 1, 0) == 1 && ch != '\n')
            reply += ch;
        return reply;
    };
    EXPECT_EQ(ask("RING 0 5551234 100"), "OK");
    EXPECT_EQ(ask("STATE 0"), "OK 2 type=0");
    EXPECT_EQ(ask("DTMF 0 12#"), "OK");
    EXPECT_EQ(sim_->Channel(0)->state, kChRinging);
    EXPECT_EQ(ask("RING 0"), "ERR channel 0 is not idle");
    EXPECT_EQ(ask("BOGUS 0"), "ERR unknown command BOGUS");
    EXPECT_EQ(ask("FAIL SsmPickup -5 1"), "OK");
    EXPECT_EQ(sim_->SsmPickup(0), -5);
    EXPECT_EQ(ask("FSK 2 1 hello"), "OK");
    EXPECT_EQ(ask("SAVE 1 out.wav"), "OK 0");
    EXPECT_NE(ask("JOURNAL 2").find("SsmPickup(0) = -5"), std::string::npos);
    close(fd);
    EXPECT_EQ(control.Execute("RINGISUP 1 85000001000002010200"), "OK");
    EXPECT_EQ(control.Execute("ISUP 1"), "OK");
}

} // namespace zz::test
