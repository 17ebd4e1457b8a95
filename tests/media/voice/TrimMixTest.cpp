#include "VoiceTestUtil.h"
#include "media/G711.h"
#include "media/TagVocFile.h"
#include "media/TagWaveUnits.h"
#include "media/VocMix.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zz;
using vt::Bytes;

namespace {

// 16-bit frames: each entry a frame of 20 samples alternating +level / -level.
Bytes PcmFrames(const std::vector<int16_t>& levels) {
    std::vector<int16_t> s;
    for (int16_t l : levels)
        for (int k = 0; k < 20; ++k)
            s.push_back(k % 2 ? int16_t(-l) : l);
    return vt::Pcm(s);
}

std::vector<int16_t> Levels(std::initializer_list<std::pair<int, int16_t>> runs) {
    std::vector<int16_t> v;
    for (auto [n, l] : runs)
        v.insert(v.end(), size_t(n), l);
    return v;
}

uint8_t AlawCodeOf(int16_t v) {
    for (int c = 0; c < 256; ++c)
        if (ExpandG711(uint8_t(c), true) == v) return uint8_t(c);
    return 0xD5;
}

// 8-bit A-law: frames of 20 codes of +level / -level.
Bytes AlawFrames(const std::vector<int16_t>& levels) {
    Bytes b;
    for (int16_t l : levels)
        for (int k = 0; k < 20; ++k)
            b.push_back(AlawCodeOf(k % 2 ? int16_t(-l) : l));
    return b;
}

Bytes Header46(uint16_t tag, uint32_t byteRate, uint16_t align, uint16_t bits, uint32_t len) {
    Bytes h = vt::Cat(vt::Cat(vt::Str("RIFF"), vt::Le32(len + 38)), vt::Str("WAVEfmt "));
    for (auto& part : {vt::Le32(18), vt::Le16(tag), vt::Le16(1), vt::Le32(8000), vt::Le32(byteRate), vt::Le16(align),
                       vt::Le16(bits), vt::Le16(0), vt::Str("data"), vt::Le32(len)})
        h = vt::Cat(h, part);
    return h;
}

} // namespace

TEST(SegmentVoice, StretchesNeedMoreThanTwentyVoicedFrames) {
    std::vector<TagVocUnit> units;
    Bytes b = PcmFrames(Levels({{5, 0}, {20, 1000}, {3, 0}, {21, 1000}, {2, 10}}));
    EXPECT_EQ(SegmentVoice(b.data(), int32_t(b.size()), units, kVocPcm16), 1);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].start, 28 * 20);
    EXPECT_EQ(units[0].frames, 21);
    EXPECT_EQ(units[0].end, 49 * 20);
    EXPECT_EQ(units[0].energy, 21 * 1000);
    EXPECT_EQ(units[0].posSums, (std::vector<uint32_t>{8 * 500, 8 * 500, 5 * 500}));
    EXPECT_EQ(units[0].negSums, (std::vector<uint32_t>{8 * 500, 8 * 500, 5 * 500}));
}

TEST(SegmentVoice, ThresholdStartAndEndOfData) {
    std::vector<TagVocUnit> units;
    // Level 450 is voiced, 449 is not; a stretch running to the end of the data is kept.
    Bytes b = PcmFrames(Levels({{24, 450}, {1, 449}, {16, 700}, {8, 3000}}));
    EXPECT_EQ(SegmentVoice(b.data(), int32_t(b.size()), units, kVocPcm16), 2);
    EXPECT_EQ(units[0].start, 0) << "speech in the first frame starts at sample 0";
    EXPECT_EQ(units[0].end, 24 * 20);
    EXPECT_EQ(units[0].posSums, (std::vector<uint32_t>{8 * 225, 8 * 225, 8 * 225, 0}));
    EXPECT_EQ(units[1].start, 25 * 20);
    EXPECT_EQ(units[1].frames, 24);
    EXPECT_EQ(SegmentVoice(b.data(), 0, units, kVocPcm16), 2) << "no bytes, no new units";

    units.clear();
    Bytes a = AlawFrames(Levels({{2, 0}, {30, 1116}}));
    EXPECT_EQ(SegmentVoice(a.data(), int32_t(a.size()), units, kVocAlaw), 1);
    EXPECT_EQ(units[0].start, 40);
    EXPECT_EQ(units[0].energy, 30 * 1116);
    units.clear();
    EXPECT_EQ(SegmentVoice(a.data(), int32_t(a.size()) - 1, units, kVocAlaw), 1) << "partial frame ignored";
    EXPECT_EQ(units[0].frames, 29);
}

TEST(TrimVoice, AlawFileIsCutToItsSpeechWithAnExactHeader) {
    vt::Dir d("trim");
    Bytes data = AlawFrames(Levels({{50, 0}, {40, 1116}, {10, 0}, {30, 2236}, {60, 0}}));
    vt::Write("t.wav", vt::Wav(6, 8000, 8, data));
    EXPECT_EQ(ReplaceVocFile("t.wav"), 1);
    Bytes span(data.begin() + 50 * 20, data.begin() + 130 * 20);
    EXPECT_EQ(vt::Read("t.wav"), vt::Cat(Header46(6, 8000, 1, 8, 1600), span));
    EXPECT_EQ(ReplaceVocFile("t.wav"), 1) << "trimming again changes nothing";
    EXPECT_EQ(vt::Read("t.wav"), vt::Cat(Header46(6, 8000, 1, 8, 1600), span));
    EXPECT_EQ(d.Entries(), "t.wav ");
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "t.wav"), "1600");
        EXPECT_EQ(vt::Soxi("-e", "t.wav"), "A-law");
    }
}

TEST(TrimVoice, KindsKeepTheirFormat) {
    vt::Dir d("trimkinds");
    Bytes pcm = PcmFrames(Levels({{10, 0}, {25, 2000}, {20, 0}}));
    vt::Write("p.wav", vt::Wav(1, 8000, 16, pcm));
    EXPECT_EQ(ReplaceVocFile("p.wav"), 0);
    Bytes span(pcm.begin() + 400, pcm.begin() + 1400);
    EXPECT_EQ(vt::Read("p.wav"), vt::Cat(Header46(1, 16000, 2, 16, 1000), span));

    Bytes mu(30 * 20, 0xFF);
    for (int i = 0; i < 25 * 20; ++i)
        mu.push_back(i % 2 ? 0x20 : 0xA0);
    mu.resize(mu.size() + 400, 0xFF);
    vt::Write("u.wav", vt::Wav(7, 8000, 8, mu));
    EXPECT_EQ(ReplaceVocFile("u.wav"), 0);
    EXPECT_EQ(vt::Read("u.wav"), vt::Cat(Header46(7, 8000, 1, 8, 500), Bytes(mu.begin() + 600, mu.begin() + 1100)));

    Bytes raw = AlawFrames(Levels({{20, 0}, {25, 1116}, {20, 0}}));
    vt::Write("r.vox", raw);
    EXPECT_EQ(ReplaceVocFile("r.vox"), 0);
    EXPECT_EQ(vt::Read("r.vox"), vt::Cat(Header46(6, 8000, 1, 8, 500), Bytes(raw.begin() + 400, raw.begin() + 900)))
        << "a headerless source comes back as A-law WAV";
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "p.wav"), "500");
        EXPECT_EQ(vt::Soxi("-b", "p.wav"), "16");
        EXPECT_EQ(vt::Soxi("-e", "u.wav"), "u-law");
        EXPECT_EQ(vt::Soxi("-s", "u.wav"), "500");
    }
}

TEST(TrimVoice, FailuresLeaveTheFileAlone) {
    vt::Dir d("trimfail");
    vt::LogCapture log;
    Bytes silence = vt::Wav(6, 8000, 8, Bytes(4000, 0xD5));
    vt::Write("s.wav", silence);
    EXPECT_EQ(ReplaceVocFile("s.wav"), -2);
    EXPECT_EQ(vt::Read("s.wav"), silence);
    Bytes small = AlawFrames(Levels({{1, 0}, {22, 1116}})); // speech but under 1000 bytes
    vt::Write("small.vox", small);
    EXPECT_EQ(ReplaceVocFile("small.vox"), -2);
    EXPECT_EQ(vt::Read("small.vox"), small);
    EXPECT_EQ(ReplaceVocFile("none.wav"), -2);
    EXPECT_TRUE(log.Has("Open 'none.wav' Error!"));
    vt::Write("tiny.wav", Bytes(159, 0xD5));
    EXPECT_EQ(ReplaceVocFile("tiny.wav"), -2);
    EXPECT_TRUE(log.Has("'tiny.wav' 太小!"));
    EXPECT_EQ(d.Entries().find(".tmp"), std::string::npos) << d.Entries();
}

TEST(TrimVoice, LinesTrimmingOneFileAtOnceNeverMixTheirCopies) {
    vt::Dir d("trimrace");
    Bytes data = AlawFrames(Levels({{500, 0}, {2000, 1116}, {500, 0}}));
    Bytes expect = vt::Cat(Header46(6, 8000, 1, 8, 40000), Bytes(data.begin() + 10000, data.begin() + 50000));
    for (int round = 0; round < 3; ++round) {
        vt::Write("race.wav", vt::Wav(6, 8000, 8, data));
        std::vector<std::thread> lines;
        for (int i = 0; i < 6; ++i)
            lines.emplace_back([] { ReplaceVocFile("race.wav"); });
        for (auto& t : lines)
            t.join();
        ASSERT_EQ(vt::Read("race.wav"), expect);
        ASSERT_EQ(d.Entries(), "race.wav ");
    }
}

namespace {
// A file of n A-law codes of one level.
void AlawConst(const std::string& name, size_t n, int16_t level) {
    vt::Write(name, vt::Wav(6, 8000, 8, Bytes(n, AlawCodeOf(level))));
}
} // namespace

TEST(MixVoice, PromptOverMusicFromTheOffset) {
    vt::Dir d("mix");
    vt::LogCapture log;
    AlawConst("music.wav", 240000, 1116);
    AlawConst("prompt.wav", 24000, 132);
    EXPECT_EQ(MixVocFiles("music.wav", 1.0f, 1000, "prompt.wav", 1.0f, "out.wav"), 1);
    Bytes out = vt::Read("out.wav");
    ASSERT_EQ(out.size(), 44u + 240000);
    EXPECT_EQ(out[20], 6);
    size_t mixed = 0;
    for (size_t i = 0; i < 240000; ++i) {
        bool in = i >= 8000 && i < 32000;
        ASSERT_EQ(out[44 + i], LinearToAlaw(in ? 1248 : 1116)) << i;
        mixed += in;
    }
    EXPECT_EQ(mixed, 24000u);
    std::string t = log.Text();
    for (const char* w : {"Mix:music.wav - prompt.wav", "Mix 1.", "Mix 2.", "Mix 3."})
        EXPECT_NE(t.find(w), std::string::npos) << w;
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "out.wav"), "240000");
        EXPECT_EQ(vt::Soxi("-e", "out.wav"), "A-law");
    }
}

TEST(MixVoice, LongShorterFileLosesItsLastSixThousandSamples) {
    vt::Dir d("mixlong");
    AlawConst("a.wav", 200000, 1116);
    AlawConst("b.wav", 160000, 132);
    EXPECT_EQ(MixVocFiles("a.wav", 1.0f, 0, "b.wav", 1.0f, "out.wav"), 1);
    Bytes out = vt::Read("out.wav");
    ASSERT_EQ(out.size(), 44u + 200000);
    EXPECT_EQ(out[44 + 153999], LinearToAlaw(1248));
    EXPECT_EQ(out[44 + 154000], LinearToAlaw(1116));
    // A no longer than B: B is the base and the offset is not used.
    EXPECT_EQ(MixVocFiles("b.wav", 1.0f, 5000, "a.wav", 1.0f, "out2.wav"), 1);
    out = vt::Read("out2.wav");
    ASSERT_EQ(out.size(), 44u + 200000);
    EXPECT_EQ(out[44], LinearToAlaw(1248));
    EXPECT_EQ(out[44 + 153999], LinearToAlaw(1248));
    EXPECT_EQ(out[44 + 154000], LinearToAlaw(1116));
    // An offset past the end mixes nothing in.
    EXPECT_EQ(MixVocFiles("a.wav", 1.0f, 4000000000u, "b.wav", 1.0f, "out3.wav"), 1);
    EXPECT_EQ(vt::Read("out3.wav")[44 + 10], LinearToAlaw(1116));
}

TEST(MixVoice, SumsAreClippedAndPcmStaysPcm) {
    vt::Dir d("mixclip");
    std::vector<int16_t> a(400, 30000), b(200, 30000);
    for (size_t i = 0; i < 400; i += 2)
        a[i] = -30000;
    for (size_t i = 0; i < 200; i += 2)
        b[i] = -30000;
    vt::Write("a.wav", vt::Wav(1, 8000, 16, vt::Pcm(a)));
    vt::Write("b.wav", vt::Wav(1, 8000, 16, vt::Pcm(b)));
    EXPECT_EQ(MixVocFiles("a.wav", 0.0f, 0, "b.wav", 0.0f, "out.wav"), 1);
    Bytes out = vt::Read("out.wav");
    ASSERT_EQ(out.size(), 44u + 800);
    EXPECT_EQ(out[20], 1);
    auto s = vt::Samples(out, 44);
    EXPECT_EQ(s[0], -32467);
    EXPECT_EQ(s[1], 32467);
    EXPECT_EQ(s[199], 32467);
    EXPECT_EQ(s[200], -30000);
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "out.wav"), "400");
    }
}

TEST(MixVoice, FailedMixIsReportedAndWritesNothing) {
    vt::Dir d("mixfail");
    vt::LogCapture log;
    AlawConst("a.wav", 1000, 1116);
    EXPECT_EQ(MixVocFiles("a.wav", 1.0f, 0, "missing.wav", 1.0f, "out.wav"), -1);
    EXPECT_TRUE(log.Has("Mix: 至少有一个文件不正确."));
    EXPECT_EQ(MixVocFiles("a.wav", 1.0f, 0, "a.wav", 1.0f, "no/dir/out.wav"), -2);
    EXPECT_TRUE(log.Has("'no/dir/out.wav' 无法创建!"));
    EXPECT_EQ(d.Entries(), "a.wav voice_log.txt ");
}
