// Sound-card, key and speech builtins.
#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_BUILTIN_L(TagPcPlay, 2);
ZZ_BUILTIN_L(TagClearKeys, 0);
ZZ_BUILTIN_L(TagSetTtsPara, 3);
ZZ_BUILTIN_L(TxtSpeakToFile, 4);
namespace {

// A virtual line takes its keys, numbers and speech on the PC. A program without a call object compiles as a
// telephone line.
bool OnVirtualLine(TagTelBasic* prog) {
    const TagCallState* call = prog ? prog->Call() : nullptr;
    return call && call->lineKind == kLineVirtual;
}

std::unique_ptr<TagOper> MakeGetKeys(TagVar* const* a, TagTelBasic* prog) {
    if (OnVirtualLine(prog)) return std::make_unique<TagPcGetKeys>(a[0], a[1], a[2], prog);
    return std::make_unique<TagGetKeys>(a[0], a[1], a[2], prog);
}

template <bool kAlwaysPc> std::unique_ptr<TagOper> MakePlayNumber(TagVar* const* a, TagTelBasic* prog) {
    uint8_t pc = kAlwaysPc || OnVirtualLine(prog) ? 1 : 0;
    return std::make_unique<TagPlayNumber>(a[0], a[1], prog, pc);
}

template <bool kAlwaysPc> std::unique_ptr<TagOper> MakeTxtSpeak(TagVar* const* a, TagTelBasic* prog) {
    uint8_t pc = kAlwaysPc || OnVirtualLine(prog) ? 1 : 0;
    return std::make_unique<TagTxtSpeak>(pc, a[0], a[1], a[2], prog);
}

template <class C> std::unique_ptr<TagOper> MakeLineShown(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<C>((prog ? prog->ParentOrSelf()->lineNo : 0), a[0], a[1]);
}

} // namespace

std::span<const BuiltinEntry> SoundCardBuiltins() {
    static const BuiltinEntry rows[] = {
        {96, 3, &MakeGetKeys},                     // GetKeys: the class follows the line kind
        {145, 2, &MakePlayNumber<false>},          // PlayNumber
        ZZ_ROW_L(157, TagPcPlay, 2),               // PcPlay
        ZZ_ROW_L(158, TagClearKeys, 0),            // ClearKeys
        ZZ_ROW_L(161, TagSetTtsPara, 3),           // SetTtsPara
        {162, 3, &MakeTxtSpeak<false>},            // TxtSpeak
        {163, 3, &MakeTxtSpeak<true>},             // PcTxtSpeak
        ZZ_ROW_L(164, TxtSpeakToFile, 4),          // TxtSpeakToFile
        ZZ_ROW_L(200, TagPcGetKeys, 3),            // PcGetKeys
        {201, 2, &MakePlayNumber<true>},           // PcPlayNumber
        {202, 2, &MakeLineShown<TagDispInfo>},     // DispInfo
        {203, 2, &MakeLineShown<TagSetDispColor>}, // SetDispColor
    };
    return rows;
}

} // namespace zz
