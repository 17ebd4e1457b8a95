// The sound-card recorder on the fake card: every fed sample lands in the file, the header follows the data.
#include "media/TagWaveRecord.h"
#include "platform/MessageBox.h"
#include "platform/audio/FakeAudio.h"

#include "SoundTestUtil.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zz;
using namespace soundtest;

namespace {

class WaveRecordTest : public ::testing::Test {
protected:
    void SetUp() override { SetMessageStderr(false); }
    void TearDown() override {
        SetMessageSink(nullptr);
        SetMessageStderr(true);
    }
    FakeAudio card;
    ScopedAudioBackend scoped{&card};
    ScratchDir dir{"rec"};
};

void ExpectHeader(const Bytes& f, uint32_t dataLen) {
    ASSERT_GE(f.size(), 48u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
    EXPECT_EQ(Get32(f, 4), dataLen ? dataLen + 40 : 0);
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Get32(f, 16), 20u);
    EXPECT_EQ(Get16(f, 20), 1);
    EXPECT_EQ(Get16(f, 22), 1);
    EXPECT_EQ(Get32(f, 24), 8000u);
    EXPECT_EQ(Get32(f, 28), 16000u);
    EXPECT_EQ(Get16(f, 32), 2);
    EXPECT_EQ(Get16(f, 34), 16);
    EXPECT_EQ(std::string(f.begin() + 40, f.begin() + 44), "data");
    EXPECT_EQ(Get32(f, 44), dataLen);
}

} // namespace

// The device keeps capturing while the worker writes the file: samples fed in odd pieces across many buffer
// changes all arrive, and what the device holds at the stop is written too.
TEST_F(WaveRecordTest, EverySampleFedIsRecordedAcrossBufferChanges) {
    std::string path = dir / "r.wav";
    Bytes fed = Ramp(4096 * 5 + 1000, 11);
    {
        TagWaveRecord rec(path, 2);
        ASSERT_EQ(rec.status, 0);
        ASSERT_EQ(rec.Start(), 0);
        EXPECT_EQ(card.LastDevice(), 2u);
        EXPECT_EQ(card.LastFormat().bits, 16);
        for (size_t at = 0; at < fed.size();) {
            size_t n = std::min<size_t>(1234, fed.size() - at);
            card.Feed(fed.data() + at, n);
            at += n;
            std::this_thread::yield();
        }
        ASSERT_TRUE(card.WaitConsumed(1000));
        EXPECT_FALSE(rec.IsFinished());
        rec.Stop();
        EXPECT_TRUE(rec.IsFinished());
        EXPECT_EQ(card.OpenDevices(), 0); // the worker closed the device
        EXPECT_EQ(rec.DataBytes(), int32_t(fed.size()));
    }
    Bytes file = ReadFile(path);
    ExpectHeader(file, uint32_t(fed.size()));
    EXPECT_EQ(Slice(file, 48, file.size() - 48), fed);
    EXPECT_EQ(Soxi("-r", path), "8000");
    EXPECT_EQ(Soxi("-s", path), std::to_string(fed.size() / 2));
}

TEST_F(WaveRecordTest, MapperRecordsInLargeBuffers) {
    std::string path = dir / "m.wav";
    Bytes fed = Ramp(20480 * 2);
    {
        TagWaveRecord rec(path, kWaveMapper);
        ASSERT_EQ(rec.Start(), 0);
        card.Feed(fed.data(), 20480 + 100);
        ASSERT_TRUE(card.WaitConsumed(100));
        for (int i = 0; i < 500 && rec.DataBytes() < 20480; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(rec.DataBytes(), 20480); // one full buffer so far
        card.Feed(fed.data() + 20580, fed.size() - 20580);
        ASSERT_TRUE(card.WaitConsumed(0));
    }
    Bytes file = ReadFile(path);
    ExpectHeader(file, uint32_t(fed.size()));
    EXPECT_EQ(Slice(file, 48, fed.size()), fed);
}

TEST_F(WaveRecordTest, NothingRecordedKeepsZeroSizes) {
    std::string path = dir / "empty.wav";
    {
        TagWaveRecord rec(path, 0);
        ASSERT_EQ(rec.Start(), 0);
        rec.Stop();
        rec.Stop(); // twice is harmless
    }
    Bytes file = ReadFile(path);
    EXPECT_EQ(file.size(), 48u);
    ExpectHeader(file, 0);
    TagWaveRecord neverStarted(dir / "n.wav", 0);
    neverStarted.Stop();
}

TEST_F(WaveRecordTest, SecondStartStopsTheFirstAndAppends) {
    std::string path = dir / "twice.wav";
    Bytes a = Ramp(4096, 1), b = Ramp(4096, 5000);
    {
        TagWaveRecord rec(path, 0);
        ASSERT_EQ(rec.Start(), 0);
        card.Feed(a.data(), a.size());
        ASSERT_TRUE(card.WaitConsumed(0));
        ASSERT_EQ(rec.Start(), 0);
        card.Feed(b.data(), b.size());
        ASSERT_TRUE(card.WaitConsumed(0));
    }
    Bytes file = ReadFile(path);
    ExpectHeader(file, 8192); // the header counts both recordings, as the file holds both
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(Slice(file, 48, 8192), both);
}

TEST_F(WaveRecordTest, FailuresGiveTheirCodesWithoutBlocking) {
    std::vector<std::string> texts, captions;
    SetMessageSink([&](const std::string& t, const std::string& c) {
        texts.push_back(t);
        captions.push_back(c);
    });
    TagWaveRecord noFile(dir / "no/such/dir/x.wav", 0);
    EXPECT_EQ(noFile.status, -1);
    EXPECT_EQ(noFile.Start(), -1);
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0], "出错了Record()");
    EXPECT_EQ(texts[0].rfind("无法创建'", 0), 0u);

    card.FailOpen(kAudioBadDevice);
    TagWaveRecord rec(dir / "d.wav", 5);
    EXPECT_EQ(rec.Start(), -3);
    EXPECT_TRUE(rec.IsFinished());
}
