#pragma once
// The line's voice settings (directories by language, break and end keys, time-out voice, file extension,
// play-to-file) and its cache of voices held in memory: a family record of the line's main program.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/TagLineState.h"
#include "engine/TagVocCache.h"

namespace zz {

class TagKvCall;

class VoiceState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kVoice;
    static constexpr int32_t kLanguages = 3;

    explicit VoiceState(TagTelBasic& root) : root_(root) {}
    // Removes the line's temporary voice files ("t<line>" and "tts<line>" in every language's directory).
    ~VoiceState() override;

    // The voice directory of the current language.
    const std::string& VoiceDir() const;
    // A voice file name of a script completed: the extension added when the name has none, then the current
    // language's voice directory put in front unless the name is a path already.
    std::string ResolveVocPath(const char* name) const;
    // The line's join file "t<line>" in the current language's directory, with the voice extension.
    std::string JoinFilePath() const;
    // With the flag on, creates or empties the line's join file; -1 when it cannot be created.
    int32_t SetPlayToFile(uint8_t on);
    // Appends the voice file at path (a resolved voice path) to the join file as one more piece of WAV data:
    // 0; -1 when the join file or the voice file cannot be opened (the voice file's failure is logged).
    int32_t AppendToJoinFile(const std::string& path) const;
    // What Play does with a voice name: plays it on the call, or appends it to the join file in play-to-file
    // mode. The call's result, or AppendToJoinFile's.
    int32_t PlayVoice(TagKvCall& call, const char* name) const;
    // "*" to "." (toPoint 1) or back, in place.
    static void StarToPoint(uint8_t toPoint, std::string& keys);
    // The voice held in memory under name (the line's cache, then the process's), or none.
    std::optional<MemStruct> FindMemVoc(const char* name) const;
    // Plays one voice on the call: from memory when a cache holds it, else from the file (the name cut to 1023
    // bytes). Returns what the call returned.
    int32_t PlayFile(TagKvCall& call, const char* name) const;

    std::string voiceDir[kLanguages];
    int32_t language = 0;
    uint8_t breakOnKey = 1;
    char endKey = '#';
    std::string timeoutVoice = "timeout.wav";
    int32_t timeoutVoiceOn = 1;
    std::string sndExt = ".WAV";
    uint8_t playToFile = 0;
    uint8_t starToPoint = 1;
    TagMemVocs memVocs;

private:
    TagTelBasic& root_;
};

// Plays one voice on a call from the line's cache, the process's cache or the file.
int PlayFile(TagKvCall& call, const TagMemVocs& line, const TagMemVocs& process, const char* name, int32_t breakOnKey);

} // namespace zz
