#pragma once
// The program's start and stop around the line manager: the engine's program table, InitSystem (line manager,
// line status table, main run thread), the status table's first fill, and the orderly close. Shared by the
// headless zuzod and the windowed console.
#include <cstdint>
#include <string>

namespace zz {

class LinePrograms;
class GridCells;
class TagTelDrive;

// The line layer's table of program operations backed by the script engine.
LinePrograms& EngineLinePrograms();

// Builds the line manager on cfgFile and, when it starts (status 0 or more), the line status table, fills it
// and starts the main run thread. Returns the manager's status; on failure no manager is left.
int32_t InitSystem(const std::string& cfgFile);

// Fills the line status table from the line table: "%d : %s" (line, name), the script file and the status.
// With a grid, the table draws into it from then on.
void DispMonitor(GridCells* grid = nullptr);

// The main run thread's work: hands every configured line its script.
void MainRunThread(TagTelDrive& drive);

// Orderly close: marks the system closing, deletes the line manager (which stops every line) and the line
// status table. Runs once; later calls do nothing.
void CloseSystem();

// The start time and line counts as InitSystem shows them ("Lines:%d: Ex:%d, In:%d, Vir:%d, Ip:%d").
const std::string& SystemInfoText();

} // namespace zz
