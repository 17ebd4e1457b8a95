#pragma once
// The call object of one line: the only way scripts and builtins act on a telephone line. The card, SIP and
// virtual call classes derive from it; an operation a class does not override answers with the base result
// below, which is how a script learns that its line cannot do something.
//
// Used on its line's thread, except the fields marked "shared", which closing, reload, the display timer, the
// monitor and the link operations of other lines read or write.
#include "engine/TagCallState.h"
#include "telephony/TagCfgTones.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zz {

class TagKvCard;
class TagPcPlayer;

// Bridges the SIP library calls on its own threads (account password, by address, registration notice).
using SipAccPwdFn = int (*)(const char* account, std::string& out1, std::string& out2);
using SipAccPwdIpFn = int (*)(const char* account, std::string& out1, std::string& out2, std::string& out3);
using SipRegisterNotifyFn = int (*)(const char* text1, const char* text2, int32_t n3, int32_t n4);

// Line kinds.
enum : int8_t {
    kLineVirtual = 0,
    kLineAnalogTrunk = 1,
    kLineExtension = 2,
    kLineRecording = 3,
    kLineDigitalTrunk = 4,
    kLineH323 = 5,
    kLineSip = 6,
    kLineVoip = 7,
    kLineFax = 8,
};

class TagKvCall : public TagCallState {
public:
    // Limits of texts that scripts and files can see; implementations cut to them.
    static constexpr size_t kNameLen = 80;
    static constexpr size_t kKeyBufLen = 1024;
    static constexpr size_t kNumberLen = 511; // caller, called and original called numbers
    static constexpr size_t kSigRawLen = 300; // raw signalling buffer

    TagKvCall();

    // Operations in slot order.
    virtual int ReLoopPlay();                                                         // 0
    virtual void SetCallerId(const char* number);                                     // 1
    virtual void SetSubAddr(const char* first, const char* second);                   // 2
    virtual void SetFirstCalleeId(const char* number, int32_t attribute);             // 3
    virtual void OpenLine();                                                          // 4
    virtual void CloseLine();                                                         // 5
    virtual void ClearKeys();                                                         // 6
    virtual int OutCall(const char* number, int32_t a, int32_t b);                    // 7
    virtual int WaitRing(int32_t count);                                              // 8
    virtual int IsRings(int32_t count);                                               // 9
    virtual int SetCharge(int32_t flag);                                              // 10
    virtual int Answer(int32_t flag);                                                 // 11
    virtual int IsRinging(std::string& caller, std::string& called);                  // 12
    virtual int SipGetPeerMsg(std::string& first, std::string& second, int32_t size); // 13
    virtual int SetLineParam(int32_t value);                                          // 14
    virtual int Play(const char* file, int32_t breakOnKey, int32_t onPc);             // 15
    virtual int PlayMemory(const uint8_t* data, int32_t offset, int32_t length, int32_t loop,
                           int32_t breakOnKey);                                          // 16
    virtual int StartLoopPlay(const char* file, int32_t onPc);                           // 17
    virtual int PcPlay(const char* file, int32_t loop, int32_t wait, int32_t breakFlag); // 18
    virtual int IsPcPlayEnd();                                                           // 19
    virtual int Record(const char* file, int32_t seconds, int32_t breakFlag);            // 20
    virtual int SpyRec(const char* file, int32_t seconds);                               // 21
    // GetKeys: the number of keys, -1 on a time-out, kKeysCallEnded when the call ended under it.
    static constexpr int kKeysCallEnded = -2;
    virtual int GetKeys(std::string& keys, int32_t count, int32_t timeout, char endKey); // 22
    virtual void SetKeyTime(int32_t seconds);                                            // 23
    virtual int SetKeys(const char* digits);                                             // 24
    virtual int KeysLen();                                                               // 25
    virtual int StopPlay();                                                              // 26
    virtual int Hangup();                                                                // 27
    virtual int Reserved28();                                                            // 28
    virtual int Reserved29();                                                            // 29
    virtual int GetCallerId(std::string& out);                                           // 30
    virtual int GetCalleeId(std::string& out);                                           // 31
    virtual int GetFirstCalleeId(std::string& out);                                      // 32
    virtual void SetFaxLocalId(const char* id);                                          // 33
    virtual void GetFaxResource(int32_t& total, int32_t& busy);                          // 34
    virtual int SendFax(const char* file);                                               // 35
    virtual int RecvFax(const char* file);                                               // 36
    virtual void Reserved37();                                                           // 37
    // The speech layer provides the body (TagKvCallSpeech.cpp).
    virtual int TxtSpeak(const char* text, int32_t a, int32_t b, int32_t soundCard);                // 38
    virtual int TxtSpeakToFile(const char* text, const char* file, int32_t format, int32_t option); // 39
    virtual void SetNobkringAns(int32_t flag);                                                      // 40
    virtual int GetNobkringAns();                                                                   // 41
    virtual void SetVolume(int32_t level, int32_t kind);                                            // 42
    virtual void SetBusyPara(int32_t a, int32_t b, int32_t c);                                      // 43
    virtual void SetRingbackPara(int32_t a, int32_t b, int32_t c);                                  // 44
    virtual void SetSignalFreqPara(int32_t a, int32_t b, int32_t c);                                // 45
    virtual void EnableLineSpeaker(int32_t flag);                                                   // 46
    virtual int LinkTo(int32_t line, int32_t mode);                                                 // 47
    virtual int UnlinkTo(int32_t line, int32_t mode);                                               // 48
    virtual int UnlinkAll();                                                                        // 49
    virtual int ListenTo(int32_t line, int32_t mode);                                               // 50
    virtual int GetLinkList(std::vector<int32_t>& lines, std::vector<int32_t>& listen,
                            std::vector<int32_t>& modes);                                            // 51
    virtual int SetBreak(int32_t flag);                                                              // 52
    virtual int Dial(const char* number);                                                            // 53
    virtual int ImSend(const char* dest, const char* type, const char* body, int32_t length);        // 54
    virtual int ImTest();                                                                            // 55
    virtual int ImRead(std::string& a, std::string& b, std::string& c, std::string& d);              // 56
    virtual int ImRecv(std::string& text, int32_t& handle);                                          // 57
    virtual int ImMsgGetField(int32_t handle, const char* name, const char* part, std::string& out); // 58
    virtual int ImMakeAns(int32_t handle, int32_t code, const char* t1, const char* t2, const char* t3,
                          const char* t4);                                           // 59
    virtual int ImMsgFree(int32_t handle);                                           // 60
    virtual int ImMakeReq(const std::array<const char*, 8>& texts, std::string& id); // 61
    virtual int ImFileSend(const char* path, std::string& id, int32_t& handle, std::string& out4, int32_t& out5,
                           std::string& out6); // 62
    virtual int ImFileRecv(int32_t v1, const char* t2, int32_t v3, int32_t& handle, std::string& o5, std::string& o6,
                           std::string& o7, int32_t& o8, std::string& o9);                        // 63
    virtual int ImFileCheck(int32_t handle, int32_t& a, int32_t& b);                              // 64
    virtual int ImFileEnd(int32_t handle);                                                        // 65
    virtual int ImFileProcAnswer(const char* offer);                                              // 66
    virtual int CheckDial();                                                                      // 67
    virtual int MakeRing(const char* text);                                                       // 68
    virtual int GetHookState();                                                                   // 69
    virtual int TransferTo(const char* number);                                                   // 70
    virtual int IsOnline();                                                                       // 71
    virtual int LinkMedia(TagKvCall* other);                                                      // 72
    virtual int UnlinkMedia();                                                                    // 73
    virtual int StartRtp();                                                                       // 74
    virtual int EndRtp();                                                                         // 75
    virtual int GetCallType();                                                                    // 76
    virtual int SendFskMsg(int32_t type, const char* text, int32_t flags);                        // 77
    virtual int RecvFskMsg(int32_t& type, std::string& text, int32_t seconds);                    // 78
    virtual int SipGetDestAddr(const char* text, std::string& out);                               // 79
    virtual int SipGetAccAddr(const char* t1, const char* t2, std::string& out, int32_t& number); // 80
    virtual int SipSetDialRoute(const char* source, const char* dest);                            // 81
    virtual int SipGetRtpCount(int32_t& received, int32_t& sent);                                 // 82
    virtual int SipOnGetAccPwd(SipAccPwdFn fn);                                                   // 83
    virtual int SipOnGetAccPwdIp(SipAccPwdIpFn fn);                                               // 84
    virtual int SipOnRegisterNotify(SipRegisterNotifyFn fn);                                      // 85
    virtual int CreateConfRoom(int32_t& kind, int32_t& session);                                  // 86
    virtual int JoinConfRoom(int32_t session, int32_t kind, int32_t listen);                      // 87
    virtual int ExitConfRoom(int32_t session, int32_t kind);                                      // 88
    virtual int DeleteConfRoom(int32_t session, int32_t kind);                                    // 89
    virtual int RecConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle);    // 90
    virtual int StopRecConfRoom(int32_t session, int32_t kind, int32_t handle);                   // 91
    virtual int SipRecCh(int32_t channel, const char* file, int32_t& handle);                     // 92
    virtual int StopSipRecCh(int32_t handle);                                                     // 93
    virtual int PlayConfRoom(int32_t session, int32_t kind, const char* file, int32_t& handle);   // 94
    virtual int IsPlayConfRoomEnd(int32_t session, int32_t kind, int32_t handle);                 // 95
    virtual int StopPlayConfRoom(int32_t session, int32_t kind, int32_t handle);                  // 96
    virtual int SipProxyRecv(std::string& t1, std::string& t2, int32_t& n, std::string& t3);      // 97
    // third may be null (no third text).
    virtual int SipProxyGetField(int32_t msg, const char* name, const char* third, std::string& out); // 98
    virtual int SipProxyAddField(int32_t msg, const char* name, const char* value, int32_t n);        // 99
    virtual int SipProxyRemoveField(int32_t msg, const char* name);                                   // 100
    virtual int SipProxySend(int32_t msg, const char* text);                                          // 101
    virtual int SipProxySendEx(int32_t msg, const char* text, int32_t n);                             // 102
    virtual int SipProxyDirAns(int32_t msg, int32_t code, const char* text);                          // 103
    virtual int SipProxySendKeepAlives(const char* t1, const char* t2);                               // 104
    virtual int SipUnregisterSpecUser(const char* user);                                              // 105
    virtual int SipSetRtpAddr(const char* addr, int32_t port, const char* sdp);                       // 106
    virtual int SetSigPara(int32_t kind, int32_t value);                                              // 107
    virtual int SetDialExText(int32_t kind, const char* text);                                        // 108
    virtual int SipGetAccStat(const char* account);                                                   // 109
    virtual int IsMediaOk();                                                                          // 110
    virtual int GetChState();                                                                         // 111
    virtual ~TagKvCall();                                                                             // 112

    // ---- Named conference rooms (TagNameConf.cpp); the line's own thread.
    // The room's member count after joining (1 or more); -2 the driver could not create the session, -3 it
    // refused the join.
    int JoinNameConf(const char* room, int32_t listen);
    // The session of the room left; 0 when the line was in none.
    int ExitNameConf();
    // The member count of the room with each member's listen flag by line (0 and none: no such room).
    int GetConfNum(const char* room, std::map<int32_t, int32_t>& members);
    // 1 with the room name and listen flag of the line's room, else 0.
    int IsInConf(int32_t line, std::string& room, int32_t& listen);
    // The recording handle; -1 no such room, -2 already recorded, -3 the driver refused.
    int RecConf(const char* room, const char* file);
    // The play handle; -1 no such room, -2 already playing, -3 the driver refused. With wait set it returns when
    // the play has ended, the call has ended or the line is stopped, and stops the play.
    int PlayConf(const char* room, const char* file, int32_t wait);
    // Waits until done() holds, the call is stopped or ms of Clock time pass (WakeEvent::kForever: no limit); true
    // when done() held. done() is asked again whenever the line is woken, so a done() that calls IsOnline sees a
    // hang-up as soon as the driver signals it. Lines whose media keep their own time (the card's) wake to look
    // when it is due.
    virtual bool WaitUntil(const std::function<bool()>& done, int64_t ms = WakeEvent::kForever);
    // The line that joined this line's media to its own (a SIP line's session) let go of it, by its unlink or its
    // hang-up: the bridge ends, and with it what the line records of links made through it.
    virtual void DropMediaPeer();
    // 0 started (or an empty file), the milliseconds since the member's recording started when it records
    // already, -1 the line is not a member of the room, -3 the driver refused.
    int RecConfCh(const char* room, int32_t line, const char* file);

    // Copies the line name, cut to kNameLen bytes without splitting a double-byte character.
    void SetName(const char* name);
    const std::string& Name() const { return name; }

    // Call state 1 with the connect time set to now.
    void MarkConnected();
    // Milliseconds of Clock time until IsOnline would hang the call up on the maximum talk time (0 when due),
    // WakeEvent::kForever when no limit runs. A wait of the line ends by then, so the limit holds while it waits.
    int64_t TalkTimeLeftMs() const;

    // Raw signalling data: what the script supplies to send (-2 over 300 bytes, else the count) and what the
    // driver keeps of a received message (-2 over 300 bytes, buffer unchanged).
    int32_t SetSigRawData(const uint8_t* data, int32_t n);
    int32_t KeepSigMessage(const uint8_t* data, int32_t n);
    // The received bytes (empty when none); both lengths cleared when there were some.
    std::string TakeSigReceived();

    // Fields, in the order of the line's record.
    std::string name;                    // line name, copied from the line entry
    std::atomic<int32_t> blockValue{0};  // shared: channel blocked or out of service
    int32_t prevState = kCallNone;       // state seen by the last IsOnline
    std::atomic<int32_t> maxTalkTime{0}; // seconds, 0 = none
    std::atomic<int32_t> connectTime{0}; // shared: calendar seconds when the state became 1
    uint8_t nobkringAns = 0;
    int32_t level[3] = {100, 100, 100}; // first, play (PC player volume), second
    uint8_t lineClosed = 0;
    uint8_t breakOnKey = 1;
    int32_t speechMode = 0; // copy of the script's speech mode
    std::string keyBuf;     // DTMF keys received and not yet taken (kKeyBufLen)
    int32_t keyCount[2] = {0, 0};
    int32_t keyTime = 0;                   // inter-key seconds, 0 = no limit
    std::atomic<int32_t> dialFailMark{0};  // SetDialFailedTo
    std::unique_ptr<TagPcPlayer> pcPlayer; // sound-card player of the base play operations
    TagKvCard* card = nullptr;             // the driver
    uint8_t playing = 0;
    std::string playFile; // file of the last loop play
    uint32_t playStartTick = 0;
    int32_t playCounter = 0; // 8 kHz samples played
    std::string callerId, calleeId, callerIdToSend, subAddr1, subAddr2;
    std::string firstCalleeToSend;
    int32_t firstCalleeAttr = 0;
    TagCfgTones tones;
    int32_t dialOn[2] = {0, 0};                  // the two driver values (SetDialOn)
    std::atomic<int32_t> mediaChannel{0};        // shared: media library channel handle
    std::atomic<TagKvCall*> linkedCall{nullptr}; // shared: written by the link operations of other lines
    int32_t callType = 0;
    int32_t hangupCause = 0;
    int32_t recPos = 0;
    std::atomic<bool> confClosed{false}; // shared: set when the last member leaves a named room ("IsLastExitConf")
    int32_t sigPara[2] = {-1, -1};       // SetSigPara kinds 1 and 2
    uint8_t sigRaw[kSigRawLen] = {};
    int32_t sigRecvLen = 0;  // bytes of the last message kept by the driver
    int32_t sigSendLen = 0;  // bytes the script supplied
    int32_t cause = 0;       // release cause of the last failed dial
    uint8_t bci[2] = {0, 0}; // backward call indicators of the last ACM

protected:
    // Opens the file on the PC player (re-opening an existing one) with the play level, the player waking the
    // line when it finishes; false when it fails (the player is then gone).
    bool OpenPcPlayer(const char* file);
};

// Calendar seconds, as the connect time holds them.
int32_t CalendarNow();

} // namespace zz
