#include "builtins/services/MsgState.h"

namespace zz {

namespace {

// Made on first use, after the object registry, and so gone before it at exit.
std::array<TagMsgList, MsgState::kBoxes>& ProcessBoxes() {
    static std::array<TagMsgList, MsgState::kBoxes> boxes;
    return boxes;
}

std::array<TagMsgList, MsgState::kBoxes>& Slots() {
    static std::array<TagMsgList, MsgState::kBoxes> slots;
    return slots;
}

} // namespace

TagMsgList& ProcessMailbox(int32_t box) {
    return ProcessBoxes()[size_t(box)];
}

TagMsgList& ServerSlot(int32_t slot) {
    return Slots()[size_t(slot)];
}

} // namespace zz
