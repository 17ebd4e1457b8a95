#include "data/BackEndLog.h"

#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

bool BackEndLog::Open(const std::string& logName) {
    Close();
    if (logName.empty()) return false;
    // Scripts name the log the Windows way ("log\app"): map the separators before opening.
    file_ = std::fopen(MapPath(logName + ".log").c_str(), "a+");
    return file_ != nullptr;
}

void BackEndLog::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void BackEndLog::Write(const char* text) {
    if (!file_) return;
    char stamp[32];
    FormatTimeStamp(stamp);
    std::fprintf(file_, "[%s] %s\n", stamp, text ? text : "");
    std::fflush(file_);
}

void BackEndLog::WriteRaw(const char* text) {
    if (!file_ || !text) return;
    std::fputs(text, file_);
    std::fflush(file_);
}

} // namespace zz
