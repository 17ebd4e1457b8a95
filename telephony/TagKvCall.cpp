#include "telephony/TagKvCall.h"

#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagPcPlayer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zz {

namespace {
std::mutex g_makerLock;
PcPlayerMaker g_maker;
} // namespace

void SetPcPlayerMaker(PcPlayerMaker maker) {
    std::lock_guard<std::mutex> g(g_makerLock);
    g_maker = std::move(maker);
}

std::unique_ptr<TagPcPlayer> MakePcPlayer(const char* file, int volume) {
    PcPlayerMaker maker;
    {
        std::lock_guard<std::mutex> g(g_makerLock);
        maker = g_maker;
    }
    return maker ? maker(file, volume) : MakeSoundCardPlayer(file, volume);
}

int32_t CalendarNow() {
    return int32_t(std::time(nullptr));
}

TagKvCall::TagKvCall() = default;

TagKvCall::~TagKvCall() = default;

void TagKvCall::SetName(const char* text) {
    std::string_view s = text ? text : "";
    name.assign(s.substr(0, GbkSafeCut(s, kNameLen)));
}

void TagKvCall::MarkConnected() {
    connectTime = CalendarNow();
    callState = kCallConnected;
}

// ---- raw signalling data

int32_t TagKvCall::SetSigRawData(const uint8_t* data, int32_t n) {
    if (n < 0 || (n > 0 && !data)) return -1;
    if (n > int32_t(kSigRawLen)) return -2;
    if (n) std::memcpy(sigRaw, data, size_t(n));
    sigSendLen = n;
    return n;
}

int32_t TagKvCall::KeepSigMessage(const uint8_t* data, int32_t n) {
    if (n < 0 || (n > 0 && !data)) return -1;
    if (n > int32_t(kSigRawLen)) return -2;
    if (n) std::memcpy(sigRaw, data, size_t(n));
    sigRecvLen = n;
    return n;
}

std::string TagKvCall::TakeSigReceived() {
    if (sigRecvLen <= 0) return {};
    std::string out(reinterpret_cast<const char*>(sigRaw), size_t(sigRecvLen));
    sigRecvLen = 0;
    sigSendLen = 0;
    return out;
}

// ---- sound-card play of the base

bool TagKvCall::OpenPcPlayer(const char* file) {
    if (pcPlayer) {
        pcPlayer->Play(file, level[1]);
    } else {
        pcPlayer = MakePcPlayer(file, level[1]);
        // A play that ended before this is seen by the waiter's first look at IsFinished.
        if (pcPlayer) pcPlayer->SetWake(&wake);
    }
    if (!pcPlayer || pcPlayer->Status() < 0) {
        pcPlayer.reset();
        return false;
    }
    return true;
}

int TagKvCall::ReLoopPlay() {
    if (playing) return -1;
    if (playFile.empty()) return -2;
    if (!OpenPcPlayer(playFile.c_str())) return -3;
    pcPlayer->SetLoop(false);
    playStartTick = GetTickCount();
    playing = 1;
    return playCounter;
}

int TagKvCall::Play(const char* file, int32_t breakFlag, int32_t) {
    StopPlay();
    return PcPlay(file, 0, 1, breakFlag);
}

int TagKvCall::StartLoopPlay(const char* file, int32_t) {
    if (!file || !OpenPcPlayer(file)) return -2;
    // Started once; KeysLen, which key polling calls, starts it again when it ends.
    pcPlayer->SetLoop(false);
    playFile = file;
    playing = 1;
    playStartTick = GetTickCount();
    playCounter = 0;
    return 0;
}

int TagKvCall::PcPlay(const char* file, int32_t loop, int32_t wait, int32_t breakFlag) {
    if (!file || !OpenPcPlayer(file)) return -2;
    pcPlayer->SetLoop(loop != 0);
    if (loop || !wait) return 0;
    // The player signals the end of the play, the driver a key or a hang-up, closing the stop flag; the wait
    // also ends when the maximum talk time runs out, for IsOnline to hang up.
    while (!stopFlag && pcPlayer && !pcPlayer->IsFinished()) {
        IsOnline();
        bool keyed = false;
        WaitLine(TalkTimeLeftMs(), [&] {
            if (!pcPlayer || pcPlayer->IsFinished()) return true;
            return keyed = breakFlag && KeysLen() > 0;
        });
        if (keyed && pcPlayer) {
            pcPlayer->Stop();
            WaitLine(200, [] { return false; }); // the key's tone dies away; a stop ends it at once
        }
    }
    IsOnline();
    return 0;
}

int TagKvCall::IsPcPlayEnd() {
    return !pcPlayer || pcPlayer->IsFinished() ? 1 : 0;
}

int TagKvCall::KeysLen() {
    if (playing && pcPlayer && pcPlayer->IsFinished() && !playFile.empty() && OpenPcPlayer(playFile.c_str()))
        pcPlayer->SetLoop(false);
    return 0;
}

int TagKvCall::StopPlay() {
    if (playing) {
        // Wraps rather than overflowing on a play of more than three days.
        playCounter = int32_t(uint32_t(playCounter) + TicksSince(playStartTick) * 8u);
        playing = 0;
    }
    pcPlayer.reset();
    return 0;
}

// ---- call control

int64_t TagKvCall::TalkTimeLeftMs() const {
    if (callState != kCallConnected || maxTalkTime < 1) return WakeEvent::kForever;
    int64_t left = (int64_t(connectTime) + maxTalkTime + 1 - CalendarNow()) * 1000;
    return left > 0 ? left : 0;
}

int TagKvCall::IsOnline() {
    int32_t state = callState;
    if (state != prevState) {
        if (state == kCallConnected) connectTime = CalendarNow();
        prevState = state;
    } else if (state == kCallConnected && maxTalkTime >= 1 && CalendarNow() - connectTime > maxTalkTime) {
        WriteLogF("Hangup On MaxTalkTime(%d).", int(maxTalkTime));
        Hangup();
        prevState = callState;
    }
    return callState == kCallConnected ? 1 : 0;
}

int TagKvCall::OutCall(const char*, int32_t, int32_t) {
    MarkConnected();
    return 0;
}

int TagKvCall::WaitRing(int32_t) {
    MarkConnected();
    return 0;
}

int TagKvCall::IsRings(int32_t) {
    callState = kCallRinging;
    return 1;
}

int TagKvCall::IsRinging(std::string& caller, std::string& called) {
    int r = IsRings(2);
    if (r != 0) {
        GetCallerId(caller);
        GetCalleeId(called);
    }
    return r;
}

int TagKvCall::CheckDial() {
    MarkConnected();
    return 1;
}

int TagKvCall::Hangup() {
    // After the disconnect handler has run, another hang-up changes nothing:
    // a released state would send the program back to that handler.
    if (callState == kCallClosed) return 0;
    SetCallState(kCallReleased); // a wait of the line, on another thread's hang-up, sees it at once
    return 0;
}

int TagKvCall::GetHookState() {
    if (lineKind == kLineVirtual) return 1;
    return callState == kCallConnected ? 1 : 0;
}

int TagKvCall::SetCharge(int32_t) {
    return 1;
}
int TagKvCall::Answer(int32_t flag) {
    return flag;
}

// ---- stored settings

void TagKvCall::SetCallerId(const char* number) {
    callerIdToSend = number ? number : "";
}

void TagKvCall::SetSubAddr(const char* first, const char* second) {
    subAddr1 = first ? first : "";
    subAddr2 = second ? second : "";
}

void TagKvCall::SetFirstCalleeId(const char* number, int32_t attribute) {
    firstCalleeToSend = number ? number : "";
    firstCalleeAttr = attribute;
}

void TagKvCall::OpenLine() {
    lineClosed = 0;
}
void TagKvCall::CloseLine() {
    lineClosed = 1;
}
void TagKvCall::SetKeyTime(int32_t seconds) {
    keyTime = seconds;
}
void TagKvCall::SetNobkringAns(int32_t flag) {
    nobkringAns = flag ? 1 : 0;
}
int TagKvCall::GetNobkringAns() {
    return nobkringAns;
}

void TagKvCall::SetVolume(int32_t value, int32_t kind) {
    if (kind == 1)
        level[1] = value;
    else if (kind == 2)
        level[2] = value;
    else
        level[0] = value;
}

int TagKvCall::SetBreak(int32_t flag) {
    breakOnKey = flag ? 1 : 0;
    return 0;
}

int TagKvCall::SetSigPara(int32_t kind, int32_t value) {
    if (kind != 1 && kind != 2) return -1;
    sigPara[kind - 1] = value;
    return 0;
}

// ---- out values the base answers empty

int TagKvCall::GetCallerId(std::string& out) {
    out.clear();
    return 0;
}

int TagKvCall::GetCalleeId(std::string& out) {
    out.clear();
    return 0;
}

int TagKvCall::GetFirstCalleeId(std::string& out) {
    out.clear();
    return 0;
}

int TagKvCall::SipGetPeerMsg(std::string& first, std::string& second, int32_t) {
    first.clear();
    second.clear();
    return 0;
}

void TagKvCall::GetFaxResource(int32_t& total, int32_t& busy) {
    total = 0;
    busy = 0;
}

int TagKvCall::RecvFskMsg(int32_t& type, std::string& text, int32_t) {
    type = 0;
    text.clear();
    return 0;
}

int TagKvCall::RecConfRoom(int32_t, int32_t, const char*, int32_t& handle) {
    handle = 0;
    return -1;
}

int TagKvCall::PlayConfRoom(int32_t, int32_t, const char*, int32_t& handle) {
    handle = 0;
    return -1;
}

int TagKvCall::UnlinkMedia() {
    linkedCall = nullptr;
    return 0;
}

void TagKvCall::DropMediaPeer() {
    EndRtp();
    linkedCall = nullptr;
}

// ---- what a line kind does without: 0, 1 or -1 as its result

void TagKvCall::ClearKeys() {}
int TagKvCall::SetLineParam(int32_t) {
    return 0;
}
int TagKvCall::PlayMemory(const uint8_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int TagKvCall::Record(const char*, int32_t, int32_t) {
    return 0;
}
int TagKvCall::SpyRec(const char*, int32_t) {
    return 0;
}
int TagKvCall::GetKeys(std::string&, int32_t, int32_t, char) {
    return 0;
}
int TagKvCall::SetKeys(const char*) {
    return 0;
}
int TagKvCall::Reserved28() {
    return 0;
}
int TagKvCall::Reserved29() {
    return 0;
}
void TagKvCall::SetFaxLocalId(const char*) {}
int TagKvCall::SendFax(const char*) {
    return 0;
}
int TagKvCall::RecvFax(const char*) {
    return 0;
}
void TagKvCall::Reserved37() {}
int TagKvCall::TxtSpeakToFile(const char*, const char*, int32_t, int32_t) {
    return 0;
}
void TagKvCall::SetBusyPara(int32_t, int32_t, int32_t) {}
void TagKvCall::SetRingbackPara(int32_t, int32_t, int32_t) {}
void TagKvCall::SetSignalFreqPara(int32_t, int32_t, int32_t) {}
void TagKvCall::EnableLineSpeaker(int32_t) {}
int TagKvCall::LinkTo(int32_t, int32_t) {
    return 0;
}
int TagKvCall::UnlinkTo(int32_t, int32_t) {
    return 0;
}
int TagKvCall::UnlinkAll() {
    return 0;
}
int TagKvCall::ListenTo(int32_t, int32_t) {
    return 0;
}
int TagKvCall::GetLinkList(std::vector<int32_t>&, std::vector<int32_t>&, std::vector<int32_t>&) {
    return 0;
}
int TagKvCall::Dial(const char*) {
    return 0;
}
int TagKvCall::ImSend(const char*, const char*, const char*, int32_t) {
    return 0;
}
int TagKvCall::ImTest() {
    return 0;
}
int TagKvCall::ImRead(std::string&, std::string&, std::string&, std::string&) {
    return 0;
}
int TagKvCall::ImRecv(std::string&, int32_t&) {
    return 0;
}
int TagKvCall::ImMsgGetField(int32_t, const char*, const char*, std::string&) {
    return 0;
}
int TagKvCall::ImMakeAns(int32_t, int32_t, const char*, const char*, const char*, const char*) {
    return 0;
}
int TagKvCall::ImMsgFree(int32_t) {
    return 0;
}
int TagKvCall::ImMakeReq(const std::array<const char*, 8>&, std::string&) {
    return 0;
}
int TagKvCall::ImFileSend(const char*, std::string&, int32_t&, std::string&, int32_t&, std::string&) {
    return 0;
}
int TagKvCall::ImFileRecv(int32_t, const char*, int32_t, int32_t&, std::string&, std::string&, std::string&, int32_t&,
                          std::string&) {
    return 0;
}
int TagKvCall::ImFileCheck(int32_t, int32_t&, int32_t&) {
    return 0;
}
int TagKvCall::ImFileEnd(int32_t) {
    return 0;
}
int TagKvCall::ImFileProcAnswer(const char*) {
    return 0;
}
int TagKvCall::MakeRing(const char*) {
    return 0;
}
int TagKvCall::TransferTo(const char*) {
    return 0;
}
int TagKvCall::LinkMedia(TagKvCall*) {
    return 0;
}
int TagKvCall::StartRtp() {
    return 0;
}
int TagKvCall::EndRtp() {
    return 0;
}
int TagKvCall::GetCallType() {
    return 0;
}
int TagKvCall::SendFskMsg(int32_t, const char*, int32_t) {
    return 0;
}
int TagKvCall::SipGetDestAddr(const char*, std::string&) {
    return -1;
}
int TagKvCall::SipGetAccAddr(const char*, const char*, std::string&, int32_t&) {
    return -1;
}
int TagKvCall::SipSetDialRoute(const char*, const char*) {
    return 0;
}
int TagKvCall::SipGetRtpCount(int32_t&, int32_t&) {
    return 0;
}
int TagKvCall::SipOnGetAccPwd(SipAccPwdFn) {
    return 0;
}
int TagKvCall::SipOnGetAccPwdIp(SipAccPwdIpFn) {
    return 0;
}
int TagKvCall::SipOnRegisterNotify(SipRegisterNotifyFn) {
    return 0;
}
int TagKvCall::CreateConfRoom(int32_t&, int32_t&) {
    return -1;
}
int TagKvCall::JoinConfRoom(int32_t, int32_t, int32_t) {
    return -1;
}
int TagKvCall::ExitConfRoom(int32_t, int32_t) {
    return -1;
}
int TagKvCall::DeleteConfRoom(int32_t, int32_t) {
    return -1;
}
int TagKvCall::StopRecConfRoom(int32_t, int32_t, int32_t) {
    return -1;
}
int TagKvCall::SipRecCh(int32_t, const char*, int32_t&) {
    return -1;
}
int TagKvCall::StopSipRecCh(int32_t) {
    return -1;
}
int TagKvCall::IsPlayConfRoomEnd(int32_t, int32_t, int32_t) {
    return -1;
}
int TagKvCall::StopPlayConfRoom(int32_t, int32_t, int32_t) {
    return -1;
}
bool TagKvCall::WaitUntil(const std::function<bool()>& done, int64_t ms) {
    const uint32_t start = GetTickCount();
    for (;;) {
        int64_t left = TalkTimeLeftMs(), rest = WakeEvent::kForever;
        if (ms >= 0) {
            rest = std::max<int64_t>(0, ms - int64_t(TicksSince(start)));
            if (left < 0 || rest < left) left = rest;
        }
        if (WaitLine(left, done)) return true;
        if (stopFlag || left == WakeEvent::kForever || (ms >= 0 && int64_t(TicksSince(start)) >= ms)) return false;
        // The talk time ran out: IsOnline hangs up, and done() sees the call gone. A call that stays up anyway
        // ends the wait rather than spinning.
        IsOnline();
        if (TalkTimeLeftMs() == 0) return done();
    }
}
int TagKvCall::SipProxyRecv(std::string&, std::string&, int32_t&, std::string&) {
    return 0;
}
int TagKvCall::SipProxyGetField(int32_t, const char*, const char*, std::string&) {
    return 0;
}
int TagKvCall::SipProxyAddField(int32_t, const char*, const char*, int32_t) {
    return 0;
}
int TagKvCall::SipProxyRemoveField(int32_t, const char*) {
    return 0;
}
int TagKvCall::SipProxySend(int32_t, const char*) {
    return 0;
}
int TagKvCall::SipProxySendEx(int32_t, const char*, int32_t) {
    return 0;
}
int TagKvCall::SipProxyDirAns(int32_t, int32_t, const char*) {
    return 0;
}
int TagKvCall::SipProxySendKeepAlives(const char*, const char*) {
    return 0;
}
int TagKvCall::SipUnregisterSpecUser(const char*) {
    return 0;
}
int TagKvCall::SipSetRtpAddr(const char*, int32_t, const char*) {
    return 0;
}
int TagKvCall::SetDialExText(int32_t, const char*) {
    return 0;
}
int TagKvCall::SipGetAccStat(const char*) {
    return 0;
}
int TagKvCall::IsMediaOk() {
    return 1;
}
int TagKvCall::GetChState() {
    return 0;
}

} // namespace zz
