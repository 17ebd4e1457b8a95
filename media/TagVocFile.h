#pragma once
// 8 kHz mono voice files (A-law, mu-law, 16-bit PCM in RIFF WAVE, or bare A-law) read into 16-bit samples.
#include "media/VocIo.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace zz {

// Sample kinds of a voice file.
enum : uint8_t { kVocAlaw = 0, kVocMulaw = 1, kVocPcm16 = 2 };

// Checks the header of an open file and reads its sample bytes into buf (at most size). vType gets the kind.
// Returns the number of bytes read, 0 when the header is refused (logged). A file without "RIFF" is bare A-law.
int32_t ReadWaveData(FILE* f, uint8_t* buf, int32_t size, uint8_t& vType);

// Automatic-gain factor of a stretch from its loudest 160-sample frame sum: -2 means two thirds.
int32_t AutoGainFactor(int32_t peakFrameSum);

class TagVocFile {
public:
    // A gain below 0.0001 selects the automatic gain. status tells whether the file was loaded.
    TagVocFile(const std::string& path, double gain);

    int Save(const std::string& path) const;
    int SavePcm16(const std::string& path) const;
    int SaveAlaw(const std::string& path) const;

    int32_t status = -1;
    voc::BigArray<int16_t> samples;
    int32_t count = 0;
    uint8_t vType = kVocAlaw;

private:
    int32_t AutoGain();
};

} // namespace zz
