#include "media/VocIo.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace zz::voc {

namespace {

template <size_t N> void FillHeader(std::array<uint8_t, N>& h, const WavFormat& f, uint32_t dataLen) {
    constexpr uint32_t fmtSize = N == 46 ? 18 : 16;
    uint8_t* p = h.data();
    std::memcpy(p, "RIFF", 4);
    PutLe32(p + 4, dataLen + static_cast<uint32_t>(N) - 8);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    PutLe32(p + 16, fmtSize);
    PutLe16(p + 20, f.tag);
    PutLe16(p + 22, f.channels);
    PutLe32(p + 24, f.rate);
    PutLe32(p + 28, f.byteRate);
    PutLe16(p + 32, f.align);
    PutLe16(p + 34, f.bits);
    if (N == 46) PutLe16(p + 36, 0);
    std::memcpy(p + N - 8, "data", 4);
    PutLe32(p + N - 4, dataLen);
}

std::atomic<uint32_t> g_tempCounter{0};

} // namespace

std::array<uint8_t, 44> MakeHeader44(const WavFormat& f, uint32_t dataLen) {
    std::array<uint8_t, 44> h{};
    FillHeader(h, f, dataLen);
    return h;
}

std::array<uint8_t, 46> MakeHeader46(const WavFormat& f, uint32_t dataLen) {
    std::array<uint8_t, 46> h{};
    FillHeader(h, f, dataLen);
    return h;
}

int64_t FileLength(FILE* f) {
    long pos = std::ftell(f);
    if (pos < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    long len = std::ftell(f);
    std::fseek(f, pos, SEEK_SET);
    return len;
}

bool ParseWavLayout(FILE* f, WavLayout& out, std::string& why) {
    out = WavLayout{};
    out.fileLen = FileLength(f);
    uint8_t h[12];
    if (out.fileLen < 12 || std::fseek(f, 0, SEEK_SET) != 0 || std::fread(h, 1, 12, f) != 12) {
        why = "shorter than a RIFF header";
        return false;
    }
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) {
        why = "not RIFF WAVE";
        return false;
    }
    int64_t at = 12;
    bool haveFmt = false;
    for (;;) {
        uint8_t ch[8];
        if (at + 8 > out.fileLen || std::fseek(f, at, SEEK_SET) != 0 || std::fread(ch, 1, 8, f) != 8) {
            why = haveFmt ? "no data chunk" : "no fmt chunk";
            return false;
        }
        uint32_t size = GetLe32(ch + 4);
        if (std::memcmp(ch, "data", 4) == 0) {
            if (!haveFmt) {
                why = "data chunk before fmt chunk";
                return false;
            }
            out.dataSizeAt = at + 4;
            out.dataAt = at + 8;
            out.dataSize = size;
            return true;
        }
        if (at + 8 + static_cast<int64_t>(size) > out.fileLen) {
            why = "chunk runs past the end of the file";
            return false;
        }
        if (std::memcmp(ch, "fmt ", 4) == 0) {
            uint8_t b[16];
            if (size < 16 || std::fread(b, 1, 16, f) != 16) {
                why = "fmt chunk shorter than 16 bytes";
                return false;
            }
            out.fmtSize = size;
            out.fmt.tag = GetLe16(b);
            out.fmt.channels = GetLe16(b + 2);
            out.fmt.rate = GetLe32(b + 4);
            out.fmt.byteRate = GetLe32(b + 8);
            out.fmt.align = GetLe16(b + 12);
            out.fmt.bits = GetLe16(b + 14);
            if (out.fmt.channels == 0 || out.fmt.rate == 0 || out.fmt.bits == 0) {
                why = "fmt chunk with zero channels, rate or bits";
                return false;
            }
            haveFmt = true;
        } else if (!haveFmt) {
            why = "fmt chunk missing";
            return false;
        }
        at += 8 + static_cast<int64_t>(size) + (size & 1u);
    }
}

bool SeekDataChunk(FILE* f, int64_t fileLen, uint32_t& dataSize) {
    for (;;) {
        uint8_t ch[8];
        long at = std::ftell(f);
        if (at < 0 || at + 8 > fileLen || std::fread(ch, 1, 8, f) != 8) return false;
        uint32_t size = GetLe32(ch + 4);
        if (std::memcmp(ch, "data", 4) == 0) {
            dataSize = size;
            return true;
        }
        int64_t next = at + 8 + static_cast<int64_t>(size);
        if (next > fileLen || std::fseek(f, static_cast<long>(next), SEEK_SET) != 0) return false;
        // An odd chunk is followed by a zero pad byte where its writer keeps the word alignment; ids never start
        // with a zero, so a file without the pad reads as well.
        if ((size & 1u) && next < fileLen && std::fgetc(f) != 0) std::fseek(f, static_cast<long>(next), SEEK_SET);
    }
}

void* BigAlloc(size_t bytes, BigFree& how) {
    constexpr size_t kHuge = 2u << 20;
    if (bytes < 4 * kHuge) {
        how.mapped = 0;
        return ::operator new(bytes ? bytes : 1);
    }
    size_t len = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, len, MADV_HUGEPAGE);
    how.mapped = len;
    return p;
}

void BigFree::operator()(void* p) const {
    if (!p) return;
    if (mapped)
        ::munmap(p, mapped);
    else
        ::operator delete(p);
}

PendingFile::~PendingFile() {
    Discard();
}

std::string ReserveTempName(const std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(g_tempCounter++);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

FILE* PendingFile::Open(const std::string& target) {
    Discard();
    target_ = target;
    temp_ = ReserveTempName(target);
    if (temp_.empty()) return nullptr;
    file_ = FileHandle::Open(temp_.c_str(), "w+b");
    if (!file_) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
    return file_.get();
}

bool PendingFile::Commit() {
    if (!file_) return false;
    bool ok = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    ok = file_.Close() == 0 && ok;
    ok = ok && std::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) std::remove(temp_.c_str());
    temp_.clear();
    return ok;
}

void PendingFile::Discard() {
    file_.Close();
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
}

} // namespace zz::voc
