#pragma once
// One calculation step (an operator applied to one or two values into a destination) and the many-operand sum.
#include <cstdint>

#include "engine/TagOper.h"

namespace zz {

class TagCalculate : public TagOper {
public:
    TagCalculate();
    TagCalculate(TagVar* dest, TagVar* destSub, TagVar* left, char op, TagVar* right);
    TagCalculate(TagVar* dest, TagVar* destSub, TagVar* operand, char op);
    TagCalculate(const TagCalculate& o) = default;
    TagCalculate& operator=(const TagCalculate& o) = default;

    // Always 0; the result is in dest (or its element at destSub).
    int32_t Run() override;

    char op = 0; // 0 = copy
    TagVar* left = nullptr;
    TagVar* right = nullptr; // null in a one-operand step
    TagVar* dest = nullptr;
    TagVar* destSub = nullptr;
};

class TagMulPlus : public TagOper {
public:
    static constexpr int32_t kMaxOperands = 40;
    TagMulPlus(TagVar* dest, TagVar* destSub, int32_t count, TagVar* const* operands);
    // 0, or -1 with fewer than 3 operands (nothing stored).
    int32_t Run() override;

    int32_t count = 0;
    TagVar* operands[kMaxOperands] = {};
    TagVar* dest = nullptr;
    TagVar* destSub = nullptr;
};

} // namespace zz
