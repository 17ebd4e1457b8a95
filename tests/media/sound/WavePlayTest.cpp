// The sound-card player on the fake card: exact bytes, blocks, loops, volume, stops, VOX files.
#include "media/TagWavePlay.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/audio/FakeAudio.h"

#include "SoundTestUtil.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/time.h>
#include <thread>

using namespace zz;
using namespace soundtest;

namespace {

class WavePlayTest : public ::testing::Test {
protected:
    void SetUp() override { SetMessageStderr(false); }
    void TearDown() override {
        SetMessageSink(nullptr);
        SetMessageStderr(true);
    }
    bool WaitFinished(TagWavePlay& p, int ms = 5000) {
        for (int i = 0; i < ms / 5 && !p.IsFinished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return p.IsFinished();
    }
    std::string File(const std::string& name, const Bytes& content) {
        std::string p = dir / name;
        WriteFile(p, content);
        return p;
    }
    FakeAudio card;
    ScopedAudioBackend scoped{&card};
    ScratchDir dir{"play"};
};

} // namespace

TEST_F(WavePlayTest, PlaysPcmWavExactlyInBlocksOfTheNamedDevice) {
    Bytes data = Ramp(5000);
    std::string f = File("a.wav", MakeWav(data));
    {
        TagWavePlay p(f, 100, 3, 0, 0);
        EXPECT_EQ(p.status, 0);
        ASSERT_TRUE(WaitFinished(p));
        EXPECT_EQ(card.Played(), data);
        EXPECT_EQ(card.WriteSizes(), (std::vector<size_t>{2048, 2048, 904}));
        AudioFormat fmt = card.LastFormat();
        EXPECT_EQ(fmt.tag, 1);
        EXPECT_EQ(fmt.rate, 8000u);
        EXPECT_EQ(fmt.bits, 16);
        EXPECT_EQ(card.LastDevice(), 3u);
        EXPECT_GE(card.Drains(), 1); // the last block has played before the player says finished
    }
    EXPECT_EQ(card.OpenDevices(), 0);
}

TEST_F(WavePlayTest, MapperTakesLargeBlocks) {
    Bytes data = Ramp(100000);
    TagWavePlay p(File("m.wav", MakeWav(data)), 100, kWaveMapper, 0, 0);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.WriteSizes(), (std::vector<size_t>{81920, 18080}));
    EXPECT_EQ(card.Played(), data);
}

TEST_F(WavePlayTest, FindsDataAfterLongFmtAndOtherChunks) {
    Bytes data = Ramp(600, 77);
    TagWavePlay p(File("r.wav", MakeWav(data, 1, 16, 20, true)), 100, 0, 0, 0);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.Played(), data);
}

TEST_F(WavePlayTest, HeaderlessFileIsAlawWithoutItsLast90Bytes) {
    Bytes raw = Ramp(1000, 300);
    {
        TagWavePlay p(File("h.alaw", raw), 100, 0, 0, 0);
        ASSERT_EQ(p.status, 0);
        ASSERT_TRUE(WaitFinished(p));
    }
    EXPECT_EQ(card.Played(), Slice(raw, 0, 910));
    EXPECT_EQ(card.LastFormat().tag, 6);
    EXPECT_EQ(card.LastFormat().bits, 8);

    TagWavePlay tooShort(File("s.alaw", Ramp(189)), 100, 0, 0, 0);
    EXPECT_EQ(tooShort.status, -2);
    EXPECT_TRUE(tooShort.IsFinished());
    TagWavePlay missing(dir / "none.wav", 100, 0, 0, 0);
    EXPECT_EQ(missing.status, -1);
}

TEST_F(WavePlayTest, StartOffsetSkipsIntoTheData) {
    Bytes data = Ramp(3000);
    TagWavePlay p(File("o.wav", MakeWav(data)), 100, 0, 0, 1000);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.Played(), Slice(data, 1000, 2000));
}

TEST_F(WavePlayTest, LoopRestartsAtDataStartNotAtOffset) {
    Bytes data = Ramp(3000);
    card.SetGate(true);
    TagWavePlay p(File("l.wav", MakeWav(data)), 100, 0, 0, 1000);
    p.SetLoop(1);
    card.Grant(4);
    ASSERT_TRUE(card.WaitWrites(5));
    EXPECT_EQ(card.WriteSizes(), (std::vector<size_t>{2000, 2048, 952, 2048, 952}));
    Bytes expect = Slice(data, 1000, 2000);
    for (int i = 0; i < 2; ++i)
        expect.insert(expect.end(), data.begin(), data.end());
    EXPECT_EQ(card.Played(), expect);
    EXPECT_FALSE(p.IsFinished());
    card.SetGate(false);
    p.Stop();
    EXPECT_TRUE(p.IsFinished());
}

TEST_F(WavePlayTest, VolumeIsClampedAndScalesSamples) {
    Bytes data;
    for (int i = 0; i < 200; ++i)
        Put16(data, uint16_t(int16_t(i % 2 ? -1000 : 1000)));
    std::string f = File("v.wav", MakeWav(data));
    {
        TagWavePlay p(f, 150, 0, 0, 0);
        ASSERT_TRUE(WaitFinished(p));
        EXPECT_EQ(card.LastVolume(), 0xFFFFFFFFu);
        EXPECT_EQ(card.Played(), data);
    }
    card.Clear();
    TagWavePlay half(f, 50, 0, 0, 0);
    ASSERT_TRUE(WaitFinished(half));
    EXPECT_EQ(card.LastVolume(), 32767u | 32767u << 16);
    Bytes played = card.Played();
    ASSERT_EQ(played.size(), data.size());
    EXPECT_EQ(int16_t(Get16(played, 0)), 499);
    EXPECT_EQ(int16_t(Get16(played, 2)), -499);
}

TEST_F(WavePlayTest, StopOnMapperEndsAtOnce) {
    Bytes data = Ramp(400000);
    card.SetGate(true);
    TagWavePlay p(File("big.wav", MakeWav(data)), 100, kWaveMapper, 0, 0);
    ASSERT_TRUE(card.WaitWrites(1));
    p.Stop();
    EXPECT_TRUE(p.IsFinished());
    EXPECT_GE(card.Resets(), 1);
    EXPECT_EQ(card.Played(), Slice(data, 0, 81920));
}

TEST_F(WavePlayTest, StopOnNamedDeviceLetsTheCurrentBlockPlayOut) {
    Bytes data = Ramp(20000);
    card.SetGate(true);
    TagWavePlay p(File("n.wav", MakeWav(data)), 100, 0, 0, 0);
    card.Grant(1);
    ASSERT_TRUE(card.WaitWrites(2));
    auto stopping = std::async(std::launch::async, [&] { p.Stop(); });
    EXPECT_EQ(stopping.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_FALSE(p.IsFinished());
    EXPECT_EQ(card.Resets(), 0);
    card.Grant(1);
    stopping.get();
    EXPECT_TRUE(p.IsFinished());
    EXPECT_EQ(card.Played(), Slice(data, 0, 4096));
}

TEST_F(WavePlayTest, DestroyingAPlayingPlayerEndsItsThread) {
    VirtualClock clock; // the stop's 5000 ms wait for a block that never ends passes at once
    ScopedClock scopedClock(&clock);
    card.SetGate(true);
    auto p = std::make_unique<TagWavePlay>(File("d.wav", MakeWav(Ramp(50000))), 100, 0, 0, 0);
    ASSERT_TRUE(card.WaitWrites(1));
    p.reset(); // the named device waits for its block; the destructor's close cuts it off
    EXPECT_EQ(card.OpenDevices(), 0);
}

TEST_F(WavePlayTest, PlayReusesThePlayerAndLeavesItsResultInStatus) {
    Bytes first = Ramp(1000), second = Ramp(1500, 900);
    TagWavePlay p(File("1.wav", MakeWav(first)), 100, 0, 0, 0);
    ASSERT_TRUE(WaitFinished(p));
    card.Clear();
    EXPECT_EQ(p.Play(File("2.wav", MakeWav(second)), 100, 0, 0), 0);
    EXPECT_EQ(p.status, 0);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.Played(), second);

    EXPECT_EQ(p.Play(dir / "missing.wav", 100, 0, 0), -2);
    EXPECT_EQ(p.status, -2);
    EXPECT_TRUE(p.IsFinished());
    EXPECT_EQ(p.Play(File("short.wav", Ramp(150)), 100, 0, 0), -3);
    EXPECT_EQ(p.status, -3);
    card.FailOpen(kAudioAllocated);
    EXPECT_EQ(p.Play(File("3.wav", MakeWav(second)), 100, 0, 0), -2);
    EXPECT_EQ(p.status, -2);
    card.FailOpen(kAudioOk);
    card.Clear();
    EXPECT_EQ(p.Play(dir / "3.wav", 100, 0, 0), 0);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.Played(), second);
}

TEST_F(WavePlayTest, DeviceThatWillNotOpenGivesMinus3) {
    card.FailOpen(kAudioBadDevice);
    TagWavePlay p(File("x.wav", MakeWav(Ramp(1000))), 100, 9, 0, 0);
    EXPECT_EQ(p.status, -3);
    EXPECT_TRUE(p.IsFinished());
    EXPECT_EQ(p.SetVolume(50), -1);
}

TEST_F(WavePlayTest, WriteErrorIsReportedWithoutBlockingTheLine) {
    std::vector<std::string> captions, texts;
    SetMessageSink([&](const std::string& t, const std::string& c) {
        texts.push_back(t);
        captions.push_back(c);
    });
    card.FailWrites(true);
    TagWavePlay p(File("e.wav", MakeWav(Ramp(3000))), 100, 0, 0, 0);
    ASSERT_TRUE(WaitFinished(p));
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0], "出错了Play()");
    EXPECT_EQ(texts[0].rfind("waveOutWrite Err.", 0), 0u);
}

TEST_F(WavePlayTest, VoxPlaysThroughItsCacheConvertedOnceUntilTheVoxIsNewer) {
    std::string vox = File("hello.vox", Bytes{0x00, 0x80, 0x77});
    TagWavePlay p(vox, 100, 0, 0, 0);
    // Too short to play (the cache is 46 + 12 bytes), but the cache was made.
    EXPECT_EQ(p.status, -2);
    Bytes cache = ReadFile(vox + ".wav");
    ASSERT_EQ(cache.size(), 46u + 12u);
    EXPECT_EQ(Get32(cache, 4), 12u + 38u);
    EXPECT_EQ(Get32(cache, 16), 18u);
    EXPECT_EQ(Get32(cache, 42), 12u);
    // 0x00: codes 0, 0 from step index 16 (step 73, then 66); 0x80: code 8 (step 60) then 0 (step 55).
    EXPECT_EQ(int16_t(Get16(cache, 46)), 90);
    EXPECT_EQ(int16_t(Get16(cache, 48)), 170);
    EXPECT_EQ(int16_t(Get16(cache, 50)), 100);
    EXPECT_EQ(int16_t(Get16(cache, 52)), 160);
    EXPECT_EQ(Soxi("-r", vox + ".wav"), "8000");

    // A longer VOX file plays its decoded samples; the cache is reused while it is not older.
    Bytes longVox(500, 0x11);
    WriteFile(vox, longVox);
    struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimes(vox.c_str(), old);
    unlink((vox + ".wav").c_str());
    {
        TagWavePlay q(dir / "HELLO.VOX", 100, 0, 0, 0); // any case of the name finds the file
        ASSERT_EQ(q.status, 0);
        ASSERT_TRUE(WaitFinished(q));
    }
    Bytes converted = ReadFile(vox + ".wav");
    ASSERT_EQ(converted.size(), 46u + 2000u);
    EXPECT_EQ(card.Played(), Slice(converted, 46, 2000));

    WriteFile(vox + ".wav", Bytes(converted.begin(), converted.begin() + 46 + 1000)); // marks the cache
    EXPECT_EQ(ResolveVoxFile(vox), vox + ".wav");
    EXPECT_EQ(ReadFile(vox + ".wav").size(), 46u + 1000u); // not older: kept

    struct timeval newer[2] = {{2000000000, 0}, {2000000000, 0}};
    utimes(vox.c_str(), newer);
    ResolveVoxFile(vox);
    EXPECT_EQ(ReadFile(vox + ".wav"), converted);
}

TEST_F(WavePlayTest, ChunksBetweenFmtAndDataAreNotPlayed) {
    Bytes data = Ramp(3000);
    Bytes wav = MakeWav(data, 1, 16, 16, true);
    Bytes junk;
    PutId(junk, "JUNK");
    Put32(junk, 28);
    junk.resize(junk.size() + 28, 0x77);
    wav.insert(wav.begin() + 36, junk.begin(), junk.end()); // after fmt, before LIST and data
    TagWavePlay p(File("editor.wav", wav), 100, 3, 0, 0);
    ASSERT_EQ(p.status, 0);
    ASSERT_TRUE(WaitFinished(p));
    EXPECT_EQ(card.Played(), data);
}

// The line that waits for the end of a play blocks on its wake event, which the player signals.
TEST_F(WavePlayTest, TheEndOfAPlayWakesTheWaitingLine) {
    WakeEvent wake;
    TagWavePlay p(File("w.wav", MakeWav(Ramp(3000))), 100, 3, 0, 0);
    p.SetWake(&wake);
    ASSERT_EQ(p.status, 0);
    EXPECT_TRUE(wake.WaitFor(WakeEvent::kForever, [&] { return p.IsFinished() != 0; }));
}

TEST_F(WavePlayTest, AnEmptyVoxFileConvertsToAWavWithoutSound) {
    std::string vox = File("empty.vox", Bytes{});
    EXPECT_EQ(ConvertVoxToWav(vox, vox + ".wav"), 0);
    Bytes wav = ReadFile(vox + ".wav");
    ASSERT_EQ(wav.size(), 46u);
    EXPECT_EQ(Get32(wav, 42), 0u);
    EXPECT_EQ(Soxi("-s", vox + ".wav"), "0");
}
