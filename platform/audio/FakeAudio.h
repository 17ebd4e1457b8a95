#pragma once
// An in-process sound card for tests: what is played is kept byte for byte, what is recorded is what the test
// fed. With the gate closed every block waits for a Grant, so a test can stop a player mid-file.
#include "platform/audio/Audio.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace zz {

class FakeAudio : public AudioBackend {
public:
    int OpenOut(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioOut>& out) override;
    int OpenIn(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioIn>& in) override;

    // Opens fail with this result until it is set back to kAudioOk.
    void FailOpen(int result);
    // Writes fail (negative result) while set.
    void FailWrites(bool on);

    void SetGate(bool closed);
    void Grant(int blocks);
    // Waits (real time) until at least n writes have begun; false on time-out.
    bool WaitWrites(size_t n, int timeoutMs = 5000);

    std::vector<uint8_t> Played() const;
    std::vector<size_t> WriteSizes() const;
    int Opens() const;
    int OpenDevices() const; // open now
    int Resets() const;
    int Drains() const;
    uint32_t LastDevice() const;
    AudioFormat LastFormat() const;
    uint32_t LastVolume() const; // the volume in force at the last write

    void Feed(const void* data, size_t len);
    size_t Pending() const;
    // Waits (real time) until no more than `leave` fed bytes are unread.
    bool WaitConsumed(size_t leave = 0, int timeoutMs = 5000);

    void Clear();

private:
    friend class FakeOut;
    friend class FakeIn;
    mutable std::mutex lock_;
    std::condition_variable cv_;
    int openResult_ = kAudioOk;
    bool failWrites_ = false;
    bool gate_ = false;
    int grants_ = 0;
    std::vector<uint8_t> played_;
    std::vector<size_t> writes_;
    std::vector<uint8_t> fed_;
    size_t readPos_ = 0;
    int opens_ = 0, openNow_ = 0, resets_ = 0, drains_ = 0;
    uint32_t lastDevice_ = 0, lastVolume_ = 0;
    AudioFormat lastFormat_;
};

} // namespace zz
