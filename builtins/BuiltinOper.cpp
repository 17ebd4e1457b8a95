#include "builtins/BuiltinOper.h"

#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagKvCall.h"

namespace zz {

namespace {
// Operands the compiler did not supply read as the empty value; writes to it are refused.
TagVar& MissingOperand() {
    thread_local TagVar empty(uint8_t{1});
    return empty;
}
} // namespace

TagTelBasic* BuiltinRoot(TagTelBasic* prog) {
    return prog ? prog->GetRoot() : nullptr;
}

TagBuiltin::TagBuiltin(TagTelBasic* program, std::initializer_list<TagVar*> operands) : program_(program) {
    for (TagVar* v : operands)
        if (argc_ < kMaxOperands) argv_[static_cast<size_t>(argc_++)] = v;
}

TagVar& TagBuiltin::Operand(int32_t i) const {
    if (i < 0 || i >= argc_ || !argv_[static_cast<size_t>(i)]) return MissingOperand();
    return *argv_[static_cast<size_t>(i)];
}

std::string_view TagBuiltin::Bytes(int32_t i) const {
    const TagVar& v = Operand(i);
    if (v.type != TagVar::kString) return {};
    return {v.Str(), StrBytes(v)};
}

void TagBuiltin::SetOutText(int32_t i, std::string_view s) const {
    size_t n = s.size() > static_cast<size_t>(TagVar::kMaxStrLen) ? TagVar::kMaxStrLen : s.size();
    Operand(i).SetStrN(s.data(), static_cast<int32_t>(n));
}

void TagBuiltin::SetOutItemText(int32_t i, int32_t key, std::string_view s) const {
    Operand(i)[IntValue(key)] = TextValue(s); // whole-value assignment lets go of an object the element held
}

void TagBuiltin::ClearOut(int32_t i) const {
    Operand(i) = IntValue(0);
}

TagVar IntValue(int32_t v) {
    TagVar t;
    t.SetInt(v);
    return t;
}

TagVar TextValue(std::string_view s) {
    TagVar t;
    size_t n = s.size() > static_cast<size_t>(TagVar::kMaxStrLen) ? TagVar::kMaxStrLen : s.size();
    t.SetStrN(s.data(), static_cast<int32_t>(n));
    return t;
}

void TagBuiltin::SetOutItemInt(int32_t i, int32_t key, int32_t v) const {
    TagVar k, value;
    k.SetInt(key);
    value.SetInt(v);
    Operand(i)[k] = value;
}

void TagBuiltin::SetOutText(int32_t i, std::string_view s, size_t room) const {
    SetOutText(i, s.substr(0, room ? GbkSafeCut(s, room - 1) : 0));
}

TagKvCall* TagBuiltin::Call() const {
    // Every line's call object is a TagKvCall; a bare engine call state (engine tests) has no line operations.
    return program_ ? dynamic_cast<TagKvCall*>(program_->Call()) : nullptr;
}

int32_t TagBuiltin::Run() {
    if (!loggedMissing_) {
        loggedMissing_ = 1;
        WriteRunLogF("%s() not available in this build: [LINE=%d:%s]", builtinName, lineNo, text.c_str());
    }
    return kBuiltinNotAvailable;
}

} // namespace zz
