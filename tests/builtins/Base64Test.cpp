// Base64 as the Unicode text builtins use it, checked against coreutils' base64 both ways.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "NetPeers.h"
#include "builtins/services/Base64.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

TEST(Base64, PaddingGroupsAndTheirResults) {
    std::string out;
    EXPECT_EQ(Base64Encode(out, "A"), 4);
    EXPECT_EQ(out, "QQ==");
    EXPECT_EQ(Base64Encode(out, "AB"), 4);
    EXPECT_EQ(out, "QUI=");
    EXPECT_EQ(Base64Encode(out, ""), 0);
    EXPECT_EQ(out, "");
    // Padding decodes to zero bytes and counts: three bytes per group of four.
    EXPECT_EQ(Base64Decode(out, "QQ=="), 3);
    EXPECT_EQ(out, std::string("A\0\0", 3));
    EXPECT_EQ(Base64Decode(out, "QUI"), -1);
    EXPECT_EQ(Base64Decode(out, ""), 0);
    // Characters outside the alphabet count as 0.
    EXPECT_EQ(Base64Decode(out, "Q!!!"), 3);
    EXPECT_EQ(out, std::string("@\0\0", 3));
}

TEST(Base64, AgreesWithCoreutilsBothWays) {
    TestDir dir("base64");
    std::mt19937 rng(17);
    for (size_t size : {1u, 2u, 3u, 4u, 5u, 57u, 58u, 59u, 1000u, 4097u}) {
        std::string data(size, '\0');
        for (char& c : data)
            c = char(rng());
        TestDir::Write("in.bin", data);
        std::string ours;
        EXPECT_EQ(Base64Encode(ours, data), int32_t((size + 2) / 3 * 4));
        EXPECT_EQ(ours, test::RunCommand("base64 -w0 in.bin")) << size;
        TestDir::Write("in.b64", ours);
        EXPECT_EQ(test::RunCommand("base64 -d in.b64"), data) << size;
        std::string back;
        EXPECT_EQ(Base64Decode(back, test::RunCommand("base64 -w0 in.bin")), int32_t((size + 2) / 3 * 3));
        EXPECT_EQ(back.substr(0, size), data) << size;
        EXPECT_EQ(back.substr(size), std::string(back.size() - size, '\0'));
    }
}

} // namespace
} // namespace zz
