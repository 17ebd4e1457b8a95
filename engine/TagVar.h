#pragma once
// The one value type of the script language: empty, string, integer, double, object (array/dictionary) or
// function. Object values count as references only through whole-value assignment and subscripting;
// construction, copying and the typed setters leave the counts alone.
//
// A value is 24 bytes: its text (an owned buffer, kept when the value takes a number, since builtins may read the
// text a variable last held), the double, object or function of the current type, the integer word, the type and
// the read-only flag. Only the symbols of a program have a name and a note: they are TagNamedVar, which adds the
// name record, so that elements and temporaries do not carry an always-empty pointer.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zz {

class TagTelBasic;
struct TagKeyEntry;
struct TagMapItem;

// The bytes of a text: a NUL follows the len bytes; room for cap bytes and the NUL.
struct TagText {
    uint32_t cap;
    uint32_t len;
    char data[1];
};

class TagVar {
public:
    enum : int32_t { kEmpty = 0, kString = 1, kInt = 2, kDouble = 3, kObject = 4, kFunction = 5 };
    // Longest string a value holds: its byte count plus the NUL must fit intVal.
    static constexpr int32_t kMaxStrLen = 0x7FFFFFFE;

    TagVar() : dbl_(0) {}
    explicit TagVar(uint8_t ro) : readOnly(ro), dbl_(0) {}
    TagVar(const TagVar& src);
    TagVar(TagVar&& src) noexcept;
    ~TagVar() {
        if (type == kObject || text_) Destroy();
    }

    // Whole-value assignment: keeps name, note and read-only flag of the target, counts object references.
    TagVar& operator=(const TagVar& src) {
        if (!AssignPlain(src)) AssignFrom(src, false);
        return *this;
    }
    TagVar& operator=(TagVar&& src);
    // The assignment of a number or an empty value into a value that holds no object and is writable (no count and
    // no text to look after); false (and nothing done) for any other case, which a whole-value assignment handles.
    bool AssignPlain(const TagVar& src) {
        if (type == kObject || readOnly) return false;
        // An integer leaves the double word alone, as SetInt does: nothing reads it but for a double.
        if (src.type == kInt) {
            type = kInt;
            intVal = src.intVal;
            return true;
        }
        if (src.type != kEmpty && src.type != kDouble) return false;
        type = src.type;
        intVal = src.intVal;
        dbl_ = src.dbl_;
        return true;
    }
    // Assignment for values that another line reads or wrote (shared memory, messages, queues): an object is
    // copied whole, with every object it reaches, so no object is ever reached from two lines.
    void AssignDetached(const TagVar& src);
    int32_t operator=(int32_t v) { return SetInt(v); }
    double operator=(double v) { return SetFloat(v); }
    const char* operator=(const char* s) { return SetStr(s); }

    int32_t SetInt(int32_t v) {
        if (readOnly) return 0;
        if (type == kObject) DropObject();
        type = kInt;
        intVal = v;
        return v;
    }
    int32_t SetLong(int32_t v) { return SetInt(v); }
    // An integer stored as a whole-value assignment would be: an object the value held loses its reference.
    void SetIntReleasing(int32_t v) {
        if (WritableInt()) {
            intVal = v;
            return;
        }
        if (type == kObject) return SetIntAssigned(v);
        if (readOnly) return;
        type = kInt;
        intVal = v;
    }
    double SetFloat(double v) {
        if (readOnly) return 0;
        if (type == kObject) DropObject();
        type = kDouble;
        dbl_ = v;
        return v;
    }
    const char* SetStr(const char* s);
    const char* SetStrN(const char* bytes, int32_t n);

    int32_t GetInt() const {
        switch (type) {
        case kString:
            return TextInt();
        case kDouble:
            return DoubleInt();
        case kObject:
            return ObjId();
        default:
            return intVal;
        }
    }
    double GetFloat() const;
    double GetDouble() const { return GetFloat(); }
    // Text up to the first NUL of the text the value last held as a string ("" when it never held one).
    const char* Str() const { return text_ ? text_->data : ""; }
    void ToString(std::string& out, uint8_t quote = 0) const;
    // The same text appended to out.
    void AppendText(std::string& out, uint8_t quote = 0) const;
    std::string ToString() const {
        std::string s;
        ToString(s);
        return s;
    }
    int32_t Len() const;
    static const char* TypeName(int32_t type);

    static int32_t IsEqual(const TagVar& a, const TagVar& b);
    static int32_t IsGreater(const TagVar& a, const TagVar& b);
    static int32_t IsLess(const TagVar& a, const TagVar& b);

    // target = a + b for a target that is neither operand; -1 for a read-only target, else its intVal.
    static int32_t Add(TagVar& target, const TagVar& a, const TagVar& b);
    friend TagVar operator+(const TagVar& a, const TagVar& b);
    friend TagVar operator-(const TagVar& a, const TagVar& b);
    friend TagVar operator*(const TagVar& a, const TagVar& b);

    // Element of an object, or g_nullVar; never creates.
    TagVar& Find(const TagVar& key) const;
    // Element, created when missing; a non-object value becomes a new object first. g_nullVar when read-only.
    TagVar& operator[](const TagVar& key);
    int32_t GetItemAt(int32_t index, TagVar& key, TagVar& value) const;
    int32_t GetKeys(std::vector<TagKeyEntry>& list) const;

    // ---- Name record (empty for every value but a TagNamedVar) ----
    // Both views end in a NUL (data() is a C string).
    std::string_view Name() const;
    std::string_view Note() const;

    // ---- The fields of the current type ----
    // The double of a double value; 0 for an empty value or a function.
    double DblVal() const { return type == kDouble ? dbl_ : 0; }
    // The object identifier of an object value (its registry id, or the failed result it was built from).
    int32_t ObjId() const;
    TagTelBasic* FuncUnit() const { return type == kFunction ? func_ : nullptr; }
    // A function value that no longer names its unit (the unit was removed).
    void ClearFuncUnit() {
        if (type == kFunction) func_ = nullptr;
    }
    // Makes the value refer to the object of id without counting a reference, as a copy of a value holding it
    // would (an id that names no object gives a value that names none). Read-only values stay as they are.
    void SetObjectId(int32_t id);
    // The object record of an object value, or null.
    TagMapItem* Object() const { return type == kObject ? obj_ : nullptr; }
    // Makes the value an object value pointing at a record, taking over the caller's pin of it (no count).
    void HoldObject(TagMapItem* pinned);

    // ---- Building strings in place ----
    // Makes the value a string of n bytes whose content the caller then writes (a NUL follows them); null for a
    // read-only value or when n is out of range. The bytes of an operand must not be read from this value's own
    // text afterwards.
    char* PrepareStr(size_t n);
    // Appends bytes to a string value in its own buffer (amortised growth; the bytes may be the value's own);
    // false when the result would be longer than a value holds or the value is read-only or not a string.
    bool AppendStr(const char* bytes, size_t n);
    // The join of '+' in place: a string value followed by the text of b (another string's bytes, "%d", the cut
    // "%f", nothing for other types); false when the result would be too long (nothing changes then).
    bool AppendValue(const TagVar& b);

    int32_t intVal = 0; // the integer word: an integer's value, a string's byte count plus one
    uint8_t type = kEmpty;
    uint8_t readOnly = 0;

    // The type and the read-only flag side by side, read as one word: an integer that may be written is one
    // comparison. They follow the integer word, the first field (tests/engine check the offsets).
    static constexpr size_t kTypeOffset = 4;
    bool WritableInt() const {
        static_assert(std::endian::native == std::endian::little, "the type is the word's low byte");
        uint16_t w;
        std::memcpy(&w, reinterpret_cast<const unsigned char*>(this) + kTypeOffset, sizeof w);
        return w == kInt;
    }

protected:
    uint8_t named_ = 0;      // this is a TagNamedVar
    uint8_t staticMeta_ = 0; // its name record is not owned

private:
    friend class TagNamedVar;
    friend struct TagMapItem;
    friend class TagMapObject;
    friend size_t StrBytes(const TagVar& v);
    // Back to a fresh empty value with no name (an element slot that is free again).
    void Reset();
    // What the destructor lets go of: the pin of an object value and the text.
    void Destroy();
    void SetIntAssigned(int32_t v);
    int32_t TextInt() const;
    int32_t DoubleInt() const;
    // Lets go of the object this value points at (no count changes): the value must be an object.
    void DropObject();
    void CopyValue(const TagVar& src, bool steal);
    void AssignFrom(const TagVar& src, bool steal);
    void SetTextBytes(const char* bytes, size_t n);

    TagText* text_ = nullptr;
    union {
        double dbl_;
        TagMapItem* obj_;
        TagTelBasic* func_;
    };
};

// A symbol of a program: a value with a name and a note. Assignment changes the value only; a copy takes the name
// record too.
class TagNamedVar : public TagVar {
public:
    TagNamedVar() { named_ = 1; }
    TagNamedVar(const TagNamedVar& src);
    ~TagNamedVar() { FreeMeta(); }
    TagNamedVar& operator=(const TagNamedVar& src) {
        TagVar::operator=(src);
        return *this;
    }
    using TagVar::operator=;

    void InitInt(const char* name, const char* note, int32_t v, uint8_t readOnly);
    void InitFloat(const char* name, const char* note, double v, uint8_t readOnly);
    void InitStr(const char* name, const char* note, const char* s, uint8_t readOnly);
    void InitFunc(const char* name, const char* note, TagTelBasic* unit, uint8_t readOnly);
    // Replaces name and note ("" and null alike mean none).
    void SetNames(const char* name, const char* note);
    // The same from a text of static storage that holds the name, a NUL, the note and a NUL (never copied).
    void SetStaticNames(const char* nameAndNote);

private:
    friend class TagVar;
    void FreeMeta();
    char* meta_ = nullptr; // name, NUL, note, NUL; null: neither
};

inline std::string_view TagVar::Name() const {
    const char* m = named_ ? static_cast<const TagNamedVar*>(this)->meta_ : nullptr;
    return m ? std::string_view(m) : std::string_view("", 0);
}

// How many times a value of this thread came to hold an object (an assignment of one, a new or a found object):
// a unit whose variables held none when the count stood at some value holds none while it stands there, so the
// run loop's end of a function body need not walk them.
extern thread_local uint64_t t_objectsTaken __attribute__((tls_model("initial-exec")));
inline uint64_t ObjectsTaken() {
    return t_objectsTaken;
}

// Bytes of a string value: its recorded count, never beyond its buffer.
size_t StrBytes(const TagVar& v);

// The shared read-only empty value handed back by lookups that find nothing.
extern TagVar g_nullVar;

// One key of an object, taken by value so that a walk survives changes of the object.
struct TagKeyEntry {
    int32_t kind = 0; // 2 integer, 1 string, 3 double, 4 object id
    TagVar key;
};

} // namespace zz
