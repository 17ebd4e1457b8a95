#pragma once
// Line settings the console reads from another thread: how the line's keys are shown. A family record of the
// line's main program.
#include <atomic>
#include <cstdint>

#include "engine/TagLineState.h"

namespace zz {

class LineSettingsState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kLineSettings;
    explicit LineSettingsState(TagTelBasic&) {}

    std::atomic<int32_t> keyDispMode{0};
};

} // namespace zz
