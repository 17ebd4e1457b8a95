#pragma once
// The line manager, one per process: the three line drivers, the line table that numbers every line, and the
// threads that load, run, reload and stop each line's script.
//
// Ownership of a line's program: the line's thread builds it, publishes it in the entry under programLock and
// deletes it itself when it rebuilds or is closed; a program left in the entry by a thread that has ended is
// freed by the manager. A thread that does not end when its line is closed is left running (logged), never
// freed under.
#include "platform/TagRunCfg.h"
#include "telephony/TagKvCard.h"
#include "telephony/TagNameConfCtrl.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

class TagRunCfg;
class LinePrograms;

// Driver kinds as GetCall reports them.
enum : uint8_t { kDriveSip = 0, kDriveCard = 1, kDriveVirtual = 2, kDriveNone = 255 };

// How the manager makes its three drivers; a maker may return null (no lines of that kind). Tests and the
// drivers install theirs; the default makes no card or SIP driver and base call objects for virtual lines.
struct DriverMakers {
    std::function<std::unique_ptr<TagKvCard>(TagRunCfg*cfg)> card, sip, vir;
};
void SetDriverMakers(const DriverMakers& makers);
DriverMakers GetDriverMakers();

// The database client libraries the manager loads at construction and unloads at destruction (the data
// layer's Load*/Free* functions, installed by the program's start; unset ones are skipped).
struct DbLibraries {
    std::function<void()> loadMySql, loadTqrDb, loadDbLib; // loaded in this order
    std::function<void()> freeTqrDb, freeMySql, freeDbLib; // unloaded in this order
};
void SetDbLibraries(const DbLibraries& libs);

// The virtual lines' names ("VirtualLine%d#" / "虚拟线路%d#") and count, with base call objects of line kind 0:
// what the manager makes when no maker of the sound-card driver (telephony/virtual) is installed.
class TagBaseVirCard : public TagKvCard {
public:
    TagBaseVirCard(int32_t lines, uint8_t language);
    int GetLineName(int32_t index, std::string& name) override;
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override;

private:
    uint8_t language_;
};

// Where the display goes: the line status table's Status and script columns, the user columns and colours of a
// line's row and its Keys column (by the line's key display mode). Unset: nothing is shown.
struct LineDisplay {
    int (*setLineState)(int32_t line, const char* status) = nullptr;
    int (*dispScriptFile)(int32_t line, const char* text) = nullptr;
    int (*dispInfo)(int32_t line, int32_t index, const char* text) = nullptr;
    int (*setDispColor)(int32_t line, int32_t fg, int32_t bg) = nullptr;
    void (*dispKeys)(int32_t line, const char* keys) = nullptr; // the Keys column
};
void SetLineDisplay(const LineDisplay& display);
LineDisplay CurrentLineDisplay();

// The console's closing flag: set from process start until the manager has handed out the lines, and again
// while the system shuts down or resets; the display does nothing while it is set.
std::atomic<bool>& SystemClosing();

class TagTelDrive {
public:
    // Reads the configuration (when both are given) and builds the line table; see status.
    TagTelDrive(const char* cfgFile, TagRunCfg* cfg);
    ~TagTelDrive();
    TagTelDrive(const TagTelDrive&) = delete;
    TagTelDrive& operator=(const TagTelDrive&) = delete;

    // ---- Line table and queries (TagTelDrive.cpp) ----
    int32_t LineCount() const { return lineCount_; }
    // The entry of a usable line, or null.
    TagTelLine* Line(int32_t n) const { return n >= 0 && n < lineCount_ ? lines_[size_t(n)].get() : nullptr; }
    // The call object of a line and its driver kind; null and kDriveNone (with a log line) for a bad number.
    TagKvCall* GetCall(int32_t line, uint8_t& driverKind);
    // The operator's hang-up of a line: 0, or -1 for a bad number.
    int32_t HangupLine(int32_t line);
    // 1 when the line has a program and its call is connected: talk seconds and connect time; else 0.
    int32_t GetTalkTime(int32_t line, uint32_t& talkSeconds, uint32_t& connectTime);
    // The call's block value; -1 for a bad number or a line without program or call object.
    int32_t GetBlockState(int32_t line);
    int32_t GetConnectedNum(int32_t& external, int32_t& internal, int32_t& virt, int32_t& other);
    int32_t GetLinesNum(int32_t& external, int32_t& internal, int32_t& virt, int32_t& other);
    // Adds (does not clear) the lines in call state 0.
    int32_t GetIdleNum(int32_t& external, int32_t& other);
    int32_t GetReloadNum();
    static const char* GetLineTypeName(int8_t kind);
    // The lines by kind, each kind present once in line-table order: "external 2, fax 1, SIP 1024, virtual 2".
    std::string LinesByKind() const;
    // Where the drivers take calls and commands, as bound: "SIP on 127.0.0.1:5060 UDP+TCP; card control port
    // 7060"; empty when no driver says.
    std::string Listening() const;
    // Writes "LinesList.txt" in the working directory: 0, or -1 when it cannot be created.
    int32_t WriteLinesList(const char* path = "LinesList.txt");

    // ---- Loading, running and reloading (LineThreads.cpp) ----
    // Closes every line, then hands each configured line its script: 0; -1 no lines; -2 file not readable.
    int32_t Run(const char* cfgFile);
    // Starts the line's loading thread: 0, or -1 for a bad number. A line whose thread runs its program is
    // asked to rebuild from the new script instead (0); a line still loading or left running gives -1.
    int32_t ReloadLine(int32_t line, const char* script, bool inThread = true);
    // Stops every line's script; returns when done (at most 35 s for the scripts, then they are forced).
    void CloseAllTelLine();
    // The first half of the manager's end: the run and reload threads leave and every script stops (its quit
    // handler runs), while the manager is still the process's, so the handlers reach their rooms and counts.
    // Once only; the destructor does it when nobody did.
    void Close();
    // Starts the reload-all thread and returns; a reload already under way makes this do nothing (false). The
    // reload says when it begins and when its lines have reloaded (standard error and the run log).
    bool StartReloadAll();
    // Starts a thread the manager waits for before it is deleted (the program's main run thread).
    bool StartWorker(std::function<void(TagTelDrive&)> work);

    // Blocks until every line the last Run gave a script has built its program (or its thread ended), or the
    // manager closes.
    void WaitLoaded();
    // What the lines given a script can do once loaded: how many have one, how many can run, and for those
    // that cannot a line of text each ("lines 0-1: why"), consecutive lines of one cause together.
    // Lines that run but lack what their driver needs (the virtual lines' sound device) are in warnings, a line
    // of text each ("lines 1027-1028: why").
    struct LoadReport {
        int32_t scripted = 0, runnable = 0;
        std::string problems, warnings;
    };
    LoadReport Report();
    // Lines whose loading thread has reached its end since the last Run.
    int32_t LoadedLines() const { return shared_->loadedLines.load(); }
    bool RunFlag() const { return shared_->runFlag.load(); }
    const std::string& CfgFile() const { return cfgFile_; }

    int32_t status = -1;
    // The named conference rooms of every line.
    TagNameConfCtrl nameConf;

    // Shared with the line threads, which may outlive a manager that left them running.
    struct Shared {
        std::atomic<bool> runFlag{true};
        std::atomic<bool> shutting{false};
        std::atomic<int32_t> loadedLines{0};
        // Told when a line has built its program or its thread ends (WaitLoaded).
        std::mutex loadLock;
        std::condition_variable loadDone;
        void TellLoaded() {
            { std::lock_guard<std::mutex> g(loadLock); }
            loadDone.notify_all();
        }
    };

private:
    void MakeLines();
    void FreeLines();
    // The line threads use nothing of the manager but the shared part, so a thread left running outlives it.
    static void LineThread(TagTelLine* line, std::shared_ptr<Shared> shared);
    static bool WaitToRun(TagTelLine* line, const Shared& shared);
    static void RunLoaded(TagTelLine* line, TagTelBasic*& prog, LinePrograms& ops, Shared& shared);
    static void EndThread(TagTelLine* line, TagTelBasic* prog, LinePrograms* ops);
    void ReloadAll();
    void PaceHandOut(int32_t delay);

    std::string cfgFile_;
    TagRunCfg* cfg_ = nullptr;
    std::unique_ptr<TagKvCard> card_, sip_, vir_;
    std::vector<std::unique_ptr<TagTelLine>> lines_;
    int32_t lineCount_ = 0;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    // Run, CloseAllTelLine and the reload-all work one at a time.
    std::recursive_mutex opLock_;
    std::atomic<bool> reloadBusy_{false};
    std::atomic<int32_t> workers_{0};
    bool leaveDrivers_ = false;
    bool closed_ = false;
};

// The process's line manager; null when none. The program's start sets and clears it.
void SetTelDrive(TagTelDrive* drive);
TagTelDrive* GetTelDrive();

} // namespace zz
