#include "builtins/VoiceState.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/TagTelBasic.h"
#include "platform/FileHandle.h"
#include "telephony/TagKvCall.h"

namespace zz {

VoiceState::~VoiceState() {
    if (root_.IsCalledProgram() || !root_.pKvCall) return;
    const std::string line = std::to_string(root_.lineNo);
    for (const std::string& base : voiceDir) {
        std::remove((base + "t" + line + sndExt).c_str());
        std::remove((base + "tts" + line + sndExt).c_str());
    }
}

const std::string& VoiceState::VoiceDir() const {
    return voiceDir[language >= 0 && language < kLanguages ? language : 0];
}

int32_t VoiceState::SetPlayToFile(uint8_t on) {
    playToFile = on;
    if (!on) return 0;
    std::string path = VoiceDir() + "t" + std::to_string(root_.lineNo) + sndExt;
    return FileHandle::Open(path.c_str(), "wb") ? 0 : -1;
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
