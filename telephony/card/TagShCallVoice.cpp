// The card call's voice: plays of files and memory, loop play, DTMF keys in and out, and recording with silence
// detection. A line whose media is bridged to another call object hands play and recording to it.
#include "platform/Clock.h"
#include "platform/PathMap.h"
#include "telephony/TagTelDrive.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <climits>
#include <cstring>
#include <mutex>

namespace zz {

namespace {

constexpr uint32_t kNoLimit = UINT32_MAX;
constexpr int32_t kLoudMean = 101; // a 20-sample group this loud makes the block speech

bool IsKey(char c) {
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

void ShowKeys(int32_t line, const std::string& keys) {
    LineDisplay d = CurrentLineDisplay();
    if (d.dispKeys) d.dispKeys(line, keys.c_str());
}

// The block callback of a recording with silence detection: a block with no loud group of 20 samples counts
// one more silent block, a loud one starts the count again.
int RecordSilenceBlock(int32_t, int32_t, uint8_t* block, int32_t count, void* data) {
    auto* call = static_cast<TagShCall*>(data);
    if (!call || !block || count <= 0) return 1;
    bool loud = false;
    for (int32_t i = 0; i + 20 <= count && !loud; i += 20) {
        int32_t sum = 0;
        for (int32_t k = 0; k < 20; ++k)
            sum += std::abs(ExpandCardSample(block[i + k]));
        loud = sum / 20 >= kLoudMean;
    }
    if (loud)
        call->muteCount = 0;
    else
        ++call->muteCount;
    call->wake.Signal();
    return 1;
}

// The PC sound device plays WAV files only.
bool IsWavName(const char* file) {
    size_t n = file ? std::strlen(file) : 0;
    return n > 4 && strncasecmp(file + n - 4, ".WAV", 4) == 0;
}

} // namespace

void TagShCall::KeyFetch() {
    if (Lib().SsmGetRxDtmfLen(channel) <= 0) return;
    std::string got;
    Lib().SsmGetRxDtmf(channel, got);
    Lib().SsmClearRxDtmf(channel);
    WriteLogF("Keys Buf=%s", got.c_str());
    // Keys a script never reads are dropped once the buffer is full.
    for (char c : got)
        if (IsKey(c) && keyBuf.size() < kKeyBufLen) keyBuf += c;
    ShowKeys(lineNo, keyBuf);
}

int TagShCall::KeysLen() {
    KeyFetch();
    IsOnline();
    return int(keyBuf.size());
}

void TagShCall::ClearKeys() {
    keyCount[0] = keyCount[1] = 0;
    keyBuf.clear();
    Lib().SsmClearRxDtmf(channel);
    ShowKeys(lineNo, keyBuf);
}

int TagShCall::GetKeys(std::string& out, int32_t count, int32_t timeout, char endKey) {
    auto isEnd = [endKey](char c) {
        if (endKey == '*' || endKey == '.') return c == '*' || c == '.' || c == '#';
        return endKey != 0 && (c == endKey || c == '#');
    };
    WriteLogF("GetKeys(%d, %d, '%c'):", count, timeout, endKey ? endKey : ' ');
    out.clear();
    int result = 0;
    const uint32_t start = GetTickCount();
    uint32_t lastKey = start;
    size_t lastLen = keyBuf.size();
    while (!stopFlag) {
        if (!IsOnline()) {
            out.clear();
            result = kKeysCallEnded;
            break;
        }
        KeyFetch();
        std::string taken;
        size_t i = 0;
        bool ended = false;
        while (i < keyBuf.size() && !ended) {
            char c = keyBuf[i++];
            if (isEnd(c)) {
                if (c != '#') taken += c; // "#" ends the input without being kept
                ended = true;
            } else {
                taken += c;
                ended = count > 0 && int32_t(taken.size()) >= count;
            }
        }
        if (ended) {
            keyBuf.erase(0, i);
            out = taken;
            result = int(taken.size());
            break;
        }
        const uint32_t now = GetTickCount();
        if (keyBuf.size() != lastLen) {
            lastLen = keyBuf.size();
            lastKey = now;
        }
        int64_t left = -1; // until the nearer time-out
        if (keyTime > 0) left = int64_t(keyTime) * 1000 - TicksSince(lastKey, now);
        if (timeout > 0) {
            int64_t t = int64_t(timeout) * 1000 - TicksSince(start, now);
            if (left < 0 || t < left) left = t;
        }
        if (left < 0 && (keyTime > 0 || timeout > 0)) {
            out = keyBuf;
            ClearKeys();
            result = -1;
            break;
        }
        WaitCard(left < 0 ? kNoLimit : uint32_t(left) + 1);
    }
    WriteLogF("GetKeys('%s'), len=%d.", out.c_str(), result);
    return result;
}

int TagShCall::SetKeys(const char* digits) {
    const bool bridged = mediaChannel != 0;
    if (bridged) StopMemBlocks(); // the card sends the tones itself, not the bridge
    int32_t r = Lib().SsmTxDtmf(channel, digits);
    WriteLogF("SetKeys(%s) : %d", digits ? digits : "", r);
    if (r < 0) {
        WriteLog(Lib().SsmGetLastErrMsg().c_str());
        if (bridged) StartMemBlocks();
        return r;
    }
    int32_t left;
    while ((left = Lib().SsmChkTxDtmf(channel)) > 0 && !stopFlag)
        WaitCard(kNoLimit);
    WriteLogF("CheckTxDtmf() : %d", left);
    if (bridged) StartMemBlocks();
    return left;
}

// ---- Play

int TagShCall::Play(const char* file, int32_t breakFlag, int32_t onPc) {
    if (TagKvCall* other = linkedCall) return other->Play(file, breakFlag, onPc);
    if (onPc) {
        if (IsWavName(file) && FileExists(ResolvePath(file))) OpenPcPlayer(file);
        return -1;
    }
    bool brk = breakFlag != 0;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        if (!confList.empty()) {
            // The members hear the play whole.
            brk = false;
            Lib().SsmSetPlayNoBreak(channel, 1);
        }
    }
    KeyFetch();
    if (brk && !keyBuf.empty()) return 1;
    int32_t r = Lib().SsmPlayFile(channel, file, kVocFormat, 0, -1);
    if (r < 0) {
        WriteLogF("StartPlayFile(%s) Error : %d", file ? file : "", r);
        return r;
    }
    WriteLogF("StartPlayFile(%s) ... : %d", file ? file : "", r);
    int result = 0;
    while (!stopFlag) {
        if (!IsOnline()) {
            WriteLog("!IsOnline()");
            break;
        }
        if (int32_t end = Lib().SsmCheckPlay(channel)) {
            WriteLog("End Play");
            result = end;
            break;
        }
        KeyFetch();
        if (brk && !keyBuf.empty()) {
            WriteLog("press");
            break;
        }
        WaitCard(kNoLimit);
    }
    Lib().SsmStopPlay(channel);
    return result;
}

int TagShCall::PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop, int32_t breakFlag) {
    KeyFetch();
    if (breakFlag && !keyBuf.empty()) return 1;
    if (!data || length < 58) return 2;
    if (std::memcmp(data, "RIFF", 4) == 0) {
        offset = 46;
        length -= 46;
    }
    int32_t r = Lib().SsmPlayMem(channel, kVocFormat, data, length, offset, length - 1);
    if (r < 0) return r;
    memPlaying = 1;
    int last = 0;
    while (!stopFlag && memPlaying && IsOnline()) {
        if (int32_t end = Lib().SsmCheckPlay(channel)) {
            last = end;
            if (!loop || !memPlaying) break;
            Lib().SsmPlayMem(channel, kVocFormat, data, length, offset, length - 1);
        }
        KeyFetch();
        if (breakFlag && !keyBuf.empty()) break;
        WaitCard(kNoLimit);
    }
    memPlaying = 0;
    Lib().SsmStopPlayMem(channel);
    return last;
}

int TagShCall::StartLoopPlay(const char* file, int32_t onPc) {
    if (onPc) {
        if (IsWavName(file) && FileExists(ResolvePath(file))) OpenPcPlayer(file);
        return -1;
    }
    if (TagKvCall* other = linkedCall) return other->StartLoopPlay(file, 0);
    int32_t r = Lib().SsmPlayFile(channel, file, kVocFormat, 0, -1);
    if (r < 0) {
        WriteLogF("StartPlayFile(%s) Error : %d", file ? file : "", r);
        playing = 0;
        return r;
    }
    playFile = file ? file : "";
    playing = 1;
    playStartTick = GetTickCount();
    playCounter = 0;
    return r;
}

int TagShCall::ReLoopPlay() {
    if (playing) return -1;
    if (playFile.empty()) return -2;
    if (Lib().SsmPlayFile(channel, playFile.c_str(), kVocFormat, playCounter, -1) < 0) return -3;
    playStartTick = GetTickCount();
    playing = 1;
    return 0;
}

int TagShCall::StopPlay() {
    if (TagKvCall* other = linkedCall) return other->StopPlay();
    TagKvCall::StopPlay();
    lineParamCompanion = 0;
    memPlaying = 0;
    Lib().SsmStopPlayMem(channel);
    if (lineKind == kLineRecording) {
        Lib().SsmStopSpyRecord(channel);
    } else {
        Lib().SsmStopPlay(channel);
        Lib().SsmStopRecord(channel);
    }
    if (lineKind == kLineExtension) Lib().SsmStopPlay(channel);
    playing = 0;
    return 0;
}

// ---- Recording

int TagShCall::Record(const char* file, int32_t seconds, int32_t breakFlag) {
    if (TagKvCall* other = linkedCall) return other->SpyRec(file, seconds);
    muteCount = 0;
    int32_t r = seconds < 0 ? Lib().SsmRecToFile(channel, file, kVocFormat, recFormat, recPos, -seconds * 1000, 1,
                                                 RecordSilenceBlock, this)
                            : Lib().SsmRecToFile(channel, file, kVocFormat, recFormat, recPos, seconds * 1000, 1,
                                                 nullptr, nullptr);
    if (r < 0) {
        WriteLogF("Record(%s) Error : %d, '%s'", file ? file : "", r, Lib().SsmGetLastErrMsg().c_str());
        return r;
    }
    int result = 0;
    while (!stopFlag) {
        if (!IsOnline()) {
            result = -1;
            break;
        }
        if (muteCount > 1) {
            WriteLogF("Record() muteCount : %d", muteCount.load());
            result = -1;
            break;
        }
        KeyFetch();
        if (breakFlag && !keyBuf.empty()) {
            result = 0;
            break;
        }
        if (int32_t end = Lib().SsmCheckRecord(channel)) {
            result = end;
            break;
        }
        WaitCard(kNoLimit);
    }
    StopPlay();
    return result;
}

int TagShCall::SpyRec(const char* file, int32_t seconds) {
    if (TagKvCall* other = linkedCall) return other->SpyRec(file, seconds);
    int32_t r;
    char text[400];
    if (lineKind == kLineRecording) {
        r = Lib().SsmSpyRecToFile(channel, 2, file, kVocFormat, recPos, 0, seconds * 1000, 1);
        std::snprintf(text, sizeof text, "SpyRec(%s, %d) : %d", file ? file : "", seconds, r);
    } else {
        WriteLogF("SsmSetRecMixer() : %d", Lib().SsmSetRecMixer(channel, 1, 0));
        r = Lib().SsmRecToFile(channel, file, kVocFormat, recFormat, recPos, seconds * 1000, 1, nullptr, nullptr);
        std::snprintf(text, sizeof text, "Record(%s, %d) : %d", file ? file : "", seconds, r);
    }
    if (r < 0)
        WriteLogAlways(text);
    else
        WriteLog(text);
    return r;
}

} // namespace zz
