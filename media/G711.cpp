#include "media/G711.h"

#include <array>
#include <cmath>

namespace zz {

namespace {

constexpr int16_t ExpandCode(uint8_t code, bool alaw) {
    constexpr int32_t bias[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};
    uint32_t c = alaw ? (code ^ 0x2Au) : code;
    c = ~c & 0xFFu;
    int32_t seg = static_cast<int32_t>((c >> 4) & 7u);
    int32_t mag = (static_cast<int32_t>(c & 0x0Fu) << (seg + 3)) + bias[seg];
    return static_cast<int16_t>((c & 0x80u) ? -mag : mag);
}

constexpr std::array<int16_t, 256> MakeExpand(bool alaw) {
    std::array<int16_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[static_cast<size_t>(i)] = ExpandCode(static_cast<uint8_t>(i), alaw);
    return t;
}

constexpr std::array<int16_t, 256> kExpandAlaw = MakeExpand(true);
constexpr std::array<int16_t, 256> kExpandMulaw = MakeExpand(false);

uint8_t SegmentAlaw(int16_t sample) {
    static constexpr int32_t segEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int32_t pcm = sample >> 3;
    uint8_t mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    int32_t seg = 0;
    while (seg < 8 && pcm > segEnd[seg])
        ++seg;
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    int32_t aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0F : (pcm >> seg) & 0x0F;
    return static_cast<uint8_t>(aval ^ mask);
}

uint8_t CurveAlaw(int16_t sample) {
    const float a = 87.6f;
    float x = static_cast<float>(IntAbs(sample)) / 32767.0f;
    float y;
    if (x > 1.0f / a)
        y = (1.0f + std::log(a * x)) / (1.0f + std::log(a));
    else
        y = a * x / (1.0f + std::log(a));
    int m = static_cast<int>(127.0f * y);
    if (m > 127) m = 127;
    if (m < 0) m = 0;
    if (sample >= 0) m |= 0x80;
    return static_cast<uint8_t>(m ^ 0x55);
}

template <uint8_t (*Enc)(int16_t)> struct EncodeTable {
    std::array<uint8_t, 65536> t;
    EncodeTable() {
        for (uint32_t i = 0; i < 65536; ++i)
            t[i] = Enc(static_cast<int16_t>(static_cast<uint16_t>(i)));
    }
};

} // namespace

int16_t ExpandG711(uint8_t code, bool alaw) {
    return alaw ? kExpandAlaw[code] : kExpandMulaw[code];
}

const int16_t* G711ExpandTable(bool alaw) {
    return alaw ? kExpandAlaw.data() : kExpandMulaw.data();
}

uint8_t LinearToAlaw(int16_t sample) {
    return SegmentAlaw(sample);
}

uint8_t AlawEncodeSample(int16_t sample) {
    return CurveAlaw(sample);
}

const uint8_t* LinearToAlawTable() {
    static const EncodeTable<SegmentAlaw> table;
    return table.t.data();
}

const uint8_t* AlawCurveTable() {
    static const EncodeTable<CurveAlaw> table;
    return table.t.data();
}

} // namespace zz
