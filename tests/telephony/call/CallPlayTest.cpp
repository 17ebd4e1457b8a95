#include "platform/Clock.h"
#include "platform/audio/FakeAudio.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagPcPlayer.h"
#include "tests/support/ClockHandshake.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace zz;

namespace {

// What the fake sound card saw. A play ends when the test finishes it (or at once with endAtOnce), and wakes the
// line as the sound card's player does.
struct Card {
    std::vector<std::string> opened;
    std::vector<int> volumes;
    int loopSets = 0;
    bool loop = false;
    int stops = 0;
    bool endAtOnce = false;
    bool failFile = false;
    std::atomic<bool> finished{false};
    WakeEvent* wake = nullptr;

    void Finish() {
        finished = true;
        if (wake) wake->Signal();
    }
};

class FakePlayer : public TagPcPlayer {
public:
    explicit FakePlayer(Card& c) : c_(c) {}
    int Status() const override { return status_; }
    void Play(const char* file, int volume) override {
        c_.opened.push_back(file);
        c_.volumes.push_back(volume);
        status_ = c_.failFile ? -1 : 0;
        c_.finished = c_.endAtOnce;
    }
    void SetLoop(bool on) override {
        c_.loop = on;
        ++c_.loopSets;
    }
    bool IsFinished() override { return !c_.loop && c_.finished; }
    void Stop() override {
        ++c_.stops;
        c_.loop = false;
        c_.Finish();
    }
    void SetWake(WakeEvent* wake) override { c_.wake = wake; }

private:
    Card& c_;
    int status_ = 0;
};

struct PlayFixture : ::testing::Test {
    Card card;
    VirtualClock clock{1000};
    ScopedClock scoped{&clock};
    void SetUp() override {
        SetPcPlayerMaker([this](const char* file, int volume) {
            auto p = std::make_unique<FakePlayer>(card);
            p->Play(file, volume);
            return std::unique_ptr<TagPcPlayer>(std::move(p));
        });
    }
    void TearDown() override { SetPcPlayerMaker(nullptr); }
};

// A line whose keys arrive while it plays.
class KeyedCall : public TagKvCall {
public:
    int keys = 0;
    int KeysLen() override {
        TagKvCall::KeysLen();
        return keys;
    }
};

} // namespace

namespace {
void PutLe(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s += char((v >> (8 * i)) & 0xFF);
}

// A 16-bit mono 8 kHz WAV file holding the given samples.
std::string WavBytes(const std::vector<int16_t>& samples) {
    std::string s = "RIFF";
    PutLe(s, uint32_t(36 + samples.size() * 2), 4);
    s += "WAVEfmt ";
    PutLe(s, 16, 4);
    PutLe(s, 1, 2);
    PutLe(s, 1, 2);
    PutLe(s, 8000, 4);
    PutLe(s, 16000, 4);
    PutLe(s, 2, 2);
    PutLe(s, 16, 2);
    s += "data";
    PutLe(s, uint32_t(samples.size() * 2), 4);
    for (int16_t v : samples)
        PutLe(s, uint16_t(v), 2);
    return s;
}
} // namespace

TEST(CallPlaySoundCard, PlayGoesThroughTheSoundCardPlayerToTheEnd) {
    SetPcPlayerMaker(nullptr);
    TestDir dir("callplay");
    std::vector<int16_t> samples(800);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(i * 37);
    TestDir::Write("hello.wav", WavBytes(samples));
    FakeAudio audio;
    ScopedAudioBackend backend(&audio);

    TagKvCall c;
    EXPECT_EQ(c.Play("hello.wav", 1, 0), 0);
    EXPECT_EQ(c.IsPcPlayEnd(), 1);
    std::vector<uint8_t> played = audio.Played();
    ASSERT_GE(played.size(), 1600u);
    EXPECT_EQ(std::memcmp(played.data(), WavBytes(samples).data() + 44, 1600), 0);

    EXPECT_EQ(c.Play("missing.wav", 1, 0), -2);
    EXPECT_EQ(c.StartLoopPlay("missing.wav", 0), -2);
    EXPECT_EQ(c.playing, 0);
    EXPECT_EQ(c.IsPcPlayEnd(), 1);
}

TEST_F(PlayFixture, ReLoopPlayBeforeAnyLoopPlayHasNoFile) {
    TagKvCall c;
    EXPECT_EQ(c.ReLoopPlay(), -2);
    EXPECT_TRUE(card.opened.empty());
}

TEST_F(PlayFixture, LoopPlayCountsSamplesAndRestartsFromKeyPolling) {
    TagKvCall c;
    c.SetVolume(60, 1);
    ASSERT_EQ(c.StartLoopPlay("music.wav", 0), 0);
    EXPECT_EQ(card.volumes.back(), 60);
    EXPECT_FALSE(card.loop); // started once; key polling repeats it
    EXPECT_EQ(c.ReLoopPlay(), -1);

    c.KeysLen();
    EXPECT_EQ(card.opened.size(), 1u) << "still playing";
    card.Finish();
    c.KeysLen();
    EXPECT_EQ(card.opened.size(), 2u);
    EXPECT_EQ(card.opened.back(), "music.wav");

    clock.Advance(250);
    EXPECT_EQ(c.StopPlay(), 0);
    EXPECT_EQ(c.playing, 0);
    EXPECT_EQ(c.playCounter, 2000);
    EXPECT_EQ(c.IsPcPlayEnd(), 1);

    EXPECT_EQ(c.ReLoopPlay(), 2000);
    EXPECT_EQ(c.playing, 1);
    clock.Advance(100);
    c.StopPlay();
    EXPECT_EQ(c.playCounter, 2800);
}

TEST_F(PlayFixture, AFileThatCannotBeOpenedDropsThePlayer) {
    TagKvCall c;
    ASSERT_EQ(c.StartLoopPlay("music.wav", 0), 0);
    c.StopPlay();
    card.failFile = true;
    EXPECT_EQ(c.ReLoopPlay(), -3);
    EXPECT_EQ(c.playing, 0);
    EXPECT_EQ(c.PcPlay("bad.wav", 0, 1, 0), -2);
    EXPECT_EQ(c.IsPcPlayEnd(), 1);
}

// The line blocks until the player signals the end of the play: no time passes on the clock meanwhile.
TEST_F(PlayFixture, PlayBlocksUntilThePlayerEndsItAndStopsAnEarlierLoopPlay) {
    TagKvCall c;
    c.StartLoopPlay("music.wav", 0);
    clock.Advance(100);
    clock.SetAuto(false);
    const uint32_t start = clock.Ticks();
    std::thread ender([&] {
        test::AwaitWaiters(clock);
        card.Finish();
    });
    EXPECT_EQ(c.Play("hello.wav", 1, 1), 0);
    ender.join();
    EXPECT_EQ(c.playing, 0);
    EXPECT_EQ(c.playCounter, 800);
    EXPECT_EQ(card.opened.back(), "hello.wav");
    EXPECT_EQ(clock.Ticks(), start);
    EXPECT_EQ(c.IsPcPlayEnd(), 1);
}

TEST_F(PlayFixture, LoopingOrNotWaitingPcPlayReturnsAtOnce) {
    TagKvCall c;
    uint32_t start = clock.Ticks();
    EXPECT_EQ(c.PcPlay("a.wav", 1, 1, 0), 0);
    EXPECT_TRUE(card.loop);
    EXPECT_EQ(c.IsPcPlayEnd(), 0);
    EXPECT_EQ(c.PcPlay("b.wav", 0, 0, 0), 0);
    EXPECT_FALSE(card.loop);
    EXPECT_EQ(clock.Ticks(), start);
    EXPECT_EQ(card.opened.size(), 2u); // the existing player was re-opened
}

TEST_F(PlayFixture, AKeyStopsABreakablePlayAndTheStopFlagEndsTheWait) {
    KeyedCall c;
    c.keys = 1;
    uint32_t start = clock.Ticks();
    EXPECT_EQ(c.PcPlay("long.wav", 0, 1, 1), 0);
    EXPECT_EQ(card.stops, 1);
    EXPECT_EQ(clock.Ticks() - start, 200u) << "the key's pause";

    c.keys = 0;
    c.RequestStop();
    start = clock.Ticks();
    EXPECT_EQ(c.PcPlay("long.wav", 0, 1, 1), 0);
    EXPECT_EQ(clock.Ticks(), start);
}

TEST_F(PlayFixture, TheWaitNoticesAHangUpOnTheWay) {
    TagKvCall c;
    c.callState = kCallConnected;
    c.maxTalkTime = 60;
    c.IsOnline();
    c.connectTime = CalendarNow() - 61;
    card.endAtOnce = true;
    c.PcPlay("a.wav", 0, 1, 0);
    EXPECT_EQ(c.callState, kCallReleased);
}

TEST(CallTalkTime, AWaitEndsWhenTheMaximumTalkTimeRunsOut) {
    TagKvCall c;
    EXPECT_EQ(c.TalkTimeLeftMs(), WakeEvent::kForever) << "no call";
    c.callState = kCallConnected;
    EXPECT_EQ(c.TalkTimeLeftMs(), WakeEvent::kForever) << "no limit";
    c.maxTalkTime = 60;
    c.connectTime = CalendarNow() - 100;
    EXPECT_EQ(c.TalkTimeLeftMs(), 0);
    c.connectTime = CalendarNow() + 1000;
    EXPECT_GT(c.TalkTimeLeftMs(), 1000 * 1000);
}

TEST(CallPlayStop, AStopFromAnotherThreadEndsAWaitingPlay) {
    Card card;
    SetPcPlayerMaker([&card](const char* file, int volume) {
        auto p = std::make_unique<FakePlayer>(card);
        p->Play(file, volume);
        return std::unique_ptr<TagPcPlayer>(std::move(p));
    });
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    TagKvCall c;
    std::thread closer([&] {
        test::AwaitWaiters(clock);
        c.RequestStop();
    });
    EXPECT_EQ(c.Play("endless.wav", 0, 0), 0);
    closer.join();
    EXPECT_EQ(clock.Ticks(), 0u);
    SetPcPlayerMaker(nullptr);
}
