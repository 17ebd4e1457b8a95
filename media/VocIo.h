#pragma once
// Byte-level helpers of the voice-file code: little-endian fields, the written RIFF headers, a strict header
// parser for the converters, and output files that appear under their name only when complete.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/FileHandle.h"
#include "platform/LittleEndian.h"

namespace zz::voc {

using ::zz::GetLe16;
using ::zz::GetLe32;
using ::zz::PutLe16;
using ::zz::PutLe32;

struct WavFormat {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t align = 0;
    uint16_t bits = 0;
};

// 44 bytes: fmt chunk of 16.
std::array<uint8_t, 44> MakeHeader44(const WavFormat& f, uint32_t dataLen);
// 46 bytes: fmt chunk of 18 with a zero extra size.
std::array<uint8_t, 46> MakeHeader46(const WavFormat& f, uint32_t dataLen);

// Length of an open file (the position is restored), -1 when it cannot be told.
int64_t FileLength(FILE* f);

// A RIFF WAVE header checked against the file it came from.
struct WavLayout {
    WavFormat fmt;
    uint32_t fmtSize = 0;
    int64_t dataSizeAt = 0; // offset of the data chunk's size field
    int64_t dataAt = 0;     // offset of the first sound byte
    uint32_t dataSize = 0;  // as declared
    int64_t fileLen = 0;
};
// Walks "RIFF" "WAVE", the chunks up to "data" (a "fmt " of at least 16 bytes must come first), every chunk
// within the file. False with the reason in why. The declared data size may exceed what the file holds.
bool ParseWavLayout(FILE* f, WavLayout& out, std::string& why);

// From a chunk boundary of an open RIFF file, skips every chunk that is not "data" (editors put LIST, JUNK, fact
// and others there). True with f at the first sound byte and the declared size; false when no data chunk starts
// within the file's fileLen bytes.
bool SeekDataChunk(FILE* f, int64_t fileLen, uint32_t& dataSize);

// A new file written under a unique name beside the target and renamed onto it by Commit, so that readers
// and other writers of the same name never see it half written. Removed when not committed.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Opens the temporary file for reading and writing; null on failure.
    FILE* Open(const std::string& target);
    FILE* File() const { return file_.get(); }
    const std::string& TempName() const { return temp_; }
    // Flushes, closes and renames; false (temporary removed) on any failure.
    bool Commit();
    void Discard();

private:
    FileHandle file_;
    std::string target_, temp_;
};

// Whole-file sample buffers. Large ones are mapped with transparent huge pages: an hour of voice touched for
// the first time costs tens of thousands of page faults otherwise. Contents are left uninitialised.
struct BigFree {
    size_t mapped = 0; // bytes mapped, 0 for the heap
    void operator()(void* p) const;
};
template <class T> using BigArray = std::unique_ptr<T[], BigFree>;
void* BigAlloc(size_t bytes, BigFree& how);
// Throws std::bad_alloc when the memory is not there.
template <class T> BigArray<T> MakeBigArray(size_t n) {
    BigFree how;
    T* p = static_cast<T*>(BigAlloc(n * sizeof(T), how));
    return BigArray<T>(p, how);
}

// A unique name beside path (path + ".tmp" + suffix), created empty so nobody else takes it; "" on failure.
std::string ReserveTempName(const std::string& path);

} // namespace zz::voc
