// The card call's construction, incoming calls with their numbers, answering, extension lines, the waits on the
// channel state, the ISUP messages read from the card, the colour-ring check and the small line settings.
#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/TagWriteLog.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/CardMedia.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zz {

namespace {

constexpr int32_t kUnblockSeconds = 40;
constexpr int32_t kColorRingBuf = 120000;
constexpr uint32_t kColorRingMs = 14900;
constexpr int32_t kQuietFrames = 85; // a run longer than this is a person on the line
constexpr int32_t kIsupDumpMax = 256;

std::atomic<int32_t> g_dumpNo{0};

struct KindOfType {
    int8_t kind;
    int32_t signalling;
};

KindOfType KindOf(int32_t type, int32_t protocol) {
    switch (type) {
    case 0:
        return {kLineAnalogTrunk, kSigNone};
    case 1:
    case 2:
        return {kLineExtension, kSigNone};
    case 3:
    case 12:
        return {kLineRecording, kSigNone};
    case 11:
        return {kLineDigitalTrunk, kSigIsup};
    case 6:
        return {kLineDigitalTrunk, kSigTup};
    case 4:
        return {kLineDigitalTrunk, kSigSs1};
    case 7:
    case 8:
        return {kLineDigitalTrunk, kSigOther};
    case 15:
        return {kLineH323, kSigNone};
    case 16:
        return {kLineSip, kSigNone};
    case 5:
    case 9:
        return {kLineFax, kSigNone};
    default:
        return {kLineDigitalTrunk, protocol};
    }
}

} // namespace

int32_t ExpandCardSample(uint8_t b) {
    static const int32_t T[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};
    uint8_t v = b ^ 0xD5;
    int32_t s = (v >> 4) & 7, m = v & 15;
    int32_t mag = (m << (s + 3)) + T[s];
    return v & 0x80 ? -mag : mag;
}

bool ScanColorRing(const uint8_t* buf, int32_t n) {
    int32_t run = 0;
    for (int32_t f = 0; f + 20 <= n; f += 20) {
        int32_t sum = 0;
        for (int32_t i = 0; i < 20; ++i)
            sum += std::abs(ExpandCardSample(buf[f + i]));
        if (sum / 20 < 100) {
            if (++run > kQuietFrames) return true;
        } else {
            run = 0;
        }
    }
    return false;
}

int32_t MixerGainOf(int32_t level) {
    float g = level <= 100 ? float(100 - level) * -0.06f : float((level % 100) + 1) * 0.06f;
    return int32_t(g);
}

int32_t TagShCall::MixerGain() const {
    return MixerGainOf(level[2]);
}

TagShCall::TagShCall(int32_t ch, TagShDrive* d) : channel(ch), drive(d) {
    card = d;
    lineNo = ch;
    stopFlag = false;
    playing = 0;
    const int32_t type = Lib().SsmGetChType(ch);
    KindOfType k = KindOf(type, d->protocolKind);
    lineKind = k.kind;
    signalling = k.signalling;
    Lib().SetChannelWake(ch, &wake);
    lineClosed = 0;
    keyTime = 0;
    SetVolume(100, 0);
    SetVolume(100, 1);
    SetVolume(100, 2);
    dialOn[0] = dialOn[1] = 0;
    callState = kCallNone;
    SetLineParam(0);
    keyCount[0] = keyCount[1] = 0;
    keyBuf.clear();
    // Hangup does nothing before the first call: the trunk goes on hook through the card directly.
    if (lineKind == kLineAnalogTrunk) Lib().SsmHangup(ch);
    confGroup = -1;
    confOwner = -1;
    if (signalling == kSigIsup) Lib().SsmSetIsupChannel(ch, 0);
    if (type == 0) {
        Lib().SsmSetAnalogPara(ch, 96, 96);
        Lib().SsmSetAnalogPara(ch, 2, 43414);
    }
}

TagShCall::~TagShCall() {
    RequestStop();
    StopPlay();
    Hangup();
    // Links, rooms and the media bridge outlive a call that was already released: none may reach the line
    // once it is gone (the card's threads write into its blocks).
    UnlinkAll();
    ExitNameConf();
    EndRtp();
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        confList.clear();
    }
    Lib().SetChannelWake(channel, nullptr);
    if (CardMedia* m = GetCardMedia()) m->ms_forget_wake(&wake);
}

int TagShCall::IsRinging(std::string& caller, std::string& called) {
    if (lineKind == kLineExtension && GetHookState() != 0) {
        pending = 1;
        linkedCall = nullptr;
        return 1;
    }
    const int32_t st = PollChState();
    if (st != kChRinging && st != kChPending) {
        pending = 0;
        return 0;
    }
    linkedCall = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        confList.clear();
    }
    if (st == kChPending && Lib().SsmGetPendingReason(channel) != kPendingIncoming) {
        pending = 0;
        return 0;
    }
    Lib().SsmAcceptPending(channel, 1);
    if (IsIsup()) {
        uint8_t buf[kIsupImageMax];
        int32_t n = ReadIam(buf);
        if (n > 13) {
            int32_t r = iam.Init(buf, n);
            KeepSigMessage(buf + kIsupLabelLen, n - kIsupLabelLen);
            WriteLogF("iam.Init()=%d, iam.redirCase=%d, called=%s", r, iam.redirCase, iam.called.c_str());
        } else {
            iam.redirCase = 0;
        }
    }
    ReadCallNumbers();
    SetCallState(kCallRinging);
    WriteLog("ConnStat = CONNSTAT_RINGS.");
    GetCallerId(caller);
    GetCalleeId(called);
    ClearKeys();
    pending = 1;
    answered = 0;
    return 1;
}

void TagShCall::ReadCallNumbers() {
    std::string caller, called, sub;
    Lib().SsmGetCallerId(channel, caller);
    if (signalling == kSigOther && Lib().SsmGetCallerSubAddr(channel, sub) >= 0 && !sub.empty()) caller += "-" + sub;
    if (IsIsup() && !iam.calling.empty()) caller = iam.calling;
    Lib().SsmGetCalleeId(channel, called);
    sub.clear();
    if (signalling == kSigOther && Lib().SsmGetCalleeSubAddr(channel, sub) >= 0 && !sub.empty()) called += "-" + sub;
    if (IsIsup() && !iam.called.empty()) called = iam.called;
    callerId = caller.substr(0, kNumberLen);
    calleeId = called.substr(0, kNumberLen);
    WriteLogF("Caller: %s, Called: %s", callerId.c_str(), calleeId.c_str());
}

int TagShCall::GetCallerId(std::string& out) {
    out = callerId;
    if (out.empty()) Lib().SsmGetCallerId(channel, out);
    return 0;
}

int TagShCall::GetCalleeId(std::string& out) {
    out = calleeId;
    return callState == kCallDialing || callState == kCallDialFailed ? redirection : 0;
}

int TagShCall::GetFirstCalleeId(std::string& out) {
    out.clear();
    if (IsIsup() && iam.redirCase != 0) {
        out = iam.redirecting;
        return iam.redirCase;
    }
    return Lib().SsmGetOriginalCallee(channel, out);
}

int TagShCall::Answer(int32_t flag) {
    if (signalling == kSigIsup || signalling == kSigTup) {
        Lib().SsmAnswer(channel, flag ? 1 : 2);
        PollChState();
    } else {
        Pickup();
    }
    answered = 1;
    MarkConnected();
    return flag;
}

int TagShCall::MakeRing(const char* text) {
    if (lineKind != kLineExtension || GetHookState() != 0) return 0;
    if (text && *text) return Lib().SsmRingExtWithText(channel, text, int32_t(std::strlen(text)), 1000);
    return Lib().SsmRingExt(channel);
}

int TagShCall::GetHookState() {
    if (lineKind != kLineExtension) return callState == kCallConnected ? 1 : 0;
    int32_t h = Lib().SsmGetHookState(channel);
    int32_t result = 0, next = callState;
    if (h != 0) {
        int32_t count = Lib().SsmGetHookCount(channel);
        result = count > 0 ? count + 1 : h;
        next = kCallConnected;
    } else if (callState == kCallConnected) {
        next = kCallReleased;
    }
    if (next != callState) {
        WriteLogF("GetHookState: ret=%d, conn=%d, ConnStat=%d", result, next, int(callState));
        if (result > 0) StopPlay();
        ClearKeys();
        if (next == kCallConnected) connectTime = CalendarNow();
        SetCallState(next);
    }
    return result;
}

int TagShCall::WaitForState(int32_t state, int32_t& got, int32_t seconds) {
    const uint32_t start = GetTickCount(), limit = uint32_t(seconds) * 1000;
    for (;;) {
        if (stopFlag) return 0;
        got = Lib().SsmGetChState(channel);
        if (got == state) return 1;
        uint32_t el = TicksSince(start);
        if (el > limit) return 0;
        WaitCard(limit + 1 - el);
    }
}

int TagShCall::WaitUnblocked() {
    int32_t state = 0;
    if (WaitForState(kChIdle, state, kUnblockSeconds)) {
        blockValue = 0;
        return 1;
    }
    // Only the first channel of a trunk speaks for the trunk.
    if (channel % 30 == 0) {
        WriteLogAlwaysF("WaitUnblocked() err, timeout, state=%d", state);
        blockValue = 1;
    }
    return 0;
}

// Reads a user-part message from the card; with IS_WRITE_LOG 2 or more it is dumped to a numbered file.
static int32_t ReadUserPart(TagShCall& c, CardLib& lib, int32_t kind, uint8_t* buf) {
    int32_t len = kIsupImageMax;
    int32_t r = lib.SsmGetIsupUPPara(c.channel, kind, len, buf);
    if (kind == kIsupIam) c.WriteLogF("SsmGetIsupUPPara(IAM), ret=%d, len=%d", r, len);
    if (r != 1 || len == 0) return r;
    if (len > kIsupDumpMax) len = kIsupDumpMax;
    if (GetLogLevel() >= 2) {
        char name[64];
        std::snprintf(name, sizeof name, kind == kIsupIam ? "iam%02d_%d.dat" : "acm%02d_%d.dat", c.channel,
                      g_dumpNo.fetch_add(1) + 1);
        FileHandle f = FileHandle::Open(name, "w+b");
        if (f)
            std::fwrite(buf, 1, size_t(len), f.get());
        else
            c.WriteLog(name);
    }
    return len;
}

int32_t TagShCall::ReadAcm(uint8_t* buf) {
    return ReadUserPart(*this, Lib(), kIsupAcm, buf);
}

int32_t TagShCall::ReadIam(uint8_t* buf) {
    return ReadUserPart(*this, Lib(), kIsupIam, buf);
}

int TagShCall::CheckColorRing() {
    std::vector<uint8_t> buf(kColorRingBuf);
    if (Lib().SsmRecordMem(channel, kVocFormat, buf.data(), kColorRingBuf, 0) < 0) return 1;
    int result = 0;
    const uint32_t start = GetTickCount();
    int32_t seen = 0;
    while (!stopFlag) {
        int32_t n = Lib().SsmGetRecordMemBytes(channel);
        if (n > seen) {
            seen = n;
            if (ScanColorRing(buf.data(), n)) {
                WriteLog(" color-ring 检测到摘机");
                result = 1;
                break;
            }
            if (n > kColorRingBuf - 1024) break;
        }
        uint32_t el = TicksSince(start);
        if (el > kColorRingMs) {
            WriteLog(" color-ring Timeout");
            break;
        }
        WaitCard(kColorRingMs + 1 - el);
    }
    Lib().SsmStopRecordMem(channel);
    return result;
}

void TagShCall::SetVolume(int32_t value, int32_t kind) {
    TagKvCall::SetVolume(value, kind);
    if (kind == 0 || kind == 2) {
        int32_t gain = MixerGainOf(value);
        Lib().SsmSetGain(channel, 0, gain);
        Lib().SsmSetGain(channel, 1, gain);
    }
}

int TagShCall::SetBreak(int32_t flag) {
    return Lib().SsmSetBreakOnKey(channel, flag ? 1 : 0);
}

int TagShCall::SetSigPara(int32_t kind, int32_t value) {
    if (kind == 1 || kind == 2) return TagKvCall::SetSigPara(kind, value);
    if (kind == 3 && (value == 0 || value == 1)) return Lib().SsmSetSignalling(channel, value);
    return 0;
}

int TagShCall::GetChState() {
    return lastChState;
}

} // namespace zz
