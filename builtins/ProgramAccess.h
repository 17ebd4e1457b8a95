#pragma once
// Short forms of what the builtins need of a program object: the program that owns the line, its line number,
// call object and print target, the user-DLL name table and the switch that keeps never-called functions.
#include <cstdint>

namespace zz {

class TagTelBasic;
class TagKvCall;
class TStdOut;

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

} // namespace zz
