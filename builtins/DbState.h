#pragma once
// The line's open databases: handles 0..1023 into a table of data sets, the count of open ones and the last
// error text: a family record of the line's main program. The data sets are closed when the program goes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/TagLineState.h"

namespace zz {

class TagDataSet;

class DbState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kDatabase;
    static constexpr int32_t kSlots = 1024;

    explicit DbState(TagTelBasic&);
    ~DbState() override;

    // The data set of a handle, or null (closed, or out of range).
    TagDataSet* At(int32_t handle) const;
    // The lowest free handle, or -1 when all 1024 are taken.
    int32_t FirstFree() const;
    // Keeps the data set under the lowest free handle: the handle, or -1 when all 1024 are taken.
    int32_t Put(std::unique_ptr<TagDataSet> db);
    // Closes one handle: true when it was open.
    bool Close(int32_t handle);
    void CloseAll();
    int32_t Opened() const { return opened_; }
    // 0 for an open handle (whatever was closed below it), -1 for a handle outside the table or at or above the
    // open count, -2 for an empty slot below it.
    int32_t Check(int32_t handle) const;

    std::string lastError;

private:
    std::vector<std::unique_ptr<TagDataSet>> slots_;
    int32_t opened_ = 0;
};

} // namespace zz
