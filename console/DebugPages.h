#pragma once
// The script debugger's pages without widgets: one page per debugged line with the compiled listings, the
// highlighted rows, breakpoints and the variable grids, and the commands the window gives (step, run, refresh,
// breakpoint, call stack). The engine's hooks call in from the line threads; they only record rows and tell the
// window, which redraws on its own thread.
//
// A page never reads a running script's variables: values come from the snapshot the line thread takes when
// it pauses. A page touches its program only under the line's program lock and while the line still holds
// that very program, so a reload or close never frees it under the window.
#include "engine/Debugger.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

class TagTelBasic;

// One debugged line as the window draws it.
struct TagPageState {
    int32_t line = -1;
    std::vector<std::string> mainRows, funcRows; // listing texts (depth as leading tabs)
    std::vector<uint8_t> mainBreaks, funcBreaks; // per row
    int32_t mainCur = -1, funcCur = -1;          // highlighted rows
    VarGridTable mainVars, funcVars;
    bool paused = false;
    bool inFunction = false; // the last snapshot stopped inside a function
    uint32_t serial = 0;     // of the snapshot shown
};

class TagCtrlPages {
public:
    using Listener = std::function<void(int32_t line)>;

    // Told (any thread) which line's page changed; the window redraws it on its own thread.
    void SetListener(Listener l);
    // Opens a page for the line's program: false when the line has a page already or no program.
    bool Open(int32_t line);
    // Closing a page clears every breakpoint of its program and lets a paused script run on.
    void Close(int32_t line);
    void CloseAll();
    bool HasPage(int32_t line) const;
    size_t Count() const;
    std::vector<int32_t> Lines() const;
    void SetCurrent(int32_t line);
    int32_t Current() const;

    bool AutoRefresh() const { return autoRefresh_.load(); }
    void SetAutoRefresh(bool on) { autoRefresh_ = on; }

    // ---- Commands on the current page ----
    void Step();
    // Clears the pause of a paused script; nothing otherwise.
    void Run();
    // The grids from the last snapshot.
    void Refresh();
    // Breakpoint of a row of the main listing (funcTree false) or of the function listing.
    void ToggleBreak(bool funcTree, int32_t row);
    // The chain of running units at the last pause, innermost first; false when not inside a function.
    bool CallStack(std::vector<CallStackEntry>& out) const;
    // A unit's variables at the last pause (the main program's or the running function's; others have none).
    void UnitVars(TagTelBasic* unit, uint8_t sortByName, uint8_t descending, VarGridTable& out) const;
    // "name: value" lines of a statement of the main listing at the last pause; empty unless paused.
    std::string OperVars(bool funcTree, int32_t row) const;
    // A name among the last pause's variables of the main program (funcTree false) or the running function:
    // 0 found, -1 not.
    int32_t LookupName(bool funcTree, const std::string& name, std::string& kind, std::string& value,
                       std::string& note) const;

    // A copy of a page for drawing; false when the line has none.
    bool State(int32_t line, TagPageState& out) const;

    // ---- Engine hooks (line threads) ----
    void OnLine(TagTelBasic* prog, int32_t row);
    void OnFunc(TagTelBasic* unit, int32_t index, bool curIsCall, bool prevIsCall);
    // The line paused: its page takes the new snapshot.
    void OnPause(TagTelBasic* prog);
    bool IsLineDebugged(int32_t line) const;

private:
    struct Page {
        TagPageState s;
        TagTelBasic* prog = nullptr;
        std::vector<int32_t> rowOps;              // the operation index of each main listing row
        std::map<TagTelBasic*, int32_t> unitRows; // first row of each function in the function listing
        DebugSnapshot snap;
    };
    // Runs fn with the page's program while the line still holds it (under the line's program lock).
    bool WithProgram(int32_t line, TagTelBasic* prog, const std::function<void(TagTelBasic&)>& fn) const;
    Page* Find(int32_t line);
    const Page* Find(int32_t line) const;
    Page* FindProg(TagTelBasic* prog);
    void ReadBreaks(Page& p, TagTelBasic& prog);
    void Notify(int32_t line);
    void Destroy(std::unique_ptr<Page> p);

    mutable std::mutex m_; // the page list; hooks take it briefly, never a line's program lock after it
    std::vector<std::unique_ptr<Page>> pages_;
    int32_t current_ = -1;
    std::atomic<bool> autoRefresh_{false};
    Listener listener_;
};

// The engine's debugger hooks and IsLineDebugged, bound to the console's pages (installed by the program's
// start).
void InstallDebugHooks();

} // namespace zz
