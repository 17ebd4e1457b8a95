#pragma once
// Files, logs and the sox peer for the voice-file tests.
#include "media/VocIo.h"
#include "platform/TagWriteLog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace vt {

using Bytes = std::vector<uint8_t>;

// A fresh folder per test, the working directory while it lives.
class Dir {
public:
    explicit Dir(const std::string& tag) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("zz_voice_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~Dir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(path_);
    }
    std::string Entries() const {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string s;
        for (auto& n : names)
            s += n + " ";
        return s;
    }

private:
    std::filesystem::path path_, old_;
};

inline Bytes Read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void Write(const std::string& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Le16(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
inline Bytes Le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// A RIFF WAVE file: fmt chunk of fmtSize (16 or more; extra bytes are zero), optional chunks before data.
inline Bytes Wav(uint16_t tag, uint32_t rate, uint16_t bits, const Bytes& data, uint32_t fmtSize = 16,
                 const std::vector<Bytes>& between = {}, uint16_t channels = 1) {
    Bytes fmt = Cat(Cat(Le16(tag), Le16(channels)), Le32(rate));
    uint32_t align = channels * bits / 8;
    fmt = Cat(Cat(Cat(fmt, Le32(rate * align)), Le16(align)), Le16(bits));
    fmt.resize(fmtSize, 0);
    Bytes body = Cat(Cat(Str("WAVEfmt "), Le32(fmtSize)), fmt);
    for (auto& c : between)
        body = Cat(body, c);
    body = Cat(Cat(Cat(body, Str("data")), Le32(static_cast<uint32_t>(data.size()))), data);
    return Cat(Cat(Str("RIFF"), Le32(static_cast<uint32_t>(body.size()))), body);
}
inline Bytes Chunk(const std::string& id, uint32_t size) {
    return Cat(Cat(Str(id), Le32(size)), Bytes(size, 0x11));
}
inline Bytes Pcm(const std::vector<int16_t>& s) {
    Bytes b;
    b.reserve(2 * s.size());
    for (int16_t v : s) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return b;
}
inline std::vector<int16_t> Samples(const Bytes& pcm, size_t from = 0) {
    std::vector<int16_t> s;
    for (size_t i = from; i + 1 < pcm.size(); i += 2)
        s.push_back(static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8)));
    return s;
}

// Run-log lines while it lives (level 1, written at once).
class LogCapture {
public:
    LogCapture() : log_(std::make_unique<zz::TagWriteLog>("voice_log.txt", 0, true, true)) {
        zz::SetLogLevel(1);
        zz::SetRunLog(log_.get());
    }
    ~LogCapture() {
        zz::SetRunLog(nullptr);
        zz::SetLogLevel(0);
    }
    std::string Text() {
        log_->Flush();
        Bytes b = Read(log_->FileName());
        return std::string(b.begin(), b.end());
    }
    bool Has(const std::string& s) { return Text().find(s) != std::string::npos; }

private:
    std::unique_ptr<zz::TagWriteLog> log_;
};

// Standard output of a shell command; exit status in rc.
inline std::string Run(const std::string& cmd, int* rc = nullptr) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = ::pclose(p);
    if (rc) *rc = st;
    return out;
}
inline bool HaveSox() {
    return Run("command -v sox && command -v soxi").find("soxi") != std::string::npos;
}
inline std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}
inline std::string Soxi(const std::string& opt, const std::string& file) {
    return Trim(Run("soxi " + opt + " " + file));
}

} // namespace vt
