#pragma once
// A line's messages (a family record of its main program): 64 script mailboxes, the reply mailbox of inter-line
// calls and the message work record; beside them the process-wide mailboxes and the inter-line server slots, and
// the addressing every mailbox builtin shares.
#include <array>
#include <cstdint>

#include "builtins/services/LineTable.h"
#include "builtins/services/TagMsgList.h"
#include "engine/TagLineState.h"
#include "engine/TagTelBasic.h"

namespace zz {

class MsgState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kMessages;
    static constexpr int32_t kBoxes = 64;    // script mailboxes 0..63, also the process-wide ones and the slots
    static constexpr int32_t kReplyBox = 64; // replies of inter-line calls

    explicit MsgState(TagTelBasic&) {}

    // Box 0..64.
    TagMsgList& Box(int32_t i) { return boxes_[size_t(i)]; }

    // Filled by SetMsgField, posted by SendMsg, AcdListSend and InterLineCall, and overwritten by every message
    // received; only the line's own thread touches it.
    TagMsgFields work;

private:
    std::array<TagMsgList, kBoxes + 1> boxes_;
};

// The process-wide mailboxes (line < 0) and inter-line server slots, 0..63.
TagMsgList& ProcessMailbox(int32_t box);
TagMsgList& ServerSlot(int32_t slot);

// Address results of the mailbox builtins.
enum : int32_t { kMsgBadBox = -1, kMsgBadLine = -2, kMsgNoProgram = -3 };

// Runs fn(TagMsgList&) on mailbox box of line (a negative line: the process-wide mailbox) and returns its result;
// kMsgBadBox, kMsgBadLine or kMsgNoProgram when the address fails. Another line's program is held meanwhile.
template <class Fn> int32_t WithMailbox(int32_t line, int32_t box, Fn&& fn) {
    if (box < 0 || box >= MsgState::kBoxes) return kMsgBadBox;
    if (line >= LinesCount()) return kMsgBadLine;
    if (line < 0) return fn(ProcessMailbox(box));
    LineProgram prog(line);
    if (!prog) return kMsgNoProgram;
    return fn(prog->LineState<MsgState>().Box(box));
}

} // namespace zz
