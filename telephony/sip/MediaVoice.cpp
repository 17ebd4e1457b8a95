#include "telephony/sip/MediaVoice.h"

#include "media/TagVocFile.h"
#include "media/TagWavePlay.h"
#include "media/VocIo.h"
#include "platform/TagWriteLog.h"

#include <map>
#include <mutex>
#include <sys/stat.h>

#include "telephony/sip/ReHeaders.h"

namespace zz {

namespace {

struct CacheEntry {
    int64_t mtime = 0;
    int64_t size = 0;
    std::weak_ptr<const VoicePcm> pcm;
};

std::mutex g_cacheLock;
std::map<std::string, CacheEntry> g_cache;

std::shared_ptr<const VoicePcm> Decode(const std::string& path, int64_t size) {
    FileHandle f = FileHandle::Open(path.c_str(), "rb");
    if (!f || size <= 0) return nullptr;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    uint8_t kind = kVocAlaw;
    int32_t n = ReadWaveData(f.get(), bytes.data(), int32_t(bytes.size()), kind);
    if (n <= 0) return nullptr;
    auto pcm = std::make_shared<VoicePcm>();
    if (kind == kVocPcm16) {
        pcm->samples.resize(size_t(n) / 2);
        for (size_t i = 0; i < pcm->samples.size(); ++i)
            pcm->samples[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    } else {
        pcm->samples.resize(size_t(n));
        for (size_t i = 0; i < pcm->samples.size(); ++i)
            pcm->samples[i] = kind == kVocMulaw ? g711_ulaw2pcm(bytes[i]) : g711_alaw2pcm(bytes[i]);
    }
    return pcm;
}

} // namespace

std::shared_ptr<const VoicePcm> LoadVoice(const std::string& rawPath) {
    std::string path = IsVoxName(rawPath) ? ResolveVoxFile(rawPath) : rawPath;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::lock_guard<std::mutex> g(g_cacheLock);
    CacheEntry& e = g_cache[path];
    if (auto pcm = e.pcm.lock(); pcm && e.mtime == int64_t(st.st_mtime) && e.size == int64_t(st.st_size)) return pcm;
    auto pcm = Decode(path, st.st_size);
    if (!pcm || pcm->samples.empty()) {
        g_cache.erase(path);
        return nullptr;
    }
    e.mtime = int64_t(st.st_mtime);
    e.size = int64_t(st.st_size);
    e.pcm = pcm;
    // Entries of files nobody plays any more are dropped as the cache is passed through.
    for (auto it = g_cache.begin(); it != g_cache.end();)
        it = it->second.pcm.expired() ? g_cache.erase(it) : std::next(it);
    return pcm;
}

// ---- recordings

namespace {
std::array<uint8_t, 44> AlawHeader(uint32_t dataLen) {
    voc::WavFormat f;
    f.tag = 6;
    f.channels = 1;
    f.rate = 8000;
    f.byteRate = 8000;
    f.align = 1;
    f.bits = 8;
    return voc::MakeHeader44(f, dataLen);
}
} // namespace

VoiceRecorder::VoiceRecorder(const std::string& path) : file_(FileHandle::Open(path.c_str(), "wb")) {
    if (!file_) {
        WriteRunLogF("'%s' 无法创建!", path.c_str());
        return;
    }
    auto head = AlawHeader(0);
    if (std::fwrite(head.data(), 1, head.size(), file_.get()) != head.size()) file_.Close();
}

VoiceRecorder::~VoiceRecorder() {
    Close();
}

void VoiceRecorder::Write(const int16_t* s, size_t n) {
    if (!file_) return;
    uint8_t buf[320];
    while (n) {
        size_t k = std::min(n, sizeof buf);
        for (size_t i = 0; i < k; ++i)
            buf[i] = PcmToAlaw(s[i]);
        std::fwrite(buf, 1, k, file_.get());
        int32_t before = samples_;
        samples_ += int32_t(k);
        s += k;
        n -= k;
        // Each second the header is made true: a recording still running when the process stops or is killed,
        // or read while it runs, is a playable file of what was said up to then.
        if (before / kRefreshSamples != samples_ / kRefreshSamples) WriteHeader();
    }
}

void VoiceRecorder::WriteHeader() {
    auto head = AlawHeader(uint32_t(samples_));
    std::fseek(file_.get(), 0, SEEK_SET);
    std::fwrite(head.data(), 1, head.size(), file_.get());
    std::fseek(file_.get(), 0, SEEK_END);
    std::fflush(file_.get());
}

void VoiceRecorder::Close() {
    if (!file_) return;
    WriteHeader();
    file_.Close();
}

} // namespace zz
