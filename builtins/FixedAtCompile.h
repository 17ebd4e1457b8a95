#pragma once
// Builtin classes that keep more than their operands (a flag or line number fixed when the line is compiled) or
// act while the line is compiled; the run loop and tests reach those fields.
#include "builtins/BuiltinOper.h"
#include "builtins/UserDll.h"
#include "engine/TagTelBasic.h"

namespace zz {

ZZ_CALL_BUILTIN(TagGetKeys, 3);
ZZ_CALL_BUILTIN(TagPcGetKeys, 3);

// PlayNumber and PcPlayNumber: the flag selects play on the PC sound card.
class TagPlayNumber final : public TagBuiltin {
public:
    TagPlayNumber(TagVar* number, TagVar* mode, TagTelBasic* prog, uint8_t onPc)
        : TagBuiltin((prog ? prog->GetRoot() : nullptr), {number, mode}), pcFlag(onPc) {}
    int32_t Run() override;
    uint8_t pcFlag;
};

// TxtSpeak and PcTxtSpeak: the flag selects speech on the PC sound card.
class TagTxtSpeak final : public TagBuiltin {
public:
    TagTxtSpeak(uint8_t onPc, TagVar* text, TagVar* a, TagVar* b, TagTelBasic* prog)
        : TagBuiltin((prog ? prog->GetRoot() : nullptr), {text, a, b}), pcFlag(onPc) {}
    int32_t Run() override;
    uint8_t pcFlag;
};

// DispInfo and SetDispColor address the console row of the line whose script holds the call.
class TagDispInfo final : public TagBuiltin {
public:
    TagDispInfo(int32_t line, TagVar* a, TagVar* b) : TagBuiltin(nullptr, {a, b}), displayLine(line) {}
    int32_t Run() override;
    int32_t displayLine;
};

class TagSetDispColor final : public TagBuiltin {
public:
    TagSetDispColor(int32_t line, TagVar* a, TagVar* b) : TagBuiltin(nullptr, {a, b}), displayLine(line) {}
    int32_t Run() override;
    int32_t displayLine;
};

// Keeps the compiling program itself, so that the text sees the variables of the function it stands in.
class TagEval final : public TagBuiltin {
public:
    TagEval(TagVar* text, TagTelBasic* prog) : TagBuiltin(prog, {text}) { kind = 'R'; }
    int32_t Run() override;
};

// Keeps the compiling program's parent when it has one, else the program: one level up only.
class TagRunKvs final : public TagBuiltin {
public:
    TagRunKvs(TagVar* file, TagTelBasic* prog) : TagBuiltin((prog ? prog->ParentOrSelf() : nullptr), {file}) {}
    int32_t Run() override;
};

// Text compiled while the line runs may name any function of the line's program: keep them all.
class TagRunLine final : public TagBuiltin {
public:
    TagRunLine(TagVar* text, TagTelBasic* prog) : TagBuiltin((prog ? prog->GetRoot() : nullptr), {text}) {
        if (Program()) Program()->SetOptimize(0);
    }
    int32_t Run() override;
};

// An inter-line request may name any function of the line's program: keep them all.
class TagInterLineServer final : public TagBuiltin {
public:
    TagInterLineServer(TagVar* v, TagTelBasic* prog) : TagBuiltin((prog ? prog->GetRoot() : nullptr), {v}) {
        if (Program()) Program()->SetOptimize(0);
    }
    // Serves at most one waiting request of the slot (builtins/Messages.cpp).
    int32_t Run() override;
};

// Declares the function in the line's DLL table while compiling, with the values the operands hold then;
// a name declared before keeps its first declaration.
class TagDllFunction final : public TagBuiltin {
public:
    TagDllFunction(TagVar* handle, TagVar* name, TagVar* count, TagTelBasic* prog)
        : TagBuiltin((prog ? prog->GetRoot() : nullptr), {handle, name, count}) {
        if (Program()) Program()->LineState<UserLibState>().AddFuncName(Text(1), IntVal(2));
    }
    int32_t Run() override;
};

} // namespace zz
