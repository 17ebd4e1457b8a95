#pragma once
// The voice files of the media engine: prompts decoded once into 16-bit samples and shared by every play of the
// same unchanged file, and recordings written as 8 kHz A-law WAV files.
#include "platform/FileHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zz {

struct VoicePcm {
    std::vector<int16_t> samples;
};

// The file's samples (WAV A-law, mu-law or 16-bit PCM at 8000 Hz, headerless A-law, or VOX); null when it
// cannot be read or holds no sound.
std::shared_ptr<const VoicePcm> LoadVoice(const std::string& path);

class VoiceRecorder {
public:
    // Creates the file with a header of no data; Ok() tells whether it could.
    explicit VoiceRecorder(const std::string& path);
    ~VoiceRecorder();
    VoiceRecorder(const VoiceRecorder&) = delete;
    VoiceRecorder& operator=(const VoiceRecorder&) = delete;

    bool Ok() const { return bool(file_); }
    void Write(const int16_t* samples, size_t n);
    // Completes the header and closes the file.
    void Close();
    int32_t Samples() const { return samples_; }

private:
    static constexpr int32_t kRefreshSamples = 8000;
    void WriteHeader();
    FileHandle file_;
    int32_t samples_ = 0;
};

} // namespace zz
