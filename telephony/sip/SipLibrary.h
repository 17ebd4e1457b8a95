#pragma once
// What the SIP lines call: the SIP user agent, the RTP media engine and the MSRP file transfer, as three
// interfaces used on the calling line's thread. The real ones run on threads of their own over libre and librem
// (SipStack, MediaEngine, MsrpEngine); tests put a fake in their place. Results are integers: 0 (or a count, a
// handle) on success, negative or non-zero on failure as each function says.
//
// Texts handed back are std::string, cut by the callee to the room the caller names (bytes, NUL included).
#include <cstdint>
#include <string>

namespace zz {

class WakeEvent;

// Call types of a call slot (get_call_type).
enum : int {
    kSipTypeNone = 0,
    kSipTypeOut = 1, // an outgoing INVITE or MESSAGE of the line
    kSipTypeIn = 2,  // an incoming INVITE given to the line
};

// Channel states of a call slot (get_callin_state, get_callout_state). The line acts on 1, 2, 4, 5 and 7 and
// takes 0, 3, 5, 6, 7, 8 and 9 as the end of a call.
enum : int {
    kSipStIdle = 0,        // no call; an outgoing INVITE that has heard nothing yet
    kSipStOffered = 1,     // incoming INVITE given to the line, no provisional answer sent yet
    kSipStProceeding = 2,  // incoming: a provisional answer went out, the call may be accepted;
                           // outgoing: a provisional answer came in (its code is the answer code)
    kSipStCancelled = 3,   // ended before it was established (the caller's CANCEL, or our own)
    kSipStEstablished = 4, // 200 and ACK exchanged
    kSipStRefused = 5,     // outgoing: a final answer of 300 to 699 (its code is the answer code)
    kSipStReleasing = 6,   // our reject went out and the slot waits to be ended
    kSipStByed = 7,        // ended by a BYE from either side
    kSipStFailed = 8,      // a transaction timed out or the transport failed
    kSipStClosed = 9,      // ended for any other reason (no ACK, a session the stack closed)
};

// Offer/answer states of a call slot (get_call_oa_state_ex).
enum : int {
    kSipOaNone = 0,
    kSipOaWantOffer = 1,  // an INVITE came without SDP: the stack needs our offer
    kSipOaOfferSent = 2,  // our offer is out, its answer awaited
    kSipOaWantAnswer = 3, // the peer offered: our answer is wanted
    kSipOaDone = 4,       // both sides known; the new-flag marks a negotiation the line has not seen
};

// Account registration states (sip_account_get_state).
enum : int { kSipRegPending = 0, kSipRegOk = 1, kSipRegFailed = 2 };

// Media targets of ms_playing_start and ms_recording_start.
enum : int { kMediaOnChannel = 1, kMediaOnSession = 2 };

// The eleven registration arguments of an account, in their order.
struct SipAccountArgs {
    int id = 0;
    std::string aor, registrar, outboundProxy, authUser, password, server, reserved, contact;
    int field7 = 0;
    int expires = 3600;
};

// Account callbacks the stack runs on a thread of its own (the registrar of proxy mode asks them).
using SipAccPwdFn = int (*)(const char* account, std::string& out1, std::string& out2);
using SipAccPwdIpFn = int (*)(const char* account, std::string& out1, std::string& out2, std::string& out3);
using SipRegisterNotifyFn = int (*)(const char* text1, const char* text2, int32_t n3, int32_t n4);

class SipUa {
public:
    virtual ~SipUa() = default;

    // ---- start and stop
    virtual int sip_set_work_type(int type) = 0;  // 1: proxy mode
    virtual int sip_set_app_firewall(int on) = 0; // 1: answer only peers that are accounts or registered users
    // The payload types to offer, "8,18,3,98" as configured; those the media engine has no codec for are left out.
    virtual int sip_set_sdp_media_list(const char* list) = 0;
    // Binds UDP and TCP (port 0: any free port); non-zero when the stack cannot start.
    virtual int sip_start_ex(const char* addr, uint16_t udpPort, uint16_t tcpPort) = 0;
    // Where the started stack listens, as bound (the ports the system chose for port 0); non-zero when it does not.
    virtual int sip_get_listen(std::string& addr, uint16_t& udpPort, uint16_t& tcpPort) = 0;
    virtual int set_default_outdial_proxy(const char* addr, uint16_t port, int tcp) = 0;
    virtual int sip_set_max_reg_users(int n) = 0;
    virtual int sip_exit() = 0;

    // ---- accounts
    virtual int sip_account_register(const SipAccountArgs& a) = 0; // REGISTER with digest credentials
    virtual int sip_account_set(const SipAccountArgs& a) = 0;      // known for calls, never registered
    virtual int sip_account_get_state(int id) = 0;                 // kSipReg*; -1 no such account
    virtual int sip_account_unregister(int id) = 0;
    virtual int sip_unregister_user(const char* user) = 0; // drops a binding of the registrar (proxy mode)

    // ---- call slots (callid 1..kSipMaxSlots): the line's wake event is signalled on every change
    virtual void sip_set_call_waker(int callid, WakeEvent* wake) = 0;
    // While set, an incoming INVITE may be given to the slot (the lowest free listening slot takes it).
    virtual void sip_set_call_listen(int callid, bool on) = 0;
    virtual int get_call_type(int callid) = 0;
    virtual int get_callin_state(int callid) = 0;
    virtual int get_callout_state(int callid) = 0;
    virtual int get_call_oa_state_ex(int callid, int& newFlag) = 0;
    virtual int clear_call_oa_newflag(int callid) = 0;
    virtual int sip_get_ans_code(int callid) = 0;

    // ---- call control; the results are 0 or negative
    virtual int sip_call_out(int callid, const char* caller, const char* dest, const char* sdp, int reserved) = 0;
    virtual int sip_call_out_by_account(int callid, int accountId, const char* dest, const char* sdp,
                                        const char* firstCalled) = 0;
    // Places the call as the caller of orgCallid's incoming call (its From), the caller text replacing the user.
    virtual int sip_call_out_b2b_forward(int callid, int orgCallid, const char* caller, const char* dest,
                                         const char* sdp, int reserved) = 0;
    virtual int sip_call_provisional(int callid, int code) = 0;
    virtual int sip_call_accept(int callid) = 0;
    virtual int sip_call_reject(int callid, int code) = 0;
    virtual int sip_call_bye(int callid) = 0;
    virtual int sip_call_cancel(int callid) = 0;
    virtual int sip_call_end(int callid) = 0; // frees the slot (type and state 0)

    // ---- SDP: texts built for and taken from the peer
    virtual int sip_get_init_sdp_offer(const char* addr, int port, std::string& sdp) = 0;
    // option: a payload type to offer alone.
    virtual int sip_get_init_sdp_offer_ex(const char* addr, int port, int option, std::string& sdp) = 0;
    // The answer to the peer's offer; empty when nothing in it can be answered.
    virtual int sip_get_sdp_answer(const char* addr, int port, const char* peerSdp, std::string& sdp) = 0;
    virtual int sip_call_get_peer_sdp(int callid, std::string& sdp) = 0;
    virtual int sip_call_provider_offer_sdp(int callid, const char* sdp) = 0;
    virtual int sip_call_provider_answer_sdp(int callid, const char* sdp) = 0;
    // The peer's audio: payload type, address, port and telephone-event payload type (-1 none); -1 when the
    // peer's SDP has no usable audio.
    virtual int sip_call_get_peermedia_ex(int callid, int& type, std::string& addr, uint16_t& port, int& evpt) = 0;

    // ---- addresses and information
    virtual int sip_call_get_peeraddr(int callid, std::string& out) = 0; // the caller's user (or host)
    virtual int sip_call_get_myaddr(int callid, std::string& out) = 0;   // the called user
    virtual int sip_get_dtmf_info(int callid, std::string& digits) = 0;  // digits of SIP INFO, taken
    virtual int sip_get_peer_msg(int callid, std::string& first, std::string& second, int size) = 0;
    virtual int sip_get_dest_addr(const char* text, std::string& out) = 0;
    virtual int sip_get_acc_addr(const char* user, const char* domain, std::string& out, int32_t& number) = 0;
    virtual int sip_set_out_route(int callid, const char* source, const char* dest) = 0;
    virtual int sip_set_dial_ex_text(int callid, const char* text) = 0;

    // ---- instant messages (a process-wide inbox)
    virtual int sip_im_send(int callid, const char* caller, const char* dest, const char* type, const char* body,
                            int32_t length) = 0;
    virtual int sip_im_send_by_account(int callid, int accountId, const char* caller, const char* dest,
                                       const char* type, const char* body, int32_t length) = 0;
    virtual int sip_im_test() = 0;
    virtual int sip_im_read(std::string& from, std::string& to, std::string& type, std::string& body) = 0;
    virtual int sip_im_recv(std::string& from, int32_t& handle) = 0;
    virtual int sip_im_get_field(int32_t handle, const char* name, const char* part, std::string& out) = 0;
    virtual int sip_im_make_ans_ex(int32_t handle, int32_t code, const char* reason, const char* headers,
                                   const char* type, const char* body) = 0;
    virtual int sip_im_free(int32_t handle) = 0;
    // texts: method, request URI, From, To, content type, body, extra header lines, next hop ("" the URI's host).
    virtual int sip_im_make_req(const std::string (&texts)[8], std::string& id, int r1, int r2) = 0;

    // ---- proxy mode
    virtual int sip_proxy_recv(std::string& t1, std::string& t2, int32_t& msg, std::string& t3) = 0;
    virtual int sip_proxy_get_field(int32_t msg, const char* name, const char* part, std::string& out) = 0;
    virtual int sip_proxy_add_field(int32_t msg, const char* name, const char* value, int32_t where) = 0;
    virtual int sip_proxy_remove_field(int32_t msg, const char* name) = 0;
    virtual int sip_proxy_send(int32_t msg, const char* dest) = 0;
    virtual int sip_proxy_send_ex(int32_t msg, const char* dest, int32_t transport) = 0;
    virtual int sip_proxy_dir_ans(int32_t msg, int32_t code, const char* reason) = 0;
    virtual int sp_send_keep_alives(const char* dest, const char* data, int32_t length) = 0;

    // ---- account callbacks
    virtual int sip_on_get_acc_pwd(SipAccPwdFn fn) = 0;
    virtual int sip_on_get_acc_pwd_ip(SipAccPwdIpFn fn) = 0;
    virtual int sip_on_register_notify(SipRegisterNotifyFn fn) = 0;
};

// The media engine: RTP channels, file play and record, DTMF, conference sessions. Results are taken by the
// callers as signed 8-bit values, 0 success.
class SipMedia {
public:
    virtual ~SipMedia() = default;

    virtual int ms_init() = 0;
    virtual int ms_exit() = 0;

    // ---- RTP channels; the wake event is signalled when a play ends, a key arrives or a recording reaches its
    // limit.
    virtual int ms_channel_create(int& ch, WakeEvent* wake) = 0;
    virtual int ms_channel_start_ex(int ch, int type, int localPort, const char* peerAddr, int peerPort,
                                    int evpt) = 0;
    virtual int ms_channel_stop(int ch) = 0;
    virtual int ms_channel_destory(int ch) = 0;
    virtual int ms_channel_reset(int ch) = 0;
    // 1 once the peer has sent nothing for 60 s since the channel started or its last packet (the channel's wake
    // event is signalled then), 0 while it sends, -1 no such channel.
    virtual int ms_channel_is_silent(int ch) = 0;
    // held 1: the peer holds the call and sends nothing by design, so its silence ends nothing; held 0: it sends
    // again, and its 60 s start afresh. 0, or -1 no such channel.
    virtual int ms_channel_set_held(int ch, int held) = 0;
    virtual int ms_recv_send_count(int ch, int32_t& received, int32_t& sent) = 0;

    // ---- channels whose audio the system pushes and takes itself, 320-byte A-law blocks
    virtual int ms_external_channel_create(int& ch) = 0;
    virtual int ms_external_channel_start(int ch, int type) = 0;
    virtual int ms_push_data(int ch, const uint8_t* data, int length) = 0;
    virtual int ms_get_data(int ch, uint8_t* data, int length) = 0; // bytes given, 0 when none is ready

    // ---- play and record
    virtual int ms_playing_create(int& h, const char* file, WakeEvent* wake) = 0;
    virtual int ms_playing_start(int h, int kind, int target) = 0;
    virtual int ms_playing_is_end(int h) = 0; // 1 ended, 0 playing, -1 no such play
    virtual int ms_playing_stop(int h) = 0;
    virtual int ms_playing_destory(int h) = 0;
    virtual int ms_recording_create(int& h, const char* file, WakeEvent* wake) = 0;
    virtual int ms_recording_start(int h, int kind, int target) = 0;
    // The wake event is signalled once the recording holds more than samples (0: never).
    virtual int ms_recording_set_limit(int h, int32_t samples) = 0;
    virtual int32_t ms_recorded_length(int h) = 0; // samples at 8000 per second
    virtual int ms_recording_stop(int h) = 0;
    virtual int ms_recording_destory(int h) = 0;
    // No channel, play or recording signals this wake event any more (its line is going).
    virtual int ms_forget_wake(WakeEvent* wake) = 0;

    // ---- DTMF
    virtual int ms_dtmf_get_str(int ch, std::string& digits, int maxLen) = 0; // taken
    virtual int ms_dtmf_dial(int ch, const char* digits, int length) = 0;

    // ---- conference sessions: every talking member hears the others (mix-minus)
    virtual int ms_session_create(int& session) = 0;
    virtual int ms_session_add(int session, int ch) = 0;
    virtual int ms_session_listen(int session, int ch) = 0; // hears the session, is not heard
    virtual int ms_session_remove(int session, int ch) = 0;
    virtual int ms_session_destory(int session) = 0;
};

// MSRP file transfer (RFC 4975 over TCP): a sender offers a file, the receiver answers and listens, the sender
// connects and sends the file in chunks.
class SipMsrp {
public:
    virtual ~SipMsrp() = default;

    virtual int TqrMsrpInit(int enabled, const char* addr, int port, const char* localPath, int poolNum) = 0;
    virtual int TqrMsrpClose() = 0;
    // id: the transfer id, made when empty. Gives the own MSRP path, the file size and the SDP offer; the
    // transfer handle (> 0) or a negative error.
    virtual int TqrMsrpFileSend(const char* path, std::string& id, std::string& localUri, int32_t& size,
                                std::string& offer) = 0;
    // Answers an offer: maxSeconds bounds the whole reception (0 none), maxSize the file (0 none). Gives the SDP
    // answer, the file's local path, its name, its size and the transfer id; the handle or a negative error.
    virtual int TqrMsrpFileRecv(int32_t maxSeconds, const char* offer, int32_t maxSize, std::string& answer,
                                std::string& localPath, std::string& name, int32_t& size, std::string& id) = 0;
    virtual int TqrMsrpFileRecvStart(int handle, int flags) = 0;
    // 1 done, 0 under way, negative failed; bytes moved and the file size.
    virtual int TqrMsrpFileCheck(int handle, int32_t& done, int32_t& total) = 0;
    virtual int TqrMsrpFileEnd(int handle) = 0;
    // The receiver's answer to an offer of ours: the sender connects and sends; the transfer's handle.
    virtual int TqrMsrpProcAnswer(const char* answer) = 0;
};

// Call slots are numbered from 1; a line's slot is its channel index + 1.
constexpr int kSipMaxSlots = 1024;

// The libraries in force for the SIP driver and the media bridges of the other lines: the real ones unless a
// test installed others. Never null.
struct SipLibs {
    SipUa* ua;
    SipMedia* media;
    SipMsrp* msrp;
};
SipLibs GetSipLibs();
// Installs other libraries (all three given), or the real ones again (all null).
void SetSipLibs(const SipLibs& libs);

} // namespace zz
