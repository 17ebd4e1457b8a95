#pragma once
// What the engine needs of the builtins, which sit above it: the operations of builtin calls and of calls of
// declared user-library functions, and the script timers that run between two statements. The builtins register
// their implementation at start (RegisterBuiltins); without one, every builtin call is a compile error.
#include <cstdint>
#include <memory>

namespace zz {

class TagOper;
class TagTelBasic;
class TagVar;

class TagBuiltinHost {
public:
    virtual ~TagBuiltinHost() = default;

    // The operation of the builtin or statement-like keyword `ordinal` from its argument variables in script
    // order, compiled in prog; its kind is the keyword record's. Null with *message set ("操作参数太多",
    // "操作参数不够", "语法错误") when it cannot be built.
    virtual std::unique_ptr<TagOper> MakeBuiltin(int32_t ordinal, TagVar* const* args, int32_t argCount,
                                                 TagTelBasic* prog, const char** message) = 0;
    // The declared parameter count of a user-library function name in prog's line: 0 or more, -1 for "no
    // arguments at all"; false when the name is not declared.
    virtual bool FindLibFunc(TagTelBasic* prog, const char* name, int32_t* paramCount) = 0;
    // The call operation of a declared user-library function with its argument variables.
    virtual std::unique_ptr<TagOper> MakeLibCall(const char* name, TagVar* const* args, int32_t argCount,
                                                 TagTelBasic* prog) = 0;
    // Runs the due script timers of the line whose main program is root.
    virtual void FireTimers(TagTelBasic& root) = 0;
};

// The registered builtins; null until they register.
void SetBuiltinHost(TagBuiltinHost* host);
TagBuiltinHost* GetBuiltinHost();

} // namespace zz
