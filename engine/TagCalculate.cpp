#include "engine/TagCalculate.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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

// Numbers go in through the typed setters; a slot holding an object is assigned whole instead, so the
// reference it held is released rather than lost.
void PutDouble(TagVar& d, double v) {
    if (d.type == TagVar::kObject) {
        TagVar t;
        t.SetFloat(v);
        d = std::move(t);
    } else {
        d = v;
    }
}

// "ab" * 3: n copies of the string's bytes, built once in the slot's own buffer; a count that is negative gives
// the empty string. A result longer than a value can count leaves the destination unchanged.
void Repeat(const TagVar& s, int32_t n, TagVar& slot) {
    const size_t len = StrBytes(s);
    const size_t times = n < 0 ? 0 : static_cast<size_t>(n);
    if (len && times > static_cast<size_t>(TagVar::kMaxStrLen) / len) return;
    const size_t total = len * times;
    if (slot.type == TagVar::kObject) { // an object the slot held is released by assignment
        TagVar t;
        Repeat(s, n, t);
        slot = std::move(t);
        return;
    }
    // The pattern is kept aside when the slot is the string itself (its buffer is rebuilt).
    std::string own;
    std::string_view pattern(s.Str(), len);
    if (&slot == &s) pattern = own.assign(pattern);
    char* p = slot.PrepareStr(total);
    if (!p || total == 0) return;
    std::memcpy(p, pattern.data(), len);
    for (size_t done = len; done < total;) {
        size_t chunk = std::min(done, total - done);
        std::memcpy(p + done, p, chunk);
        done += chunk;
    }
}

// The text a value joins a string with in a sum (see TagVar::AppendValue); numbers are written into buf at its
// end, and the view is given as an offset into buf for them.
struct Piece {
    const char* bytes; // null: the text lies in the number buffer at offset
    size_t offset;
    size_t len;
};

Piece PieceOf(const TagVar& v, std::string& numbers) {
    switch (v.type) {
    case TagVar::kString:
        return {v.Str(), 0, StrBytes(v)};
    case TagVar::kInt: {
        size_t at = numbers.size();
        AppendInt(numbers, v.intVal);
        return {nullptr, at, numbers.size() - at};
    }
    case TagVar::kDouble: {
        size_t at = numbers.size();
        AppendCutDouble(numbers, v.DblVal());
        return {nullptr, at, numbers.size() - at};
    }
    default:
        return {nullptr, 0, 0};
    }
}

thread_local std::string t_numbers;

} // namespace

TagVar& CalcStep::SubSlot() const {
    // An element of a live object by an integer key: no detour through the value's subscript.
    if (TagMapItem* o = dest->Object())
        if (!o->dead && !dest->readOnly && destSub->type != TagVar::kString && destSub->type != TagVar::kDouble &&
            destSub->type != TagVar::kObject)
            return o->Item(*destSub);
    return (*dest)[*destSub];
}

void CalcStep::ExecGeneral() const {
    if (!dest || !left) return;
    const TagVar* l = left;
    const TagVar* r = right;
    // One-operand steps: copy and the prefix operators.
    if (!r) {
        switch (op) {
        case 0:
            if (destSub && l == dest) {
                TagVar v(*l); // dest turns into an object when its slot is taken
                Slot() = v;
            } else {
                Slot() = *l;
            }
            break;
        case '-':
            if (IsDbl(l))
                PutDouble(Slot(), -l->DblVal());
            else
                Slot().SetIntReleasing(WrapNeg(l->GetInt()));
            break;
        case '!':
            Slot().SetIntReleasing(l->GetInt() == 0);
            break;
        case '~':
            Slot().SetIntReleasing(~l->GetInt());
            break;
        default:
            break;
        }
        return;
    }
    switch (op) {
    case '+':
        if (!destSub && dest == l && dest != r && l->type == TagVar::kString) {
            dest->AppendValue(*r); // joined in place; too long a result leaves it as it was
        } else if (!destSub && dest != l && dest != r) {
            TagVar::Add(*dest, *l, *r);
        } else {
            TagVar v = *l + *r;
            Slot() = std::move(v);
        }
        break;
    case '-':
        if (IsObj(l) && IsObj(r)) {
            TagVar v = *l - *r;
            Slot() = std::move(v);
        } else if (IsDbl(l) || IsDbl(r)) {
            PutDouble(Slot(), l->GetFloat() - r->GetFloat());
        } else {
            // Integers, and any other pairing by its numeric value.
            Slot().SetIntReleasing(WrapSub(l->GetInt(), r->GetInt()));
        }
        break;
    case '*':
        if (l->type == TagVar::kString && IsInt(r)) {
            const int32_t n = r->intVal;
            if (destSub && l == dest) {
                TagVar pattern(*l); // dest turns into an object when its slot is taken
                Repeat(pattern, n, Slot());
            } else {
                Repeat(*l, n, Slot());
            }
        } else if (IsDbl(l) || IsDbl(r)) {
            PutDouble(Slot(), l->GetFloat() * r->GetFloat());
        } else if (IsInt(l) || IsInt(r)) {
            Slot().SetIntReleasing(WrapMul(l->GetInt(), r->GetInt()));
        } else if (IsObj(l) && IsObj(r)) {
            TagVar v = *l * *r;
            Slot() = std::move(v);
        }
        break;
    case '/':
        if (IsDbl(l) || IsDbl(r)) {
            double d = r->GetFloat();
            if (d > 0.001 || d < -0.001) PutDouble(Slot(), l->GetFloat() / d);
        } else if (IsInt(l) || IsInt(r)) {
            int32_t d = r->GetInt();
            if (d != 0) Slot().SetIntReleasing(WrapDiv(l->GetInt(), d));
        }
        break;
    case '%': {
        int32_t d = r->GetInt();
        if (d != 0) Slot().SetIntReleasing(WrapRem(l->GetInt(), d));
        break;
    }
    case '=':
        Slot().SetIntReleasing(TagVar::IsEqual(*l, *r));
        break;
    case '#':
        Slot().SetIntReleasing(1 - TagVar::IsEqual(*l, *r));
        break;
    case '>':
        Slot().SetIntReleasing(TagVar::IsGreater(*l, *r));
        break;
    case '<':
        Slot().SetIntReleasing(TagVar::IsLess(*l, *r));
        break;
    case 'g':
        Slot().SetIntReleasing(TagVar::IsGreater(*l, *r) || TagVar::IsEqual(*l, *r));
        break;
    case 'l':
        Slot().SetIntReleasing(TagVar::IsLess(*l, *r) || TagVar::IsEqual(*l, *r));
        break;
    case 'a':
        Slot().SetIntReleasing(l->GetInt() != 0 && r->GetInt() != 0);
        break;
    case 'o':
        Slot().SetIntReleasing(l->GetInt() != 0 || r->GetInt() != 0);
        break;
    case '~':
        Slot().SetIntReleasing(~l->GetInt());
        break;
    case '!':
        Slot().SetIntReleasing(l->GetInt() == 0);
        break;
    case '&':
        Slot().SetIntReleasing(l->GetInt() & r->GetInt());
        break;
    case '|':
        Slot().SetIntReleasing(l->GetInt() | r->GetInt());
        break;
    case '^':
        Slot().SetIntReleasing(l->GetInt() ^ r->GetInt());
        break;
    case 'L':
        Slot().SetIntReleasing(ShiftLeft(l->GetInt(), r->GetInt()));
        break;
    case 'R':
        if (TagMapItem* o = l->Object()) {
            o->Remove(*r);
            // Stored unless the target is the object's own variable, an element of it included (which would
            // make the object hold itself).
            if (dest != l) Slot() = TagVar(*l);
        } else {
            Slot().SetIntReleasing(ShiftRight(l->GetInt(), r->GetInt()));
        }
        break;
    case '[': {
        // The element, or the shared null value; never creates.
        TagMapItem* o = l->Object();
        TagVar* e = o && !o->dead ? o->Find(*r) : nullptr;
        const TagVar& v = e ? *e : g_nullVar;
        if (destSub) {
            TagVar copy(v); // taking the slot may change what v refers to
            Slot() = copy;
        } else {
            *dest = v;
        }
        break;
    }
    default:
        break;
    }
}

TagCalculate::TagCalculate() {
    kind = '=';
    pure = 1;
}

TagCalculate::TagCalculate(TagVar* d, TagVar* ds, TagVar* l, char o, TagVar* r) {
    kind = '=';
    pure = 1;
    op = o;
    left = l;
    right = r;
    dest = d;
    destSub = ds;
}

TagCalculate::TagCalculate(TagVar* d, TagVar* ds, TagVar* operand, char o) {
    kind = '=';
    pure = 1;
    op = o;
    left = operand;
    dest = d;
    destSub = ds;
}

TagMulPlus::TagMulPlus(TagVar* d, TagVar* ds, int32_t n, TagVar* const* ops) : dest(d), destSub(ds) {
    kind = '=';
    pure = 1;
    count = std::clamp(n, 0, kMaxOperands);
    for (int32_t i = 0; i < count; ++i)
        operands[i] = ops ? ops[i] : nullptr;
}

bool TagMulPlus::JoinInto() const {
    if (destSub || dest->type == TagVar::kObject || dest->readOnly) return false;
    for (int32_t i = 1; i < count; ++i)
        if (operands[i] == dest) return false;
    if (operands[0] == dest) {
        // s = s + a + b: appended in place.
        for (int32_t i = 1; i < count; ++i)
            dest->AppendValue(*operands[i]);
        return true;
    }
    // Every piece is measured first, so the line is written once into the destination's buffer. A piece that
    // would make it longer than a value holds is left out, as the sum leaves the string as it was then.
    Piece pieces[kMaxOperands];
    std::string& numbers = t_numbers;
    numbers.clear();
    size_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
        pieces[i] = PieceOf(*operands[i], numbers);
        if (pieces[i].len > static_cast<size_t>(TagVar::kMaxStrLen) - total)
            pieces[i].len = 0;
        else
            total += pieces[i].len;
    }
    char* p = dest->PrepareStr(total);
    if (!p) return true;
    for (int32_t i = 0; i < count; ++i) {
        const Piece& pc = pieces[i];
        if (!pc.len) continue;
        std::memcpy(p, pc.bytes ? pc.bytes : numbers.data() + pc.offset, pc.len);
        p += pc.len;
    }
    return true;
}

int32_t TagMulPlus::Run() {
    if (count < 3 || !dest) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (!operands[i]) return -1;
    if (operands[0]->type == TagVar::kString && JoinInto()) return 0;
    TagVar acc = *operands[0] + *operands[1];
    for (int32_t i = 2; i < count; ++i) {
        if (acc.type == TagVar::kString)
            acc.AppendValue(*operands[i]); // once a string, every further operand is joined as text
        else
            acc = acc + *operands[i];
    }
    if (destSub)
        (*dest)[*destSub] = std::move(acc);
    else
        *dest = std::move(acc);
    // acc took an object by assignment, so it is counted once for acc: that count is given back.
    if (TagMapItem* held = acc.Object()) g_mapObjects.Release(held);
    return 0;
}

} // namespace zz
