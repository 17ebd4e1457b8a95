#include "media/TagTTS.h"
#include "platform/FileHandle.h"

#include "media/SpeechEngine.h"
#include "platform/Clock.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

#include <algorithm>
#include <cstdio>

namespace zz {

namespace {

// 100 ms of sound per write, so a purge or a close is heard within that.
constexpr size_t kChunkSamples = 800;

bool StartsWithMarkup(const std::string& s) {
    size_t p = s.find_first_not_of(" \t\r\n");
    return p != std::string::npos && s[p] == '<';
}

} // namespace

TagTTS::TagTTS(int deviceId) {
    setup_ = Setup(deviceId);
}

TagTTS::~TagTTS() {
    if (setup_ == kHrOk) CloseAudio();
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lk(lock_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    out_.reset();
}

int32_t TagTTS::Setup(int deviceId) {
    int32_t hr = SpeechEngineInit();
    if (hr != kHrOk) return hr;
    if (GetAudioBackend().OpenOut(uint32_t(deviceId), Pcm16Mono8k(), out_) != kAudioOk) return kHrDeviceNotFound;
    try {
        thread_ = std::thread(&TagTTS::WorkerThread, this);
    } catch (...) {
        out_.reset();
        return kHrFail;
    }
    return kHrOk;
}

int32_t TagTTS::SpeakLang(const std::string& text, bool chinese) {
    return Queue(WrapLang(text, chinese), true, false);
}

int32_t TagTTS::Speak(bool xml, const std::string& text) {
    if (xml) return Queue(text, true, true);
    if (setup_ != kHrOk) return setup_;
    FileHandle fFile = FileHandle::Open(ResolvePath(text).c_str(), "rb");
    FILE* f = fFile.get();
    if (!f) return kHrFileNotFound;
    std::string content;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        content.append(buf, n);
    fFile.Close();
    bool markup = StartsWithMarkup(content);
    return Queue(std::move(content), markup, false);
}

int32_t TagTTS::Queue(std::string text, bool markup, bool purge) {
    if (setup_ != kHrOk) return setup_;
    if (closed_) return kHrFail;
    {
        std::lock_guard<std::mutex> lk(lock_);
        if (purge) {
            queue_.clear();
            purge_ = true;
        }
        queue_.push_back(Item{std::move(text), markup});
    }
    cv_.notify_all();
    return kHrOk;
}

bool TagTTS::IsDone() {
    if (setup_ != kHrOk) return true;
    std::lock_guard<std::mutex> lk(lock_);
    return queue_.empty() && !speaking_;
}

void TagTTS::CloseAudio() {
    if (!out_) return;
    closed_ = true;
    {
        std::lock_guard<std::mutex> lk(lock_);
        queue_.clear();
    }
    out_->Reset();
}

void TagTTS::PlaySamples(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < samples.size() && !closed_ && !purge_; i += kChunkSamples) {
        size_t n = std::min(kChunkSamples, samples.size() - i);
        bytes.resize(n * 2);
        for (size_t k = 0; k < n; ++k) {
            uint16_t s = uint16_t(samples[i + k]);
            bytes[2 * k] = uint8_t(s);
            bytes[2 * k + 1] = uint8_t(s >> 8);
        }
        if (out_->Write(bytes.data(), bytes.size()) < int(bytes.size())) return;
    }
    if (!closed_ && !purge_) out_->Drain();
}

void TagTTS::WorkerThread() {
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
        cv_.wait(lk, [&] { return quit_ || !queue_.empty(); });
        if (quit_) break;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        speaking_ = true;
        purge_ = false;
        lk.unlock();
        try {
            std::vector<int16_t> samples;
            int32_t hr = SpeechSynthesize(item.text, SpeechLang::Auto, item.markup, samples);
            if (hr == kHrOk)
                PlaySamples(samples);
            else
                WriteRunLogF("TTS: speech failed, hr=0x%x", unsigned(hr));
        } catch (...) {
            WriteRunLogAlways("TTS: unexpected exception");
        }
        lk.lock();
        speaking_ = false;
        cv_.notify_all();
        if (WakeEvent* w = wake_.load()) w->Signal();
    }
}

int32_t SpeakOnSoundCard(const std::string& text, bool mode, bool xml, bool enabled,
                         const std::function<void()>& stopPlay, WakeEvent& wake, const std::function<bool()>& stopped) {
    if (!enabled) return -1;
    if (stopPlay) stopPlay();
    TagTTS tts(-1);
    tts.SetWake(&wake);
    int32_t r = mode ? tts.Speak(xml, text) : tts.SpeakLang(text, true);
    if (r == 0) wake.WaitFor(1800, stopped);
    wake.WaitFor(WakeEvent::kForever, [&] { return stopped() || tts.IsDone(); });
    return r;
}

} // namespace zz
