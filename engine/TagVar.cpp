#include "engine/TagVar.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/NumText.h"
#include "engine/TagMapObject.h"
#include "engine/TagTelBasic.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

TagText* AllocText(size_t cap) {
    auto* t = static_cast<TagText*>(std::malloc(offsetof(TagText, data) + cap + 1));
    if (!t) throw std::bad_alloc();
    t->cap = static_cast<uint32_t>(cap);
    t->len = 0;
    t->data[0] = 0;
    return t;
}

// A buffer much larger than what it is to hold goes, so that one long text does not stay with a variable for good.
bool Fits(const TagText* t, size_t n) {
    return t && t->cap >= n && t->cap <= 2 * n + 256;
}

// "name NUL note NUL", or null when both are empty.
char* MakeMeta(const char* name, const char* note) {
    size_t a = name ? std::strlen(name) : 0, b = note ? std::strlen(note) : 0;
    if (a == 0 && b == 0) return nullptr;
    char* m = static_cast<char*>(std::malloc(a + b + 2));
    if (!m) throw std::bad_alloc();
    if (a) std::memcpy(m, name, a);
    m[a] = 0;
    if (b) std::memcpy(m + a + 1, note, b);
    m[a + 1 + b] = 0;
    return m;
}

char* CopyMeta(const char* meta) {
    if (!meta) return nullptr;
    size_t a = std::strlen(meta);
    size_t b = std::strlen(meta + a + 1);
    char* m = static_cast<char*>(std::malloc(a + b + 2));
    if (!m) throw std::bad_alloc();
    std::memcpy(m, meta, a + b + 2);
    return m;
}

// The text b joins a string with in a sum: a string's bytes, an integer's "%d", a double's cut "%f"; other types
// add nothing. buf holds the number forms.
std::string_view JoinText(const TagVar& b, std::string& buf) {
    switch (b.type) {
    case TagVar::kString:
        return std::string_view(b.Str(), StrBytes(b));
    case TagVar::kInt:
        buf.clear();
        AppendInt(buf, b.intVal);
        return buf;
    case TagVar::kDouble:
        buf.clear();
        AppendCutDouble(buf, b.DblVal());
        return buf;
    default:
        return {};
    }
}

thread_local std::string t_numText;

} // namespace

thread_local uint64_t t_objectsTaken __attribute__((tls_model("initial-exec"))) = 0;

TagVar::TagVar(const TagVar& src) : intVal(src.intVal), type(src.type), readOnly(src.readOnly), dbl_(0) {
    switch (src.type) {
    case kString:
        SetTextBytes(src.Str(), StrBytes(src));
        break;
    case kObject:
        obj_ = src.obj_;
        TagMapObject::PinItem(obj_);
        break;
    case kFunction:
        func_ = src.func_;
        break;
    case kDouble:
        dbl_ = src.dbl_;
        break;
    default:
        break;
    }
}

// The name record stays with the source.
TagVar::TagVar(TagVar&& src) noexcept
    : intVal(src.intVal), type(src.type), readOnly(src.readOnly), text_(src.text_), dbl_(src.dbl_) {
    src.text_ = nullptr;
    src.dbl_ = 0;
    src.type = kEmpty;
    src.intVal = 0;
}

void TagVar::Destroy() {
    if (type == kObject) TagMapObject::Unpin(obj_);
    std::free(text_);
}

TagNamedVar::TagNamedVar(const TagNamedVar& src) : TagVar(src) {
    named_ = 1;
    staticMeta_ = src.staticMeta_;
    meta_ = src.staticMeta_ ? src.meta_ : CopyMeta(src.meta_);
}

void TagNamedVar::FreeMeta() {
    if (!staticMeta_) std::free(meta_);
    meta_ = nullptr;
    staticMeta_ = 0;
}

void TagVar::Reset() {
    if (type == kObject) TagMapObject::Unpin(obj_);
    std::free(text_);
    text_ = nullptr;
    dbl_ = 0;
    intVal = 0;
    type = kEmpty;
    readOnly = 0;
}

void TagVar::DropObject() {
    TagMapObject::Unpin(obj_);
    dbl_ = 0;
}

void TagVar::HoldObject(TagMapItem* pinned) {
    ++t_objectsTaken;
    if (type == kObject) TagMapObject::Unpin(obj_);
    type = kObject;
    obj_ = pinned;
}

void TagVar::SetTextBytes(const char* bytes, size_t n) {
    if (Fits(text_, n)) {
        if (n) std::memmove(text_->data, bytes, n);
    } else {
        TagText* t = AllocText(n);
        if (n) std::memcpy(t->data, bytes, n);
        std::free(text_); // after the copy: the bytes may have been this value's own
        text_ = t;
    }
    text_->len = static_cast<uint32_t>(n);
    text_->data[n] = 0;
}

// The target keeps its own text unless the source is a string; an object the target held stays pinned here until
// the caller has released it.
void TagVar::CopyValue(const TagVar& src, bool steal) {
    if (src.type == kString) {
        if (steal) {
            std::swap(text_, const_cast<TagVar&>(src).text_);
        } else {
            SetTextBytes(src.Str(), StrBytes(src));
        }
        type = kString;
        intVal = src.intVal;
        dbl_ = 0;
        return;
    }
    type = src.type;
    intVal = src.intVal;
    if (src.type == kObject) {
        ++t_objectsTaken;
        obj_ = src.obj_;
        TagMapObject::PinItem(obj_);
    } else if (src.type == kFunction) {
        func_ = src.func_;
    } else {
        dbl_ = src.type == kDouble ? src.dbl_ : 0;
    }
}

// The source is read, and its object counted, before the target lets go of its own object: the source may live
// inside that object (head = head["next"]).
void TagVar::AssignFrom(const TagVar& src, bool steal) {
    if (this == &src || readOnly) return;
    TagMapItem* old = type == kObject ? obj_ : nullptr;
    TagMapItem* from = src.type == kObject ? src.obj_ : nullptr;
    const bool same = old && old == from;
    if (from && !same) g_mapObjects.AddRef(from);
    CopyValue(src, steal);
    if (old) {
        if (!same) g_mapObjects.Release(old);
        TagMapObject::Unpin(old);
    }
}

TagVar& TagVar::operator=(TagVar&& src) {
    AssignFrom(src, true);
    return *this;
}

// A function value runs its program's code on that program's line: carried to another line it could run there
// beside its own line, or after its program was reloaded and freed. So it crosses as null, and the run log says so.
void TagVar::AssignDetached(const TagVar& src) {
    int32_t dropped = 0;
    if (src.type == kFunction) {
        *this = TagVar();
        dropped = 1;
    } else if (src.type != kObject) {
        *this = src;
    } else {
        TagVar copy;
        copy.intVal = src.intVal;
        copy.HoldObject(g_mapObjects.DeepCopy(src.obj_, dropped));
        *this = copy;
    }
    if (dropped)
        WriteRunLogF("%d function value(s) kept by the lines' shared services (shared memory, messages, ACD) "
                     "are stored as null: a function cannot leave its line",
                     int(dropped));
}

void TagNamedVar::SetNames(const char* name, const char* note) {
    char* m = MakeMeta(name, note);
    FreeMeta();
    meta_ = m;
}

void TagNamedVar::SetStaticNames(const char* nameAndNote) {
    FreeMeta();
    meta_ = const_cast<char*>(nameAndNote);
    staticMeta_ = 1;
}

std::string_view TagVar::Note() const {
    const char* m = named_ ? static_cast<const TagNamedVar*>(this)->meta_ : nullptr;
    if (!m) return std::string_view("", 0);
    return std::string_view(m + std::strlen(m) + 1);
}

void TagNamedVar::InitInt(const char* n, const char* nt, int32_t v, uint8_t ro) {
    SetNames(n, nt);
    readOnly = ro;
    if (type == kObject) DropObject();
    type = kInt;
    intVal = v;
    dbl_ = 0;
}

void TagNamedVar::InitFloat(const char* n, const char* nt, double v, uint8_t ro) {
    SetNames(n, nt);
    readOnly = ro;
    if (type == kObject) DropObject();
    type = kDouble;
    dbl_ = v;
    intVal = 0;
}

void TagNamedVar::InitStr(const char* n, const char* nt, const char* s, uint8_t ro) {
    SetNames(n, nt);
    readOnly = ro;
    if (type == kObject) DropObject();
    size_t len = s ? std::strlen(s) : 0;
    if (len > static_cast<size_t>(kMaxStrLen)) len = kMaxStrLen;
    SetTextBytes(s ? s : "", len);
    type = kString;
    intVal = static_cast<int32_t>(len) + 1;
    dbl_ = 0;
}

void TagNamedVar::InitFunc(const char* n, const char* nt, TagTelBasic* unit, uint8_t ro) {
    SetNames(n, nt);
    readOnly = ro;
    if (type == kObject) DropObject();
    type = kFunction;
    func_ = unit;
    intVal = 0;
}

const char* TagVar::SetStr(const char* s) {
    if (readOnly) return nullptr;
    size_t n = s ? std::strlen(s) : 0;
    return SetStrN(s, n > static_cast<size_t>(kMaxStrLen) ? kMaxStrLen : static_cast<int32_t>(n));
}

const char* TagVar::SetStrN(const char* bytes, int32_t n) {
    if (readOnly) return nullptr;
    if (n < 0 || !bytes) n = 0;
    if (type == kObject) DropObject();
    SetTextBytes(bytes ? bytes : "", static_cast<size_t>(n));
    type = kString;
    intVal = n + 1;
    return text_->data;
}

char* TagVar::PrepareStr(size_t n) {
    if (readOnly || n > static_cast<size_t>(kMaxStrLen)) return nullptr;
    if (type == kObject) DropObject();
    if (!Fits(text_, n)) {
        std::free(text_);
        text_ = nullptr;
        text_ = AllocText(n);
    }
    text_->len = static_cast<uint32_t>(n);
    text_->data[n] = 0;
    type = kString;
    intVal = static_cast<int32_t>(n) + 1;
    return text_->data;
}

bool TagVar::AppendStr(const char* bytes, size_t n) {
    if (readOnly || type != kString) return false;
    const size_t len = StrBytes(*this);
    if (n > static_cast<size_t>(kMaxStrLen) - len) return false;
    const size_t total = len + n;
    if (text_->cap < total) {
        // Doubling keeps a string built piece by piece linear; the bytes may be this value's own.
        const bool own = bytes >= text_->data && bytes < text_->data + text_->cap + 1;
        const size_t at = own ? static_cast<size_t>(bytes - text_->data) : 0;
        size_t cap = std::max<size_t>(
            total, std::min<size_t>(static_cast<size_t>(text_->cap) * 2 + 16, static_cast<size_t>(kMaxStrLen)));
        auto* t = static_cast<TagText*>(std::realloc(text_, offsetof(TagText, data) + cap + 1));
        if (!t) throw std::bad_alloc();
        t->cap = static_cast<uint32_t>(cap);
        text_ = t;
        if (own) bytes = text_->data + at;
    }
    if (n) std::memmove(text_->data + len, bytes, n);
    text_->len = static_cast<uint32_t>(total);
    text_->data[total] = 0;
    intVal = static_cast<int32_t>(total) + 1;
    return true;
}

bool TagVar::AppendValue(const TagVar& b) {
    std::string_view t = JoinText(b, t_numText);
    return AppendStr(t.data(), t.size());
}

void TagVar::SetIntAssigned(int32_t v) {
    TagVar n;
    n.SetInt(v);
    *this = n;
}

int32_t TagVar::TextInt() const {
    return TextToInt(Str());
}

int32_t TagVar::DoubleInt() const {
    return DoubleToInt(dbl_);
}

int32_t TagVar::ObjId() const {
    return type == kObject ? obj_->id : 0;
}

void TagVar::SetObjectId(int32_t id) {
    if (readOnly) return;
    TagMapItem* item = g_mapObjects.Pin(id);
    HoldObject(item ? item : TagMapObject::DeadItem(id));
}

double TagVar::GetFloat() const {
    switch (type) {
    case kString:
        return TextToDouble(Str());
    case kInt:
        return intVal;
    case kDouble:
        return dbl_;
    case kObject:
        return obj_->id;
    default:
        return 0;
    }
}

void TagVar::AppendText(std::string& out, uint8_t quote) const {
    switch (type) {
    case kString:
        if (quote) out += '"';
        out += Str();
        if (quote) out += '"';
        break;
    case kInt:
        AppendInt(out, intVal);
        break;
    case kDouble:
        AppendCutDouble(out, dbl_);
        break;
    case kObject: {
        std::string d;
        g_mapObjects.Dump(obj_, d);
        out += d;
        break;
    }
    case kFunction:
        out += "function ";
        if (func_) out += func_->unitName;
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
    if (type == kObject) return obj_->dead ? -1 : static_cast<int32_t>(obj_->Size());
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
    if (a.type == kObject) return a.ObjId() == b.ObjId();
    if (a.type == kString) return std::strcmp(a.Str(), b.Str()) == 0;
    return a.func_ == b.func_;
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
        int c = std::strcmp(a.Str(), b.Str());
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
    size_t have = v.text_ ? v.text_->len : 0;
    return n < have ? n : have;
}

// a + b of a string a into out (a value that is neither operand): a's bytes and b's join text. Past the longest
// string a value can count, a alone.
static void JoinInto(TagVar& out, const TagVar& a, const TagVar& b) {
    const size_t la = StrBytes(a);
    std::string_view tb = JoinText(b, t_numText);
    if (tb.size() > static_cast<size_t>(TagVar::kMaxStrLen) - la) tb = {};
    char* p = out.PrepareStr(la + tb.size());
    if (!p) return;
    if (la) std::memcpy(p, a.Str(), la);
    if (!tb.empty()) std::memcpy(p + la, tb.data(), tb.size());
}

// a + b by the rules of the language; a value whose sum has no rule comes back empty.
static TagVar Sum(const TagVar& a, const TagVar& b) {
    TagVar r;
    if (a.type == TagVar::kString) {
        JoinInto(r, a, b);
        return r;
    }
    if (a.type == TagVar::kObject && b.type == TagVar::kObject) {
        r.HoldObject(g_mapObjects.Merge(a.Object(), b.Object()));
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
    // A string is built in the target's own buffer (it is neither operand). Anything else is stored as an
    // assignment, so a merged object is counted and an object the target held is released.
    if (a.type == kString && target.type != kObject && &target != &a && &target != &b) {
        JoinInto(target, a, b);
        return target.intVal;
    }
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
        r.HoldObject(g_mapObjects.Subtract(a.Object(), b.Object()));
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
        r.HoldObject(g_mapObjects.Intersect(a.Object(), b.Object()));
        return r;
    }
    return TagVar(a); // a copy, not an assignment: the result holds no counted reference yet
}

TagVar& TagVar::Find(const TagVar& key) const {
    if (type != kObject || obj_->dead) return g_nullVar;
    TagVar* e = obj_->Find(key);
    return e ? *e : g_nullVar;
}

TagVar& TagVar::operator[](const TagVar& key) {
    if (readOnly) return g_nullVar;
    if (type != kObject) {
        HoldObject(g_mapObjects.NewItem());
        g_mapObjects.AddRef(obj_);
    }
    if (obj_->dead) return g_nullVar;
    return obj_->Item(key);
}

int32_t TagVar::GetItemAt(int32_t index, TagVar& key, TagVar& value) const {
    if (type != kObject || obj_->dead) return -1;
    int32_t kind = 0, ik = 0;
    const std::string* sk = nullptr;
    double dk = 0;
    TagVar* v = nullptr;
    if (index < 0 || !obj_->At(static_cast<size_t>(index), kind, ik, sk, dk, v)) return -2;
    if (kind == 1)
        key.SetStr(sk->c_str());
    else if (kind == 3)
        key.SetFloat(dk);
    else
        key.SetInt(ik);
    value = *v;
    return index;
}

int32_t TagVar::GetKeys(std::vector<TagKeyEntry>& list) const {
    if (type != kObject) {
        list.clear();
        return 0;
    }
    return g_mapObjects.ListItems(obj_, list);
}

} // namespace zz
