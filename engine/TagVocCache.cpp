#include "engine/TagVocCache.h"
#include "platform/FileHandle.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

constexpr size_t kReadPiece = 2048;

// The whole voice file: its length, -2 when it cannot be opened (logged), -3 when it is empty or too long.
int32_t LoadMemStruct(const char* name, int32_t word, MemStruct& out) {
    if (out.data || out.length) return -1;
    FileHandle fFile = FileHandle::Open(ResolvePath(name).c_str(), "rb");
    FILE* f = fFile.get();
    if (!f) {
        std::string line = " LoadVocFile() error : ";
        line += name;
        WriteRunLogAlways(line.c_str());
        return -2;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size <= 0 || size > INT32_MAX || std::fseek(f, 0, SEEK_SET) != 0) {
        fFile.Close();
        return -3;
    }
    out.word = word;
    auto data = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(size));
    size_t got = 0;
    while (got < data->size()) {
        size_t want = std::min(kReadPiece, data->size() - got);
        size_t n = std::fread(data->data() + got, 1, want, f);
        if (n == 0) break;
        got += n;
    }
    fFile.Close();
    data->resize(got);
    out.length = static_cast<int32_t>(got);
    out.data = std::move(data);
    return out.length;
}

} // namespace

TagMemVocs& TagMemVocs::Process() {
    static TagMemVocs cache;
    return cache;
}

int32_t TagMemVocs::Load(const char* name, int32_t word) {
    if (!name || !*name) return -1;
    std::lock_guard<std::mutex> guard(lock);
    if (voices.count(name)) return -2;
    MemStruct voc;
    LoadMemStruct(name, word, voc);
    if (!voc.data || voc.length == 0) return -2;
    voices.emplace(name, voc);
    return voc.length;
}

void TagMemVocs::Unload(const char* name) {
    if (!name) return;
    MemStruct old;
    std::lock_guard<std::mutex> guard(lock);
    auto it = voices.find(name);
    if (it == voices.end()) return;
    old = std::move(it->second);
    voices.erase(it);
}

void TagMemVocs::Clear() {
    std::map<std::string, MemStruct> old;
    std::lock_guard<std::mutex> guard(lock);
    old.swap(voices);
}

std::optional<MemStruct> TagMemVocs::Find(const char* name) const {
    if (!name) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock);
    auto it = voices.find(name);
    if (it == voices.end()) return std::nullopt;
    return it->second;
}

size_t TagMemVocs::Count() const {
    std::lock_guard<std::mutex> guard(lock);
    return voices.size();
}

int HasFileExt(const char* path) {
    if (!path) return 0;
    const char* last = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/') last = p + 1;
    }
    return std::strchr(last, '.') ? 1 : 0;
}

std::optional<MemStruct> FindMemVoc(const TagMemVocs& line, const TagMemVocs& process, const char* name) {
    if (auto voc = line.Find(name)) return voc;
    return process.Find(name);
}

} // namespace zz
