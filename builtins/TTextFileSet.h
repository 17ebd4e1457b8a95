#pragma once
// A line's open text files by handle, for the file builtins: handles 0, 1, 2... in the order the files open,
// never reused within one program; every file closes with the line's program.
#include <cstdint>
#include <map>
#include <memory>

#include "engine/TagLineState.h"
#include "platform/FileHandle.h"

namespace zz {

class TagVar;

// One open file. Mode letters, anywhere and combined: "r" read, "w" write and truncate, "a" append (write at
// the end), "+" read and write (ignored beside "a"), "b" binary.
class TTextFileRead {
public:
    TTextFileRead(const char* name, const char* mode);
    bool IsOpen() const { return bool(file_); }
    // The stream, positioned for the next read or write (a stream switches direction only after a seek).
    FILE* ForRead();
    FILE* ForWrite();

private:
    FileHandle file_;
    int8_t last_ = 0; // 1 read, 2 write
};

class TTextFileSet {
public:
    static constexpr int32_t kLineMax = 8191;

    // The new handle, or -1 when the file cannot be opened (or the mode names no way to open it).
    int32_t Open(const char* name, const char* mode);
    void Close(int32_t handle);
    void CloseAll();
    size_t Count() const { return files_.size(); }

    // An unknown handle leaves var an empty string and gives 0, except where said.
    // The rest of the file into var (binary-safe): its length.
    int32_t ReadAll(int32_t handle, TagVar& var);
    // At most count (1 or more) bytes into var: how many.
    int32_t Read(int32_t handle, int32_t count, TagVar& var);
    // The next line (up to 8191 bytes), cut at its first CR or LF: its length; -1 at the end, on error or for an
    // unknown handle (var empty).
    int32_t ReadLine(int32_t handle, TagVar& var);
    // Every remaining line as element i (from 0) of arr: the number of lines.
    int32_t ReadLines(int32_t handle, TagVar& arr);
    // Every remaining line as a key of arr whose value is its number from 1 (a later equal line wins): the number
    // of lines plus 1.
    int32_t MapLines(int32_t handle, TagVar& arr);
    // Moves the position by offset from where it is: offset.
    int32_t Seek(int32_t handle, int32_t offset);
    // A string's exact bytes, any other value's text form: 0.
    int32_t Write(int32_t handle, const TagVar& value);

private:
    TTextFileRead* Find(int32_t handle);
    // The line into buf (cut), or false at the end.
    bool NextLine(TTextFileRead* f, char* buf, int32_t& len);
    // take(key scratch, arr, line, index) for every remaining line: the count, -1 for an unknown handle.
    template <class Fn> int32_t EachLine(int32_t handle, TagVar& arr, Fn take);

    std::map<int32_t, std::unique_ptr<TTextFileRead>> files_;
    int32_t next_ = 0;
};

// The line's text files.
class TextFileState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kTextFiles;
    explicit TextFileState(TagTelBasic&) {}
    TTextFileSet files;
};

} // namespace zz
