// Voice file builtins: voices held in memory for playing (the line's store or the process's), and voice files
// trimmed or mixed in place. Names are completed as Play completes them.
#include <string>

#include "builtins/Families.h"
#include "builtins/VoiceState.h"
#include "engine/TagTelBasic.h"
#include "media/TagWaveUnits.h"
#include "media/VocMix.h"
#include "platform/PathMap.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagLoadVocFile, 2);
ZZ_BUILTIN_L_RUN(TagUnloadVocFile, 2);
ZZ_BUILTIN_L_RUN(TagTrimVocFile, 1);
ZZ_BUILTIN_L_RUN(TagMixVocFile, 6);

namespace {

VoiceState* Voice(const TagBuiltin& b) {
    return b.Program() ? &b.Program()->LineState<VoiceState>() : nullptr;
}

// The line's store, or the process's for a global flag.
TagMemVocs& Store(VoiceState& voice, int32_t global) {
    return global ? TagMemVocs::Process() : voice.memVocs;
}

} // namespace

int32_t TagLoadVocFile::Run() {
    VoiceState* voice = Voice(*this);
    if (!voice || Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    return Store(*voice, IntVal(1)).Load(voice->ResolveVocPath(Text(0)).c_str(), 0);
}

int32_t TagUnloadVocFile::Run() {
    VoiceState* voice = Voice(*this);
    if (!voice || Operand(0).type != TagVar::kString) return kBuiltinBadArg;
    TagMemVocs& store = Store(*voice, IntVal(1));
    if (Text(0)[0] == '*')
        store.Clear();
    else
        store.Unload(voice->ResolveVocPath(Text(0)).c_str());
    return kBuiltinOk;
}

int32_t TagTrimVocFile::Run() {
    VoiceState* voice = Voice(*this);
    if (!voice) return kBuiltinBadArg;
    return ReplaceVocFile(ResolvePath(voice->ResolveVocPath(Text(0))));
}

int32_t TagMixVocFile::Run() {
    VoiceState* voice = Voice(*this);
    if (!voice) return kBuiltinBadArg;
    std::string first = ResolvePath(voice->ResolveVocPath(Text(0)));
    std::string second = ResolvePath(voice->ResolveVocPath(Text(3)));
    std::string out = ResolvePath(voice->ResolveVocPath(Text(5)));
    return MixVocFiles(first, float(Number(1)), static_cast<uint32_t>(IntVal(2)), second, float(Number(4)), out);
}

std::span<const BuiltinEntry> VoiceFilesBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(88, TagLoadVocFile, 2),   // LoadVocFile
        ZZ_ROW_L(89, TagUnloadVocFile, 2), // UnloadVocFile
        ZZ_ROW_L(146, TagTrimVocFile, 1),  // TrimVocFile
        ZZ_ROW_L(147, TagMixVocFile, 6),   // MixVocFile
    };
    return rows;
}

} // namespace zz
