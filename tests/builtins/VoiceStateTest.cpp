// The line's voice record: playing from the line's memory voices, the process's, or the file; the join file;
// the temporary voice files that go with the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "builtins/VoiceState.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

class VoicePlay : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        TestDir::Write(dir.path() / name, bytes);
        return (dir.path() / name).string();
    }
    TestDir dir{"voice"};
};

class FakeCall : public TagKvCall {
public:
    int Play(const char* file, int32_t breakOnKey, int32_t onPc) override {
        played.push_back(file);
        lastBreak = breakOnKey;
        lastOnPc = onPc;
        return 11;
    }
    int PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop, int32_t breakOnKey) override {
        if (onMemory) onMemory(); // another thread may unload the voice while it plays
        memory.assign(data, data + length);
        lastOffset = offset;
        lastLoop = loop;
        lastBreak = breakOnKey;
        return 22;
    }
    std::vector<std::string> played;
    std::vector<uint8_t> memory;
    std::function<void()> onMemory;
    int32_t lastBreak = -1, lastOnPc = -1, lastOffset = -1, lastLoop = -1;
};

TEST_F(VoicePlay, PlayFileFromMemoryLineFirstThenProcess) {
    TagMemVocs line, process;
    std::string shared = Write("num1.vox", "PROC");
    ASSERT_EQ(process.Load(shared.c_str(), 0), 4);
    FakeCall call;
    EXPECT_EQ(PlayFile(call, line, process, shared.c_str(), 1), 22);
    EXPECT_EQ(std::string(call.memory.begin(), call.memory.end()), "PROC");
    EXPECT_EQ(call.lastOffset, 0);
    EXPECT_EQ(call.lastLoop, 0);
    EXPECT_EQ(call.lastBreak, 1);

    Write("num1.vox", "LINE!");
    ASSERT_EQ(line.Load(shared.c_str(), 0), 5);
    auto found = FindMemVoc(line, process, shared.c_str());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->length, 5);
    call.onMemory = [&] { line.Clear(); };
    EXPECT_EQ(PlayFile(call, line, process, shared.c_str(), 0), 22);
    EXPECT_EQ(std::string(call.memory.begin(), call.memory.end()), "LINE!");
    EXPECT_TRUE(call.played.empty());
    EXPECT_FALSE(FindMemVoc(line, TagMemVocs::Process(), shared.c_str()));
}

TEST_F(VoicePlay, PlayFileFromDiskCutsLongNames) {
    TagMemVocs line, process;
    FakeCall call;
    EXPECT_EQ(PlayFile(call, line, process, "voc\\welcome.vox", 1), 11);
    ASSERT_EQ(call.played.size(), 1u);
    EXPECT_EQ(call.played[0], "voc\\welcome.vox");
    EXPECT_EQ(call.lastBreak, 1);
    EXPECT_EQ(call.lastOnPc, 0);
    std::string longName(1500, 'n');
    EXPECT_EQ(PlayFile(call, line, process, longName.c_str(), 0), 11);
    EXPECT_EQ(call.played[1].size(), 1023u);
}

TEST(VoiceRecord, JoinFileAndTemporaryVoicesLiveInTheVoiceDirectory) {
    TestDir dir("voicefiles");
    TagKvCall call;
    call.lineNo = 4;
    {
        TagTelBasic p;
        p.lineNo = 4;
        p.pKvCall = &call;
        VoiceState& v = p.LineState<VoiceState>();
        v.voiceDir[0] = "v/";
        EXPECT_EQ(v.SetPlayToFile(1), -1) << "the directory does not exist";
        std::filesystem::create_directory("v");
        EXPECT_EQ(v.SetPlayToFile(1), 0);
        TestDir::Write("v/tts4.WAV", "x");
        EXPECT_TRUE(std::filesystem::exists("v/t4.WAV"));
        EXPECT_EQ(&p.LineState<VoiceState>(), &v) << "one record a line";
    }
    // The program took its temporary voice files along; the join file of play-to-file mode stays.
    EXPECT_TRUE(std::filesystem::exists("v/t4.WAV"));
    EXPECT_FALSE(std::filesystem::exists("v/tts4.WAV"));

    std::string keys = "1*2.3";
    VoiceState::StarToPoint(1, keys);
    EXPECT_EQ(keys, "1.2.3");
    VoiceState::StarToPoint(0, keys);
    EXPECT_EQ(keys, "1*2*3");
}

} // namespace
} // namespace zz
