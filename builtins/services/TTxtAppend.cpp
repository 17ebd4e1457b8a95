#include "builtins/services/TTxtAppend.h"

#include <cstdio>

#include "platform/Clock.h"
#include "platform/PathMap.h"
#include "platform/SysTime.h"

namespace zz {

TTxtRec::TTxtRec(FileHandle file) : file_(std::move(file)), lastUse_(GetTickCount()) {}

int32_t TTxtRec::Write(int32_t line, std::string_view text, int32_t mode) {
    char prefix[80] = "";
    if (mode >= 2) {
        const LocalTime t = GetLocalTime();
        if (mode == 2)
            std::snprintf(prefix, sizeof prefix, "%d-%02d-%02d %02d:%02d:%02d.%03d : ", t.year, t.month, t.day, t.hour,
                          t.minute, t.second, t.millisecond);
        else
            std::snprintf(prefix, sizeof prefix, "%d-%02d-%02d %02d:%02d:%02d.%03d [%d]: ", t.year, t.month, t.day,
                          t.hour, t.minute, t.second, t.millisecond, line);
    }
    std::lock_guard<std::mutex> lk(m_);
    if (!file_) return -1;
    FILE* f = file_.get();
    std::fputs(prefix, f);
    std::fwrite(text.data(), 1, text.size(), f);
    if (mode != 0) std::fputc('\n', f);
    std::fflush(f);
    lastUse_ = GetTickCount();
    return 0;
}

bool TTxtRec::CloseIfIdle(int64_t idleMs) {
    std::lock_guard<std::mutex> lk(m_);
    if (idleMs >= 0 && int64_t(TicksSince(lastUse_)) <= idleMs) return false;
    file_.Close();
    return true;
}

int32_t TTxtAppend::Append(const std::string& name, int32_t line, std::string_view text, int32_t mode) {
    // A record closed between the look-up and the write (idle, or TextFileClose on another line) refuses the
    // write; the next look-up opens the file again.
    for (;;) {
        std::shared_ptr<TTxtRec> rec;
        {
            std::lock_guard<std::mutex> lk(m_);
            auto it = files_.find(name);
            if (it == files_.end()) {
                FileHandle f = FileHandle::Open(ResolvePath(name).c_str(), "ab");
                if (!f) return -1;
                it = files_.emplace(name, std::make_shared<TTxtRec>(std::move(f))).first;
            }
            rec = it->second;
        }
        if (rec->Write(line, text, mode) == 0) break;
    }
    CloseIdle();
    return 0;
}

int32_t TTxtAppend::Close(const std::string& name) {
    std::lock_guard<std::mutex> lk(m_);
    auto it = files_.find(name);
    if (it == files_.end()) return -1;
    it->second->CloseIfIdle(-1);
    files_.erase(it);
    return 0;
}

int32_t TTxtAppend::CloseIdle() {
    std::lock_guard<std::mutex> lk(m_);
    int32_t closed = 0;
    for (auto it = files_.begin(); it != files_.end();) {
        if (it->second->CloseIfIdle(kIdleMs)) {
            it = files_.erase(it);
            ++closed;
        } else {
            ++it;
        }
    }
    return closed;
}

size_t TTxtAppend::Count() {
    std::lock_guard<std::mutex> lk(m_);
    return files_.size();
}

TTxtAppend& TheTxtAppend() {
    static TTxtAppend table;
    return table;
}

} // namespace zz
