#pragma once
// The operand splitter: one operand, two operands around an operator, or an operator and an operand.
#include <cstdint>
#include <string>

namespace zz {

struct TagOperand {
    enum : int32_t { kNone = -1, kName = 0, kString = 1, kInteger = 2, kFloat = 3 };
    int32_t kind = kNone;
    // String literals without their quotes and with escapes resolved. No length limit.
    std::string text;
};

// 0 on success; -1 a second operator, -2 an unclosed string, -3 an unsupported operator, -4 a missing operator,
// -5 other syntax errors; msg receives the message (empty on success). op is 0 when there is none, and holds the
// first operator found also when a second one stopped the split.
int32_t Tokenize(TagOperand& left, char& op, TagOperand& right, const char* text, std::string& msg);

} // namespace zz
