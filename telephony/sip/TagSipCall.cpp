// Call control of a SIP line: waiting for a call, ringing, answering, dialling, hanging up and the online check,
// over the call slot of the SIP user agent.
#include "telephony/sip/TagSipCall.h"

#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "telephony/sip/TagSipCfg.h"
#include "telephony/sip/TagSipDrive.h"

#include <cstdlib>
#include <cstring>

namespace zz {

namespace {
constexpr uint32_t kUnblockWaitMs = 10000;
constexpr int32_t kAnswerWaitSeconds = 20;
constexpr int32_t kByeWaitSeconds = 10;
constexpr uint32_t kOutCallWaitMs = 45000;
constexpr uint32_t kAcceptSettleMs = 36 * 20; // the original polled 36 times 20 ms after an accept
constexpr uint32_t kConnectSettleMs = 24 * 20;

std::string Cut(std::string s, size_t room) {
    s.resize(GbkSafeCut(s, room - 1));
    return s;
}
} // namespace

bool TagSdpType::SetIfChanged(const std::string& a, int32_t p, int32_t t) {
    if (a == addr && p == port && t == type) return false;
    addr = a;
    port = p;
    type = t;
    return true;
}

TagSipCall::TagSipCall(int32_t channel, int32_t lineNo, const std::string& address, int32_t rtpBasePort,
                       TagSipDrive* drive, const SipLibs& libs)
    : ua_(libs.ua), media_(libs.media), msrp_(libs.msrp), drive_(drive), mCallid(channel + 1),
      localMediaAddr_(address), mRtpPort(uint16_t(channel * 2 + rtpBasePort)), channel_(channel) {
    this->lineNo = lineNo;
    lineKind = kLineSip;
    dialOn[0] = dialOn[1] = 0;
    callState = kCallNone;
    ua_->sip_set_call_waker(mCallid, &wake);
    SetLineParam(0);
    ClearKeys();
    Hangup();
}

TagSipCall::~TagSipCall() {
    RequestStop();
    StopPlay();
    Hangup();
    ua_->sip_set_call_listen(mCallid, false);
    if (ua_->get_call_type(mCallid) != kSipTypeNone) EndLibraryCall();
    ua_->sip_set_call_waker(mCallid, nullptr);
    media_->ms_forget_wake(&wake);
}

// ---- waiting

void TagSipCall::Pause(uint32_t ms) {
    WaitLine(ms, [] { return false; });
}

bool TagSipCall::SlotChanged() {
    int t = int8_t(ua_->get_call_type(mCallid));
    int s = t == kSipTypeOut ? int8_t(ua_->get_callout_state(mCallid))
            : t == kSipTypeIn ? int8_t(ua_->get_callin_state(mCallid))
                              : 0;
    int newFlag = 0;
    int oa = int8_t(ua_->get_call_oa_state_ex(mCallid, newFlag));
    return t != lastType_ || s != lastState_ || newFlag || oa != lastOaState_ || PeerFellSilent();
}

bool TagSipCall::PeerFellSilent() {
    if (peerSilent_ || !mediaChannel || media_->ms_channel_is_silent(mediaChannel) != 1) return false;
    peerSilent_ = true;
    return true;
}

int64_t TagSipCall::TalkLimitLeft() const {
    if (callState != kCallConnected || maxTalkTime < 1) return WakeEvent::kForever;
    int64_t left = (int64_t(connectTime) + maxTalkTime + 1 - CalendarNow()) * 1000;
    return left < 0 ? 0 : left;
}

bool TagSipCall::IsCallEndState(int s) const {
    return s == kSipStIdle || s == kSipStCancelled || s == kSipStRefused || s == kSipStReleasing ||
           s == kSipStByed || s == kSipStFailed || s == kSipStClosed;
}

int TagSipCall::PollCallState() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    int t = int8_t(ua_->get_call_type(mCallid));
    int s = t == kSipTypeOut ? int8_t(ua_->get_callout_state(mCallid))
            : t == kSipTypeIn ? int8_t(ua_->get_callin_state(mCallid))
                              : 0;
    if (t != lastType_ || s != lastState_) {
        WriteLogF("ct=%d, chState=%d, mCallid=%d", t, s, mCallid);
        lastType_ = t;
        lastState_ = s;
        if (WakeEvent* w = watcher_.load()) w->Signal();
    }
    OfferAnswerStep();
    return s;
}

int TagSipCall::WaitCallState(int wanted, int32_t seconds) {
    return WaitLine(int64_t(seconds) * 1000, [&] { return PollCallState() == wanted; }) ? 1 : 0;
}

int TagSipCall::WaitUnblocked() {
    bool free = WaitLine(kUnblockWaitMs, [&] {
        PollCallState();
        int t = lastType_, s = lastState_;
        return t == kSipTypeNone || ((t == kSipTypeOut || t == kSipTypeIn) && s == kSipStIdle);
    });
    if (free || stopFlag) {
        blockValue = 0;
        return 1;
    }
    if (channel_ % 30 == 0) {
        WriteLogAlwaysF("WaitUnblocked() err, timeout, state=%d", int(lastState_));
        blockValue = 1;
    }
    return 0;
}

int TagSipCall::WaitMediaOk(TagSipCall* peer) {
    // The waiting line is the peer when one is given (the link operation of another line), else this one; this
    // line tells it of its changes while it waits.
    TagSipCall* waiter = peer ? peer : this;
    if (waiter != this) watcher_ = &waiter->wake;
    enum { kWaiting, kOk, kFailed } result = kWaiting;
    waiter->WaitLine(kMediaWaitMs, [&] {
        if (stopFlag) return (result = kFailed), true;
        if (mediaOk_) return (result = kOk), true;
        if (peer) peer->PollCallState();
        if (lastType_ == kSipTypeNone || lastState_ >= kSipStRefused) return (result = kFailed), true;
        if (peer && peer != this && (peer->lastType_ == kSipTypeNone || peer->lastState_ >= kSipStRefused))
            return (result = kFailed), true;
        return false;
    });
    watcher_ = nullptr;
    if (result == kOk) return 1;
    if (result == kWaiting && !waiter->stopFlag) WriteLogAlwaysF("WaitMediaOk() err, timeout, state=%d", int(lastState_));
    return 0;
}

void TagSipCall::Settle(uint32_t ms) {
    WaitLine(ms, [&] {
        int s = PollCallState();
        return s == kSipStEstablished || lastType_ == kSipTypeNone || IsCallEndState(s);
    });
}

// ---- incoming calls

int TagSipCall::IsRinging(std::string& caller, std::string& called) {
    PollCallState();
    if (lastType_ == kSipTypeIn && lastState_ == kSipStOffered) {
        char id[16];
        int n = std::snprintf(id, sizeof id, "%d", mCallid);
        KeepSigMessage(reinterpret_cast<const uint8_t*>(id), n + 1);
        std::string s;
        callerId = ua_->sip_call_get_peeraddr(mCallid, s) == 0 ? Cut(s, kAddrRoom) : std::string();
        calleeId = ua_->sip_call_get_myaddr(mCallid, s) == 0 ? Cut(s, kAddrRoom) : std::string();
        WriteLogF("Caller: %s, Called: %s", callerId.c_str(), calleeId.c_str());
        SetCallState(kCallRinging);
        WriteLog("ConnStat = CONNSTAT_RINGS.");
        caller = callerId;
        called = calleeId;
        ClearKeys();
        ringing_ = 1;
        calling_ = 0;
        endedOffer_ = 0;
        links_.clear();
        return 1;
    }
    if (lastType_ == kSipTypeIn && lastState_ == kSipStCancelled && !endedOffer_) {
        endedOffer_ = 1;
        Pause(100);
        EndLibraryCall();
    }
    // Looking for a call: the user agent may give this line the next one.
    if (lastType_ == kSipTypeNone) ua_->sip_set_call_listen(mCallid, true);
    ringing_ = 0;
    return 0;
}

int TagSipCall::WaitRing(int32_t count) {
    ClearKeys();
    if (count < 1) return -1;
    while (!stopFlag) {
        std::string caller, called;
        int r = IsRinging(caller, called);
        if (r > 0) {
            ringing_ = 1;
            MarkConnected();
            SetCharge(1);
            // A caller who cancelled while the line answered is gone: the line waits for the next call.
            if (Answer(1) < 0 && CallEnded()) {
                Hangup();
                continue;
            }
            break;
        }
        if (r < 0) break;
        WaitLine(WakeEvent::kForever, [&] { return SlotChanged(); });
    }
    ua_->sip_set_call_listen(mCallid, false);
    ClearKeys();
    return 0;
}

int TagSipCall::IsRings(int32_t count) {
    if (count < 1) return 0;
    std::string caller, called;
    if (IsRinging(caller, called) <= 0) return 0;
    std::string s;
    callerId = ua_->sip_call_get_peeraddr(mCallid, s) == 0 ? Cut(s, kAddrRoom) : std::string();
    calleeId = ua_->sip_call_get_myaddr(mCallid, s) == 0 ? Cut(s, kAddrRoom) : std::string();
    ringing_ = 1;
    MarkConnected();
    SetCharge(1);
    if (Answer(1) < 0 && CallEnded()) {
        Hangup();
        return 0;
    }
    ClearKeys();
    return 1;
}

int TagSipCall::SetCharge(int32_t) {
    if (!ringing_) return 0;
    ringing_ = 0;
    confClosed = false;
    int code = hangupCause > 180 && hangupCause < 200 ? hangupCause : 180;
    int r = ua_->sip_call_provisional(mCallid, code);
    WriteLogF("sip_call_provisional(callid=%d, code=%d)=%d", mCallid, code, r);
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        OfferAnswerStep();
    }
    if (dialOn[0] != 0) MarkConnected();
    return r;
}

bool TagSipCall::CallEnded() {
    int s = PollCallState();
    return lastType_ == kSipTypeNone || IsCallEndState(s);
}

int TagSipCall::Answer(int32_t) {
    // The provisional answer lets the call be accepted; a call that ends first (the caller's CANCEL, a request
    // the stack refused) ends the wait.
    bool ready = WaitLine(int64_t(kAnswerWaitSeconds) * 1000, [&] {
        int s = PollCallState();
        return s == kSipStProceeding || s == kSipStEstablished || CallEnded();
    });
    if (!ready || lastState_ != kSipStProceeding) return -1;
    int r = ua_->sip_call_accept(mCallid);
    WriteLogF("sip_call_accept(callid=%d): %d", mCallid, r);
    MarkConnected();
    Settle(kAcceptSettleMs);
    media_->ms_channel_reset(mediaChannel);
    return r;
}

// ---- outgoing calls

int TagSipCall::Dial(const char* number) {
    const char* dest = number ? number : "";
    mediaOk_ = 0;
    confClosed = false;
    endedOffer_ = 0;
    WriteLogF("Dial(%s -> %s)...", callerIdToSend.c_str(), dest);
    calling_ = 1;
    calleeId.clear();
    ua_->sip_set_call_listen(mCallid, false);
    if (!WaitUnblocked()) {
        Hangup();
        return -1;
    }
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        links_.clear();
    }
    callState = kCallDialing;
    ClearKeys();
    std::string offer;
    if (offerOption_ >= 0)
        ua_->sip_get_init_sdp_offer_ex(localMediaAddr_.c_str(), mRtpPort, offerOption_, offer);
    else
        ua_->sip_get_init_sdp_offer(localMediaAddr_.c_str(), mRtpPort, offer);
    offer = Cut(offer, kSdpRoom);
    WriteLogF("sip_get_init_sdp_offer=[%s]", offer.c_str());
    int acc = SipGetAccStat(callerIdToSend.c_str());
    WriteLogF("CheckAcc=%d", acc);
    if (acc < 0) {
        Hangup();
        return -2;
    }
    int r;
    if (sigSendLen > 0) {
        std::string text(reinterpret_cast<const char*>(sigRaw), size_t(sigSendLen));
        int org = std::atoi(text.c_str());
        sigSendLen = 0;
        WriteLogF("sip_call_out_b2b_forward(mCallid=%d, orgCallid=%d, %s -> %s)...", mCallid, org,
                  callerIdToSend.c_str(), dest);
        r = ua_->sip_call_out_b2b_forward(mCallid, org, callerIdToSend.c_str(), dest, offer.c_str(), 0);
        WriteLogF("sip_call_out_b2b_forward(mCallid=%d, orgCallid=%d, %s -> %s): %d", mCallid, org,
                  callerIdToSend.c_str(), dest, r);
    } else if (acc > 0) {
        WriteLogF("sip_call_out_by_account(mCallid=%d, reqId=%d, dest=%s) ...", mCallid, acc, dest);
        r = ua_->sip_call_out_by_account(mCallid, acc, dest, offer.c_str(), firstCalleeToSend.c_str());
        WriteLogF("sip_call_out_by_account(mCallid=%d, regId=%d, %s -> %s): %d", mCallid, acc,
                  callerIdToSend.c_str(), dest, r);
    } else {
        WriteLogF("sip_call_out((mCallid=%d, dest=%s) ...", mCallid, dest);
        r = ua_->sip_call_out(mCallid, callerIdToSend.c_str(), dest, offer.c_str(), 0);
        WriteLogF("sip_call_out(%s): %s -> %d", callerIdToSend.c_str(), dest, r);
    }
    if (r < 0) {
        Pause(10);
        Hangup();
        return -1;
    }
    offerProvided_ = 1;
    return 0;
}

int TagSipCall::CheckDial() {
    if (callState == kCallConnected) {
        calling_ = 0;
        return 1;
    }
    if (callState != kCallDialing) {
        calling_ = 0;
        return -3;
    }
    int s = PollCallState();
    if (lastType_ == kSipTypeNone || (s != kSipStIdle && s != kSipStProceeding && s != kSipStEstablished &&
                                      IsCallEndState(s))) {
        if (s == kSipStRefused) cause = ua_->sip_get_ans_code(mCallid);
        WriteLog("对方拒接或接续不成功!");
        calling_ = 0;
        Hangup();
        return s == kSipStByed ? -8 : -6;
    }
    if (s == kSipStProceeding) {
        // The answer may have come since the state was read: the cause stays the provisional code.
        int code = ua_->sip_get_ans_code(mCallid);
        if (code < 200) cause = code;
        return 2;
    }
    if (s == kSipStEstablished) {
        calling_ = 0;
        MarkConnected();
        Settle(kConnectSettleMs);
        media_->ms_channel_reset(mediaChannel);
        return 1;
    }
    return 0;
}

int TagSipCall::OutCall(const char* number, int32_t, int32_t) {
    int r = Dial(number);
    if (r != 0) return r;
    const uint32_t start = GetTickCount();
    bool timedOut = true;
    while (!stopFlag && calling_ && callState == kCallDialing) {
        r = CheckDial();
        if (r == 1 || r < 0) {
            timedOut = false;
            break;
        }
        uint32_t waited = TicksSince(start);
        if (waited >= kOutCallWaitMs) break;
        WaitLine(kOutCallWaitMs - waited, [&] { return SlotChanged(); });
    }
    if (stopFlag && callState == kCallDialing) timedOut = false;
    calling_ = 0;
    if (callState == kCallConnected) {
        WriteLog("Connect OK");
        return 0;
    }
    int result = r < 0 ? r : -2;
    if (timedOut || callState == kCallDialing || callState == 5) {
        Hangup();
        WriteLog("Connect Failed, TimeOut");
        result = -2;
    }
    SetCallState(kCallReleased);
    return result;
}

// ---- release

void TagSipCall::StopOutCall() {
    Pause(120);
    calling_ = 0;
    int r = ua_->sip_call_cancel(mCallid);
    WriteLogF("StopOutCall: sip_call_cancel(callid=%d): %d", mCallid, r);
}

int TagSipCall::RejectCall(int code) {
    int r = ua_->sip_call_reject(mCallid, code);
    WriteLogF("rejectCall(callid=%d, code=%d)=%d", mCallid, code, r);
    return r;
}

void TagSipCall::EndLibraryCall() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    EndChannel();
    int r = ua_->sip_call_end(mCallid);
    WriteLogF("sip_call_end(callid=%d): %d", mCallid, r);
    remote_.Reset();
}

int TagSipCall::Hangup() {
    int32_t state = callState;
    // A call the script has closed (12) is over: a hang-up there must not send it back to its handler.
    if (state == kCallReleased || state == kCallDialFailed || state == kCallNone || state == kCallClosed) return 0;
    WriteLog("Hangup...");
    callerId.clear();
    calleeId.clear();
    SetFirstCalleeId("", 0);
    if (calling_) StopOutCall();
    StopPlay();
    PollCallState();
    if (callState == kCallRinging) {
        int code = hangupCause > 299 && hangupCause < 1000 ? hangupCause : 486;
        WriteLogF("Hangup: rejectCall(486)=%d", RejectCall(code));
    } else if ((lastType_ == kSipTypeOut || lastType_ == kSipTypeIn) && lastState_ == kSipStEstablished) {
        int r = ua_->sip_call_bye(mCallid);
        WriteLogF("sip_call_bye(callid=%d): %d", mCallid, r);
        WaitCallState(kSipStByed, kByeWaitSeconds);
    }
    PollCallState();
    EndLibraryCall();
    SetCallState(kCallReleased);
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        links_.clear();
    }
    LeaveLinkers();
    WriteLog("Hangup.");
    return 0;
}

int TagSipCall::IsOnline() {
    TagKvCall::IsOnline(); // the maximum talk time
    PollCallState();
    int t = lastType_, s = lastState_;
    if ((t == kSipTypeOut || t == kSipTypeIn) && s == kSipStEstablished) {
        PeerFellSilent();
        if (peerSilent_) {
            // A caller that vanished (no BYE, no RTP) has hung up as far as the line is concerned.
            WriteLogAlways("no RTP from the peer for 60 s: the call ends");
            Hangup();
            return 0;
        }
        std::lock_guard<std::recursive_mutex> g(lock_);
        if (playing && LoopPlayEnded()) StartLoopPlay(playFile.c_str(), 0);
        if (mhRecording && recordLimit_ > 0 && media_->ms_recorded_length(mhRecording) > recordLimit_)
            StopRecording("IsOnline");
        return 1;
    }
    int32_t cs = callState;
    if ((cs == kCallConnected || cs == kCallRinging) &&
        (t == kSipTypeNone || ((t == kSipTypeOut || t == kSipTypeIn) && IsCallEndState(s)))) {
        WriteLog("state end:");
        Hangup();
        return 0;
    }
    return callState == kCallConnected ? 1 : 0;
}

// ---- small slots

int TagSipCall::GetHookState() {
    return callState == kCallConnected ? 1 : 0;
}

int TagSipCall::GetCallerId(std::string& out) {
    out = callerId;
    return 0;
}

int TagSipCall::GetCalleeId(std::string& out) {
    out = calleeId;
    return 0;
}

int TagSipCall::GetFirstCalleeId(std::string& out) {
    out.clear();
    return 0;
}

void TagSipCall::SetCallerId(const char* number) {
    callerIdToSend = Cut(number ? number : "", kNumberLen + 1);
    if (!callerIdToSend.empty()) WriteLogF("SetCallerId(%s).", callerIdToSend.c_str());
}

void TagSipCall::SetFirstCalleeId(const char* number, int32_t attribute) {
    firstCalleeToSend = Cut(number ? number : "", kNumberLen + 1);
    firstCalleeAttr = attribute;
    if (!firstCalleeToSend.empty()) WriteLogF("SetFirstCalleeId(%s).", firstCalleeToSend.c_str());
}

int TagSipCall::SetLineParam(int32_t value) {
    driverValue_ = value;
    driverValue2_ = 0;
    return 0;
}

int TagSipCall::IsMediaOk() {
    return mediaOk_;
}

int TagSipCall::GetChState() {
    return lastType_ != kSipTypeNone ? int(lastState_) : 0;
}

int TagSipCall::SipGetAccStat(const char* account) {
    return drive_ ? drive_->Cfg().regCtrl.AccountState(account) : 0;
}

} // namespace zz
