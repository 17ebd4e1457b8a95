#pragma once
// The process's append files: log files by name that every line writes time-stamped lines into. A file idle for
// more than 10 minutes is closed at the next append to any file and opened again on its next use.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/FileHandle.h"

namespace zz {

// One append file: the stream and the time of its last write or opening, under the file's own lock, so lines
// from different threads never interleave.
class TTxtRec {
public:
    explicit TTxtRec(FileHandle file);
    // mode 0: the text alone; 1: the text and a line feed; 2: "date time.ms : " in front; 3 or more:
    // "date time.ms [line]: " in front. 0 written, -1 when the record was closed (its file is looked up again).
    int32_t Write(int32_t line, std::string_view text, int32_t mode);
    // Closes the file when it has been idle for more than idleMs of Clock time (idleMs below 0: at once); true
    // when it did.
    bool CloseIfIdle(int64_t idleMs);

private:
    std::mutex m_;
    FileHandle file_;
    uint32_t lastUse_;
};

class TTxtAppend {
public:
    static constexpr int64_t kIdleMs = 600000;

    // 0 written, -1 when the file cannot be opened. Closes idle files afterwards.
    int32_t Append(const std::string& name, int32_t line, std::string_view text, int32_t mode);
    // 0 closed, -1 unknown name.
    int32_t Close(const std::string& name);
    // The number of idle files closed.
    int32_t CloseIdle();
    size_t Count();

private:
    std::mutex m_; // the map; taken before a record's lock, never inside it
    std::map<std::string, std::shared_ptr<TTxtRec>> files_;
};

// The one table of the process.
TTxtAppend& TheTxtAppend();

} // namespace zz
