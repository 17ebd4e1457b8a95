#pragma once
// What the program wires up once before its console starts: the engine's program table for the line layer, the
// builtins, the database client libraries, the display and debugger hooks. Also the console's start for tools
// and tests that need it without a window.
#include <cstdint>
#include <string>

namespace zz {

class LinePrograms;
class TagConsole;

// The line layer's table of program operations backed by the script engine.
LinePrograms& EngineLinePrograms();

// Registers the builtins and installs the engine's program table, the database libraries and the hooks through
// which the engine and the line layer reach the console. Idempotent.
void PrepareSystem();

// A process-wide console without a window, for tools and tests.
TagConsole& HeadlessConsole();
// PrepareSystem, then InitSystem of the headless console on cfgFile: the line manager's status.
int32_t InitSystem(const std::string& cfgFile);
// Fills the line status table from the line table (the headless console's grid).
void DispMonitor();
// The headless console's orderly shutdown (once).
void CloseSystem();
// The start time and line counts as InitSystem shows them, or why it failed.
std::string SystemInfoText();

} // namespace zz
