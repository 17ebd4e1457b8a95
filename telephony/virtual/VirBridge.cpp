#include "telephony/virtual/VirBridge.h"

#include "engine/TagCallState.h"
#include "platform/TagWriteLog.h"
#include "telephony/virtual/VirMedia.h"

#include <cstring>
#include <system_error>

namespace zz {

namespace {

constexpr int kAlawPayload = 8;

// Numbers the log gives the devices, as the handles of the sound card were shown.
std::atomic<int> g_deviceIds{0};

} // namespace

AudioFormat AlawMono8k() {
    AudioFormat f;
    f.tag = 6;
    f.channels = 1;
    f.rate = 8000;
    f.byteRate = 8000;
    f.align = 1;
    f.bits = 8;
    return f;
}

int VirBridge::Start(VirMedia& media) {
    std::lock_guard<std::mutex> g(lock_);
    if (channel_ || in_ || out_) StopLocked();
    quit_ = false;
    media_ = &media;

    int ch = 0;
    int r = media.ms_external_channel_create(ch);
    line_.WriteLogF("TagVirCall::StartRtp::ms_external_channel_create : mChannel=%d, ret=%d", ch, r);
    if (r != 0 || ch == 0) return -1;
    channel_ = ch;
    r = media.ms_external_channel_start(ch, kAlawPayload);
    line_.WriteLogF("TagVirCall::StartRtp::ms_external_channel_start : mChannel=%d, ret=%d", ch, r);
    if (r != 0) {
        Close();
        return -1;
    }

    r = GetAudioBackend().OpenIn(kWaveMapper, AlawMono8k(), in_);
    if (r == kAudioOk) {
        inId_ = ++g_deviceIds;
        try {
            inThread_ = std::thread(&VirBridge::InputThread, this);
        } catch (const std::system_error&) {
            r = kAudioError;
        }
    }
    if (r != kAudioOk) {
        line_.WriteLogF("waveInOpen Err. [%d]", r);
        Close();
        return -1;
    }
    WriteRunLogF("waveInStart: hwi=%d, ret=%d", inId_, 0);

    r = GetAudioBackend().OpenOut(kWaveMapper, AlawMono8k(), out_);
    if (r == kAudioOk) {
        outId_ = ++g_deviceIds;
        try {
            outThread_ = std::thread(&VirBridge::OutputThread, this);
        } catch (const std::system_error&) {
            r = kAudioError;
        }
    }
    if (r != kAudioOk) {
        line_.WriteLogF("waveOutOpen Err. [%d]", r);
        Close();
        return -2;
    }
    line_.WriteLogF("wave in=%d, out=%d", inId_, outId_);
    carryFrom_ = in_->Captured();
    active_ = true;
    return 0;
}

int VirBridge::Stop() {
    std::lock_guard<std::mutex> g(lock_);
    StopLocked();
    return 0;
}

void VirBridge::StopLocked() {
    active_ = false;
    line_.WriteLog("EndRtp()1...");
    Close();
    line_.WriteLog("EndRtp().");
}

void VirBridge::Close() {
    active_ = false;
    quit_ = true;
    // A reset ends a blocked read or write at once, so the joins are short and no thread touches a device that
    // is closed.
    if (in_) in_->Reset();
    if (out_) out_->Reset();
    if (inThread_.joinable()) inThread_.join();
    if (outThread_.joinable()) outThread_.join();
    if (in_) {
        in_.reset();
        line_.WriteLogF("waveInClose(%d)=%d", inId_, 0);
    }
    line_.WriteLog("EndRtp()2...");
    if (out_) {
        out_.reset();
        line_.WriteLogF("waveOutClose(%d)=%d", outId_, 0);
    }
    if (int ch = channel_.exchange(0)) {
        media_->ms_channel_stop(ch);
        media_->ms_channel_destory(ch);
    }
}

// Every block is taken from the device at once; only the sound the device captured after the bridge became
// active reaches the channel. A block read while starting may be looked at only after that, so the device's
// count, not the moment of the look, says which bytes are new.
void VirBridge::InputThread() {
    WriteRunLogF("in WIM_OPEN: %d", inId_);
    uint8_t block[kBlock];
    uint64_t at = 0; // the device's count after the last block read
    while (!quit_) {
        int n = in_->Read(block, sizeof block);
        if (n <= 0 || quit_) break;
        uint64_t start = at;
        at += uint64_t(n);
        if (!active_) continue;
        uint64_t from = carryFrom_; // set before active_
        if (at <= from) continue;
        size_t skip = from > start ? size_t(from - start) : 0;
        media_->ms_push_data(channel_, block + skip, n - int(skip));
    }
    WriteRunLog("MM_WIM_CLOSE");
}

// A block the channel fills only in part is played with silence after it.
void VirBridge::OutputThread() {
    WriteRunLog("MM_WOM_OPEN");
    uint8_t block[kBlock];
    std::memset(block, kSilence, sizeof block);
    for (int i = 0; i < kPrimeBlocks && !quit_; ++i)
        if (out_->Write(block, sizeof block) < 0) quit_ = true;
    while (!quit_) {
        std::memset(block, kSilence, sizeof block);
        if (active_) media_->ms_get_data(channel_, block, int(sizeof block));
        if (out_->Write(block, sizeof block) < 0) break;
    }
    WriteRunLog("MM_WOM_CLOSE");
}

} // namespace zz
