#pragma once
// The engine side of the script debugger, as plain data the console turns into its controls: listings as text,
// breakpoints by listing row, the call stack, name lookup and the variable grid.
//
// Listings, rows and breakpoints read what compilation built and may be used from the window thread. Values
// change while the line runs: the window thread reads them from the snapshot the line thread takes whenever it
// stops at a pause (TagTelBasic::WaitDebugStep), never from the live variables.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

class TagTelBasic;
class TagVar;

struct CallStackEntry {
    std::string name;
    TagTelBasic* unit = nullptr;
};

// One variable as the grid shows it; section 0 parameter, 1 named constant, 2 variable.
struct VarRow {
    std::string name, value, note;
    uint8_t section = 2;
};

// The three-column grid: no title and no rows when the program has nothing to show.
struct VarGridTable {
    std::array<std::string, 3> title;
    std::vector<std::array<std::string, 3>> rows;
    bool Filled() const { return !title[0].empty(); }
};

// What the line thread saw when it last stopped at a pause.
struct DebugSnapshot {
    uint32_t serial = 0; // raised by every snapshot
    TagTelBasic* unit = nullptr;
    int32_t opIndex = -1; // the next operation of that unit
    std::vector<CallStackEntry> callStack;
    std::vector<VarRow> mainVars; // the main program's
    std::vector<VarRow> unitVars; // the running function unit's (empty in the main flow)
};

// Main flow: one line per operation, "tabs text  [index:line parent match]" with the matching operation of a
// brace, break or continue, else "tabs text  [index:line parent]".
void ListSource(const TagTelBasic& prog, std::string& out);
// All function units (main program only, else -1): a header per unit, then "tabs text  [index:line]" per
// operation. Sets each unit's row base and reports (and gives in summary) the line counts. 0.
int32_t ListFunctions(TagTelBasic& prog, std::string& out, std::string* summary = nullptr);
// The function unit holding a global row of the function listing and the local index, or null.
TagTelBasic* FindRowUnit(const TagTelBasic& prog, int32_t row, int32_t* local);
void SetRowBreak(TagTelBasic& prog, int32_t row, uint8_t on);
uint8_t GetRowBreak(const TagTelBasic& prog, int32_t row);
// Stores the console's views in the program (null clears them).
void SetDebugView(TagTelBasic& prog, void* callStackList, void* varGrid, void* listing);

// The unit's definition text, or "_main_" for a main program or a unit without one.
void AddCallStackName(const TagTelBasic* unit, std::vector<CallStackEntry>& list);
// The unit and its callers, innermost first: 0; -1 without a list; -2 when nothing runs the unit. At most 31
// entries; a unit that is its own caller ends the walk.
int32_t GetCallStack(TagTelBasic* unit, std::vector<CallStackEntry>* list);

// Parameters, then named constants, then variables of prog, by exact name: 0; -1 (value "变量名不存在.").
int32_t LookupName(TagTelBasic& prog, const char* name, std::string& note, std::string& value, std::string& kind);
const char* TypeName(const TagVar& v);
// "name: value" lines for the names the operation's text mentions (prog first, then its parent).
void GetOpVarsText(TagTelBasic& prog, int32_t index, std::string& out);

// The rows of prog's grid, in creation order (compiler temporaries and nameless constants left out).
void CollectVarRows(TagTelBasic& prog, std::vector<VarRow>& rows);
// Parameters, constants, then the variables in creation order, reversed (descending), or sorted by name.
void ArrangeVarGrid(const std::vector<VarRow>& rows, uint8_t sortByName, uint8_t descending, VarGridTable& grid);
// Both at once, from the live values: for the line thread (or a line that is not running).
void FillVarGrid(TagTelBasic& prog, VarGridTable& grid, uint8_t sortByName, uint8_t descending);

// Line thread: records the running unit, its call stack and the grids of the main program and the unit.
void TakeDebugSnapshot(TagTelBasic& main);
// Any thread: the last snapshot of the main program; false when none was taken.
bool ReadDebugSnapshot(const TagTelBasic& main, DebugSnapshot& out);

} // namespace zz
