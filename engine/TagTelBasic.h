#pragma once
// The compiled, runnable form of one script unit: the main program of a line (built from a script file) or one
// user function of it. It holds compile and run state only; what the builtin families keep per line lives in
// family records (engine/TagLineState.h) that the main program owns.
//
// Work is split over several sources: TagTelBasic.cpp (construction, lookups, per-line settings),
// CompileFile.cpp (reading files, the error log, the end-of-compile checks), CompileLine.cpp and
// CompileArgs.cpp (one logical line into one operation), CompileBlock.cpp (block statements and linking),
// RunLoop.cpp (Run, RunFunction) and Debugger.cpp (pause, step, breakpoints, listings and views).
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/TagCallState.h"
#include "engine/TagLineState.h"
#include "engine/TagOper.h"
#include "engine/TagVar.h"
#include "engine/Tokenize.h"
#include "engine/pvector.h"

namespace zz {

struct RecKeyword;
struct DebugSnapshot;
class TagTelLine; // the line layer's entry of a line: only carried here

// What the console shows of the engine's work; every hook is optional (null: nothing is shown).
struct EngineHooks {
    void (*dispCompileMsg)(const char* text, int32_t colour) = nullptr;
    void (*setLineState)(int32_t line, const char* state) = nullptr;
    void (*debugLineHook)(TagTelBasic* prog, int32_t index, const char* text, int32_t line) = nullptr;
    void (*debugFuncHook)(TagTelBasic* unit, int32_t index, const char* text, int32_t line, const char* unitName,
                          bool curIsCall, bool prevIsCall) = nullptr;
    void (*flushDebugPages)(TagTelBasic* prog) = nullptr;
    // The line manager's line count, copied into _linesCount.
    int32_t (*linesCount)() = nullptr;
    // Opens the error log for the operator (a desktop's "open"); null on a server.
    void (*openErrorLog)(const char* path) = nullptr;
};
extern EngineHooks g_engineHooks;
inline EngineHooks& TheEngineHooks() {
    return g_engineHooks;
}

// A one-byte flag of a program that other threads set to stop what runs: setting it draws the run loop's attention
// and wakes the line's wait.
class LineFlag {
public:
    explicit LineFlag(TagTelBasic* owner) : owner_(owner) {}
    LineFlag(const LineFlag&) = delete;
    LineFlag& operator=(const LineFlag&) = delete;
    LineFlag& operator=(uint8_t v) {
        v_.store(v, std::memory_order_relaxed);
        if (v) Raise();
        return *this;
    }
    operator uint8_t() const { return v_.load(std::memory_order_relaxed); }

private:
    void Raise();
    std::atomic<uint8_t> v_{0};
    TagTelBasic* owner_;
};

class TagTelBasic {
public:
    static constexpr int32_t kMaxParams = 40;
    static constexpr int32_t kMaxArgs = 40;
    static constexpr int32_t kArgRoom = 1024;       // bytes of one argument text, NUL included
    static constexpr int32_t kLogicalLine = 1024;   // characters of a logical line
    static constexpr int32_t kSummaryLine = 9999;   // WriteErrMsg's line of the compile summary
    static constexpr int32_t kMaxIncludeDepth = 16; // includes within includes
    // Positions of the system variables every unit starts with.
    static constexpr int32_t kTempVal = 0;
    static constexpr int32_t kRetVal = 1;

    // An empty main unit ("_main_") holding _tempVal and _retVal only, with no line: for tools and tests that
    // compile lines by hand.
    TagTelBasic();
    // A main program: builds and compiles file for the line; initResult tells whether it may run.
    TagTelBasic(const char* file, int32_t lineNo, TagCallState* call, uint8_t runMode, TagTelBasic* caller);
    // A function unit of parent (may be null), as the statement compiler builds it.
    TagTelBasic(const char* fileName, const char* funcName, TagTelBasic* parent);
    virtual ~TagTelBasic();
    TagTelBasic(const TagTelBasic&) = delete;
    TagTelBasic& operator=(const TagTelBasic&) = delete;

    // ---- Structure and lookups (TagTelBasic.cpp) ----
    bool IsFunctionUnit() const { return parent != nullptr; }
    bool IsCalledProgram() const { return calledProgram != 0; }
    // The program that owns the line: parent (or self), then its calling program when RunKvs built it.
    TagTelBasic* GetRoot() {
        TagTelBasic* p = ParentOrSelf();
        return p->calledProgram && p->callingProgram ? p->callingProgram : p;
    }
    // One level up only: the parent, else self.
    TagTelBasic* ParentOrSelf() { return parent ? parent : this; }
    // The call object of the unit, its parent's for a function unit.
    TagCallState* Call() const { return parent ? parent->pKvCall : pKvCall; }
    // The temporary-name counter: the main program's, shared with all its function units.
    int32_t* TempCounter() { return parent ? parent->TempCounter() : &tempCounter; }
    // "__m%d" with the counter, which is then raised by one.
    std::string NewTempName();

    // Lookups: index (or parameter slot) and the record, or -1 and null. Entries without a name are skipped.
    int32_t FindOwnVar(const char* name, TagVar** var);
    int32_t FindParam(const char* name, TagVar** var);
    // Own variables, then (function unit) parameters, then the parent's own variables.
    int32_t FindVar(const char* name, TagVar** var);
    // As FindVar; a missing name is appended as a read-write integer 0 with the given note.
    int32_t FindOrCreateVar(const char* name, TagVar** var, const char* note = nullptr);
    // A name is looked up (-1 when absent; a function's unit counts this unit as a caller); a literal reuses
    // an equal read-only value of the unit or becomes a new one with the note "CONST"; -2 for anything else.
    int32_t ResolveOperand(const TagOperand& tok, TagVar** var);
    // Removes exactly this variable from the symbol table and destroys it; false when it is not in the table.
    bool DeleteVar(TagVar* var);
    // A copy of var is added, or assigned to the variable of that name; function values are skipped.
    void AddVar(const TagVar& var);
    // A function unit by name in the main program's list (the parent's for a function unit): its index and
    // the unit, or -1.
    int32_t FindFunc(const char* name, TagTelBasic** unit);
    // The same in this unit's own list.
    int32_t FindSubFunc(const char* name);
    // Appends a parameter name: the new count, or -1 when 40 are held.
    int32_t AddParam(const char* name);
    // The value slot of parameter i (0 <= i < paramCount).
    TagVar& ParamValue(int32_t i) { return *paramValues[static_cast<size_t>(i)]; }
    // _retVal := value; its integer word.
    int32_t SetRetVal(const TagVar& value);

    TagVar* Var(int32_t i) const { return symbols.Get(i); }
    int32_t VarCount() const { return symbols.Count(); }
    TagVar* RetVal() const { return retVal_; }
    TagOper* Op(int32_t i) const { return ops.Get(i); }
    int32_t OpCount() const { return opCount; }

    // ---- Run flags (TagTelBasic.cpp) ----
    void SetOptimize(int32_t on) { optimize = on ? 1 : 0; }
    // A quit request wakes the line's waits, which then see the flag.
    void SetQuit(uint8_t on) {
        sysQuit = on;
        if (on) Notify();
    }
    bool IsQuit() const { return sysQuit != 0; }
    // Requests a reload; once it is pending the call's stop flag ends a waiting operation.
    void SetReload(uint8_t on);
    void SetReloadAllowed(uint8_t on) {
        reloadAllowed = on;
        Notify();
    }
    // Draws the run loop's attention to the flags and wakes the line's wait.
    void Notify();
    // Requested and allowed, and the line is not in a call (a call is finished first).
    bool IsReloadPending() const {
        if (!reloadRequested || !reloadAllowed) return false;
        TagCallState* c = Call();
        return !c || c->callState.load() != kCallConnected;
    }
    // The directory (through the last "\" or "/") and the file part of a path.
    static void SplitPath(const std::string& path, std::string& dir, std::string& file);

    // ---- Family records of the line (engine/TagLineState.h) ----
    // The record of family T (T::kFamily, constructed from the line's main program), made on first use.
    template <class T> T& LineState() {
        TagTelBasic* root = GetRoot();
        TagLineState* s = root->lineStates_->Get(T::kFamily);
        if (!s) s = root->lineStates_->Install(T::kFamily, std::make_unique<T>(*root));
        return static_cast<T&>(*s);
    }
    // The record when it has been made, else null.
    template <class T> T* FindLineState() { return static_cast<T*>(GetRoot()->lineStates_->Get(T::kFamily)); }

    // "出错了" box with "%4d: %s,\r%s" (or "%s,\r%s" for the summary line); never for a called program.
    void ErrorBox(int32_t line, const char* message, const char* detail);

    // ---- Compiling (CompileFile.cpp) ----
    // Compiles one file into this program: physical lines read, -1 for a file already included, -2 when it
    // cannot be read.
    int32_t CompileFile(int32_t includeLine, const char* file);
    // One physical line into dest (room bytes, NUL included); false at the end of the buffer.
    static bool ReadSourceLine(const char* buf, size_t len, size_t& pos, char* dest, size_t room);
    // One entry of "errmsg%d.txt"; warnings only in run mode 0.
    void WriteErrMsg(int32_t line, const char* message, const char* text, uint8_t isWarning);
    // After the main file: unclosed constructs, removal of never-called functions, the summary.
    void FinishCompile(int32_t lastLine, uint32_t startTick);

    // ---- Statement compiler (CompileLine.cpp, CompileArgs.cpp, CompileBlock.cpp) ----
    // What the compiler keeps while a unit compiles: block stacks and the pieces of the line at hand. Made on
    // first use and let go once the program has compiled.
    struct CompileScratch {
        // Stacks of operation indexes (function definitions and comments: line numbers).
        std::vector<int32_t> ifStack, switchStack, loopStack, braceStack, funcDefStack, commentStack;
        // Per line: argument expressions waiting for the line's operation, and the target of 'x = Call(...)'.
        std::vector<ExprePtr> pendingArgs;
        TagVar* pendingTarget = nullptr;
        TagVar* pendingSub = nullptr;
        // The line being compiled: its statement copy and comment text, and its argument pieces.
        std::string lineCopy;
        std::string commentText;
        std::array<std::string, kMaxArgs> args;
        int32_t argCount = 0;
        // The units whose statements call this unit: one that nobody calls is removed at the end.
        std::map<std::string, int32_t> callerNames;
        // Includes open around the line being compiled.
        int32_t includeDepth = 0;
    };
    CompileScratch& Scratch() {
        if (!scratch_) scratch_ = std::make_unique<CompileScratch>();
        return *scratch_;
    }
    // Lets go of the scratch of this unit and its function units.
    void DropScratch();
    // One logical line (may be cut in place): 0, or -1 after an error was written.
    int32_t CompileLine(char* text, int32_t line);
    // Splits an argument text: the piece count, or -1 empty piece, -2 missing end, -3 open string, -4 more
    // than 40 pieces, -5 a brace outside a string, -6 no ")" closing a list whose end is ")".
    int32_t SplitArgs(const char* text, int32_t maxCount, std::array<std::string, kMaxArgs>& out, char sep, char end);
    // The first count argument texts into variables; pending expressions are queued for the next operation.
    int32_t CompileArgs(int32_t line, const char* lineText, int32_t count,
                        const std::array<std::string, kMaxArgs>& texts, TagVar** vars);
    // Completes the operation stored at index opCount: pending expressions, target, Init, depth and links.
    void AppendOp(const char* lineCopy, const char* comment, int32_t line, char kind, const RecKeyword* rec);
    // Stores op at index opCount (the caller then completes it with AppendOp); returns it.
    TagOper* StoreOp(std::unique_ptr<TagOper> op);
    // 'target = operand1 operator operand2' or an increment: 0; -1 after a message; -2 a complex right side;
    // -3 another tokenizer failure.
    int32_t CompileSimpleAssign(int32_t line, const char* text, TagVar** target, TagVar** left, char* op,
                                TagVar** right, const char* note, uint8_t* created);
    static bool IsValidVarName(const char* name);
    // Block statements (ordinals 0-10 and 15) after the split: 0 or -1.
    int32_t CompileBlock(int32_t ordinal, int32_t argCount, int32_t line, const char* restOfLine);
    // Links the newest operation into the blocks; 0 or -1.
    int32_t LinkPass(int32_t line);
    // At the end of a file no further line links the last operation: a brace-less loop body there is linked
    // back to its loop here.
    void LinkAtEndOfFile();

    // ---- Running (RunLoop.cpp) ----
    // Runs the main flow on this thread until it returns, quits, reloads or loses its call object.
    int32_t Run();
    // Runs unit's body for one call; caller is the unit whose statement calls it. 0, or -1 when not ready.
    static int32_t RunFunction(TagTelBasic* unit, TagTelBasic* caller);

    // ---- Debugger (Debugger.cpp) ----
    bool IsPaused() const { return pause != 0; }
    void SetPause(uint8_t on) {
        pause = on;
        HoldFlag(kHoldPause, on);
        stepRequest = 0;
        Notify();
    }
    void Step() {
        stepRequest = 1;
        Notify();
    }
    // A debugger page shows the program: the console then hears of every statement, as under a pause.
    void SetWatched(uint8_t on) {
        debugWatch = on;
        HoldFlag(kHoldWatch, on);
        Notify();
    }
    bool IsWatched() const { return debugWatch != 0; }
    void WaitDebugStep();
    void SetOpBreak(int32_t index, uint8_t on);
    uint8_t GetOpBreak(int32_t index) const;
    void ClearAllBreaks();

    // ---- Fields ----
    // What only a main program keeps (a function unit shares its parent's).
    struct MainOnly {
        std::vector<std::string> includes;
        void* debugViews[4] = {};
        std::shared_ptr<DebugSnapshot> debugSnap;
    };

private:
    std::unique_ptr<MainOnly> main_; // a main program's own (also a unit built without a parent)

public:
    MainOnly& Main() { return parent ? parent->Main() : *main_; }

    // Compilation results.
    std::vector<std::string>& includes; // every file compiled into the program, the main file first
    std::vector<TagVar*> variables;     // read-write entries of the symbol table, after compilation
    std::vector<TagVar*> constants;     // read-only entries
    int32_t splitCount = 0;             // symbols when they were split into the two lists
    int32_t namedConstCount = 0;
    std::string defText;          // a function unit's "function" line
    pvector<TagTelBasic> subList; // the user functions of this program
    int32_t blockDepth = 0;
    int32_t errorCount = 0;
    int32_t warningCount = 0;
    int32_t opCount = 0;
    pvector<TagOper> ops;
    std::atomic<int32_t> handlerState{-1}; // 7: OnSysQuit ran, no further handler jumps
    int32_t initResult = 0;
    std::string unitName;
    pvector<TagNamedVar> symbols; // every variable and constant in creation order
    LineFlag stop{this};
    uint8_t optimize = 1;    // remove never-called functions at the end of the compilation
    uint8_t transformed = 0; // the script was stored transformed
    SharedFlag pause;
    SharedFlag stepRequest;
    SharedFlag debugWatch;
    SharedFlag sysQuit;
    SharedFlag reloadRequested;
    SharedFlag reloadAllowed;
    SharedFlag endOfRun;
    SharedFlag stopped;
    uint8_t runMode = 1;
    uint8_t calledProgram = 0;
    uint8_t shareVars = 0;
    // Some script timer is armed: the run loop asks the timers between statements only then, and only once the
    // tick count has reached timerDue (the earliest time one is due; the timer table keeps both).
    std::atomic<uint8_t> timersArmed{0};
    std::atomic<uint32_t> timerDue{0};
    int32_t disconnIndex = -1;
    int32_t sysQuitIndex = -1;
    std::atomic<int32_t> curOpIndex{-1};
    int32_t lineNo = 0;
    std::string scriptFile;
    TagCallState* pKvCall = nullptr;
    TagTelBasic* parent = nullptr;
    TagTelBasic* caller = nullptr; // the unit running this unit's body
    int32_t rowBase = 0;           // the debugger's row of a function unit's first operation
    int32_t paramCount = 0;
    std::vector<std::string> paramNames;
    std::vector<std::unique_ptr<TagVar>> paramValues; // a slot each, so compiled operations keep their address
    TagTelBasic* callingProgram = nullptr;
    // Operations of this unit with a breakpoint (set through SetOpBreak).
    std::atomic<int32_t> breakCount{0};
    // Main program only: nonzero while the debugger may hold the line (a pause, a page, a breakpoint in any of its
    // units), so that a call into a function needs one load to know it is not watched.
    static constexpr uint32_t kHoldPause = 1, kHoldWatch = 2, kHoldBreak = 4;
    std::atomic<uint32_t> debugHold{0};
    void HoldFlag(uint32_t bit, uint8_t on) {
        if (on)
            debugHold.fetch_or(bit);
        else
            debugHold.fetch_and(~bit);
    }
    int32_t dialFailWord = 0;        // set by OutCall/Dial, returned and cleared by OnDisconn
    TagTelLine* lineEntry = nullptr; // the line table entry, set by the line layer
    int32_t tempCounter = 0;
    // User-function calls running on the line (the line's root program only): deeper calls are refused.
    uint32_t callDepth = 0;
    // The unit whose statements run now (main program only; the debugger's current unit).
    std::atomic<TagTelBasic*> runningUnit{nullptr};
    // What the run loop keeps of a function unit between calls (RunLoop.cpp): the statement a body starts with
    // outside the debugger (past the braces it opens with, which reset _retVal), and ObjectsTaken() when the body
    // last let its objects go.
    struct BodyStart {
        TagOper* first = nullptr;
        uint8_t known = 0;
        uint8_t passed = 0;
        uint64_t releasedAt = ~uint64_t{0};
    } bodyStart;

protected:
    TagVar* retVal_ = nullptr; // symbol kRetVal, which never moves nor goes before the table does
    std::unique_ptr<CompileScratch> scratch_;
    // Name and literal lookups of the symbol table by hash: made by the first lookup, kept up to date as the table
    // grows, let go once the program has compiled (TagTelBasic.cpp).
    struct SymbolIndex;
    std::unique_ptr<SymbolIndex> index_;
    SymbolIndex& Index();
    void DropIndex();
    // The family records; a main program's only (function units reach their parent's).
    std::unique_ptr<TagLineStates> lineStates_;

    TagNamedVar* AppendVar();
    void CreateUnitVars();
    void CreateSystemVars(const char* file);
    // Splits the symbol table into variables and constants.
    void SplitSymbols();

public:
    // Every entry of the symbol table that may hold a value other than its constant one: the variables, and what
    // came into the table after it was split (a run-time compilation's temporaries).
    template <class F> void ForEachWritable(F&& f) {
        if (symbols.Count() < splitCount) {
            for (auto& v : symbols)
                if (v) f(*v);
            return;
        }
        for (TagVar* v : variables)
            f(*v);
        for (int32_t i = splitCount; i < symbols.Count(); ++i)
            if (TagVar* v = symbols.Get(i)) f(*v);
    }
};

} // namespace zz
