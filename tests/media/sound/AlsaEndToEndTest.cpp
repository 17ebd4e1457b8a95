// Player and recorder through real ALSA, no sound card: the null device, and file devices (a test asoundrc
// given through ALSA_CONFIG_PATH) that keep what was played and play back what a file holds.
#include "media/TagWavePlay.h"
#include "media/TagWaveRecord.h"
#include "platform/MessageBox.h"
#include "platform/audio/Audio.h"

#include "SoundTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace zz;
using namespace soundtest;

namespace {

class AlsaEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir("alsa");
        std::string rc = *dir_ / "asoundrc";
        std::ofstream(rc) << "pcm.zzplay {\n type file\n slave.pcm null\n file \"" << (*dir_ / "played.raw")
                          << "\"\n format raw\n}\n"
                          << "pcm.zzcap {\n type file\n slave.pcm null\n file \"" << (*dir_ / "capcopy.raw")
                          << "\"\n infile \"" << (*dir_ / "in.raw") << "\"\n format raw\n}\n";
        std::string path = "/usr/share/alsa/alsa.conf:" + rc;
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        SetMessageStderr(false);
        ResetAudioDeviceNames();
    }
    void TearDown() override {
        ResetAudioDeviceNames();
        SetMessageStderr(true);
    }
    static std::string P(const std::string& name) { return *dir_ / name; }
    static bool WaitFinished(TagWavePlay& p, int ms = 10000) {
        for (int i = 0; i < ms / 10 && !p.IsFinished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return p.IsFinished();
    }
    static ScratchDir* dir_;
};

ScratchDir* AlsaEndToEnd::dir_ = nullptr;

} // namespace

TEST_F(AlsaEndToEnd, PlaysToTheNullDevice) {
    ApplyAudioCfgKey("SOUND_OUT_DEVICE", "null");
    WriteFile(P("n.wav"), MakeWav(Ramp(4000)));
    TagWavePlay p(P("n.wav"), 100, kWaveMapper, 0, 0);
    ASSERT_EQ(p.status, 0);
    EXPECT_TRUE(WaitFinished(p));
}

TEST_F(AlsaEndToEnd, FileDeviceReceivesExactlyThePlayedBytes) {
    ApplyAudioCfgKey("SOUND_OUT_DEVICE1", "zzplay");
    Bytes data = Ramp(6000, 123);
    WriteFile(P("f.wav"), MakeWav(data));
    {
        TagWavePlay p(P("f.wav"), 100, 1, 0, 0);
        ASSERT_EQ(p.status, 0);
        ASSERT_TRUE(WaitFinished(p));
    }
    EXPECT_EQ(ReadFile(P("played.raw")), data);

    Bytes alaw = Ramp(1500, 40); // headerless: A-law, the last 90 bytes unplayed
    WriteFile(P("a.alaw"), alaw);
    {
        TagWavePlay p(P("a.alaw"), 100, 1, 0, 0);
        ASSERT_EQ(p.status, 0);
        ASSERT_TRUE(WaitFinished(p));
    }
    EXPECT_EQ(ReadFile(P("played.raw")), Slice(alaw, 0, 1410));
}

TEST_F(AlsaEndToEnd, VolumeReachesTheDevice) {
    ApplyAudioCfgKey("SOUND_OUT_DEVICE", "zzplay");
    Bytes data;
    for (int i = 0; i < 1000; ++i)
        Put16(data, uint16_t(int16_t(i % 2 ? -2000 : 2000)));
    WriteFile(P("v.wav"), MakeWav(data));
    {
        TagWavePlay p(P("v.wav"), 25, 0, 0, 0);
        ASSERT_TRUE(WaitFinished(p));
    }
    Bytes played = ReadFile(P("played.raw"));
    ASSERT_EQ(played.size(), data.size());
    EXPECT_EQ(int16_t(Get16(played, 0)), 2000 * 16383 / 65535);
    EXPECT_EQ(int16_t(Get16(played, 2)), -2000 * 16383 / 65535);
}

TEST_F(AlsaEndToEnd, StopOnTheMapperCutsTheFileShort) {
    ApplyAudioCfgKey("SOUND_OUT_DEVICE", "zzplay");
    Bytes data = Ramp(16000 * 20); // 20 s
    WriteFile(P("long.wav"), MakeWav(data));
    TagWavePlay p(P("long.wav"), 100, kWaveMapper, 0, 0);
    ASSERT_EQ(p.status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(p.IsFinished());
    p.Stop();
    EXPECT_TRUE(p.IsFinished());
    Bytes played = ReadFile(P("played.raw"));
    EXPECT_GT(played.size(), 0u);
    EXPECT_LT(played.size(), data.size());
    EXPECT_EQ(played, Slice(data, 0, played.size()));
}

TEST_F(AlsaEndToEnd, RecordsWhatTheFileDeviceCaptures) {
    ApplyAudioCfgKey("SOUND_IN_DEVICE", "zzcap");
    Bytes in = Ramp(12000, 7);
    WriteFile(P("in.raw"), in);
    std::string path = P("rec.wav");
    {
        TagWaveRecord rec(path, 0);
        ASSERT_EQ(rec.Start(), 0);
        for (int i = 0; i < 1000 && rec.DataBytes() < int32_t(in.size()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rec.Stop();
    }
    Bytes file = ReadFile(path);
    ASSERT_GE(file.size(), 48u + in.size());
    EXPECT_EQ(Get32(file, 44), file.size() - 48);
    EXPECT_EQ(Slice(file, 48, in.size()), in);
    EXPECT_EQ(Soxi("-r", path), "8000");
}

TEST_F(AlsaEndToEnd, RecordsSilenceFromTheNullDevice) {
    ApplyAudioCfgKey("SOUND_IN_DEVICE", "null");
    std::string path = P("null.wav");
    {
        TagWaveRecord rec(path, 0);
        ASSERT_EQ(rec.Start(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rec.Stop();
        EXPECT_GT(rec.DataBytes(), 0);
        EXPECT_EQ(rec.DataBytes() % 2, 0);
    }
    EXPECT_EQ(Soxi("-c", path), "1");
    EXPECT_NE(Soxi("-s", path), "");
}

TEST_F(AlsaEndToEnd, UnknownDeviceNamesFailToOpen) {
    ApplyAudioCfgKey("SOUND_OUT_DEVICE", "zz_no_such_pcm");
    ApplyAudioCfgKey("SOUND_IN_DEVICE", "zz_no_such_pcm");
    WriteFile(P("u.wav"), MakeWav(Ramp(1000)));
    TagWavePlay p(P("u.wav"), 100, kWaveMapper, 0, 0);
    EXPECT_EQ(p.status, -3);
    TagWaveRecord rec(P("u_rec.wav"), 0);
    EXPECT_EQ(rec.Start(), -3);
}
