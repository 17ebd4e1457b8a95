#include "media/TagWaveUnits.h"
#include "platform/FileHandle.h"

#include "media/G711.h"
#include "media/TagVocFile.h"
#include "media/VocIo.h"
#include "platform/TagWriteLog.h"

#include <cstdio>
#include <memory>

namespace zz {

namespace {

constexpr int32_t kFrameSamples = 20;
constexpr int32_t kVoicedLevel = 450;
constexpr int32_t kMinFrames = 21;

struct OpenStretch {
    TagVocUnit unit;
    uint32_t pos = 0, neg = 0;
    bool open = false;

    void Close(std::vector<TagVocUnit>& units) {
        if (open && unit.frames >= kMinFrames) {
            unit.posSums.push_back(pos);
            unit.negSums.push_back(neg);
            unit.end = unit.start + unit.frames * kFrameSamples;
            units.push_back(std::move(unit));
        }
        *this = OpenStretch{};
    }
};

// Reads the whole file into buf with ReadWaveData; the file length, or -1 when it cannot be opened.
int64_t LoadSamples(const std::string& path, voc::BigArray<uint8_t>& buf, int32_t& bytes, uint8_t& vType,
                    int64_t minLen) {
    bytes = 0;
    FileHandle f = FileHandle::Open(path.c_str(), "rb");
    if (!f) return -1;
    int64_t len = voc::FileLength(f.get());
    if (len < minLen) return len;
    int32_t size = static_cast<int32_t>(std::min<int64_t>(len, INT32_MAX));
    try {
        buf = voc::MakeBigArray<uint8_t>(static_cast<size_t>(size));
    } catch (const std::exception& e) {
        WriteRunLog(e.what());
        return -2;
    }
    bytes = ReadWaveData(f.get(), buf.get(), size, vType);
    return len;
}

} // namespace

int32_t SegmentVoice(const uint8_t* data, int32_t bytes, std::vector<TagVocUnit>& units, uint8_t vType) {
    if (bytes <= 0 || !data) return static_cast<int32_t>(units.size());
    int32_t frames = bytes / kFrameSamples;
    if (vType == kVocPcm16) frames /= 2;
    const int16_t* table = G711ExpandTable(vType == kVocAlaw);
    OpenStretch st;
    int32_t s[kFrameSamples];
    for (int32_t fi = 0; fi < frames; ++fi) {
        if (vType == kVocPcm16) {
            const uint8_t* p = data + static_cast<size_t>(fi) * 2 * kFrameSamples;
            for (int32_t k = 0; k < kFrameSamples; ++k)
                s[k] = static_cast<int16_t>(voc::GetLe16(p + 2 * k));
        } else {
            const uint8_t* p = data + static_cast<size_t>(fi) * kFrameSamples;
            for (int32_t k = 0; k < kFrameSamples; ++k)
                s[k] = table[p[k]];
        }
        int32_t sumAbs = 0, sumPos = 0, sumNeg = 0;
        for (int32_t k = 0; k < kFrameSamples; ++k) {
            int32_t v = s[k];
            sumAbs += IntAbs(v);
            if (v > 0)
                sumPos += v;
            else
                sumNeg -= v;
        }
        int32_t meanAbs = sumAbs / kFrameSamples;
        if (meanAbs < kVoicedLevel) {
            st.Close(units);
            continue;
        }
        if (!st.open) {
            st.open = true;
            st.unit.start = fi * kFrameSamples;
        }
        st.unit.energy += meanAbs;
        st.pos += static_cast<uint32_t>(sumPos / kFrameSamples);
        st.neg += static_cast<uint32_t>(sumNeg / kFrameSamples);
        if (++st.unit.frames % 8 == 0) {
            st.unit.posSums.push_back(st.pos);
            st.unit.negSums.push_back(st.neg);
            st.pos = st.neg = 0;
        }
    }
    st.Close(units);
    return static_cast<int32_t>(units.size());
}

TagWaveUnits::TagWaveUnits(const std::string& path) : fileName(path) {
    voc::BigArray<uint8_t> buf;
    int32_t bytes = 0;
    uint8_t vType = kVocAlaw;
    int64_t len = LoadSamples(path, buf, bytes, vType, 160);
    if (len == -1) {
        WriteRunLogF("Open '%s' Error!", path.c_str());
        return;
    }
    if (len < 0) return;
    if (len < 160) {
        WriteRunLogF("'%s' 太小!", path.c_str());
        return;
    }
    SegmentVoice(buf.get(), bytes, units, vType);
}

int32_t WriteTrimmedWave(const TagWaveUnits& w, const std::string& outPath) {
    voc::BigArray<uint8_t> buf;
    int32_t bytes = 0;
    uint8_t vType = kVocAlaw;
    int64_t len = LoadSamples(w.fileName, buf, bytes, vType, 1000);
    if (len < 1000 || w.units.empty()) return -2;
    int64_t from = w.units.front().start, to = w.units.back().end;
    if (vType == kVocPcm16) {
        from *= 2;
        to *= 2;
    }
    if (from < 0 || from >= bytes || to <= from || to > bytes) return -3;
    FileHandle out = FileHandle::Open(outPath.c_str(), "wb");
    if (!out) return -4;
    uint32_t span = static_cast<uint32_t>(to - from);
    voc::WavFormat fmt{1, 1, 8000, 16000, 2, 16};
    if (vType != kVocPcm16) fmt = {static_cast<uint16_t>(vType == kVocMulaw ? 7 : 6), 1, 8000, 8000, 1, 8};
    auto head = voc::MakeHeader46(fmt, span);
    if (std::fwrite(head.data(), 1, head.size(), out.get()) != head.size() ||
        std::fwrite(buf.get() + from, 1, span, out.get()) != span || out.Close() != 0)
        return -4;
    return static_cast<int32_t>(w.units.size()) - 1;
}

int32_t ReplaceVocFile(const std::string& path) {
    TagWaveUnits units(path);
    if (units.units.empty()) return -2;
    // A name of its own, so two lines trimming the same file never write into each other's copy.
    std::string temp = voc::ReserveTempName(path);
    if (temp.empty()) return -4;
    int32_t r = WriteTrimmedWave(units, temp);
    if (r >= 0 && std::rename(temp.c_str(), path.c_str()) != 0) r = -4;
    if (r < 0) std::remove(temp.c_str());
    return r;
}

} // namespace zz
