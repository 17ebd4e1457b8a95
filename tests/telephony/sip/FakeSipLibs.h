#pragma once
// The SIP, media and MSRP libraries as a test scripts them: call slots the test moves through their states (the
// line's wake event is signalled as the real stack does), media handles with results the test chooses, and a
// journal of the calls the line made.
#include "platform/WakeEvent.h"
#include "telephony/sip/SipLibrary.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zz::test {

class FakeSipLibs : public SipUa, public SipMedia, public SipMsrp {
public:
    struct Slot {
        int type = 0, state = 0, oa = 0, newFlag = 0, ansCode = 0;
        std::string peerSdp, peerAddr, myAddr, dtmfInfo;
        bool listen = false;
        WakeEvent* wake = nullptr;
    };
    struct Channel {
        WakeEvent* wake = nullptr;
        std::string digits;
        int session = 0;
    };

    SipLibs Libs() { return {this, this, this}; }

    // ---- what the test does
    void Offer(int callid, const std::string& caller = "1001", const std::string& called = "2000") {
        Change(callid, [&](Slot& s) {
            s.type = kSipTypeIn;
            s.state = kSipStOffered;
            s.oa = kSipOaWantAnswer;
            s.peerSdp = "v=0";
            s.peerAddr = caller;
            s.myAddr = called;
        });
    }
    void SetState(int callid, int type, int state, int ansCode = 0) {
        Change(callid, [&](Slot& s) {
            s.type = type;
            s.state = state;
            if (ansCode) s.ansCode = ansCode;
        });
    }
    // An answer from the peer of an outgoing call: the line starts its media on the next poll.
    void PeerAnswered(int callid) {
        Change(callid, [&](Slot& s) {
            s.peerSdp = "v=0";
            s.oa = kSipOaDone;
            s.newFlag = 1;
        });
    }
    void Digits(int channel, const std::string& d) {
        WakeEvent* w;
        {
            std::lock_guard<std::mutex> g(m);
            channels[channel].digits += d;
            w = channels[channel].wake;
        }
        if (w) w->Signal();
    }
    void EndPlay(int h) {
        WakeEvent* w;
        {
            std::lock_guard<std::mutex> g(m);
            playEnded[h] = true;
            w = playWake[h];
        }
        if (w) w->Signal();
    }
    bool Called(const std::string& prefix) {
        std::lock_guard<std::mutex> g(m);
        for (const std::string& j : journal)
            if (j.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::vector<std::string> Journal() {
        std::lock_guard<std::mutex> g(m);
        return journal;
    }
    void ClearJournal() {
        std::lock_guard<std::mutex> g(m);
        journal.clear();
    }
    Slot Get(int callid) {
        std::lock_guard<std::mutex> g(m);
        return slots[callid];
    }

    // ---- results the test chooses
    int startResult = 0, mediaInitResult = 0, callOutResult = 0, playCreateResult = 0, playStartResult = 0;
    int recStartResult = 0, sessionCreateResult = 0, accountState = kSipRegOk;
    bool playEndsAtOnce = true;              // a play has ended when the line first looks
    int provisionalState = kSipStProceeding; // the state the next provisional answer leaves (once)
    bool acceptEstablishes = true;           // false: the caller's ACK does not come until the test sets the state
    std::atomic<int> playEndReads{0};        // looks at a play's end (a line that spins looks without bound)
    std::atomic<uint16_t> peerPort{40000};   // the peer's RTP port in its SDP
    int32_t recordedAtOnce = 0;              // samples a recording holds when the line first looks
    bool started = false;
    struct {
        std::string addr;
        uint16_t udp = 0, tcp = 0;
    } listen;                         // as started
    std::atomic<int> ansCodeReads{0}; // the line took an answer code (a hand-shake for the tests)

    // ---- SipUa
    int sip_set_work_type(int) override { return 0; }
    int sip_set_app_firewall(int) override { return 0; }
    int sip_set_sdp_media_list(const char*) override { return 0; }
    int sip_start_ex(const char* addr, uint16_t udp, uint16_t tcp) override {
        started = startResult == 0;
        listen = {addr, udp, tcp};
        return startResult;
    }
    int sip_get_listen(std::string& addr, uint16_t& udp, uint16_t& tcp) override {
        if (!started) return -1;
        addr = listen.addr, udp = listen.udp, tcp = listen.tcp;
        return 0;
    }
    int set_default_outdial_proxy(const char*, uint16_t, int) override { return 0; }
    int sip_set_max_reg_users(int) override { return 0; }
    int sip_exit() override { return 0; }
    int sip_account_register(const SipAccountArgs& a) override { return Note("sip_account_register", a.id); }
    int sip_account_set(const SipAccountArgs& a) override { return Note("sip_account_set", a.id); }
    int sip_account_get_state(int) override { return accountState; }
    int sip_account_unregister(int id) override { return Note("sip_account_unregister", id); }
    int sip_unregister_user(const char*) override { return 0; }
    void sip_set_call_waker(int callid, WakeEvent* w) override {
        std::lock_guard<std::mutex> g(m);
        slots[callid].wake = w;
    }
    void sip_set_call_listen(int callid, bool on) override {
        std::lock_guard<std::mutex> g(m);
        slots[callid].listen = on;
    }
    int get_call_type(int c) override { return Read(c).type; }
    int get_callin_state(int c) override { return Read(c).type == kSipTypeIn ? Read(c).state : 0; }
    int get_callout_state(int c) override { return Read(c).type == kSipTypeOut ? Read(c).state : 0; }
    int get_call_oa_state_ex(int c, int& newFlag) override {
        Slot s = Read(c);
        newFlag = s.newFlag;
        return s.oa;
    }
    int clear_call_oa_newflag(int c) override {
        std::lock_guard<std::mutex> g(m);
        slots[c].newFlag = 0;
        return 0;
    }
    int sip_get_ans_code(int c) override {
        ++ansCodeReads;
        return Read(c).ansCode;
    }
    int sip_call_out(int c, const char*, const char* dest, const char*, int) override {
        Note("sip_call_out(" + std::string(dest) + ")");
        if (!started || callOutResult < 0) return started ? callOutResult : -1;
        SetOut(c);
        return 0;
    }
    int sip_call_out_by_account(int c, int acc, const char* dest, const char*, const char*) override {
        Note("sip_call_out_by_account(" + std::to_string(acc) + "," + dest + ")");
        if (!started) return -1;
        SetOut(c);
        return 0;
    }
    int sip_call_out_b2b_forward(int c, int org, const char*, const char*, const char*, int) override {
        Note("sip_call_out_b2b_forward(" + std::to_string(org) + ")");
        SetOut(c);
        return 0;
    }
    int sip_call_provisional(int c, int code) override {
        Note("sip_call_provisional(" + std::to_string(code) + ")");
        Change(c, [&](Slot& s) {
            if (s.state == kSipStOffered) s.state = std::exchange(provisionalState, kSipStProceeding);
        });
        return started ? 0 : -1;
    }
    int sip_call_accept(int c) override {
        Note("sip_call_accept");
        if (acceptEstablishes) Change(c, [](Slot& s) { s.state = kSipStEstablished; });
        return 0;
    }
    int sip_call_reject(int c, int code) override {
        Note("sip_call_reject(" + std::to_string(code) + ")");
        Change(c, [](Slot& s) { s.state = kSipStReleasing; });
        return 0;
    }
    int sip_call_bye(int c) override {
        Note("sip_call_bye");
        Change(c, [](Slot& s) { s.state = kSipStByed; });
        return 0;
    }
    int sip_call_cancel(int c) override {
        Note("sip_call_cancel");
        Change(c, [](Slot& s) { s.state = kSipStCancelled; });
        return 0;
    }
    int sip_call_end(int c) override {
        Note("sip_call_end");
        Change(c, [](Slot& s) {
            WakeEvent* w = s.wake;
            s = Slot{};
            s.wake = w;
        });
        return 0;
    }
    int sip_get_init_sdp_offer(const char* addr, int port, std::string& sdp) override {
        Note("offer(" + std::string(addr) + ":" + std::to_string(port) + ")");
        sdp = "v=0";
        return 0;
    }
    int sip_get_init_sdp_offer_ex(const char* addr, int port, int, std::string& sdp) override {
        return sip_get_init_sdp_offer(addr, port, sdp);
    }
    int sip_get_sdp_answer(const char*, int, const char*, std::string& sdp) override {
        sdp = "v=0";
        return 0;
    }
    int sip_call_get_peer_sdp(int c, std::string& sdp) override {
        sdp = Read(c).peerSdp;
        return 0;
    }
    int sip_call_provider_offer_sdp(int c, const char*) override {
        Change(c, [](Slot& s) { s.oa = kSipOaOfferSent; });
        return 0;
    }
    int sip_call_provider_answer_sdp(int c, const char*) override {
        Change(c, [](Slot& s) {
            s.oa = kSipOaDone;
            s.newFlag = 1;
        });
        return 0;
    }
    int sip_call_get_peermedia_ex(int c, int& type, std::string& addr, uint16_t& port, int& evpt) override {
        if (Read(c).peerSdp.empty()) return -1;
        type = 8;
        addr = "127.0.0.1";
        port = peerPort;
        evpt = 101;
        return 0;
    }
    int sip_call_get_peeraddr(int c, std::string& out) override {
        out = Read(c).peerAddr;
        return 0;
    }
    int sip_call_get_myaddr(int c, std::string& out) override {
        out = Read(c).myAddr;
        return 0;
    }
    int sip_get_dtmf_info(int c, std::string& d) override {
        std::lock_guard<std::mutex> g(m);
        d.swap(slots[c].dtmfInfo);
        return int(d.size());
    }
    int sip_get_peer_msg(int, std::string&, std::string&, int) override { return 0; }
    int sip_get_dest_addr(const char*, std::string&) override { return -1; }
    int sip_get_acc_addr(const char*, const char*, std::string&, int32_t&) override { return -1; }
    int sip_set_out_route(int, const char*, const char*) override { return 0; }
    int sip_set_dial_ex_text(int, const char*) override { return 0; }
    int sip_im_send(int, const char*, const char* dest, const char*, const char*, int32_t) override {
        Note("sip_im_send(" + std::string(dest) + ")");
        return started ? 0 : -1;
    }
    int sip_im_send_by_account(int, int, const char*, const char*, const char*, const char*, int32_t) override {
        return 0;
    }
    int sip_im_test() override { return 0; }
    int sip_im_read(std::string&, std::string&, std::string&, std::string&) override { return 0; }
    int sip_im_recv(std::string&, int32_t&) override { return 0; }
    int sip_im_get_field(int32_t, const char*, const char*, std::string&) override { return -1; }
    int sip_im_make_ans_ex(int32_t, int32_t, const char*, const char*, const char*, const char*) override { return -1; }
    int sip_im_free(int32_t) override { return -1; }
    int sip_im_make_req(const std::string (&)[8], std::string&, int, int) override { return -1; }
    int sip_proxy_recv(std::string&, std::string&, int32_t&, std::string&) override { return 0; }
    int sip_proxy_get_field(int32_t, const char*, const char*, std::string&) override { return -1; }
    int sip_proxy_add_field(int32_t, const char*, const char*, int32_t) override { return -1; }
    int sip_proxy_remove_field(int32_t, const char*) override { return -1; }
    int sip_proxy_send(int32_t, const char*) override { return -1; }
    int sip_proxy_send_ex(int32_t, const char*, int32_t) override { return -1; }
    int sip_proxy_dir_ans(int32_t, int32_t, const char*) override { return -1; }
    int sp_send_keep_alives(const char*, const char*, int32_t) override { return -1; }
    int sip_on_get_acc_pwd(SipAccPwdFn) override { return 0; }
    int sip_on_get_acc_pwd_ip(SipAccPwdIpFn) override { return 0; }
    int sip_on_register_notify(SipRegisterNotifyFn) override { return 0; }

    // ---- SipMedia
    int ms_init() override { return mediaInitResult; }
    int ms_exit() override { return 0; }
    int ms_channel_create(int& ch, WakeEvent* w) override {
        std::lock_guard<std::mutex> g(m);
        ch = ++next;
        channels[ch].wake = w;
        return 0;
    }
    int ms_channel_start_ex(int ch, int, int localPort, const char*, int, int) override {
        return Note("ms_channel_start_ex(" + std::to_string(ch) + "," + std::to_string(localPort) + ")");
    }
    int ms_channel_stop(int) override { return 0; }
    int ms_channel_destory(int ch) override {
        std::lock_guard<std::mutex> g(m);
        channels.erase(ch);
        return 0;
    }
    int ms_channel_reset(int) override { return 0; }
    int ms_channel_is_silent(int ch) override {
        std::lock_guard<std::mutex> g(m);
        return channels.count(ch) ? silentChannels.count(ch) ? 1 : 0 : -1;
    }
    int ms_channel_set_held(int, int) override { return 0; }
    // The peer of the channel has sent nothing for a minute: the engine marks it and wakes the line.
    void Silence(int ch) {
        WakeEvent* w;
        {
            std::lock_guard<std::mutex> g(m);
            silentChannels.insert(ch);
            w = channels[ch].wake;
        }
        if (w) w->Signal();
    }
    int ms_recv_send_count(int, int32_t& r, int32_t& s) override {
        r = s = 0;
        return 0;
    }
    int ms_external_channel_create(int&) override { return -1; }
    int ms_external_channel_start(int, int) override { return -1; }
    int ms_push_data(int, const uint8_t*, int) override { return -1; }
    int ms_get_data(int, uint8_t*, int) override { return -1; }
    int ms_playing_create(int& h, const char* file, WakeEvent* w) override {
        Note("ms_playing_create(" + std::string(file) + ")");
        if (playCreateResult) return playCreateResult;
        std::lock_guard<std::mutex> g(m);
        h = ++next;
        playWake[h] = w;
        playEnded[h] = playEndsAtOnce;
        return 0;
    }
    int ms_playing_start(int h, int kind, int target) override {
        Note("ms_playing_start(" + std::to_string(h) + "," + std::to_string(kind) + "," + std::to_string(target) + ")");
        return playStartResult;
    }
    int ms_playing_is_end(int h) override {
        ++playEndReads;
        std::lock_guard<std::mutex> g(m);
        auto it = playEnded.find(h);
        return it == playEnded.end() ? -1 : it->second ? 1 : 0;
    }
    int ms_playing_stop(int) override { return 0; }
    int ms_playing_destory(int h) override {
        std::lock_guard<std::mutex> g(m);
        playEnded.erase(h);
        playWake.erase(h);
        return 0;
    }
    int ms_forget_wake(WakeEvent* w) override {
        std::lock_guard<std::mutex> g(m);
        std::erase_if(playWake, [&](const auto& e) { return e.second == w; });
        return 0;
    }
    int ms_recording_create(int& h, const char*, WakeEvent*) override {
        std::lock_guard<std::mutex> g(m);
        h = ++next;
        recorded[h] = recordedAtOnce;
        return 0;
    }
    int ms_recording_start(int h, int kind, int) override {
        return Note("ms_recording_start(" + std::to_string(h) + "," + std::to_string(kind) + ")", recStartResult);
    }
    int ms_recording_set_limit(int, int32_t samples) override {
        return Note("ms_recording_set_limit(" + std::to_string(samples) + ")");
    }
    int32_t ms_recorded_length(int h) override {
        std::lock_guard<std::mutex> g(m);
        return recorded[h];
    }
    int ms_recording_stop(int) override { return 0; }
    int ms_recording_destory(int h) override {
        Note("ms_recording_destory");
        std::lock_guard<std::mutex> g(m);
        recorded.erase(h);
        return 0;
    }
    int ms_dtmf_get_str(int ch, std::string& d, int maxLen) override {
        std::lock_guard<std::mutex> g(m);
        auto it = channels.find(ch);
        if (it == channels.end()) return -1;
        d = it->second.digits.substr(0, size_t(maxLen - 1));
        it->second.digits.erase(0, d.size());
        return 0;
    }
    int ms_dtmf_dial(int, const char*, int) override { return 0; }
    int ms_session_create(int& s) override {
        Note("ms_session_create");
        if (sessionCreateResult) return sessionCreateResult;
        std::lock_guard<std::mutex> g(m);
        s = ++next;
        sessions[s] = {};
        return 0;
    }
    int ms_session_add(int s, int ch) override {
        std::lock_guard<std::mutex> g(m);
        if (!sessions.count(s)) return -1;
        sessions[s].push_back(ch);
        return 0;
    }
    int ms_session_listen(int s, int ch) override { return ms_session_add(s, ch); }
    int ms_session_remove(int s, int ch) override {
        std::lock_guard<std::mutex> g(m);
        std::erase(sessions[s], ch);
        return 0;
    }
    int ms_session_destory(int s) override {
        Note("ms_session_destory");
        std::lock_guard<std::mutex> g(m);
        sessions.erase(s);
        return 0;
    }

    // ---- SipMsrp
    int TqrMsrpInit(int, const char*, int, const char*, int) override { return 0; }
    int TqrMsrpClose() override { return 0; }
    int TqrMsrpFileSend(const char*, std::string&, std::string&, int32_t&, std::string&) override { return -1; }
    int TqrMsrpFileRecv(int32_t, const char*, int32_t, std::string&, std::string&, std::string&, int32_t&,
                        std::string&) override {
        return -1;
    }
    int TqrMsrpFileRecvStart(int, int) override { return -1; }
    int TqrMsrpFileCheck(int, int32_t&, int32_t&) override { return -1; }
    int TqrMsrpFileEnd(int) override { return -1; }
    int TqrMsrpProcAnswer(const char*) override { return -1; }

    std::mutex m;
    std::map<int, Slot> slots;
    std::map<int, Channel> channels;
    std::set<int> silentChannels;
    std::map<int, bool> playEnded;
    std::map<int, WakeEvent*> playWake;
    std::map<int, int32_t> recorded;
    std::map<int, std::vector<int>> sessions;
    std::vector<std::string> journal;
    int next = 0;

private:
    int Note(const std::string& what, int result = 0) {
        std::lock_guard<std::mutex> g(m);
        journal.push_back(what);
        return result;
    }
    int Note(const char* what, int id) { return Note(std::string(what) + "(" + std::to_string(id) + ")"); }
    Slot Read(int c) {
        std::lock_guard<std::mutex> g(m);
        return slots[c];
    }
    template <class F> void Change(int c, F f) {
        WakeEvent* w;
        {
            std::lock_guard<std::mutex> g(m);
            f(slots[c]);
            w = slots[c].wake;
        }
        if (w) w->Signal();
    }
    void SetOut(int c) {
        Change(c, [](Slot& s) {
            s.type = kSipTypeOut;
            s.state = kSipStIdle;
            s.oa = kSipOaOfferSent;
        });
    }
};

} // namespace zz::test
