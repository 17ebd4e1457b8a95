#pragma once
// What the builtins need of a program object beyond its symbol table: the program that owns the line, its line
// number, call object and print target, the user-DLL name table and the switch that keeps never-called functions.
// Until the program object carries these itself, they live in a side table keyed by the program, which whoever
// builds a program fills (LineStateOf) and empties when it destroys the program (ForgetProgram).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zz {

class TagTelBasic;
class TagKvCall;
class TStdOut;

struct ProgramLineState {
    int32_t lineNo = 0;
    TagKvCall* call = nullptr;
    // The calling program of a program started by RunKvs.
    TagTelBasic* runKvsCaller = nullptr;
    // 0: never-called functions are kept at the end of the compilation.
    uint8_t optimize = 1;
    std::unique_ptr<TStdOut> printTarget;
    std::vector<std::pair<std::string, int32_t>> dllFuncs;
    // Operation indexes of the hang-up and system-quit handlers (-1: none), and the handler state (7: no
    // further handler jumps).
    int32_t disconnIndex = -1;
    int32_t sysQuitIndex = -1;
    int32_t handlerState = -1;
    // Set by OutCall, Dial and CheckDial; returned and cleared by Close and OnDisconn.
    int32_t dialFailWord = 0;
    // Names of the user functions running on the line, outermost first.
    std::vector<std::string> callStack;

    ProgramLineState();
    ~ProgramLineState();
};

// The state of p, created empty on first use; p must not be null.
ProgramLineState& LineStateOf(TagTelBasic* p);
// Drops the state of p (its print target is closed).
void ForgetProgram(TagTelBasic* p);

// The parent of a function unit, else the program; then, for a program started by RunKvs, its calling program.
TagTelBasic* ProgramRoot(TagTelBasic* p);
// One level up only: the parent when there is one, else the program.
TagTelBasic* ProgramParentOrSelf(TagTelBasic* p);
// The line number; a function unit carries its parent's.
int32_t ProgramLineNo(TagTelBasic* p);
// The program's call object, or its parent's for a function unit; may be null.
TagKvCall* ProgramCall(TagTelBasic* p);
// The print target of p's root; created closed on first use; null only for a null p.
TStdOut* ProgramPrintTarget(TagTelBasic* p);
void ProgramSetOptimize(TagTelBasic* p, int32_t on);
int32_t ProgramOptimize(TagTelBasic* p);
// Declares a user-DLL function in p's table: 0, or -1 when the name is declared already (nothing changes).
int32_t ProgramAddDllFunc(TagTelBasic* p, const char* name, int32_t paramCount);
// Index of a declared name or -1; paramCount receives its declared count.
int32_t ProgramFindDllFunc(TagTelBasic* p, const char* name, int32_t* paramCount);

// Runs a function unit's body on this thread, caller being the unit whose statement calls it; the run loop
// installs the runner. Without one a call runs no body and gives 0.
using FunctionRunner = int32_t (*)(TagTelBasic* unit, TagTelBasic* caller);
void SetFunctionRunner(FunctionRunner runner);
int32_t ProgramRunFunction(TagTelBasic* unit, TagTelBasic* caller);

} // namespace zz
