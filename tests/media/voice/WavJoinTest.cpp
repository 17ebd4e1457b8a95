#include "media/WavJoin.h"
#include "VoiceTestUtil.h"
#include "media/G711.h"
#include "media/TagVocFile.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zz;
using vt::Bytes;

namespace {

Bytes Header46(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align, uint16_t bits,
               uint32_t len) {
    Bytes h = vt::Cat(vt::Cat(vt::Str("RIFF"), vt::Le32(len + 38)), vt::Str("WAVEfmt "));
    for (auto& part : {vt::Le32(18), vt::Le16(tag), vt::Le16(channels), vt::Le32(rate), vt::Le32(byteRate),
                       vt::Le16(align), vt::Le16(bits), vt::Le16(0), vt::Str("data"), vt::Le32(len)})
        h = vt::Cat(h, part);
    return h;
}

Bytes Fill(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 13);
    return b;
}

// Joins the pieces into name one call at a time, the way the play builtins do; the results in order.
std::vector<int32_t> Join(const std::string& name, const std::vector<std::string>& pieces) {
    FILE* out = std::fopen(name.c_str(), "r+b");
    if (!out) out = std::fopen(name.c_str(), "w+b");
    std::vector<int32_t> r;
    for (auto& p : pieces)
        r.push_back(JoinWavFiles(out, p));
    std::fclose(out);
    return r;
}

} // namespace

TEST(JoinWav, ThreePromptsMakeOneHeaderWithTheSummedLength) {
    vt::Dir d("join3");
    Bytes a = Fill(300, 1), b = Fill(1000, 2), c = Fill(7, 3);
    vt::Write("a.wav", vt::Wav(6, 8000, 8, a));
    vt::Write("b.WAV", vt::Wav(6, 8000, 8, b, 18, {vt::Chunk("LIST", 10)}));
    vt::Write("c.wav", vt::Wav(6, 8000, 8, c, 20));
    EXPECT_EQ(Join("out.wav", {"a.wav", "b.WAV", "c.wav"}), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(vt::Read("out.wav"), vt::Cat(vt::Cat(vt::Cat(Header46(6, 1, 8000, 8000, 1, 8, 1307), a), b), c));
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "out.wav"), "1307");
        EXPECT_EQ(vt::Soxi("-e", "out.wav"), "A-law");
    }
}

TEST(JoinWav, OtherNamesAreCopiedWholeAndCountedInTheData) {
    vt::Dir d("joinraw");
    Bytes a = Fill(200, 1);
    Bytes x = vt::Wav(6, 8000, 8, Fill(50, 9));
    vt::Write("a.wav", vt::Wav(6, 8000, 8, a));
    vt::Write("x.Wav", x);
    EXPECT_EQ(Join("out.wav", {"a.wav", "x.Wav"}), (std::vector<int32_t>{0, 0}));
    uint32_t len = uint32_t(200 + x.size());
    EXPECT_EQ(vt::Read("out.wav"), vt::Cat(vt::Cat(Header46(6, 1, 8000, 8000, 1, 8, len), a), x))
        << "x.Wav's header is copied into the data";
    Bytes raw = Fill(300, 8);
    vt::Write("r.vox", raw);
    EXPECT_EQ(Join("raw.out", {"r.vox", "r.vox"}), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(vt::Read("raw.out"), vt::Cat(raw, raw)) << "an output of raw pieces gets no header";
}

TEST(JoinWav, MissingPieceIsLoggedEvenWithTheLogOff) {
    vt::Dir d("joinmissing");
    vt::LogCapture log;
    zz::SetLogLevel(0);
    EXPECT_EQ(Join("out.wav", {"missing.wav"}), (std::vector<int32_t>{-1}));
    EXPECT_TRUE(log.Has("Open file error: missing.wav"));
    EXPECT_EQ(vt::Read("out.wav").size(), 0u);
}

TEST(JoinWav, HeadersAreCheckedAgainstTheFiles) {
    vt::Dir d("joinchecks");
    vt::LogCapture log;
    Bytes a = Fill(400, 1);
    vt::Write("a.wav", vt::Wav(6, 8000, 8, a));
    vt::Write("bad.wav", Fill(500, 7));
    vt::Write("pcm.wav", vt::Wav(1, 8000, 16, Fill(400, 2)));
    vt::Write("nodata.wav", vt::Cat(vt::Str("RIFF"), vt::Cat(vt::Le32(28), vt::Str("WAVEfmt "))));
    vt::Write("out.wav", {});
    EXPECT_EQ(Join("out.wav", {"bad.wav", "nodata.wav", "a.wav", "pcm.wav"}), (std::vector<int32_t>{-1, -1, 0, -1}));
    EXPECT_EQ(vt::Read("out.wav"), vt::Cat(Header46(6, 1, 8000, 8000, 1, 8, 400), a))
        << "bad pieces and a piece of another format leave the output as it was";
    EXPECT_TRUE(log.Has("bad.wav"));
    EXPECT_TRUE(log.Has("pcm.wav"));

    // A recording whose header claims more than it holds gives what it holds.
    Bytes cut = vt::Wav(6, 8000, 8, Fill(1000, 5));
    cut.resize(cut.size() - 600);
    vt::Write("cut.wav", cut);
    EXPECT_EQ(Join("out.wav", {"cut.wav"}), (std::vector<int32_t>{0}));
    EXPECT_EQ(vt::Read("out.wav"), vt::Cat(vt::Cat(Header46(6, 1, 8000, 8000, 1, 8, 800), a), Fill(400, 5)));
}

TEST(JoinWav, NeverWritesAHeaderOverSound) {
    vt::Dir d("joinover");
    Bytes raw = Fill(300, 4);
    vt::Write("a.vox", raw);
    vt::Write("a.wav", vt::Wav(6, 8000, 8, Fill(100, 1)));
    EXPECT_EQ(Join("out.wav", {"a.vox", "a.wav"}), (std::vector<int32_t>{0, -1}));
    EXPECT_EQ(vt::Read("out.wav"), raw) << "the raw sound at the start of the output is kept";

    // An output that begins with a 44-byte header keeps it: only its two sizes change.
    vt::Write("p.wav", vt::Wav(6, 8000, 8, Fill(500, 6)));
    TagVocFile v("p.wav", 1.0);
    ASSERT_EQ(v.SaveAlaw("o44.wav"), 0);
    Bytes before = vt::Read("o44.wav");
    EXPECT_EQ(Join("o44.wav", {"a.wav"}), (std::vector<int32_t>{0}));
    Bytes after = vt::Read("o44.wav");
    ASSERT_EQ(after.size(), before.size() + 100);
    EXPECT_EQ(Bytes(after.begin() + 44, after.begin() + 544), Bytes(before.begin() + 44, before.end()));
    EXPECT_EQ(Bytes(after.begin() + 40, after.begin() + 44), vt::Le32(600));
    EXPECT_EQ(Bytes(after.begin() + 4, after.begin() + 8), vt::Le32(636));
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "o44.wav"), "600");
    }

    // Trailing bytes after the data chunk (a list chunk behind the sound) make the output unusable for joins.
    vt::Write("tail.wav", vt::Cat(vt::Wav(6, 8000, 8, Fill(100, 1)), vt::Chunk("LIST", 4)));
    Bytes tail = vt::Read("tail.wav");
    EXPECT_EQ(Join("tail.wav", {"a.wav"}), (std::vector<int32_t>{-1}));
    EXPECT_EQ(vt::Read("tail.wav"), tail);
}

TEST(ConvertAlaw, PcmBecomesCurveEncodedAlawWithAnExactHeader) {
    vt::Dir d("conv");
    std::vector<int16_t> s = {0, 100, -100, 1000, 32767, -32768};
    for (int i = 0; i < 3000; ++i)
        s.push_back(int16_t(i * 21 - 30000));
    vt::Write("in.wav", vt::Wav(1, 8000, 16, vt::Pcm(s), 40, {vt::Chunk("LIST", 30)}));
    ASSERT_EQ(ConvertPcmWavToAlaw("in.wav", "out.wav"), 0);
    Bytes out = vt::Read("out.wav");
    ASSERT_EQ(out.size(), 46 + s.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 46), Header46(6, 1, 8000, 8000, 1, 8, uint32_t(s.size())));
    EXPECT_EQ(out[46], 0xD5);
    EXPECT_EQ(out[47], 0xD3);
    EXPECT_EQ(out[48], 0x53);
    EXPECT_EQ(out[49], 0xFB);
    for (size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(out[46 + i], AlawEncodeSample(s[i])) << i;
    EXPECT_EQ(d.Entries(), "in.wav out.wav ");
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-e", "out.wav"), "A-law");
        EXPECT_EQ(vt::Soxi("-s", "out.wav"), std::to_string(s.size()));
        EXPECT_EQ(vt::Soxi("-r", "out.wav"), "8000");
    }
}

TEST(ConvertAlaw, RefusalsAndTheirResults) {
    vt::Dir d("convfail");
    EXPECT_EQ(ConvertPcmWavToAlaw("missing.wav", "o.wav"), -1);
    vt::Write("eight.wav", vt::Wav(6, 8000, 8, Fill(400, 1)));
    EXPECT_EQ(ConvertPcmWavToAlaw("eight.wav", "o.wav"), -3);
    vt::Write("pcm8.wav", vt::Wav(1, 8000, 8, Fill(400, 1)));
    EXPECT_EQ(ConvertPcmWavToAlaw("pcm8.wav", "o.wav"), -3);
    vt::Write("raw.wav", Fill(400, 1));
    EXPECT_EQ(ConvertPcmWavToAlaw("raw.wav", "o.wav"), -2);
    Bytes notWave = vt::Wav(1, 8000, 16, Fill(400, 1));
    notWave[8] = 'X';
    vt::Write("notwave.wav", notWave);
    EXPECT_EQ(ConvertPcmWavToAlaw("notwave.wav", "o.wav"), -2);
    // No "data" chunk at all: the bytes after fmt are not taken as sound.
    Bytes noData = vt::Wav(1, 8000, 16, {}, 16, {vt::Chunk("LIST", 400)});
    noData.resize(noData.size() - 8);
    vt::Write("nodata.wav", noData);
    EXPECT_EQ(ConvertPcmWavToAlaw("nodata.wav", "o.wav"), -2);
    vt::Write("good.wav", vt::Wav(1, 8000, 16, Fill(400, 1)));
    EXPECT_EQ(ConvertPcmWavToAlaw("good.wav", "no/dir/o.wav"), -2);
    EXPECT_EQ(d.Entries(), "eight.wav good.wav nodata.wav notwave.wav pcm8.wav raw.wav ");
}

TEST(ConvertAlaw, ShortInputAndOtherRatesKeepAConsistentHeader) {
    vt::Dir d("convshort");
    Bytes in = vt::Wav(1, 16000, 16, Fill(2000, 3));
    in.resize(in.size() - 999); // 1001 bytes of sound left: 500 whole samples
    vt::Write("cut.wav", in);
    ASSERT_EQ(ConvertPcmWavToAlaw("cut.wav", "o.wav"), 0);
    Bytes out = vt::Read("o.wav");
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 46), Header46(6, 1, 16000, 16000, 1, 8, 500));
    EXPECT_EQ(out.size(), 546u);
    vt::Write("st.wav", vt::Wav(1, 8000, 16, Fill(800, 3), 16, {}, 2));
    ASSERT_EQ(ConvertPcmWavToAlaw("st.wav", "st_a.wav"), 0);
    Bytes st = vt::Read("st_a.wav");
    ASSERT_EQ(st.size(), 446u);
    EXPECT_EQ(Bytes(st.begin(), st.begin() + 46), Header46(6, 2, 8000, 16000, 2, 8, 400));
    if (vt::HaveSox()) {
        EXPECT_EQ(vt::Soxi("-s", "o.wav"), "500");
        EXPECT_EQ(vt::Soxi("-r", "o.wav"), "16000");
        EXPECT_EQ(vt::Soxi("-c", "st_a.wav"), "2");
        EXPECT_EQ(vt::Soxi("-s", "st_a.wav"), "200");
    }
}

TEST(ConvertAlaw, LinesConvertingToOneFileAtOnceLeaveOneWholeFile) {
    vt::Dir d("convrace");
    std::vector<int16_t> s;
    for (int i = 0; i < 200000; ++i)
        s.push_back(int16_t(i * 37));
    vt::Write("in.wav", vt::Wav(1, 8000, 16, vt::Pcm(s)));
    ASSERT_EQ(ConvertPcmWavToAlaw("in.wav", "ref.wav"), 0);
    Bytes ref = vt::Read("ref.wav");
    std::vector<std::thread> lines;
    std::vector<int> results(6, 99);
    for (int i = 0; i < 6; ++i)
        lines.emplace_back([&, i] { results[size_t(i)] = ConvertPcmWavToAlaw("in.wav", "out.wav"); });
    for (auto& t : lines)
        t.join();
    EXPECT_EQ(results, std::vector<int>(6, 0));
    EXPECT_EQ(vt::Read("out.wav"), ref);
    EXPECT_EQ(d.Entries(), "in.wav out.wav ref.wav ");
}
