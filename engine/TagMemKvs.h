#pragma once
// The process-wide cache of script texts: loading one script on many lines reads the disk once. Texts are
// handed out as shared buffers, so a Clear on another thread never frees a text a loader is still reading.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace zz {

// The file's last modification in the packed file-system form: date in the high 16 bits, time (2-second
// steps) in the low 16; 0 when the file cannot be examined.
uint32_t FileStamp(const std::string& path);

struct FileBuffNode {
    uint32_t stamp = 0;
    // The text followed by its NUL (std::string keeps one after size()).
    std::shared_ptr<const std::string> text;
};

class TagMemKvs {
public:
    TagMemKvs() = default;
    ~TagMemKvs();
    TagMemKvs(const TagMemKvs&) = delete;
    TagMemKvs& operator=(const TagMemKvs&) = delete;

    // The one cache of the process.
    static TagMemKvs& Process();

    // The text of the file (the key is the name exactly as given) and its length, or null. With checkStamp a
    // cached text older than the file is read again. A stored-transformed file (first byte 1) is not
    // supported: it is rejected with a run-log line unless keepStored asks for the stored bytes.
    std::shared_ptr<const std::string> GetFileBuff(const char* name, int32_t* length, bool keepStored, bool checkStamp,
                                                   bool* transformed);
    void Clear();
    size_t Count() const;

private:
    mutable std::mutex lock;
    std::map<std::string, FileBuffNode> nodes;
};

} // namespace zz
