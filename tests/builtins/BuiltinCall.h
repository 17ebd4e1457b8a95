#pragma once
// Runs one builtin the way the run loop does (arguments already evaluated), and a run log caught in a scratch
// folder for tests that read the lines a builtin writes.
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "builtins/BuiltinTable.h"
#include "engine/TagOper.h"
#include "platform/TagWriteLog.h"
#include "tests/support/TestDir.h"

namespace zz::test {

// The result of builtin `ordinal` built in prog with the operands, run once.
inline int32_t RunBuiltin(int32_t ordinal, TagTelBasic* prog, std::initializer_list<TagVar*> operands) {
    std::vector<TagVar*> args(operands);
    std::unique_ptr<TagOper> op =
        MakeBuiltinOper(ordinal, args.data(), static_cast<int32_t>(args.size()), prog, nullptr);
    return op ? op->Run() : -12345;
}

// Run logging on, into "run.txt" of a fresh working folder.
class RunLogCapture {
public:
    explicit RunLogCapture(const std::string& tag) : dir_(tag), log_("run.txt", 0, true, true) {
        SetLogLevel(1);
        SetRunLog(&log_);
    }
    ~RunLogCapture() {
        SetRunLog(nullptr);
        SetLogLevel(0);
    }
    std::string Text() const { return TestDir::Read(dir_.path() / "run.txt"); }
    const TestDir& Dir() const { return dir_; }

private:
    TestDir dir_;
    TagWriteLog log_;
};

} // namespace zz::test
