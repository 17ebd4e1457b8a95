#pragma once
// Lays one voice file over another (a prompt over music) and writes the clipped sum to a third file.
#include <cstdint>
#include <string>

namespace zz {

// 0 when mixed and written; -1 when a file could not be loaded, -2 when the output could not be written.
// A gain below 0.0001 selects the automatic gain.
int32_t MixVocData(const std::string& pathA, double gainA, uint32_t offsetMs, const std::string& pathB, double gainB,
                   const std::string& outPath);

// The MixVocFile builtin: 1 when the mix was written, otherwise MixVocData's negative code.
int32_t MixVocFiles(const std::string& pathA, float gainA, uint32_t offsetMs, const std::string& pathB, float gainB,
                    const std::string& outPath);

} // namespace zz
