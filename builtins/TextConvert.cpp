// Text conversion, element access, network byte order, time formatting and print builtins.
#include "builtins/Families.h"

#include <cstdio>
#include <string>

#include "builtins/TStdOut.h"
#include "engine/TagTelBasic.h"

namespace zz {

ZZ_BUILTIN_P(TagGetMapItem, 4);
ZZ_BUILTIN_P(TagAnlyStr, 3);
ZZ_BUILTIN_P(TagStrToUnicode, 3);
ZZ_BUILTIN_P(TagUnicodeToStr, 3);
ZZ_BUILTIN_P(TagGetDateStr, 4);
ZZ_BUILTIN_P(TagMakeTime, 6);
ZZ_BUILTIN_P(TagIntToNetstr, 3);
ZZ_BUILTIN_P(TagNetstrToInt, 4);
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

int32_t TagPrint::Run() {
    if (!Program()) return kBuiltinBadArg;
    TStdOut* out = &Program()->LineState<PrintState>().target;
    int32_t line = Program()->lineNo;
    if (!out->IsOpen()) {
        char name[32];
        std::snprintf(name, sizeof name, "_stdout%d.txt", line);
        out->Open(name);
    }
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
