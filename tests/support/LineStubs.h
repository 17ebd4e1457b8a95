#pragma once
// Pieces the line tests share: a media library that carries nothing, and the Sleep builtin run on a call.
#include <atomic>

#include "builtins/BuiltinTable.h"
#include "engine/TagTelBasic.h"
#include "telephony/card/CardMedia.h"

namespace zz::test {

// Every call succeeds and does nothing, except that a conference session cannot be made; channels are numbered
// from 1. Tests override what they watch.
struct QuietCardMedia : CardMedia {
    std::atomic<int32_t> next{0};
    int32_t ms_external_channel_create(int32_t& h) override { return h = ++next, 0; }
    int32_t ms_external_channel_start(int32_t, int32_t) override { return 0; }
    int32_t ms_channel_stop(int32_t) override { return 0; }
    int32_t ms_channel_destory(int32_t) override { return 0; }
    int32_t ms_push_data(int32_t, const uint8_t*, int32_t) override { return 0; }
    int32_t ms_get_data(int32_t, uint8_t*, int32_t& n) override { return n = 0, 0; }
    int32_t ms_session_create(int32_t& s) override { return s = 0, -1; }
    int32_t ms_session_add(int32_t, int32_t) override { return 0; }
    int32_t ms_session_listen(int32_t, int32_t) override { return 0; }
    int32_t ms_session_remove(int32_t, int32_t) override { return 0; }
    int32_t ms_session_destory(int32_t) override { return 0; }
    int32_t ms_recording_create(int32_t& h, const char*) override { return h = 0, 0; }
    int32_t ms_recording_start(int32_t, int32_t, int32_t) override { return 0; }
    int32_t ms_recording_stop(int32_t) override { return 0; }
    int32_t ms_recording_destory(int32_t) override { return 0; }
    int32_t ms_playing_create(int32_t& h, const char*, WakeEvent*) override { return h = 0, 0; }
    int32_t ms_playing_start(int32_t, int32_t, int32_t) override { return 0; }
    int32_t ms_playing_is_end(int32_t, int32_t& e) override { return e = 0, 0; }
    int32_t ms_playing_stop(int32_t) override { return 0; }
    int32_t ms_playing_destory(int32_t) override { return 0; }
    int32_t ms_forget_wake(WakeEvent*) override { return 0; }
};

// Runs the Sleep builtin of seconds on the call, as a script's statement would.
inline void RunSleep(TagKvCall& call, int32_t seconds) {
    RegisterBuiltins();
    TagTelBasic unit;
    unit.pKvCall = &call;
    TagVar arg;
    arg.SetInt(seconds);
    TagVar* args[] = {&arg};
    MakeBuiltinOper(148, args, 1, &unit, nullptr)->Run();
}

} // namespace zz::test
