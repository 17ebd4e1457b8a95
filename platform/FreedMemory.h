#pragma once
// Hands back to the system the memory the allocator kept after a load. The SIP library keeps each transaction
// some 32 s after its call, so a burst of calls leaves tens of megabytes freed inside the SIP thread's arena;
// glibc only shrinks an arena from its top, and a few live blocks above the freed ones keep all of it resident.
// malloc_trim releases the free pages of every arena. It locks each arena while it walks it, so it runs from
// the display tick and only once a load has fallen: when the lines in a call have stayed at a quarter or less of
// the most since the last hand-back for a while (a load that ended falls to none).
#include <cstdint>
#include <functional>

namespace zz {

class FreedMemory {
public:
    // How long the load stays fallen first: the SIP transactions of the calls that ended go 32 s after them.
    static constexpr uint32_t kQuietMs = 40000;

    // trim hands the memory back (by default HandBackFreedMemory).
    explicit FreedMemory(std::function<void()> trim = {});
    // One look, with the lines in a call now; true when it handed memory back.
    bool Step(int32_t linesInCall);

private:
    std::function<void()> trim_;
    int32_t most_ = 0;    // the most lines in a call since the last hand-back
    bool fallen_ = false; // at a quarter of most_ or less since fellAt_
    uint32_t fellAt_ = 0;
};

// malloc_trim(0), and the run-log line "Memory handed back: ..." with the resident memory before and after.
void HandBackFreedMemory();

} // namespace zz
