#pragma once
// Operations of the statement heads that are not control flow: user-function calls and returns, DLL calls, the
// hang-up and system-quit handlers, and the statement-like builtins.
#include <array>
#include <string>
#include <vector>

#include "builtins/BuiltinOper.h"

namespace zz {

class TagSysTimers;

// A call of a user function (kind 'R'): values in, the body run on this thread, changed parameters copied back.
class TagCall final : public TagOper {
public:
    static constexpr int32_t kMaxParams = 40;
    // The call stack of a line stops growing here: deeper calls are logged and fail with -1.
    static constexpr size_t kMaxDepth = 30;

    TagCall(TagVar* function, TagTelBasic* caller);
    // Appends an argument; -1 (nothing stored) beyond 40.
    int32_t AddPara(TagVar* arg);
    int32_t Run() override;

    TagVar* funcVar;
    TagTelBasic* caller;
    std::array<TagVar*, kMaxParams> params{};
    int32_t paramCount = 0;
};

// return(value) (kind 'r'): the unit's _retVal becomes the value, and the running body ends.
class TagReturn final : public TagOper {
public:
    TagReturn(TagVar* value, TagTelBasic* unit) : value_(value), unit_(unit) { kind = 'r'; }
    int32_t Run() override;
    TagOper* Next() override { return nullptr; }

private:
    TagVar* value_;
    TagTelBasic* unit_;
};

// Close() and OnDisconn(): the hang-up handler of the line's main flow.
class TagClose final : public TagOper {
public:
    explicit TagClose(TagTelBasic* prog) : unit_(prog) {}
    // Registers index as the main flow's hang-up handler; a later statement replaces an earlier one. Refused
    // (-1) in a function unit, whose indexes mean nothing to the main flow.
    int32_t SetDisconnFlag(int32_t opIndex);
    // A released call (2) becomes handled (12); the line's last dial-failure word is returned and cleared.
    int32_t Run() override;

private:
    TagTelBasic* unit_;
};

// OnSysQuit(): the system-quit handler of the line's main flow.
class TagOnSysQuit final : public TagOper {
public:
    TagOnSysQuit(int32_t opIndex, TagTelBasic* prog);
    // Handler state 7: the run loop makes no further handler jumps.
    int32_t Run() override;

private:
    TagTelBasic* unit_;
};

// A call of a name declared with DllFunction.
class TagDllCall final : public TagBuiltin {
public:
    TagDllCall(const char* name, TagTelBasic* prog);
    void AddPara(TagVar* arg) { dllArgs.push_back(arg); }

    std::string funcName;
    std::vector<TagVar*> dllArgs;
};

// IsSysQuit(out): out := the line's system-quit flag (0 or 1), which is also the result.
class TagIsSysQuit final : public TagBuiltin {
public:
    TagIsSysQuit(TagVar* v, TagTelBasic* prog);
    int32_t Run() override;
};

// Exit(code): a code other than 0 first signals the "AutoRun Quit" event of a controlling process; then the
// program's exit routine asks the whole system to shut down. The script goes on until the lines are stopped.
class TagExit final : public TagBuiltin {
public:
    explicit TagExit(TagVar* v) : TagBuiltin(nullptr, {v}) {}
    int32_t Run() override;
};
// The program's exit routine (the console installs it: it posts the quit to the main window); null: none.
using ExitRoutine = void (*)();
void SetExitRoutine(ExitRoutine routine);

// Assert(condition): the condition's integer value.
class TagAssert final : public TagBuiltin {
public:
    TagAssert(TagVar* cond, TagTelBasic* prog);
    int32_t Run() override;
};

// StartTimer(function, seconds): registers the function's timer when compiled; arms it when run.
class TagStartTimer final : public TagBuiltin {
public:
    TagStartTimer(TagVar* func, TagVar* interval, TagTelBasic* prog);
    // -1 when the first operand holds no function or no timer has its name; else 0.
    int32_t Run() override;
};

// StopTimer(function or 0).
class TagStopTimer final : public TagBuiltin {
public:
    TagStopTimer(TagVar* func, TagTelBasic* prog);
    int32_t Run() override;
};

// The line's timer table (the root program's), created when the program has none yet.
TagSysTimers& TimersOf(TagTelBasic& prog);

} // namespace zz
