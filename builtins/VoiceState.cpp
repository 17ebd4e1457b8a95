#include "builtins/VoiceState.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/TagTelBasic.h"
#include "media/WavJoin.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "telephony/TagKvCall.h"

namespace zz {

namespace {

// A name is a path already when it starts at a root, holds a drive ("c:\") or two backslashes in a row; the
// halves of a double-byte character are no separators.
bool IsPlacedPath(std::string_view name) {
    if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return true;
    for (size_t i = 0; i < name.size(); i += GbkCharLen(name, i)) {
        if (GbkCharLen(name, i) != 1 || i + 1 >= name.size()) continue;
        char next = name[i + 1];
        if ((name[i] == '\\' && next == '\\') || (name[i] == ':' && (next == '\\' || next == '/'))) return true;
    }
    return false;
}

} // namespace

VoiceState::~VoiceState() {
    if (root_.IsCalledProgram() || !root_.pKvCall) return;
    const std::string line = std::to_string(root_.lineNo);
    for (const std::string& base : voiceDir) {
        // In play-to-file mode the join file is the script's product, not a temporary file.
        if (!playToFile) std::remove(ResolvePath(base + "t" + line + sndExt).c_str());
        std::remove(ResolvePath(base + "tts" + line + sndExt).c_str());
    }
}

const std::string& VoiceState::VoiceDir() const {
    return voiceDir[language >= 0 && language < kLanguages ? language : 0];
}

std::string VoiceState::ResolveVocPath(const char* name) const {
    std::string path = name ? name : "";
    if (!HasFileExt(path.c_str())) path += sndExt;
    return IsPlacedPath(path) ? path : VoiceDir() + path;
}

std::string VoiceState::JoinFilePath() const {
    return VoiceDir() + "t" + std::to_string(root_.lineNo) + sndExt;
}

int32_t VoiceState::SetPlayToFile(uint8_t on) {
    playToFile = on;
    if (!on) return 0;
    return FileHandle::Open(ResolvePath(JoinFilePath()).c_str(), "wb") ? 0 : -1;
}

int32_t VoiceState::AppendToJoinFile(const std::string& path) const {
    FileHandle join = FileHandle::Open(ResolvePath(JoinFilePath()).c_str(), "r+b");
    if (!join) return -1;
    return JoinWavFiles(join.get(), ResolvePath(path)) < 0 ? -1 : 0;
}

int32_t VoiceState::PlayVoice(TagKvCall& call, const char* name) const {
    std::string path = ResolveVocPath(name);
    return playToFile ? AppendToJoinFile(path) : PlayFile(call, path.c_str());
}

void VoiceState::StarToPoint(uint8_t toPoint, std::string& keys) {
    for (char& c : keys) {
        if (toPoint && c == '*')
            c = '.';
        else if (!toPoint && c == '.')
            c = '*';
    }
}

std::optional<MemStruct> VoiceState::FindMemVoc(const char* name) const {
    return ::zz::FindMemVoc(memVocs, TagMemVocs::Process(), name);
}

int32_t VoiceState::PlayFile(TagKvCall& call, const char* name) const {
    return ::zz::PlayFile(call, memVocs, TagMemVocs::Process(), name, breakOnKey);
}

int PlayFile(TagKvCall& call, const TagMemVocs& line, const TagMemVocs& process, const char* name, int32_t breakOnKey) {
    if (!name) name = "";
    // The copy keeps the voice alive for the whole play even when it is unloaded meanwhile.
    if (auto voc = FindMemVoc(line, process, name)) {
        return call.PlayMemory(voc->data->data(), 0, voc->length, 0, breakOnKey);
    }
    char buf[1024];
    size_t n = std::min(std::strlen(name), sizeof(buf) - 1);
    std::memcpy(buf, name, n);
    buf[n] = '\0';
    return call.Play(buf, breakOnKey, 0);
}

} // namespace zz
