#include "VoiceTestUtil.h"
#include "media/G711.h"
#include "media/TagVocFile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zz;
using vt::Bytes;

namespace {

int32_t ReadFile(const std::string& path, Bytes& out, uint8_t& vType, int32_t size = -1) {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    if (size < 0) size = int32_t(std::ftell(f));
    out.assign(size_t(size), 0);
    int32_t n = ReadWaveData(f, out.data(), size, vType);
    std::fclose(f);
    out.resize(size_t(std::max(n, 0)));
    return n;
}

// The A-law code whose expansion is v (v must be one of the 128 levels).
uint8_t AlawCodeOf(int16_t v) {
    for (int c = 0; c < 256; ++c)
        if (ExpandG711(uint8_t(c), true) == v) return uint8_t(c);
    ADD_FAILURE() << "no A-law code expands to " << v;
    return 0xD5;
}

Bytes Ramp(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7);
    return b;
}

} // namespace

TEST(ReadWaveData, HeaderlessFileIsAlawFromItsFirstByte) {
    vt::Dir d("raw");
    vt::LogCapture log;
    Bytes raw = Ramp(300);
    raw[0] = 'R';
    vt::Write("a.vox", raw);
    Bytes got;
    uint8_t vType = 9;
    EXPECT_EQ(ReadFile("a.vox", got, vType), 300);
    EXPECT_EQ(vType, kVocAlaw);
    EXPECT_EQ(got, raw);
    EXPECT_TRUE(log.Has("不是Wave文件"));
    EXPECT_EQ(ReadFile("a.vox", got, vType, 100), 100) << "as many bytes as the buffer holds";
}

TEST(ReadWaveData, RefusesWrongRateAndSampleWidths) {
    vt::Dir d("refuse");
    struct Case {
        uint16_t tag;
        uint32_t rate;
        uint16_t bits;
        const char* words;
    } cases[] = {{6, 16000, 8, "采样率不是8000"},
                 {6, 8000, 16, "数据位不是8Bit"},
                 {7, 8000, 16, "数据位不是8Bit"},
                 {1, 8000, 8, "PCM数据位不是16Bit"}};
    for (const Case& c : cases) {
        vt::LogCapture log;
        vt::Write("x.wav", vt::Wav(c.tag, c.rate, c.bits, Ramp(400)));
        Bytes got;
        uint8_t vType;
        EXPECT_EQ(ReadFile("x.wav", got, vType), 0) << c.words;
        EXPECT_TRUE(log.Has(c.words)) << c.words;
    }
    vt::LogCapture log;
    uint8_t vType = 5;
    EXPECT_EQ(ReadWaveData(nullptr, nullptr, 10, vType), 0);
    EXPECT_EQ(vType, kVocAlaw);
    EXPECT_TRUE(log.Has("File not open!"));
}

TEST(ReadWaveData, KindsFollowTheFormatTag) {
    vt::Dir d("kinds");
    Bytes data = Ramp(400), got;
    uint8_t vType;
    vt::Write("a.wav", vt::Wav(6, 8000, 8, data));
    EXPECT_EQ(ReadFile("a.wav", got, vType), 400);
    EXPECT_EQ(vType, kVocAlaw);
    EXPECT_EQ(got, data);
    vt::Write("u.wav", vt::Wav(7, 8000, 8, data, 18));
    EXPECT_EQ(ReadFile("u.wav", got, vType), 400);
    EXPECT_EQ(vType, kVocMulaw);
    EXPECT_EQ(got, data);
    vt::Write("p.wav", vt::Wav(1, 8000, 16, data, 20));
    EXPECT_EQ(ReadFile("p.wav", got, vType), 400);
    EXPECT_EQ(vType, kVocPcm16);
    vt::Write("o.wav", vt::Wav(0x11, 8000, 4, data));
    EXPECT_EQ(ReadFile("o.wav", got, vType), 400) << "other tags pass as A-law, bits unchecked";
    EXPECT_EQ(vType, kVocAlaw);
}

TEST(ReadWaveData, ChunksBeforeDataAreSkippedByTheirIds) {
    vt::Dir d("chunks");
    Bytes data = Ramp(400), got;
    uint8_t vType;
    vt::Write("one.wav", vt::Wav(6, 8000, 8, data, 16, {vt::Chunk("LIST", 26)}));
    EXPECT_EQ(ReadFile("one.wav", got, vType), 400);
    EXPECT_EQ(got, data);
    // An editor's LIST and JUNK, an odd chunk with its pad byte: the sound is still the data chunk's.
    Bytes odd = vt::Chunk("fact", 5);
    odd.push_back(0);
    vt::Write("two.wav", vt::Wav(6, 8000, 8, data, 16, {vt::Chunk("LIST", 26), vt::Chunk("JUNK", 28), odd}));
    EXPECT_EQ(ReadFile("two.wav", got, vType), 400);
    EXPECT_EQ(got, data);
    Bytes noData = vt::Wav(6, 8000, 8, {}, 16, {vt::Chunk("LIST", 26)});
    noData.resize(noData.size() - 8); // the data chunk's header gone
    vt::Write("none.wav", noData);
    EXPECT_EQ(ReadFile("none.wav", got, vType), 0) << "no data chunk within the file";
}

TEST(ReadWaveData, ShortFmtChunkLeavesTheRateUnreadAndIsRefused) {
    vt::Dir d("shortfmt");
    vt::LogCapture log;
    vt::Write("s.wav", vt::Wav(6, 8000, 8, Ramp(400), 4));
    Bytes got;
    uint8_t vType;
    EXPECT_EQ(ReadFile("s.wav", got, vType), 0);
    EXPECT_TRUE(log.Has("采样率不是8000"));
}

TEST(TagVocFile, SizeLimitsAndRefusalsAreLogged) {
    vt::Dir d("sizes");
    vt::LogCapture log;
    vt::Write("159.vox", Ramp(159));
    vt::Write("160.vox", Ramp(160));
    TagVocFile small("159.vox", 1.0);
    EXPECT_EQ(small.status, -1);
    EXPECT_TRUE(log.Has("'159.vox' 太小!"));
    TagVocFile ok("160.vox", 1.0);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.count, 160);
    EXPECT_EQ(ok.samples[5], ExpandG711(35, true));
    TagVocFile missing("none.wav", 1.0);
    EXPECT_EQ(missing.status, -1);
    EXPECT_TRUE(log.Has("'none.wav' open err"));
    vt::Write("bad.wav", vt::Wav(6, 11025, 8, Ramp(400)));
    TagVocFile bad("bad.wav", 1.0);
    EXPECT_EQ(bad.status, -1);
    EXPECT_TRUE(log.Has("'bad.wav' 文件头不正确!"));
    EXPECT_TRUE(log.Has("len=160, vType=0"));
    EXPECT_TRUE(log.Has("fLen=160"));
}

TEST(TagVocFile, FixedGainScalesEightBitFilesOnly) {
    vt::Dir d("gain");
    Bytes codes = {AlawCodeOf(1116), AlawCodeOf(-1116), AlawCodeOf(16764), AlawCodeOf(-32124)};
    codes.resize(400, 0xD5);
    vt::Write("a.wav", vt::Wav(6, 8000, 8, codes));
    TagVocFile one("a.wav", 1.0);
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(one.samples[0], 1116);
    EXPECT_EQ(one.samples[3], -32124);
    TagVocFile half("a.wav", 0.5);
    EXPECT_EQ(half.samples[0], 558);
    EXPECT_EQ(half.samples[1], -558);
    TagVocFile huge("a.wav", HUGE_VAL);
    EXPECT_EQ(huge.samples[0], 32467);
    EXPECT_EQ(huge.samples[4], 0);
    TagVocFile nan("a.wav", std::nan(""));
    EXPECT_EQ(nan.samples[0], 1116) << "not a number: automatic gain";
    TagVocFile twice("a.wav", 2.5);
    EXPECT_EQ(twice.samples[0], 2790);
    EXPECT_EQ(twice.samples[2], 32467) << "products beyond 16 bits are limited, not wrapped";
    EXPECT_EQ(twice.samples[3], -32467);

    std::vector<int16_t> pcm = {1000, -32768, 32767, 5};
    pcm.resize(200, 3);
    vt::Write("p.wav", vt::Wav(1, 8000, 16, vt::Pcm(pcm)));
    for (double g : {0.0, 3.0}) {
        TagVocFile p("p.wav", g);
        ASSERT_EQ(p.status, 0);
        EXPECT_EQ(p.vType, kVocPcm16);
        EXPECT_EQ(std::vector<int16_t>(p.samples.get(), p.samples.get() + p.count), pcm) << g;
    }
}

TEST(TagVocFile, LongPcmFileLoadsEverySampleAcrossReadPieces) {
    vt::Dir d("longpcm");
    std::vector<int16_t> pcm;
    for (int i = 0; i < 40000; ++i)
        pcm.push_back(int16_t(i * 31 - 20000));
    Bytes data = vt::Pcm(pcm);
    data.push_back(0x7F); // a stray odd byte is not a sample
    vt::Write("p.wav", vt::Wav(1, 8000, 16, data, 18, {vt::Chunk("LIST", 3)}));
    TagVocFile p("p.wav", 1.0);
    ASSERT_EQ(p.status, 0);
    ASSERT_EQ(p.count, 40000);
    EXPECT_EQ(std::vector<int16_t>(p.samples.get(), p.samples.get() + p.count), pcm);
}

TEST(TagVocFile, AutoGainFactorSteps) {
    EXPECT_EQ(AutoGainFactor(160 * 655), 10);
    EXPECT_EQ(AutoGainFactor(160 * 3000), 2);
    EXPECT_EQ(AutoGainFactor(160 * 5000), 1);
    EXPECT_EQ(AutoGainFactor(160 * 10000), -2);
    EXPECT_EQ(AutoGainFactor(159), 1);
    EXPECT_EQ(AutoGainFactor(160 * 100), 10);
    EXPECT_EQ(AutoGainFactor(160 * 3276), 2);
    EXPECT_EQ(AutoGainFactor(160 * 3277), 1);
}

namespace {
// Silence, then a stretch of alternating +/-level, then quiet frames.
Bytes Stretch(int16_t level, int loudFrames, int quietFrames, int leadFrames = 10) {
    Bytes b(size_t(leadFrames) * 160, 0xD5);
    for (int i = 0; i < loudFrames * 160; ++i)
        b.push_back(AlawCodeOf(i % 2 ? -level : level));
    b.resize(b.size() + size_t(quietFrames) * 160, 0xD5);
    return b;
}
} // namespace

TEST(TagVocFile, AutoGainRaisesQuietSpeechAfter27QuietFrames) {
    vt::Dir d("autogain");
    vt::LogCapture log;
    vt::Write("q.wav", vt::Wav(6, 8000, 8, Stretch(1116, 20, 27)));
    TagVocFile v("q.wav", 0.0);
    ASSERT_EQ(v.status, 0);
    EXPECT_EQ(v.samples[1600], 5 * 1116) << "6553 / 1116 is 5";
    EXPECT_EQ(v.samples[1601], -5 * 1116);
    EXPECT_EQ(v.samples[1599], 0);
    EXPECT_TRUE(log.Has("AutoGainCount=1: q.wav"));

    vt::Write("open.wav", vt::Wav(6, 8000, 8, Stretch(1116, 20, 26)));
    TagVocFile open("open.wav", -1.0);
    EXPECT_EQ(open.samples[1600], 1116) << "a stretch still open at the end keeps its samples";

    vt::Write("loud.wav", vt::Wav(6, 8000, 8, Stretch(16764, 5, 30)));
    TagVocFile loud("loud.wav", 0.0);
    EXPECT_EQ(loud.samples[1600], 16764 * 2 / 3);
    EXPECT_EQ(loud.samples[1601], -16764 * 2 / 3);

    vt::Write("mid.wav", vt::Wav(6, 8000, 8, Stretch(4092, 5, 30)));
    TagVocFile mid("mid.wav", 0.0);
    EXPECT_EQ(mid.samples[1600], 4092) << "levels 3277..9829 stay";
}

TEST(TagVocFile, WritersHeadersAreExact) {
    vt::Dir d("writers");
    std::vector<int16_t> pcm = {0, 100, -100, 1000, -32768, 32767};
    pcm.resize(100, 7);
    vt::Write("p.wav", vt::Wav(1, 8000, 16, vt::Pcm(pcm)));
    TagVocFile v("p.wav", 1.0);
    ASSERT_EQ(v.status, 0);
    ASSERT_EQ(v.SavePcm16("out16.wav"), 0);
    ASSERT_EQ(v.SaveAlaw("outa.wav"), 0);
    Bytes h16 = vt::Cat(vt::Cat(vt::Str("RIFF"), vt::Le32(236)), vt::Str("WAVEfmt "));
    for (auto& part : {vt::Le32(16), vt::Le16(1), vt::Le16(1), vt::Le32(8000), vt::Le32(16000), vt::Le16(2),
                       vt::Le16(16), vt::Str("data"), vt::Le32(200)})
        h16 = vt::Cat(h16, part);
    EXPECT_EQ(vt::Read("out16.wav"), vt::Cat(h16, vt::Pcm(pcm)));
    Bytes ha = vt::Cat(vt::Cat(vt::Str("RIFF"), vt::Le32(136)), vt::Str("WAVEfmt "));
    for (auto& part : {vt::Le32(16), vt::Le16(6), vt::Le16(1), vt::Le32(8000), vt::Le32(8000), vt::Le16(1), vt::Le16(8),
                       vt::Str("data"), vt::Le32(100)})
        ha = vt::Cat(ha, part);
    Bytes a = vt::Read("outa.wav");
    ASSERT_EQ(a.size(), 144u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 44), ha);
    for (size_t i = 0; i < pcm.size(); ++i)
        EXPECT_EQ(a[44 + i], LinearToAlaw(pcm[i]));
    EXPECT_EQ(v.Save("same.wav"), 0);
    EXPECT_EQ(vt::Read("same.wav"), vt::Read("out16.wav")) << "16-bit files are saved as 16-bit";
    EXPECT_EQ(d.Entries().find(".tmp"), std::string::npos) << d.Entries();
}

TEST(TagVocFile, UnwritableOutputIsRefused) {
    vt::Dir d("unwritable");
    vt::LogCapture log;
    vt::Write("a.vox", Ramp(400));
    TagVocFile v("a.vox", 1.0);
    EXPECT_EQ(v.SaveAlaw("no/such/dir/x.wav"), -1);
    EXPECT_TRUE(log.Has("'no/such/dir/x.wav' 无法创建!"));
}

TEST(TagVocFile, SoxReadsWhatTheWritersWrite) {
    if (!vt::HaveSox()) GTEST_SKIP() << "sox is not installed";
    vt::Dir d("soxwriters");
    std::vector<int16_t> pcm;
    for (int i = 0; i < 8000; ++i)
        pcm.push_back(int16_t((i * 2654435761u) >> 16));
    vt::Write("p.wav", vt::Wav(1, 8000, 16, vt::Pcm(pcm)));
    TagVocFile v("p.wav", 1.0);
    ASSERT_EQ(v.SavePcm16("o16.wav"), 0);
    ASSERT_EQ(v.SaveAlaw("oa.wav"), 0);
    EXPECT_EQ(vt::Soxi("-e", "o16.wav"), "Signed Integer PCM");
    EXPECT_EQ(vt::Soxi("-e", "oa.wav"), "A-law");
    for (const char* f : {"o16.wav", "oa.wav"}) {
        EXPECT_EQ(vt::Soxi("-r", f), "8000") << f;
        EXPECT_EQ(vt::Soxi("-c", f), "1") << f;
        EXPECT_EQ(vt::Soxi("-s", f), "8000") << f;
    }
    // sox encoding the same samples gives the same A-law bytes.
    int rc = -1;
    vt::Run("sox -D p.wav -t raw -e a-law -b 8 sox.raw", &rc);
    ASSERT_EQ(rc, 0);
    // sox rounds to the nearest 13-bit step first (see G711AgainstSox): the same bytes on those terms.
    Bytes ours = vt::Read("oa.wav"), sox = vt::Read("sox.raw");
    ASSERT_EQ(sox.size(), pcm.size());
    size_t same = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        ASSERT_EQ(sox[i], LinearToAlaw(int16_t(std::min(pcm[i] + 4, 32767)))) << i;
        same += ours[44 + i] == sox[i];
    }
    EXPECT_GT(same, pcm.size() * 98 / 100);
}

TEST(TagVocFile, LargeBuffersAreMappedAndFreed) {
    for (size_t n : {size_t(10), size_t(5) << 20}) {
        auto a = voc::MakeBigArray<int16_t>(n);
        a[0] = 1;
        a[n - 1] = 2;
        EXPECT_EQ(a[0] + a[n - 1], 3);
        EXPECT_EQ(a.get_deleter().mapped != 0, n > 1000) << n;
    }
}
