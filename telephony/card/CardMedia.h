#pragma once
// The media library as a card line uses it: external media channels fed with the card's sound, sessions that
// mix them, and recordings and plays of files into channels and sessions. The SIP driver installs the
// implementation; without one every call fails, and card lines keep to their card conference groups.
// Results are the library's: 0 is success.
#include <cstdint>

namespace zz {

class WakeEvent;

class CardMedia {
public:
    virtual ~CardMedia() = default;
    virtual int32_t ms_external_channel_create(int32_t& handle) = 0;
    virtual int32_t ms_external_channel_start(int32_t handle, int32_t param) = 0;
    virtual int32_t ms_channel_stop(int32_t handle) = 0;
    virtual int32_t ms_channel_destory(int32_t handle) = 0;
    virtual int32_t ms_push_data(int32_t handle, const uint8_t* data, int32_t count) = 0;
    // count: in the bytes asked for, out the bytes delivered.
    virtual int32_t ms_get_data(int32_t handle, uint8_t* buf, int32_t& count) = 0;
    virtual int32_t ms_session_create(int32_t& session) = 0;
    virtual int32_t ms_session_add(int32_t session, int32_t channel) = 0;
    virtual int32_t ms_session_listen(int32_t session, int32_t channel) = 0;
    virtual int32_t ms_session_remove(int32_t session, int32_t channel) = 0;
    virtual int32_t ms_session_destory(int32_t session) = 0;
    virtual int32_t ms_recording_create(int32_t& handle, const char* file) = 0;
    virtual int32_t ms_recording_start(int32_t handle, int32_t what, int32_t target) = 0; // 1 channel, 2 session
    virtual int32_t ms_recording_stop(int32_t handle) = 0;
    virtual int32_t ms_recording_destory(int32_t handle) = 0;
    // wake (may be null) is signalled when the play ends.
    virtual int32_t ms_playing_create(int32_t& handle, const char* file, WakeEvent* wake) = 0;
    virtual int32_t ms_playing_start(int32_t handle, int32_t what, int32_t session) = 0;
    virtual int32_t ms_playing_is_end(int32_t handle, int32_t& ended) = 0;
    virtual int32_t ms_playing_stop(int32_t handle) = 0;
    virtual int32_t ms_playing_destory(int32_t handle) = 0;
    // Nothing signals this wake event any more (its line is going).
    virtual int32_t ms_forget_wake(WakeEvent* wake) = 0;
};

// The process's media library for card lines; null when none is installed.
void SetCardMedia(CardMedia* media);
CardMedia* GetCardMedia();

} // namespace zz
