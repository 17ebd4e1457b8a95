#include "platform/audio/AlsaAudio.h"

#include "platform/LazyLibrary.h"
#include "platform/TagWriteLog.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace zz {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kWaitMs = 20;
constexpr unsigned kOutLatencyUs = 200000;
// The input ring holds several recorder buffers (2 s), so writing the file never costs samples.
constexpr unsigned kInLatencyUs = 2000000;

// libasound is opened by the first open of a device: a platform with no sound-card line never loads it.
#define ZZ_ALSA_FUNCTIONS(X)                                                                                           \
    X(snd_pcm_open)                                                                                                    \
    X(snd_pcm_set_params)                                                                                              \
    X(snd_pcm_close)                                                                                                   \
    X(snd_pcm_drop)                                                                                                    \
    X(snd_pcm_state)                                                                                                   \
    X(snd_pcm_delay)                                                                                                   \
    X(snd_pcm_start)                                                                                                   \
    X(snd_pcm_writei)                                                                                                  \
    X(snd_pcm_wait)                                                                                                    \
    X(snd_pcm_recover)                                                                                                 \
    X(snd_pcm_readi)                                                                                                   \
    X(snd_pcm_avail)                                                                                                   \
    X(snd_strerror)                                                                                                    \
    X(snd_lib_error_set_handler)
struct AlsaApi {
    ZZ_ALSA_FUNCTIONS(ZZ_LAZY_FIELD)
};
AlsaApi g_alsa;

snd_pcm_format_t AlsaFormat(const AudioFormat& f) {
    if (f.tag == 6) return SND_PCM_FORMAT_A_LAW;
    if (f.tag == 7) return SND_PCM_FORMAT_MU_LAW;
    return f.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

int OpenError(int err) {
    if (err == -ENOENT || err == -ENODEV || err == -ENXIO) return kAudioBadDevice;
    if (err == -EBUSY) return kAudioAllocated;
    return kAudioError;
}

// One open PCM and the bookkeeping both directions share. All ALSA calls happen on the thread that reads or
// writes (the input's Captured excepted, which takes turns with the reads); Reset only raises the flag that
// thread checks between short waits.
class AlsaPcm {
public:
    AlsaPcm(snd_pcm_t* pcm, const AudioFormat& f, uint32_t aheadMs)
        : pcm_(pcm), frameBytes_(f.align ? f.align : 1), rate_(f.rate), aheadMs_(aheadMs) {}
    ~AlsaPcm() {
        g_alsa.snd_pcm_drop(pcm_);
        g_alsa.snd_pcm_close(pcm_);
    }

    // Holds a device that runs ahead of the sample rate back to real time; false when reset meanwhile.
    bool Pace() {
        if (frames_ == 0) start_ = SteadyClock::now();
        for (;;) {
            if (aborted()) return false;
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_).count();
            int64_t played = int64_t(frames_ * 1000 / rate_);
            if (played <= elapsed + aheadMs_) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(kWaitMs, played - elapsed)));
        }
    }
    void Count(snd_pcm_sframes_t n) {
        if (frames_ == 0) start_ = SteadyClock::now();
        frames_ += uint64_t(n);
    }
    bool aborted() const { return abort_.load(std::memory_order_acquire); }
    void Abort() { abort_.store(true, std::memory_order_release); }

    snd_pcm_t* pcm_;
    size_t frameBytes_;
    uint32_t rate_;
    int64_t aheadMs_;
    uint64_t frames_ = 0;
    SteadyClock::time_point start_;
    std::atomic<bool> abort_{false};
};

class AlsaOut : public AudioOut {
public:
    AlsaOut(snd_pcm_t* pcm, const AudioFormat& f) : AudioOut(f), p_(pcm, f, kOutLatencyUs / 1000 + 100) {}

    void Drain() override {
        if (p_.aborted()) return;
        snd_pcm_sframes_t delay = 0;
        if (g_alsa.snd_pcm_state(p_.pcm_) == SND_PCM_STATE_PREPARED && g_alsa.snd_pcm_delay(p_.pcm_, &delay) == 0 &&
            delay > 0)
            g_alsa.snd_pcm_start(p_.pcm_);
        auto limit = SteadyClock::now() + std::chrono::seconds(3);
        while (!p_.aborted() && SteadyClock::now() < limit) {
            if (g_alsa.snd_pcm_state(p_.pcm_) != SND_PCM_STATE_RUNNING) break;
            if (g_alsa.snd_pcm_delay(p_.pcm_, &delay) < 0 || delay <= 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        p_.aheadMs_ = 0; // a fast device has "played" only when real time caught up
        p_.Pace();
    }
    void Reset() override { p_.Abort(); }

protected:
    int WriteRaw(const uint8_t* data, size_t len) override {
        size_t frames = len / p_.frameBytes_, done = 0;
        while (done < frames) {
            if (p_.aborted()) {
                g_alsa.snd_pcm_drop(p_.pcm_);
                break;
            }
            snd_pcm_sframes_t r = g_alsa.snd_pcm_writei(p_.pcm_, data + done * p_.frameBytes_, frames - done);
            if (r == -EAGAIN) {
                g_alsa.snd_pcm_wait(p_.pcm_, kWaitMs);
                continue;
            }
            if (r < 0) {
                if (g_alsa.snd_pcm_recover(p_.pcm_, int(r), 1) < 0) return done ? int(done * p_.frameBytes_) : -1;
                continue;
            }
            p_.Count(r);
            done += size_t(r);
            if (!p_.Pace()) continue;
        }
        return int(done * p_.frameBytes_);
    }

private:
    AlsaPcm p_;
};

class AlsaIn : public AudioIn {
public:
    AlsaIn(snd_pcm_t* pcm, const AudioFormat& f) : AudioIn(f), p_(pcm, f, 100) {}

    int Read(void* buf, size_t len) override {
        uint8_t* out = static_cast<uint8_t*>(buf);
        size_t frames = len / p_.frameBytes_, done = 0;
        std::unique_lock<std::mutex> lk(m_);
        if (!started_) {
            started_ = true;
            g_alsa.snd_pcm_start(p_.pcm_);
        }
        while (done < frames) {
            bool last = p_.aborted(); // after a reset, take what the ring holds and return
            snd_pcm_sframes_t r = g_alsa.snd_pcm_readi(p_.pcm_, out + done * p_.frameBytes_, frames - done);
            if (r == -EAGAIN) {
                if (last) break;
                lk.unlock();
                g_alsa.snd_pcm_wait(p_.pcm_, kWaitMs);
                lk.lock();
                continue;
            }
            if (r < 0) {
                if (last || g_alsa.snd_pcm_recover(p_.pcm_, int(r), 1) < 0) break;
                g_alsa.snd_pcm_start(p_.pcm_);
                continue;
            }
            p_.Count(r);
            done += size_t(r);
            if (last) break;
            lk.unlock();
            p_.Pace();
            lk.lock();
        }
        return int(done * p_.frameBytes_);
    }
    void Reset() override { p_.Abort(); }
    uint64_t Captured() const override {
        std::lock_guard<std::mutex> g(m_);
        snd_pcm_sframes_t held = started_ ? g_alsa.snd_pcm_avail(p_.pcm_) : 0;
        return (p_.frames_ + uint64_t(held > 0 ? held : 0)) * p_.frameBytes_;
    }

private:
    mutable std::mutex m_; // Read's ALSA calls and its count, against Captured
    AlsaPcm p_;
    bool started_ = false;
};

bool AlsaReady();

int OpenPcm(const std::string& name, snd_pcm_stream_t dir, const AudioFormat& f, unsigned latencyUs, snd_pcm_t*& pcm) {
    if (!AudioFormatSupported(f)) return kAudioBadFormat;
    if (!AlsaReady()) return kAudioBadDevice;
    int err = g_alsa.snd_pcm_open(&pcm, name.c_str(), dir, SND_PCM_NONBLOCK);
    if (err < 0) return OpenError(err);
    err =
        g_alsa.snd_pcm_set_params(pcm, AlsaFormat(f), SND_PCM_ACCESS_RW_INTERLEAVED, f.channels, f.rate, 1, latencyUs);
    if (err < 0) {
        g_alsa.snd_pcm_close(pcm);
        pcm = nullptr;
        return kAudioBadFormat;
    }
    return kAudioOk;
}

// ALSA's own messages (a machine without a sound card gets eight for every open of "default") go to the run log
// instead of the terminal; the callers say once, in words, what failed.
void AlsaMessage(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    char text[512];
    int n = std::snprintf(text, sizeof text, "ALSA %s:%d (%s) ", file ? file : "", line, function ? function : "");
    if (n < 0 || size_t(n) >= sizeof text) n = 0;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text + n, sizeof text - size_t(n), fmt, args);
    va_end(args);
    if (err != 0) {
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, ": %s", g_alsa.snd_strerror(err));
    }
    WriteRunLog(text);
}

// Loads libasound at the first call; false when it is missing or lacks a function.
bool AlsaReady() {
    static LazyLibrary lib("libasound.so.2");
    bool ready = lib.Ready([](LazyLibrary& lib) {
        AlsaApi& api = g_alsa;
        if (!(true ZZ_ALSA_FUNCTIONS(ZZ_LAZY_BIND))) return false;
        g_alsa.snd_lib_error_set_handler(AlsaMessage);
        return true;
    });
    static std::once_flag told;
    if (!ready) std::call_once(told, [] { WriteRunLog(("ALSA: " + lib.Error()).c_str()); });
    return ready;
}

class AlsaBackend : public AudioBackend {
public:
    int OpenOut(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioOut>& out) override {
        snd_pcm_t* pcm = nullptr;
        int r = OpenPcm(AudioOutDeviceName(device), SND_PCM_STREAM_PLAYBACK, f, kOutLatencyUs, pcm);
        if (r == kAudioOk) out = std::make_unique<AlsaOut>(pcm, f);
        return r;
    }
    int OpenIn(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioIn>& in) override {
        snd_pcm_t* pcm = nullptr;
        int r = OpenPcm(AudioInDeviceName(device), SND_PCM_STREAM_CAPTURE, f, kInLatencyUs, pcm);
        if (r == kAudioOk) in = std::make_unique<AlsaIn>(pcm, f);
        return r;
    }
};

} // namespace

AudioBackend& AlsaAudioBackend() {
    static AlsaBackend backend;
    return backend;
}

} // namespace zz
