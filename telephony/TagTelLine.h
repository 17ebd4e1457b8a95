#pragma once
// One entry of the line table: the line's number, display name, script file, driver and call object.
#include "telephony/TagKvCall.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zz {

class TagKvCard;
class TagTelBasic;

class TagTelLine {
public:
    static constexpr size_t kNameSize = 84; // NUL included

    TagTelLine(int32_t lineNo, TagKvCard* card);
    ~TagTelLine();
    TagTelLine(const TagTelLine&) = delete;
    TagTelLine& operator=(const TagTelLine&) = delete;

    // Copies a non-null text, cut to the field without splitting a double-byte character.
    void SetName(const char* text);

    int32_t lineNo;
    char name[kNameSize] = {};
    std::string scriptFile;
    std::atomic<bool> loaded{true};
    TagKvCard* card;
    std::unique_ptr<TagKvCall> call;
    // The line's program: owned and deleted by the line thread that runs it, published here under
    // programLock so that readers never see it freed.
    std::mutex programLock;
    TagTelBasic* program = nullptr;
};

} // namespace zz
