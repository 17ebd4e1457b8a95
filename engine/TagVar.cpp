#include "engine/TagVar.h"

#include <cstring>

#include "engine/NumText.h"
#include "engine/TagMapObject.h"
#include "engine/TagTelBasic.h"

namespace zz {

TagVar::TagVar() = default;

TagVar::TagVar(uint8_t ro) : readOnly(ro) {}

TagVar::TagVar(const TagVar& src)
    : name(src.name), note(src.note), readOnly(src.readOnly), intVal(src.intVal), dblVal(src.dblVal), objId(src.objId),
      funcUnit(src.funcUnit), type(src.type) {
    if (src.type == kString) strVal = src.strVal;
}

TagVar::TagVar(TagVar&& src) noexcept
    : name(std::move(src.name)), note(std::move(src.note)), readOnly(src.readOnly), intVal(src.intVal),
      dblVal(src.dblVal), objId(src.objId), funcUnit(src.funcUnit), type(src.type) {
    if (src.type == kString) strVal = std::move(src.strVal);
}

TagVar::~TagVar() = default;

void TagVar::CopyValue(const TagVar& src, bool steal) {
    type = src.type;
    if (src.type == kString) {
        if (steal)
            strVal = std::move(const_cast<TagVar&>(src).strVal);
        else
            strVal = src.strVal;
        intVal = src.intVal;
        return;
    }
    intVal = src.intVal;
    dblVal = src.dblVal;
    objId = src.objId;
    funcUnit = src.funcUnit;
}

// The source is read, and its object counted, before the target lets go of its own object: the source may live
// inside that object (head = head["next"]).
void TagVar::AssignFrom(const TagVar& src, bool steal) {
    if (this == &src || readOnly) return;
    const bool oldObj = type == kObject;
    const int32_t oldId = objId;
    const bool srcObj = src.type == kObject;
    const bool same = oldObj && srcObj && oldId == src.objId;
    if (srcObj && !same) g_mapObjects.AddRef(src.objId);
    CopyValue(src, steal);
    if (oldObj && !same) g_mapObjects.Release(oldId);
}

TagVar& TagVar::operator=(const TagVar& src) {
    AssignFrom(src, false);
    return *this;
}

TagVar& TagVar::operator=(TagVar&& src) {
    AssignFrom(src, true);
    return *this;
}

void TagVar::InitInt(const char* n, const char* nt, int32_t v, uint8_t ro) {
    if (this == &g_nullVar) // the shared null value never changes
        return;
    name = n ? n : "";
    note = nt ? nt : "";
    readOnly = ro;
    type = kInt;
    intVal = v;
    dblVal = 0;
    funcUnit = nullptr;
}

void TagVar::InitFloat(const char* n, const char* nt, double v, uint8_t ro) {
    if (this == &g_nullVar) // the shared null value never changes
        return;
    name = n ? n : "";
    note = nt ? nt : "";
    readOnly = ro;
    type = kDouble;
    dblVal = v;
    intVal = 0;
    funcUnit = nullptr;
}

void TagVar::InitStr(const char* n, const char* nt, const char* s, uint8_t ro) {
    if (this == &g_nullVar) // the shared null value never changes
        return;
    name = n ? n : "";
    note = nt ? nt : "";
    readOnly = ro;
    type = kString;
    strVal = s ? s : "";
    intVal = static_cast<int32_t>(strVal.size()) + 1;
    dblVal = 0;
    funcUnit = nullptr;
}

void TagVar::InitFunc(const char* n, const char* nt, TagTelBasic* unit, uint8_t ro) {
    if (this == &g_nullVar) // the shared null value never changes
        return;
    name = n ? n : "";
    note = nt ? nt : "";
    readOnly = ro;
    type = kFunction;
    funcUnit = unit;
    intVal = 0;
    dblVal = 0;
}

int32_t TagVar::SetInt(int32_t v) {
    if (readOnly) return 0;
    type = kInt;
    intVal = v;
    return v;
}

double TagVar::SetFloat(double v) {
    if (readOnly) return 0;
    type = kDouble;
    dblVal = v;
    return v;
}

const char* TagVar::SetStr(const char* s) {
    if (readOnly) return nullptr;
    size_t n = s ? std::strlen(s) : 0;
    return SetStrN(s, n > static_cast<size_t>(kMaxStrLen) ? kMaxStrLen : static_cast<int32_t>(n));
}

const char* TagVar::SetStrN(const char* bytes, int32_t n) {
    if (readOnly) return nullptr;
    if (n < 0 || !bytes) n = 0;
    type = kString;
    strVal.assign(bytes ? bytes : "", static_cast<size_t>(n));
    intVal = n + 1;
    return strVal.c_str();
}

int32_t TagVar::GetInt() const {
    switch (type) {
    case kString:
        return TextToInt(strVal.c_str());
    case kDouble:
        return DoubleToInt(dblVal);
    case kObject:
        return objId;
    default:
        return intVal;
    }
}

double TagVar::GetFloat() const {
    switch (type) {
    case kString:
        return TextToDouble(strVal.c_str());
    case kInt:
        return intVal;
    case kObject:
        return objId;
    default:
        return dblVal;
    }
}

void TagVar::AppendText(std::string& out, uint8_t quote) const {
    switch (type) {
    case kString:
        if (quote) out += '"';
        out += strVal.c_str();
        if (quote) out += '"';
        break;
    case kInt:
        AppendInt(out, intVal);
        break;
    case kDouble:
        AppendCutDouble(out, dblVal);
        break;
    case kObject: {
        std::string d;
        g_mapObjects.Dump(objId, d);
        out += d;
        break;
    }
    case kFunction:
        out += "function ";
        if (funcUnit) out += funcUnit->unitName;
        break;
    default:
        out += "NULL";
    }
}

void TagVar::ToString(std::string& out, uint8_t quote) const {
    out.clear();
    AppendText(out, quote);
}

int32_t TagVar::Len() const {
    if (type == kString) return intVal < 1 ? 0 : intVal - 1;
    if (type == kObject) return g_mapObjects.Count(objId);
    return 4;
}

const char* TagVar::TypeName(int32_t t) {
    switch (t) {
    case kEmpty:
        return "空";
    case kString:
        return "字符串";
    case kInt:
        return "整型";
    case kDouble:
        return "浮点型";
    case kObject:
        return "字典(数组)型";
    case kFunction:
        return "函数型";
    default:
        return "未知类型";
    }
}

int32_t TagVar::IsEqual(const TagVar& a, const TagVar& b) {
    if (a.type == kEmpty && b.type == kEmpty) return 1;
    if (a.type != b.type && (a.type == kEmpty || b.type == kEmpty || a.type == kFunction || b.type == kFunction))
        return 0;
    if (a.type == kDouble || b.type == kDouble) return a.GetFloat() == b.GetFloat();
    if (a.type == kInt || b.type == kInt) return a.GetInt() == b.GetInt();
    if (a.type != b.type) return 0;
    if (a.type == kObject) return a.objId == b.objId;
    if (a.type == kString) return std::strcmp(a.strVal.c_str(), b.strVal.c_str()) == 0;
    return a.funcUnit == b.funcUnit;
}

// Shared order of > and <: -1, 0, 1, or 2 when the pair has no order.
static int Order(const TagVar& a, const TagVar& b) {
    if (a.type == TagVar::kDouble || b.type == TagVar::kDouble) {
        double x = a.GetFloat(), y = b.GetFloat();
        return x > y ? 1 : x < y ? -1 : 0;
    }
    if (a.type == TagVar::kInt || b.type == TagVar::kInt) {
        int32_t x = a.GetInt(), y = b.GetInt();
        return x > y ? 1 : x < y ? -1 : 0;
    }
    if (a.type == TagVar::kObject && b.type == TagVar::kObject) {
        int32_t x = a.Len(), y = b.Len();
        return x > y ? 1 : x < y ? -1 : 0;
    }
    if (a.type == TagVar::kString && b.type == TagVar::kString) {
        int c = std::strcmp(a.strVal.c_str(), b.strVal.c_str());
        return c > 0 ? 1 : c < 0 ? -1 : 0;
    }
    return 2;
}

int32_t TagVar::IsGreater(const TagVar& a, const TagVar& b) {
    return Order(a, b) == 1;
}
int32_t TagVar::IsLess(const TagVar& a, const TagVar& b) {
    return Order(a, b) == -1;
}

size_t StrBytes(const TagVar& v) {
    size_t n = v.intVal < 1 ? 0 : static_cast<size_t>(v.intVal) - 1;
    return n < v.strVal.size() ? n : v.strVal.size();
}

// a + b by the rules of the language; a value whose sum has no rule comes back empty.
static TagVar Sum(const TagVar& a, const TagVar& b) {
    TagVar r;
    if (a.type == TagVar::kString) {
        std::string s(a.strVal.data(), StrBytes(a));
        if (b.type == TagVar::kString)
            s.append(b.strVal.data(), StrBytes(b));
        else if (b.type == TagVar::kInt)
            AppendInt(s, b.intVal);
        else if (b.type == TagVar::kDouble)
            AppendCutDouble(s, b.dblVal);
        // Past the longest string a value can count, the left string stays as it was.
        if (s.size() > static_cast<size_t>(TagVar::kMaxStrLen)) s.resize(StrBytes(a));
        r.type = TagVar::kString;
        r.intVal = static_cast<int32_t>(s.size()) + 1;
        r.strVal = std::move(s);
        return r;
    }
    if (a.type == TagVar::kObject && b.type == TagVar::kObject) {
        r.type = TagVar::kObject;
        r.objId = g_mapObjects.Merge(a.objId, b.objId);
        return r;
    }
    if (a.type == TagVar::kDouble || b.type == TagVar::kDouble)
        r.SetFloat(a.GetFloat() + b.GetFloat());
    else if (a.type == TagVar::kInt || b.type == TagVar::kInt)
        r.SetInt(WrapAdd(a.GetInt(), b.GetInt()));
    return r;
}

TagVar operator+(const TagVar& a, const TagVar& b) {
    return Sum(a, b);
}

int32_t TagVar::Add(TagVar& target, const TagVar& a, const TagVar& b) {
    if (target.readOnly) return -1;
    // Stored as an assignment, so a merged object is counted and an object the target held is released.
    target = Sum(a, b);
    return target.intVal;
}

static bool IsNumber(const TagVar& v) {
    return v.type == TagVar::kInt || v.type == TagVar::kDouble;
}

TagVar operator-(const TagVar& a, const TagVar& b) {
    TagVar r;
    if (IsNumber(a) && IsNumber(b)) {
        if (a.type == TagVar::kDouble || b.type == TagVar::kDouble)
            r.SetFloat(a.GetFloat() - b.GetFloat());
        else
            r.SetInt(WrapSub(a.intVal, b.intVal));
        return r;
    }
    if (a.type == TagVar::kObject && b.type == TagVar::kObject) {
        r.type = TagVar::kObject;
        r.objId = g_mapObjects.Subtract(a.objId, b.objId);
        return r;
    }
    return TagVar(a); // a copy, not an assignment: the result holds no counted reference yet
}

TagVar operator*(const TagVar& a, const TagVar& b) {
    TagVar r;
    if (IsNumber(a) && IsNumber(b)) {
        if (a.type == TagVar::kDouble || b.type == TagVar::kDouble)
            r.SetFloat(a.GetFloat() * b.GetFloat());
        else
            r.SetInt(WrapMul(a.intVal, b.intVal));
        return r;
    }
    if (a.type == TagVar::kObject && b.type == TagVar::kObject) {
        r.type = TagVar::kObject;
        r.objId = g_mapObjects.Intersect(a.objId, b.objId);
        return r;
    }
    return TagVar(a); // a copy, not an assignment: the result holds no counted reference yet
}

TagVar& TagVar::Find(const TagVar& key) const {
    if (type != kObject) return g_nullVar;
    TagVar* e = g_mapObjects.FindItem(objId, key);
    return e ? *e : g_nullVar;
}

TagVar& TagVar::operator[](const TagVar& key) {
    if (readOnly) return g_nullVar;
    if (type != kObject) {
        type = kObject;
        objId = g_mapObjects.NewObject();
        g_mapObjects.AddRef(objId);
    }
    return g_mapObjects.Item(objId, key);
}

int32_t TagVar::GetItemAt(int32_t index, TagVar& key, TagVar& value) const {
    if (type != kObject) return -1;
    return g_mapObjects.GetItemAt(objId, index, key, value);
}

int32_t TagVar::GetKeys(std::vector<TagKeyEntry>& list) const {
    if (type != kObject) {
        list.clear();
        return 0;
    }
    return g_mapObjects.ListItems(objId, list);
}

} // namespace zz
