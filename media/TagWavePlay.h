#pragma once
// Plays a voice file (RIFF WAV, or headerless 8 kHz A-law) on a sound-card output. One worker thread per player
// feeds the device block by block and signals the line when a play ends. A ".VOX" file plays through a cached WAV.
#include "platform/FileHandle.h"
#include "platform/WakeEvent.h"
#include "platform/audio/Audio.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zz {

// Last-write date as yyyymmdd and time as hhmmss, local time; both 0 for a missing file.
void GetFileStamp(const std::string& path, int32_t& date, int32_t& time);
// Dialogic ADPCM to a 16-bit 8 kHz WAV. 0; -1 the VOX file cannot be read; -2 the WAV cannot be created.
int ConvertVoxToWav(const std::string& voxPath, const std::string& wavPath);
// True when the name ends in ".VOX" in any case.
bool IsVoxName(const std::string& path);
// The cache name (the name followed by ".wav"), converted first when it is missing or older than the VOX file.
std::string ResolveVoxFile(const std::string& voxPath);

class TagWavePlay {
public:
    static constexpr uint32_t kNoThread = 0xFFFFFFFF;

    // Opens the file and starts playing at once; status tells the outcome: 0 playing, -1 the file cannot be
    // opened, -2 it is too short or the thread failed, -3 the device cannot be opened.
    TagWavePlay(const std::string& path, int volume, uint32_t deviceId, int unused = 0, int32_t startOffset = 0);
    ~TagWavePlay();
    TagWavePlay(const TagWavePlay&) = delete;
    TagWavePlay& operator=(const TagWavePlay&) = delete;

    // Plays another file on the same player: 0; -2 the file cannot be opened or the device not reopened; -3 the
    // file is too short. The result is also left in status.
    int Play(const std::string& path, int volume, int unused = 0, int32_t startOffset = 0);
    // Stops and waits up to 5000 ms. On the mapper the sound stops at once, on a named device the current block
    // plays out.
    void Stop();
    uint8_t IsFinished() const { return finished_.load(std::memory_order_acquire); }
    // Signalled whenever a play ends, so that a line waiting for the end blocks instead of polling.
    void SetWake(WakeEvent* wake) { wake_.store(wake, std::memory_order_release); }
    void SetLoop(uint8_t on) { loop_.store(on, std::memory_order_release); }
    // 0; -1 when closing or the device is not open.
    int SetVolume(int volume);

    int32_t status = 0;

private:
    int OpenFile(const std::string& path, int cannotOpen, int tooShort);
    void CloseFile();
    int ReadBlock();
    int WriteBlock(int len);
    void Rewind();
    int OpenDevice();
    void CloseDevice();
    void StartSession();
    void WaitIdle();
    void WorkerThread();
    void Session();
    void Fail(const char* what, int code);
    void MarkFinished();
    // Waits up to ms of Clock time for the play to end; true when it did.
    bool WaitFinished(uint32_t ms);

    // The file: opened and closed on the owner's thread while the worker is idle, read by the worker; fileLock_
    // covers a Stop that gave up waiting.
    std::mutex fileLock_;
    FileHandle file_;
    int32_t endPos_ = 0, curPos_ = 0, dataStart_ = 0;
    int32_t blockSize_ = 2048;
    AudioFormat format_;
    std::vector<uint8_t> block_;
    uint32_t deviceId_;
    std::unique_ptr<AudioOut> out_;

    std::atomic<uint8_t> stopReq_{0}, finished_{0}, closing_{0}, inStop_{0}, loop_{0};
    std::atomic<WakeEvent*> wake_{nullptr};

    std::mutex lock_;
    std::condition_variable cv_;
    bool runSession_ = false, busy_ = false, quit_ = false;
    std::thread thread_;
    uint32_t threadId_ = kNoThread;
};

} // namespace zz
