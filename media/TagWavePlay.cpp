#include "media/TagWavePlay.h"

#include "media/VocIo.h"
#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/LittleEndian.h"
#include "platform/MessageBox.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

#include <algorithm>
#include <cstring>

namespace zz {

namespace {

constexpr int32_t kTailBytes = 90;
constexpr int32_t kMinPlayBytes = 100;
constexpr int32_t kBlockNamed = 2048;
constexpr int32_t kBlockMapper = 0x14000;

// An error the original raised in a modal box: never block the line, say it in the run log and the console.
void ReportError(const char* text, const char* caption) {
    WriteRunLogAlways(text);
    ShowMessage(text, caption);
}

} // namespace

TagWavePlay::TagWavePlay(const std::string& path, int volume, uint32_t deviceId, int /*unused*/, int32_t startOffset)
    : deviceId_(deviceId) {
    status = OpenFile(path, -1, -2);
    if (status != 0) {
        MarkFinished();
        return;
    }
    curPos_ = dataStart_ + std::max<int32_t>(startOffset, 0);
    fseek(file_.get(), curPos_, SEEK_SET);
    try {
        thread_ = std::thread(&TagWavePlay::WorkerThread, this);
        threadId_ = 0;
    } catch (...) {
        CloseFile();
        MarkFinished();
        status = -2;
        return;
    }
    int r = OpenDevice();
    if (r != kAudioOk) {
        WriteRunLogF("waveOutOpen Err. [%d], id=%d", r, int(deviceId_));
        CloseFile();
        MarkFinished();
        status = -3;
        return;
    }
    SetVolume(volume);
    StartSession();
    status = 0;
}

TagWavePlay::~TagWavePlay() {
    closing_ = 1;
    Stop();
    if (out_) {
        WaitFinished(500);
        MarkFinished();
        CloseDevice();
    }
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lk(lock_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    CloseFile();
}

int TagWavePlay::Play(const std::string& path, int volume, int /*unused*/, int32_t startOffset) {
    Stop();
    CloseDevice();
    CloseFile();
    stopReq_ = 0;
    finished_ = 0;
    closing_ = 0;
    loop_ = 0;
    status = OpenFile(path, -2, -3);
    if (status != 0) {
        MarkFinished();
        return status;
    }
    curPos_ = dataStart_ + std::max<int32_t>(startOffset, 0);
    fseek(file_.get(), curPos_, SEEK_SET);
    int r = thread_.joinable() ? OpenDevice() : kAudioError;
    if (r != kAudioOk) {
        WriteRunLogF("waveOutOpen Err. [%d], id=%d", r, int(deviceId_));
        CloseFile();
        MarkFinished();
        status = -2;
        return status;
    }
    SetVolume(volume);
    StartSession();
    status = 0;
    return 0;
}

int TagWavePlay::OpenFile(const std::string& rawPath, int cannotOpen, int tooShort) {
    std::string path = IsVoxName(rawPath) ? ResolveVoxFile(rawPath) : rawPath;
    stopReq_ = finished_ = closing_ = inStop_ = loop_ = 0;
    FileHandle fFile = FileHandle::Open(ResolvePath(path).c_str(), "rb");
    FILE* f = fFile.get();
    if (!f) {
        WriteRunLogF("打不开'%s'", path.c_str());
        return cannotOpen;
    }
    fseek(f, 0, SEEK_END);
    long len = ftell(f);
    if (len < kTailBytes + kMinPlayBytes || len > 0x7FFFFFFF) {
        fFile.Close();
        return tooShort;
    }
    endPos_ = int32_t(len) - kTailBytes;
    blockSize_ = deviceId_ == kWaveMapper ? kBlockMapper : kBlockNamed;
    fseek(f, 0, SEEK_SET);
    uint8_t head[20] = {};
    size_t got = fread(head, 1, sizeof head, f);
    if (got < 4 || memcmp(head, "RIFF", 4) != 0) {
        // Headerless: 8 kHz A-law, and the last 90 bytes stay unplayed.
        format_ = AudioFormat{6, 1, 8000, 8000, 1, 8};
        dataStart_ = 0;
    } else {
        uint32_t fmtSize = GetLe32(head + 16);
        uint8_t fmt[18] = {};
        fseek(f, 20, SEEK_SET);
        size_t n = fread(fmt, 1, std::min<uint32_t>(fmtSize, 18), f);
        (void)n;
        format_ = AudioFormat{GetLe16(fmt),     GetLe16(fmt + 2),  GetLe32(fmt + 4),
                              GetLe32(fmt + 8), GetLe16(fmt + 12), GetLe16(fmt + 14)};
        fseek(f, 20 + long(std::min<uint32_t>(fmtSize, 0x7FFFFF00u)), SEEK_SET);
        uint32_t dataSize = 0;
        if (!voc::SeekDataChunk(f, len, dataSize)) fseek(f, 0, SEEK_END); // no sound: the play ends at once
        dataStart_ = int32_t(std::min<long>(ftell(f), 0x7FFFFFFF));
        endPos_ = int32_t(std::min<int64_t>(int64_t(dataStart_) + dataSize, 0x7FFFFFFF));
    }
    std::lock_guard<std::mutex> lk(fileLock_);
    file_ = std::move(fFile);
    block_.resize(size_t(blockSize_));
    return 0;
}

void TagWavePlay::MarkFinished() {
    {
        std::lock_guard<std::mutex> lk(lock_);
        finished_ = 1;
    }
    cv_.notify_all();
    if (WakeEvent* w = wake_.load(std::memory_order_acquire)) w->Signal();
}

bool TagWavePlay::WaitFinished(uint32_t ms) {
    const uint32_t start = GetTickCount();
    std::unique_lock<std::mutex> lk(lock_);
    while (!finished_) {
        uint32_t waited = TicksSince(start);
        if (waited >= ms) return false;
        GetClock().WaitOn(cv_, lk, ms - waited);
    }
    return true;
}

void TagWavePlay::CloseFile() {
    std::lock_guard<std::mutex> lk(fileLock_);
    file_.Close();
}

void TagWavePlay::Rewind() {
    curPos_ = dataStart_;
    fseek(file_.get(), curPos_, SEEK_SET);
}

int TagWavePlay::ReadBlock() {
    std::lock_guard<std::mutex> lk(fileLock_);
    if (!file_) return -1;
    int32_t len = std::min(blockSize_, endPos_ - curPos_);
    if (len <= 0) {
        Rewind();
        return -2;
    }
    size_t n = fread(block_.data(), 1, size_t(len), file_.get());
    if (n == 0) {
        Rewind();
        return -3;
    }
    curPos_ += int32_t(n);
    return int(n); // a short read plays what was read, never stale bytes
}

int TagWavePlay::WriteBlock(int len) {
    if (closing_ || !out_ || stopReq_ || finished_) return 1;
    int r = out_->Write(block_.data(), size_t(len));
    if (r < 0) {
        char text[64];
        snprintf(text, sizeof text, "waveOutWrite Err. [%d]", r);
        ReportError(text, "出错了Play()");
        MarkFinished();
        return -3;
    }
    return 0;
}

int TagWavePlay::SetVolume(int volume) {
    if (closing_ || !out_) return -1;
    uint32_t v = std::min<uint32_t>(uint32_t(volume), 100);
    uint32_t level = 65535 * v / 100;
    out_->SetVolume(level | level << 16);
    return 0;
}

void TagWavePlay::Stop() {
    if (inStop_.exchange(1)) return;
    if (out_) {
        stopReq_ = 1;
        if (deviceId_ == kWaveMapper) out_->Reset();
        WaitFinished(5000);
    }
    CloseFile();
    inStop_ = 0;
}

int TagWavePlay::OpenDevice() {
    return GetAudioBackend().OpenOut(deviceId_, format_, out_);
}

// The device goes only when the worker no longer uses it; the reset ends any block it is writing.
void TagWavePlay::CloseDevice() {
    if (!out_) return;
    out_->Reset();
    WaitIdle();
    out_.reset();
}

void TagWavePlay::StartSession() {
    {
        std::lock_guard<std::mutex> lk(lock_);
        runSession_ = true;
    }
    cv_.notify_all();
}

void TagWavePlay::WaitIdle() {
    std::unique_lock<std::mutex> lk(lock_);
    cv_.wait(lk, [&] { return quit_ || (!runSession_ && !busy_); });
}

void TagWavePlay::WorkerThread() {
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
        cv_.wait(lk, [&] { return quit_ || runSession_; });
        if (quit_) break;
        runSession_ = false;
        busy_ = true;
        lk.unlock();
        try {
            Session();
        } catch (...) {
            WriteRunLogAlways("WavePlayThread: unexpected exception");
            MarkFinished();
        }
        lk.lock();
        busy_ = false;
        cv_.notify_all();
    }
}

// One file from its start position to the end (or around again with the loop flag), a block at a time: the
// next block is read once the device took the previous one.
void TagWavePlay::Session() {
    int n = ReadBlock();
    if (n <= 0) {
        CloseFile();
        MarkFinished();
        return;
    }
    for (;;) {
        if (WriteBlock(n) != 0) {
            MarkFinished();
            return;
        }
        if (finished_) return;
        if (stopReq_) {
            MarkFinished();
            return;
        }
        n = ReadBlock();
        if (n > 0) continue;
        if (n == -1 || !loop_) break;
        n = ReadBlock(); // ReadBlock went back to the data start
        if (n <= 0) break;
    }
    out_->Drain();
    CloseFile();
    MarkFinished();
}

} // namespace zz
