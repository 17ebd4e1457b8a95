#pragma once
// Sound-card output and input. A device takes whole blocks: Write returns when the block is queued on the
// device, Read when a buffer is full. Reset, from any thread, ends a blocked Write or Read at once (a Read returns
// the bytes it already holds) and drops what is queued. Two back ends: ALSA, and an in-process fake for tests.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zz {

// The system's default device (the wave mapper).
constexpr uint32_t kWaveMapper = 0xFFFFFFFF;

// Results of the open calls, numbered as the multimedia API numbers them.
constexpr int kAudioOk = 0;
constexpr int kAudioError = 1;      // MMSYSERR_ERROR
constexpr int kAudioBadDevice = 2;  // MMSYSERR_BADDEVICEID
constexpr int kAudioAllocated = 4;  // MMSYSERR_ALLOCATED
constexpr int kAudioBadFormat = 32; // WAVERR_BADFORMAT

struct AudioFormat {
    uint16_t tag = 1; // 1 PCM, 6 A-law, 7 mu-law
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint32_t byteRate = 16000;
    uint16_t align = 2;
    uint16_t bits = 16;
};

AudioFormat Pcm16Mono8k();
// True for the formats the back ends play: PCM 8 or 16 bits, A-law and mu-law 8 bits; 1 or 2 channels.
bool AudioFormatSupported(const AudioFormat& f);

class AudioOut {
public:
    explicit AudioOut(const AudioFormat& f) : fmt_(f) {}
    virtual ~AudioOut() = default;
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;

    // Bytes queued (fewer after a Reset), or a negative error. The volume is applied to a copy of the data.
    int Write(const void* data, size_t len);
    // Waits until the queued sound has played, or a Reset.
    virtual void Drain() = 0;
    virtual void Reset() = 0;
    // Low word the left (or only) channel, high word the right, 0..0xFFFF each, as waveOutSetVolume takes it.
    void SetVolume(uint32_t level) { volume_.store(level, std::memory_order_relaxed); }
    uint32_t Volume() const { return volume_.load(std::memory_order_relaxed); }
    const AudioFormat& Format() const { return fmt_; }

protected:
    virtual int WriteRaw(const uint8_t* data, size_t len) = 0;
    AudioFormat fmt_;

private:
    std::atomic<uint32_t> volume_{0xFFFFFFFF};
};

class AudioIn {
public:
    explicit AudioIn(const AudioFormat& f) : fmt_(f) {}
    virtual ~AudioIn() = default;
    AudioIn(const AudioIn&) = delete;
    AudioIn& operator=(const AudioIn&) = delete;

    // Blocks until len bytes arrived or a Reset; returns the bytes held (0 after a Reset with none), or < 0.
    virtual int Read(void* buf, size_t len) = 0;
    virtual void Reset() = 0;
    // Bytes captured since the device opened: those Read returned and those waiting to be read. Any thread; a
    // reader that counts what Read returned knows by it which of its bytes came in after a given moment.
    virtual uint64_t Captured() const = 0;
    const AudioFormat& Format() const { return fmt_; }

protected:
    AudioFormat fmt_;
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // kAudioOk and the device, or one of the error numbers above.
    virtual int OpenOut(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioOut>& out) = 0;
    virtual int OpenIn(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioIn>& in) = 0;
};

// The back end in force; ALSA unless a test installed its own.
AudioBackend& GetAudioBackend();
void SetAudioBackend(AudioBackend* backend); // nullptr restores ALSA

class ScopedAudioBackend {
public:
    explicit ScopedAudioBackend(AudioBackend* b) { SetAudioBackend(b); }
    ~ScopedAudioBackend() { SetAudioBackend(nullptr); }
    ScopedAudioBackend(const ScopedAudioBackend&) = delete;
    ScopedAudioBackend& operator=(const ScopedAudioBackend&) = delete;
};

// Opens the device for playing and for recording in the format and closes it again: empty when both open (or
// are only held by another user), else why not in words, naming the device: "the sound device "default" cannot
// be opened (no such device)".
std::string AudioDeviceProblem(uint32_t device, const AudioFormat& f);

// Device names. The mapper and every id without a name of its own use the default name ("default" unless the
// configuration says otherwise). Configuration keys: SOUND_OUT_DEVICE, SOUND_IN_DEVICE (the defaults) and
// SOUND_OUT_DEVICE<n>, SOUND_IN_DEVICE<n> (device id n).
std::string AudioOutDeviceName(uint32_t device);
std::string AudioInDeviceName(uint32_t device);
// Applies one configuration key; false when the key is not an audio key.
bool ApplyAudioCfgKey(const std::string& key, const std::string& value);
// Reads the audio keys of a configuration file (key=value lines, "//" comments); false when it cannot be read.
bool LoadAudioCfgFile(const std::string& fileName);
// Back to "default" for everything.
void ResetAudioDeviceNames();

// Scales the samples of one block by the volume level (16-bit and 8-bit PCM, A-law, mu-law).
void ApplyAudioVolume(const AudioFormat& f, uint32_t level, uint8_t* data, size_t len);

// G.711 by the segment tables.
uint8_t G711AlawEncode(int16_t sample);
int16_t G711AlawDecode(uint8_t code);
uint8_t G711UlawEncode(int16_t sample);
int16_t G711UlawDecode(uint8_t code);

} // namespace zz
