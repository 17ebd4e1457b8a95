#pragma once
// The log file a database back end keeps for its statements and failures: "<name>.log" in the working
// directory, one line "[<time stamp>] <text>" per entry, flushed at once so that a crash loses nothing.
#include <string>

#include "platform/FileHandle.h"

namespace zz {

class BackEndLog {
public:
    BackEndLog() = default;
    ~BackEndLog() { Close(); }
    BackEndLog(const BackEndLog&) = delete;
    BackEndLog& operator=(const BackEndLog&) = delete;

    // Opens "<logName>.log" for appending; false when it cannot be opened (the back end then runs without one).
    bool Open(const std::string& logName);
    void Close();
    bool IsOpen() const { return bool(file_); }
    // "[%s] %s\n" with the time stamp.
    void Write(const char* text);
    // The text as given, no stamp.
    void WriteRaw(const char* text);

private:
    FileHandle file_;
};

} // namespace zz
