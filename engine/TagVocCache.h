#pragma once
// Voices kept in memory by LoadVocFile: one cache per line's main program and one for the whole process.
// Playing looks in the line's cache first, then in the process's. Data is shared, so a voice being played
// stays valid while another thread unloads or clears it.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zz {

struct MemStruct {
    std::shared_ptr<const std::vector<uint8_t>> data;
    int32_t length = 0;
    int32_t word = 0; // kept as the caller gave it
};

class TagMemVocs {
public:
    TagMemVocs() = default;
    TagMemVocs(const TagMemVocs&) = delete;
    TagMemVocs& operator=(const TagMemVocs&) = delete;

    // The cache of the whole process.
    static TagMemVocs& Process();

    // The file's length; -1 for an empty name; -2 when it is already cached or cannot be loaded (missing,
    // empty or unreadable; a file that cannot be opened is logged).
    int32_t Load(const char* name, int32_t word);
    void Unload(const char* name);
    void Clear();
    std::optional<MemStruct> Find(const char* name) const;
    size_t Count() const;

private:
    mutable std::mutex lock;
    std::map<std::string, MemStruct> voices;
};

// 1 when the last component of path (after the last '\' or '/') holds a '.', else 0.
int HasFileExt(const char* path);

// The voice from the line's cache, else from the process's; none when neither holds it.
std::optional<MemStruct> FindMemVoc(const TagMemVocs& line, const TagMemVocs& process, const char* name);

} // namespace zz
