// The line's speak operation of the base call: it speaks on the sound card through the speech classes.
#include "platform/Clock.h"
#include "platform/audio/FakeAudio.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagPcPlayer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zz;

namespace {

class CountingPlayer : public TagPcPlayer {
public:
    explicit CountingPlayer(int& stops) : stops_(stops) {}
    int Status() const override { return 0; }
    void Play(const char*, int) override {}
    void SetLoop(bool) override {}
    bool IsFinished() override { return false; }
    void Stop() override { ++stops_; }
    void SetWake(WakeEvent*) override {}

private:
    int& stops_;
};

class LineSpeechTest : public ::testing::Test {
protected:
    void SetUp() override {
        call.pcPlayer = std::make_unique<CountingPlayer>(stops);
        call.playing = 1;
    }
    FakeAudio card;
    ScopedAudioBackend scoped{&card};
    VirtualClock clock;
    ScopedClock scopedClock{&clock};
    int stops = 0;
    TagKvCall call;
};

} // namespace

TEST_F(LineSpeechTest, NotOnTheSoundCardReturnsMinus1AndKeepsThePlay) {
    EXPECT_EQ(call.TxtSpeak("你好", 0, 0, 0), -1);
    EXPECT_NE(call.pcPlayer, nullptr);
    EXPECT_EQ(call.playing, 1);
    EXPECT_EQ(card.Opens(), 0);
}

TEST_F(LineSpeechTest, StopsThePlayAndSpeaksChinese) {
    uint32_t start = GetTickCount();
    EXPECT_EQ(call.TxtSpeak("您好", 0, 0, 1), 0);
    EXPECT_GE(TicksSince(start), 1800u);
    EXPECT_EQ(call.pcPlayer, nullptr);
    EXPECT_EQ(call.playing, 0);
    EXPECT_GT(card.Played().size(), 1600u);
    EXPECT_EQ(card.LastDevice(), kWaveMapper);
}

TEST_F(LineSpeechTest, AStoppedLineEndsTheWait) {
    card.SetGate(true); // never finishes by itself
    std::thread stopper([&] {
        card.WaitWrites(1, 20000);
        call.RequestStop();
    });
    EXPECT_EQ(call.TxtSpeak("<LANG LANGID=\"409\">A long message.</LANG>", 1, 1, 1), 0);
    stopper.join();
    EXPECT_EQ(card.OpenDevices(), 0);
}

TEST_F(LineSpeechTest, MissingFileIsReportedWithoutWaiting) {
    uint32_t start = GetTickCount();
    EXPECT_NE(call.TxtSpeak("/nonexistent/zz_prompt.txt", 1, 0, 1), 0);
    EXPECT_LT(TicksSince(start), 1800u);
}
