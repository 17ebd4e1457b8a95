#include "builtins/TStdOut.h"

#include <cstring>
#include <string>

#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

int32_t TStdOut::Open(const char* path) {
    Close();
    if (!path || !*path) {
        mode_ = kConsole;
        return kConsole;
    }
    mode_ = kFile;
    std::string mapped = MapPath(path);
    file_ = FileHandle::Open(mapped.c_str(), "ab");
    return file_ ? 0 : -1;
}

TStdOut& PrintState::Opened(int32_t line) {
    if (!target.IsOpen()) {
        char name[32];
        std::snprintf(name, sizeof name, "_stdout%d.txt", line);
        target.Open(name);
    }
    return target;
}

int32_t TStdOut::Print(int32_t number, const char* text) {
    if (!text) text = "";
    if (mode_ == kConsole) {
        // Files stay GBK; what the operator reads on the terminal is in the terminal's own encoding.
        std::printf("%d : %s\n", number, GbkToTerminal(text).c_str());
        std::fflush(stdout);
        return 0;
    }
    if (mode_ == kFile && file_) {
        std::fwrite(text, 1, std::strlen(text), file_.get());
        std::fflush(file_.get());
        return 0;
    }
    WriteRunLog("TStdOut::Print() Err: not open.");
    return -1;
}

void TStdOut::Close() {
    file_.Close();
    mode_ = kClosed;
}

} // namespace zz
