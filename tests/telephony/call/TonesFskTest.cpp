#include "telephony/TagCfgTones.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zz;

static std::vector<unsigned> Bytes(const uint8_t* p, int n) {
    return std::vector<unsigned>(p, p + n);
}

TEST(FskFrame, PacksTypeLengthDataAndChecksumWithATrailingZero) {
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(PackFskMsg(0x01, "abc", buf, sizeof buf), 6);
    EXPECT_EQ(Bytes(buf, 7), (std::vector<unsigned>{0x01, 0x03, 0x61, 0x62, 0x63, 0xD6, 0x00}));

    ASSERT_EQ(PackFskMsg(0x80, "", buf, sizeof buf), 3);
    EXPECT_EQ(Bytes(buf, 3), (std::vector<unsigned>{0x80, 0x00, 0x80}));
    ASSERT_EQ(PackFskMsg(0x00, "", buf, sizeof buf), 3);
    EXPECT_EQ(buf[2], 0x00); // a zero sum keeps a zero checksum
}

TEST(FskFrame, UnpackRoundTripsEveryLengthAndGbkBytes) {
    uint8_t buf[260];
    for (int n : {0, 1, 17, 254, 255}) {
        std::string text(size_t(n), '\0');
        for (int i = 0; i < n; ++i)
            text[size_t(i)] = char(0x81 + (i * 7) % 126);
        ASSERT_EQ(PackFskMsg(0x42, text, buf, sizeof buf), n + 3);
        uint8_t type = 0;
        std::string out;
        EXPECT_EQ(UnpackFskMsg(buf, size_t(n + 3), type, out), n);
        EXPECT_EQ(type, 0x42);
        EXPECT_EQ(out, text);
    }
}

TEST(FskFrame, OverlongTextIsCutSoTheLengthByteStaysTrue) {
    uint8_t buf[300];
    EXPECT_EQ(PackFskMsg(7, std::string(400, 'x'), buf, sizeof buf), 258);
    EXPECT_EQ(buf[1], 255);
    uint8_t small[8];
    EXPECT_EQ(PackFskMsg(7, "abcdefgh", small, sizeof small), 7); // never writes past the buffer
    uint8_t type;
    std::string out;
    EXPECT_EQ(UnpackFskMsg(small, 7, type, out), 4);
    EXPECT_EQ(out, "abcd");
}

TEST(FskFrame, UnpackRefusesShortAndCorruptFrames) {
    uint8_t buf[16];
    PackFskMsg(0x01, "abc", buf, sizeof buf);
    uint8_t type = 0;
    std::string out = "old";
    EXPECT_EQ(UnpackFskMsg(buf, 2, type, out), -1);
    EXPECT_EQ(UnpackFskMsg(buf, 5, type, out), -1); // length byte says 3 data bytes, only 2 came
    EXPECT_EQ(out, "old");

    buf[3] ^= 0x01;
    EXPECT_EQ(UnpackFskMsg(buf, 6, type, out), -2);
    EXPECT_EQ(type, 0x01);
    EXPECT_EQ(out, "acc"); // filled before the checksum is judged
}

TEST(SignalTones, IdsOutside250To256AreRefusedAndLeaveTheTable) {
    TagCfgTones t;
    std::array<int32_t, 9> p{1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(t.SetTones(249, p), -1);
    EXPECT_EQ(t.SetTones(257, p), -1);
    EXPECT_EQ(t.Count(), 0u);
    EXPECT_EQ(t.SetTones(250, p), 0);
    EXPECT_EQ(t.SetTones(256, p), 0);
    EXPECT_EQ(t.SetTones(249, p), -1);
    EXPECT_EQ(t.Count(), 2u);
    EXPECT_EQ(t.Find(249), nullptr);
}

TEST(SignalTones, ReplacingATonesKeepsOneEntryWithTheNewParameters) {
    TagCfgTones t;
    t.SetTones(253, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    t.SetTones(253, {9, 8, 7, 6, 5, 4, 3, 2, 1});
    ASSERT_NE(t.Find(253), nullptr);
    EXPECT_EQ(t.Find(253)->v, (std::array<int32_t, 10>{253, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(t.Count(), 1u);
    t.ClearTones();
    EXPECT_EQ(t.Find(253), nullptr);
}
