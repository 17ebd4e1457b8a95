#include "TestFiles.h"
#include "media/CGetHypy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace zz;
using namespace zz::test;
using List = std::vector<std::string>;

namespace {

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(char(v >> (8 * i)));
}

struct Sound {
    std::string name;
    std::string bytes;
};

// A tiny syllable library: the given sounds, and a pinyin table that covers the rows up to tableRows with
// the given readings (GBK character -> reading).
std::string MakeLibrary(const std::vector<Sound>& sounds,
                        const std::vector<std::pair<std::string, std::string>>& readings, size_t tableRows = 40) {
    std::string index, area;
    for (const Sound& s : sounds) {
        char name[8] = {};
        memcpy(name, s.name.data(), std::min<size_t>(8, s.name.size()));
        for (char c : name)
            index.push_back(char(VocNameByte(uint8_t(c))));
        Put32(index, uint32_t(area.size()));
        Put32(index, uint32_t(s.bytes.size()));
        area += s.bytes;
    }
    std::string table(tableRows * 94 * 10, '\0');
    for (auto& [ch, reading] : readings) {
        size_t at = (size_t((unsigned char)ch[0] - 0xB0) * 94 + ((unsigned char)ch[1] - 0xA1)) * 10;
        std::string rec = reading + std::string(7 - reading.size(), ' ') + "\t\n\n";
        if (at + 10 <= table.size()) table.replace(at, 10, rec);
    }
    std::string lib;
    Put32(lib, uint32_t(sounds.size()));
    Put32(lib, uint32_t(12 + index.size()));
    Put32(lib, uint32_t(area.size()));
    return lib + index + area + table;
}

const std::vector<std::pair<std::string, std::string>> kReadings = {
    {"好", "HAO3"}, {"庆", "QING4"}, {"银", "YIN2"}, {"你", "NI3"}, {"重", "ZHONG4"}, {"行", "XING2"}, {"新", "XIN1"}};

class Hypy : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "ReVivIra.dat", MakeLibrary({{"NI2", "ni"},
                                                     {"HAO3", "hao"},
                                                     {"mute", "__"},
                                                     {"3", "three"},
                                                     {"DIAN3", "."},
                                                     {"1", "one"},
                                                     {"4", "four"}},
                                                    kReadings));
        ASSERT_EQ(hypy.LoadVocLib(dir.Path()), 0);
    }
    List Syllables(std::string_view text) {
        List l{"stale"};
        int n = hypy.TextToSyllables(text, l);
        EXPECT_EQ(n, int(l.size()));
        return l;
    }
    TempDir dir;
    CGetHypy hypy;
};

} // namespace

TEST_F(Hypy, NumbersAndSignsAreReadDigitByDigit) {
    EXPECT_EQ(Syllables("3.14"), (List{"3", "DIAN3", "1", "4"}));
    EXPECT_EQ(Syllables("-5"), (List{"FU4", "5"}));
    EXPECT_EQ(Syllables("3-5"), (List{"3", "JIAN3", "5"}));
    EXPECT_EQ(Syllables(" +5"), (List{"ZHENG4", "5"}));
    EXPECT_EQ(Syllables("2+3"), (List{"2", "JIA1", "3"}));
    EXPECT_EQ(Syllables("end..."), (List{"E", "N", "D", "mute"}));
    EXPECT_EQ(Syllables("a.b"), (List{"A", "mute", "B"}));
    EXPECT_EQ(Syllables("!?,x"), (List{"mute", "mute", "mute", "mute", "mute", "X"}));
    EXPECT_EQ(Syllables("   \t"), List{});
}

TEST_F(Hypy, PolyphoneWordsAndTableReadings) {
    EXPECT_EQ(Syllables("重庆"), (List{"CHONG2", "QING4"}));
    EXPECT_EQ(Syllables("重新"), (List{"CHONG2", "XIN1"}));
    EXPECT_EQ(Syllables("银行"), (List{"YIN2", "HANG2"}));
    EXPECT_EQ(Syllables("你好"), (List{"NI2", "HAO3"}));
    EXPECT_EQ(Syllables("好你"), (List{"HAO3", "NI3"}));
    EXPECT_EQ(Syllables("行重"), (List{"XING2", "ZHONG4"}));
}

TEST_F(Hypy, FullWidthFormsAndPunctuation) {
    EXPECT_EQ(Syllables("ａｂ１⑶"), (List{"A", "B", "1", "3"}));
    EXPECT_EQ(Syllables("ＡＺ０９"), (List{"A", "Z", "0", "9"}));
    EXPECT_EQ(Syllables("，"), (List{"mute"}));
    EXPECT_EQ(Syllables("。"), (List{"mute", "mute"}));
    EXPECT_EQ(Syllables("：；？！．"), (List{"mute", "mute", "mute", "mute", "mute", "mute", "mute", "mute"}));
    EXPECT_EQ(Syllables("【"), (List{"mute"}));
    // A high byte followed by a low one is dropped; the low byte is read with it as its previous byte.
    EXPECT_EQ(Syllables("\xB0"
                        "5"),
              (List{"5"}));
}

TEST_F(Hypy, CharactersBeyondTheTableGiveNoSyllable) {
    // The library's table ends at row 0xD7; 0xF7 rows and trail 0xFF are outside it.
    EXPECT_EQ(Syllables("\xF7\xA1"
                        "1"),
              (List{"1"}));
    EXPECT_EQ(Syllables("\xB0\xFF"), List{});
    // A character inside the table with no reading counts as an empty name.
    EXPECT_EQ(Syllables("\xB0\xA1"), List{""});
}

TEST_F(Hypy, TextIsCutAt2048Bytes) {
    std::string text(2047, ' ');
    text += "好1";
    EXPECT_EQ(Syllables(text), (List{"HAO3"}));
    EXPECT_EQ(Syllables(std::string(2048, '7') + "8").size(), 2048u);
}

TEST_F(Hypy, WavFileGetsA46ByteHeader) {
    EXPECT_EQ(hypy.TextToWav("你好, 3.14", dir / "x.wav"), 7);
    std::string wav = ReadFile(dir / "x.wav");
    std::string data = "nihao__three.onefour";
    std::string head = Bytes({'R',
                              'I',
                              'F',
                              'F',
                              int(data.size() + 38),
                              0,
                              0,
                              0,
                              'W',
                              'A',
                              'V',
                              'E',
                              'f',
                              'm',
                              't',
                              ' ',
                              18,
                              0,
                              0,
                              0,
                              6,
                              0,
                              1,
                              0,
                              0x40,
                              0x1F,
                              0,
                              0,
                              0x40,
                              0x1F,
                              0,
                              0,
                              1,
                              0,
                              8,
                              0,
                              0,
                              0,
                              'd',
                              'a',
                              't',
                              'a',
                              int(data.size()),
                              0,
                              0,
                              0});
    EXPECT_EQ(wav, head + data);
    // sox reads it as 8 kHz A-law with one sample a byte.
    std::string wavPath = dir / "x.wav";
    EXPECT_EQ(RunCommand("soxi -r '" + wavPath + "' 2>&1"), "8000\n");
    EXPECT_EQ(RunCommand("soxi -e '" + wavPath + "' 2>&1"), "A-law\n");
    EXPECT_EQ(RunCommand("soxi -s '" + wavPath + "' 2>&1"), std::to_string(data.size()) + "\n");
}

TEST_F(Hypy, OtherNamesGetBareAlaw) {
    EXPECT_EQ(hypy.TextToWav("你好", dir / "x.Wav"), 2);
    EXPECT_EQ(ReadFile(dir / "x.Wav"), "nihao");
    // Names the library lacks are skipped but counted.
    EXPECT_EQ(hypy.TextToWav("重庆", dir / "y.al"), 2);
    EXPECT_EQ(ReadFile(dir / "y.al"), "");
}

TEST_F(Hypy, NothingToSayCreatesNoFile) {
    EXPECT_EQ(hypy.TextToWav("   ", dir / "none.wav"), -1);
    EXPECT_FALSE(std::filesystem::exists(dir / "none.wav"));
    EXPECT_EQ(hypy.TextToWav("1", dir / "no/dir/x.wav"), -1);
}

TEST_F(Hypy, LibraryGoneAfterLoadingGivesMinusTwo) {
    std::filesystem::remove(dir / "ReVivIra.dat");
    EXPECT_EQ(hypy.TextToWav("1", dir / "x.wav"), -2);
    EXPECT_EQ(ReadFile(dir / "x.wav").size(), 46u);
}

TEST_F(Hypy, LongSoundsAreCutAt10240Bytes) {
    TempDir other;
    WriteFile(other / "ReVivIra.dat", MakeLibrary({{"A", std::string(20000, 'a')}}, {}));
    CGetHypy h;
    ASSERT_EQ(h.LoadVocLib(other.Path() + "/"), 0);
    EXPECT_EQ(h.TextToWav("a", other / "a.al"), 1);
    EXPECT_EQ(ReadFile(other / "a.al"), std::string(10240, 'a'));
}

TEST(HypyLoading, MissingOrMalformedLibrariesAreRefused) {
    TempDir dir;
    CGetHypy h;
    List l;
    EXPECT_EQ(h.LoadVocLib(dir.Path()), -1);
    EXPECT_EQ(h.State(), -1);
    EXPECT_EQ(h.TextToSyllables("123", l), 0);
    EXPECT_EQ(h.TextToWav("123", dir / "x.wav"), -1);

    std::string good = MakeLibrary({{"1", "one"}}, kReadings);
    auto load = [&](std::string bytes) {
        WriteFile(dir / "ReVivIra.dat", bytes);
        return h.LoadVocLib(dir.Path());
    };
    std::string manyEntries = good;
    manyEntries[3] = 0x10; // index larger than the file
    EXPECT_EQ(load(manyEntries), -1);
    std::string bigArea = good;
    bigArea[11] = 0x10; // sound area beyond the file
    EXPECT_EQ(load(bigArea), -1);
    std::string badSound = good;
    badSound[12 + 12] = 100; // a sound running past its area
    EXPECT_EQ(load(badSound), -1);
    EXPECT_EQ(load(good.substr(0, 8)), -1);
    EXPECT_EQ(h.State(), -1);
    EXPECT_EQ(load(good), 0);
    EXPECT_EQ(h.State(), 0);
    // Once loaded it stays loaded.
    std::filesystem::remove(dir / "ReVivIra.dat");
    EXPECT_EQ(h.LoadVocLib("/elsewhere"), 0);
}

TEST(HypyLoading, NamesAreStoredTransformedAndShortTablesAreSafe) {
    TempDir dir;
    std::string lib = MakeLibrary({{"ZHUANG1", "z"}}, {}, 0);
    EXPECT_EQ(lib.substr(12, 8),
              Bytes({'Z' ^ 0xA5, 'H' ^ 0xA5, 'U' ^ 0xA5, 'A' ^ 0xA5, 'N' ^ 0xA5, 'G' ^ 0xA5, '1' ^ 0xA5, 0xA5}));
    WriteFile(dir / "ReVivIra.dat", lib);
    CGetHypy h;
    ASSERT_EQ(h.LoadVocLib(dir.Path()), 0);
    List l;
    EXPECT_EQ(h.TextToSyllables("好Z", l), 1);
    EXPECT_EQ(l, List{"Z"});
}

TEST(HypyLoading, ManyLinesLoadAndSpeakAtOnce) {
    TempDir dir;
    WriteFile(dir / "ReVivIra.dat", MakeLibrary({{"NI2", "ni"}, {"HAO3", "hao"}}, kReadings));
    CGetHypy h;
    std::vector<std::thread> lines;
    std::atomic<int> bad{0};
    for (int t = 0; t < 6; ++t)
        lines.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                if (h.State() < 0 && h.LoadVocLib(dir.Path()) != 0) ++bad;
                std::string out = dir / ("l" + std::to_string(t) + ".al");
                if (h.TextToWav("你好", out) != 2 || ReadFile(out) != "nihao") ++bad;
            }
        });
    for (auto& th : lines)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(HypyLibraryBuilder, SpeaksWhatTheDictionaryReads) {
    TempDir dir;
    // A three-character dictionary in Rime's format; the builder adds digits, letters, pauses and sign words.
    WriteFile(dir / "mini.dict.yaml", "---\nname: mini\n...\n\n\xE4\xBD\xA0\tni3\n\xE5\xA5\xBD\thao3\t95%\n"
                                      "\xE5\xA5\xBD\thao4\t5%\n\xE8\xA1\x8C\thang2\t10%\n\xE8\xA1\x8C\txing2\t90%\n");
    int status = -1;
    std::string out = RunCommand(
        std::string(ZZ_MAKE_VOCLIB) + " '" + (dir / "lib") + "' '" + (dir / "mini.dict.yaml") + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    std::string lib = ReadFile(dir / "lib/ReVivIra.dat");
    ASSERT_GT(lib.size(), 12u);
    CGetHypy h;
    ASSERT_EQ(h.LoadVocLib(dir / "lib"), 0);
    List l;
    h.TextToSyllables("你好，行A1", l);
    EXPECT_EQ(l, (List{"NI2", "HAO3", "mute", "XING2", "A", "1"}));
    ASSERT_EQ(h.TextToWav("你好，行A1", dir / "s.wav"), 6);
    EXPECT_EQ(RunCommand("soxi -r '" + (dir / "s.wav") + "' 2>&1"), "8000\n");
    EXPECT_EQ(RunCommand("soxi -e '" + (dir / "s.wav") + "' 2>&1"), "A-law\n");
    // Every syllable has sound; the pause is 250 ms of silence.
    double seconds = std::stod(RunCommand("soxi -D '" + (dir / "s.wav") + "' 2>&1"));
    EXPECT_GT(seconds, 5 * 0.15 + 0.25);
    EXPECT_LT(seconds, 5 * 1.28 + 0.25);
    EXPECT_EQ(h.TextToWav("，", dir / "m.al"), 1);
    EXPECT_EQ(ReadFile(dir / "m.al"), std::string(2000, '\xD5'));
}
