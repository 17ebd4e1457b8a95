// Builtins that compile and run script text or other scripts while the line runs.
#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"

namespace zz {

ZZ_BUILTIN_L(TagSetRunKvsEnvt, 1);
ZZ_BUILTIN_L(TagRunPsp, 3);

namespace {
std::unique_ptr<TagOper> MakeEval(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagEval>(a[0], prog);
}
std::unique_ptr<TagOper> MakeRunKvs(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagRunKvs>(a[0], prog);
}
std::unique_ptr<TagOper> MakeRunLine(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagRunLine>(a[0], prog);
}
} // namespace

std::span<const BuiltinEntry> RunTimeBuiltins() {
    static const BuiltinEntry rows[] = {
        {45, 1, &MakeEval},                 // Eval
        {220, 1, &MakeRunKvs},              // RunKvs
        ZZ_ROW_L(221, TagSetRunKvsEnvt, 1), // SetRunKvsEnvt
        {222, 1, &MakeRunLine},             // RunLine
        ZZ_ROW_L(274, TagRunPsp, 3),        // PspToKvs
    };
    return rows;
}

} // namespace zz
