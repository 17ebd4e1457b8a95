#include "media/TagWaveRecord.h"

#include "platform/MessageBox.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

#include "media/VocIo.h"
#include <cstring>

namespace zz {

namespace {

constexpr int32_t kBufferNamed = 4096;
constexpr int32_t kBufferMapper = 20480;
// After a stop the device's ring is emptied into the file, up to this much sound (2 s).
constexpr int32_t kDrainLimit = 32000;

void RecordHeader(uint8_t* h, uint32_t dataLen) {
    memset(h, 0, TagWaveRecord::kHeaderSize);
    memcpy(h, "RIFF", 4);
    voc::PutLe32(h + 4, dataLen ? dataLen + 40 : 0);
    memcpy(h + 8, "WAVEfmt ", 8);
    voc::PutLe32(h + 16, 20);
    voc::PutLe16(h + 20, 1);
    voc::PutLe16(h + 22, 1);
    voc::PutLe32(h + 24, 8000);
    voc::PutLe32(h + 28, 16000);
    voc::PutLe16(h + 32, 2);
    voc::PutLe16(h + 34, 16);
    voc::PutLe16(h + 36, 0);
    memcpy(h + 40, "data", 4);
    voc::PutLe32(h + 44, dataLen);
}

} // namespace

TagWaveRecord::TagWaveRecord(const std::string& path, uint32_t deviceId)
    : deviceId_(deviceId), bufferSize_(deviceId == kWaveMapper ? kBufferMapper : kBufferNamed) {
    std::string mapped = MapPath(path);
    file_ = FileHandle::Open(mapped.c_str(), "w+b");
    if (!file_) {
        char text[600];
        snprintf(text, sizeof text, "无法创建'%s'", path.c_str());
        WriteRunLogAlways(text);
        ShowMessage(text, "出错了Record()");
        status = -1;
        return;
    }
    uint8_t head[kHeaderSize];
    RecordHeader(head, 0);
    fwrite(head, 1, sizeof head, file_.get());
}

TagWaveRecord::~TagWaveRecord() {
    Stop();
    Close();
    if (!file_) return;
    int32_t len = DataBytes();
    if (len > 0) {
        uint8_t head[kHeaderSize];
        RecordHeader(head, uint32_t(len));
        fseek(file_.get(), 0, SEEK_SET);
        fwrite(head, 1, sizeof head, file_.get());
    }
    file_.Close();
}

int TagWaveRecord::Start() {
    if (running_ || thread_.joinable()) Stop();
    if (!file_) {
        WriteRunLog("wavFp==NULL");
        return -1;
    }
    stopReq_ = 0;
    finished_ = 0;
    buffer_.assign(size_t(bufferSize_), 0);
    {
        std::lock_guard<std::mutex> lk(devLock_);
        in_.reset();
        int r = GetAudioBackend().OpenIn(deviceId_, Pcm16Mono8k(), in_);
        if (r != kAudioOk) {
            finished_ = 1;
            WriteRunLogF("waveInOpen Err. devId=%d, mmRes=%d", int(deviceId_), r);
            return -3;
        }
    }
    running_ = true;
    try {
        thread_ = std::thread(&TagWaveRecord::WorkerThread, this);
    } catch (...) {
        running_ = false;
        finished_ = 1;
        WriteRunLog("CreateThread() Err.");
        Close();
        return -2;
    }
    WriteRunLog("Rec Start...");
    return 0;
}

void TagWaveRecord::Stop() {
    {
        std::lock_guard<std::mutex> lk(devLock_);
        if (in_ && running_) {
            stopReq_ = 1;
            in_->Reset();
        }
    }
    // The reset ended the worker's read, so the join is short; the worker never outlives its recorder.
    if (thread_.joinable()) thread_.join();
    finished_ = 1;
    buffer_.clear();
    buffer_.shrink_to_fit();
}

void TagWaveRecord::Close() {
    std::lock_guard<std::mutex> lk(devLock_);
    if (!running_) in_.reset();
}

void TagWaveRecord::WorkerThread() {
    AudioIn* in;
    {
        std::lock_guard<std::mutex> lk(devLock_);
        in = in_.get();
    }
    int32_t drained = 0;
    try {
        for (;;) {
            int n = in->Read(buffer_.data(), buffer_.size());
            if (n < 0) {
                WriteRunLogF("waveIn read Err. [%d]", n);
                break;
            }
            if (n > 0 && fwrite(buffer_.data(), 1, size_t(n), file_.get()) == size_t(n)) dataBytes_ += n;
            if (stopReq_) {
                drained += n;
                if (n < bufferSize_ || drained >= kDrainLimit) break;
            }
        }
    } catch (...) {
        WriteRunLogAlways("WaveRecordThread: unexpected exception");
    }
    {
        std::lock_guard<std::mutex> lk(devLock_);
        in_.reset();
        finished_ = 1;
        running_ = false;
    }
    if (wake_) wake_->Signal();
}

} // namespace zz
