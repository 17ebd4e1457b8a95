#pragma once
// The scripts a line runs inside its own with RunKvs: the one running now and how deeply they are nested. A
// family record of the line's main program.
#include <cstdint>

#include "engine/TagLineState.h"

namespace zz {

class RunKvsState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kRunKvs;
    // Scripts started from scripts started from ... the line's own: beyond this RunKvs refuses (each level takes
    // a run loop and a compiler on the line's stack).
    static constexpr int32_t kMaxDepth = 8;

    explicit RunKvsState(TagTelBasic&) {}

    TagTelBasic* running = nullptr; // the innermost called program, null when none runs
    int32_t depth = 0;
};

} // namespace zz
