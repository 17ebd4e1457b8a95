#pragma once
// Helpers of the sound tests: a scratch folder, WAV images, and soxi.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace soundtest {

using Bytes = std::vector<uint8_t>;

class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("zz_sound_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline Bytes ReadFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void PutId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint16_t Get16(const Bytes& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

// A WAV image: fmt chunk of fmtSize bytes (16, 18 or 20), optionally an extra chunk before the data.
inline Bytes MakeWav(const Bytes& data, uint16_t tag = 1, uint16_t bits = 16, uint32_t fmtSize = 16,
                     bool extraChunk = false) {
    Bytes b;
    PutId(b, "RIFF");
    Put32(b, 0);
    PutId(b, "WAVE");
    PutId(b, "fmt ");
    Put32(b, fmtSize);
    uint16_t align = bits / 8;
    Put16(b, tag);
    Put16(b, 1);
    Put32(b, 8000);
    Put32(b, 8000u * align);
    Put16(b, align);
    Put16(b, bits);
    for (uint32_t i = 16; i < fmtSize; ++i)
        b.push_back(0);
    if (extraChunk) {
        PutId(b, "LIST");
        Put32(b, 6);
        for (int i = 0; i < 6; ++i)
            b.push_back('x');
    }
    PutId(b, "data");
    Put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    uint32_t riff = uint32_t(b.size() - 8);
    memcpy(b.data() + 4, &riff, 4);
    return b;
}

// Bytes whose every position is recognisable: 16-bit samples counting up from `start`.
inline Bytes Ramp(size_t bytes, int start = 1) {
    Bytes b(bytes);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        uint16_t v = uint16_t(start + int(i / 2));
        b[i] = uint8_t(v);
        b[i + 1] = uint8_t(v >> 8);
    }
    if (bytes % 2) b.back() = 0x5A;
    return b;
}

inline Bytes Slice(const Bytes& b, size_t from, size_t len) {
    return Bytes(b.begin() + long(from), b.begin() + long(from + len));
}

// soxi's answer to one option ("-r", "-c", "-s", "-e", "-b"), trimmed; empty when soxi failed.
inline std::string Soxi(const std::string& option, const std::string& file) {
    std::string cmd = "soxi " + option + " '" + file + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "";
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    int rc = pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return rc == 0 ? out : "";
}

} // namespace soundtest
