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
    // Programs built for the line so far (under programLock): a reload knows a line has rebuilt by it, as a new
    // program may take the freed one's address.
    uint32_t builds = 0;

    // Threads working for the line (its loading thread, which goes on as its run thread). While one is alive
    // the program in the entry is that thread's; when none is, the manager frees it.
    std::atomic<int32_t> threads{0};
    // Set while the line is being closed: a thread still waiting to run gives up, and a thread that ends
    // frees its own program.
    std::atomic<bool> closing{false};
    // A thread did not end when the line was closed: its program, call object and entry are left to it.
    std::atomic<bool> abandoned{false};
};

} // namespace zz
