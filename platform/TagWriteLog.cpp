#include "platform/TagWriteLog.h"

#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/SysTime.h"

#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zz {

// One thread's pending lines: the thread alone appends at head; whoever holds the log's lock drains from tail, so
// lines leave in the order they were written and a writer never waits for another thread's lines.
struct TagWriteLog::Ring {
    struct Slot {
        char head[kHeadLen + 1]{};
        char text[kTextLen + 1]{};
    };
    Slot slots[kSlots];
    std::atomic<uint32_t> head{0}; // written by the owning thread
    std::atomic<uint32_t> tail{0}; // written under the log's lock
    bool Full() const {
        return head.load(std::memory_order_relaxed) - tail.load(std::memory_order_acquire) >= uint32_t(kSlots);
    }
};

namespace {

std::atomic<int> g_logLevel{0};
std::atomic<TagWriteLog*> g_runLog{nullptr};
std::mutex g_rawLock;
std::string g_rawDir;

// Live logs by id, so a thread that ends can hand its ring back only to a log that still exists.
std::mutex g_registryLock;
std::map<uint64_t, TagWriteLog*> g_registry;
uint64_t g_nextId = 1;

struct RingOwner {
    std::vector<uint64_t> logs;
    ~RingOwner() {
        uint32_t tid = CurrentThreadId();
        std::lock_guard<std::mutex> lk(g_registryLock);
        for (uint64_t id : logs) {
            auto it = g_registry.find(id);
            if (it != g_registry.end()) it->second->ReleaseRing(tid);
        }
    }
};
thread_local RingOwner t_owner;

// The ring this thread used last, so that a line costs no lookup under the lock.
struct RingCache {
    uint64_t logId = 0;
    TagWriteLog::Ring* ring = nullptr;
};
thread_local RingCache t_cache;

void FormatHead(char* out, size_t size) {
    LocalTime t = GetLocalTime();
    snprintf(out, size, "%d-%02d-%02d %02d:%02d:%02d.%03d 0x%x [", t.year, t.month, t.day, t.hour, t.minute, t.second,
             t.millisecond, CurrentThreadId());
}

} // namespace

TagWriteLog::TagWriteLog(const std::string& fileName, int32_t sizeLimit, bool immediate, bool fixedName)
    : sizeLimit_(sizeLimit), immediate_(immediate), fixedName_(fixedName) {
    {
        std::lock_guard<std::mutex> lk(g_registryLock);
        id_ = g_nextId++;
        g_registry[id_] = this;
    }
    if (fileName.empty()) return;
    SplitName(fileName);
    std::lock_guard<std::recursive_mutex> lk(lock_);
    OpenFile();
    if (PutLocked({"\nSystem Start...\n"})) EndWriteLocked();
}

TagWriteLog::~TagWriteLog() {
    {
        std::lock_guard<std::mutex> lk(g_registryLock);
        g_registry.erase(id_);
    }
    TagWriteLog* self = this;
    g_runLog.compare_exchange_strong(self, nullptr);
    std::lock_guard<std::recursive_mutex> lk(lock_);
    FlushLocked();
    if (PutLocked({"System Closed.\n"})) file_.Close();
    rings_.clear();
}

void TagWriteLog::SplitName(const std::string& fileName) {
    if (fixedName_) {
        baseName_ = fileName;
        ext_.clear();
        return;
    }
    size_t dot = std::string::npos;
    for (size_t i = fileName.size(); i-- > 0;) {
        if (fileName[i] == '\\' || fileName[i] == '/') break;
        if (fileName[i] == '.') {
            dot = i;
            break;
        }
    }
    if (dot == std::string::npos) {
        baseName_ = fileName;
        ext_.clear();
    } else {
        baseName_ = fileName.substr(0, dot);
        ext_ = fileName.substr(dot);
    }
}

// Logs hold what callers key in (account numbers, PINs): the platform's user and group only may read them.
static FileHandle OpenForUpdate(const std::string& name, bool truncate) {
    return FileHandle::OpenPrivate(name.c_str(), truncate ? "w+" : "r+");
}

void TagWriteLog::OpenFile() {
    if (baseName_.empty()) return;
    if (file_) {
        file_.Close();
    }
    fullName_ = baseName_;
    if (!fixedName_) {
        LocalTime t = GetLocalTime();
        char stamp[32];
        snprintf(stamp, sizeof stamp, "%d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
        sameSecond_ = stamp_ == stamp ? sameSecond_ + 1 : 0;
        stamp_ = stamp;
        fullName_ += stamp;
        // A further file of the same second: three digits sort after the plain name and in order among
        // themselves in a listing, and are more than one second of lines can fill.
        if (sameSecond_ > 0) {
            snprintf(stamp, sizeof stamp, "_%03d", int(sameSecond_));
            fullName_ += stamp;
        }
        fullName_ += ext_;
    }
    file_ = OpenForUpdate(fullName_, false);
    if (!file_) return;
    fseek(file_.get(), 0, SEEK_END);
    written_ = ftell(file_.get());
    // A dated log that is already full (one of an earlier run in the same second) gives way to the next name
    // at the first line; only the fixed name is moved aside.
    if (fixedName_ && sizeLimit_ > 0 && written_ > sizeLimit_) {
        file_.Close();
        std::string bak = baseName_ + ".bak";
        if (::rename(fullName_.c_str(), bak.c_str()) != 0) {
            // Cannot move (another file system): copy, then start the log afresh.
            FileHandle in = FileHandle::Open(fullName_.c_str(), "rb");
            FileHandle out = FileHandle::OpenPrivate(bak.c_str(), "wb");
            if (in && out) {
                char buf[65536];
                size_t n;
                while ((n = fread(buf, 1, sizeof buf, in.get())) > 0)
                    fwrite(buf, 1, n, out.get());
            }
        }
        file_ = OpenForUpdate(fullName_, true);
        written_ = 0;
    }
}

TagWriteLog::Ring* TagWriteLog::RingOfThisThread() {
    if (t_cache.logId == id_ && t_cache.ring) return t_cache.ring;
    uint32_t tid = CurrentThreadId();
    std::lock_guard<std::recursive_mutex> lk(lock_);
    auto it = rings_.find(tid);
    Ring* r;
    if (it != rings_.end()) {
        r = it->second.get();
    } else {
        auto ring = std::make_shared<Ring>();
        r = ring.get();
        rings_[tid] = std::move(ring);
        t_owner.logs.push_back(id_);
    }
    t_cache = {id_, r};
    return r;
}

int TagWriteLog::AddLine(const char* text) {
    Ring* ring = RingOfThisThread();
    if (ring->Full()) {
        std::lock_guard<std::recursive_mutex> lk(lock_);
        // Without a file the oldest pending line gives way.
        if (DrainLocked(*ring) < 0)
            ring->tail.fetch_add(1, std::memory_order_release);
        else
            EndWriteLocked();
    }
    uint32_t h = ring->head.load(std::memory_order_relaxed);
    Ring::Slot& slot = ring->slots[h % kSlots];
    FormatHead(slot.head, sizeof slot.head);
    std::string_view t(text ? text : "");
    size_t n = GbkSafeCut(t, kTextLen);
    memcpy(slot.text, t.data(), n);
    slot.text[n] = 0;
    ring->head.store(h + 1, std::memory_order_release);
    if (immediate_) {
        // Only this thread's lines: a busy installation's every line must not walk every other thread's ring.
        std::lock_guard<std::recursive_mutex> lk(lock_);
        if (DrainLocked(*ring) > 0) EndWriteLocked();
    }
    return 0;
}

int32_t TagWriteLog::Flush() {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    return FlushLocked();
}

int32_t TagWriteLog::DrainLocked(Ring& ring) {
    if (!file_) return -1;
    int32_t count = 0;
    const uint32_t head = ring.head.load(std::memory_order_acquire);
    for (uint32_t t = ring.tail.load(std::memory_order_relaxed); t != head; ++t, ++count) {
        const Ring::Slot& s = ring.slots[t % kSlots];
        // A next file that cannot be opened keeps the rest pending.
        if (!PutLocked({s.head, s.text, "]\n"})) return count > 0 ? count : -1;
        ring.tail.store(t + 1, std::memory_order_release);
    }
    return count;
}

bool TagWriteLog::PutLocked(std::initializer_list<const char*> parts) {
    if (!file_) return false;
    int64_t len = 0;
    for (const char* p : parts)
        len += int64_t(strlen(p));
    // The limit holds for every file at any rate; a line longer than the limit alone starts a file of its own.
    if (sizeLimit_ > 0 && written_ > 0 && written_ + len > sizeLimit_) {
        if (fixedName_) {
            fflush(file_.get());
            fseek(file_.get(), 0, SEEK_SET);
            written_ = 0;
        } else {
            // A name already taken by a file that cannot take the line (an earlier run in the same second)
            // moves on to the next one.
            do {
                OpenFile();
            } while (file_ && written_ > 0 && written_ + len > sizeLimit_);
            if (!file_) return false;
        }
    }
    for (const char* p : parts)
        fputs(p, file_.get());
    written_ += len;
    return true;
}

void TagWriteLog::EndWriteLocked() {
    if (file_) fflush(file_.get());
}

int32_t TagWriteLog::FlushLocked() {
    if (!file_) return -1;
    // A file removed under the log (a clean-up of old logs, an operator) is not written on unseen: the next
    // lines start a new one. Every display tick looks.
    struct stat st {};
    if (fstat(fileno(file_.get()), &st) == 0 && st.st_nlink == 0) {
        OpenFile();
        if (!file_) return -1;
    }
    int32_t count = 0;
    for (auto& [tid, ring] : rings_) {
        const int32_t n = DrainLocked(*ring);
        if (n < 0) break;
        count += n;
    }
    if (count > 0) EndWriteLocked();
    return count;
}

void TagWriteLog::ReleaseRing(uint32_t threadId) {
    std::lock_guard<std::recursive_mutex> lk(lock_);
    auto it = rings_.find(threadId);
    if (it == rings_.end()) return;
    Ring& ring = *it->second;
    if (DrainLocked(ring) > 0) EndWriteLocked();
    // Lines that could not be written (no file) are kept with the ring until the log goes.
    if (ring.head.load(std::memory_order_acquire) != ring.tail.load(std::memory_order_acquire)) return;
    if (t_cache.ring == &ring) t_cache = {};
    rings_.erase(it);
}

void SetLogLevel(int level) {
    g_logLevel.store(level, std::memory_order_relaxed);
}
int GetLogLevel() {
    return g_logLevel.load(std::memory_order_relaxed);
}
void SetRunLog(TagWriteLog* log) {
    g_runLog.store(log, std::memory_order_release);
}
TagWriteLog* GetRunLog() {
    return g_runLog.load(std::memory_order_acquire);
}

void WriteRunLogAlways(const char* text) {
    if (TagWriteLog* log = GetRunLog()) log->AddLine(text);
    if (GetLogLevel() > 2) RawLog(text);
}

void WriteRunLog(const char* text) {
    if (GetLogLevel() == 0) return;
    WriteRunLogAlways(text);
}

void WriteRunLogF(const char* fmt, ...) {
    if (GetLogLevel() == 0) return;
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteRunLogAlways(buf);
}

void SetRawLogDir(const std::string& dir) {
    std::lock_guard<std::mutex> lk(g_rawLock);
    g_rawDir = dir;
}

void RawLog(const char* text) {
    if (GetLogLevel() < 2) return;
    char head[64];
    FormatHead(head, sizeof head);
    std::lock_guard<std::mutex> lk(g_rawLock);
    std::string name = g_rawDir.empty() ? "RawLog.txt" : g_rawDir + "/RawLog.txt";
    FileHandle f = FileHandle::OpenPrivate(name.c_str(), "a");
    if (!f) return;
    fputs(head, f.get());
    fputs(text ? text : "", f.get());
    fputs("]\n", f.get());
}

void RawLogF(const char* fmt, ...) {
    if (GetLogLevel() < 2) return;
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    RawLog(buf);
}

void FormatTimeStamp(char* buf) {
    LocalTime t = GetLocalTime();
    // Every field is bounded: 4+2+2+1+2+1+2+1+2+1+3 = 21 characters.
    snprintf(buf, 22, "%u%02u%02u %02u:%02u:%02u.%03u", unsigned(t.year) % 10000u, unsigned(t.month) % 100u,
             unsigned(t.day) % 100u, unsigned(t.hour) % 100u, unsigned(t.minute) % 100u, unsigned(t.second) % 100u,
             unsigned(t.millisecond) % 1000u);
}

} // namespace zz
