#pragma once
// The run log: every thread queues lines into a ring of its own; the display tick writes every ring out in bulk,
// and a thread writes its own ring when it fills, when the thread ends, or at once in immediate mode. RawLog.txt takes
// start-up and shutdown progress.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/FileHandle.h"

namespace zz {

class TagWriteLog {
public:
    static constexpr int kSlots = 40;
    static constexpr int kHeadLen = 45;
    static constexpr int kTextLen = 127;

    TagWriteLog(const std::string& fileName, int32_t sizeLimit, bool immediate, bool fixedName);
    ~TagWriteLog();
    TagWriteLog(const TagWriteLog&) = delete;
    TagWriteLog& operator=(const TagWriteLog&) = delete;

    int AddLine(const char* text);
    // Lines written, or -1 when the file is not usable.
    int32_t Flush();

    const std::string& FileName() const { return fullName_; }

    struct Ring;
    // Called when a thread ends: its pending lines are written and its ring freed.
    void ReleaseRing(uint32_t threadId);

private:
    void SplitName(const std::string& fileName);
    void OpenFile();
    Ring* RingOfThisThread();
    int32_t FlushLocked();
    // Writes ring's pending lines (no flush): the count, or -1 without a file.
    int32_t DrainLocked(Ring& ring);
    // Writes one line made of parts where it fits within the size limit (moving on to the next file, or to the
    // start of a fixed one, first); false without a file.
    bool PutLocked(std::initializer_list<const char*> parts);
    void EndWriteLocked();

    std::map<uint32_t, std::shared_ptr<Ring>> rings_;
    std::recursive_mutex lock_;
    int32_t sizeLimit_;
    bool immediate_;
    bool fixedName_;
    std::string baseName_, ext_, fullName_;
    FileHandle file_;
    int64_t written_ = 0;    // the write position in file_
    std::string stamp_;      // the second the dated file was named after
    int32_t sameSecond_ = 0; // files opened before this one within that second
    uint64_t id_;
};

// Process-wide log level (IS_WRITE_LOG): 0 off, 1 run log, 2 also RawLog.txt, 3 or more run-log lines copied
// to RawLog.txt.
void SetLogLevel(int level);
int GetLogLevel();

// The process's run log; null when none is open. The owner (the program's start) sets and clears it.
void SetRunLog(TagWriteLog* log);
TagWriteLog* GetRunLog();

void WriteRunLog(const char* text);
void WriteRunLogAlways(const char* text);
void WriteRunLogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void RawLog(const char* text);
void RawLogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// "%d%02d%02d %02d:%02d:%02d.%03d" into buf (at least 22 bytes).
void FormatTimeStamp(char* buf);
// Directory where RawLog.txt goes (default: the working directory).
void SetRawLogDir(const std::string& dir);

} // namespace zz
