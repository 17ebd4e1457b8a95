#pragma once
// Operations of the statement-like builtins (IsSysQuit, Exit, Assert, StartTimer, StopTimer) and of calls of
// declared user-library functions.
#include <array>
#include <string>
#include <vector>

#include "builtins/BuiltinOper.h"

namespace zz {

class TagSysTimers;

// A call of a name declared with DllFunction.
class TagDllCall final : public TagBuiltin {
public:
    TagDllCall(const char* name, TagTelBasic* prog);
    void AddPara(TagVar* arg) { dllArgs.push_back(arg); }
    // Calls the bound entry point with one argument record per argument: its result, -1 when the name is not
    // bound (or bound with another count), -100 when the function raised.
    int32_t Run() override;

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

} // namespace zz
