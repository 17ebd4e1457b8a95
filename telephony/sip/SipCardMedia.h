#pragma once
// The media engine of the SIP lines as the card lines use it: their sound goes in and out of external channels
// of the engine, so that a card line (or a virtual line's sound card) linked to a SIP line, or in a conference room made of sessions, hears and is
// heard. The SIP driver installs it once its media engine runs.
#include "telephony/card/CardMedia.h"
#include "telephony/sip/SipLibrary.h"
#include "telephony/virtual/VirMedia.h"

namespace zz {

class SipCardMedia final : public CardMedia {
public:
    explicit SipCardMedia(SipMedia& media) : m_(media) {}

    int32_t ms_external_channel_create(int32_t& handle) override {
        int h = 0;
        int r = m_.ms_external_channel_create(h);
        handle = h;
        return r;
    }
    int32_t ms_external_channel_start(int32_t handle, int32_t param) override {
        return m_.ms_external_channel_start(handle, param);
    }
    int32_t ms_channel_stop(int32_t handle) override { return m_.ms_channel_stop(handle); }
    int32_t ms_channel_destory(int32_t handle) override { return m_.ms_channel_destory(handle); }
    int32_t ms_push_data(int32_t handle, const uint8_t* data, int32_t count) override {
        return m_.ms_push_data(handle, data, count);
    }
    // The engine answers with the bytes it gave (0 while none are ready); the card wants 0 and the count.
    int32_t ms_get_data(int32_t handle, uint8_t* buf, int32_t& count) override {
        int given = m_.ms_get_data(handle, buf, count);
        count = given > 0 ? given : 0;
        return given < 0 ? given : 0;
    }
    int32_t ms_session_create(int32_t& session) override {
        int s = 0;
        int r = m_.ms_session_create(s);
        session = s;
        return r;
    }
    int32_t ms_session_add(int32_t session, int32_t channel) override { return m_.ms_session_add(session, channel); }
    int32_t ms_session_listen(int32_t session, int32_t channel) override {
        return m_.ms_session_listen(session, channel);
    }
    int32_t ms_session_remove(int32_t session, int32_t channel) override {
        return m_.ms_session_remove(session, channel);
    }
    int32_t ms_session_destory(int32_t session) override { return m_.ms_session_destory(session); }
    int32_t ms_recording_create(int32_t& handle, const char* file) override {
        int h = 0;
        int r = m_.ms_recording_create(h, file, nullptr);
        handle = h;
        return r;
    }
    int32_t ms_recording_start(int32_t handle, int32_t what, int32_t target) override {
        return m_.ms_recording_start(handle, what, target);
    }
    int32_t ms_recording_stop(int32_t handle) override { return m_.ms_recording_stop(handle); }
    int32_t ms_recording_destory(int32_t handle) override { return m_.ms_recording_destory(handle); }
    int32_t ms_playing_create(int32_t& handle, const char* file, WakeEvent* wake) override {
        int h = 0;
        int r = m_.ms_playing_create(h, file, wake);
        handle = h;
        return r;
    }
    int32_t ms_playing_start(int32_t handle, int32_t what, int32_t session) override {
        return m_.ms_playing_start(handle, what, session);
    }
    int32_t ms_playing_is_end(int32_t handle, int32_t& ended) override {
        int r = m_.ms_playing_is_end(handle);
        ended = r > 0 ? 1 : 0;
        return r < 0 ? r : 0;
    }
    int32_t ms_playing_stop(int32_t handle) override { return m_.ms_playing_stop(handle); }
    int32_t ms_playing_destory(int32_t handle) override { return m_.ms_playing_destory(handle); }
    int32_t ms_forget_wake(WakeEvent* wake) override { return m_.ms_forget_wake(wake); }

private:
    SipMedia& m_;
};

// The same engine as the sound-card bridge of a virtual line sees it.
class SipVirMedia final : public VirMedia {
public:
    explicit SipVirMedia(SipMedia& media) : m_(media) {}

    int ms_external_channel_create(int& ch) override { return m_.ms_external_channel_create(ch); }
    int ms_external_channel_start(int ch, int type) override { return m_.ms_external_channel_start(ch, type); }
    int ms_push_data(int ch, const uint8_t* data, int length) override { return m_.ms_push_data(ch, data, length); }
    int ms_get_data(int ch, uint8_t* data, int length) override { return m_.ms_get_data(ch, data, length); }
    int ms_channel_stop(int ch) override { return m_.ms_channel_stop(ch); }
    int ms_channel_destory(int ch) override { return m_.ms_channel_destory(ch); }

private:
    SipMedia& m_;
};

} // namespace zz
