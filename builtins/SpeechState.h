#pragma once
// The line's speech settings and engines: the speech mode with its two texts, the pinyin syllable speaker and
// the text-to-speech voice: a family record of the line's main program.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/TagLineState.h"

namespace zz {

class CGetHypy;
class TagMsTTS;

class SpeechState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kSpeech;

    explicit SpeechState(TagTelBasic&);
    ~SpeechState() override;

    // Mode 1 binds the process-wide pinyin converter and loads its syllables from text1 when needed.
    int32_t SetSpeechMode(int32_t mode, const char* text1, const char* text2);
    int32_t HypySpeak(const char* text, const char* outFile);
    // Speaks into a file with the line's text-to-speech voice, made on first use; stop ends the speech early.
    int32_t MsTtsSpeak(const char* text, const char* file, int32_t flag, int32_t format,
                       const std::function<bool()>& stop = {});

    int32_t speechMode = 0;
    std::string speechText1, speechText2;

private:
    CGetHypy* hypy_ = nullptr;
    std::unique_ptr<TagMsTTS> msTts_;
};

} // namespace zz
