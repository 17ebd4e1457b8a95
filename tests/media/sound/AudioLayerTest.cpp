// The audio layer itself: device names from configuration, the volume, G.711 against sox.
#include "platform/audio/Audio.h"
#include "platform/audio/FakeAudio.h"

#include "SoundTestUtil.h"

#include <gtest/gtest.h>

using namespace zz;
using namespace soundtest;

TEST(AudioDeviceNames, DefaultUntilConfiguredThenPerDevice) {
    ResetAudioDeviceNames();
    EXPECT_EQ(AudioOutDeviceName(kWaveMapper), "default");
    EXPECT_EQ(AudioInDeviceName(3), "default");
    EXPECT_TRUE(ApplyAudioCfgKey("SOUND_OUT_DEVICE", " null "));
    EXPECT_TRUE(ApplyAudioCfgKey("sound_in_device2", "hw:1,0"));
    EXPECT_FALSE(ApplyAudioCfgKey("SOUND_OUT_DEVICEX", "x"));
    EXPECT_FALSE(ApplyAudioCfgKey("LOG_FILE", "x"));
    EXPECT_EQ(AudioOutDeviceName(kWaveMapper), "null");
    EXPECT_EQ(AudioOutDeviceName(7), "null");
    EXPECT_EQ(AudioInDeviceName(2), "hw:1,0");
    EXPECT_EQ(AudioInDeviceName(kWaveMapper), "default");
    ResetAudioDeviceNames();
}

TEST(AudioDeviceNames, ReadFromConfigurationFile) {
    ScratchDir dir("cfg");
    std::string cfg = dir / "ZuZodRun.cfg";
    std::ofstream(cfg) << "LOG_FILE=msg.txt\n// SOUND_OUT_DEVICE=hidden\nSOUND_OUT_DEVICE1 = plughw:0 // card\n"
                       << "SOUND_IN_DEVICE=null\n";
    ResetAudioDeviceNames();
    ASSERT_TRUE(LoadAudioCfgFile(cfg));
    EXPECT_EQ(AudioOutDeviceName(1), "plughw:0");
    EXPECT_EQ(AudioOutDeviceName(kWaveMapper), "default");
    EXPECT_EQ(AudioInDeviceName(0), "null");
    EXPECT_FALSE(LoadAudioCfgFile(dir / "missing.cfg"));
    ResetAudioDeviceNames();
}

TEST(AudioVolume, ScalesEachFormatAndLeavesFullVolumeAlone) {
    AudioFormat pcm16;
    Bytes b = {0xE8, 0x03, 0x18, 0xFC}; // 1000, -1000
    ApplyAudioVolume(pcm16, 0xFFFFFFFF, b.data(), b.size());
    EXPECT_EQ(b, (Bytes{0xE8, 0x03, 0x18, 0xFC}));
    ApplyAudioVolume(pcm16, 32767u | 32767u << 16, b.data(), b.size());
    EXPECT_EQ(int16_t(Get16(b, 0)), 499);
    EXPECT_EQ(int16_t(Get16(b, 2)), -499);

    AudioFormat stereo{1, 2, 8000, 32000, 4, 16};
    Bytes s = {0xE8, 0x03, 0xE8, 0x03};                          // left 1000, right 1000
    ApplyAudioVolume(stereo, 0xFFFFu << 16, s.data(), s.size()); // left muted
    EXPECT_EQ(int16_t(Get16(s, 0)), 0);
    EXPECT_EQ(int16_t(Get16(s, 2)), 1000);

    AudioFormat pcm8{1, 1, 8000, 8000, 1, 8};
    Bytes u = {228, 28, 128};
    ApplyAudioVolume(pcm8, 0, u.data(), u.size());
    EXPECT_EQ(u, (Bytes{128, 128, 128}));

    AudioFormat alaw{6, 1, 8000, 8000, 1, 8};
    Bytes a = {G711AlawEncode(8000)};
    ApplyAudioVolume(alaw, 32767u | 32767u << 16, a.data(), a.size());
    EXPECT_NEAR(G711AlawDecode(a[0]), 4000, 130);
}

// Decoding must agree with sox code for code; encoding may differ from sox only where sox rounds a sample that
// lies on a boundary between two codes, and never be the less accurate choice by more than rounding.
TEST(AudioG711, AgreesWithSox) {
    ScratchDir dir("g711");
    Bytes codes;
    for (int c = 0; c < 256; ++c)
        codes.push_back(uint8_t(c));
    Bytes pcm;
    for (int v = -32768; v < 32768; v += 7)
        Put16(pcm, uint16_t(int16_t(v)));
    WriteFile(dir / "codes.raw", codes);
    WriteFile(dir / "in.s16", pcm);
    for (const char* enc : {"a-law", "u-law"}) {
        bool alaw = enc[0] == 'a';
        std::string dec = dir / "dec.s16", out = dir / "enc.raw";
        std::string decode = "sox -D -t raw -r 8000 -e " + std::string(enc) + " -b 8 -c 1 '" + (dir / "codes.raw") +
                             "' -t raw -e signed -b 16 '" + dec + "'";
        ASSERT_EQ(system(decode.c_str()), 0) << decode;
        Bytes ref = ReadFile(dec);
        ASSERT_EQ(ref.size(), 512u);
        for (int c = 0; c < 256; ++c)
            EXPECT_EQ(alaw ? G711AlawDecode(uint8_t(c)) : G711UlawDecode(uint8_t(c)), int16_t(Get16(ref, 2 * c)))
                << enc << " code " << c;

        std::string encode = "sox -D -t raw -r 8000 -e signed -b 16 -c 1 '" + (dir / "in.s16") + "' -t raw -e " + enc +
                             " -b 8 '" + out + "' 2>/dev/null";
        ASSERT_EQ(system(encode.c_str()), 0) << encode;
        Bytes soxCodes = ReadFile(out);
        ASSERT_EQ(soxCodes.size(), pcm.size() / 2);
        size_t differ = 0;
        for (size_t i = 0; i < soxCodes.size(); ++i) {
            int16_t s = int16_t(Get16(pcm, 2 * i));
            uint8_t ours = alaw ? G711AlawEncode(s) : G711UlawEncode(s);
            if (ours == soxCodes[i]) continue;
            ++differ;
            int errOurs = std::abs((alaw ? G711AlawDecode(ours) : G711UlawDecode(ours)) - s);
            int errSox = std::abs((alaw ? G711AlawDecode(soxCodes[i]) : G711UlawDecode(soxCodes[i])) - s);
            EXPECT_LE(errOurs, 2 * errSox + 32) << enc << " sample " << s;
        }
        EXPECT_LT(differ, soxCodes.size() / 50) << enc;
    }
}

TEST(FakeAudio, KeepsWhatIsPlayedAndGivesWhatIsFed) {
    FakeAudio card;
    std::unique_ptr<AudioOut> out;
    ASSERT_EQ(card.OpenOut(4, Pcm16Mono8k(), out), kAudioOk);
    Bytes block = Ramp(10);
    EXPECT_EQ(out->Write(block.data(), block.size()), 10);
    EXPECT_EQ(card.Played(), block);
    EXPECT_EQ(card.LastDevice(), 4u);

    std::unique_ptr<AudioIn> in;
    ASSERT_EQ(card.OpenIn(0, Pcm16Mono8k(), in), kAudioOk);
    card.Feed(block.data(), 6);
    uint8_t buf[4];
    EXPECT_EQ(in->Read(buf, 4), 4);
    in->Reset();
    EXPECT_EQ(in->Read(buf, 4), 2); // a reset hands back what is there
    EXPECT_EQ(buf[0], block[4]);

    AudioFormat bad{2, 1, 8000, 4000, 1, 4}; // ADPCM is not a device format
    std::unique_ptr<AudioOut> other;
    EXPECT_EQ(card.OpenOut(0, bad, other), kAudioBadFormat);
    card.FailOpen(kAudioBadDevice);
    EXPECT_EQ(card.OpenOut(0, Pcm16Mono8k(), other), kAudioBadDevice);
}
