#pragma once
// The simulated card: every channel is a small state machine on the Clock, driven by the card driver's calls and
// by the far end, which is whoever speaks on the control port (CardControl.h) or calls the far-end operations
// below directly. It plays and records real voice files (8-bit A-law at 8 kHz), queues DTMF and FSK frames, keeps
// talk links and conference groups, takes and delivers fax documents as TIFF files, and writes a journal of
// every library call with its arguments and result. Any call can be made to fail on demand.
//
// Its configuration is the file handed to SsmStartCti (ShConfig.ini in the card folder):
//   ChannelTypes=0,0,11*2,5   channel types in channel order; "t*n" repeats a type n times
//   ControlPort=0             port of the control port on 127.0.0.1 (0: any free port; -1: none); the port
//                             taken is written to ControlPort.txt beside the file
//   PendingMode=0             what the pending-call mode query answers
//   FaxPageMs=3000            how long one fax page takes
//   Journal=journal.txt       also append the journal to this file (relative to the card folder)
#include "telephony/card/CardLib.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zz {

class CardControl;

class CardSim final : public CardLib {
public:
    CardSim();
    ~CardSim() override;

    // ---- Far end and test side (the control port's commands; see README.md)
    // What the far end may leave waiting on one channel; more is refused (-1), so that no sender fills memory.
    // A far-end operation that refuses returns -1 and leaves its reason in FarRefusal().
    static constexpr uint32_t kMaxFarSoundMs = 600000; // sound not yet heard
    static constexpr size_t kMaxFarKeys = 256, kMaxFarFsk = 64, kMaxFarFaxes = 16, kMaxFailures = 256;
    bool HasChannel(int32_t ch);
    // Why the calling thread's last refused far-end operation was refused ("channel 3 is not idle").
    static std::string FarRefusal();
    // Offers an incoming call: analogue channels ring with the caller id as an FSK burst, ISUP trunks get an
    // initial address message built from the numbers, other digital trunks a pending call with the numbers.
    int32_t Ring(int32_t ch, const std::string& caller, const std::string& called);
    // Offers an incoming ISUP call whose initial address message is the given image (routing label first).
    int32_t RingIsup(int32_t ch, const std::vector<uint8_t>& iam);
    // Offers an analogue call with a raw caller-id burst.
    int32_t RingFsk(int32_t ch, const std::vector<uint8_t>& burst);
    int32_t SendDtmf(int32_t ch, const std::string& digits);
    int32_t FarHangup(int32_t ch);
    // Progress of the channel's outgoing call.
    int32_t FarAlert(int32_t ch);
    int32_t FarAnswer(int32_t ch);
    int32_t FarReject(int32_t ch, int32_t cause);
    int32_t FarBusy(int32_t ch);
    int32_t FarNoAnswer(int32_t ch);
    int32_t FarNoDialTone(int32_t ch);
    // Delivers an address-complete message (routing label first) to an outgoing ISUP call: ringback.
    int32_t FarAcm(int32_t ch, const std::vector<uint8_t>& acm);
    int32_t SetHook(int32_t ch, bool offHook);
    int32_t DeliverFsk(int32_t ch, const std::vector<uint8_t>& frame);
    // Audio the far end speaks into the channel, from a voice file or as 8-bit A-law bytes. A hang-up of the far
    // end drops what it has not yet been heard.
    int32_t FeedAudio(int32_t ch, const std::string& file);
    int32_t FeedBytes(int32_t ch, const std::vector<uint8_t>& alaw);
    // A document waits to be received on the channel: a TIFF file of bilevel pages, as a fax channel sends.
    int32_t QueueFax(int32_t ch, const std::string& tiff);
    int32_t PolarityReversal(int32_t ch);
    // Error injection: after `skip` more calls, the next `times` calls of the function return result (times 0:
    // every call). -1 when kMaxFailures other functions already fail.
    int32_t Fail(const std::string& function, int32_t result, int32_t times, int32_t skip = 0);
    void ClearFailures();

    // ---- What the channel did
    struct Report {
        int32_t type = 0, state = 0;
        std::string dialled, txCallerId, ringText, dtmfSent;
        std::vector<std::string> played, faxSent;
        std::vector<std::vector<uint8_t>> isupSent, fskSent;
        std::vector<int32_t> talk; // channels it talks with
        int32_t group = -1, groupMode = -1;
    };
    std::optional<Report> Channel(int32_t ch);
    // The A-law bytes the channel played (files, memory and blocks) since the last call; cleared.
    std::vector<uint8_t> TakeOutput(int32_t ch);
    // The journal: one "Name(args) = result" line per library call, oldest first; the last n when n > 0.
    std::vector<std::string> Journal(size_t n = 0);
    void ClearJournal();
    int32_t ControlPort() const override;
    std::string Folder() const { return folder_; }

    // ---- CardLib
    int32_t SsmStartCti(const char* cfgFile, const char* indexFile) override;
    int32_t SsmCloseCti() override;
    std::string SsmGetLastErrMsg() override;
    int32_t SsmGetMaxCh() override;
    int32_t SsmGetChType(int32_t ch) override;
    int32_t SsmGetChState(int32_t ch) override;
    void SetChannelWake(int32_t ch, WakeEvent* wake) override;
    uint64_t ChannelEvents(int32_t ch) override;
    int64_t NextDue(int32_t ch) override;
    int32_t SsmGetPendingMode(int32_t ch) override;
    int32_t SsmGetPendingReason(int32_t ch) override;
    int32_t SsmAcceptPending(int32_t ch, int32_t flag) override;
    int32_t SsmCompletePending(int32_t ch, int32_t flag) override;
    int32_t SsmPickup(int32_t ch) override;
    int32_t SsmHangup(int32_t ch) override;
    int32_t SsmAnswer(int32_t ch, int32_t charge) override;
    int32_t SsmSetKB(int32_t ch, int32_t value) override;
    int32_t SsmIsupRelease(int32_t ch, int32_t cause) override;
    int32_t SsmClearCall(int32_t ch) override;
    int32_t SsmSetTxCallerId(int32_t ch, const char* number) override;
    int32_t SsmSetTxOriginalCallee(int32_t ch, const char* number) override;
    int32_t SsmSetCallerSubAddr(int32_t ch, const char* text) override;
    int32_t SsmSetCalleeSubAddr(int32_t ch, const char* text) override;
    int32_t SsmPreDial(int32_t ch) override;
    int32_t SsmAutoDial(int32_t ch, const char* number) override;
    int32_t SsmAutoDialEx(int32_t ch, const char* number, int32_t para) override;
    int32_t SsmChkAutoDial(int32_t ch) override;
    int32_t SsmGetReleaseCause(int32_t ch) override;
    int32_t SsmGetIsupCause(int32_t ch) override;
    int32_t SsmGetFailCause(int32_t ch) override;
    int32_t SsmGetPolarRvrsCount(int32_t ch) override;
    int32_t SsmGetCallerId(int32_t ch, std::string& out) override;
    int32_t SsmGetCallerSubAddr(int32_t ch, std::string& out) override;
    int32_t SsmGetCalleeId(int32_t ch, std::string& out) override;
    int32_t SsmGetCalleeSubAddr(int32_t ch, std::string& out) override;
    int32_t SsmGetOriginalCallee(int32_t ch, std::string& out) override;
    int32_t SsmGetHookState(int32_t ch) override;
    int32_t SsmGetHookCount(int32_t ch) override;
    int32_t SsmRingExt(int32_t ch) override;
    int32_t SsmRingExtWithText(int32_t ch, const char* text, int32_t len, int32_t ms) override;
    int32_t SsmSetSignalling(int32_t ch, int32_t on) override;
    int32_t SsmSetIsupChannel(int32_t ch, int32_t value) override;
    int32_t SsmSetAnalogPara(int32_t ch, int32_t which, int32_t value) override;
    int32_t SsmGetIsupUPPara(int32_t ch, int32_t kind, int32_t& len, uint8_t* buf) override;
    int32_t SsmSetIsupUPPara(int32_t ch, int32_t kind, int32_t len, const uint8_t* buf) override;
    int32_t SsmSendIsupMsg(int32_t ch, int32_t kind) override;
    int32_t SsmPlayFile(int32_t ch, const char* file, int32_t format, int32_t from, int32_t to) override;
    int32_t SsmCheckPlay(int32_t ch) override;
    int32_t SsmStopPlay(int32_t ch) override;
    int32_t SsmPlayMem(int32_t ch, int32_t format, const uint8_t* data, int32_t len, int32_t from, int32_t to) override;
    int32_t SsmStopPlayMem(int32_t ch) override;
    int32_t SsmSetPlayNoBreak(int32_t ch, int32_t on) override;
    int32_t SsmSetBreakOnKey(int32_t ch, int32_t on) override;
    int32_t SsmSetGain(int32_t ch, int32_t which, int32_t gain) override;
    int32_t SsmRecToFile(int32_t ch, const char* file, int32_t format, int32_t recFormat, int32_t pos, int32_t limitMs,
                         int32_t mode, CardBlockFn cb, void* data) override;
    int32_t SsmCheckRecord(int32_t ch) override;
    int32_t SsmStopRecord(int32_t ch) override;
    int32_t SsmSpyRecToFile(int32_t ch, int32_t what, const char* file, int32_t format, int32_t a, int32_t b,
                            int32_t limitMs, int32_t mode) override;
    int32_t SsmStopSpyRecord(int32_t ch) override;
    int32_t SsmSetRecMixer(int32_t ch, int32_t on, int32_t gain) override;
    int32_t SsmRecordMem(int32_t ch, int32_t format, uint8_t* buf, int32_t size, int32_t a) override;
    int32_t SsmGetRecordMemBytes(int32_t ch) override;
    int32_t SsmStopRecordMem(int32_t ch) override;
    int32_t SsmRecordMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb,
                              void* data) override;
    int32_t SsmPlayMemBlock(int32_t ch, int32_t format, uint8_t* block, int32_t size, CardBlockFn cb,
                            void* data) override;
    int32_t SsmStopPlayMemBlock(int32_t ch) override;
    int32_t SsmStopRecordMemBlock(int32_t ch) override;
    int32_t SsmGetRxDtmfLen(int32_t ch) override;
    int32_t SsmGetRxDtmf(int32_t ch, std::string& out) override;
    int32_t SsmClearRxDtmf(int32_t ch) override;
    int32_t SsmTxDtmf(int32_t ch, const char* digits) override;
    int32_t SsmChkTxDtmf(int32_t ch) override;
    int32_t SsmPrepareLink(int32_t ch) override;
    int32_t SsmTalkWithEx(int32_t ch, int32_t gain, int32_t other, int32_t otherGain) override;
    int32_t SsmStopTalkWith(int32_t ch, int32_t other) override;
    int32_t SsmCreateConfGroup(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int32_t SsmFreeConfGroup(int32_t group) override;
    int32_t SsmJoinConfGroup(int32_t group, int32_t ch, int32_t mode, int32_t gain, int32_t a, int32_t b) override;
    int32_t SsmExitConfGroup(int32_t ch, int32_t a) override;
    int32_t SsmFaxStartSend(int32_t ch, const char* file) override;
    int32_t SsmFaxStartRecv(int32_t ch, const char* file) override;
    int32_t SsmFaxStop(int32_t ch) override;
    int32_t SsmFaxCheckEnd(int32_t ch) override;
    int32_t SsmFaxGetPages(int32_t ch) override;
    int32_t SsmFaxSetLocalId(int32_t ch, const char* id) override;
    int32_t SsmFskConvert(const uint8_t* frame, int32_t len, int32_t value, int32_t b, uint8_t* out,
                          int32_t outSize) override;
    int32_t SsmStartSendFSK(int32_t ch, const uint8_t* buf, int32_t len) override;
    int32_t SsmChkSendFsk(int32_t ch) override;
    int32_t SsmStopSendFsk(int32_t ch) override;
    int32_t SsmStartRcvFSK_II(int32_t ch, uint16_t timeoutMs, int32_t b, const char* mark, int32_t c) override;
    int32_t SsmChkRcvFsk(int32_t ch) override;
    int32_t SsmGetRcvFsk(int32_t ch, uint8_t* buf, int32_t size) override;
    int32_t SsmStopRcvFsk(int32_t ch) override;

    struct Chan; // one channel's state (CardSim.cpp)

private:
    using Lock = std::unique_lock<std::recursive_mutex>;
    // A callback to run once the lock is released.
    using Deferred = std::vector<std::function<void()>>;

    Chan* At(int32_t ch); // null out of range
    // Brings the channel's timed work up to now (plays and recordings ending, blocks recorded, fax done).
    void Advance(Chan& c, Deferred& later);
    void Notify(Chan& c);
    int32_t FarFailure(int32_t ch, int32_t progress, int32_t cause);
    std::vector<Chan*> HearersOf(Chan& c); // a change from outside the line: count it and wake the line
    std::optional<int32_t> Injected(const char* fn);
    template <class... A> int32_t Note(const char* fn, int32_t result, const A&... args); // CardSimCall.h
    void AddJournal(std::string line);
    int ReadConfig(const std::string& file); // 0, or the errno of a file that cannot be read
    void EndRecording(Chan& c);
    void EndFax(Chan& c);
    void PumpBlocks();
    void WakePump();
    int32_t BadChannel(const char* fn, int32_t ch);

    mutable std::recursive_mutex m_;
    std::vector<std::unique_ptr<Chan>> chans_;
    std::map<int32_t, std::vector<int32_t>> groups_; // conference group -> members
    int32_t nextGroup_ = 1;
    struct Failure {
        int32_t result, times, skip;
    };
    std::map<std::string, Failure> failures_;
    std::deque<std::string> journal_;
    std::string journalFile_;
    std::string lastError_;
    std::string folder_;
    int32_t pendingMode_ = 0;
    int32_t faxPageMs_ = 3000;
    int32_t controlPortWanted_ = 0;
    bool started_ = false;
    std::unique_ptr<CardControl> control_;
    // The memory-block pump: a thread of the library's own that circulates the blocks every 40 ms.
    std::thread pump_;
    std::mutex pumpM_;
    std::condition_variable pumpCv_;
    std::condition_variable_any blocksDone_; // with m_: a channel's callbacks in flight went down
    bool pumpStop_ = false;                  // under pumpM_
    uint64_t pumpKick_ = 0;                  // under pumpM_: grows with every block handed over
};

} // namespace zz
