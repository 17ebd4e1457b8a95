#pragma once
// The call object of a SIP line: call control over the SIP user agent (TagSipCall.cpp), the media channel with
// its play, record, keys, links and conference sessions (TagSipCallMedia.cpp), and instant messages, file
// transfer, proxy mode and SIP information handed to the libraries (TagSipCallIm.cpp).
//
// Everything runs on the line's thread. A wait blocks on the line's wake event, which the SIP and media threads
// signal when the call slot or the media channel has news, and a stop, quit or reload signals too.
#include "telephony/TagKvCall.h"
#include "telephony/sip/SipLibrary.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

class TagSipDrive;

// The peer's RTP stream of the call.
struct TagSdpType {
    std::string addr;
    int32_t port = 0;
    int32_t type = -1;

    void Reset() {
        addr.clear();
        port = 0;
        type = -1;
    }
    // Stores the three and returns true when any differs; false (nothing stored) otherwise.
    bool SetIfChanged(const std::string& a, int32_t p, int32_t t);
};

// One line in the link list of a call.
struct TagSipLink {
    int32_t line = 0;
    uint8_t listen = 0;
    int32_t active = 1;
};

class TagSipCall : public TagKvCall {
public:
    TagSipCall(int32_t channel, int32_t lineNo, const std::string& address, int32_t rtpBasePort,
               TagSipDrive* drive, const SipLibs& libs);
    ~TagSipCall() override;

    // ---- call control (TagSipCall.cpp)
    int WaitRing(int32_t count) override;
    int IsRings(int32_t count) override;
    int SetCharge(int32_t flag) override;
    int Answer(int32_t flag) override;
    int IsRinging(std::string& caller, std::string& called) override;
    int SetLineParam(int32_t value) override;
    int Hangup() override;
    int GetCallerId(std::string& out) override;
    int GetCalleeId(std::string& out) override;
    int GetFirstCalleeId(std::string& out) override;
    void SetCallerId(const char* number) override;
    void SetFirstCalleeId(const char* number, int32_t attribute) override;
    int Dial(const char* number) override;
    int CheckDial() override;
    int OutCall(const char* number, int32_t a, int32_t b) override;
    int GetHookState() override;
    int IsOnline() override;
    int SipGetAccStat(const char* account) override;
    int IsMediaOk() override;
    int GetChState() override;

    // ---- media, keys, links, sessions (TagSipCallMedia.cpp)
    void ClearKeys() override;
    int KeysLen() override;
    int GetKeys(std::string& keys, int32_t count, int32_t timeout, char endKey) override;
    int SetKeys(const char* digits) override;
    int Play(const char* file, int32_t breakOnKey, int32_t onPc) override;
    int PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop, int32_t breakOnKey) override;
    int StartLoopPlay(const char* file, int32_t onPc) override;
    int ReLoopPlay() override;
    int StopPlay() override;
    int Record(const char* file, int32_t seconds, int32_t breakFlag) override;
    int SpyRec(const char* file, int32_t seconds) override;
    int LinkTo(int32_t line, int32_t mode) override;
    int ListenTo(int32_t line, int32_t mode) override;
    int UnlinkTo(int32_t line, int32_t mode) override;
    int UnlinkAll() override;
    // Another line's call that this line linked has ended: its record goes (its channel left the session with
    // it), and so does the session when no peer is left.
    void ForgetLink(int32_t line);
    int GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen, std::vector<int32_t>& active) override;
    int CreateConfRoom(int32_t& kind, int32_t& session) override;
    int JoinConfRoom(int32_t session, int32_t kind, int32_t listen) override;
    int ExitConfRoom(int32_t session, int32_t kind) override;
    int DeleteConfRoom(int32_t session, int32_t kind) override;
    int RecConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle) override;
    int StopRecConfRoom(int32_t session, int32_t kind, int32_t handle) override;
    int SipRecCh(int32_t channel, const char* file, int32_t& handle) override;
    int StopSipRecCh(int32_t handle) override;
    int PlayConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle) override;
    int IsPlayConfRoomEnd(int32_t session, int32_t kind, int32_t handle) override;
    int StopPlayConfRoom(int32_t session, int32_t kind, int32_t handle) override;

    // ---- messages, file transfer, proxy mode, SIP information (TagSipCallIm.cpp)
    int ImSend(const char* dest, const char* type, const char* body, int32_t length) override;
    int ImTest() override;
    int ImRead(std::string& a, std::string& b, std::string& c, std::string& d) override;
    int ImRecv(std::string& text, int32_t& handle) override;
    int ImMsgGetField(int32_t handle, const char* name, const char* part, std::string& out) override;
    int ImMakeAns(int32_t handle, int32_t code, const char* t1, const char* t2, const char* t3,
                  const char* t4) override;
    int ImMsgFree(int32_t handle) override;
    int ImMakeReq(const std::array<const char*, 8>& texts, std::string& id) override;
    int ImFileSend(const char* path, std::string& id, int32_t& handle, std::string& out4, int32_t& out5,
                   std::string& out6) override;
    int ImFileRecv(int32_t v1, const char* t2, int32_t v3, int32_t& handle, std::string& o5, std::string& o6,
                   std::string& o7, int32_t& o8, std::string& o9) override;
    int ImFileCheck(int32_t handle, int32_t& a, int32_t& b) override;
    int ImFileEnd(int32_t handle) override;
    int ImFileProcAnswer(const char* offer) override;
    int SipGetPeerMsg(std::string& first, std::string& second, int32_t size) override;
    int SipGetDestAddr(const char* text, std::string& out) override;
    int SipGetAccAddr(const char* t1, const char* t2, std::string& out, int32_t& number) override;
    int SipSetDialRoute(const char* source, const char* dest) override;
    int SipGetRtpCount(int32_t& received, int32_t& sent) override;
    int SipOnGetAccPwd(SipAccPwdFn fn) override;
    int SipOnGetAccPwdIp(SipAccPwdIpFn fn) override;
    int SipOnRegisterNotify(SipRegisterNotifyFn fn) override;
    int SipProxyRecv(std::string& t1, std::string& t2, int32_t& n, std::string& t3) override;
    int SipProxyGetField(int32_t msg, const char* name, const char* third, std::string& out) override;
    int SipProxyAddField(int32_t msg, const char* name, const char* value, int32_t n) override;
    int SipProxyRemoveField(int32_t msg, const char* name) override;
    int SipProxySend(int32_t msg, const char* text) override;
    int SipProxySendEx(int32_t msg, const char* text, int32_t n) override;
    int SipProxyDirAns(int32_t msg, int32_t code, const char* text) override;
    int SipProxySendKeepAlives(const char* t1, const char* t2) override;
    int SipUnregisterSpecUser(const char* user) override;
    int SipSetRtpAddr(const char* addr, int32_t port, const char* option) override;
    int SetDialExText(int32_t kind, const char* text) override;

    // ---- read by other lines' link operations
    int32_t ChannelIndex() const { return channel_; }
    int32_t LastCallType() const { return lastType_.load(); }
    int32_t LastChState() const { return lastState_.load(); }
    // Polls the SIP slot (and runs the offer/answer step): the channel state.
    int PollCallState();

    // Limits of the texts the line keeps.
    static constexpr size_t kAddrRoom = 300; // caller and called addresses
    static constexpr size_t kSdpRoom = 2048;
    static constexpr uint32_t kMediaWaitMs = 18000;

private:
    // ---- call control helpers (TagSipCall.cpp)
    int WaitCallState(int wanted, int32_t seconds);
    int WaitUnblocked();
    int WaitMediaOk(TagSipCall* peer);
    void StopOutCall();
    int RejectCall(int code);
    // Ends the library call: media off, slot freed, remote media forgotten.
    void EndLibraryCall();
    // Waits up to ms for the call to be established or to end (the settle after an accept or a connect).
    void Settle(uint32_t ms);
    // Blocks for ms of the Clock, or less when the line is stopped.
    void Pause(uint32_t ms);
    // True when the slot's type or state is not what the last poll saw, or the peer's media just fell silent.
    bool SlotChanged();
    // True once, when the media engine first reports the peer silent (60 s without RTP) on this channel.
    bool PeerFellSilent();
    // Milliseconds until the maximum talk time runs out (WakeEvent::kForever when none applies).
    int64_t TalkLimitLeft() const;
    bool IsCallEndState(int state) const;
    // True when the slot's call has ended (or the slot is free).
    bool CallEnded();

    // ---- media helpers (TagSipCallMedia.cpp)
    void OfferAnswerStep();
    bool StartNewChannel();
    void EndChannel();
    int StartPlayFile(const char* file);
    // Takes the keys of SIP INFO and of the media into the key buffer; true when it grew.
    bool DtmfPoll();
    void StopRecording(const char* how);
    int AddTo(int32_t line, uint8_t listen);
    // The SIP lines that linked this one forget it (the call ended): the line's next caller can be linked again.
    void LeaveLinkers();
    bool LoopPlayEnded();
    void PlayLocal(const char* file);

    SipUa* ua_;
    SipMedia* media_;
    SipMsrp* msrp_;
    TagSipDrive* drive_;

    std::recursive_mutex lock_; // the SIP handles, the media handles, the link list and the poll
    TagSdpType remote_;
    int32_t mCallid;
    std::atomic<int32_t> mSession{0};
    std::string localMediaAddr_;
    uint16_t mRtpPort;
    int32_t offerOption_ = -1;
    int32_t mhPlaying = 0;
    int32_t mhRecording = 0;
    int32_t recordLimit_ = 0; // samples
    uint8_t offerProvided_ = 0;
    uint8_t lastOaState_ = 0;
    int32_t channel_;
    std::atomic<uint8_t> calling_{0};
    std::atomic<int32_t> lastType_{-1};
    std::atomic<int32_t> lastState_{-1};
    std::vector<TagSipLink> links_;
    uint8_t endedOffer_ = 0;
    int32_t driverValue_ = 0;
    int32_t driverValue2_ = 0;
    std::atomic<uint8_t> mediaOk_{0};
    uint8_t ringing_ = 0;
    bool peerSilent_ = false; // the media channel's peer fell silent (line thread)
    // Another line waiting for this line's media (a link): signalled when its media or call state changes.
    std::atomic<WakeEvent*> watcher_{nullptr};
};

} // namespace zz
