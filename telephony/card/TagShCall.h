#pragma once
// The call object of one card channel. Every operation runs on the line's own thread and waits on the line's wake
// event, which the card signals when the channel changes, bounded by the time the card says something is due
// and by the operation's own deadline, all on the Clock.
//
// Files: TagShCall.cpp (call control), TagShCallIncoming.cpp (incoming calls, numbers, line signals),
// TagShCallVoice.cpp (play, keys, recording), TagShCallLinks.cpp (links, conference groups, fax),
// TagShCallMedia.cpp (media bridge, conference rooms), TagShCallFsk.cpp (FSK messages).
#include "telephony/TagKvCall.h"
#include "telephony/card/IsupMessage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zz {

class CardLib;
class TagShDrive;

// The signed linear value of one recorded byte (the card's A-law expansion).
int32_t ExpandCardSample(uint8_t b);
// Whether 86 quiet 20-byte frames in a row (mean magnitude below 100) occur in the first n bytes.
bool ScanColorRing(const uint8_t* buf, int32_t n);
// The mixer gain of a level: -6 at 0, 0 at 100, up to 6 at 199.
int32_t MixerGainOf(int32_t level);

class TagShCall final : public TagKvCall {
public:
    TagShCall(int32_t channel, TagShDrive* drive);
    ~TagShCall() override;

    // ---- Call control
    void SetCallerId(const char* number) override;
    void SetFirstCalleeId(const char* number, int32_t attribute) override;
    int OutCall(const char* number, int32_t a, int32_t b) override;
    int WaitRing(int32_t rings) override;
    int IsRings(int32_t rings) override;
    int SetCharge(int32_t flag) override;
    int SetLineParam(int32_t value) override;
    int Hangup() override;
    int Dial(const char* number) override;
    int CheckDial() override;
    int IsOnline() override;

    // ---- Incoming calls, numbers and line signals
    int Answer(int32_t flag) override;
    int IsRinging(std::string& caller, std::string& called) override;
    int GetCallerId(std::string& out) override;
    int GetCalleeId(std::string& out) override;
    int GetFirstCalleeId(std::string& out) override;
    void SetVolume(int32_t level, int32_t kind) override;
    int SetBreak(int32_t flag) override;
    int MakeRing(const char* text) override;
    int GetHookState() override;
    int SetSigPara(int32_t kind, int32_t value) override;
    int GetChState() override;

    // ---- Play, keys and recording
    int ReLoopPlay() override;
    void ClearKeys() override;
    int Play(const char* file, int32_t breakOnKey, int32_t onPc) override;
    int PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop, int32_t breakOnKey) override;
    int StartLoopPlay(const char* file, int32_t onPc) override;
    int Record(const char* file, int32_t seconds, int32_t breakFlag) override;
    int SpyRec(const char* file, int32_t seconds) override;
    int GetKeys(std::string& keys, int32_t count, int32_t timeout, char endKey) override;
    int SetKeys(const char* digits) override;
    int KeysLen() override;
    int StopPlay() override;

    // ---- Links, conference groups and fax
    void SetFaxLocalId(const char* id) override;
    void GetFaxResource(int32_t& total, int32_t& busy) override;
    int SendFax(const char* file) override;
    int RecvFax(const char* file) override;
    int LinkTo(int32_t line, int32_t mode) override;
    int UnlinkTo(int32_t line, int32_t mode) override;
    int UnlinkAll() override;
    int ListenTo(int32_t line, int32_t mode) override;
    int GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen, std::vector<int32_t>& modes) override;

    // ---- Media bridge and conference rooms
    int LinkMedia(TagKvCall* other) override;
    int UnlinkMedia() override;
    int StartRtp() override;
    int EndRtp() override;
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

    // ---- FSK messages
    int SendFskMsg(int32_t type, const char* text, int32_t value) override;
    int RecvFskMsg(int32_t& type, std::string& text, int32_t seconds) override;

    // ---- Card operations the other card parts share
    int Pickup();
    int32_t PollChState();
    // 1 when the channel reached the state within seconds, 0 on time-out or stop.
    int WaitForState(int32_t state, int32_t& got, int32_t seconds);
    int WaitUnblocked();
    int32_t ReadAcm(uint8_t* buf); // message length, or the card's result
    int32_t ReadIam(uint8_t* buf);
    void ReadCallNumbers();
    int CheckColorRing();
    // The mixer gain of the line's second level.
    int32_t MixerGain() const;
    // Waits for news of the channel (and of `other` when given), the stop flag or ms of Clock time, bounded by
    // the card's next due change.
    void WaitCard(uint32_t ms, int32_t other = -1);
    bool WaitUntil(const std::function<bool()>& done, int64_t ms = WakeEvent::kForever) override;
    int ListenMedia(TagKvCall* sip);
    void DropMediaPeer() override;
    int StartMemBlocks();
    int StopMemBlocks();
    // Conference internals
    int AddToConf(int32_t ch, int32_t mode, bool listen);
    int JoinOwnGroup();
    int LeaveMember(int32_t ch);
    void FreeConfId(bool leaveSelf);
    int FindMember(int32_t line) const; // index in the member list, -1

    struct Member {
        int32_t ch;
        bool listen;
        int32_t mode;
    };

    int32_t channel;
    TagShDrive* drive;
    int32_t signalling = -1;
    int32_t lastChState = -1;
    uint8_t pending = 0;
    uint8_t answered = 0; // the offered call was answered (IsRings answers once)
    uint8_t charge = 1;
    uint8_t dialing = 0;
    uint32_t dialTick = 0;
    uint8_t acmRead = 0;
    uint8_t mobile = 0;
    int32_t redirection = 0;
    std::vector<Member> confList; // changed only under the driver's conference lock
    IsupMessage iam;
    int32_t lineParam = 0, lineParamCompanion = 0;
    // Voice
    std::atomic<uint8_t> memPlaying{0};
    std::atomic<int32_t> muteCount{0};
    int32_t recFormat = -1;
    // Conference and fax
    std::atomic<int32_t> confGroup{-1};
    std::atomic<int32_t> confOwner{-1};
    int32_t faxIndex = -1;
    std::string faxLocalId;
    // Media bridge blocks, filled and played by the card's own threads
    uint8_t recBlock[2][320] = {};
    uint8_t playBlock[2][320] = {};

private:
    CardLib& Lib() const;
    void KeyFetch();
    bool IsDigital() const { return lineKind == kLineDigitalTrunk; }
    bool IsIsup() const { return IsDigital() && signalling == 2; }
    int FaxLoop(bool sending, int32_t startResult);
    void ReleaseRecord();
    int BridgeTo(TagKvCall* other, bool listen);
};

} // namespace zz
