#pragma once
// Stretches of speech in a voice file, found by frame energy, and the in-place silence trim built on them.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

struct TagVocUnit {
    int32_t energy = 0;            // sum of the voiced frames' mean absolute amplitudes
    int32_t frames = 0;            // voiced frames (20 samples each)
    int32_t start = 0;             // first sample
    int32_t end = 0;               // start + frames * 20
    std::vector<uint32_t> posSums; // per 8 voiced frames; the last entry is the unfinished block
    std::vector<uint32_t> negSums;
};

// Appends the stretches found in the sample bytes; returns how many the list then holds.
int32_t SegmentVoice(const uint8_t* data, int32_t bytes, std::vector<TagVocUnit>& units, uint8_t vType);

class TagWaveUnits {
public:
    explicit TagWaveUnits(const std::string& path);

    std::string fileName;
    std::vector<TagVocUnit> units;
};

// Writes the span from the first stretch to the end of the last, behind a 46-byte header.
// Number of stretches - 1, or -2 (source unusable or no speech), -3 (span outside the data), -4 (no output).
int32_t WriteTrimmedWave(const TagWaveUnits& w, const std::string& outPath);

// Trims leading and trailing silence off a voice file in place; the file changes only when the trim worked.
int32_t ReplaceVocFile(const std::string& path);

} // namespace zz
