#include "builtins/DbState.h"

#include "data/TagDataSet.h"

namespace zz {

DbState::DbState(TagTelBasic&) {}
DbState::~DbState() = default;

TagDataSet* DbState::At(int32_t handle) const {
    if (handle < 0 || static_cast<size_t>(handle) >= slots_.size()) return nullptr;
    return slots_[static_cast<size_t>(handle)].get();
}

int32_t DbState::Put(std::unique_ptr<TagDataSet> db) {
    if (!db) return -1;
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i]) {
            slots_[i] = std::move(db);
            ++opened_;
            return static_cast<int32_t>(i);
        }
    }
    if (slots_.size() >= static_cast<size_t>(kSlots)) return -1;
    slots_.push_back(std::move(db));
    ++opened_;
    return static_cast<int32_t>(slots_.size() - 1);
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
