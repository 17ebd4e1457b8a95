#pragma once
// The SIP user agent over libre. One thread runs the stack (libre's main loop); the line threads read their call
// slot under the slot's lock and hand every action to that thread as a queued job whose result they wait for.
// The thread writes a slot's state under its lock and signals the line's wake event.
//
// SipStack.cpp: the thread, the job queue, the slots and the accounts; SipCalls.cpp: INVITE sessions;
// SipMessages.cpp: MESSAGE requests and the message inbox; SipProxy.cpp: proxy mode, its registrar and the
// account callbacks.
#include "telephony/sip/LogTally.h"
#include "telephony/sip/SipLibrary.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sip;
struct sip_msg;
struct sipsess;
struct sipsess_sock;
struct sip_lsnr;
struct sip_strans;
struct sipreg;
struct mqueue;
struct dnsc;
struct mbuf;
struct sa;
struct tmr;
struct udp_helper;

namespace zz {

class SipStack final : public SipUa {
public:
    SipStack();
    ~SipStack() override;

    int sip_set_work_type(int type) override;
    int sip_set_app_firewall(int on) override;
    int sip_set_sdp_media_list(const char* list) override;
    int sip_start_ex(const char* addr, uint16_t udpPort, uint16_t tcpPort) override;
    int sip_get_listen(std::string& addr, uint16_t& udpPort, uint16_t& tcpPort) override;
    int set_default_outdial_proxy(const char* addr, uint16_t port, int tcp) override;
    int sip_set_max_reg_users(int n) override;
    int sip_exit() override;

    int sip_account_register(const SipAccountArgs& a) override;
    int sip_account_set(const SipAccountArgs& a) override;
    int sip_account_get_state(int id) override;
    int sip_account_unregister(int id) override;
    int sip_unregister_user(const char* user) override;

    void sip_set_call_waker(int callid, WakeEvent* wake) override;
    void sip_set_call_listen(int callid, bool on) override;
    int get_call_type(int callid) override;
    int get_callin_state(int callid) override;
    int get_callout_state(int callid) override;
    int get_call_oa_state_ex(int callid, int& newFlag) override;
    int clear_call_oa_newflag(int callid) override;
    int sip_get_ans_code(int callid) override;

    int sip_call_out(int callid, const char* caller, const char* dest, const char* sdp, int reserved) override;
    int sip_call_out_by_account(int callid, int accountId, const char* dest, const char* sdp,
                                const char* firstCalled) override;
    int sip_call_out_b2b_forward(int callid, int orgCallid, const char* caller, const char* dest, const char* sdp,
                                 int reserved) override;
    int sip_call_provisional(int callid, int code) override;
    int sip_call_accept(int callid) override;
    int sip_call_reject(int callid, int code) override;
    int sip_call_bye(int callid) override;
    int sip_call_cancel(int callid) override;
    int sip_call_end(int callid) override;

    int sip_get_init_sdp_offer(const char* addr, int port, std::string& sdp) override;
    int sip_get_init_sdp_offer_ex(const char* addr, int port, int option, std::string& sdp) override;
    int sip_get_sdp_answer(const char* addr, int port, const char* peerSdp, std::string& sdp) override;
    int sip_call_get_peer_sdp(int callid, std::string& sdp) override;
    int sip_call_provider_offer_sdp(int callid, const char* sdp) override;
    int sip_call_provider_answer_sdp(int callid, const char* sdp) override;
    int sip_call_get_peermedia_ex(int callid, int& type, std::string& addr, uint16_t& port, int& evpt) override;

    int sip_call_get_peeraddr(int callid, std::string& out) override;
    int sip_call_get_myaddr(int callid, std::string& out) override;
    int sip_get_dtmf_info(int callid, std::string& digits) override;
    int sip_get_peer_msg(int callid, std::string& first, std::string& second, int size) override;
    int sip_get_dest_addr(const char* text, std::string& out) override;
    int sip_get_acc_addr(const char* user, const char* domain, std::string& out, int32_t& number) override;
    int sip_set_out_route(int callid, const char* source, const char* dest) override;
    int sip_set_dial_ex_text(int callid, const char* text) override;

    int sip_im_send(int callid, const char* caller, const char* dest, const char* type, const char* body,
                    int32_t length) override;
    int sip_im_send_by_account(int callid, int accountId, const char* caller, const char* dest, const char* type,
                               const char* body, int32_t length) override;
    int sip_im_test() override;
    int sip_im_read(std::string& from, std::string& to, std::string& type, std::string& body) override;
    int sip_im_recv(std::string& from, int32_t& handle) override;
    int sip_im_get_field(int32_t handle, const char* name, const char* part, std::string& out) override;
    int sip_im_make_ans_ex(int32_t handle, int32_t code, const char* reason, const char* headers, const char* type,
                           const char* body) override;
    int sip_im_free(int32_t handle) override;
    int sip_im_make_req(const std::string (&texts)[8], std::string& id, int r1, int r2) override;

    int sip_proxy_recv(std::string& t1, std::string& t2, int32_t& msg, std::string& t3) override;
    int sip_proxy_get_field(int32_t msg, const char* name, const char* part, std::string& out) override;
    int sip_proxy_add_field(int32_t msg, const char* name, const char* value, int32_t where) override;
    int sip_proxy_remove_field(int32_t msg, const char* name) override;
    int sip_proxy_send(int32_t msg, const char* dest) override;
    int sip_proxy_send_ex(int32_t msg, const char* dest, int32_t transport) override;
    int sip_proxy_dir_ans(int32_t msg, int32_t code, const char* reason) override;
    int sp_send_keep_alives(const char* dest, const char* data, int32_t length) override;

    int sip_on_get_acc_pwd(SipAccPwdFn fn) override;
    int sip_on_get_acc_pwd_ip(SipAccPwdIpFn fn) override;
    int sip_on_register_notify(SipRegisterNotifyFn fn) override;

    // A received SIP message as texts: its first line, its header fields in order and its body. Messages of
    // the inbox and of proxy mode are kept and edited this way.
    struct Fields {
        std::string first;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        std::string source; // "ip:port" it came from
        bool request = true;
        int tp = 0; // the transport it came over
        // The value of the first field of that name (or its compact form), or null.
        const std::string* Find(const std::string& name) const;
        std::string Text() const; // the message again, Content-Length set to the body
    };

    // Parts of a header value or a URI: "uri", "user", "host", "port", "tag" or any parameter name.
    static std::string ValuePart(const std::string& value, const std::string& part);

    // How long an INVITE that finds no line waiting is kept ringing for the first line that waits (then 486).
    void SetCallHoldMs(uint32_t ms) { holdMs_ = ms; }

    // Datagrams on the SIP port that were no SIP message, responses that matched no request and the SIP
    // library's own messages: counted, and summed up in the run log each minute and at the stop.
    uint64_t UndecodableDatagrams() const { return undecodable_.Count(); }
    uint64_t StrayResponses() const { return strays_.Count(); }
    uint64_t LibraryMessages() const;

    // The system's id of the SIP thread (0 before the start), for measuring its processor time.
    int SipThreadTid() const { return sipTid_.load(); }

    // The UDP port the stack listens on (0 when not started): the one the system chose for port 0.
    uint16_t UdpPort() {
        int p = Exec([this] { return int(LocalPort(0)); });
        return p < 0 ? 0 : uint16_t(p);
    }

private:
    struct Slot;
    struct SlotSip;
    struct Account;
    struct ImEntry;
    struct ProxyMsg;
    struct Binding;
    struct Creds;
    struct Request;
    struct Held;

    // ---- the thread and its jobs (SipStack.cpp)
    void SipThread(std::string addr, uint16_t udp, uint16_t tcp);
    int StartOnThread(const std::string& addr, uint16_t udp, uint16_t tcp);
    void StopOnThread();
    int Exec(std::function<int()> fn);
    // Queues fn for the SIP thread without waiting for it (dropped when the stack is not running).
    void Post(std::function<void()> fn);
    static void OnWakeup(int id, void* data, void* arg);
    void RunJobs();
    bool ValidSlot(int callid) const { return callid >= 1 && callid <= kSipMaxSlots; }
    // Changes a slot under its lock and wakes its line.
    void Update(int callid, const std::function<void(Slot&)>& change);
    // The address and port to put into Contact and SDP for a peer at host: the bound address, or when bound to
    // any, the one the system routes to the host by.
    std::string LocalAddrFor(const std::string& host);
    uint16_t LocalPort(int tp) const;
    std::string ContactFor(const std::string& user, const std::string& host, int tp);
    // libre writes a line to standard error for every undecodable datagram: a peer could flood it. A datagram
    // the stack sends itself at the start shows the UDP socket, whose datagrams are then looked at first.
    void SendProbe();
    bool TakeProbe(const struct sip_msg* msg);
    static bool OnDatagram(struct sa* src, struct mbuf* mb, void* arg);
    // libre writes one line to standard error for each response that matches nothing, and its debug messages
    // (a write to a connection the peer has closed...) too: they go to the tallies instead.
    void NoteStrayResponse(const struct sip_msg* msg);
    static void OnLibraryMessage(int level, const char* p, size_t len, void* arg);
    void SummariseTallies(const char* when);
    static void OnSummaryTimer(void* arg);
    void Retire(struct sipsess* sess);
    static void RetireLater(void* arg);

    // ---- calls (SipCalls.cpp)
    static void OnInvite(const struct sip_msg* msg, void* arg);
    static int OnOffer(struct mbuf** descp, const struct sip_msg* msg, void* arg);
    static int OnAnswer(const struct sip_msg* msg, void* arg);
    static void OnProgress(const struct sip_msg* msg, void* arg);
    static void OnEstablished(const struct sip_msg* msg, void* arg);
    static void OnInfo(struct sip* sip, const struct sip_msg* msg, void* arg);
    static void OnClose(int err, const struct sip_msg* msg, void* arg);
    static int OnAuth(char** user, char** pass, const char* realm, void* arg);
    static Creds* NewCreds(const std::string& user, const std::string& pass);
    int Connect(int callid, const std::string& uri, const std::string& from, const std::string& sdp,
                const std::string& route, Creds* creds, const std::string& extraHeaders);
    int ProvideSdp(int callid, const char* sdp, int oaAfter);
    // libre sends a dialog's requests by the transport its remote target names, UDP when it names none: over TCP
    // they would never reach a caller whose Contact names none. Such a dialog's target is aimed at its TCP
    // connection while that is open (connection reuse), else at a new TCP connection to the Contact.
    static void SetTarget(SlotSip& ss, const struct sip_msg* msg);
    static void AimDialog(SlotSip& ss);
    // Lets the slot's session go (its BYE or CANCEL goes out as it does).
    static void ReleaseSession(SlotSip& ss);
    void CancelPendingInvite(const struct sip_msg* cancel);
    std::string MakeUri(const std::string& dest, const std::string& domain) const;
    void EndSlot(int callid);
    // The lowest free slot whose line waits for a call, taken for an incoming INVITE; 0 when none.
    int TakeListeningSlot();
    void GiveInvite(int callid, const struct sip_msg* msg, const std::string& callId);
    // Gives held INVITEs, oldest first, to the lines that wait now.
    void GiveHeld();
    // Ends a held INVITE with a final answer (0: none, the caller's CANCEL already answered it).
    void DropHeld(Held* h, uint16_t code);
    static void OnHoldTimeout(void* arg);

    // ---- accounts (SipStack.cpp)
    int AddAccount(const SipAccountArgs& a, bool doRegister);
    void SendRegister(int id, uint32_t expires);
    static void OnRefresh(void* arg);

    // ---- requests and messages (SipMessages.cpp)
    // Sends r (owned from then on): 0, or a negative error when it could not go out.
    int Send(Request* r);
    static void OnRequestResponse(int err, const struct sip_msg* msg, void* arg);
    Request* NewRequest(const std::string& method, const std::string& uri, const std::string& from,
                        const std::string& to, const std::string& route);
    static bool OnRequestLate(const struct sip_msg* msg, void* arg);
    void TakeMessage(const struct sip_msg* msg);
    int SendMessage(int callid, const std::string& uri, const std::string& from, const std::string& route,
                    Creds* creds, const std::string& type, const std::string& body);
    int ReplyEntry(ImEntry& e, int code, const char* reason, const std::string& extra);
    std::unique_ptr<ImEntry> TakeEntry(int32_t handle);
    void FreeEntry(std::unique_ptr<ImEntry> e);

    // ---- proxy mode (SipProxy.cpp)
    static bool OnRequestEarly(const struct sip_msg* msg, void* arg);
    static bool OnResponse(const struct sip_msg* msg, void* arg);
    bool ProxyWants(const struct sip_msg* msg);
    // With the application firewall on: whether the message comes from an account's server, the outbound
    // proxy or a registered user.
    bool Allowed(const struct sip_msg* msg);
    void QueueProxy(const struct sip_msg* msg);
    void Register(const struct sip_msg* msg);
    int ForwardProxy(int32_t msg, const char* dest, int transport);
    void StartCallbackThread();
    void StopCallbackThread();
    void CallbackThread();

    // ---- state
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::thread::id sipThreadId_;
    std::atomic<int> sipTid_{0};
    std::mutex jobsLock_;
    std::deque<std::function<void()>> jobs_;
    bool accepting_ = false;
    struct mqueue* mq_ = nullptr;
    struct sip* sip_ = nullptr;
    struct dnsc* dnsc_ = nullptr;
    struct sipsess_sock* sock_ = nullptr;
    struct sip_lsnr* early_ = nullptr;
    struct sip_lsnr* late_ = nullptr;
    struct sip_lsnr* resp_ = nullptr;

    // settings, written before the start and read on the SIP thread
    int workType_ = 0;
    int firewall_ = 0;
    std::vector<int> codecs_{8, 0};
    std::string bindAddr_;
    bool bindAny_ = true;
    std::string defaultRoute_;
    std::string defaultProxyHost_;
    size_t maxRegUsers_ = 1024;

    std::vector<std::unique_ptr<Slot>> slots_;       // index callid; shared under each slot's lock
    std::vector<std::unique_ptr<SlotSip>> slotSip_;  // index callid; SIP thread only
    std::map<std::string, int> callIds_;             // Call-ID of each slot's call, SIP thread only
    std::vector<struct sipsess*> retired_;           // sessions let go once the handler that ended them returns
    std::vector<Request*> requests_;                 // requests in flight, SIP thread only
    // INVITEs ringing until a line waits (SIP thread only), oldest first, and by Call-ID.
    std::deque<std::unique_ptr<Held>> held_;
    std::map<std::string, Held*> heldIds_;
    // Held INVITEs and those being placed: raised before an INVITE looks for a line, so that a line that starts
    // waiting either is found by that look or sees the count and asks for the held ones.
    std::atomic<int> holding_{0};
    std::atomic<uint32_t> holdMs_{10000};
    // what peers can cause in floods, counted (any thread) and summed up by the SIP thread's timer
    std::string probeId_;
    struct udp_helper* datagramHelper_ = nullptr;
    LogTally undecodable_{"datagrams were no SIP message"};
    LogTally strays_{"responses matched no request"};
    mutable std::mutex libraryLock_;
    std::map<std::string, std::unique_ptr<LogTally>> library_; // by libre's module, a few
    struct tmr* summaryTimer_ = nullptr;

    std::mutex accLock_;
    std::map<int, std::unique_ptr<Account>> accounts_;

    std::mutex imLock_;
    std::map<int32_t, std::unique_ptr<ImEntry>> inbox_;
    std::deque<int32_t> unread_;
    int32_t nextHandle_ = 0;

    std::mutex proxyLock_;
    std::map<int32_t, std::unique_ptr<ProxyMsg>> proxyMsgs_;
    std::deque<int32_t> proxyQueue_;
    std::map<std::string, Binding> bindings_; // registrar of proxy mode, by user
    std::map<std::string, uint64_t> nonces_;  // digest nonces the registrar gave out, with their time

    // account callbacks: run one at a time on a thread of their own, never on the SIP thread
    std::atomic<SipAccPwdFn> accPwd_{nullptr};
    std::atomic<SipAccPwdIpFn> accPwdIp_{nullptr};
    std::atomic<SipRegisterNotifyFn> regNotify_{nullptr};
    std::thread cbThread_;
    std::mutex cbLock_;
    std::condition_variable cbCv_;
    std::deque<std::function<void()>> cbJobs_;
    bool cbQuit_ = false;
};

} // namespace zz
