#pragma once
// G.711 sample coding shared by the voice-file readers and writers.
#include <cstdint>

namespace zz {

// Absolute value; the most negative value stays as it is (two's complement).
inline int32_t IntAbs(int32_t v) {
    return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

// 8-bit code to a 16-bit sample. A-law codes (alaw set) are XORed with 0x2A and then decoded by the mu-law
// segment rule, not the A-law table: the voice thresholds are tuned to values expanded this way.
int16_t ExpandG711(uint8_t code, bool alaw);
// The 256 expansions of ExpandG711 for one flag.
const int16_t* G711ExpandTable(bool alaw);

// G.711 A-law by the segment table (the card driver's encoder).
uint8_t LinearToAlaw(int16_t sample);
// The continuous A-law curve (A = 87.6, single precision) quantised to 127 levels; used by the PCM converter.
uint8_t AlawEncodeSample(int16_t sample);

// Whole-range tables of the two encoders, indexed by the sample as an unsigned 16-bit value.
const uint8_t* LinearToAlawTable();
const uint8_t* AlawCurveTable();

} // namespace zz
