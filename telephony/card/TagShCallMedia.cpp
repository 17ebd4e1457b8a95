// The card line's media bridge to the media library, and its side of the conference rooms: a card conference
// group (kind 0) or a media-library session (kind 1).
#include "platform/Clock.h"
#include "platform/TagWriteLog.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/CardMedia.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace zz {

namespace {

constexpr int32_t kBlock = 320;
constexpr uint32_t kBlocksSettleMs = 100; // a callback still running ends before the channel goes
std::atomic<CardMedia*> g_media{nullptr};

// Results of the media library are signed 8-bit values, 0 for success.
int R(int32_t v) {
    return int8_t(v);
}

int RecordMemBlock(int32_t ch, int32_t event, uint8_t* block, int32_t count, void* data) {
    auto* c = static_cast<TagShCall*>(data);
    if (event != kBlockRecorded || count < 200) {
        WriteRunLog("RecordMem End.");
        return 0;
    }
    if (CardMedia* m = GetCardMedia())
        m->ms_push_data(c->mediaChannel, block, std::min(count + 1, kBlock)); // the block holds 320 bytes
    c->drive->Lib().SsmRecordMemBlock(ch, kVocFormat, block, kBlock, RecordMemBlock, c);
    return 1;
}

int PlayMemBlock(int32_t ch, int32_t event, uint8_t* block, int32_t offset, void* data) {
    auto* c = static_cast<TagShCall*>(data);
    if (event != kBlockPlayed || offset < 191) {
        WriteRunLogF("PlayMem End: nEndReason=%d, dwStopOffset=%d", event, offset);
        return 0;
    }
    int32_t n = kBlock;
    CardMedia* m = GetCardMedia();
    if (!m || R(m->ms_get_data(c->mediaChannel, block, n)) != 0 || n < kBlock) std::memset(block, 0xD5, kBlock);
    c->drive->Lib().SsmPlayMemBlock(ch, kVocFormat, block, kBlock, PlayMemBlock, c);
    return 1;
}

} // namespace

void SetCardMedia(CardMedia* media) {
    g_media = media;
}
CardMedia* GetCardMedia() {
    return g_media.load();
}

// Starts the bridge and has the other call join (or listen to) its channel. When the other call refuses, the
// bridge ends and the line keeps no pointer to it: the refusal is the result.
int TagShCall::BridgeTo(TagKvCall* other, bool listen) {
    linkedCall = other;
    int r = StartRtp();
    if (!other) return r;
    int joined = listen ? other->ListenTo(lineNo, 0) : other->LinkTo(lineNo, 0);
    if (joined == 0) return r;
    WriteLogF("the media link to line %d failed: %d", other->lineNo, joined);
    EndRtp();
    linkedCall = nullptr;
    return joined;
}

int TagShCall::LinkMedia(TagKvCall* other) {
    return BridgeTo(other, false);
}

int TagShCall::ListenMedia(TagKvCall* other) {
    return BridgeTo(other, true);
}

void TagShCall::DropMediaPeer() {
    TagKvCall* other = linkedCall;
    const int32_t peer = other ? other->lineNo : -1;
    TagKvCall::DropMediaPeer();
    // The links made through the bridge went with the peer's session; a line that owns a conference group
    // keeps its group's members.
    std::lock_guard<std::recursive_mutex> g(drive->ConfLock());
    if (confGroup < 0)
        confList.clear();
    else
        std::erase_if(confList, [&](const Member& m) { return m.ch == peer; });
}

int TagShCall::UnlinkMedia() {
    if (TagKvCall* other = linkedCall) other->UnlinkTo(lineNo, 0);
    StopPlay();
    EndRtp();
    linkedCall = nullptr;
    return 0;
}

int TagShCall::StartRtp() {
    if (mediaChannel) EndRtp();
    muteCount = 0;
    int32_t handle = 0;
    if (CardMedia* m = GetCardMedia()) {
        m->ms_external_channel_create(handle);
        m->ms_external_channel_start(handle, 8);
    }
    mediaChannel = handle;
    int32_t r = Lib().SsmSetRecMixer(channel, 0, 0);
    WriteLogF("SsmSetRecMixer() : %d", r);
    Lib().SsmSetBreakOnKey(channel, 0);
    StartMemBlocks();
    return r;
}

int TagShCall::EndRtp() {
    StopMemBlocks();
    if (int32_t h = mediaChannel) {
        if (CardMedia* m = GetCardMedia()) {
            m->ms_channel_stop(h);
            m->ms_channel_destory(h);
        }
        mediaChannel = 0;
    }
    return 0;
}

int TagShCall::StartMemBlocks() {
    if (!mediaChannel) return -1;
    for (auto& b : recBlock)
        WriteLogF("SsmRecordMemBlock(lcnt=%d, len=%d) : ret=%d", channel, kBlock,
                  Lib().SsmRecordMemBlock(channel, kVocFormat, b, kBlock, RecordMemBlock, this));
    for (auto& b : playBlock) {
        std::memset(b, 0xD5, kBlock);
        WriteLogF("SsmPlayMemBlock(lcnt=%d, len=%d) : ret=%d", channel, kBlock,
                  Lib().SsmPlayMemBlock(channel, kVocFormat, b, kBlock, PlayMemBlock, this));
    }
    return 0;
}

int TagShCall::StopMemBlocks() {
    if (!mediaChannel) return -1;
    Lib().SsmStopPlayMemBlock(channel);
    Lib().SsmStopRecordMemBlock(channel);
    SleepMs(kBlocksSettleMs);
    return 0;
}

// ---- Conference rooms

int TagShCall::CreateConfRoom(int32_t& kind, int32_t& session) {
    if (CardCfg().makeSipConf) {
        kind = 1;
        int32_t s = 0;
        CardMedia* m = GetCardMedia();
        int r = m ? R(m->ms_session_create(s)) : -1;
        if (r == 0 && s != 0) {
            session = s;
            return 1;
        }
        WriteLogF("CreateConfRoom Err: ms_session_create(sess=%d): %d", s, r);
        return -2;
    }
    kind = 0;
    int32_t group = Lib().SsmCreateConfGroup(-1, -1, -1, -1);
    session = group < 0 ? 0 : group;
    return group;
}

int TagShCall::JoinConfRoom(int32_t session, int32_t kind, int32_t listen) {
    if (kind == 0) return Lib().SsmJoinConfGroup(session, channel, listen ? 2 : 0, MixerGain(), 0, 0);
    StartRtp();
    CardMedia* m = GetCardMedia();
    if (!m) return -1;
    return R(listen ? m->ms_session_listen(session, mediaChannel) : m->ms_session_add(session, mediaChannel));
}

int TagShCall::ExitConfRoom(int32_t session, int32_t kind) {
    if (kind == 0) return Lib().SsmExitConfGroup(channel, 0);
    CardMedia* m = GetCardMedia();
    int r = m ? R(m->ms_session_remove(session, mediaChannel)) : -1;
    EndRtp();
    return r;
}

int TagShCall::DeleteConfRoom(int32_t session, int32_t kind) {
    if (kind == 0) return Lib().SsmFreeConfGroup(session);
    CardMedia* m = GetCardMedia();
    return m ? R(m->ms_session_destory(session)) : -1;
}

int TagShCall::RecConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle) {
    handle = 0;
    if (kind == 0) {
        // The group is recorded on this line's channel; the handle names that channel, so the room knows a
        // recording runs and whoever closes the room stops it there.
        int r = SpyRec(file, 3600);
        if (r >= 0) handle = channel + 1;
        return r;
    }
    CardMedia* m = GetCardMedia();
    int32_t h = 0;
    if (!m || R(m->ms_recording_create(h, file)) != 0 || h == 0) return -1;
    handle = h;
    return R(m->ms_recording_start(h, 2, session));
}

int TagShCall::StopRecConfRoom(int32_t, int32_t kind, int32_t handle) {
    if (kind == 0) return Lib().SsmStopRecord(handle > 0 ? handle - 1 : channel);
    CardMedia* m = GetCardMedia();
    if (!handle || !m) return -1;
    m->ms_recording_stop(handle);
    return R(m->ms_recording_destory(handle));
}

int TagShCall::SipRecCh(int32_t media, const char* file, int32_t& handle) {
    CardMedia* m = GetCardMedia();
    int32_t h = 0;
    int r = m ? R(m->ms_recording_create(h, file)) : -1;
    handle = h;
    WriteLogF("SipRecCh(%s) : ret=%d, recHd=%d", file ? file : "", r, h);
    if (r != 0 || h == 0) return -1;
    r = R(m->ms_recording_start(h, 1, media));
    WriteLogF("SipRecCh(mCh=%d, recHd=%d, %s) : %d", media, h, file ? file : "", r);
    return r;
}

int TagShCall::StopSipRecCh(int32_t handle) {
    CardMedia* m = GetCardMedia();
    if (!handle || !m) return -1;
    WriteLogF("StopSipRecCh::ms_recording_stop(recHd=%d)=%d", handle, R(m->ms_recording_stop(handle)));
    int r = R(m->ms_recording_destory(handle));
    WriteLogF("StopSipRecCh:ms_recording_destory(recHd=%d)=%d", handle, r);
    return r;
}

int TagShCall::PlayConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle) {
    handle = 0;
    if (kind == 0) {
        // The group hears the play of this line's channel; the handle only has to say that a play started.
        int32_t r = Lib().SsmPlayFile(channel, file, kVocFormat, 0, -1);
        if (r >= 0) handle = channel + 1;
        return r;
    }
    CardMedia* m = GetCardMedia();
    int32_t h = 0;
    if (!m || R(m->ms_playing_create(h, file, &wake)) != 0 || h == 0) return -1;
    handle = h;
    return R(m->ms_playing_start(h, 2, session));
}

int TagShCall::IsPlayConfRoomEnd(int32_t, int32_t kind, int32_t handle) {
    if (kind == 0) return Lib().SsmCheckPlay(channel);
    CardMedia* m = GetCardMedia();
    if (!handle || !m) return -1;
    int32_t ended = 0;
    m->ms_playing_is_end(handle, ended);
    return ended;
}

int TagShCall::StopPlayConfRoom(int32_t, int32_t kind, int32_t handle) {
    if (kind == 0) return Lib().SsmStopPlay(channel);
    CardMedia* m = GetCardMedia();
    if (!handle || !m) return -1;
    m->ms_playing_stop(handle);
    return R(m->ms_playing_destory(handle));
}

} // namespace zz
