#pragma once
// The compiled form of one statement: the base of every operation class. The run loop runs the argument
// expressions, calls Run, stores the result through the target and asks Next for the successor; all control
// flow lives in the Next of the control classes.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/TagVar.h"

namespace zz {

struct RecKeyword;
class TagExpre;
struct OpPlan;

// Deletes a run plan where its type is complete (RunLoop.cpp).
struct OpPlanDelete {
    void operator()(OpPlan* p) const;
};

// Deletes an argument expression where its type is complete.
struct ExpreDelete {
    void operator()(TagExpre* e) const;
};
using ExprePtr = std::unique_ptr<TagExpre, ExpreDelete>;

// Where an operation's result goes: a variable, or its element at a subscript. A null variable means nowhere.
class TagVarRef {
public:
    void Set(TagVar* v, TagVar* s) {
        var = v;
        sub = s;
    }
    void Store(const TagVar& value) const {
        if (!var) return;
        if (sub)
            (*var)[*sub] = value;
        else
            *var = value;
    }
    // Reads the element or the variable without creating anything.
    void Load(TagVar& out) const;

    TagVar* var = nullptr;
    TagVar* sub = nullptr;
};

// A one-byte flag written by the window thread and read by the line thread; copies take the current value. Setting
// it publishes what the setter did before (a debugger step hands the line the values it looked at), and reading it
// sees that.
class SharedFlag {
public:
    SharedFlag() = default;
    SharedFlag(const SharedFlag& o) : v_(o.v_.load(std::memory_order_acquire)) {}
    SharedFlag& operator=(const SharedFlag& o) {
        v_.store(o.v_.load(std::memory_order_acquire), std::memory_order_release);
        return *this;
    }
    SharedFlag& operator=(uint8_t v) {
        v_.store(v, std::memory_order_release);
        return *this;
    }
    operator uint8_t() const { return v_.load(std::memory_order_acquire); }

private:
    std::atomic<uint8_t> v_{0};
};

class TagOper {
public:
    TagOper() = default;
    virtual ~TagOper();

    virtual int32_t Run() = 0;
    // next. It marks the op as one whose class keeps this Next, so that the run loop takes next directly from
    // then on: an override must never call it.
    virtual TagOper* Next() {
        plainNext = 1;
        return next;
    }

    // Clears the breakpoint and single-body flags and keeps text, line, index and kind.
    void Init(const char* srcText, const char* comment, int32_t line, int32_t opIndex, char opKind,
              const RecKeyword* rec);
    void SetBreak(uint8_t on) { breakpoint = on; }
    uint8_t IsBreak() const { return breakpoint; }
    void SetTarget(TagVar* var, TagVar* sub) { target.Set(var, sub); }
    void StoreResult(const TagVar& value) const { target.Store(value); }
    void EvalArgs();
    void FreeArgs() { args.clear(); }
    // The names the statement text mentions (string literals and numbers left out), for the variable view.
    int32_t SplitWords(std::map<std::string, int32_t>& words) const;

    std::string text;
    int32_t lineNo = 0;
    int32_t depth = 0;
    int32_t index = 0;
    SharedFlag breakpoint;
    TagOper* match = nullptr;
    char kind = 0;
    TagOper* parent = nullptr;
    TagOper* next = nullptr;
    TagOper* prev = nullptr;
    uint8_t singleBody = 0;
    // A statement that does nothing but pass the flow on and reset _retVal (a brace, an else, a case or default
    // label): the run loop passes over it unless a breakpoint sits there.
    uint8_t noOp = 0;
    uint8_t plainNext = 0; // the class keeps TagOper::Next (set by it)
    // The statement never waits and never runs script code of another unit (calculations, braces, branches and
    // loops): outside the debugger the run loop runs stretches of such statements without looking at the line's
    // flags between them, only before the next other statement and at every jump back.
    uint8_t pure = 0;
    uint8_t userCall = 0; // a call of a user function (the debugger's call-stack view)
    uint8_t planned = 0;  // plan below has been made (or found not worth making)
    uint8_t fastKind = 0; // how the run loop runs it outside the debugger (RunLoop.cpp); 0 until first needed
    // How the run loop runs this statement and the pure ones after it in one go; made on first need.
    std::unique_ptr<OpPlan, OpPlanDelete> plan;
    TagVarRef target;
    // Argument expressions, run in order before Run; owned.
    std::vector<ExprePtr> args;

protected:
    // Steps are plain values that lists copy; a copy takes no argument expressions along.
    TagOper(const TagOper& o);
    TagOper& operator=(const TagOper& o);
};

// The kind 'v' of StoreOperResult.
void StoreOtherResult(TagOper& op, TagVar& retVal);

// StoreOperResult of a call or a return ('R', 'r'), whose callee has set _retVal.
inline void StoreCalleeResult(TagOper& op, TagVar& retVal) {
    if (op.target.var && (op.target.var != &retVal || op.target.sub)) op.StoreResult(retVal);
}

// What the run loop does with the integer result r of an operation, by its kind: 'v' loads its target into
// _retVal (the builtin stored its value there itself); 'R' and 'r' store _retVal (set by the callee) into the
// target; every other kind sets _retVal to r and then stores it into the target.
inline void StoreOperResult(TagOper& op, int32_t r, TagVar& retVal) {
    const char k = op.kind;
    if (k != 'v' && k != 'R' && k != 'r') {
        retVal.SetIntReleasing(r);
        if (op.target.var && (op.target.var != &retVal || op.target.sub)) op.StoreResult(retVal);
        return;
    }
    if (k != 'v') return StoreCalleeResult(op, retVal);
    StoreOtherResult(op, retVal);
}

} // namespace zz
