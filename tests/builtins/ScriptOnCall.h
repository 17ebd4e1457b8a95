#pragma once
// Scripts compiled and run on a call object of the test's choosing, in a fresh folder; and a call object that
// keeps a journal of the operations the builtins call, with results the test sets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"
#include "tests/support/TestDir.h"

namespace zz::test {

class JournalCall : public TagKvCall {
public:
    explicit JournalCall(int8_t kind = kLineSip) { lineKind = kind; }

    int Play(const char* file, int32_t breakOnKey, int32_t onPc) override {
        Note("Play " + std::string(file) + " " + std::to_string(breakOnKey) + " " + std::to_string(onPc));
        played = TestDir::Read(file); // the joined prompt goes once played
        return playResult;
    }
    int PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop, int32_t breakOnKey) override {
        Note("PlayMemory " + std::to_string(offset) + " " + std::to_string(length) + " " + std::to_string(loop) + " " +
             std::to_string(breakOnKey));
        played.assign(reinterpret_cast<const char*>(data), size_t(length));
        return 0;
    }
    int Record(const char* file, int32_t seconds, int32_t breakFlag) override {
        Note("Record " + std::string(file) + " " + std::to_string(seconds) + " " + std::to_string(breakFlag));
        return 0;
    }
    int SpyRec(const char* file, int32_t seconds) override {
        Note("SpyRec " + std::string(file) + " " + std::to_string(seconds));
        return 0;
    }
    int GetKeys(std::string& out, int32_t count, int32_t timeout, char endKey) override {
        Note("GetKeys " + std::to_string(count) + " " + std::to_string(timeout) + " " + std::string(1, endKey));
        out = keys;
        return keysResult;
    }
    int Dial(const char* number) override {
        Note("Dial " + std::string(number));
        return dialResult;
    }
    int OutCall(const char* number, int32_t a, int32_t b) override {
        Note("OutCall " + std::string(number) + " " + std::to_string(a) + " " + std::to_string(b));
        return dialResult;
    }
    int CheckDial() override {
        Note("CheckDial");
        return dialResult;
    }
    int Hangup() override {
        Note("Hangup");
        return TagKvCall::Hangup();
    }
    int WaitRing(int32_t count) override {
        Note("WaitRing " + std::to_string(count));
        if (rings-- <= 0) return -1;
        MarkConnected();
        return 0;
    }
    int GetCallerId(std::string& out) override {
        out = callerId;
        return 1;
    }
    int GetCalleeId(std::string& out) override {
        out = calleeId;
        return 1;
    }
    int IsRinging(std::string& caller, std::string& called) override {
        caller = callerId;
        called = "555";
        return ringing;
    }

    void Note(const std::string& s) { journal.push_back(s); }

    std::vector<std::string> journal;
    std::string keys, played, callerId;
    int keysResult = 0, dialResult = 0, playResult = 0, ringing = 1, rings = 1;
};

// One script run on a call: compiled as line 3 and run on this thread. Texts are GBK, as the test's literals are.
class ScriptOnCall {
public:
    explicit ScriptOnCall(const char* tag) : dir_(tag) { RegisterBuiltins(); }

    // The script's result. whileKept runs after the run, before the program (and the temporary voice files it
    // takes along) goes.
    int32_t Run(const std::string& script, TagKvCall& call, const std::function<void()>& whileKept = {}) {
        TestDir::Write("main.kvs", script);
        TagMemKvs::Process().Clear();            // scripts are cached by name
        std::filesystem::remove("_stdout3.txt"); // Printed() is this run's output; the file is appended to
        call.lineNo = kLine;
        TagTelBasic prog("main.kvs", kLine, &call, 1, nullptr);
        EXPECT_EQ(prog.initResult, 0) << GbkToUtf8(TestDir::Read("errmsg3.txt"));
        if (prog.initResult != 0) return -999;
        int32_t r = prog.Run();
        if (whileKept) whileKept();
        return r;
    }
    std::string Printed() const { return TestDir::Read("_stdout3.txt"); }
    const std::filesystem::path& Dir() const { return dir_.path(); }

    static constexpr int32_t kLine = 3;

private:
    TestDir dir_;
};

} // namespace zz::test
