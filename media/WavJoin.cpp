#include "media/WavJoin.h"
#include "platform/FileHandle.h"

#include "media/G711.h"
#include "media/VocIo.h"
#include "platform/TagWriteLog.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace zz {

namespace {

constexpr size_t kCopyPiece = 65536;

bool IsWavName(const std::string& name) {
    return name.size() >= 4 &&
           (name.compare(name.size() - 4, 4, ".wav") == 0 || name.compare(name.size() - 4, 4, ".WAV") == 0);
}

void LogAlwaysF(const char* fmt, const std::string& a, const std::string& b = {}) {
    char line[1024];
    std::snprintf(line, sizeof line, fmt, a.c_str(), b.c_str());
    WriteRunLogAlways(line);
}

// Copies up to len bytes from the current position of in to the end of out; returns the bytes copied.
uint64_t CopyBytes(FILE* in, FILE* out, uint64_t len) {
    std::vector<uint8_t> buf(kCopyPiece);
    uint64_t done = 0;
    while (done < len) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(len - done, kCopyPiece));
        size_t n = std::fread(buf.data(), 1, want, in);
        if (n == 0) break;
        size_t w = std::fwrite(buf.data(), 1, n, out);
        done += w;
        if (w != n) break;
    }
    return done;
}

bool SameFormat(const voc::WavFormat& a, const voc::WavFormat& b) {
    return a.tag == b.tag && a.channels == b.channels && a.rate == b.rate && a.bits == b.bits;
}

bool RewriteSizes(FILE* out, const voc::WavLayout& lay, uint32_t dataSize) {
    uint8_t b[4];
    voc::PutLe32(b, static_cast<uint32_t>(lay.dataAt + dataSize - 8));
    bool ok = std::fseek(out, 4, SEEK_SET) == 0 && std::fwrite(b, 1, 4, out) == 4;
    voc::PutLe32(b, dataSize);
    ok = ok && std::fseek(out, lay.dataSizeAt, SEEK_SET) == 0 && std::fwrite(b, 1, 4, out) == 4;
    return std::fflush(out) == 0 && ok;
}

} // namespace

int32_t JoinWavFiles(FILE* out, const std::string& inPath) {
    FileHandle in = FileHandle::Open(inPath.c_str(), "rb");
    if (!in) {
        LogAlwaysF("Open file error: %s", inPath);
        return -1;
    }
    if (!out || std::fseek(out, 0, SEEK_END) != 0) return -1;
    int64_t outLen = std::ftell(out);

    // Whatever the output already holds must be a WAV file whose data chunk ends the file; then its sizes
    // can be raised. Otherwise it is a stream of raw pieces and no header may be written into it.
    voc::WavLayout outLay;
    std::string why;
    bool outHasHeader = false;
    if (outLen > 0) {
        outHasHeader = voc::ParseWavLayout(out, outLay, why) && outLay.dataAt + outLay.dataSize == outLen;
        std::fseek(out, 0, SEEK_END);
    }

    uint64_t pieceLen;
    if (IsWavName(inPath)) {
        voc::WavLayout inLay;
        if (!voc::ParseWavLayout(in.get(), inLay, why)) {
            LogAlwaysF("Wav header error (%s): %s", why, inPath);
            return -1;
        }
        if (outLen > 0 && !outHasHeader) {
            LogAlwaysF("Join: output has no usable wav header, not joined: %s%s", inPath);
            return -1;
        }
        if (outHasHeader && !SameFormat(outLay.fmt, inLay.fmt)) {
            LogAlwaysF("Join: format differs from the output, not joined: %s%s", inPath);
            return -1;
        }
        if (outLen <= 0) {
            auto head = voc::MakeHeader46(inLay.fmt, 0);
            if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) return -1;
            outLay.dataSizeAt = 42;
            outLay.dataAt = 46;
            outLay.dataSize = 0;
            outHasHeader = true;
        }
        // A declared length beyond the file (an unfinished recording) takes what is there.
        pieceLen = std::min<uint64_t>(inLay.dataSize, static_cast<uint64_t>(inLay.fileLen - inLay.dataAt));
        std::fseek(in.get(), inLay.dataAt, SEEK_SET);
    } else {
        int64_t len = voc::FileLength(in.get());
        pieceLen = len > 0 ? static_cast<uint64_t>(len) : 0;
    }
    uint64_t wanted = pieceLen;
    if (outHasHeader) {
        // The sizes are 32-bit: what would not fit is not appended.
        int64_t room = int64_t{UINT32_MAX} - (outLay.dataAt + outLay.dataSize);
        pieceLen = std::min<uint64_t>(pieceLen, static_cast<uint64_t>(std::max<int64_t>(room, 0)));
    }
    uint64_t copied = CopyBytes(in.get(), out, pieceLen);
    if (outHasHeader && !RewriteSizes(out, outLay, outLay.dataSize + static_cast<uint32_t>(copied))) return -1;
    std::fseek(out, 0, SEEK_END);
    return copied == wanted ? 0 : -1;
}

int32_t ConvertPcmWavToAlaw(const std::string& inPath, const std::string& outPath) {
    FileHandle in = FileHandle::Open(inPath.c_str(), "rb");
    if (!in) return -1;
    voc::WavLayout lay;
    std::string why;
    if (!voc::ParseWavLayout(in.get(), lay, why)) {
        WriteRunLogF("'%s' %s", inPath.c_str(), why.c_str());
        return -2;
    }
    if (lay.fmt.tag != 1 || lay.fmt.bits != 16) return -3;

    voc::PendingFile pending;
    FILE* out = pending.Open(outPath);
    if (!out) return -2;
    // Mono keeps the card's layout (byte rate = rate, align 1); more channels get consistent fields.
    voc::WavFormat fmt{6, lay.fmt.channels, lay.fmt.rate, lay.fmt.rate * lay.fmt.channels, lay.fmt.channels, 8};
    auto head = voc::MakeHeader46(fmt, 0);
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) return -2;

    uint64_t samplesLeft = std::min<uint64_t>(lay.dataSize, static_cast<uint64_t>(lay.fileLen - lay.dataAt)) / 2;
    std::fseek(in.get(), lay.dataAt, SEEK_SET);
    const uint8_t* table = AlawCurveTable();
    constexpr size_t kPiece = 32768;
    std::vector<uint8_t> pcm(2 * kPiece), alaw(kPiece);
    uint32_t written = 0;
    while (samplesLeft > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(samplesLeft, kPiece));
        size_t n = std::fread(pcm.data(), 2, want, in.get());
        if (n == 0) break;
        for (size_t i = 0; i < n; ++i)
            alaw[i] = table[voc::GetLe16(&pcm[2 * i])];
        if (std::fwrite(alaw.data(), 1, n, out) != n) return -2;
        written += static_cast<uint32_t>(n);
        samplesLeft -= n;
    }
    head = voc::MakeHeader46(fmt, written);
    if (std::fseek(out, 0, SEEK_SET) != 0 || std::fwrite(head.data(), 1, head.size(), out) != head.size()) return -2;
    return pending.Commit() ? 0 : -2;
}

} // namespace zz
