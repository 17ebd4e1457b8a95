#pragma once
// The lines as the builtins address them: the line manager's table and its count. Another line's program object
// is reached only while its entry's lock is held: a reload or close unpublishes a program under that lock before
// deleting it, so a holder never sees it freed.
#include <cstdint>
#include <mutex>

namespace zz {

class TagTelBasic;

// The number of lines in the line table; 0 without a line manager.
int32_t LinesCount();

// The program of a line, held for the holder's lifetime; null for a line out of range or without a program.
// Hold it briefly: the line's own thread waits for it to unpublish its program.
class LineProgram {
public:
    explicit LineProgram(int32_t line);
    LineProgram(const LineProgram&) = delete;
    LineProgram& operator=(const LineProgram&) = delete;

    TagTelBasic* get() const { return program_; }
    TagTelBasic* operator->() const { return program_; }
    explicit operator bool() const { return program_ != nullptr; }

private:
    std::unique_lock<std::mutex> lock_;
    TagTelBasic* program_ = nullptr;
};

} // namespace zz
