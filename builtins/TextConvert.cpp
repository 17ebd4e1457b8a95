// Text conversion, element access, network byte order, time formatting and print builtins.
#include "builtins/Families.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "builtins/TStdOut.h"
#include "builtins/services/Base64.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"

namespace zz {

ZZ_BUILTIN_P_RUN(TagGetMapItem, 4);
ZZ_BUILTIN_P_RUN(TagAnlyStr, 3);
ZZ_BUILTIN_P_RUN(TagStrToUnicode, 3);
ZZ_BUILTIN_P_RUN(TagUnicodeToStr, 3);
ZZ_BUILTIN_P_RUN(TagGetDateStr, 4);
ZZ_BUILTIN_P_RUN(TagMakeTime, 6);
ZZ_BUILTIN_P_RUN(TagIntToNetstr, 3);
ZZ_BUILTIN_P_RUN(TagNetstrToInt, 4);
// Prints its value on the line's print target, opened on "_stdout<line>.txt" at first use.
class TagPrint final : public BuiltinL<1> {
public:
    using Base = BuiltinL<1>;
    using Base::Base;
    int32_t Run() override;
};

// Points the line's print target at a file, or at the console for an empty path.
class TagSetPrintTo final : public BuiltinL<1> {
public:
    using Base = BuiltinL<1>;
    using Base::Base;
    int32_t Run() override;
};

namespace {

enum : int32_t { kModeUtf16 = 0, kModeUtf8 = 1, kModeUtf7 = 2, kModePercent = 3, kModeBase64 = 4 };
constexpr size_t kDateRoom = 512; // bytes of a formatted date, NUL included

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// '%' and two hexadecimal digits become their byte; a '%' without them stays as it is.
std::string PercentDecode(std::string_view in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        int hi = in[i] == '%' && i + 2 < in.size() ? HexDigit(in[i + 1]) : -1;
        int lo = hi >= 0 ? HexDigit(in[i + 2]) : -1;
        if (lo >= 0) {
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += in[i];
        }
    }
    return out;
}

std::string PercentEncode(std::string_view in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 33 || c == '%' || c == '+' || c >= 127) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

// The operand's bytes: a string's whole stored bytes, any other value's text.
std::string_view SourceBytes(const TagBuiltin& b, int32_t i) {
    return b.Operand(i).type == TagVar::kString ? b.Bytes(i) : std::string_view(b.Text(i));
}

int32_t Length(const std::string& s) {
    return s.size() > size_t(INT32_MAX) ? INT32_MAX : int32_t(s.size());
}

// The pieces of text split at sep: a blank separator splits once at a run of blanks and tabs, any other at
// every occurrence (searched on from the end of the previous one); no separator gives the whole text.
std::vector<std::string_view> SplitText(std::string_view text, std::string_view sep) {
    if (sep.empty()) return {text};
    auto isBlank = [&](size_t i) { return text[i] == ' ' || text[i] == '\t'; };
    const bool blank = sep == " ";
    std::vector<std::string_view> pieces;
    size_t start = 0, i = 0;
    while (i < text.size()) {
        if (blank ? !isBlank(i) : text.compare(i, sep.size(), sep) != 0) {
            i += GbkCharLen(text, i);
            continue;
        }
        pieces.push_back(text.substr(start, i - start));
        if (blank)
            while (i < text.size() && isBlank(i))
                ++i;
        else
            i += sep.size();
        start = i;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

} // namespace

int32_t TagStrToUnicode::Run() {
    if (Operand(2).readOnly) return kBuiltinNoSpeech;
    std::string_view text = Text(0);
    if (text.empty()) return 0;
    int32_t mode = IntVal(1);
    std::string out;
    if (mode == kModePercent) {
        out = PercentEncode(text);
    } else if (mode == kModeBase64) {
        Base64Encode(out, SourceBytes(*this, 0));
        if (out.empty()) return 0;
    } else if (mode == kModeUtf8 || mode == kModeUtf7) {
        // The result counts the terminating zero; the text itself ends before it, so joining it keeps no NUL.
        if (!ConvertCodePage(text, "GBK", mode == kModeUtf8 ? "UTF-8" : "UTF-7", out) || out.empty()) return 0;
        SetOutText(2, out);
        return Length(out) + 1;
    } else if (!ConvertCodePage(text, "GBK", "UTF-16LE", out)) {
        return 0;
    }
    SetOutText(2, out);
    return Length(out);
}

int32_t TagUnicodeToStr::Run() {
    int32_t mode = IntVal(0);
    std::string_view src = SourceBytes(*this, 1);
    std::string out;
    if (mode == kModePercent) {
        out = PercentDecode(Text(1));
    } else if (mode == kModeBase64) {
        // The Base64 builtins' decoder: padding gives zero bytes, a length not a multiple of 4 gives -1.
        int32_t n = Base64Decode(out, Text(1));
        if (n <= 0) return n;
    } else {
        bool converted = false;
        // The text ends at its zero character (which UTF-7 has no form for).
        std::string_view text = src.substr(0, src.find('\0'));
        if ((mode == kModeUtf8 || mode == kModeUtf7) && !text.empty())
            converted = ConvertCodePage(text, mode == kModeUtf8 ? "UTF-8" : "UTF-7", "GBK", out) && !out.empty();
        if (!converted) ConvertCodePage(src.substr(0, src.size() / 2 * 2), "UTF-16LE", "GBK", out);
        out.resize(std::strlen(out.c_str())); // the text ends at a zero character
    }
    SetOutText(2, out);
    return Length(out);
}

int32_t TagAnlyStr::Run() {
    if (Operand(0).type != TagVar::kString || Operand(1).type != TagVar::kString) return 0;
    std::vector<std::string_view> pieces = SplitText(Text(0), Text(1));
    int32_t n = 0;
    for (std::string_view p : pieces)
        OutElement(2, IntValue(n++)) = TextValue(p);
    return n;
}

int32_t TagGetMapItem::Run() {
    TagVar key, value;
    int32_t r = Operand(0).GetItemAt(IntVal(1), key, value);
    if (r < 0) return r;
    Operand(2) = key;
    Operand(3) = value;
    value = IntValue(0); // the copy's object reference goes with it
    return 0;
}

int32_t TagIntToNetstr::Run() {
    int32_t size = IntVal(1);
    if (size != 2 && size != 4) return kBuiltinBadArg;
    uint32_t v = uint32_t(IntVal(0));
    char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    SetOutText(2, std::string_view(bytes + 4 - size, size_t(size)));
    return 0;
}

int32_t TagNetstrToInt::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    int32_t offset = IntVal(1), size = IntVal(2);
    if (size != 2 && size != 4) return -2;
    std::string_view text = Bytes(0);
    // The last byte read may be the text's terminating zero.
    if (offset < 0 || int64_t(offset) + size > int64_t(text.size()) + 1) return -3;
    uint32_t v = 0;
    for (int32_t i = 0; i < size; ++i) {
        size_t at = size_t(offset + i);
        v = v << 8 | (at < text.size() ? uint8_t(text[at]) : 0);
    }
    SetOutInt(3, int32_t(v));
    return 0;
}

int32_t TagGetDateStr::Run() {
    if (Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    time_t t = Operand(1).type == TagVar::kEmpty ? std::time(nullptr) : time_t(IntVal(1));
    std::tm tm{};
    if (IntVal(2) != 0)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    std::string format = Text(0);
    if (size_t at = format.find("%T"); at != std::string::npos) format.replace(at, 2, "%H:%M:%S");
    char text[kDateRoom];
    if (std::strftime(text, sizeof text, format.c_str(), &tm) == 0) text[0] = '\0';
    SetOutText(3, text);
    return 0;
}

int32_t TagMakeTime::Run() {
    std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    std::tm tm{};
    tm.tm_year = IntVal(0) < 1 ? today.tm_year : IntVal(0) - 1900;
    tm.tm_mon = IntVal(1) < 1 ? today.tm_mon : IntVal(1) - 1;
    tm.tm_mday = IntVal(2) < 1 ? today.tm_mday : IntVal(2);
    tm.tm_hour = IntVal(3);
    tm.tm_min = IntVal(4);
    tm.tm_sec = IntVal(5);
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    return t < INT32_MIN || t > INT32_MAX ? -1 : int32_t(t);
}

int32_t TagPrint::Run() {
    if (!Program()) return kBuiltinBadArg;
    int32_t line = Program()->lineNo;
    TStdOut* out = &Program()->LineState<PrintState>().Opened(line);
    const TagVar& v = Operand(0);
    if (v.type == TagVar::kString) return out->Print(line, v.Str());
    std::string textForm;
    v.ToString(textForm, 1);
    return out->Print(line, textForm.c_str());
}

int32_t TagSetPrintTo::Run() {
    if (Program()) Program()->LineState<PrintState>().target.Open(Text(0));
    return kBuiltinOk;
}

std::span<const BuiltinEntry> TextConvertBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(42, TagGetMapItem, 4),   // GetMapItem
        ZZ_ROW_P(44, TagAnlyStr, 3),      // AnlyStr
        ZZ_ROW_P(46, TagStrToUnicode, 3), // StrToUnicode
        ZZ_ROW_P(47, TagUnicodeToStr, 3), // UnicodeToStr
        ZZ_ROW_P(52, TagGetDateStr, 4),   // GetDateStr
        ZZ_ROW_P(53, TagMakeTime, 6),     // MakeTime
        ZZ_ROW_P(193, TagIntToNetstr, 3), // IntToNetstr
        ZZ_ROW_P(194, TagNetstrToInt, 4), // NetstrToInt
        ZZ_ROW_L(272, TagPrint, 1),       // Print
        ZZ_ROW_L(273, TagSetPrintTo, 1),  // SetPrintTo
    };
    return rows;
}

} // namespace zz
