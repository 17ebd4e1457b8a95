#pragma once
// Many lines at once: a line manager with virtual lines, each given a script compiled by the engine and run on a
// thread of its own, so scripts reach one another through the line table as they do in the running system. The
// clock is virtual: sleeps of the loading pass cost nothing, and once Running() is called time moves only when a
// test advances it.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "builtins/services/MsgState.h"
#include "builtins/services/TagShareMem.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/CpuGate.h"
#include "platform/TagRunCfg.h"
#include "telephony/TagTelDrive.h"
#include "telephony/TagTelLine.h"
#include "tests/support/TestDir.h"

namespace zz::test {

class ServiceLines : public ::testing::Test {
protected:
    ServiceLines() : dir_("services"), clock_(&clock) {
        RegisterBuiltins();
        SetCpuPercentSource([] { return 0; });
        ClearProcessServices();
    }
    ~ServiceLines() override {
        JoinAll();
        for (int32_t n = 0; drive_ && n < drive_->LineCount(); ++n)
            Unload(n);
        SetTelDrive(nullptr);
        drive_.reset();
        ClearProcessServices();
        SetCpuPercentSource(nullptr);
    }

    static void ClearProcessServices() {
        ProcessShareMem().Clear();
        for (int32_t i = 0; i < MsgState::kBoxes; ++i) {
            ProcessMailbox(i).Clear();
            ServerSlot(i).Clear();
        }
    }

    void MakeLines(int32_t n) {
        TestDir::Write("ZuZodRun.cfg", "VIR_LINES_NUM=" + std::to_string(n) + "\n");
        drive_ = std::make_unique<TagTelDrive>("ZuZodRun.cfg", &cfg_);
        ASSERT_EQ(drive_->LineCount(), n);
        SetTelDrive(drive_.get());
    }

    // Compiles script as the program of line n and publishes it in the line's entry, in place of any before.
    TagTelBasic* Load(int32_t n, const std::string& script) {
        Unload(n);
        const std::string file = "line" + std::to_string(n) + ".kvs";
        TestDir::Write(file, script);
        TagMemKvs::Process().Clear(); // the script cache would hand back an earlier test's file of that name
        TagTelLine* e = drive_->Line(n);
        auto* p = new TagTelBasic(file.c_str(), n, e->call.get(), 1, nullptr);
        EXPECT_EQ(p->initResult, 0) << TestDir::Read("errmsg" + std::to_string(n) + ".txt");
        p->lineEntry = e;
        std::lock_guard<std::mutex> lk(e->programLock);
        e->program = p;
        return p;
    }

    // Unpublishes line n's program under the entry's lock and deletes it, as the line thread does on a reload.
    void Unload(int32_t n) {
        TagTelLine* e = drive_->Line(n);
        TagTelBasic* p = nullptr;
        {
            std::lock_guard<std::mutex> lk(e->programLock);
            std::swap(p, e->program);
        }
        delete p;
    }

    TagTelBasic* Program(int32_t n) {
        TagTelLine* e = drive_->Line(n);
        std::lock_guard<std::mutex> lk(e->programLock);
        return e->program;
    }

    // From now on the clock moves only when the test advances it.
    void Running() { clock.SetAuto(false); }

    void Start(int32_t n) {
        TagTelBasic* p = Program(n);
        threads_.emplace_back([p] { p->Run(); });
    }
    void JoinAll() {
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
        threads_.clear();
    }
    // Runs line n's script to its end on a thread of its own.
    void RunLine(int32_t n) {
        Start(n);
        JoinAll();
    }

    // The integer value of a variable of line n's main program after its run.
    int32_t IntOf(int32_t n, const char* name) {
        TagVar* v = nullptr;
        TagTelBasic* p = Program(n);
        return p && p->FindVar(name, &v) >= 0 && v ? v->GetInt() : INT32_MIN;
    }
    std::string TextOf(int32_t n, const char* name) {
        TagVar* v = nullptr;
        TagTelBasic* p = Program(n);
        return p && p->FindVar(name, &v) >= 0 && v ? v->ToString() : "<none>";
    }

    TestDir dir_;
    VirtualClock clock{1000, true};
    ScopedClock clock_;
    TagRunCfg cfg_;
    std::unique_ptr<TagTelDrive> drive_;
    std::vector<std::thread> threads_;
};

} // namespace zz::test
