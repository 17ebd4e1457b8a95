// Number speech: the exact voice names of numbers, money, digits, times, durations and dates in Chinese and
// English, and the prompt PlayNumber joins from the voice files (a file soxi reads, or a block in memory).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "ScriptOnCall.h"
#include "builtins/NumberSpeech.h"
#include "platform/LittleEndian.h"

namespace zz {
namespace {

using Names = std::vector<std::string>;

Names Speak(const std::string& text, int32_t kind, int32_t language = 0) {
    Names names;
    EXPECT_EQ(NumberVoiceNames(text, kind, language, names), 0) << text;
    return names;
}

std::string Items(std::string number) {
    std::string out, fraction;
    NumberToChineseItems(out, number, fraction);
    return out;
}

TEST(NumberSpeech, ChineseNumbersGroupByPlaceWithTheirZeros) {
    // Items are '0' + index: ':' is shi (10), ';' bai, '<' qian, '=' wan, '>' yyi.
    EXPECT_EQ(Items("15"), ":5");
    EXPECT_EQ(Items("105"), "1;05");
    EXPECT_EQ(Items("10001"), "1=01");
    EXPECT_EQ(Items("100000000"), "1>");
    EXPECT_EQ(Items("100010"), ":=01:");
    EXPECT_EQ(Items("1010"), "1<01:");
    EXPECT_EQ(Items("115"), "1;1:5");
    EXPECT_EQ(Items("1000001"), "1;=01");
    EXPECT_EQ(Items("12345678901234567890"), "0") << "20 characters";
    std::string number = "12.305", out, fraction;
    NumberToChineseItems(out, number, fraction);
    EXPECT_EQ(number, "12");
    EXPECT_EQ(fraction, "3[5_") << "3 jiao, no fen, 5 li";
}

TEST(NumberSpeech, KindsZeroToTwoInChinese) {
    EXPECT_EQ(Speak("0", kSpeakNumber), (Names{"0"}));
    EXPECT_EQ(Speak("010", kSpeakNumber), (Names{"shi"}));
    EXPECT_EQ(Speak("3.05", kSpeakNumber), (Names{"3", "dian", "0", "5"}));
    EXPECT_EQ(Speak("3.00", kSpeakNumber), (Names{"3"}));
    EXPECT_EQ(Speak(".5", kSpeakNumber), (Names{"0", "dian", "5"}));
    EXPECT_EQ(Speak("1.5.6", kSpeakNumber), (Names{"1", "dian", "5", "dian", "6"})); // every later point too
    EXPECT_EQ(Speak("2.5x.7", kSpeakNumber), (Names{"2", "dian", "5"}));
    EXPECT_EQ(Speak(std::string(20, '7'), kSpeakNumber), (Names{"0"}));
    EXPECT_EQ(Speak("0", kSpeakMoney), (Names{"0", "yuan"}));
    EXPECT_EQ(Speak("0.05", kSpeakMoney), (Names{"5", "fen"}));
    EXPECT_EQ(Speak("0.5", kSpeakMoney), (Names{"5", "jiao"}));
    EXPECT_EQ(Speak("100.5", kSpeakMoney), (Names{"1", "bai", "yuan", "5", "jiao"}));
    EXPECT_EQ(Speak(" 12.30", kSpeakMoney), (Names{"shi", "2", "yuan", "3", "jiao"}));
    EXPECT_EQ(Speak("12.5a", kSpeakDigits), (Names{"1", "2", "dian", "5"}));
    EXPECT_TRUE(Speak("abc", kSpeakDigits).empty());
    EXPECT_TRUE(Speak("12", 6).empty());
}

// Beyond twelve places there are no place units: such integers are read digit by digit, and zeros in front of
// twelve places add nothing.
TEST(NumberSpeech, IntegersOfThirteenToNineteenDigitsStayInsideThePlaceTable) {
    EXPECT_EQ(Speak("1234567890123", kSpeakNumber),
              (Names{"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "1", "2", "3"}));
    EXPECT_EQ(Speak("9999999999999999999", kSpeakNumber), Names(19, "9"));
    EXPECT_EQ(Speak("0000100000000000", kSpeakMoney), (Names{"1", "qian", "yyi", "yuan"}));
    EXPECT_EQ(Speak("999999999999", kSpeakNumber),
              (Names{"9", "qian", "9", "bai", "9", "shi",  "9", "yyi", "9", "qian", "9", "bai",
                     "9", "shi",  "9", "wan", "9", "qian", "9", "bai", "9", "shi",  "9"}));
}

TEST(NumberSpeech, TimesDurationsAndDates) {
    EXPECT_EQ(Speak("0930", kSpeakTime), (Names{"0", "dian", "9", "fen", "3", "shi", "miao"}));
    EXPECT_EQ(Speak("9:05", kSpeakTime), (Names{"9", "dian", "5", "fen"}));
    EXPECT_EQ(Speak("12:00", kSpeakTime), (Names{"shi", "2", "dian", "0", "fen"}));
    EXPECT_EQ(Speak("1:30", kSpeakDuration), (Names{"1", "fen", "3", "shi", "miao"}));
    EXPECT_EQ(Speak("5:00", kSpeakDuration), (Names{"5", "fen", "0", "miao"}));
    EXPECT_EQ(Speak("0:30", kSpeakDuration), (Names{"3", "shi", "miao"}));
    EXPECT_EQ(Speak("2:10:05", kSpeakDuration), (Names{"2", "xiaoshi", "shi", "fen", "5", "miao"}));
    EXPECT_EQ(Speak("2024-01-05", kSpeakDate), (Names{"2", "0", "2", "4", "nian", "1", "yue", "5", "ri"}));
    EXPECT_EQ(Speak("05-1-2", kSpeakDate), (Names{"0", "5", "nian", "1", "yue", "2", "ri"}));
    EXPECT_EQ(Speak("20241231", kSpeakDate),
              (Names{"2", "0", "2", "4", "nian", "shi", "2", "yue", "3", "shi", "1", "ri"}));
    Names none;
    for (auto [text, kind] : std::vector<std::pair<std::string, int32_t>>{{"13/01", kSpeakDate},
                                                                          {"0/5", kSpeakDate},
                                                                          {"12", kSpeakDate},
                                                                          {"25:00", kSpeakTime},
                                                                          {"10:60", kSpeakTime},
                                                                          {"1:2:3:4", kSpeakDuration},
                                                                          {"", kSpeakTime}}) {
        EXPECT_EQ(NumberVoiceNames(text, kind, 0, none), -1) << text;
        EXPECT_TRUE(none.empty());
    }
}

TEST(NumberSpeech, EnglishNumbersAndMoney) {
    EXPECT_EQ(Speak("125", kSpeakNumber, 2), (Names{"1", "hundred", "and", "20", "5"}));
    EXPECT_EQ(Speak("0", kSpeakNumber, 2), (Names{"0"}));
    EXPECT_EQ(Speak("3.05", kSpeakNumber, 2), (Names{"3", "dian", "0", "5"}));
    EXPECT_EQ(Speak("3.00", kSpeakNumber, 2), (Names{"3"}));
    EXPECT_EQ(Speak("12.5", kSpeakMoney, 2), (Names{"12", "dian", "5", "yuan"}));
    EXPECT_EQ(Speak("7", kSpeakMoney, 2), (Names{"7", "yuan"}));
    EXPECT_EQ(Speak("12:00", kSpeakTime, 2), Names{});
    EXPECT_EQ(Speak("12", kSpeakDigits, 2), (Names{"1", "2"}));
}

// Voice files whose sound is one byte value each, so the joined prompt shows which voices it holds, in order.
class NumberPrompt : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& [name, fill] : voices_)
            TestDir::Write(name + ".WAV", AlawWav(std::string(fill == 'b' ? 40 : 120, fill)));
    }
    static std::string AlawWav(const std::string& sound) {
        std::string h(44, '\0');
        auto* p = reinterpret_cast<uint8_t*>(h.data());
        std::memcpy(p, "RIFF", 4);
        PutLe32(p + 4, uint32_t(36 + sound.size()));
        std::memcpy(p + 8, "WAVEfmt ", 8);
        PutLe32(p + 16, 16);
        PutLe16(p + 20, 6);
        PutLe16(p + 22, 1);
        PutLe32(p + 24, 8000);
        PutLe32(p + 28, 8000);
        PutLe16(p + 32, 1);
        PutLe16(p + 34, 8);
        std::memcpy(p + 36, "data", 4);
        PutLe32(p + 40, uint32_t(sound.size()));
        return h + sound;
    }
    static std::string Soxi(const std::string& option, const std::string& file) {
        FILE* p = popen(("soxi " + option + " '" + file + "' 2>/dev/null").c_str(), "r");
        char buf[64] = {};
        if (!p || !fgets(buf, sizeof buf, p)) return "";
        pclose(p);
        std::string s = buf;
        return s.substr(0, s.find('\n'));
    }

    std::map<std::string, char> voices_ = {{"1", '1'}, {"bai", 'b'}, {"0", '0'},
                                           {"5", '5'}, {"20", 't'},  {"yuan", 'y'}};
    test::ScriptOnCall script_{"numberprompt"};
    test::JournalCall call_;
};

TEST_F(NumberPrompt, TheVoicesAreJoinedIntoOneTemporaryFileThatIsPlayedAndRemoved) {
    std::string dir = script_.Dir().string() + "/";
    script_.Run("r = SetSndDir(\"" + dir + "\", \"\", \"" + dir + "\");\nr = PlayNumber(105, 0);\nreturn(r);\n", call_);
    std::string temp = dir + "t3.WAV";
    ASSERT_EQ(call_.journal, (std::vector<std::string>{"Play " + temp + " 1 0"}));
    EXPECT_EQ(call_.played.substr(46),
              std::string(120, '1') + std::string(40, 'b') + std::string(120, '0') + std::string(120, '5'));
    EXPECT_FALSE(std::filesystem::exists(temp));
    TestDir::Write("copy.wav", call_.played);
    EXPECT_EQ(Soxi("-s", "copy.wav"), "400");
    EXPECT_EQ(Soxi("-r", "copy.wav"), "8000");
}

TEST_F(NumberPrompt, PlayToFileJoinsIntoTheJoinFileWithoutPlayingAndSkipsMissingVoices) {
    std::string dir = script_.Dir().string() + "/";
    int32_t r = script_.Run("r = SetSndDir(\"" + dir + "\", \"\", \"" + dir +
                                "\");\nr = SelectLan(2);\nr = SetPlayToFile(1);\nr = PlayNumber(\"25.1\", 1);\n"
                                "r = Play(\"5\");\nreturn(r);\n",
                            call_, [&] {
                                // 20, 5, dian (missing), 1, yuan, and then the played 5.
                                std::string join = TestDir::Read(dir + "t3.WAV");
                                ASSERT_EQ(join.size(), 46u + 600u);
                                EXPECT_EQ(join.substr(46), std::string(120, 't') + std::string(120, '5') +
                                                               std::string(120, '1') + std::string(120, 'y') +
                                                               std::string(120, '5'));
                                EXPECT_EQ(Soxi("-s", dir + "t3.WAV"), "600");
                            });
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(call_.journal.empty());
    EXPECT_TRUE(std::filesystem::exists(dir + "t3.WAV")) << "the join file of play-to-file mode stays";
}

// In memory the first voice is taken whole and every later one without its first 90 bytes, or without all of
// it when it is shorter.
TEST_F(NumberPrompt, VoicesHeldInMemoryMakeTheBlockAndShortOnesAreNotReadPast) {
    std::string dir = script_.Dir().string() + "/";
    script_.Run("r = SetSndDir(\"" + dir +
                    "\", \"\", \"\");\nr = LoadVocFile(\"1\", 0);\nr = LoadVocFile(\"bai\", 0);\n"
                    "r = LoadVocFile(\"5\", 1);\nr = PlayNumber(105, 0);\nr = UnloadVocFile(\"*\", 1);\nreturn(r);\n",
                call_);
    ASSERT_EQ(call_.journal.size(), 1u);
    EXPECT_EQ(call_.journal[0], "PlayMemory 0 238 0 1");
    EXPECT_EQ(call_.played, AlawWav(std::string(120, '1')) + AlawWav(std::string(120, '5')).substr(90));
}

} // namespace
} // namespace zz
