#include "builtins/TTextFileSet.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/TagVar.h"
#include "platform/PathMap.h"

namespace zz {

namespace {

// The stdio mode for a mode text, as a C++ file stream takes the same letters; null for a combination that
// opens nothing.
const char* StdioMode(const char* mode) {
    const bool r = std::strchr(mode, 'r'), w = std::strchr(mode, 'w'), a = std::strchr(mode, 'a');
    const bool plus = std::strchr(mode, '+') && !a;
    const bool in = r || plus;
    const bool out = w || a || plus;
    if (a) return w ? nullptr : in ? "a+" : "a";
    if (in && out) return w ? "w+" : "r+";
    if (out) return "w";
    return in ? "r" : nullptr;
}

void SetText(TagVar& var, const std::string& s) {
    var.SetStrN(s.data(), int32_t(s.size()));
}

} // namespace

TTextFileRead::TTextFileRead(const char* name, const char* mode) {
    const char* m = StdioMode(mode ? mode : "");
    if (name && m) file_ = FileHandle::Open(ResolvePath(name).c_str(), m);
}

FILE* TTextFileRead::ForRead() {
    if (last_ == 2) std::fseek(file_.get(), 0, SEEK_CUR);
    last_ = 1;
    return file_.get();
}

FILE* TTextFileRead::ForWrite() {
    if (last_ == 1) std::fseek(file_.get(), 0, SEEK_CUR);
    last_ = 2;
    return file_.get();
}

int32_t TTextFileSet::Open(const char* name, const char* mode) {
    auto f = std::make_unique<TTextFileRead>(name, mode);
    if (!f->IsOpen()) return -1;
    files_[next_] = std::move(f);
    return next_++;
}

void TTextFileSet::Close(int32_t handle) {
    files_.erase(handle);
}

void TTextFileSet::CloseAll() {
    files_.clear();
}

TTextFileRead* TTextFileSet::Find(int32_t handle) {
    auto it = files_.find(handle);
    return it == files_.end() ? nullptr : it->second.get();
}

int32_t TTextFileSet::ReadAll(int32_t handle, TagVar& var) {
    std::string all;
    if (TTextFileRead* f = Find(handle)) {
        char buf[1024];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f->ForRead())) > 0)
            all.append(buf, n);
    }
    SetText(var, all);
    return int32_t(all.size());
}

int32_t TTextFileSet::Read(int32_t handle, int32_t count, TagVar& var) {
    std::string got;
    TTextFileRead* f = Find(handle);
    // Read in pieces: count comes from the script and is no measure of the file.
    char buf[65536];
    while (f && count > 0 && got.size() < size_t(count)) {
        size_t n = std::fread(buf, 1, std::min(sizeof buf, size_t(count) - got.size()), f->ForRead());
        if (n == 0) break;
        got.append(buf, n);
    }
    SetText(var, got);
    return int32_t(got.size());
}

bool TTextFileSet::NextLine(TTextFileRead* f, char* buf, int32_t& len) {
    if (!f || !std::fgets(buf, kLineMax + 1, f->ForRead())) return false;
    len = int32_t(std::strcspn(buf, "\r\n"));
    buf[len] = '\0';
    return true;
}

int32_t TTextFileSet::ReadLine(int32_t handle, TagVar& var) {
    char buf[kLineMax + 1];
    int32_t len = 0;
    if (!NextLine(Find(handle), buf, len)) {
        var.SetStr("");
        return -1;
    }
    var.SetStrN(buf, len);
    return len;
}

template <class Fn> int32_t TTextFileSet::EachLine(int32_t handle, TagVar& arr, Fn take) {
    TTextFileRead* f = Find(handle);
    if (!f) {
        arr.SetStr("");
        return -1;
    }
    char buf[kLineMax + 1];
    int32_t len = 0, n = 0;
    TagVar key;
    while (NextLine(f, buf, len))
        take(key, arr, std::string_view(buf, size_t(len)), n++);
    return n;
}

int32_t TTextFileSet::ReadLines(int32_t handle, TagVar& arr) {
    int32_t n = EachLine(handle, arr, [](TagVar& key, TagVar& a, std::string_view line, int32_t i) {
        key.SetInt(i);
        a[key].SetStrN(line.data(), int32_t(line.size()));
    });
    return n < 0 ? 0 : n;
}

int32_t TTextFileSet::MapLines(int32_t handle, TagVar& arr) {
    int32_t n = EachLine(handle, arr, [](TagVar& key, TagVar& a, std::string_view line, int32_t i) {
        key.SetStrN(line.data(), int32_t(line.size()));
        a[key].SetInt(i + 1);
    });
    return n < 0 ? 0 : n + 1;
}

int32_t TTextFileSet::Seek(int32_t handle, int32_t offset) {
    if (TTextFileRead* f = Find(handle)) std::fseek(f->ForRead(), offset, SEEK_CUR);
    return offset;
}

int32_t TTextFileSet::Write(int32_t handle, const TagVar& value) {
    TTextFileRead* f = Find(handle);
    if (!f) return 0;
    if (value.type == TagVar::kString) {
        std::fwrite(value.Str(), 1, StrBytes(value), f->ForWrite());
    } else {
        std::string text = value.ToString();
        std::fwrite(text.data(), 1, text.size(), f->ForWrite());
    }
    return 0;
}

} // namespace zz
