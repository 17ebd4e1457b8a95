#include "platform/Gbk.h"
#include "platform/PathMap.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace zz;

TEST(Gbk, SafeCutNeverSplitsADoubleByteCharacter) {
    std::string s = "a\xC4\xE3\xBA\xC3"; // "a你好"
    EXPECT_EQ(GbkSafeCut(s, 2), 1u);
    EXPECT_EQ(GbkSafeCut(s, 3), 3u);
    EXPECT_EQ(GbkSafeCut(s, 10), 5u);
}

TEST(Gbk, RoundTripsThroughUtf8) {
    std::string gbk = "\xC4\xE3\xBA\xC3 ok";
    std::string utf8 = GbkToUtf8(gbk);
    EXPECT_EQ(utf8, "\xE4\xBD\xA0\xE5\xA5\xBD ok");
    EXPECT_EQ(Utf8ToGbk(utf8), gbk);
}

TEST(Gbk, InvalidInputBecomesQuestionMarks) {
    std::string out;
    ASSERT_TRUE(ConvertCodePage("\xFF\xFF" "a", "UTF-8", "GBK", out));
    EXPECT_EQ(out, "??a");
}

TEST(Gbk, CaseMappingLeavesTrailBytesAlone) {
    // 0xC4 0x61 is a lead byte with an 'a' trail byte: it must not become 'A'.
    EXPECT_EQ(GbkUpper("x\xC4" "a" "b"), "X\xC4" "aB");
    EXPECT_TRUE(GbkEqualNoCase("Yes", "YES"));
}

TEST(PathMap, MapsSeparatorsAndDriveLetters) {
    SetDriveRoot("/srv/drives");
    EXPECT_EQ(MapPath("C:\\voc\\a.wav"), "/srv/drives/voc/a.wav");
    EXPECT_EQ(MapPath("voc\\b.wav"), "voc/b.wav");
    EXPECT_EQ(MapPath("d:x.wav"), "/srv/drives/x.wav");
    SetDriveRoot("/");
    EXPECT_EQ(MapPath("C:\\tmp\\x"), "/tmp/x");
}

TEST(PathMap, ResolvesNamesWithoutRegardToCase) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("zzpath" + std::to_string(::getpid()));
    fs::create_directories(dir / "Voc");
    std::ofstream(dir / "Voc" / "Hello.WAV") << "x";
    std::string asked = dir.string() + "\\voc\\hello.wav";
    EXPECT_EQ(ResolvePath(asked), (dir / "Voc" / "Hello.WAV").string());
    // Missing names come back as written (mapped), so they can be created.
    EXPECT_EQ(ResolvePath(dir.string() + "/voc/new.wav"), dir.string() + "/voc/new.wav");
    fs::remove_all(dir);
}
