// Speech into voice files (checked with soxi) and onto the fake sound card, and the line's speak operation.
#include "media/SpeechEngine.h"
#include "media/TagMsTTS.h"
#include "media/TagTTS.h"
#include "platform/Clock.h"
#include "platform/audio/FakeAudio.h"

#include "SoundTestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zz;
using namespace soundtest;

namespace {

long Samples(const std::string& path) {
    std::string s = Soxi("-s", path);
    return s.empty() ? -1 : std::stol(s);
}

class SpeechFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(tts.InitResult(), 0) << "espeak-ng did not start"; }
    long Speak(const std::string& text, bool chinese, int format = 0, const std::string& name = "s.wav") {
        std::string path = dir / name;
        EXPECT_EQ(tts.SpeakToFile(text, path, chinese, format), 0);
        EXPECT_EQ(Soxi("-r", path), "8000");
        EXPECT_EQ(Soxi("-c", path), "1");
        return Samples(path);
    }
    TagMsTTS tts;
    ScratchDir dir{"tts"};
};

} // namespace

TEST_F(SpeechFileTest, EnglishFileIs8kAndGrowsWithTheText) {
    long shortLen = Speak("Hello.", false, 0, "short.wav");
    long longLen =
        Speak("Hello. Thank you for calling. Please press one for sales, or two for support.", false, 0, "long.wav");
    EXPECT_GT(shortLen, 1600); // some 0.2 s at least
    EXPECT_GT(longLen, shortLen * 3);
}

TEST_F(SpeechFileTest, ChineseFileIs8kAndGrowsWithTheText) {
    long shortLen = Speak("你好", true, 0, "short.wav");
    long longLen = Speak("你好，欢迎致电语音服务系统。查询余额请按一，人工服务请按零。", true, 0, "long.wav");
    EXPECT_GT(shortLen, 1600);
    EXPECT_GT(longLen, shortLen * 3);
}

TEST(SpeechEngine, AStopEndsTheSpeechAndTheEngineSpeaksOn) {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "Thank you for calling. ";
    int asked = 0;
    std::vector<int16_t> out;
    EXPECT_EQ(SpeechSynthesize(text, SpeechLang::English, false, out, [&] { return ++asked == 2; }), kHrAbort);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(SpeechSynthesize("Hello.", SpeechLang::English, false, out, [] { return false; }), kHrOk);
    EXPECT_FALSE(out.empty());
}

TEST_F(SpeechFileTest, FormatCodesGiveTheirEncodings) {
    struct Case {
        int code;
        const char* encoding;
        const char* bits;
    } cases[] = {
        {0, "Signed Integer PCM", "16"}, {1, "A-law", "8"}, {2, "u-law", "8"}, {5, "Unsigned Integer PCM", "8"}};
    long first = -1;
    for (const Case& c : cases) {
        std::string name = "f" + std::to_string(c.code) + ".wav";
        long n = Speak("Format test.", false, c.code, name);
        EXPECT_EQ(Soxi("-e", dir / name), c.encoding) << c.code;
        EXPECT_EQ(Soxi("-b", dir / name), c.bits) << c.code;
        if (first < 0) first = n;
        EXPECT_NEAR(n, first, first / 100) << "the same speech in every format";
    }
}

TEST_F(SpeechFileTest, MarkupSilenceLengthensTheSpeech) {
    long plain = Speak("one two", false, 0, "a.wav");
    long paused = Speak("one <SILENCE MSEC=\"1000\"/> two", false, 0, "b.wav");
    EXPECT_GT(paused, plain + 6000);
}

TEST_F(SpeechFileTest, UnwritableFileGivesMinus1) {
    EXPECT_EQ(tts.SpeakToFile("Hello.", dir / "no/such/dir/x.wav", false, 0), -1);
    EXPECT_GT(Speak("Still works.", false), 0); // the voice stays usable
}

TEST(SpeechEngine, LinesSpeakAtTheSameTimeUnderOneLock) {
    ScratchDir dir("tts2");
    auto speak = [&](int i) {
        TagMsTTS tts;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(tts.SpeakToFile("Line speaking.", dir / ("t" + std::to_string(i) + ".wav"), false, 0), 0);
    };
    std::thread a(speak, 1), b(speak, 2);
    speak(3);
    a.join();
    b.join();
    // The engine's output varies by a few samples from call to call; a mixed-up speech would not.
    long one = Samples(dir / "t1.wav");
    EXPECT_GT(one, 1600);
    EXPECT_NEAR(Samples(dir / "t2.wav"), one, one / 100);
    EXPECT_NEAR(Samples(dir / "t3.wav"), one, one / 100);
}

namespace {

class DeviceSpeechTest : public ::testing::Test {
protected:
    bool WaitDone(TagTTS& t, int ms = 20000) {
        for (int i = 0; i < ms / 10 && !t.IsDone(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return t.IsDone();
    }
    FakeAudio card;
    ScopedAudioBackend scoped{&card};
    ScratchDir dir{"ttsdev"};
};

} // namespace

TEST_F(DeviceSpeechTest, SpeaksPcm8kOnTheDefaultDevice) {
    TagTTS t(-1);
    ASSERT_EQ(t.SetupResult(), 0);
    EXPECT_EQ(card.LastDevice(), kWaveMapper);
    AudioFormat f = card.LastFormat();
    EXPECT_EQ(f.tag, 1);
    EXPECT_EQ(f.bits, 16);
    EXPECT_EQ(f.rate, 8000u);
    EXPECT_EQ(t.SpeakLang("欢迎", true), 0);
    ASSERT_TRUE(WaitDone(t));
    size_t chinese = card.Played().size();
    EXPECT_GT(chinese, 3200u);
    EXPECT_GE(card.Drains(), 1);
    card.Clear();
    EXPECT_EQ(t.SpeakLang("Welcome to the system.", false), 0);
    ASSERT_TRUE(WaitDone(t));
    EXPECT_GT(card.Played().size(), 3200u);
}

TEST_F(DeviceSpeechTest, SpeaksTheContentsOfANamedFile) {
    std::string file = dir / "prompt.txt";
    std::ofstream(file) << "Your balance is twelve dollars.";
    TagTTS t(-1);
    EXPECT_EQ(t.Speak(false, file), 0);
    ASSERT_TRUE(WaitDone(t));
    size_t fromFile = card.Played().size();
    EXPECT_GT(fromFile, 8000u);
    EXPECT_EQ(t.Speak(false, dir / "missing.txt"), kHrFileNotFound);
    card.Clear();
    EXPECT_EQ(t.Speak(true, "<LANG LANGID=\"409\">Your balance is twelve dollars.</LANG>"), 0);
    ASSERT_TRUE(WaitDone(t));
    EXPECT_NEAR(double(card.Played().size()), double(fromFile), fromFile / 100.0); // the same words, as markup
}

TEST_F(DeviceSpeechTest, XmlSpeechPurgesWhatIsQueued) {
    card.SetGate(true);
    TagTTS t(-1);
    EXPECT_EQ(t.SpeakLang("This first sentence is cut off by the second one.", false), 0);
    ASSERT_TRUE(card.WaitWrites(1, 20000));
    EXPECT_FALSE(t.IsDone());
    EXPECT_EQ(t.Speak(true, "Second."), 0);
    card.SetGate(false);
    ASSERT_TRUE(WaitDone(t));
    std::vector<int16_t> second;
    ASSERT_EQ(SpeechSynthesize("Second.", SpeechLang::English, true, second), 0);
    std::vector<size_t> writes = card.WriteSizes();
    size_t firstWrites = writes.size() - (second.size() * 2 + 1599) / 1600;
    EXPECT_LE(firstWrites, 2u); // the first speech stopped within a block of the purge
}

TEST_F(DeviceSpeechTest, ADeviceThatWillNotOpenFailsEverySpeakAndIsDone) {
    card.FailOpen(kAudioBadDevice);
    TagTTS t(3);
    EXPECT_NE(t.SetupResult(), 0);
    EXPECT_EQ(t.SpeakLang("x", true), t.SetupResult());
    EXPECT_EQ(t.Speak(true, "x"), t.SetupResult());
    EXPECT_TRUE(t.IsDone());
}

TEST_F(DeviceSpeechTest, LineSpeakDisabledDoesNothing) {
    int stops = 0;
    WakeEvent wake;
    EXPECT_EQ(SpeakOnSoundCard(
                  "Hello.", false, false, false, [&] { ++stops; }, wake, [] { return false; }),
              -1);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(card.Opens(), 0);
}

TEST_F(DeviceSpeechTest, LineSpeakStopsPlayAndTakesAtLeast1800ms) {
    VirtualClock clock;
    ScopedClock scopedClock(&clock);
    int stops = 0;
    WakeEvent wake;
    uint32_t start = GetTickCount();
    EXPECT_EQ(SpeakOnSoundCard(
                  "你好", false, false, true, [&] { ++stops; }, wake, [] { return false; }),
              0);
    EXPECT_GE(TicksSince(start), 1800u);
    EXPECT_EQ(stops, 1);
    EXPECT_GT(card.Played().size(), 0u);
    EXPECT_EQ(card.OpenDevices(), 0);
}

TEST_F(DeviceSpeechTest, LineStopEndsTheSpeechAndClosesTheDevice) {
    VirtualClock clock(0, false);
    ScopedClock scopedClock(&clock);
    card.SetGate(true); // the speech would never end by itself
    WakeEvent wake;
    std::atomic<bool> stop{false};
    std::thread hangup([&] {
        card.WaitWrites(1, 20000);
        stop = true;
        wake.Signal();
    });
    EXPECT_EQ(SpeakOnSoundCard("A long announcement that the caller hangs up on.", true, true, true, nullptr, wake,
                               [&] { return stop.load(); }),
              0);
    hangup.join();
    EXPECT_GE(card.Resets(), 1);
    EXPECT_EQ(card.OpenDevices(), 0);
}
