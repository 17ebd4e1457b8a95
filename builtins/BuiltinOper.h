#pragma once
// The shape every builtin operation shares: the operand variables in script order, the program that owns the
// line (form L) and the four ways a Run reads an operand. A builtin reports only through its integer result.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/TagOper.h"
#include "engine/TagVar.h"

namespace zz {

class TagTelBasic;
class TagKvCall;

// Common results of the builtins.
enum : int32_t {
    kBuiltinOk = 0,
    kBuiltinBadArg = -1,     // wrong type, index or value; unknown name or handle; file not opened
    kBuiltinBadLine = -2,    // line number at or above the line count; out-of-range position
    kBuiltinNoProgram = -3,  // no program loaded on the addressed line
    kBuiltinNoSpeech = -100, // dial string too long; no speech object; preset result of a DLL call
    kBuiltinNoCompile = -999,
    // What a builtin answers while this build has no run-time behaviour for it (logged once per statement);
    // apart from every other result, so that a script can tell it from a bad argument.
    kBuiltinNotAvailable = -998,
};

class TagBuiltin : public TagOper {
public:
    static constexpr int32_t kMaxOperands = 12;

    // The keyword's name for log lines; the table sets it after construction.
    const char* builtinName = "";

    int32_t OperandCount() const { return argc_; }
    TagVar& Operand(int32_t i) const;
    TagTelBasic* Program() const { return program_; }

    // The four ways of reading an operand (a missing operand reads as the empty value).
    // Text as stored, up to its first NUL; a number is not converted.
    const char* Text(int32_t i) const { return Operand(i).Str(); }
    // The stored bytes of a string operand (binary-safe), empty for any other type.
    std::string_view Bytes(int32_t i) const;
    // The integer word as it stands: an integer's value, a string's length plus one.
    int32_t StoredInt(int32_t i) const { return StoredWord(Operand(i)); }
    static int32_t StoredWord(const TagVar& v) { return v.intVal; }
    // The value's integer conversion.
    int32_t IntVal(int32_t i) const { return Operand(i).GetInt(); }
    // The value's floating-point conversion.
    double Number(int32_t i) const { return Operand(i).GetFloat(); }

    // Out operands: assignment of one type; a read-only operand refuses it.
    void SetOutInt(int32_t i, int32_t v) const { Operand(i).SetInt(v); }
    void SetOutFloat(int32_t i, double v) const { Operand(i).SetFloat(v); }
    void SetOutText(int32_t i, std::string_view s) const;
    // Element key of the array operand i := the text (the operand becomes an array first); refused when read-only.
    void SetOutItemText(int32_t i, int32_t key, std::string_view s) const;
    void SetOutItemInt(int32_t i, int32_t key, int32_t v) const;
    // Whole-value assignment of the integer 0: an object the operand held is let go.
    void ClearOut(int32_t i) const;
    // Element key of operand i, created when missing; the operand first becomes an empty object when it is not
    // one. A read-only operand gives a shared value that refuses every write.
    TagVar& OutElement(int32_t i, const TagVar& key) const { return Operand(i)[key]; }
    // The text as a buffer of room bytes (NUL included) would hold it: cut without splitting a double-byte
    // character.
    void SetOutText(int32_t i, std::string_view s, size_t room) const;

    // The call object of the line, read at every Run because the line layer may replace it; may be null.
    TagKvCall* Call() const;

    // Builtins whose behaviour is not in this build yet answer kBuiltinNotAvailable.
    int32_t Run() override;

protected:
    TagBuiltin(TagTelBasic* program, std::initializer_list<TagVar*> operands);

private:
    std::array<TagVar*, kMaxOperands> argv_{};
    int32_t argc_ = 0;
    TagTelBasic* program_ = nullptr;
    uint8_t loggedMissing_ = 0;
};

namespace detail {
template <size_t> using VarArg = TagVar*;

template <typename Seq> class BuiltinPImpl;
template <size_t... I> class BuiltinPImpl<std::index_sequence<I...>> : public TagBuiltin {
public:
    explicit BuiltinPImpl(VarArg<I>... v) : TagBuiltin(nullptr, {v...}) {}
};

template <typename Seq> class BuiltinLImpl;
template <size_t... I> class BuiltinLImpl<std::index_sequence<I...>> : public TagBuiltin {
public:
    explicit BuiltinLImpl(VarArg<I>... v, TagTelBasic* prog);
};
} // namespace detail

// The program that owns the line of prog (function unit: its parent; a RunKvs program: its caller).
TagTelBasic* BuiltinRoot(TagTelBasic* prog);

template <size_t... I>
detail::BuiltinLImpl<std::index_sequence<I...>>::BuiltinLImpl(VarArg<I>... v, TagTelBasic* prog)
    : TagBuiltin(BuiltinRoot(prog), {v...}) {}

// Form P: the operand variables in script order; no program.
template <size_t N> using BuiltinP = detail::BuiltinPImpl<std::make_index_sequence<N>>;
// Form L: the operand variables in script order, then the compiling program; keeps the line's root program.
template <size_t N> using BuiltinL = detail::BuiltinLImpl<std::make_index_sequence<N>>;

// Declares a builtin class of form P or L with N operands and the base Run.
#define ZZ_BUILTIN_P(Cls, N)                                                                                           \
    class Cls final : public ::zz::BuiltinP<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinP<N>;                                                                                \
        using Base::Base;                                                                                              \
    }
#define ZZ_BUILTIN_L(Cls, N)                                                                                           \
    class Cls final : public ::zz::BuiltinL<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinL<N>;                                                                                \
        using Base::Base;                                                                                              \
    }

// Declares a builtin class of form P or L with N operands and a Run of its own.
#define ZZ_BUILTIN_P_RUN(Cls, N)                                                                                       \
    class Cls final : public ::zz::BuiltinP<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinP<N>;                                                                                \
        using Base::Base;                                                                                              \
        int32_t Run() override;                                                                                        \
    }
#define ZZ_BUILTIN_L_RUN(Cls, N)                                                                                       \
    class Cls final : public ::zz::BuiltinL<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinL<N>;                                                                                \
        using Base::Base;                                                                                              \
        int32_t Run() override;                                                                                        \
    }

// A builtin of form L that acts on the line's call object: Run hands RunOn the call, or answers -1 without one
// (which the run loop never lets happen on a line).
template <size_t N> class CallBuiltin : public BuiltinL<N> {
public:
    using Base = BuiltinL<N>;
    using Base::Base;
    int32_t Run() final {
        TagKvCall* call = this->Call();
        return call ? RunOn(*call) : kBuiltinBadArg;
    }

protected:
    virtual int32_t RunOn(TagKvCall& call) = 0;
};

#define ZZ_CALL_BUILTIN(Cls, N)                                                                                        \
    class Cls final : public ::zz::CallBuiltin<N> {                                                                    \
    public:                                                                                                            \
        using Base = ::zz::CallBuiltin<N>;                                                                             \
        using Base::Base;                                                                                              \
                                                                                                                       \
    protected:                                                                                                         \
        int32_t RunOn(::zz::TagKvCall& call) override;                                                                 \
    }
// Value keys and values for OutElement and whole-value assignment.
TagVar IntValue(int32_t v);
TagVar TextValue(std::string_view s);

// One row of the ordinal-to-class table; every family file contributes its rows.
using BuiltinMaker = std::unique_ptr<TagOper> (*)(TagVar* const* args, TagTelBasic* prog);
struct BuiltinEntry {
    int32_t ordinal;
    int32_t argCount;
    BuiltinMaker make;
};

namespace detail {
template <class C, size_t... I> std::unique_ptr<TagOper> MakeP(TagVar* const* a, std::index_sequence<I...>) {
    return std::make_unique<C>(a[I]...);
}
template <class C, size_t... I>
std::unique_ptr<TagOper> MakeL(TagVar* const* a, TagTelBasic* prog, std::index_sequence<I...>) {
    return std::make_unique<C>(a[I]..., prog);
}
} // namespace detail

template <class C, size_t N> std::unique_ptr<TagOper> MakeFormP(TagVar* const* a, TagTelBasic*) {
    return detail::MakeP<C>(a, std::make_index_sequence<N>{});
}
template <class C, size_t N> std::unique_ptr<TagOper> MakeFormL(TagVar* const* a, TagTelBasic* prog) {
    return detail::MakeL<C>(a, prog, std::make_index_sequence<N>{});
}

// Table rows: the ordinal, the exact operand count and the class.
#define ZZ_ROW_P(ord, Cls, N)                                                                                          \
    { ord, N, &::zz::MakeFormP<Cls, N> }
#define ZZ_ROW_L(ord, Cls, N)                                                                                          \
    { ord, N, &::zz::MakeFormL<Cls, N> }

} // namespace zz
