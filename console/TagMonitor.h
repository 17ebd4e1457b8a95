#pragma once
// The line status table: per line the eight texts of the line grid (line, script file, status, keys, run
// information, three user columns), a state code, talk and block values and two colour pairs. Line threads,
// builtins and the display timer write it; the display tick copies changed texts into the grid, and every
// change is passed on to the remote monitor.
#include "console/GridCells.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace zz {

struct TagLineRec {
    static constexpr int kFields = 8;
    std::string text[kFields];
    uint8_t changed[kFields] = {};
    uint8_t state = 2;
    uint8_t talk = 0;
    int32_t block = 0;
    int32_t userFg = 0, userBg = 15;   // fields 5 to 7
    int32_t stateFg = 0, stateBg = 15; // fields 0 to 4
};

// Colour values (0x00BBGGRR) of the 16 colour indices.
extern const uint32_t kLineColors[16];

// Told of every changed field with its colour indices (the remote monitor server).
class TagFieldNotify {
public:
    virtual ~TagFieldNotify() = default;
    virtual void NotifyField(int32_t line, int32_t field, int32_t fg, int32_t bg) = 0;
};

class TagMonitor {
public:
    // At least one row.
    explicit TagMonitor(int32_t lineCount);
    TagMonitor(const TagMonitor&) = delete;
    TagMonitor& operator=(const TagMonitor&) = delete;

    int32_t LineCount() const { return int32_t(rows_.size()); }
    int32_t ColGroups() const { return groups_.load(std::memory_order_acquire); }

    // Lines out of range and fields outside 0..7 are ignored.
    void SetField(int32_t line, const std::string& text, int32_t field);
    void SetStateColor(int32_t line, int32_t fg, int32_t bg);
    // An index outside 0..15 leaves that colour as it was; nothing is marked changed.
    void SetColor(int32_t line, int32_t fg, int32_t bg);
    void SetState(int32_t line, int32_t code);
    // Written by the display timer.
    void SetTalk(int32_t line, bool talk);
    void SetBlock(int32_t line, int32_t block);
    // The status text (field 2) and, with a rule (state >= 0), the state code and its colours, as one change.
    // With onlyInState >= 0 nothing changes unless the row is in that state: false then.
    bool SetStatus(int32_t line, const std::string& text, int32_t state, int32_t fg, int32_t bg,
                   int32_t onlyInState = -1);
    // Marks fields 0 to 4 changed with the state colours that follow the talk and block values now.
    void Repaint(int32_t line);
    // Colour values of the user or state pair; a bad line gives colours 0 and 15, an index outside 0..15
    // leaves that output untouched.
    void GetColor(int32_t line, uint32_t& fg, uint32_t& bg) const;
    void GetStateColor(int32_t line, uint32_t& fg, uint32_t& bg) const;

    // A copy of one row, and one text (empty for a bad line or field).
    TagLineRec Row(int32_t line) const;
    std::string Text(int32_t line, int32_t field) const;

    // Sizes the grid for COL_GROUP_NUM groups of 8 columns and, when the line manager started, writes the
    // titles. The table draws into that grid from then on.
    void InitGrid(GridCells* grid, bool titles = true);
    // Writes changed fields that lie in the grid's visible part; the others keep their mark.
    void Flush();
    // The line of the grid's selected cell, -1 when none.
    int32_t SelectedLine() const;
    GridCells* Grid() const { return grid_.load(std::memory_order_acquire); }

    // Returns once no notification to the previous receiver is under way, so it may be deleted.
    void SetNotify(TagFieldNotify* notify);

    // Column and row of a line's field for a number of column groups.
    static void CellOf(int32_t line, int32_t field, int32_t groups, int32_t& col, int32_t& row);

private:
    bool Valid(int32_t line) const { return line >= 0 && line < LineCount(); }
    // State colours follow the block and talk values while the state is 3.
    static void RecomputeStateColor(TagLineRec& r);
    void Notify(int32_t line, int32_t field, int32_t fg, int32_t bg);

    mutable std::mutex m_;
    std::vector<TagLineRec> rows_;
    std::atomic<int32_t> groups_{1};
    std::atomic<GridCells*> grid_{nullptr};
    // Held shared while a receiver is told, exclusively while it is replaced.
    mutable std::shared_mutex notifyLock_;
    TagFieldNotify* notify_ = nullptr;
};

// The process's table; null when none. The console sets and clears it.
void SetMonitor(TagMonitor* monitor);
TagMonitor* GetMonitor();

// Console entry points; each does nothing while no table exists. SetLineState, DispScriptFile and DispInfo
// return -1 for a negative line, else 0; SetDispColor returns 0.
int SetLineState(int32_t line, const char* status);
// SetLineState only while the line runs (state 3), checked with the change: the display tick's talk and block
// texts never cover a line whose script ended or failed on the way.
int SetRunningLineState(int32_t line, const char* status);
int DispScriptFile(int32_t line, const char* text);
int DispInfo(int32_t line, int32_t index, const char* text);
int SetDispColor(int32_t line, int32_t fg, int32_t bg);
// By IS_DISP_SENTE: 1 the whole statement, 2 the text after its first "//", else nothing.
void DispRunInfo(int32_t row, const char* text, int32_t line);
// Shows keys by the line's key display mode (0 none, 1 the keys, 2 one '*' per key, at most 20).
void DispKeys(int32_t line, const char* keys);
// The key display mode of a line's script, or -1 when the line has no line entry or no program. Installed by
// the line layer; without it DispKeys shows nothing.
void SetKeyModeLookup(std::function<int(int32_t line)> lookup);

// The Keys cell of the grid itself (typed keys of sound-card lines).
std::string GetDispKeys(int32_t line);
int GetDispKeysLen(int32_t line);
void SetDispKeys(int32_t line, const char* text);
void ClearDispKeys(int32_t line);

} // namespace zz
