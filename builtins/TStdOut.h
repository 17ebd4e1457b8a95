#pragma once
// Where Print sends a line's output: the process's standard output (console mode) or a text file.
#include <cstdint>
#include <cstdio>

#include "engine/TagLineState.h"
#include "platform/FileHandle.h"

namespace zz {

class TStdOut {
public:
    enum : int32_t { kClosed = 0, kFile = 1, kConsole = 2 };

    TStdOut() = default;
    ~TStdOut() { Close(); }
    TStdOut(const TStdOut&) = delete;
    TStdOut& operator=(const TStdOut&) = delete;

    // Empty path: console mode, 2. Else the file is opened for appending (a reload keeps the line's earlier output):
    // 0, or -1 when it cannot be opened.
    int32_t Open(const char* path);
    bool IsOpen() const { return mode_ == kConsole || (mode_ == kFile && file_); }
    // Console: "number : text" and a line end; file: the text as it is. 0, or -1 (logged) when not open.
    int32_t Print(int32_t number, const char* text);
    void Close();
    int32_t Mode() const { return mode_; }

private:
    int32_t mode_ = kClosed;
    FileHandle file_;
};

// The line's print target, closed when the line's main flow stops.
class PrintState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kPrint;
    explicit PrintState(TagTelBasic&) {}
    void OnRunEnd() override { target.Close(); }
    // The target, first opened on "_stdout<line>.txt" when nothing opened it yet.
    TStdOut& Opened(int32_t line);
    TStdOut target;
};

} // namespace zz
