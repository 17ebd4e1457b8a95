#include "engine/TagCalculate.h"

#include <algorithm>

#include "engine/NumText.h"
#include "engine/TagMapObject.h"

namespace zz {

namespace {

bool IsObj(const TagVar* v) {
    return v->type == TagVar::kObject;
}
bool IsDbl(const TagVar* v) {
    return v->type == TagVar::kDouble;
}
bool IsInt(const TagVar* v) {
    return v->type == TagVar::kInt;
}

// The destination slot: the variable, or its element at the subscript (created, and the variable turned into
// an object, when needed). Results are computed before the slot is taken, since taking it may change dest.
TagVar& Slot(TagVar* dest, TagVar* destSub) {
    return destSub ? (*dest)[*destSub] : *dest;
}

// Numbers go in through the typed setters; a slot holding an object is assigned whole instead, so the
// reference it held is released rather than lost.
void PutInt(TagVar& d, int32_t v) {
    if (d.type == TagVar::kObject) {
        TagVar t;
        t.SetInt(v);
        d = std::move(t);
    } else {
        d = v;
    }
}

void PutDouble(TagVar& d, double v) {
    if (d.type == TagVar::kObject) {
        TagVar t;
        t.SetFloat(v);
        d = std::move(t);
    } else {
        d = v;
    }
}

// "ab" * 3: n copies of the string's bytes; a count that is negative gives the empty string. A result longer
// than a value can count leaves the destination unchanged.
bool Repeat(const TagVar& s, int32_t n, TagVar& out) {
    size_t len = StrBytes(s);
    size_t times = n < 0 ? 0 : static_cast<size_t>(n);
    if (len == 0 || times == 0) {
        out.SetStrN("", 0);
        return true;
    }
    if (times > static_cast<size_t>(TagVar::kMaxStrLen) / len) return false;
    std::string r;
    r.reserve(len * times);
    for (size_t i = 0; i < times; ++i)
        r.append(s.Str(), len);
    out.SetStrN(r.data(), static_cast<int32_t>(r.size()));
    return true;
}

} // namespace

TagCalculate::TagCalculate() {
    kind = '=';
}

TagCalculate::TagCalculate(TagVar* d, TagVar* ds, TagVar* l, char o, TagVar* r)
    : op(o), left(l), right(r), dest(d), destSub(ds) {
    kind = '=';
}

TagCalculate::TagCalculate(TagVar* d, TagVar* ds, TagVar* operand, char o)
    : op(o), left(operand), dest(d), destSub(ds) {
    kind = '=';
}

int32_t TagCalculate::Run() {
    if (!dest || !left) return 0;
    const TagVar* l = left;
    const TagVar* r = right;
    // One-operand steps: copy and the prefix operators.
    if (!r) {
        switch (op) {
        case 0:
            if (destSub) {
                TagVar v(*l); // dest may turn into an object when its slot is taken
                Slot(dest, destSub) = v;
            } else {
                *dest = *l;
            }
            break;
        case '-':
            if (IsDbl(l))
                PutDouble(Slot(dest, destSub), -l->DblVal());
            else
                PutInt(Slot(dest, destSub), WrapNeg(l->GetInt()));
            break;
        case '!':
            PutInt(Slot(dest, destSub), l->GetInt() == 0);
            break;
        case '~':
            PutInt(Slot(dest, destSub), ~l->GetInt());
            break;
        default:
            break;
        }
        return 0;
    }
    switch (op) {
    case '+':
        if (!destSub && dest != l && dest != r) {
            TagVar::Add(*dest, *l, *r);
        } else {
            TagVar v = *l + *r;
            Slot(dest, destSub) = std::move(v);
        }
        break;
    case '-':
        if (IsObj(l) && IsObj(r)) {
            TagVar v = *l - *r;
            Slot(dest, destSub) = std::move(v);
        } else if (IsDbl(l) || IsDbl(r)) {
            PutDouble(Slot(dest, destSub), l->GetFloat() - r->GetFloat());
        } else {
            // Integers, and any other pairing by its numeric value.
            PutInt(Slot(dest, destSub), WrapSub(l->GetInt(), r->GetInt()));
        }
        break;
    case '*':
        if (l->type == TagVar::kString && IsInt(r)) {
            TagVar v;
            if (Repeat(*l, r->intVal, v)) Slot(dest, destSub) = std::move(v);
        } else if (IsDbl(l) || IsDbl(r)) {
            PutDouble(Slot(dest, destSub), l->GetFloat() * r->GetFloat());
        } else if (IsInt(l) || IsInt(r)) {
            PutInt(Slot(dest, destSub), WrapMul(l->GetInt(), r->GetInt()));
        } else if (IsObj(l) && IsObj(r)) {
            TagVar v = *l * *r;
            Slot(dest, destSub) = std::move(v);
        }
        break;
    case '/':
        if (IsDbl(l) || IsDbl(r)) {
            double d = r->GetFloat();
            if (d > 0.001 || d < -0.001) PutDouble(Slot(dest, destSub), l->GetFloat() / d);
        } else if (IsInt(l) || IsInt(r)) {
            int32_t d = r->GetInt();
            if (d != 0) PutInt(Slot(dest, destSub), WrapDiv(l->GetInt(), d));
        }
        break;
    case '%': {
        int32_t d = r->GetInt();
        if (d != 0) PutInt(Slot(dest, destSub), WrapRem(l->GetInt(), d));
        break;
    }
    case '=':
        PutInt(Slot(dest, destSub), TagVar::IsEqual(*l, *r));
        break;
    case '#':
        PutInt(Slot(dest, destSub), 1 - TagVar::IsEqual(*l, *r));
        break;
    case '>':
        PutInt(Slot(dest, destSub), TagVar::IsGreater(*l, *r));
        break;
    case '<':
        PutInt(Slot(dest, destSub), TagVar::IsLess(*l, *r));
        break;
    case 'g':
        PutInt(Slot(dest, destSub), TagVar::IsGreater(*l, *r) || TagVar::IsEqual(*l, *r));
        break;
    case 'l':
        PutInt(Slot(dest, destSub), TagVar::IsLess(*l, *r) || TagVar::IsEqual(*l, *r));
        break;
    case 'a':
        PutInt(Slot(dest, destSub), l->GetInt() != 0 && r->GetInt() != 0);
        break;
    case 'o':
        PutInt(Slot(dest, destSub), l->GetInt() != 0 || r->GetInt() != 0);
        break;
    case '~':
        PutInt(Slot(dest, destSub), ~l->GetInt());
        break;
    case '!':
        PutInt(Slot(dest, destSub), l->GetInt() == 0);
        break;
    case '&':
        PutInt(Slot(dest, destSub), l->GetInt() & r->GetInt());
        break;
    case '|':
        PutInt(Slot(dest, destSub), l->GetInt() | r->GetInt());
        break;
    case '^':
        PutInt(Slot(dest, destSub), l->GetInt() ^ r->GetInt());
        break;
    case 'L':
        PutInt(Slot(dest, destSub), ShiftLeft(l->GetInt(), r->GetInt()));
        break;
    case 'R':
        if (IsObj(l)) {
            if (TagMapItem* o = l->Object()) o->Remove(*r);
            if (dest != l || destSub) Slot(dest, destSub) = TagVar(*l);
        } else {
            PutInt(Slot(dest, destSub), ShiftRight(l->GetInt(), r->GetInt()));
        }
        break;
    case '[': {
        const TagVar& e = l->Find(*r);
        if (destSub) {
            TagVar v(e);
            Slot(dest, destSub) = v;
        } else {
            *dest = e;
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

TagMulPlus::TagMulPlus(TagVar* d, TagVar* ds, int32_t n, TagVar* const* ops) : dest(d), destSub(ds) {
    kind = '=';
    count = std::clamp(n, 0, kMaxOperands);
    for (int32_t i = 0; i < count; ++i)
        operands[i] = ops ? ops[i] : nullptr;
}

int32_t TagMulPlus::Run() {
    if (count < 3 || !dest) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (!operands[i]) return -1;
    TagVar acc = *operands[0] + *operands[1];
    for (int32_t i = 2; i < count; ++i)
        acc = acc + *operands[i];
    Slot(dest, destSub) = acc;
    // acc took its value by assignment, so an object it holds is counted once for acc: give that back.
    if (TagMapItem* o = acc.Object()) g_mapObjects.Release(o);
    return 0;
}

} // namespace zz
