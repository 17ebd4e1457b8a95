#include "data/BackEndLog.h"

#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

bool BackEndLog::Open(const std::string& logName) {
    Close();
    if (logName.empty()) return false;
    // Scripts name the log the Windows way ("log\app"): map the separators before opening.
    file_ = FileHandle::Open(MapPath(logName + ".log").c_str(), "a+");
    return bool(file_);
}

void BackEndLog::Close() {
    file_.Close();
}

void BackEndLog::Write(const char* text) {
    if (!file_) return;
    char stamp[32];
    FormatTimeStamp(stamp);
    std::fprintf(file_.get(), "[%s] %s\n", stamp, text ? text : "");
    std::fflush(file_.get());
}

void BackEndLog::WriteRaw(const char* text) {
    if (!file_ || !text) return;
    std::fputs(text, file_.get());
    std::fflush(file_.get());
}

} // namespace zz
