#pragma once
// The bridge of a virtual line: the sound card's input is pushed into an external media channel, and what the
// channel gives back is played on the sound card, both as A-law 8000 Hz in blocks of 320 bytes (40 ms). Two
// threads carry the sound; they end, and are joined, before the devices and the channel go.
//
// Start and Stop may come from the line's own thread and from the thread of a SIP line it is linked with; they
// take turns on the bridge's lock.
#include "platform/audio/Audio.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace zz {

class TagCallState;
class VirMedia;

class VirBridge {
public:
    static constexpr size_t kBlock = 320;
    static constexpr uint8_t kSilence = 0xD5; // A-law
    static constexpr int kPrimeBlocks = 4;    // silence queued at the start, so the output never starves

    // Log lines go out with the line's prefix.
    explicit VirBridge(const TagCallState& line) : line_(line) {}
    ~VirBridge() { Stop(); }
    VirBridge(const VirBridge&) = delete;
    VirBridge& operator=(const VirBridge&) = delete;

    // Opens the channel and both devices of the default sound card and starts the threads; a running bridge is
    // stopped first. 0; -1 when the channel or the input device cannot be had, -2 the output device. A failure
    // leaves the bridge stopped, with nothing open.
    int Start(VirMedia& media);
    // Stops the threads, closes the devices and the channel. Returns 0.
    int Stop();

    int Channel() const { return channel_.load(); }
    bool Active() const { return active_.load(); }

private:
    void InputThread();
    void OutputThread();
    // Stop's work and log lines, with lock_ held.
    void StopLocked();
    // Everything Stop undoes, without its log lines. Called with lock_ held.
    void Close();

    const TagCallState& line_;
    std::mutex lock_;
    VirMedia* media_ = nullptr;
    std::atomic<int> channel_{0};
    std::unique_ptr<AudioIn> in_;
    std::unique_ptr<AudioOut> out_;
    int inId_ = 0, outId_ = 0; // device numbers for the log
    std::thread inThread_, outThread_;
    // Sound crosses the channel only while active; the threads run until quit.
    std::atomic<bool> active_{false}, quit_{false};
    // The input device's count of captured bytes when the bridge became active: what came before is not carried.
    std::atomic<uint64_t> carryFrom_{0};
};

// A-law, 1 channel, 8000 samples per second.
AudioFormat AlawMono8k();

} // namespace zz
