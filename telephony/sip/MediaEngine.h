#pragma once
// The media engine of the SIP lines: one thread that every 20 ms takes the RTP packets of every channel, runs
// the conference sessions (each talking member hears the others, mix-minus), plays files, writes recordings and
// sends one G.711 packet per channel. DTMF comes in as RFC 4733 events, or in-band when the peer negotiated
// none, and goes out the same way. The line threads reach it under one lock; it wakes a line when its play ends,
// a key arrives or its recording reaches its limit.
#include "telephony/sip/SipLibrary.h"

#include <sys/epoll.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct telev;
struct dtmf_dec;

namespace zz {

class WakeEvent;
class VoiceRecorder;
struct VoicePcm;

class MediaEngine final : public SipMedia {
public:
    static constexpr int kFrame = 160; // samples of 20 ms at 8000 per second
    static constexpr uint32_t kSilentSteps = 3000; // 60 s without a packet from the peer: the peer is gone
    using Frame = std::array<int16_t, kFrame>;

    MediaEngine();
    ~MediaEngine() override;

    int ms_init() override;
    int ms_exit() override;
    int ms_channel_create(int& ch, WakeEvent* wake) override;
    int ms_channel_start_ex(int ch, int type, int localPort, const char* peerAddr, int peerPort, int evpt) override;
    int ms_channel_stop(int ch) override;
    int ms_channel_destory(int ch) override;
    int ms_channel_reset(int ch) override;
    int ms_channel_is_silent(int ch) override;
    int ms_channel_set_held(int ch, int held) override;
    int ms_recv_send_count(int ch, int32_t& received, int32_t& sent) override;
    int ms_external_channel_create(int& ch) override;
    int ms_external_channel_start(int ch, int type) override;
    int ms_push_data(int ch, const uint8_t* data, int length) override;
    int ms_get_data(int ch, uint8_t* data, int length) override;
    int ms_playing_create(int& h, const char* file, WakeEvent* wake) override;
    int ms_playing_start(int h, int kind, int target) override;
    int ms_playing_is_end(int h) override;
    int ms_playing_stop(int h) override;
    int ms_playing_destory(int h) override;
    int ms_recording_create(int& h, const char* file, WakeEvent* wake) override;
    int ms_recording_start(int h, int kind, int target) override;
    int ms_recording_set_limit(int h, int32_t samples) override;
    int32_t ms_recorded_length(int h) override;
    int ms_recording_stop(int h) override;
    int ms_recording_destory(int h) override;
    int ms_forget_wake(WakeEvent* wake) override;
    int ms_dtmf_get_str(int ch, std::string& digits, int maxLen) override;
    int ms_dtmf_dial(int ch, const char* digits, int length) override;
    int ms_session_create(int& session) override;
    int ms_session_add(int session, int ch) override;
    int ms_session_listen(int session, int ch) override;
    int ms_session_remove(int session, int ch) override;
    int ms_session_destory(int session) override;

    // Runs one 20 ms step at once (tests drive the engine without its thread).
    void TickForTest();

private:
    struct Channel;
    struct Play;
    struct Recording;
    struct Session;

    // Receive buffers of one thread.
    struct Scratch {
        std::array<std::array<uint8_t, 1500>, 16> packets;
    };
    enum : int { kInput, kOutput };
    static constexpr size_t kParallelFrom = 128; // channels from which the steps run on several threads

    void MediaThread();
    void Tick();
    void InputPhase(Channel& c, Scratch& scratch);
    void MixSession(Session& s);
    void OutputPhase(Channel& c);
    void RunPhase(int phase);
    void RunSlice(int phase, size_t slice, size_t slices, Scratch& scratch);
    void WorkerThread(size_t slice, uint64_t seen);
    void Receive(Channel& c, Scratch& scratch);
    void TakeRtp(Channel& c, const uint8_t* p, size_t n);
    void Digit(Channel& c, char d);
    void NextPlayFrame(Play& p, Frame& out, bool mix);
    void Output(Channel& c, Frame& out);
    void SendRtp(Channel& c, const uint8_t* payload, size_t n, int pt, uint32_t ts, bool marker);
    void Write(Recording& r, const Frame& f);
    void Detach(Play& p);
    void Detach(Recording& r);
    void LeaveSession(Channel& c);
    Channel* FindChannel(int id);
    Play* FindPlay(int id);
    Recording* FindRecording(int id);
    Session* FindSession(int id);
    int NextId();

    std::mutex m_;
    std::map<int, std::unique_ptr<Channel>> channels_;
    std::vector<Channel*> order_; // the channels in a vector the workers share out; rebuilt when dirty
    std::vector<epoll_event> ready_; // room for every channel, so one epoll_wait reports every socket with packets
    bool orderDirty_ = true;
    int epollFd_ = -1;
    Scratch scratch_;
    // The step's phases handed to the workers (the media thread takes the first slice).
    std::vector<std::thread> workers_;
    std::mutex phaseLock_;
    std::condition_variable phaseCv_, doneCv_;
    uint64_t phaseGen_ = 0;
    int phase_ = kInput;
    int pending_ = 0;
    bool stopWorkers_ = false;
    std::map<int, std::unique_ptr<Play>> plays_;
    std::map<int, std::unique_ptr<Recording>> recordings_;
    std::map<int, std::unique_ptr<Session>> sessions_;
    int nextId_ = 0;
    bool running_ = false;
    std::thread thread_;
    int timerFd_ = -1;
    int stopFd_ = -1;
};

} // namespace zz
