#pragma once
// Records a sound-card input into a 16-bit 8 kHz mono WAV file. A worker thread takes the device's buffers and
// appends them to the file; the header gets its sizes when the recorder is destroyed.
#include "platform/FileHandle.h"
#include "platform/WakeEvent.h"
#include "platform/audio/Audio.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zz {

class TagWaveRecord {
public:
    static constexpr int kHeaderSize = 48;

    // Creates the file and writes the header; status -1 when it cannot be created.
    TagWaveRecord(const std::string& path, uint32_t deviceId);
    ~TagWaveRecord();
    TagWaveRecord(const TagWaveRecord&) = delete;
    TagWaveRecord& operator=(const TagWaveRecord&) = delete;

    // 0 recording; -1 no file; -2 the thread could not start; -3 the device cannot be opened.
    int Start();
    // Ends the recording (what the device holds is written out) and waits for the worker.
    void Stop();
    // Closes the device when no recording runs on it.
    void Close();
    uint8_t IsFinished() const { return finished_.load(std::memory_order_acquire); }
    // Signalled when the recording ends by itself (the device failed); a line waiting for it blocks on it.
    void SetWake(WakeEvent* wake) { wake_ = wake; }
    // Sound bytes written to the file so far.
    int32_t DataBytes() const { return dataBytes_.load(std::memory_order_acquire); }

    int32_t status = 0;

private:
    void WorkerThread();

    uint32_t deviceId_;
    FileHandle file_;
    int32_t bufferSize_;
    std::vector<uint8_t> buffer_;
    std::atomic<int32_t> dataBytes_{0};
    std::atomic<uint8_t> stopReq_{0}, finished_{0};

    // The device is freed by the worker when it ends, or by Close when no worker runs.
    std::mutex devLock_;
    std::unique_ptr<AudioIn> in_;
    std::atomic<bool> running_{false};
    WakeEvent* wake_ = nullptr;
    std::thread thread_;
};

} // namespace zz
