// The media side of a SIP line: the offer/answer step, the RTP channel, play, record and keys on it, links to
// other lines and the session operations of named conference rooms.
#include "telephony/sip/TagSipCall.h"

#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "telephony/TagTelDrive.h"
#include "telephony/sip/SipSdp.h"

#include <algorithm>
#include <cstring>

namespace zz {

namespace {
constexpr int kDtmfRoom = 64;

bool IsKeyChar(char c) {
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}
} // namespace

// ---- offer/answer and the channel

void TagSipCall::OfferAnswerStep() {
    int newFlag = 0;
    int st = int8_t(ua_->get_call_oa_state_ex(mCallid, newFlag));
    if (st == lastOaState_ && !newFlag) return;
    lastOaState_ = uint8_t(st);
    WriteLogF("get_call_oa_state(mCallid=%d) : st=%d, newFlag=%d", mCallid, st, newFlag);
    if (st == kSipOaWantOffer) {
        std::string offer;
        if (ua_->sip_get_init_sdp_offer(localMediaAddr_.c_str(), mRtpPort, offer) != 0) return;
        if (ua_->sip_call_provider_offer_sdp(mCallid, offer.c_str()) == 0) offerProvided_ = 1;
    } else if (st == kSipOaWantAnswer) {
        std::string peer, answer;
        ua_->sip_call_get_peer_sdp(mCallid, peer);
        ua_->sip_get_sdp_answer(localMediaAddr_.c_str(), mRtpPort, peer.c_str(), answer);
        if (!answer.empty() && answer.size() < kSdpRoom) {
            int r = ua_->sip_call_provider_answer_sdp(mCallid, answer.c_str());
            WriteLogF("sip_call_provider_answer_sdp(callid=%d): %d", mCallid, r);
            offerProvided_ = 1;
        } else {
            WriteLogF("sip_get_sdp_answer(callid=%d) err: len=%d", mCallid, int(answer.size()));
        }
    } else if (st == kSipOaDone && newFlag) {
        ua_->clear_call_oa_newflag(mCallid);
        offerProvided_ = 0;
        StartNewChannel();
    }
}

bool TagSipCall::StartNewChannel() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    int type = -1, evpt = 101;
    std::string addr;
    uint16_t port = 0;
    if (ua_->sip_call_get_peermedia_ex(mCallid, type, addr, port, evpt) == -1) {
        WriteLog("sip_call_get_peermedia()=-1, err");
        return false;
    }
    WriteLogF("sip_call_get_peermedia: type=%d, ip=%s, port=%d", type, addr.c_str(), port);
    if (type == -1 || port == 0) {
        WriteLog("mediatype==-1 || mediaPort==0, err");
        return false;
    }
    std::string sdp;
    ua_->sip_call_get_peer_sdp(mCallid, sdp);
    const bool held = SdpParse(sdp).Held();
    if (held) WriteLog("the peer holds the call");
    // An old-style hold names no address to send to: the channel stays as it is.
    if ((held && mediaChannel && addr == "0.0.0.0") || !remote_.SetIfChanged(addr, port, type)) {
        WriteLog("peerSdp 相同.");
        if (mediaChannel) media_->ms_channel_set_held(mediaChannel, held ? 1 : 0);
        return true;
    }
    mediaOk_ = 0;
    WriteLog("startNewChannel()...");
    StopPlay();
    WriteLogF("session=%d...", int(mSession));
    if (mSession) UnlinkAll();
    if (int ch = mediaChannel) {
        // The room's session holds the old channel: the line leaves the room with it.
        ExitNameConf();
        media_->ms_channel_stop(ch);
        media_->ms_channel_destory(ch);
        mediaChannel = 0;
    }
    int ch = 0;
    if (int8_t(media_->ms_channel_create(ch, &wake)) != 0) {
        WriteLog("ms_channel_create() err");
        remote_.Reset(); // a later offer of the same media tries again
        return false;
    }
    if (int8_t(media_->ms_channel_start_ex(ch, type, mRtpPort, addr.c_str(), port, evpt)) != 0) {
        WriteLog("ms_channel_start() err");
        media_->ms_channel_destory(ch);
        remote_.Reset();
        return false;
    }
    mediaChannel = ch;
    peerSilent_ = false;
    if (held) media_->ms_channel_set_held(ch, 1);
    WriteLogF("ms_channel_start(mChannel=%d, mediatype=%d, mRtpPort=%d, mediaIp=%s, mediaPort=%d): 0", ch, type,
              int(mRtpPort), addr.c_str(), port);
    mediaOk_ = 1;
    WriteLog("startNewChannel() Ok");
    if (WakeEvent* w = watcher_.load()) w->Signal();
    return true;
}

void TagSipCall::EndChannel() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    mediaOk_ = 0;
    peerSilent_ = false;
    WriteLog("endChannel()...");
    if (mhPlaying) {
        WriteLogF("ms_playing_stop(mhPlaying=%d): %d", mhPlaying, media_->ms_playing_stop(mhPlaying));
        WriteLogF("ms_playing_destory(mhPlaying=%d): %d", mhPlaying, media_->ms_playing_destory(mhPlaying));
        mhPlaying = 0;
    }
    if (mhRecording) {
        WriteLogF("ms_recording_stop(mhRecording=%d): %d", mhRecording, media_->ms_recording_stop(mhRecording));
        WriteLogF("ms_recording_destory(mhRecording=%d): %d", mhRecording, media_->ms_recording_destory(mhRecording));
        mhRecording = 0;
    }
    UnlinkAll();
    if (int ch = mediaChannel) {
        ExitNameConf(); // a caller who hangs up leaves the room, which closes with its last member
        int s = media_->ms_channel_stop(ch);
        WriteLog("ms_channel_destory()...");
        int d = media_->ms_channel_destory(ch);
        WriteLogF("ms_channel_stop(mChannel=%d): %d, ms_channel_destory(): %d", ch, s, d);
        mediaChannel = 0;
    }
    WriteLog("endChannel().");
}

// ---- keys

bool TagSipCall::DtmfPoll() {
    size_t before = keyBuf.size();
    auto append = [&](const std::string& digits) {
        for (char c : digits)
            if (keyBuf.size() < kKeyBufLen && IsKeyChar(c)) keyBuf += c;
    };
    std::string digits;
    if (ua_->sip_get_dtmf_info(mCallid, digits) > 0) append(digits);
    digits.clear();
    if (mediaChannel && media_->ms_dtmf_get_str(mediaChannel, digits, kDtmfRoom) == 0 && !digits.empty()) {
        WriteLogF("Keys Buf=%s", digits.c_str());
        append(digits);
    }
    if (keyBuf.size() == before) return false;
    keyCount[0] = int32_t(keyBuf.size());
    if (auto disp = CurrentLineDisplay().dispKeys) disp(lineNo, keyBuf.c_str());
    return true;
}

void TagSipCall::ClearKeys() {
    keyBuf.clear();
    keyCount[0] = keyCount[1] = 0;
    std::string drained;
    if (mediaChannel) media_->ms_dtmf_get_str(mediaChannel, drained, kDtmfRoom);
    if (auto disp = CurrentLineDisplay().dispKeys) disp(lineNo, "");
}

int TagSipCall::KeysLen() {
    DtmfPoll();
    IsOnline();
    return int(keyBuf.size());
}

int TagSipCall::GetKeys(std::string& keys, int32_t count, int32_t timeout, char endKey) {
    const char terminator = endKey ? '#' : 0;
    const bool starOrPoint = endKey == '*' || endKey == '.';
    auto ends = [&](char c) { return starOrPoint ? c == '*' || c == '.' : endKey && c == endKey; };
    const size_t most = count > 0 ? size_t(count) : 1;
    const uint32_t start = GetTickCount();
    uint32_t lastKey = start;
    size_t seen = keyBuf.size();
    for (;;) {
        // What the buffer gives: the keys up to an end key or the terminator, or up to the count.
        std::string got;
        size_t used = 0;
        bool complete = false;
        for (; used < keyBuf.size() && !complete; ++used) {
            char c = keyBuf[used];
            if (c == terminator) {
                complete = true;
            } else {
                got += c;
                complete = ends(c) || got.size() >= most;
            }
        }
        if (stopFlag) {
            keys = got;
            return int(got.size());
        }
        if (!IsOnline()) {
            keys.clear();
            return kKeysCallEnded;
        }
        if (complete) {
            keyBuf.erase(0, used);
            keyCount[0] = int32_t(keyBuf.size());
            keys = got;
            return int(got.size());
        }
        if (keyBuf.size() != seen) {
            seen = keyBuf.size();
            lastKey = GetTickCount();
        }
        const uint32_t now = GetTickCount();
        int64_t left = WakeEvent::kForever;
        auto limit = [&](int32_t seconds, uint32_t from) {
            if (seconds <= 0) return false;
            int64_t rest = int64_t(seconds) * 1000 - int64_t(TicksSince(from, now));
            if (rest <= 0) return true;
            if (left < 0 || rest < left) left = rest;
            return false;
        };
        if (limit(keyTime, lastKey) || limit(timeout, start)) {
            keys = keyBuf;
            ClearKeys();
            WriteLogF("GetKeys() timeout, keyTime=%d:%d; maxTime=%d:%d", keyTime, int(TicksSince(lastKey, now) / 1000),
                      timeout, int(TicksSince(start, now) / 1000));
            return -1;
        }
        int64_t talk = TalkLimitLeft();
        if (talk >= 0 && (left < 0 || talk < left)) left = talk;
        // An ended loop play wakes the wait only when IsOnline starts it again, on an established call: an
        // answered call whose ACK has not come would find it ended at every look and spin.
        WaitLine(left, [&] {
            return DtmfPoll() || SlotChanged() || (playing && lastState_ == kSipStEstablished && LoopPlayEnded());
        });
        DtmfPoll();
    }
}

int TagSipCall::SetKeys(const char* digits) {
    const char* d = digits ? digits : "";
    int r = int8_t(media_->ms_dtmf_dial(mediaChannel, d, int(std::strlen(d))));
    WriteLogF("SetKeys(%s) : %d", d, r);
    return r;
}

// ---- play

bool TagSipCall::LoopPlayEnded() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return mhPlaying && media_->ms_playing_is_end(mhPlaying) == 1;
}

int TagSipCall::StartPlayFile(const char* file) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mhPlaying) {
        media_->ms_playing_stop(mhPlaying);
        media_->ms_playing_destory(mhPlaying);
        mhPlaying = 0;
    }
    std::string path = ResolvePath(file ? file : "");
    int h = 0;
    int r = int8_t(media_->ms_playing_create(h, path.c_str(), &wake));
    WriteLogF("StartPlayFile(%s): ret=%d, mhPlaying=%d", path.c_str(), r, h);
    if (r == 0) {
        mhPlaying = h;
        if (!mSession) {
            r = int8_t(media_->ms_playing_start(h, kMediaOnChannel, mediaChannel));
            WriteLogF("ms_playing_start(hd=%d, mChannel=%d): %d", h, int(mediaChannel), r);
        } else {
            r = int8_t(media_->ms_playing_start(h, kMediaOnSession, mSession));
            WriteLogF("ms_playing_start(hd=%d, session=%d): %d", h, int(mSession), r);
        }
    }
    if (r != 0) {
        WriteLogF("StartPlayFile(%s) Error : ret=%d, mhPlaying=%d", path.c_str(), r, h);
        // A play that did not start leaves no handle behind.
        if (mhPlaying) media_->ms_playing_destory(mhPlaying);
        mhPlaying = 0;
        playing = 0;
    }
    return r;
}

void TagSipCall::PlayLocal(const char* file) {
    std::string name = file ? file : "";
    if (name.size() < 4 || !GbkEqualNoCase(name.substr(name.size() - 4), ".WAV")) return;
    std::string path = ResolvePath(name);
    if (FileExists(path)) OpenPcPlayer(path.c_str());
}

int TagSipCall::Play(const char* file, int32_t breakOnKey, int32_t onPc) {
    if (onPc) {
        PlayLocal(file);
        return -1;
    }
    if (breakOnKey && !keyBuf.empty()) {
        WriteLog("isInterruptable: keys.");
        return 1;
    }
    int r = StartPlayFile(file);
    if (r != 0) {
        WriteLogF("StartPlayFile(%s) Error : %d", file ? file : "", r);
        return r;
    }
    int result = 0;
    while (!stopFlag) {
        if (!IsOnline()) break;
        int end = 0;
        {
            std::lock_guard<std::recursive_mutex> g(lock_);
            // A play stopped under the wait (new media came) ends it as a vanished handle does: -1.
            if (!mhPlaying) {
                end = -1;
            } else if ((end = media_->ms_playing_is_end(mhPlaying)) != 0) {
                int d = media_->ms_playing_destory(mhPlaying);
                WriteLogF("ms_playing_destory(mhPlaying=%d)=%d", mhPlaying, d);
                mhPlaying = 0;
            }
        }
        if (end) {
            WriteLog("End Play");
            result = end;
            break;
        }
        DtmfPoll();
        if (breakOnKey && !keyBuf.empty()) {
            WriteLog("press");
            break;
        }
        WaitLine(TalkLimitLeft(), [&] {
            bool keys = DtmfPoll();
            return (breakOnKey && keys) || LoopPlayEnded() || SlotChanged();
        });
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mhPlaying) {
        media_->ms_playing_stop(mhPlaying);
        media_->ms_playing_destory(mhPlaying);
        mhPlaying = 0;
    }
    return result;
}

int TagSipCall::PlayMemory(const uint8_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

int TagSipCall::StartLoopPlay(const char* file, int32_t onPc) {
    if (onPc) {
        PlayLocal(file);
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    int r = StartPlayFile(file);
    if (r == 0) {
        if (file != playFile.c_str()) playFile = file ? file : "";
        playing = 1;
        playStartTick = GetTickCount();
        playCounter = 0;
    }
    return r;
}

int TagSipCall::ReLoopPlay() {
    if (playing) return -1;
    if (playFile.empty()) return -2;
    if (StartPlayFile(playFile.c_str()) != 0) return -3;
    playStartTick = GetTickCount();
    playing = 1;
    return 0;
}

void TagSipCall::StopRecording(const char* how) {
    WriteLogF("%s: ms_recording_stop(mhRecording=%d)=%d", how, mhRecording, media_->ms_recording_stop(mhRecording));
    WriteLogF("%s: ms_recording_destory(mhRecording=%d)=%d", how, mhRecording,
              media_->ms_recording_destory(mhRecording));
    mhRecording = 0;
    recordLimit_ = 0;
}

int TagSipCall::StopPlay() {
    TagKvCall::StopPlay();
    driverValue2_ = 0;
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mhPlaying) {
        WriteLogF("ms_playing_stop(mhPlaying=%d)=%d", mhPlaying, media_->ms_playing_stop(mhPlaying));
        WriteLogF("ms_playing_destory(mhPlaying=%d)=%d", mhPlaying, media_->ms_playing_destory(mhPlaying));
        mhPlaying = 0;
    }
    if (mhRecording) {
        WriteLogF("ms_recording_stop(mhRecording=%d)=%d", mhRecording, media_->ms_recording_stop(mhRecording));
        WriteLogF("ms_recording_destory(mhRecording=%d)=%d", mhRecording, media_->ms_recording_destory(mhRecording));
        mhRecording = 0;
    }
    recordLimit_ = 0;
    playing = 0;
    return 0;
}

// ---- record

int TagSipCall::SpyRec(const char* file, int32_t seconds) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mhRecording) StopRecording("SpyRec");
    std::string path = MapPath(file ? file : "");
    int h = 0;
    int r = int8_t(media_->ms_recording_create(h, path.c_str(), &wake));
    recordLimit_ = 0;
    if (r != 0) {
        WriteLogF("Record(%s) Error : %d", path.c_str(), r);
        return -1;
    }
    mhRecording = h;
    if (!mSession) {
        if (!mediaOk_) {
            media_->ms_recording_destory(h);
            mhRecording = 0;
            WriteLog("!isModiaOk, rec err.");
            return -2;
        }
        r = int8_t(media_->ms_recording_start(h, kMediaOnChannel, mediaChannel));
        WriteLogF("Record(mChannel=%d, mhRecording=%d, %s) : %d", int(mediaChannel), h, path.c_str(), r);
    } else {
        r = int8_t(media_->ms_recording_start(h, kMediaOnSession, mSession));
        WriteLogF("Record(mSession=%d, mhRecording=%d, %s) : %d", int(mSession), h, path.c_str(), r);
    }
    if (r != 0) {
        // A recording that never started is no recording: no handle is left and the failure is the result.
        media_->ms_recording_destory(h);
        mhRecording = 0;
        return r < 0 ? r : -r;
    }
    recordLimit_ = seconds * 8000;
    media_->ms_recording_set_limit(h, recordLimit_);
    return r;
}

int TagSipCall::Record(const char* file, int32_t seconds, int32_t breakFlag) {
    int r = SpyRec(file, seconds);
    if (r != 0) return r;
    int result = 0;
    while (!stopFlag) {
        if (!IsOnline()) {
            result = -1;
            break;
        }
        DtmfPoll();
        if (breakFlag && !keyBuf.empty()) break;
        int32_t len = 0;
        {
            std::lock_guard<std::recursive_mutex> g(lock_);
            if (!mhRecording) {
                result = 1;
                break;
            }
            len = media_->ms_recorded_length(mhRecording);
        }
        if (len > recordLimit_) {
            result = len;
            break;
        }
        WaitLine(TalkLimitLeft(), [&] {
            bool keys = DtmfPoll();
            std::lock_guard<std::recursive_mutex> g(lock_);
            bool full = mhRecording && media_->ms_recorded_length(mhRecording) > recordLimit_;
            return (breakFlag && keys) || full || SlotChanged();
        });
    }
    bool open;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        open = mhRecording != 0;
        if (open) WriteLogF("Record End len=%d, maxLen=%d", media_->ms_recorded_length(mhRecording), recordLimit_);
    }
    if (open) {
        Pause(1000); // the last packets of the caller still land in the file
        std::lock_guard<std::recursive_mutex> g(lock_);
        if (mhRecording) StopRecording("Record");
    }
    return result;
}

// ---- links

int TagSipCall::AddTo(int32_t line, uint8_t listen) {
    WriteLogF("AddTo(%d, isListen=%d)", line, listen);
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        for (const TagSipLink& l : links_)
            if (l.line == line) {
                WriteLogF("Err: %d 已经在会议中: session: %d", line, int(mSession));
                return -2;
            }
    }
    if (!WaitMediaOk(this)) return -1;
    TagTelDrive* drive = GetTelDrive();
    uint8_t kind = kDriveNone;
    TagKvCall* other = drive ? drive->GetCall(line, kind) : nullptr;
    if (!other) {
        WriteLog("pcall==NULL");
        return -200;
    }
    bool bridged = false; // this link started the other line's bridge
    if (kind == kDriveSip) {
        if (!static_cast<TagSipCall*>(other)->WaitMediaOk(this)) return -2;
    } else {
        WriteLog("t==PHY_LINE_TYPE or VIR_LINE_TYPE");
        if (!other->mediaChannel) {
            other->linkedCall = this;
            other->StartRtp();
            bridged = true;
        }
    }
    if (line < 0 || line == lineNo) {
        WriteLog("destLine<0 || destLine==LineNo");
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    links_.push_back({line, listen, 1});
    // A link that fails leaves no record behind (and no session that only this line would be in, nor a bridge
    // of the other line that it started).
    auto undo = [&] {
        if (bridged) other->DropMediaPeer();
        links_.erase(std::remove_if(links_.begin(), links_.end(), [&](const TagSipLink& l) { return l.line == line; }),
                     links_.end());
        if (mSession && links_.size() < 2) {
            media_->ms_session_remove(mSession, mediaChannel);
            media_->ms_session_destory(mSession);
            mSession = 0;
            links_.clear();
        }
    };
    if (!mSession) {
        int s = 0;
        int r = int8_t(media_->ms_session_create(s));
        if (r != 0 || s == 0) {
            WriteLogF("Err: ms_session_create(sess=%d): %d", s, r);
            mSession = 0;
            undo();
            return -2;
        }
        mSession = s;
        r = int8_t(media_->ms_session_add(mSession, mediaChannel));
        WriteLogF("ms_session_add(session=%d, mChannel=%d): %d", int(mSession), int(mediaChannel), r);
        if (r < 0) {
            undo();
            return r;
        }
        links_.push_back({lineNo, 0, 1});
    }
    int dch = other->mediaChannel;
    int r = int8_t(listen ? media_->ms_session_listen(mSession, dch) : media_->ms_session_add(mSession, dch));
    WriteLogF("ms_session_add(session=%d, dCh=%d, isListen=%d): %d", int(mSession), dch, listen, r);
    if (r != 0) undo();
    return r;
}

int TagSipCall::LinkTo(int32_t line, int32_t) {
    return AddTo(line, 0);
}

int TagSipCall::ListenTo(int32_t line, int32_t) {
    return AddTo(line, 1);
}

int TagSipCall::UnlinkTo(int32_t line, int32_t) {
    if (!mSession) {
        WriteLog("mSession==0");
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = std::find_if(links_.begin(), links_.end(), [&](const TagSipLink& l) { return l.line == line; });
    if (line < 0 || line == lineNo || it == links_.end()) {
        WriteLogF("Err: %d 不在会议中", line);
        return -2;
    }
    links_.erase(it);
    StopPlay();
    WriteLogF("UnlinkTo(%d), session=%d", line, int(mSession));
    TagTelDrive* drive = GetTelDrive();
    uint8_t kind = kDriveNone;
    TagKvCall* other = drive ? drive->GetCall(line, kind) : nullptr;
    if (!other) return -200;
    int dch = other->mediaChannel;
    WriteLogF("ms_session_remove(session=%d, dCh=%d)", int(mSession), dch);
    media_->ms_session_remove(mSession, dch);
    if (links_.size() < 2) {
        WriteLogF("ms_session_remove(session=%d, mChannel=%d)", int(mSession), int(mediaChannel));
        media_->ms_session_remove(mSession, mediaChannel);
        WriteLogF("ms_session_destory(session=%d)", int(mSession));
        media_->ms_session_destory(mSession);
        mSession = 0;
        links_.clear();
    }
    if (kind != kDriveSip)
        other->DropMediaPeer();
    else
        other->linkedCall = nullptr;
    WriteLog("UnlinkTo().");
    return 0;
}

int TagSipCall::UnlinkAll() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mSession) {
        // Every peer goes, then this line's own channel and the session: unlinking by the first record would
        // stop at this line's own record and leave the session behind.
        std::vector<int32_t> peers;
        for (const TagSipLink& l : links_)
            if (l.line != lineNo) peers.push_back(l.line);
        for (int32_t line : peers)
            if (mSession) UnlinkTo(line, 0);
        if (mSession) {
            media_->ms_session_remove(mSession, mediaChannel);
            media_->ms_session_destory(mSession);
            mSession = 0;
        }
    }
    links_.clear();
    return 0;
}

void TagSipCall::ForgetLink(int32_t line) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = std::find_if(links_.begin(), links_.end(), [&](const TagSipLink& l) { return l.line == line; });
    if (line == lineNo || it == links_.end()) return;
    links_.erase(it);
    WriteLogF("ForgetLink(%d): the linked call ended", line);
    if (mSession && links_.size() < 2) {
        media_->ms_session_remove(mSession, mediaChannel);
        media_->ms_session_destory(mSession);
        mSession = 0;
        links_.clear();
    }
}

void TagSipCall::LeaveLinkers() {
    TagTelDrive* drive = GetTelDrive();
    if (!drive) return;
    // Called with no lock of this line held: each other line takes its own.
    for (int32_t n = 0; n < drive->LineCount(); ++n) {
        uint8_t kind = kDriveNone;
        TagTelLine* e = n == lineNo ? nullptr : drive->Line(n);
        TagKvCall* other = e ? drive->GetCall(n, kind) : nullptr;
        if (other && kind == kDriveSip) static_cast<TagSipCall*>(other)->ForgetLink(lineNo);
    }
}

int TagSipCall::GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen, std::vector<int32_t>& active) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    lines.clear();
    listen.clear();
    active.clear();
    for (const TagSipLink& l : links_) {
        lines.push_back(l.line);
        listen.push_back(l.listen);
        active.push_back(l.active);
    }
    return 0;
}

// ---- sessions of named conference rooms

int TagSipCall::CreateConfRoom(int32_t& kind, int32_t& session) {
    kind = 1;
    int s = 0;
    int r = int8_t(media_->ms_session_create(s));
    if (r != 0 || s == 0) {
        WriteLogF("CreateConfRoom Err: ms_session_create(sess=%d): %d", s, r);
        return -1;
    }
    session = s;
    return 1;
}

int TagSipCall::JoinConfRoom(int32_t session, int32_t kind, int32_t listen) {
    if (!kind) return -100;
    if (!WaitMediaOk(this)) return -200;
    return int8_t(listen ? media_->ms_session_listen(session, mediaChannel)
                         : media_->ms_session_add(session, mediaChannel));
}

int TagSipCall::ExitConfRoom(int32_t session, int32_t kind) {
    if (!kind) return -1;
    return int8_t(media_->ms_session_remove(session, mediaChannel));
}

int TagSipCall::DeleteConfRoom(int32_t session, int32_t kind) {
    if (!kind) return -1;
    return int8_t(media_->ms_session_destory(session));
}

int TagSipCall::RecConfRoom(int32_t session, int32_t, const char* file, int32_t& handle) {
    handle = 0;
    if (!session) return -1;
    std::string path = MapPath(file ? file : "");
    int h = 0;
    int r = int8_t(media_->ms_recording_create(h, path.c_str(), nullptr));
    if (r != 0) {
        WriteLogF("RecConfRoom(%s) Error : %d", path.c_str(), r);
        return -2;
    }
    handle = h;
    r = int8_t(media_->ms_recording_start(h, kMediaOnSession, session));
    WriteLogF("RecConfRoom(mSession=%d, mhRecording=%d, %s) : %d", session, h, path.c_str(), r);
    return r;
}

int TagSipCall::StopRecConfRoom(int32_t, int32_t, int32_t handle) {
    if (!handle) return -1;
    WriteLogF("StopRecConfRoom: ms_recording_stop(mhRecording=%d)=%d", handle, media_->ms_recording_stop(handle));
    WriteLogF("StopRecConfRoom: ms_recording_destory(mhRecording=%d)=%d", handle, media_->ms_recording_destory(handle));
    return 0;
}

int TagSipCall::SipRecCh(int32_t channel, const char* file, int32_t& handle) {
    std::string path = MapPath(file ? file : "");
    int h = 0;
    int r = int8_t(media_->ms_recording_create(h, path.c_str(), nullptr));
    WriteLogF("SipRecCh(%s) : ret=%d, recHd=%d", path.c_str(), r, h);
    if (r != 0) return -1;
    handle = h;
    r = int8_t(media_->ms_recording_start(h, kMediaOnChannel, channel));
    WriteLogF("SipRecCh(mCh=%d, recHd=%d, %s) : %d", channel, h, path.c_str(), r);
    return r;
}

int TagSipCall::StopSipRecCh(int32_t handle) {
    if (!handle) return -1;
    WriteLogF("StopSipRecCh::ms_recording_stop(recHd=%d)=%d", handle, media_->ms_recording_stop(handle));
    WriteLogF("StopSipRecCh:ms_recording_destory(recHd=%d)=%d", handle, media_->ms_recording_destory(handle));
    return 0;
}

int TagSipCall::PlayConfRoom(int32_t session, int32_t, const char* file, int32_t& handle) {
    handle = 0;
    if (!session) return -1;
    std::string path = ResolvePath(file ? file : "");
    int h = 0;
    // Its end wakes this line, which may wait for it; the play can outlive the call (a later wake is only
    // looked at and passed over), and the line's going takes its wake event out of the engine.
    int r = int8_t(media_->ms_playing_create(h, path.c_str(), &wake));
    if (r != 0) {
        WriteLogF("PlayConfRoom(%s) Error : %d", path.c_str(), r);
        return -2;
    }
    handle = h;
    r = int8_t(media_->ms_playing_start(h, kMediaOnSession, session));
    WriteLogF("PlayConfRoom(mSession=%d, mhPlaying=%d, %s) : %d", session, h, path.c_str(), r);
    return r;
}

int TagSipCall::IsPlayConfRoomEnd(int32_t, int32_t, int32_t handle) {
    if (!handle) return -1;
    return media_->ms_playing_is_end(handle);
}

int TagSipCall::StopPlayConfRoom(int32_t, int32_t, int32_t handle) {
    if (!handle) return -1;
    WriteLogF("StopPlayConfRoom: ms_playing_stop(playHd=%d)=%d", handle, media_->ms_playing_stop(handle));
    WriteLogF("StopPlayConfRoom: ms_playing_destory(playHd=%d)=%d", handle, media_->ms_playing_destory(handle));
    return 0;
}

} // namespace zz
