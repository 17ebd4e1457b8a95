#include "builtins/DbState.h"

#include "data/TagDataSet.h"

namespace zz {

DbState::DbState(TagTelBasic&) {}
DbState::~DbState() = default;

TagDataSet* DbState::At(int32_t handle) const {
    if (handle < 0 || static_cast<size_t>(handle) >= slots_.size()) return nullptr;
    return slots_[static_cast<size_t>(handle)].get();
}

int32_t DbState::FirstFree() const {
    for (size_t i = 0; i < slots_.size(); ++i)
        if (!slots_[i]) return static_cast<int32_t>(i);
    return slots_.size() < static_cast<size_t>(kSlots) ? static_cast<int32_t>(slots_.size()) : -1;
}

int32_t DbState::Put(std::unique_ptr<TagDataSet> db) {
    int32_t h = db ? FirstFree() : -1;
    if (h < 0) return -1;
    if (static_cast<size_t>(h) == slots_.size()) slots_.emplace_back();
    slots_[static_cast<size_t>(h)] = std::move(db);
    ++opened_;
    return h;
}

int32_t DbState::Check(int32_t handle) const {
    if (handle < 0 || handle >= kSlots) return -1;
    if (At(handle)) return 0;
    return handle >= opened_ ? -1 : -2;
}

bool DbState::Close(int32_t handle) {
    if (!At(handle)) return false;
    slots_[static_cast<size_t>(handle)].reset();
    --opened_;
    return true;
}

void DbState::CloseAll() {
    slots_.clear();
    opened_ = 0;
}

} // namespace zz
