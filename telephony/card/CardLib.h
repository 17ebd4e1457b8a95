#pragma once
// The card library as the card driver calls it: channels, call control, ISUP user-part messages, voice, DTMF,
// links and conference groups, fax and FSK. Functions the driver's log texts name keep those names; the others
// are named for their role. The simulated card (CardSim.h) is the one implementation on Linux.
//
// Waiting: the driver never polls. A channel's changes (a ring, a key, a far-end release, a play that ended)
// bump its event count and signal the wake event the driver registered for the channel; changes that happen by
// time alone (a play reaching its end, a recording's limit) are announced by NextDue, so a line waits on its wake
// event bounded by the next due time and its own deadline, all on the Clock.
#include <cstdint>
#include <string>

namespace zz {

class WakeEvent;

// Channel states the driver relies on.
enum : int32_t {
    kChIdle = 0,
    kChRinging = 2,
    kChTalking = 3,
    kChPending = 7, // an incoming call waiting to be completed; while talking: the far end released
    kChReleased = 8,
    kChAddressComplete = 9,
    kChBlocked = 11,
};

// Progress codes of the auto-dial check.
enum : int32_t {
    kDialError = -1,
    kDialRunning = 1,
    kDialNoDialTone = 3,
    kDialBusy = 4,
    kDialConnected = 7,
    kDialNoAnswer = 10,
    kDialFailCause = 11,
    kDialRejected = 12,
    kDialRingback = 14,
};

// Pending reason of an offered incoming call.
constexpr int32_t kPendingIncoming = 10;
// ISUP message kinds of the user-part parameters.
constexpr int32_t kIsupIam = 1;
constexpr int32_t kIsupAcm = 6;
// File and block format of every voice call: 8-bit A-law.
constexpr int32_t kVocFormat = 6;
// Fax end check: 1 sent or received, 2 failed, 3 still settling (ask again).
constexpr int32_t kFaxEnded = 1, kFaxFailed = 2, kFaxSettling = 3;
// Callback events of the memory-block and record callbacks.
constexpr int32_t kBlockPlayed = 1, kBlockRecorded = 4;

// Block callback: the library hands a block back (played, or filled by recording). Returns 1 to keep the block
// circulating, 0 to end its chain. Runs on the library's threads.
using CardBlockFn = int (*)(int32_t ch, int32_t event, uint8_t* block, int32_t count, void* data);

class CardLib {
public:
    virtual ~CardLib() = default;

    // ---- Start, channels, waiting
    virtual int32_t SsmStartCti(const char* cfgFile, const char* indexFile) = 0;
    virtual int32_t SsmCloseCti() = 0;
    virtual std::string SsmGetLastErrMsg() = 0;
    virtual int32_t SsmGetMaxCh() = 0;
    virtual int32_t SsmGetChType(int32_t ch) = 0;
    virtual int32_t SsmGetChState(int32_t ch) = 0;
    // The event the driver's line waits on for this channel (null: none).
    virtual void SetChannelWake(int32_t ch, WakeEvent* wake) = 0;
    // Grows with every change of the channel made from outside its line.
    virtual uint64_t ChannelEvents(int32_t ch) = 0;
    // Milliseconds of Clock time until the channel changes by itself; -1 when nothing is due.
    virtual int64_t NextDue(int32_t ch) = 0;
    // The port on 127.0.0.1 where the card's far end is driven (the simulated card's control port); -1 when none.
    virtual int32_t ControlPort() const { return -1; }

    // ---- Call control
    virtual int32_t SsmGetPendingMode(int32_t ch) = 0;   // 0: the driver completes pending calls itself
    virtual int32_t SsmGetPendingReason(int32_t ch) = 0; // kPendingIncoming for an offered call
    virtual int32_t SsmAcceptPending(int32_t ch, int32_t flag) = 0;
    virtual int32_t SsmCompletePending(int32_t ch, int32_t flag) = 0;
    virtual int32_t SsmPickup(int32_t ch) = 0;
    virtual int32_t SsmHangup(int32_t ch) = 0; // on hook
    virtual int32_t SsmAnswer(int32_t ch, int32_t charge) = 0;
    virtual int32_t SsmSetKB(int32_t ch, int32_t value) = 0;
    virtual int32_t SsmIsupRelease(int32_t ch, int32_t cause) = 0;
    virtual int32_t SsmClearCall(int32_t ch) = 0; // the last step of every release
    virtual int32_t SsmSetTxCallerId(int32_t ch, const char* number) = 0;
    virtual int32_t SsmSetTxOriginalCallee(int32_t ch, const char* number) = 0;
    virtual int32_t SsmSetCallerSubAddr(int32_t ch, const char* text) = 0;
    virtual int32_t SsmSetCalleeSubAddr(int32_t ch, const char* text) = 0;
    virtual int32_t SsmPreDial(int32_t ch) = 0;
    virtual int32_t SsmAutoDial(int32_t ch, const char* number) = 0;
    virtual int32_t SsmAutoDialEx(int32_t ch, const char* number, int32_t para) = 0;
    virtual int32_t SsmChkAutoDial(int32_t ch) = 0;
    virtual int32_t SsmGetReleaseCause(int32_t ch) = 0;
    virtual int32_t SsmGetIsupCause(int32_t ch) = 0;
    virtual int32_t SsmGetFailCause(int32_t ch) = 0;
    virtual int32_t SsmGetPolarRvrsCount(int32_t ch) = 0;
    virtual int32_t SsmGetCallerId(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmGetCallerSubAddr(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmGetCalleeId(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmGetCalleeSubAddr(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmGetOriginalCallee(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmGetHookState(int32_t ch) = 0; // extensions: 0 on hook
    virtual int32_t SsmGetHookCount(int32_t ch) = 0;
    virtual int32_t SsmRingExt(int32_t ch) = 0;
    virtual int32_t SsmRingExtWithText(int32_t ch, const char* text, int32_t len, int32_t ms) = 0;
    virtual int32_t SsmSetSignalling(int32_t ch, int32_t on) = 0;
    virtual int32_t SsmSetIsupChannel(int32_t ch, int32_t value) = 0;
    virtual int32_t SsmSetAnalogPara(int32_t ch, int32_t which, int32_t value) = 0;

    // ---- ISUP user-part messages: a message image (routing label first) of kind kIsupIam or kIsupAcm
    // len: in the buffer's size, out the message length; 1 when a message was there.
    virtual int32_t SsmGetIsupUPPara(int32_t ch, int32_t kind, int32_t& len, uint8_t* buf) = 0;
    virtual int32_t SsmSetIsupUPPara(int32_t ch, int32_t kind, int32_t len, const uint8_t* buf) = 0;
    virtual int32_t SsmSendIsupMsg(int32_t ch, int32_t kind) = 0;

    // ---- Voice
    virtual int32_t SsmPlayFile(int32_t ch, const char* file, int32_t format, int32_t from, int32_t to) = 0;
    virtual int32_t SsmCheckPlay(int32_t ch) = 0; // non-zero when the play (file or memory) has ended
    virtual int32_t SsmStopPlay(int32_t ch) = 0;
    virtual int32_t SsmPlayMem(int32_t ch, int32_t format, const uint8_t* data, int32_t len, int32_t from,
                               int32_t to) = 0;
    virtual int32_t SsmStopPlayMem(int32_t ch) = 0;
    virtual int32_t SsmSetPlayNoBreak(int32_t ch, int32_t on) = 0;
    virtual int32_t SsmSetBreakOnKey(int32_t ch, int32_t on) = 0;
    virtual int32_t SsmSetGain(int32_t ch, int32_t which, int32_t gain) = 0;
    // Records to a file for at most limitMs; with a callback the library hands it every block recorded.
    virtual int32_t SsmRecToFile(int32_t ch, const char* file, int32_t format, int32_t recFormat, int32_t pos,
                                 int32_t limitMs, int32_t mode, CardBlockFn cb, void* data) = 0;
    virtual int32_t SsmCheckRecord(int32_t ch) = 0; // non-zero when the recording has ended
    virtual int32_t SsmStopRecord(int32_t ch) = 0;
    virtual int32_t SsmSpyRecToFile(int32_t ch, int32_t what, const char* file, int32_t format, int32_t a, int32_t b,
                                    int32_t limitMs, int32_t mode) = 0;
    virtual int32_t SsmStopSpyRecord(int32_t ch) = 0;
    virtual int32_t SsmSetRecMixer(int32_t ch, int32_t on, int32_t gain) = 0;
    // Records into the caller's buffer (the colour-ring check).
    virtual int32_t SsmRecordMem(int32_t ch, int32_t format, uint8_t* buf, int32_t size, int32_t a) = 0;
    virtual int32_t SsmGetRecordMemBytes(int32_t ch) = 0;
    virtual int32_t SsmStopRecordMem(int32_t ch) = 0;
    virtual int32_t SsmRecordMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb,
                                      void* data) = 0;
    virtual int32_t SsmPlayMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb,
                                    void* data) = 0;
    virtual int32_t SsmStopPlayMemBlock(int32_t ch) = 0;
    virtual int32_t SsmStopRecordMemBlock(int32_t ch) = 0;

    // ---- DTMF
    virtual int32_t SsmGetRxDtmfLen(int32_t ch) = 0;
    virtual int32_t SsmGetRxDtmf(int32_t ch, std::string& out) = 0;
    virtual int32_t SsmClearRxDtmf(int32_t ch) = 0;
    virtual int32_t SsmTxDtmf(int32_t ch, const char* digits) = 0;
    virtual int32_t SsmChkTxDtmf(int32_t ch) = 0; // digits still to send

    // ---- Links and conference groups
    virtual int32_t SsmPrepareLink(int32_t ch) = 0;
    virtual int32_t SsmTalkWithEx(int32_t ch, int32_t gain, int32_t other, int32_t otherGain) = 0;
    virtual int32_t SsmStopTalkWith(int32_t ch, int32_t other) = 0;
    virtual int32_t SsmCreateConfGroup(int32_t a, int32_t b, int32_t c, int32_t d) = 0;
    virtual int32_t SsmFreeConfGroup(int32_t group) = 0;
    virtual int32_t SsmJoinConfGroup(int32_t group, int32_t ch, int32_t mode, int32_t gain, int32_t a, int32_t b) = 0;
    virtual int32_t SsmExitConfGroup(int32_t ch, int32_t a) = 0;

    // ---- Fax channels
    virtual int32_t SsmFaxStartSend(int32_t ch, const char* file) = 0;
    virtual int32_t SsmFaxStartRecv(int32_t ch, const char* file) = 0;
    virtual int32_t SsmFaxStop(int32_t ch) = 0;
    virtual int32_t SsmFaxCheckEnd(int32_t ch) = 0;
    virtual int32_t SsmFaxGetPages(int32_t ch) = 0;
    virtual int32_t SsmFaxSetLocalId(int32_t ch, const char* id) = 0;

    // ---- FSK
    // Turns a frame into the send buffer (at most outSize bytes); the send length.
    virtual int32_t SsmFskConvert(const uint8_t* frame, int32_t len, int32_t value, int32_t b, uint8_t* out,
                                  int32_t outSize) = 0;
    virtual int32_t SsmStartSendFSK(int32_t ch, const uint8_t* buf, int32_t len) = 0;
    virtual int32_t SsmChkSendFsk(int32_t ch) = 0; // 1 sent, 0 running, negative error
    virtual int32_t SsmStopSendFsk(int32_t ch) = 0;
    virtual int32_t SsmStartRcvFSK_II(int32_t ch, uint16_t timeoutMs, int32_t b, const char* mark, int32_t c) = 0;
    virtual int32_t SsmChkRcvFsk(int32_t ch) = 0; // 0 running, 1 timed out, above 1 received, negative error
    // Copies at most size received bytes; the count.
    virtual int32_t SsmGetRcvFsk(int32_t ch, uint8_t* buf, int32_t size) = 0;
    virtual int32_t SsmStopRcvFsk(int32_t ch) = 0;
};

} // namespace zz
