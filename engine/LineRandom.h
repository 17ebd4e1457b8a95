#pragma once
// The script's random numbers: one generator per line thread, so that lines neither share nor disturb each
// other's sequences. The run loop seeds it when a script starts to run on the thread.
#include <cstdint>

namespace zz {

void SeedLineRandom(uint32_t seed);
// The next value of the calling thread's generator, 0 to 32767 (the range scripts have always seen).
int32_t LineRandom();

} // namespace zz
