// Type, number and string builtins: they compute on their operands alone. Positions and lengths count bytes;
// a double-byte character is never cut in two, nor found, folded or overwritten by halves.
#include "builtins/Strings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "builtins/Families.h"
#include "engine/LineRandom.h"
#include "engine/NumText.h"
#include "engine/TagFlow.h"
#include "platform/Gbk.h"

namespace zz {

ZZ_BUILTIN_P_RUN(TagType, 2);
ZZ_BUILTIN_P_RUN(TagInt, 2);
ZZ_BUILTIN_P_RUN(TagFloat, 2);
ZZ_BUILTIN_P_RUN(TagStr, 4);
ZZ_BUILTIN_P_RUN(TagStrlen, 2);
ZZ_BUILTIN_P_RUN(TagSubstr, 4);
ZZ_BUILTIN_P_RUN(TagTrim, 1);
ZZ_BUILTIN_P_RUN(TagAsc, 3);
ZZ_BUILTIN_P_RUN(TagChr, 2);
ZZ_BUILTIN_P_RUN(TagReplstr, 4);
ZZ_BUILTIN_P_RUN(TagRepeatstr, 3);
ZZ_BUILTIN_P_RUN(TagStrstr, 3);
ZZ_BUILTIN_P_RUN(TagStrstrEx, 4);
ZZ_BUILTIN_P_RUN(TagStrcmp, 4);
ZZ_BUILTIN_P_RUN(TagRand, 1);
ZZ_BUILTIN_P_RUN(TagHex, 3);
ZZ_BUILTIN_P_RUN(TagUpper, 1);
ZZ_BUILTIN_P_RUN(TagLower, 1);

namespace {

// Wrong type, or a position or count outside the text.
constexpr int32_t kBadPosition = kBuiltinBadLine;
// Widths and decimals of Str and Hex beyond this are cut to it.
constexpr int32_t kMaxFormatWidth = 512;
// Float reads this many characters of a text.
constexpr size_t kFloatChars = 80;

bool IsString(const TagVar& v) {
    return v.type == TagVar::kString;
}

// The first character start at or after pos (s.size() when none).
size_t NextCharStart(std::string_view s, size_t pos) {
    size_t at = GbkSafeCut(s, pos);
    return at < pos ? at + GbkCharLen(s, at) : at;
}

bool IsCharStart(std::string_view s, size_t pos) {
    return GbkSafeCut(s, pos) == pos;
}

// Position of the first occurrence of part in text at or after from, starting and ending on whole characters;
// npos when there is none.
size_t FindWhole(std::string_view text, std::string_view part, size_t from) {
    for (size_t i = NextCharStart(text, from); i <= text.size(); i += std::max<size_t>(GbkCharLen(text, i), 1)) {
        if (text.compare(i, part.size(), part) == 0 && IsCharStart(text, i + part.size())) return i;
        if (i == text.size()) break;
    }
    return std::string_view::npos;
}

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// strncmp's comparison (limit < 0: none) giving the difference of the first differing bytes; with noCase ASCII
// letters compare folded, but never a byte that is the second half of a double-byte character.
int32_t CompareText(const char* a, const char* b, int64_t limit, bool noCase) {
    bool trailA = false, trailB = false;
    for (int64_t i = 0; limit < 0 || i < limit; ++i) {
        char ca = a[i], cb = b[i];
        if (noCase) {
            ca = trailA ? ca : FoldCase(ca);
            cb = trailB ? cb : FoldCase(cb);
        }
        if (ca != cb) return int32_t(static_cast<unsigned char>(ca)) - int32_t(static_cast<unsigned char>(cb));
        if (!a[i]) return 0;
        trailA =
            !trailA && IsGbkLead(static_cast<unsigned char>(a[i])) && IsGbkTrail(static_cast<unsigned char>(a[i + 1]));
        trailB =
            !trailB && IsGbkLead(static_cast<unsigned char>(b[i])) && IsGbkTrail(static_cast<unsigned char>(b[i + 1]));
    }
    return 0;
}

// sscanf's "%x" on the digits after "0x": blanks, a sign, hexadecimal digits (wrapping); 0 when none.
int32_t HexToInt(const char* s) {
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\v' || *s == '\f')
        ++s;
    bool neg = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    uint32_t v = 0;
    for (;; ++s) {
        char c = FoldCase(*s);
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = v * 16 + uint32_t(d);
    }
    return int32_t(neg ? 0u - v : v);
}

int32_t ClampWidth(int32_t w) {
    return std::clamp(w, -kMaxFormatWidth, kMaxFormatWidth);
}

// printf into a string of whatever length the format needs.
template <class... A> std::string Format(const char* fmt, A... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0) std::snprintf(s.data(), s.size() + 1, fmt, args...);
    return s;
}

// A kind-v builtin's value goes to its out operand and to the statement's target.
void SetOutAndTarget(const TagBuiltin& b, int32_t out, std::string_view text) {
    b.SetOutText(out, text);
    TagVar v;
    v.SetStrN(text.data(), int32_t(text.size()));
    b.StoreResult(v);
}

} // namespace

int32_t TrimText(char* text, int32_t len) {
    if (!text || len <= 0) return 1;
    int32_t begin = 0, end = len;
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\0'))
        --end;
    int32_t n = end - begin;
    if (begin > 0) std::memmove(text, text + begin, size_t(n));
    if (n < len) text[n] = '\0';
    return n + 1;
}

void StripBlanks(char* text) {
    if (!text) return;
    char* out = text;
    for (const char* p = text; *p; ++p)
        if (*p != ' ' && *p != '\t') *out++ = *p;
    *out = '\0';
}

int32_t TagType::Run() {
    int32_t t = Operand(0).type;
    SetOutInt(1, t);
    return t;
}

int32_t TagInt::Run() {
    int32_t n = IntVal(0);
    if (IsString(Operand(0))) {
        const char* t = Text(0);
        bool hex = t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
        n = hex ? HexToInt(t + 2) : TextToInt(t);
    }
    SetOutInt(1, n);
    return n;
}

int32_t TagFloat::Run() {
    double d = Number(0);
    if (IsString(Operand(0))) {
        std::string head(Text(0));
        head.resize(std::min(head.size(), kFloatChars));
        head.erase(std::remove(head.begin(), head.end(), ','), head.end());
        d = TextToDouble(head.c_str());
    }
    SetOutFloat(1, d);
    TagVar v;
    v.SetFloat(d);
    StoreResult(v);
    return DoubleToInt(d);
}

int32_t TagStr::Run() {
    const TagVar& v = Operand(0);
    std::string text;
    if (IsString(v)) {
        text = Text(0);
    } else if (v.type == TagVar::kObject) {
        v.ToString(text);
    } else {
        int32_t width = ClampWidth(StoredInt(1));
        int32_t decimals = std::min(StoredInt(2), kMaxFormatWidth);
        double d = v.GetFloat();
        text = width != 0 ? Format("%*.*f", width, decimals, d) : Format("%.*f", decimals, d);
    }
    SetOutAndTarget(*this, 3, text);
    return kBuiltinOk;
}

int32_t TagHex::Run() {
    unsigned n = static_cast<unsigned>(IntVal(0));
    int32_t width = ClampWidth(StoredInt(1));
    SetOutText(2, width != 0 ? Format("%0*x", width, n) : Format("%x", n));
    return kBuiltinOk;
}

int32_t TagStrlen::Run() {
    int32_t n = Operand(0).Len();
    SetOutInt(1, n);
    return n;
}

int32_t TagSubstr::Run() {
    std::string_view src = Bytes(0);
    int64_t start = StoredInt(1), count = StoredInt(2);
    int64_t len = IsString(Operand(0)) ? int64_t(src.size()) : Operand(0).Len();
    if (start + count >= len + 1) count = len - start;
    if (!IsString(Operand(0)) || start < 0 || count <= 0) {
        SetOutAndTarget(*this, 3, "");
        return kBadPosition;
    }
    // A cut inside a double-byte character leaves that character out.
    size_t from = NextCharStart(src, size_t(start));
    size_t to = std::max(GbkSafeCut(src, size_t(start + count)), from);
    std::string sub(src.substr(from, to - from));
    SetOutAndTarget(*this, 3, sub);
    return kBuiltinOk;
}

int32_t TagStrcmp::Run() {
    int32_t n = IntVal(2);
    bool noCase = IntVal(3) != 0;
    if (n <= 0) return CompareText(Text(0), Text(1), -1, noCase);
    if (!IsString(Operand(0)) || !IsString(Operand(1)) || StoredInt(0) < n || StoredInt(1) < n) return kBadPosition;
    return CompareText(Text(0), Text(1), n, noCase);
}

int32_t TagStrstr::Run() {
    size_t at = FindWhole(Text(0), Text(1), 0);
    int32_t pos = at == std::string_view::npos ? 0 : int32_t(at) + 1;
    SetOutInt(2, pos);
    return pos;
}

int32_t TagStrstrEx::Run() {
    int32_t start = IntVal(1);
    if (!IsString(Operand(0)) || start < 0 || start >= StoredInt(0)) return 0;
    size_t at = FindWhole(Text(0), Text(2), size_t(start));
    int32_t pos = at == std::string_view::npos ? 0 : int32_t(at) + 1;
    SetOutInt(3, pos);
    return pos;
}

int32_t TagTrim::Run() {
    TagVar& v = Operand(0);
    if (v.readOnly) return kBuiltinBadArg;
    if (!IsString(v)) return kBadPosition;
    std::string s(Bytes(0));
    int32_t n = TrimText(s.data(), int32_t(s.size())) - 1;
    SetOutText(0, std::string_view(s).substr(0, size_t(n)));
    return kBuiltinOk;
}

int32_t TagUpper::Run() {
    if (Operand(0).readOnly) return kBuiltinBadArg;
    if (!IsString(Operand(0))) return kBadPosition;
    SetOutText(0, GbkUpper(Bytes(0)));
    return kBuiltinOk;
}

int32_t TagLower::Run() {
    if (Operand(0).readOnly) return kBuiltinBadArg;
    if (!IsString(Operand(0))) return kBadPosition;
    SetOutText(0, GbkLower(Bytes(0)));
    return kBuiltinOk;
}

int32_t TagAsc::Run() {
    int32_t index = IntVal(1);
    if (!IsString(Operand(0)) || index < 0 || index >= StoredInt(0)) return kBuiltinBadArg;
    std::string_view s = Bytes(0);
    int32_t code = size_t(index) < s.size() ? static_cast<unsigned char>(s[size_t(index)]) : 0;
    SetOutInt(2, code);
    return code;
}

int32_t TagChr::Run() {
    int32_t code = IntVal(0);
    char c = static_cast<char>(static_cast<uint8_t>(code));
    SetOutAndTarget(*this, 1, c ? std::string_view(&c, 1) : std::string_view());
    return code;
}

int32_t TagReplstr::Run() {
    TagVar& target = Operand(0);
    if (target.readOnly) return kBuiltinBadArg;
    int64_t pos = StoredInt(1), count = StoredInt(2);
    if (!IsString(target) || !IsString(Operand(3)) || count < 1 || pos < 0) return kBadPosition;
    std::string t(Bytes(0));
    std::string_view src = Bytes(3);
    if (pos + count > int64_t(t.size()) || count > int64_t(src.size())) return kBadPosition;
    // Overwriting half of a double-byte character would corrupt the text on both sides.
    if (!IsCharStart(t, size_t(pos)) || !IsCharStart(t, size_t(pos + count)) || !IsCharStart(src, size_t(count)))
        return kBadPosition;
    t.replace(size_t(pos), size_t(count), src.substr(0, size_t(count)));
    SetOutText(0, t);
    return kBuiltinOk;
}

int32_t TagRepeatstr::Run() {
    if (Operand(0).readOnly) return kBuiltinBadArg;
    int32_t count = StoredInt(2);
    if (count <= 0) return kBadPosition;
    std::string unit = IsString(Operand(1)) ? std::string(Bytes(1)) : std::string(1, char(StoredInt(1)));
    // An empty piece gives an empty text at once, whatever the count (it would otherwise loop count times).
    if (unit.empty()) count = 1;
    // A text no value can hold is refused rather than cut.
    if (uint64_t(unit.size()) * uint64_t(count) > uint64_t(TagVar::kMaxStrLen)) return kBadPosition;
    std::string out;
    out.reserve(unit.size() * size_t(count));
    for (int32_t i = 0; i < count; ++i)
        out += unit;
    SetOutText(0, out);
    return kBuiltinOk;
}

int32_t TagRand::Run() {
    int32_t v = LineRandom();
    SetOutInt(0, v);
    return v;
}

namespace {
// Time's operation lives with the engine's core operations and takes nothing at all.
std::unique_ptr<TagOper> MakeTime(TagVar* const*, TagTelBasic*) {
    return std::make_unique<TagTime>();
}
} // namespace

std::span<const BuiltinEntry> StringsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(24, TagType, 2),      // Type
        ZZ_ROW_P(25, TagInt, 2),       // Int
        ZZ_ROW_P(26, TagFloat, 2),     // Float
        ZZ_ROW_P(27, TagStr, 4),       // Str
        ZZ_ROW_P(28, TagStrlen, 2),    // Strlen
        ZZ_ROW_P(29, TagSubstr, 4),    // Substr
        ZZ_ROW_P(33, TagTrim, 1),      // Trim
        ZZ_ROW_P(34, TagAsc, 3),       // Asc
        ZZ_ROW_P(35, TagChr, 2),       // Chr
        ZZ_ROW_P(36, TagReplstr, 4),   // Replstr
        ZZ_ROW_P(37, TagRepeatstr, 3), // Repeatstr
        ZZ_ROW_P(38, TagStrstr, 3),    // Strstr
        ZZ_ROW_P(39, TagStrstrEx, 4),  // StrstrEx
        ZZ_ROW_P(40, TagStrcmp, 4),    // Strcmp
        ZZ_ROW_P(41, TagStrlen, 2),    // Len
        ZZ_ROW_P(43, TagRand, 1),      // Rand
        ZZ_ROW_P(48, TagHex, 3),       // Hex
        ZZ_ROW_P(49, TagUpper, 1),     // Upper
        ZZ_ROW_P(50, TagLower, 1),     // Lower
        {51, 0, &MakeTime},            // Time
    };
    return rows;
}

} // namespace zz
