// Type, number, string and time builtins that compute on their operands alone.
#include "builtins/Families.h"

#include "engine/TagFlow.h"

namespace zz {

ZZ_BUILTIN_P(TagType, 2);
ZZ_BUILTIN_P(TagInt, 2);
ZZ_BUILTIN_P(TagFloat, 2);
ZZ_BUILTIN_P(TagStr, 4);
ZZ_BUILTIN_P(TagStrlen, 2);
ZZ_BUILTIN_P(TagSubstr, 4);
ZZ_BUILTIN_P(TagDatetime, 5);
ZZ_BUILTIN_P(TagGetTick, 1);
ZZ_BUILTIN_P(TagAfterDaysDate, 3);
ZZ_BUILTIN_P(TagTrim, 1);
ZZ_BUILTIN_P(TagAsc, 3);
ZZ_BUILTIN_P(TagChr, 2);
ZZ_BUILTIN_P(TagReplstr, 4);
ZZ_BUILTIN_P(TagRepeatstr, 3);
ZZ_BUILTIN_P(TagStrstr, 3);
ZZ_BUILTIN_P(TagStrstrEx, 4);
ZZ_BUILTIN_P(TagStrcmp, 4);
ZZ_BUILTIN_P(TagRand, 1);
ZZ_BUILTIN_P(TagHex, 3);
ZZ_BUILTIN_P(TagUpper, 1);
ZZ_BUILTIN_P(TagLower, 1);
namespace {
// Time's operation lives with the engine's core operations and takes nothing at all.
std::unique_ptr<TagOper> MakeTime(TagVar* const*, TagTelBasic*) {
    return std::make_unique<TagTime>();
}
} // namespace

std::span<const BuiltinEntry> StringsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(24, TagType, 2),          // Type
        ZZ_ROW_P(25, TagInt, 2),           // Int
        ZZ_ROW_P(26, TagFloat, 2),         // Float
        ZZ_ROW_P(27, TagStr, 4),           // Str
        ZZ_ROW_P(28, TagStrlen, 2),        // Strlen
        ZZ_ROW_P(29, TagSubstr, 4),        // Substr
        ZZ_ROW_P(30, TagDatetime, 5),      // Datetime
        ZZ_ROW_P(31, TagGetTick, 1),       // GetTick
        ZZ_ROW_P(32, TagAfterDaysDate, 3), // AfterDaysDate
        ZZ_ROW_P(33, TagTrim, 1),          // Trim
        ZZ_ROW_P(34, TagAsc, 3),           // Asc
        ZZ_ROW_P(35, TagChr, 2),           // Chr
        ZZ_ROW_P(36, TagReplstr, 4),       // Replstr
        ZZ_ROW_P(37, TagRepeatstr, 3),     // Repeatstr
        ZZ_ROW_P(38, TagStrstr, 3),        // Strstr
        ZZ_ROW_P(39, TagStrstrEx, 4),      // StrstrEx
        ZZ_ROW_P(40, TagStrcmp, 4),        // Strcmp
        ZZ_ROW_P(41, TagStrlen, 2),        // Len
        ZZ_ROW_P(43, TagRand, 1),          // Rand
        ZZ_ROW_P(48, TagHex, 3),           // Hex
        ZZ_ROW_P(49, TagUpper, 1),         // Upper
        ZZ_ROW_P(50, TagLower, 1),         // Lower
        {51, 0, &MakeTime},                // Time
    };
    return rows;
}

} // namespace zz
