#include "media/G711.h"
#include "VoiceTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

using namespace zz;

TEST(G711Expand, MulawCodesFollowG711) {
    EXPECT_EQ(ExpandG711(0xFF, false), 0);
    EXPECT_EQ(ExpandG711(0x7F, false), 0);
    EXPECT_EQ(ExpandG711(0x00, false), -32124);
    EXPECT_EQ(ExpandG711(0x80, false), 32124);
    EXPECT_EQ(ExpandG711(0xEF, false), 132); // segment 1, mantissa 0
    EXPECT_EQ(ExpandG711(0x8F, false), 16764 + (0 << 10));
}

TEST(G711Expand, AlawCodesGoThroughTheMulawSegmentRule) {
    // 0xD5 and 0x55 are A-law's two zero codes; 0xAA/0x2A its loudest; 0xC5 segment 1 mantissa 0.
    EXPECT_EQ(ExpandG711(0xD5, true), 0);
    EXPECT_EQ(ExpandG711(0x55, true), 0);
    EXPECT_EQ(ExpandG711(0xAA, true), 32124);
    EXPECT_EQ(ExpandG711(0x2A, true), -32124);
    EXPECT_EQ(ExpandG711(0xC5, true), 132);
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(ExpandG711(uint8_t(c), true), ExpandG711(uint8_t(c ^ 0x2A), false)) << c;
        EXPECT_EQ(G711ExpandTable(true)[c], ExpandG711(uint8_t(c), true));
    }
}

TEST(G711Encode, CurveEncoderValues) {
    EXPECT_EQ(AlawEncodeSample(0), 0xD5);
    EXPECT_EQ(AlawEncodeSample(100), 0xD3);
    EXPECT_EQ(AlawEncodeSample(-100), 0x53);
    EXPECT_EQ(AlawEncodeSample(1000), 0xFB);
    EXPECT_EQ(AlawEncodeSample(32767), 0x7F ^ 0x55 ^ 0x80);
    EXPECT_EQ(AlawEncodeSample(-32768), 0x7F ^ 0x55);
    for (int v = -32768; v < 32768; v += 7)
        EXPECT_EQ(AlawCurveTable()[uint16_t(v)], AlawEncodeSample(int16_t(v)));
}

TEST(G711Encode, IntAbsKeepsTheMostNegativeValue) {
    EXPECT_EQ(IntAbs(-5), 5);
    EXPECT_EQ(IntAbs(7), 7);
    EXPECT_EQ(IntAbs(INT_MIN), INT_MIN);
}

// Both encoders over every 16-bit sample, beside sox's own A-law encoder.
class G711AgainstSox : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vt::HaveSox()) GTEST_SKIP() << "sox is not installed";
        std::vector<int16_t> all;
        for (int v = -32768; v < 32768; ++v)
            all.push_back(int16_t(v));
        vt::Write("all.raw", vt::Pcm(all));
        int rc = -1;
        std::string out =
            vt::Run("sox -D -t raw -r 8000 -e signed -b 16 -c 1 all.raw -t raw -e a-law -b 8 sox.raw", &rc);
        ASSERT_EQ(rc, 0) << out;
        sox_ = vt::Read("sox.raw");
        ASSERT_EQ(sox_.size(), 65536u);
    }
    vt::Dir dir_{"g711sox"};
    vt::Bytes sox_;
};

TEST_F(G711AgainstSox, SegmentEncoderIsSoxWithoutItsRounding) {
    // sox rounds to the nearest 13-bit step before the segment table; the G.711 segment method truncates.
    // So sox's code for v is ours for v + 4, and the two differ only next to a decision level.
    int differ = 0;
    for (int v = -32768; v < 32768; ++v) {
        uint8_t sox = sox_[size_t(v + 32768)];
        ASSERT_EQ(sox, LinearToAlaw(int16_t(std::min(v + 4, 32767)))) << v;
        ASSERT_EQ(LinearToAlawTable()[uint16_t(v)], LinearToAlaw(int16_t(v))) << v;
        differ += LinearToAlaw(int16_t(v)) != sox;
    }
    EXPECT_EQ(differ, 1020);
}

TEST_F(G711AgainstSox, CurveEncoderKeepsSoxSignAndStaysNearItsLevel) {
    // The converter's curve encoder is not the G.711 table: codes differ, but the sign bit agrees and the
    // decoded level stays within a few steps of sox's.
    int differ = 0;
    for (int v = -32768; v < 32768; ++v) {
        uint8_t ours = AlawEncodeSample(int16_t(v)) ^ 0x55, theirs = sox_[size_t(v + 32768)] ^ 0x55;
        if (v >= 0 || v < -4) {
            ASSERT_EQ(ours & 0x80, theirs & 0x80) << v;
        }
        if (ours != theirs) ++differ;
        int lo = ours & 0x7F, hi = theirs & 0x7F;
        ASSERT_LE(std::abs(lo - hi), 12) << v;
    }
    EXPECT_GT(differ, 0);
    std::printf("curve encoder differs from sox on %d of 65536 samples\n", differ);
}
