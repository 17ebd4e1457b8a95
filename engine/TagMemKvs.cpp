#include "engine/TagMemKvs.h"
#include "platform/FileHandle.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

uint32_t FileStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return 0;
    time_t t = st.st_mtime;
    struct tm tmv {};
    if (!localtime_r(&t, &tmv)) return 0;
    int year = tmv.tm_year + 1900;
    // The packed form starts in 1980 and ends in 2107; older or later times are held at the ends.
    if (year < 1980) return (1u << 21) | (1u << 16);
    if (year > 2107) year = 2107;
    uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(tmv.tm_mon + 1) << 5) |
                    static_cast<uint32_t>(tmv.tm_mday);
    uint32_t tim = (static_cast<uint32_t>(tmv.tm_hour) << 11) | (static_cast<uint32_t>(tmv.tm_min) << 5) |
                   static_cast<uint32_t>(tmv.tm_sec / 2);
    return (date << 16) | tim;
}

TagMemKvs::~TagMemKvs() {
    Clear();
}

TagMemKvs& TagMemKvs::Process() {
    static TagMemKvs cache;
    return cache;
}

namespace {

// The whole file, or false when it cannot be opened, is empty or is too long for a script length.
bool ReadWholeFile(const std::string& path, std::string& out) {
    FileHandle fFile = FileHandle::Open(path.c_str(), "rb");
    FILE* f = fFile.get();
    if (!f) return false;
    bool ok = false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long size = std::ftell(f);
        if (size >= 1 && size <= INT32_MAX - 1 && std::fseek(f, 0, SEEK_SET) == 0) {
            out.resize(static_cast<size_t>(size));
            size_t got = std::fread(out.data(), 1, out.size(), f);
            out.resize(got);
            ok = got > 0;
        }
    }
    fFile.Close();
    return ok;
}

} // namespace

std::shared_ptr<const std::string> TagMemKvs::GetFileBuff(const char* name, int32_t* length, bool keepStored,
                                                          bool checkStamp, bool* transformed) {
    if (length) *length = 0;
    if (transformed) *transformed = false;
    if (!name || !*name) return nullptr;
    std::string path = ResolvePath(name);
    uint32_t stamp = 1;
    if (checkStamp) {
        stamp = FileStamp(path);
        if (stamp == 0) return nullptr;
    }
    std::lock_guard<std::mutex> guard(lock);
    auto it = nodes.find(name);
    if (it != nodes.end()) {
        if (!checkStamp || it->second.stamp == stamp) {
            if (length) *length = static_cast<int32_t>(it->second.text->size());
            return it->second.text;
        }
        nodes.erase(it); // stale: holders of the old text keep it until they let go
    }
    std::string text;
    if (!ReadWholeFile(path, text)) return nullptr;
    if (!keepStored && static_cast<unsigned char>(text[0]) == 1) {
        WriteRunLogF("GetFileBuff: stored-transformed script not supported: %s", name);
        return nullptr;
    }
    auto shared = std::make_shared<const std::string>(std::move(text));
    nodes[name] = FileBuffNode{stamp, shared};
    if (length) *length = static_cast<int32_t>(shared->size());
    return shared;
}

void TagMemKvs::Clear() {
    std::map<std::string, FileBuffNode> old;
    {
        std::lock_guard<std::mutex> guard(lock);
        old.swap(nodes);
    }
}

size_t TagMemKvs::Count() const {
    std::lock_guard<std::mutex> guard(lock);
    return nodes.size();
}

} // namespace zz
