#pragma once
// The builtin branch of the statement compiler: one operation object per builtin call, of the class the
// keyword's ordinal selects, built in that class's constructor form. RegisterBuiltins hands the table (and the
// timers and user-library calls) to the engine; every program that compiles scripts calls it once at start.
#include <cstdint>
#include <memory>

#include "engine/TagOper.h"

namespace zz {

class TagTelBasic;

// Builds the operation of a builtin (or statement-like keyword) `ordinal` from its argument variables in script
// order, compiled in prog. The kind is copied from the keyword record; text, target, line and links are the
// caller's. Null when the count differs from the builtin's, with *message "操作参数太多" or "操作参数不够";
// "语法错误" for an ordinal that is not a builtin.
std::unique_ptr<TagOper> MakeBuiltinOper(int32_t ordinal, TagVar* const* args, int32_t argCount, TagTelBasic* prog,
                                         const char** message);

// The exact argument count of a builtin ordinal, -1 for anything else.
int32_t BuiltinArgCount(int32_t ordinal);

// Registers the builtins with the engine (idempotent).
void RegisterBuiltins();

} // namespace zz
