#pragma once
// What the line layer does with a line's program object, as one replaceable table: the program's start
// installs the engine's (EngineLinePrograms), tests install scripted fakes. The line layer itself treats a
// program as a handle and never reaches into it.
#include <cstdint>
#include <string>

namespace zz {

class TagTelBasic;
class TagTelLine;
class TagKvCall;

class LinePrograms {
public:
    virtual ~LinePrograms() = default;
    // Builds and compiles the line's main program (run mode 1, no calling program); never null.
    virtual TagTelBasic* Build(const std::string& file, int32_t lineNo, TagKvCall* call) = 0;
    virtual void Destroy(TagTelBasic* p) = 0;
    // Runs the main flow on the calling thread until it ends, quits or reloads.
    virtual int32_t Run(TagTelBasic* p) = 0;
    // 0: compiled and ready to run.
    virtual int32_t InitResult(TagTelBasic* p) = 0;
    virtual void SetLineEntry(TagTelBasic* p, TagTelLine* line) = 0;
    virtual void SetReloadAllowed(TagTelBasic* p, bool on) = 0;
    // Sets or clears the reload request (a pending request also stops the call's waits).
    virtual void SetReload(TagTelBasic* p, bool on) = 0;
    virtual bool ReloadRequested(TagTelBasic* p) = 0;
    // The system-quit flag and the stop flag.
    virtual void RequestQuit(TagTelBasic* p) = 0;
    // The end-of-run flag: the run loop leaves at once.
    virtual void ForceEnd(TagTelBasic* p) = 0;
    virtual bool Stopped(TagTelBasic* p) = 0;
    // Empties the process's script cache so the next build reads every file again.
    virtual void ClearScriptCache() = 0;
};

// The table in force; null until the program's start (or a test) installs one.
void SetLinePrograms(LinePrograms* programs);
LinePrograms* GetLinePrograms();

} // namespace zz
