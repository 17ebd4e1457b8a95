#pragma once
// One owned stdio file: closed when the handle goes, on every way out of a function. Files are opened with
// close-on-exec, so a program a script starts never inherits them.
#include <cstdio>
#include <utility>

namespace zz {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(FILE* f) : f_(f) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
    FileHandle& operator=(FileHandle&& o) noexcept {
        if (this != &o) {
            Close();
            f_ = std::exchange(o.f_, nullptr);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // fopen with the mode as given (plus close-on-exec); an empty handle when it fails (errno tells why).
    static FileHandle Open(const char* path, const char* mode);
    // Open for a file that only its owner and group may read, such as a log holding what callers key in: made
    // 0640 when missing, and an existing one loses what other users may do. "r+" (made when missing, kept), "w"
    // (emptied) or "a" (appended to), each with "b" or "+" as fopen takes them.
    static FileHandle OpenPrivate(const char* path, const char* mode);

    FILE* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    // Gives the file up without closing it.
    FILE* release() { return std::exchange(f_, nullptr); }
    // Closes now: fclose's result (0 when there was no file), so a failed final write can be reported.
    int Close() { return f_ ? std::fclose(std::exchange(f_, nullptr)) : 0; }

private:
    FILE* f_ = nullptr;
};

} // namespace zz
