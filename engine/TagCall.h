#pragma once
// The statement operations the run loop itself needs: calls of user functions and returns from them, and the
// hang-up and system-quit handlers of the main flow.
#include <array>
#include <cstdint>

#include "engine/TagOper.h"

namespace zz {

class TagTelBasic;

// A call of a user function (kind 'R'): values in, the body run on this thread, changed parameters copied back.
class TagCall final : public TagOper {
public:
    static constexpr int32_t kMaxParams = 40;
    // The call stack of a line stops growing here: deeper calls are logged and fail with -1.
    static constexpr size_t kMaxDepth = 30;

    TagCall(TagVar* function, TagTelBasic* caller);
    // Appends an argument; -1 (nothing stored) beyond 40.
    int32_t AddPara(TagVar* arg);
    int32_t Run() override;

    // What a call changes on its way in and puts back on its way out.
    struct CallSave {
        TagTelBasic* root = nullptr;
        TagTelBasic* outerCaller = nullptr;
        uint32_t depth = 0;
    };
    // Run in two halves, around the body (the run loop runs bodies itself): the checks and the values in, giving
    // the unit whose body is to run, or null with the failure's result in code (logged; the caller's _retVal set).
    // Both are defined in engine/TagCallRun.h, for the run loop to have them inline.
    inline TagTelBasic* Enter(int32_t& code, CallSave& save);
    // After the body: changed parameters copied back and the unit's _retVal handed to the caller's; its integer.
    inline int32_t Leave(TagTelBasic* unit, CallSave save);
    // Leave's parts: one parameter's value back into its argument (g_nullVar for none; a read-only one keeps its
    // value), an object it holds let go; the callee's _retVal handed to the caller's (null: none), its integer.
    static inline void CopyBack(TagVar* arg, TagVar& value);
    static inline int32_t HandBack(TagVar* ret, TagVar* callerRet);

    TagVar* funcVar;
    TagTelBasic* caller;
    std::array<TagVar*, kMaxParams> params{};
    int32_t paramCount = 0;

private:
    // Logs why the call cannot be made (no function, a wrong argument count, too deep) and sets the caller's
    // _retVal to the result, -1 or -2.
    [[gnu::cold]] int32_t Fail(TagTelBasic* unit, size_t depth);
    // Whole-value assignment of an integer, so that an object the variable held loses its reference.
    [[gnu::cold]] static void AssignInt(TagVar& v, int32_t n);
};

// return(value) (kind 'r'): the unit's _retVal becomes the value, and the running body ends.
class TagReturn final : public TagOper {
public:
    TagReturn(TagVar* value, TagTelBasic* unit) : value_(value), unit_(unit) { kind = 'r'; }
    int32_t Run() override;
    // What Run does, inline for the run loop (engine/TagCallRun.h): Hand stores the value into _retVal and gives
    // it, Give its integer.
    inline const TagVar& Hand();
    inline int32_t Give();
    TagOper* Next() override { return nullptr; }

private:
    TagVar* value_;
    TagTelBasic* unit_;
};

// Close() and OnDisconn(): the hang-up handler of the line's main flow.
class TagClose final : public TagOper {
public:
    explicit TagClose(TagTelBasic* prog) : unit_(prog) {}
    // Registers index as the main flow's hang-up handler; a later statement replaces an earlier one. Refused
    // (-1) in a function unit, whose indexes mean nothing to the main flow.
    int32_t SetDisconnFlag(int32_t opIndex);
    // A released call (2) becomes handled (12); the line's last dial-failure word is returned and cleared.
    int32_t Run() override;

private:
    TagTelBasic* unit_;
};

// OnSysQuit(): the system-quit handler of the line's main flow.
class TagOnSysQuit final : public TagOper {
public:
    TagOnSysQuit(int32_t opIndex, TagTelBasic* prog);
    // Handler state 7: the run loop makes no further handler jumps.
    int32_t Run() override;

private:
    TagTelBasic* unit_;
};

} // namespace zz
