#include "media/TagVocFile.h"

#include "media/G711.h"
#include "media/VocIo.h"
#include "platform/FileHandle.h"
#include "platform/TagWriteLog.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace zz {

namespace {

constexpr int32_t kMaxGainSample = 32467;
constexpr int32_t kFrame = 160;

int16_t Clip(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, -kMaxGainSample, kMaxGainSample));
}

// Writes the header and then the samples through encode, a piece at a time.
template <class Encode>
int WriteVoice(const std::string& path, const uint8_t* head, size_t headLen, const int16_t* s, int32_t count,
               size_t bytesPerSample, Encode encode) {
    voc::PendingFile out;
    FILE* f = out.Open(path);
    bool ok = f && std::fwrite(head, 1, headLen, f) == headLen;
    uint8_t piece[32768];
    const int32_t perPiece = static_cast<int32_t>(sizeof piece / bytesPerSample);
    for (int32_t done = 0; ok && done < count; done += perPiece) {
        int32_t n = std::min(perPiece, count - done);
        for (int32_t i = 0; i < n; ++i)
            encode(piece + static_cast<size_t>(i) * bytesPerSample, s[done + i]);
        size_t bytes = static_cast<size_t>(n) * bytesPerSample;
        ok = std::fwrite(piece, 1, bytes, f) == bytes;
    }
    if (!ok || !out.Commit()) {
        WriteRunLogF("'%s' 无法创建!", path.c_str());
        return -1;
    }
    return 0;
}

} // namespace

// Checks the header and leaves the stream at the first sample byte; the number of bytes to read (at most
// size), 0 when refused. -1 for a headerless file, read from its first byte.
static int64_t LocateWaveData(FILE* f, int32_t size, uint8_t& vType) {
    vType = kVocAlaw;
    if (!f) {
        WriteRunLog("File not open!");
        return 0;
    }
    if (size <= 0) return 0;
    uint8_t head[20] = {};
    std::fseek(f, 0, SEEK_SET);
    size_t got = std::fread(head, 1, sizeof head, f);
    if (got < 4 || std::memcmp(head, "RIFF", 4) != 0) {
        WriteRunLog("不是Wave文件");
        std::fseek(f, 0, SEEK_SET);
        return -1;
    }
    // Fields a short fmt chunk does not cover stay 0, which the rate check refuses.
    uint32_t fmtSize = voc::GetLe32(head + 16);
    uint8_t fmt[20] = {};
    uint32_t want = std::min<uint32_t>(fmtSize, sizeof fmt);
    size_t fmtGot = std::fread(fmt, 1, want, f);
    uint16_t tag = voc::GetLe16(fmt);
    uint32_t rate = voc::GetLe32(fmt + 4);
    uint16_t bits = voc::GetLe16(fmt + 14);
    if (rate != 8000) {
        WriteRunLog("采样率不是8000");
        return 0;
    }
    if (tag == 6 || tag == 7) {
        if (bits != 8) {
            WriteRunLog("数据位不是8Bit");
            return 0;
        }
        vType = tag == 7 ? kVocMulaw : kVocAlaw;
    } else if (tag == 1) {
        vType = kVocPcm16;
        if (bits != 16) {
            WriteRunLog("PCM数据位不是16Bit");
            return 0;
        }
    }
    if (fmtSize > fmtGot) std::fseek(f, static_cast<long>(fmtSize - fmtGot), SEEK_CUR);
    uint32_t dataSize = 0;
    if (!voc::SeekDataChunk(f, voc::FileLength(f), dataSize)) return 0;
    return std::min<uint32_t>(dataSize, static_cast<uint32_t>(size));
}

int32_t ReadWaveData(FILE* f, uint8_t* buf, int32_t size, uint8_t& vType) {
    int64_t located = LocateWaveData(f, buf ? size : 0, vType);
    if (located < 0) return static_cast<int32_t>(std::fread(buf, 1, static_cast<size_t>(size), f));
    uint32_t len = static_cast<uint32_t>(located), done = 0;
    while (done < len) {
        size_t piece = std::min<uint32_t>(len - done, 16000);
        size_t n = std::fread(buf + done, 1, piece, f);
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

int32_t AutoGainFactor(int32_t peakFrameSum) {
    int32_t p = peakFrameSum / kFrame;
    if (p > 9829) return -2;
    if (p < 1) return 1;
    if (p > 3276) return 1;
    return std::min<int32_t>(6553 / p, 10);
}

TagVocFile::TagVocFile(const std::string& path, double gain) {
    bool autoGain = !(gain >= 0.0001); // NaN too
    if (autoGain) gain = 1.0;
    gain = std::min(gain, 1e6); // keeps gain x 0 a number
    FileHandle f = FileHandle::Open(path.c_str(), "rb");
    if (!f) {
        WriteRunLogF("'%s' open err", path.c_str());
        return;
    }
    int64_t fLen = voc::FileLength(f.get());
    WriteRunLogF("fLen=%lld", static_cast<long long>(fLen));
    if (fLen < 160) {
        WriteRunLogF("'%s' 太小!", path.c_str());
        return;
    }
    if (fLen > INT32_MAX) fLen = INT32_MAX;
    // The sound is expanded piece by piece as it is read; no copy of the whole file is kept.
    uint8_t kind = kVocAlaw;
    int64_t located = LocateWaveData(f.get(), static_cast<int32_t>(fLen), kind);
    int64_t want = located < 0 ? fLen : located;
    int32_t maxSamples = static_cast<int32_t>(kind == kVocPcm16 ? want / 2 : want);
    try {
        samples = voc::MakeBigArray<int16_t>(static_cast<size_t>(std::max(maxSamples, 1)));
    } catch (const std::exception& e) {
        WriteRunLog(e.what());
        return;
    }
    const int16_t* table = G711ExpandTable(kind == kVocAlaw);
    bool scale = !autoGain && gain != 1.0;
    uint8_t piece[16000];
    int64_t len = 0;
    size_t carry = 0; // an odd byte of a 16-bit sample left from the previous piece
    while (len < want) {
        size_t n =
            std::fread(piece + carry, 1, static_cast<size_t>(std::min<int64_t>(want - len, 16000 - carry)), f.get());
        if (n == 0) break;
        if (kind == kVocPcm16) {
            size_t have = carry + n, whole = have / 2;
            int16_t* out = samples.get() + (len - static_cast<int64_t>(carry)) / 2;
            for (size_t i = 0; i < whole; ++i)
                out[i] = static_cast<int16_t>(voc::GetLe16(piece + 2 * i));
            carry = have & 1u;
            if (carry) piece[0] = piece[have - 1];
        } else {
            int16_t* out = samples.get() + len;
            if (scale)
                for (size_t i = 0; i < n; ++i)
                    out[i] = Clip(static_cast<int64_t>(std::clamp(table[piece[i]] * gain, -1e9, 1e9)));
            else
                for (size_t i = 0; i < n; ++i)
                    out[i] = table[piece[i]];
        }
        len += static_cast<int64_t>(n);
    }
    if (len <= 0) {
        samples.reset();
        WriteRunLogF("'%s' 文件头不正确!", path.c_str());
        return;
    }
    vType = kind;
    WriteRunLogF("len=%d, vType=%d", static_cast<int32_t>(len), kind);
    count = static_cast<int32_t>(vType == kVocPcm16 ? len / 2 : len);
    if (vType != kVocPcm16) WriteRunLog("new OK.");
    int32_t changed = vType != kVocPcm16 && autoGain ? AutoGain() : 0;
    WriteRunLog("delete buff1");
    status = 0;
    if (changed > 0) WriteRunLogF("AutoGainCount=%d: %s", changed, path.c_str());
}

int32_t TagVocFile::AutoGain() {
    int64_t noiseSum = 0;
    int32_t noiseFrames = 0, threshold = 65535;
    int32_t start = -1, end = 0, peak = 0, quiet = 0, changed = 0;
    int32_t frameSum = 0, frameLen = 0;
    int16_t* s = samples.get();
    for (int32_t i = 0; i < count; ++i) {
        frameSum += IntAbs(s[i]);
        if (++frameLen < kFrame) continue;
        if (i < 80000 && frameSum <= 65535) {
            noiseSum += frameSum;
            ++noiseFrames;
            threshold = std::clamp<int32_t>(static_cast<int32_t>(3 * (noiseSum / noiseFrames)), 200, 65535);
        }
        if (frameSum > threshold) {
            quiet = 0;
            if (start < 0) start = i - (kFrame - 1);
            end = i;
            peak = std::max(peak, frameSum);
        } else {
            end = i;
            ++quiet;
            if (peak >= 1 && quiet >= 27) {
                int32_t g = AutoGainFactor(peak);
                if (g != 1) {
                    ++changed;
                    for (int32_t k = start; k <= end; ++k)
                        s[k] = g < 2 ? Clip(s[k] * 2 / 3) : Clip(static_cast<int64_t>(g) * s[k]);
                }
                start = -1;
                end = 0;
                peak = 0;
                quiet = 0;
            }
        }
        frameSum = 0;
        frameLen = 0;
    }
    return changed;
}

int TagVocFile::Save(const std::string& path) const {
    return vType == kVocPcm16 ? SavePcm16(path) : SaveAlaw(path);
}

int TagVocFile::SavePcm16(const std::string& path) const {
    voc::WavFormat fmt{1, 1, 8000, 16000, 2, 16};
    auto head = voc::MakeHeader44(fmt, 2u * static_cast<uint32_t>(count));
    return WriteVoice(path, head.data(), head.size(), samples.get(), count, 2,
                      [](uint8_t* p, int16_t v) { voc::PutLe16(p, static_cast<uint16_t>(v)); });
}

int TagVocFile::SaveAlaw(const std::string& path) const {
    voc::WavFormat fmt{6, 1, 8000, 8000, 1, 8};
    auto head = voc::MakeHeader44(fmt, static_cast<uint32_t>(count));
    const uint8_t* table = LinearToAlawTable();
    return WriteVoice(path, head.data(), head.size(), samples.get(), count, 1,
                      [table](uint8_t* p, int16_t v) { *p = table[static_cast<uint16_t>(v)]; });
}

} // namespace zz
