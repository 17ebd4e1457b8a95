#include "platform/audio/FakeAudio.h"

#include <algorithm>
#include <cstring>

namespace zz {

class FakeOut : public AudioOut {
public:
    FakeOut(FakeAudio& card, const AudioFormat& f) : AudioOut(f), card_(card) {}
    ~FakeOut() override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        --card_.openNow_;
    }
    void Drain() override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        ++card_.drains_;
    }
    void Reset() override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        reset_ = true;
        ++card_.resets_;
        card_.cv_.notify_all();
    }

protected:
    int WriteRaw(const uint8_t* data, size_t len) override {
        std::unique_lock<std::mutex> lk(card_.lock_);
        if (card_.failWrites_) return -1;
        if (reset_) return 0;
        card_.played_.insert(card_.played_.end(), data, data + len);
        card_.writes_.push_back(len);
        card_.lastVolume_ = Volume();
        card_.cv_.notify_all();
        card_.cv_.wait(lk, [&] { return reset_ || !card_.gate_ || card_.grants_ > 0; });
        if (!reset_ && card_.gate_) --card_.grants_;
        return int(len);
    }

private:
    FakeAudio& card_;
    bool reset_ = false; // guarded by the card's lock
};

class FakeIn : public AudioIn {
public:
    FakeIn(FakeAudio& card, const AudioFormat& f) : AudioIn(f), card_(card) {}
    ~FakeIn() override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        --card_.openNow_;
    }
    int Read(void* buf, size_t len) override {
        std::unique_lock<std::mutex> lk(card_.lock_);
        card_.cv_.wait(lk, [&] { return reset_ || card_.fed_.size() - card_.readPos_ >= len; });
        size_t n = std::min(len, card_.fed_.size() - card_.readPos_);
        if (n) memcpy(buf, card_.fed_.data() + card_.readPos_, n);
        card_.readPos_ += n;
        read_ += n;
        card_.cv_.notify_all();
        return int(n);
    }
    void Reset() override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        reset_ = true;
        ++card_.resets_;
        card_.cv_.notify_all();
    }
    uint64_t Captured() const override {
        std::lock_guard<std::mutex> lk(card_.lock_);
        return read_ + (card_.fed_.size() - card_.readPos_);
    }

private:
    FakeAudio& card_;
    bool reset_ = false;
    uint64_t read_ = 0; // guarded by the card's lock
};

int FakeAudio::OpenOut(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioOut>& out) {
    std::lock_guard<std::mutex> lk(lock_);
    if (openResult_ != kAudioOk) return openResult_;
    if (!AudioFormatSupported(f)) return kAudioBadFormat;
    ++opens_;
    ++openNow_;
    lastDevice_ = device;
    lastFormat_ = f;
    out = std::make_unique<FakeOut>(*this, f);
    return kAudioOk;
}

int FakeAudio::OpenIn(uint32_t device, const AudioFormat& f, std::unique_ptr<AudioIn>& in) {
    std::lock_guard<std::mutex> lk(lock_);
    if (openResult_ != kAudioOk) return openResult_;
    if (!AudioFormatSupported(f)) return kAudioBadFormat;
    ++opens_;
    ++openNow_;
    lastDevice_ = device;
    lastFormat_ = f;
    in = std::make_unique<FakeIn>(*this, f);
    return kAudioOk;
}

void FakeAudio::FailOpen(int result) {
    std::lock_guard<std::mutex> lk(lock_);
    openResult_ = result;
}

void FakeAudio::FailWrites(bool on) {
    std::lock_guard<std::mutex> lk(lock_);
    failWrites_ = on;
}

void FakeAudio::SetGate(bool closed) {
    std::lock_guard<std::mutex> lk(lock_);
    gate_ = closed;
    cv_.notify_all();
}

void FakeAudio::Grant(int blocks) {
    std::lock_guard<std::mutex> lk(lock_);
    grants_ += blocks;
    cv_.notify_all();
}

bool FakeAudio::WaitWrites(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lk(lock_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return writes_.size() >= n; });
}

std::vector<uint8_t> FakeAudio::Played() const {
    std::lock_guard<std::mutex> lk(lock_);
    return played_;
}

std::vector<size_t> FakeAudio::WriteSizes() const {
    std::lock_guard<std::mutex> lk(lock_);
    return writes_;
}

int FakeAudio::Opens() const {
    std::lock_guard<std::mutex> lk(lock_);
    return opens_;
}

int FakeAudio::OpenDevices() const {
    std::lock_guard<std::mutex> lk(lock_);
    return openNow_;
}

int FakeAudio::Resets() const {
    std::lock_guard<std::mutex> lk(lock_);
    return resets_;
}

int FakeAudio::Drains() const {
    std::lock_guard<std::mutex> lk(lock_);
    return drains_;
}

uint32_t FakeAudio::LastDevice() const {
    std::lock_guard<std::mutex> lk(lock_);
    return lastDevice_;
}

AudioFormat FakeAudio::LastFormat() const {
    std::lock_guard<std::mutex> lk(lock_);
    return lastFormat_;
}

uint32_t FakeAudio::LastVolume() const {
    std::lock_guard<std::mutex> lk(lock_);
    return lastVolume_;
}

void FakeAudio::Feed(const void* data, size_t len) {
    std::lock_guard<std::mutex> lk(lock_);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    fed_.insert(fed_.end(), p, p + len);
    cv_.notify_all();
}

size_t FakeAudio::Pending() const {
    std::lock_guard<std::mutex> lk(lock_);
    return fed_.size() - readPos_;
}

bool FakeAudio::WaitConsumed(size_t leave, int timeoutMs) {
    std::unique_lock<std::mutex> lk(lock_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return fed_.size() - readPos_ <= leave; });
}

void FakeAudio::Clear() {
    std::lock_guard<std::mutex> lk(lock_);
    played_.clear();
    writes_.clear();
    fed_.clear();
    readPos_ = 0;
    opens_ = resets_ = drains_ = 0;
    grants_ = 0;
}

} // namespace zz
