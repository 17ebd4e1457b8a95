#pragma once
// Speaks a text into a voice file: 8 kHz mono in one of four formats. The root program keeps one for its line;
// between speeches it holds only the voice, every speech binds, fills and closes its own file.
#include "platform/FileHandle.h"
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace zz {

class TagMsTTS {
public:
    TagMsTTS();
    ~TagMsTTS();
    TagMsTTS(const TagMsTTS&) = delete;
    TagMsTTS& operator=(const TagMsTTS&) = delete;

    // 0 when the voice is ready.
    int32_t Init();
    // Creates the file for the next speech. Format code: 0 16-bit PCM, 1 A-law, 2 mu-law, other 8-bit PCM.
    int32_t BindFile(const std::string& fileName, int formatCode);
    // Speaks the text (Chinese or English) into the file and closes it: 0, the failure, or -1 when no file was
    // bound. stop ends the speech early (SpeechSynthesize).
    int32_t SpeakToFile(const std::string& text, const std::string& fileName, bool chinese, int formatCode,
                        const std::function<bool()>& stop = {});
    void Purge();
    void CloseStream();
    void Release();

    int32_t InitResult() const { return init_; }

private:
    bool voice_ = false;
    FileHandle stream_;
    int format_ = 0;
    int32_t init_;
};

} // namespace zz
