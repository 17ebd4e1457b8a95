#pragma once
// One calculation step (an operator applied to one or two values into a destination) and the many-operand sum.
#include <cstdint>

#include "engine/NumText.h"
#include "engine/TagMapObject.h"
#include "engine/TagOper.h"

namespace zz {

// A step as an expression holds it: operator, operands and destination, no statement around it.
struct CalcStep {
    char op = 0; // 0 = copy
    TagVar* left = nullptr;
    TagVar* right = nullptr; // null in a one-operand step
    TagVar* dest = nullptr;
    TagVar* destSub = nullptr;

    // Computes and stores the result (nothing when a rule leaves the destination unchanged).
    void Exec() const {
        if (right && left && dest && left->type == TagVar::kInt && right->type == TagVar::kInt) {
            int32_t v;
            int rc = IntOp(op, left->intVal, right->intVal, v);
            if (rc > 0) {
                Slot().SetIntReleasing(v);
                return;
            }
            if (rc == 0) return;
        } else if (op == '[' && right && left && dest && !destSub && left->type == TagVar::kObject) {
            // An element read by an integer key: the element, or the null value when there is none.
            TagMapItem* o = left->Object();
            const int32_t kt = right->type;
            if (!o->dead && kt != TagVar::kString && kt != TagVar::kDouble && kt != TagVar::kObject) {
                TagVar* e = o->FindInt(right->intVal);
                *dest = e ? *e : g_nullVar;
                return;
            }
        }
        ExecGeneral();
    }

    // The rule of two integer operands: 1 with the result, 0 for a result left unchanged (a zero divisor), -1 for
    // an operator without an integer rule.
    static int IntOp(char op, int32_t a, int32_t b, int32_t& v) {
        switch (op) {
        case '+':
            v = WrapAdd(a, b);
            return 1;
        case '-':
            v = WrapSub(a, b);
            return 1;
        case '*':
            v = WrapMul(a, b);
            return 1;
        case '/':
            if (b == 0) return 0;
            v = WrapDiv(a, b);
            return 1;
        case '%':
            if (b == 0) return 0;
            v = WrapRem(a, b);
            return 1;
        case '=':
            v = a == b;
            return 1;
        case '#':
            v = a != b;
            return 1;
        case '>':
            v = a > b;
            return 1;
        case '<':
            v = a < b;
            return 1;
        case 'g':
            v = a >= b;
            return 1;
        case 'l':
            v = a <= b;
            return 1;
        case 'a':
            v = a != 0 && b != 0;
            return 1;
        case 'o':
            v = a != 0 || b != 0;
            return 1;
        case '&':
            v = a & b;
            return 1;
        case '|':
            v = a | b;
            return 1;
        case '^':
            v = a ^ b;
            return 1;
        case 'L':
            v = ShiftLeft(a, b);
            return 1;
        case 'R':
            v = ShiftRight(a, b);
            return 1;
        default:
            return -1;
        }
    }

private:
    // The destination: the variable, or its element at the subscript (created, and the variable turned into an
    // object, when needed). Taken only after the result is computed, since taking it may change dest.
    TagVar& Slot() const { return destSub ? SubSlot() : *dest; }
    TagVar& SubSlot() const;
    void ExecGeneral() const;
};

class TagCalculate final : public TagOper, public CalcStep {
public:
    TagCalculate();
    TagCalculate(TagVar* dest, TagVar* destSub, TagVar* left, char op, TagVar* right);
    TagCalculate(TagVar* dest, TagVar* destSub, TagVar* operand, char op);
    TagCalculate(const TagCalculate& o) = default;
    TagCalculate& operator=(const TagCalculate& o) = default;

    // Always 0; the result is in dest (or its element at destSub).
    int32_t Run() override {
        Exec();
        return 0;
    }
};

class TagMulPlus final : public TagOper {
public:
    static constexpr int32_t kMaxOperands = 40;
    TagMulPlus(TagVar* dest, TagVar* destSub, int32_t count, TagVar* const* operands);
    // 0, or -1 with fewer than 3 operands (nothing stored).
    int32_t Run() override;

    int32_t count = 0;
    TagVar* operands[kMaxOperands] = {};
    TagVar* dest = nullptr;
    TagVar* destSub = nullptr;

private:
    // A chain that starts with a string, joined straight into the destination; false when the destination is
    // one of the operands or an object (the general rule then applies).
    bool JoinInto() const;
};

} // namespace zz
