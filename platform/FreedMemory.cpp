#include "platform/FreedMemory.h"

#include "platform/Clock.h"
#include "platform/TagWriteLog.h"

#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace zz {

namespace {

// Resident memory in KiB (0 when unknown).
long ResidentKib() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

void HandBackFreedMemory() {
    long before = ResidentKib();
    uint32_t start = GetTickCount();
    malloc_trim(0);
    WriteRunLogF("Memory handed back: resident %ld KiB before, %ld KiB after (%u ms)", before, ResidentKib(),
                 TicksSince(start));
}

FreedMemory::FreedMemory(std::function<void()> trim) : trim_(trim ? std::move(trim) : HandBackFreedMemory) {}

bool FreedMemory::Step(int32_t linesInCall) {
    uint32_t now = GetTickCount();
    if (linesInCall > most_) most_ = linesInCall;
    if (most_ == 0 || int64_t(linesInCall) * 4 > most_) {
        fallen_ = false;
        return false;
    }
    if (!fallen_) {
        fallen_ = true;
        fellAt_ = now;
    }
    if (TicksSince(fellAt_, now) < kQuietMs) return false;
    fallen_ = false;
    most_ = linesInCall;
    trim_();
    return true;
}

} // namespace zz
