// Card call control: waiting for and answering incoming calls, the pre-answer step of digital trunks, hanging up,
// dialling and following the outgoing call, and the online check.
#include "telephony/card/TagShCall.h"

#include "platform/Clock.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/TagShDrive.h"

#include <algorithm>
#include <climits>
#include <mutex>

namespace zz {

namespace {
constexpr uint32_t kNoLimit = UINT32_MAX;
constexpr int32_t kStateWaitSeconds = 10;    // pending state, release and on-hook
constexpr uint32_t kRingMs = 1600;           // one ring before WaitRing answers
constexpr uint32_t kRingsCheckMs = 1000;     // one ring of IsRings
constexpr uint32_t kPolarityMs = 30000;      // answer by polarity reversal
constexpr uint32_t kAnalogConnectMs = 45000; // connect wait on analogue trunks
constexpr uint32_t kDialErrorPauseMs = 350;
} // namespace

CardLib& TagShCall::Lib() const {
    return drive->Lib();
}

void TagShCall::WaitCard(uint32_t ms, int32_t other) {
    CardLib& lib = Lib();
    int64_t due = lib.NextDue(channel);
    uint64_t seen = lib.ChannelEvents(channel);
    if (other >= 0) {
        int64_t d = lib.NextDue(other);
        if (d >= 0 && (due < 0 || d < due)) due = d;
        seen += lib.ChannelEvents(other);
    }
    int64_t wait = ms == kNoLimit ? WakeEvent::kForever : int64_t(ms);
    if (due >= 0 && (wait < 0 || due < wait)) wait = due;
    // The talk-time limit runs on calendar seconds: look again when it is reached.
    if (maxTalkTime > 0 && callState == kCallConnected) {
        int64_t left = (int64_t(connectTime) + maxTalkTime + 1 - CalendarNow()) * 1000;
        if (left < 0) left = 0;
        if (wait < 0 || left < wait) wait = left;
    }
    WaitLine(wait, [&] {
        uint64_t now = lib.ChannelEvents(channel) + (other >= 0 ? lib.ChannelEvents(other) : 0);
        return now != seen;
    });
}

bool TagShCall::WaitUntil(const std::function<bool()>& done, int64_t ms) {
    CardLib& lib = Lib();
    const uint32_t start = GetTickCount();
    bool held = false;
    for (;;) {
        int64_t rest = WakeEvent::kForever;
        if (ms >= 0) rest = std::max<int64_t>(0, ms - int64_t(TicksSince(start)));
        // The channel's news (a far-end release among them) signals the line and bumps its count; what happens
        // by time alone is due at NextDue.
        uint64_t seen = lib.ChannelEvents(channel);
        int64_t wait = lib.NextDue(channel), talk = TalkTimeLeftMs();
        for (int64_t bound : {talk, rest})
            if (bound >= 0 && (wait < 0 || bound < wait)) wait = bound;
        bool news = WaitLine(wait, [&] { return (held = done()) || lib.ChannelEvents(channel) != seen; });
        if (held) return true;
        if (stopFlag) return false;
        if (news) continue;
        if (ms >= 0 && int64_t(TicksSince(start)) >= ms) return false;
        // The talk time ran out: IsOnline hangs up; a call that stays up anyway ends the wait.
        if (talk == 0) {
            IsOnline();
            if (TalkTimeLeftMs() == 0) return done();
        }
    }
}

int32_t TagShCall::PollChState() {
    int32_t s = Lib().SsmGetChState(channel);
    if (s != lastChState) WriteLogF("chState=%d", s);
    lastChState = s;
    if (s == kChIdle)
        blockValue = 0;
    else if (s == kChBlocked)
        blockValue = 1;
    return s;
}

int TagShCall::Pickup() {
    if (lineKind != kLineExtension) {
        WriteLogF("SsmPickup()=%d", Lib().SsmPickup(channel));
        PollChState();
        PollChState();
    }
    MarkConnected();
    return 0;
}

void TagShCall::SetCallerId(const char* number) {
    TagKvCall::SetCallerId(number);
    Lib().SsmSetTxCallerId(channel, callerIdToSend.c_str());
    if (!callerIdToSend.empty()) WriteLogF("SetCallerId(%s).", callerIdToSend.c_str());
}

void TagShCall::SetFirstCalleeId(const char* number, int32_t attribute) {
    TagKvCall::SetFirstCalleeId(number, attribute);
    redirection = attribute;
    Lib().SsmSetTxOriginalCallee(channel, firstCalleeToSend.c_str());
    if (!firstCalleeToSend.empty()) WriteLogF("SetFirstCalleeId(%s).", firstCalleeToSend.c_str());
}

int TagShCall::SetLineParam(int32_t value) {
    lineParam = value;
    lineParamCompanion = 0;
    return 0;
}

// ---- Incoming calls

// The rings before an answer; false when the caller gave up meanwhile.
static bool RingTime(TagShCall& c, uint32_t ms) {
    const uint32_t start = GetTickCount();
    for (;;) {
        if (c.PollChState() == kChIdle) return false;
        uint32_t el = TicksSince(start);
        if (el >= ms || c.stopFlag) return !c.stopFlag;
        c.WaitCard(ms - el);
    }
}

int TagShCall::WaitRing(int32_t rings) {
    ClearKeys();
    if (rings < 1) return -1;
    const int32_t mode = Lib().SsmGetPendingMode(channel);
    while (!stopFlag) {
        std::string caller, called;
        int r = IsRinging(caller, called);
        if (r < 0) break;
        if (r == 0) {
            WaitCard(kNoLimit);
            continue;
        }
        if (lineKind != kLineDigitalTrunk && rings > 1 && !RingTime(*this, uint32_t(rings - 1) * kRingMs)) {
            Hangup(); // the caller left while it rang
            break;
        }
        pending = 1;
        MarkConnected();
        // The pre-answer step may have hung up (no pending state): then there is no call to answer.
        if (mode == 0 && SetCharge(charge) < 0) break;
        if (callState == kCallConnected && !answered) Answer(charge);
        break;
    }
    ClearKeys();
    return 0;
}

int TagShCall::IsRings(int32_t rings) {
    std::string caller, called;
    int r = IsRinging(caller, called);
    if (r <= 0) return r;
    if (SetCharge(1) < 0) return r; // hung up in the pre-answer step
    // Each ring lasts its time unless the caller gives up meanwhile (the channel's news wakes the line); a line
    // stopped while the call rings refuses it, as WaitRing does.
    for (int32_t k = 1; k < rings; ++k) {
        const uint32_t start = GetTickCount();
        for (;;) {
            if ((lineKind == kLineExtension && GetHookState() == 0) || PollChState() == kChIdle || stopFlag) {
                Hangup();
                return 0;
            }
            const uint32_t el = TicksSince(start);
            if (el >= kRingsCheckMs) break;
            WaitCard(kRingsCheckMs - el);
        }
    }
    // SetCharge answers by itself when the card completes pending calls: answer once.
    if (!answered) Answer(1);
    return r;
}

int TagShCall::SetCharge(int32_t flag) {
    if (!(IsDigital() && pending)) return 0;
    charge = uint8_t(flag ? 1 : 0);
    MarkConnected();
    pending = 0;
    if (Lib().SsmGetPendingMode(channel) != 0) {
        Answer(flag);
    } else {
        int32_t state = 0;
        if (!WaitForState(kChPending, state, kStateWaitSeconds)) {
            WriteLogAlwaysF("WaitForState(S_CALL_PENDING) timeout, state=%d", state);
            Hangup();
            return -1;
        }
        int32_t kb = 1;
        if (IsIsup()) {
            std::vector<uint8_t> script;
            // A script's ACM of more than the image's room is refused: the built one goes instead.
            if (sigSendLen >= 7 && sigRaw[0] == 0x06 && sigSendLen <= kIsupScriptDataMax) {
                WriteLogF("ACM sigLenEx: %d", sigSendLen);
                script.assign(sigRaw, sigRaw + sigSendLen);
                sigSendLen = sigRecvLen = 0;
            }
            std::vector<uint8_t> acm = BuildAcm(iam, flag != 0, script);
            Lib().SsmSetIsupUPPara(channel, kIsupAcm, int32_t(acm.size()), acm.data());
            WriteLogF("SsmSendIsupMsg(ACM): %d", Lib().SsmSendIsupMsg(channel, kIsupAcm));
        } else {
            kb = Lib().SsmSetKB(channel, flag ? 1 : 7) != 0 ? 1 : 0;
        }
        WriteLogF("SsmSetKB(%d)=%d", flag, kb);
        PollChState();
        PollChState();
        Lib().SsmCompletePending(channel, 1);
        PollChState();
        PollChState();
    }
    if (dialOn[0] != 0) MarkConnected();
    return flag;
}

// ---- Release

void TagShCall::ReleaseRecord() {
    if (!IsIsup()) return;
    const uint8_t rec[7] = {0x0C, 0x02, 0x00, 0x02, 0x80, uint8_t(0x80 | Lib().SsmGetIsupCause(channel)), 0x00};
    KeepSigMessage(rec, 7);
}

int TagShCall::Hangup() {
    const int32_t s = callState;
    if (s == kCallReleased || s == kCallDialFailed || s == kCallClosed || s == kCallNone) return 0;
    callerId.clear();
    calleeId.clear();
    SetFirstCalleeId("", 0);
    dialing = 0;
    StopPlay();
    // The caller's links and room end with the call: the line's next caller must not hear the other parties.
    UnlinkAll();
    ExitNameConf();
    iam.Reset();
    int32_t state = 0;
    if (IsIsup()) {
        int32_t cause = hangupCause;
        if (sigSendLen >= 6 && sigRaw[0] == 12) cause = sigRaw[5] & 0x7F;
        Lib().SsmIsupRelease(channel, cause);
        WaitForState(kChIdle, state, kStateWaitSeconds);
    } else {
        if (s == kCallRinging) {
            WriteLogF("Hangup: SsmSetKB(5)=%d", Lib().SsmSetKB(channel, 5));
            PollChState();
            PollChState();
        }
        if (lineKind != kLineExtension) {
            Lib().SsmHangup(channel);
            WaitForState(kChIdle, state, kStateWaitSeconds);
        }
    }
    Lib().SsmClearCall(channel);
    SetCallState(kCallReleased);
    return 0;
}

// ---- Outgoing calls

int TagShCall::Dial(const char* number) {
    if (lineKind == kLineAnalogTrunk && dialOn[0] == 3) Lib().SsmPreDial(channel);
    acmRead = 0;
    calleeId.clear();
    cause = 0;
    callState = kCallDialing;
    ClearKeys();
    if (lineKind == kLineExtension) {
        MakeRing(callerIdToSend.c_str());
        return 0;
    }
    {
        std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
        confList.clear();
    }
    std::string num = number ? number : "";
    std::vector<uint8_t> script;
    if (IsIsup() && sigSendLen > 7) {
        WriteLogF("sigLenEx=%d, dial...", sigSendLen);
        IsupMessage obj;
        if (sigSendLen > kIsupScriptDataMax) {
            // Behind the 10 label bytes it would overrun the 300-byte image.
            WriteLogAlwaysF("sigLenEx=%d: more than %d bytes, not sent", sigSendLen, kIsupScriptDataMax);
            sigSendLen = 0;
        } else if (obj.Init(sigRaw, sigSendLen) != 0) {
            sigSendLen = 0;
        } else {
            script.assign(sigRaw, sigRaw + sigSendLen);
            if (num.empty()) num = obj.called;
            WriteLog("isHasIamMsg=true...");
        }
    }
    mobile = num.size() >= 11 && (num.rfind("13", 0) == 0 || num.rfind("15", 0) == 0) ? 1 : 0;
    if (!WaitUnblocked()) {
        sigSendLen = 0;
        Hangup();
        return -1;
    }
    Lib().SsmPickup(channel);
    if (signalling == kSigOther) {
        Lib().SsmSetCalleeSubAddr(channel, subAddr2.substr(0, 30).c_str());
        Lib().SsmSetCallerSubAddr(channel, subAddr1.substr(0, 30).c_str());
    }
    if (sigPara[0] < 0) sigPara[0] = CardCfg().callerIsNational ? 3 : 1;
    CardSettings& cfg = CardCfg();
    if (IsIsup() && cfg.pointCodesKnown) {
        IsupCallFields f;
        f.channel = channel;
        f.dialled = num;
        f.callerToSend = callerIdToSend;
        f.originalCalled = firstCalleeToSend;
        f.redirection = redirection;
        f.nature = sigPara[0];
        f.restricted = sigPara[1] == 1;
        std::string log;
        std::vector<uint8_t> image = BuildIam(f, cfg.dpc, cfg.opc, script, &log);
        if (!log.empty()) {
            size_t bar = log.find('|');
            WriteLog(log.substr(0, bar).c_str());
            WriteLog(log.substr(bar + 1).c_str());
        }
        KeepSigMessage(image.data() + kIsupLabelLen, int32_t(image.size()) - kIsupLabelLen);
        int32_t r = Lib().SsmSetIsupUPPara(channel, kIsupIam, int32_t(image.size()), image.data());
        WriteLogF("SsmSetIsupUPPara(IAM, %d): %d", int(image.size()), r);
    }
    redirection = 0;
    int32_t r;
    if (signalling == kSigTup) {
        int32_t para = sigPara[0];
        if (sigPara[1] == 1) para |= 4;
        WriteLogF("TUP: SsmAutoDialEx, para=0x%x", para);
        r = Lib().SsmAutoDialEx(channel, num.c_str(), para);
    } else {
        r = Lib().SsmAutoDial(channel, num.c_str());
    }
    if (r < 0) {
        WriteLog(Lib().SsmGetLastErrMsg().c_str());
        Hangup();
        return -1;
    }
    WriteLogF("SsmAutoDial(%s): %d", num.c_str(), r);
    dialTick = GetTickCount();
    return 0;
}

int TagShCall::CheckDial() {
    if (lineKind == kLineExtension) {
        if (GetHookState() == 0) return 0;
        MarkConnected();
        return 1;
    }
    const int32_t st = PollChState();
    if (st == kChAddressComplete) {
        if (IsIsup() && !acmRead) {
            acmRead = 1;
            uint8_t buf[kIsupImageMax];
            int32_t n = ReadAcm(buf);
            if (n > kIsupLabelLen) {
                KeepSigMessage(buf + kIsupLabelLen, n - kIsupLabelLen);
                bci[0] = bci[1] = 0;
                cause = 0;
                CardSettings& cfg = CardCfg();
                bool known = cfg.pointCodesKnown;
                AcmResult a = ParseAcm(buf, n, mobile != 0, cfg.dpc, cfg.opc, known);
                cfg.pointCodesKnown = known;
                if (a.bciRead) {
                    bci[0] = a.bci[0];
                    bci[1] = a.bci[1];
                    WriteLogF("BCI=%02X %02X", bci[0], bci[1]);
                }
                if (a.cause) {
                    cause = a.cause;
                    WriteLogF("ACM causeId : 0x%x", cause);
                }
                if (a.divertCase >= 1) {
                    calleeId = a.redirNumber;
                    redirection = a.divertCase;
                    WriteLogF("Redirected To: %s, redirCase=%d", calleeId.c_str(), redirection);
                } else if (a.status == 0) {
                    redirection = -3;
                    WriteLog("ACM指示: 被叫不空闲");
                } else {
                    redirection = -1;
                }
            }
        } else if (!IsIsup()) {
            redirection = -1;
            if (dialOn[0] == 1) MarkConnected();
            return 2;
        }
        if (dialOn[0] != 0) MarkConnected();
        return 2;
    }
    if (st == kChPending || st == kChReleased) {
        int32_t rc = Lib().SsmGetReleaseCause(channel);
        if (rc > 0) {
            if (signalling == kSigOther)
                cause = rc > 100 ? rc - 100 : rc;
            else if (rc == 66)
                cause = Lib().SsmGetIsupCause(channel);
            WriteLogF("REL causeId : _causeId = 0x%x", cause);
            ReleaseRecord();
            WriteLog("对方拒接或接续不成功!");
            Hangup();
            return -6;
        }
    }
    const int32_t pr = Lib().SsmChkAutoDial(channel);
    if (lineKind == kLineAnalogTrunk && dialOn[0] == 2) {
        if (pr == kDialNoDialTone) {
            WriteLog("没有拨号音!");
            Hangup();
            return -1;
        }
        if (st == kChPending || st == kChReleased) {
            WriteLog("已断开!");
            Hangup();
            return -3;
        }
        int32_t pc = Lib().SsmGetPolarRvrsCount(channel);
        if (pc == 0) {
            if (TicksSince(dialTick) <= kPolarityMs) return 0;
            WriteLog("超时极性仍未反转!");
            Hangup();
            return -2;
        }
        if (pc > 0) {
            WriteLogF("SsmGetPolarRvrsCount : %d", pc);
            MarkConnected();
            return 1;
        }
    }
    if (st == kChTalking || pr == 7 || pr == 8 || pr == 9) {
        if (lineKind == kLineAnalogTrunk && dialOn[0] == 0) {
            WriteLog("Connect OK, Start color-ring check...");
            if (CheckColorRing() == 0) {
                callState = kCallColorRingFailed;
                Hangup();
                WriteLog("CheckColorRing() : -4");
                return -4;
            }
            WriteLog("CheckColorRing() : 1");
        }
        if (IsIsup()) {
            const uint8_t answer = 0x09;
            KeepSigMessage(&answer, 1);
        }
        MarkConnected();
        return 1;
    }
    if (pr == kDialRingback || (pr < 3 && pr != kDialError)) return 0;
    WriteLogF("Dial() return : %d", pr);
    if (pr == kDialError) {
        WriteLog(Lib().SsmGetLastErrMsg().c_str());
        WaitLine(kDialErrorPauseMs, [] { return false; });
        return 0;
    }
    if (pr == kDialFailCause) {
        int32_t fc = Lib().SsmGetFailCause(channel);
        WriteLogF("Fail case info2 : %d", fc);
        if (signalling == kSigOther && fc > 0) cause = fc % 100;
        if (IsIsup()) {
            cause = Lib().SsmGetIsupCause(channel) & 0xFF;
            WriteLogF("REL causeId : 0x%x", cause);
        }
        if (IsIsup() || fc == 61) {
            ReleaseRecord();
            return -5;
        }
    }
    int res = pr == kDialNoDialTone ? -1
              : pr == kDialBusy     ? -3
              : pr == kDialNoAnswer ? -2
              : pr == kDialRejected ? -5
              : pr < 1              ? -6
                                    : -4;
    ReleaseRecord();
    Hangup();
    return res;
}

int TagShCall::OutCall(const char* number, int32_t, int32_t) {
    if (lineKind == kLineAnalogTrunk && (!number || !*number)) {
        Lib().SsmPickup(channel);
        MarkConnected();
        return 0;
    }
    int r = Dial(number);
    if (r < 0) return r;
    dialing = 1;
    const uint32_t start = GetTickCount();
    int last = 0;
    while (!stopFlag && dialing && callState == kCallDialing) {
        last = CheckDial();
        if (last == 0) {
            uint32_t el = TicksSince(start);
            if (lineKind == kLineAnalogTrunk && el > kAnalogConnectMs) {
                if (dialOn[0] == 1) MarkConnected();
                break;
            }
            WaitCard(lineKind == kLineAnalogTrunk ? kAnalogConnectMs + 1 - el : kNoLimit);
            continue;
        }
        if (last == 2 && cause == 0 && dialOn[0] == 0) {
            WaitCard(kNoLimit); // ringback: the answer or the release comes from the far end
            continue;
        }
        break;
    }
    dialing = 0;
    if (callState == kCallConnected) {
        WriteLog("Connect OK");
        return 0;
    }
    if (callState == kCallDialing || callState == 5) {
        Hangup();
        WriteLog("Connect Failed, TimeOut");
        last = -2;
    }
    SetCallState(kCallReleased);
    return last;
}

int TagShCall::IsOnline() {
    auto restartLoop = [this] {
        if (playing && Lib().SsmCheckPlay(channel) != 0) StartLoopPlay(playFile.c_str(), 0);
    };
    if (lineKind == kLineExtension) {
        if (GetHookState() == 0) {
            if (prevState == kCallConnected) callState = kCallReleased;
            TagKvCall::IsOnline();
            return 0;
        }
        if (callState != kCallConnected) MarkConnected();
        restartLoop();
        TagKvCall::IsOnline();
        return 1;
    }
    const int32_t st = PollChState();
    TagKvCall::IsOnline();
    if (st == kChTalking || st == kChRinging ||
        (st == kChPending && Lib().SsmGetPendingReason(channel) == kPendingIncoming)) {
        restartLoop();
        return 1;
    }
    if (callState == kCallConnected && (st == kChPending || st == kChIdle)) {
        if (st == kChPending) WriteLog("REL RECVed");
        Hangup();
        return 0;
    }
    return callState == kCallConnected ? 1 : 0;
}

} // namespace zz
