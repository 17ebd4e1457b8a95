#include "builtins/SpeechState.h"

#include "media/CGetHypy.h"
#include "media/TagMsTTS.h"

namespace zz {

SpeechState::SpeechState(TagTelBasic&) {}
SpeechState::~SpeechState() = default;

int32_t SpeechState::SetSpeechMode(int32_t mode, const char* text1, const char* text2) {
    speechMode = mode;
    speechText1 = text1 ? text1 : "";
    speechText2 = text2 ? text2 : "";
    if (mode != 1) return 0;
    hypy_ = &TheHypy();
    if (hypy_->State() == 0) return 0;
    return hypy_->LoadVocLib(speechText1);
}

int32_t SpeechState::HypySpeak(const char* text, const char* outFile) {
    if (!hypy_) hypy_ = &TheHypy();
    if (hypy_->State() != 0) hypy_->LoadVocLib(speechText1);
    return hypy_->TextToWav(text ? text : "", outFile ? outFile : "");
}

int32_t SpeechState::MsTtsSpeak(const char* text, const char* file, int32_t flag, int32_t format,
                                const std::function<bool()>& stop) {
    if (!msTts_) msTts_ = std::make_unique<TagMsTTS>();
    return msTts_->SpeakToFile(text ? text : "", file ? file : "", flag != 0, format, stop);
}

} // namespace zz
