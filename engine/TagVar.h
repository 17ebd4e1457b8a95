#pragma once
// The one value type of the script language: empty, string, integer, double, object (array/dictionary held by
// id in the registry) or function. Object values count as references only through whole-value assignment and
// subscripting; construction, copying and the typed setters leave the counts alone.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

class TagTelBasic;
struct TagKeyEntry;

class TagVar {
public:
    enum : int32_t { kEmpty = 0, kString = 1, kInt = 2, kDouble = 3, kObject = 4, kFunction = 5 };
    // Longest string a value holds: its byte count plus the NUL must fit intVal.
    static constexpr int32_t kMaxStrLen = 0x7FFFFFFE;

    TagVar();
    explicit TagVar(uint8_t readOnly);
    TagVar(const TagVar& src);
    TagVar(TagVar&& src) noexcept;
    ~TagVar();

    // Whole-value assignment: keeps name, note and read-only flag of the target, counts object references.
    TagVar& operator=(const TagVar& src);
    TagVar& operator=(TagVar&& src);
    int32_t operator=(int32_t v) { return SetInt(v); }
    double operator=(double v) { return SetFloat(v); }
    const char* operator=(const char* s) { return SetStr(s); }

    void InitInt(const char* name, const char* note, int32_t v, uint8_t readOnly);
    void InitFloat(const char* name, const char* note, double v, uint8_t readOnly);
    void InitStr(const char* name, const char* note, const char* s, uint8_t readOnly);
    void InitFunc(const char* name, const char* note, TagTelBasic* unit, uint8_t readOnly);

    int32_t SetInt(int32_t v);
    int32_t SetLong(int32_t v) { return SetInt(v); }
    double SetFloat(double v);
    const char* SetStr(const char* s);
    const char* SetStrN(const char* bytes, int32_t n);

    int32_t GetInt() const;
    double GetFloat() const;
    double GetDouble() const { return GetFloat(); }
    // Text up to the first NUL of a string; the string bytes are in strVal (intVal - 1 of them).
    const char* Str() const { return strVal.c_str(); }
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

    std::string name;
    std::string note; // empty: none
    uint8_t readOnly = 0;
    std::string strVal; // the string's bytes; NUL-terminated by std::string
    int32_t intVal = 0;
    double dblVal = 0;
    int32_t objId = 0;
    TagTelBasic* funcUnit = nullptr;
    int32_t type = kEmpty;

private:
    void CopyValue(const TagVar& src, bool steal);
    void AssignFrom(const TagVar& src, bool steal);
};

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
