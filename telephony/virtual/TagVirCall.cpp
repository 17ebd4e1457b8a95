#include "telephony/virtual/TagVirCall.h"

#include "media/TagWaveRecord.h"
#include "platform/Clock.h"
#include "telephony/LineKeys.h"
#include "telephony/TagTelDrive.h"
#include "telephony/virtual/VirMedia.h"

#include <memory>

namespace zz {

TagVirCall::TagVirCall(int32_t, int32_t line, TagKvCard* driver) {
    lineNo = line;
    lineKind = kLineVirtual;
    card = driver;
}

TagVirCall::~TagVirCall() {
    StopPlay();
    EndRtp();
}

int TagVirCall::Hangup() {
    // The call's play, link and room end with it, as on the other line kinds: the next call hears none of them.
    if (callState != kCallClosed) {
        StopPlay();
        UnlinkAll();
        ExitNameConf();
    }
    return TagKvCall::Hangup();
}

// ---- keys: the line's Keys column

void TagVirCall::ClearKeys() {
    SetLineKeys(lineNo, "");
}

int TagVirCall::KeysLen() {
    TagKvCall::KeysLen();
    return int(GetLineKeys(lineNo).size());
}

// ---- recording from the sound card

int TagVirCall::Record(const char* file, int32_t seconds, int32_t breakFlag) {
    auto rec = std::make_unique<TagWaveRecord>(file ? file : "", kWaveMapper);
    if (rec->status < 0) return -2;
    keyCount[0] = 0;
    rec->SetWake(&wake);
    rec->Start();
    const int64_t limit = int64_t(seconds) * 1000;
    const bool inCall = callState == kCallConnected;
    bool keyed = false;
    // The recorder wakes the line when it ends by itself, typed keys, a hang-up and a stop wake it too.
    bool ended = WaitLine(limit > 0 ? limit : WakeEvent::kForever, [&] {
        return rec->IsFinished() || (keyed = breakFlag && KeysLen() > 0) || (inCall && callState != kCallConnected);
    });
    if (!stopFlag && !rec->IsFinished()) {
        WriteLog(ended && keyed ? "Press key..." : "Rec timeout...");
        rec->Stop();
    }
    rec->Close();
    return 0;
}

// ---- links: to SIP lines only, through the bridge

int TagVirCall::LinkTo(int32_t line, int32_t) {
    if (line < 0 || line == lineNo) return -1;
    TagTelDrive* drive = GetTelDrive();
    uint8_t kind = kDriveNone;
    TagKvCall* other = drive ? drive->GetCall(line, kind) : nullptr;
    if (other && kind == kDriveSip) return LinkMedia(other);
    if (other)
        WriteLogF("GetCall(destLine=%d) type=%d", line, int(kind));
    else
        WriteLogF("GetCall(destLine=%d) is NULL", line);
    return -200;
}

int TagVirCall::LinkMedia(TagKvCall* other) {
    if (!other) return -1;
    // Restarting the bridge would take the channel from under the peer that holds it now: that peer goes first.
    if (linkedCall) UnlinkMedia();
    linkedCall = other;
    int r = StartRtp();
    if (r == 0) {
        int joined = other->LinkTo(lineNo, 0);
        if (joined != 0) r = joined;
    }
    if (r != 0) {
        EndRtp();
        linkedCall = nullptr;
    }
    return r;
}

int TagVirCall::UnlinkTo(int32_t line, int32_t) {
    if (line < 0) return -1;
    TagKvCall* other = linkedCall;
    if (!other || other->lineNo != line) return -2;
    return UnlinkMedia();
}

int TagVirCall::UnlinkMedia() {
    TagKvCall* other = linkedCall;
    if (!other) return -1;
    other->UnlinkTo(lineNo, 0);
    StopPlay();
    EndRtp();
    linkedCall = nullptr;
    return 0;
}

int TagVirCall::UnlinkAll() {
    UnlinkMedia();
    return 0;
}

int TagVirCall::StartRtp() {
    int r = bridge_.Start(GetVirMedia());
    mediaChannel = bridge_.Channel();
    return r;
}

int TagVirCall::EndRtp() {
    bridge_.Stop();
    mediaChannel = 0;
    return 0;
}

} // namespace zz
