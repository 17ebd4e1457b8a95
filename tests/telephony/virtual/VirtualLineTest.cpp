// Virtual lines on the fake sound card: names, link rules, the bridge's sound both ways and its end, the keys of
// the Keys column and recording.
#include "VirtualFakes.h"

#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "telephony/TagTelLine.h"
#include "telephony/virtual/TagVirCall.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace zz;
using namespace zz::test;

namespace {

// The fake sound card, with a hook run when the bridge opens its output (its input already runs then), an output
// that cannot be had, and an input that can hold its reader once it has taken a block, until let go.
class HookedAudio : public AudioBackend {
public:
    explicit HookedAudio(FakeAudio& card) : card_(card) {}
    int OpenOut(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioOut>& out) override {
        if (beforeOut) beforeOut();
        return failOut ? kAudioAllocated : card_.OpenOut(device, f, out);
    }
    int OpenIn(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioIn>& in) override {
        std::unique_ptr<AudioIn> raw;
        int r = card_.OpenIn(device, f, raw);
        if (r == kAudioOk) in = std::make_unique<HeldIn>(hold_, std::move(raw));
        return r;
    }
    // The next block read keeps its reader until Release.
    void HoldNextRead() {
        std::lock_guard<std::mutex> g(hold_->m);
        hold_->on = true;
        hold_->held = false;
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> lk(hold_->m);
        return hold_->cv.wait_for(lk, std::chrono::seconds(10), [&] { return hold_->held; });
    }
    void Release() { hold_->Release(); }
    std::function<void()> beforeOut;
    bool failOut = false;

private:
    // Shared with the devices, which the lines may close after this card is gone.
    struct Hold {
        std::mutex m;
        std::condition_variable cv;
        bool on = false, held = false;
        void Release() {
            std::lock_guard<std::mutex> g(m);
            on = false;
            cv.notify_all();
        }
    };
    class HeldIn : public AudioIn {
    public:
        HeldIn(std::shared_ptr<Hold> h, std::unique_ptr<AudioIn> in)
            : AudioIn(in->Format()), h_(std::move(h)), in_(std::move(in)) {}
        int Read(void* buf, size_t len) override {
            int n = in_->Read(buf, len);
            std::unique_lock<std::mutex> lk(h_->m);
            if (h_->on && n > 0) {
                h_->held = true;
                h_->cv.notify_all();
                h_->cv.wait(lk, [&] { return !h_->on; });
            }
            return n;
        }
        void Reset() override {
            h_->Release();
            in_->Reset();
        }
        uint64_t Captured() const override { return in_->Captured(); }

    private:
        std::shared_ptr<Hold> h_;
        std::unique_ptr<AudioIn> in_;
    };

    FakeAudio& card_;
    std::shared_ptr<Hold> hold_ = std::make_shared<Hold>();
};

struct VirtualLine : ::testing::Test, VirtualLines {
    TagKvCall& v = Call(kVir);
    HookedAudio hooked{card};
    ScopedAudioBackend scopedHooked{&hooked};

    // Grants the output one block at a time until it has played a block holding `bytes`; the block.
    std::string PlayedBlockWith(const std::string& bytes) {
        for (size_t writes = card.WriteSizes().size(); writes < 200; ++writes) {
            std::vector<uint8_t> p = card.Played();
            std::string all(p.begin(), p.end());
            size_t at = all.find(bytes);
            if (at != std::string::npos) return all.substr(at - at % VirBridge::kBlock, VirBridge::kBlock);
            card.Grant(1);
            card.WaitWrites(writes + 1);
        }
        return {};
    }
};

} // namespace

TEST_F(VirtualLine, NamesKindAndTheLinesItRefuses) {
    EXPECT_STREQ(drive->Line(kVir)->name, "VirtualLine0#");
    EXPECT_STREQ(drive->Line(kVir2)->name, "VirtualLine1#");
    EXPECT_EQ(v.lineKind, kLineVirtual);
    EXPECT_EQ(v.GetHookState(), 1);
    EXPECT_EQ(v.LinkTo(kVir, 0), -1);
    EXPECT_EQ(v.LinkTo(-1, 0), -1);
    EXPECT_EQ(v.LinkTo(kVir2, 0), -200);
    EXPECT_EQ(v.LinkTo(kCard, 0), -200);
    EXPECT_EQ(v.LinkTo(99, 0), -200);
    EXPECT_EQ(v.UnlinkTo(kSip1, 0), -2);
    EXPECT_EQ(v.UnlinkTo(-1, 0), -1);
    EXPECT_EQ(v.UnlinkMedia(), -1);
    EXPECT_EQ(v.UnlinkAll(), 0);
    EXPECT_TRUE(journal.Lines().empty());
    EXPECT_EQ(card.Opens(), 0);

    TagVirCard chinese(1, 0);
    std::string name;
    EXPECT_EQ(chinese.GetLineName(0, name), 0);
    EXPECT_EQ(name, "虚拟线路0#");
    EXPECT_EQ(chinese.GetLineName(1, name), -1);
    EXPECT_EQ(chinese.MakeLine(1, 9), nullptr);
}

TEST_F(VirtualLine, BridgeCarriesSoundBothWaysOnlyWhileActiveAndPadsShortBlocks) {
    // Sound captured while the bridge is still starting is taken from the device, never pushed: the blocks read
    // then, even one the reader looks at only once the bridge is active (it is held till then), and the start of
    // the block it completes once active.
    hooked.beforeOut = [&] {
        hooked.HoldNextRead();
        card.Feed(std::string(640, '\x11').data(), 640);
        EXPECT_TRUE(hooked.WaitHeld());
        card.Feed(std::string(160, '\x11').data(), 160);
    };
    ASSERT_EQ(v.LinkTo(kSip1, 0), 0);
    hooked.beforeOut = nullptr;
    hooked.Release();
    EXPECT_EQ(journal.Lines(), (std::vector<std::string>{"create 1", "start 1 8", "sip0 link 3 ch=1"}));
    EXPECT_EQ(v.linkedCall.load(), &Call(kSip1));
    EXPECT_EQ(v.mediaChannel.load(), 1);
    EXPECT_EQ(card.LastFormat().tag, 6);
    EXPECT_EQ(card.LastDevice(), kWaveMapper);

    card.Feed(std::string(480, '\x22').data(), 480);
    EXPECT_EQ(media.WaitPushed(480), std::string(480, '\x22'));

    // Half a block from the channel is played with silence after it.
    media.Give(std::string(160, '\x33'));
    EXPECT_EQ(PlayedBlockWith(std::string(160, '\x33')), std::string(160, '\x33') + std::string(160, '\xD5'));

    EXPECT_EQ(v.UnlinkTo(kSip1, 0), 0);
    EXPECT_EQ(v.linkedCall.load(), nullptr);
    EXPECT_EQ(v.mediaChannel.load(), 0);
    EXPECT_EQ(card.OpenDevices(), 0);
    EXPECT_GE(journal.Find("destroy 1"), 0);
    EXPECT_LT(journal.Find("sip0 unlink 3 ch=1"), journal.Find("destroy 1"));
}

TEST_F(VirtualLine, LinkingAgainLetsTheOldPeerGoBeforeItsChannel) {
    ASSERT_EQ(v.LinkTo(kSip1, 0), 0);
    ASSERT_EQ(v.LinkTo(kSip2, 0), 0);
    EXPECT_EQ(journal.Lines(),
              (std::vector<std::string>{"create 1", "start 1 8", "sip0 link 3 ch=1", "sip0 unlink 3 ch=1", "stop 1",
                                        "destroy 1", "create 2", "start 2 8", "sip1 link 3 ch=2"}));
    EXPECT_EQ(v.linkedCall.load(), &Call(kSip2));
    EXPECT_EQ(card.OpenDevices(), 2);
}

TEST_F(VirtualLine, AFailedStartLeavesNoChannelAndNoPeerLink) {
    card.FailOpen(kAudioBadDevice);
    EXPECT_EQ(v.LinkTo(kSip1, 0), -1);
    card.FailOpen(kAudioOk);
    hooked.failOut = true;
    EXPECT_EQ(v.LinkTo(kSip1, 0), -2);
    EXPECT_EQ(journal.Lines(), (std::vector<std::string>{"create 1", "start 1 8", "stop 1", "destroy 1", "create 2",
                                                         "start 2 8", "stop 2", "destroy 2"}));
    EXPECT_EQ(v.linkedCall.load(), nullptr);
    EXPECT_EQ(v.mediaChannel.load(), 0);
    EXPECT_EQ(card.OpenDevices(), 0);

    // The SIP line refusing to join undoes the bridge too.
    hooked.failOut = false;
    Sip(kSip1).linkResult = -2;
    EXPECT_EQ(v.LinkTo(kSip1, 0), -2);
    EXPECT_EQ(v.linkedCall.load(), nullptr);
    EXPECT_EQ(card.OpenDevices(), 0);
    EXPECT_EQ(journal.Lines().back(), "destroy 3");
}

TEST_F(VirtualLine, TheSipSideStartsAndEndsTheBridgeAndTheCallObjectEndsItsOwn) {
    // A SIP script linking the virtual line starts its bridge from the SIP line's thread.
    ASSERT_EQ(Call(kSip1).LinkTo(kVir, 0), 0);
    EXPECT_EQ(v.linkedCall.load(), &Call(kSip1));
    EXPECT_EQ(card.OpenDevices(), 2);
    EXPECT_EQ(Call(kSip1).UnlinkTo(kVir, 0), 0);
    EXPECT_EQ(card.OpenDevices(), 0);
    EXPECT_EQ(v.linkedCall.load(), nullptr);

    // A running bridge goes with its call object: the threads are joined before the devices close.
    ASSERT_EQ(v.LinkTo(kSip2, 0), 0);
    card.Feed(std::string(320, '\x44').data(), 320);
    media.WaitPushed(320);
    Close();
    EXPECT_EQ(card.OpenDevices(), 0);
    EXPECT_EQ(journal.Lines().back(), "destroy 2");
}

TEST_F(VirtualLine, KeysComeFromTheKeysColumn) {
    TypeLineKeys(kVir, "12");
    EXPECT_EQ(v.KeysLen(), 2);
    EXPECT_EQ(Call(kVir2).KeysLen(), 0);
    EXPECT_EQ(TakeLineKeys(kVir, [](const std::string& keys) { return keys.size() - 1; }), "1");
    EXPECT_EQ(GetLineKeys(kVir), "2");
    v.ClearKeys();
    EXPECT_EQ(v.KeysLen(), 0);
}

TEST_F(VirtualLine, RecordEndsOnAKeyOnItsLimitOrWhenTheFileCannotBeMade) {
    TestDir dir("virrec");
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    EXPECT_EQ(v.Record("nodir/r.wav", 5, 1), -2);

    std::thread line([&] { EXPECT_EQ(v.Record("key.wav", 0, 1), 0); });
    while (clock.Waiters() < 1)
        std::this_thread::yield();
    card.Feed(std::string(640, '\x10').data(), 640);
    TypeLineKeys(kVir, "5");
    line.join();
    EXPECT_EQ(GetLineKeys(kVir), "5"); // the key that broke the recording stays for the script
    EXPECT_GT(TestDir::Read("key.wav").size(), 48u);

    std::thread limited([&] { EXPECT_EQ(v.Record("limit.wav", 3, 1), 0); }); // a key already waits: at once
    limited.join();
    v.ClearKeys();
    std::thread timed([&] { EXPECT_EQ(v.Record("limit.wav", 3, 1), 0); });
    while (clock.Waiters() < 1)
        std::this_thread::yield();
    clock.Advance(3000);
    timed.join();
    EXPECT_EQ(card.OpenDevices(), 0);
}

// Every wait of a line in a call ends at once at the operator's hang-up (handed to the line's thread as the
// console does) and at a quit; the hang-up also ends the line's link.
TEST_F(VirtualLine, EveryWaitEndsAtTheHangUpAndAtAQuit) {
    TestDir dir("virwaits");
    TestDir::Write("long.voc", std::string(64000, '\x55'));
    RegisterBuiltins();
    auto builtin = [](TagKvCall& c, int32_t id, std::vector<TagVar>& args) {
        TagTelBasic unit;
        unit.pKvCall = &c;
        std::vector<TagVar*> ptrs;
        for (TagVar& a : args)
            ptrs.push_back(&a);
        MakeBuiltinOper(id, ptrs.data(), int32_t(ptrs.size()), &unit, nullptr)->Run();
    };
    auto ints = [](std::initializer_list<int32_t> values) {
        std::vector<TagVar> v(values.size());
        size_t i = 0;
        for (int32_t n : values)
            v[i++].SetInt(n);
        return v;
    };
    struct Wait {
        const char* name;
        std::function<void()> run;
    };
    const Wait waits[] = {
        {"Sleep(0)",
         [&] {
             auto a = ints({0});
             builtin(v, 148, a);
         }},
        {"Sleep(30)",
         [&] {
             auto a = ints({30});
             builtin(v, 148, a);
         }},
        {"Play", [&] { v.Play("long.voc", 0, 0); }},
        {"Record", [&] { v.Record("rec.wav", 60, 1); }},
        {"PcGetKeys",
         [&] {
             auto a = ints({0, 4, 30});
             builtin(v, 200, a);
         }},
    };
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    ++drive->Line(kVir)->threads; // the test's thread stands for the line's
    for (bool quit : {false, true})
        for (const Wait& w : waits) {
            SCOPED_TRACE(std::string(w.name) + (quit ? " quit" : " hang-up"));
            v.WaitRing(1);
            ASSERT_EQ(v.LinkTo(kSip1, 0), 0);
            std::thread line(w.run);
            while (clock.Waiters() < 1)
                std::this_thread::yield();
            if (quit)
                v.RequestStop();
            else
                EXPECT_EQ(drive->HangupLine(kVir), 0);
            line.join();
            EXPECT_EQ(v.callState, quit ? kCallConnected : kCallReleased);
            EXPECT_EQ(v.linkedCall.load(), quit ? &Call(kSip1) : nullptr);
            v.stopFlag = false;
            v.UnlinkAll();
        }
    --drive->Line(kVir)->threads;
    EXPECT_EQ(card.OpenDevices(), 0);
}
