#pragma once
// Speaks a text aloud on a sound-card output (16-bit PCM, 8000 Hz, mono), asynchronously: a worker thread
// synthesizes and plays what is queued; IsDone tells when it has all been spoken.
#include "platform/WakeEvent.h"
#include "platform/audio/Audio.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zz {

class TagTTS {
public:
    // Device -1 is the default device.
    explicit TagTTS(int deviceId);
    ~TagTTS();
    TagTTS(const TagTTS&) = delete;
    TagTTS& operator=(const TagTTS&) = delete;

    // 0 ready; otherwise the setup's failure, which every speak call then returns.
    int32_t Setup(int deviceId);
    // Queues the text wrapped in a Chinese or English language element.
    int32_t SpeakLang(const std::string& text, bool chinese);
    // xml: purges what is queued and speaks the markup text; otherwise speaks the contents of the file named.
    int32_t Speak(bool xml, const std::string& text);
    // False only while speech is queued or playing; true when the voice is not ready.
    bool IsDone();
    // Cuts the device off; nothing more is spoken.
    void CloseAudio();
    // Signalled whenever a speech has been spoken; a line waiting for the end blocks on it.
    void SetWake(WakeEvent* wake) { wake_ = wake; }

    int32_t SetupResult() const { return setup_; }

private:
    struct Item {
        std::string text;
        bool markup;
    };
    int32_t Queue(std::string text, bool markup, bool purge);
    void WorkerThread();
    void PlaySamples(const std::vector<int16_t>& samples);

    int32_t setup_ = kAudioError;
    std::unique_ptr<AudioOut> out_;
    std::mutex lock_;
    std::condition_variable cv_;
    std::deque<Item> queue_;
    bool speaking_ = false, quit_ = false;
    std::atomic<bool> purge_{false}, closed_{false};
    std::atomic<WakeEvent*> wake_{nullptr};
    std::thread thread_;
};

// The line's speak operation on the PC sound card: -1 when not enabled; otherwise stops the line's play, speaks
// (mode false: Chinese; mode true: markup when xml, else the file named by text), lets at least 1800 ms pass
// when the speech started, and blocks on the line's wake event until it has been spoken or the line is stopped
// (whoever stops it signals the event). Returns the speak call's result.
int32_t SpeakOnSoundCard(const std::string& text, bool mode, bool xml, bool enabled,
                         const std::function<void()>& stopPlay, WakeEvent& wake, const std::function<bool()>& stopped);

} // namespace zz
