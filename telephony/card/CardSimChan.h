#pragma once
// One channel of the simulated card, and the helpers its two source files share. Internal to CardSim.
#include "telephony/card/CardSim.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace zz {

class WakeEvent;

struct CardSim::Chan {
    int32_t no = 0;
    int32_t type = 0;
    int32_t state = kChIdle;
    int32_t pendingReason = 0;
    WakeEvent* wake = nullptr;
    uint64_t events = 0;

    // ---- The call
    std::string caller, called, callerSub, calleeSub, originalCallee;
    std::vector<uint8_t> cidBurst;  // analogue caller id as received (FSK message)
    std::vector<uint8_t> iamIn;     // initial address message of the offered call
    std::vector<uint8_t> acmIn;     // address-complete message of the outgoing call
    std::vector<uint8_t> upPara[2]; // images set by the driver: [0] IAM, [1] ACM
    std::vector<std::vector<uint8_t>> isupSent;
    std::string txCallerId, txOriginalCallee, dialled, ringText;
    int32_t progress = 0; // auto-dial progress, 0 when not dialling
    int32_t releaseCause = 0, isupCause = 0, failCause = 0, polarCount = 0;
    int32_t hook = 0, hookCount = 0; // extensions: 1 off hook
    int32_t signalling = 1;

    // ---- Voice
    bool playOn = false, playEnded = false;
    uint32_t playStart = 0, playMs = 0;
    std::vector<uint8_t> output; // what the channel played, A-law
    std::vector<std::string> played;
    std::deque<uint8_t> input; // what the far end says, A-law
    bool recOn = false, recEnded = false;
    std::string recFile;
    uint32_t recStart = 0, recLimit = 0, recDoneMs = 0;
    CardBlockFn recCb = nullptr;
    void* recData = nullptr;
    std::vector<uint8_t> recBytes;
    std::vector<uint8_t> cbBlock; // the block handed to the record callback
    uint8_t* memRec = nullptr;    // colour-ring buffer of the driver
    int32_t memRecSize = 0, memRecBytes = 0;
    uint32_t memRecStart = 0;
    struct Block {
        uint8_t* data;
        int32_t size;
        CardBlockFn cb;
        void* user;
    };
    std::deque<Block> recBlocks, playBlocks; // memory blocks circulating through the pump
    // A stop raises its chain's epoch: a callback of a block taken before it may not hand the block back.
    uint32_t recEpoch = 0, playEpoch = 0;
    int32_t blocksInFlight = 0; // the pump's callbacks of this channel running now

    // ---- DTMF
    std::string rxDtmf, txDtmf, dtmfSent;
    uint32_t txDtmfEnd = 0;

    // ---- Links and conference
    std::set<int32_t> talk;
    int32_t group = -1, groupMode = -1;

    // ---- Fax
    int32_t faxMode = 0; // 1 sending, 2 receiving
    std::string faxFile, faxLocalId;
    uint32_t faxStart = 0, faxMs = 0;
    int32_t faxEnd = 0, faxPages = 0;
    bool faxSettled = false;
    std::deque<std::string> faxInbox;
    std::vector<std::string> faxSent;

    // ---- FSK
    std::deque<std::vector<uint8_t>> fskIn;
    std::vector<std::vector<uint8_t>> fskSent;
    bool fskTxOn = false;
    uint32_t fskTxEnd = 0;
    bool fskRxOn = false;
    uint32_t fskRxStart = 0, fskRxTimeout = 0;
    std::vector<uint8_t> fskRx;
};

// Callbacks of the driver that the library calls once its lock is released (declared before the lock, so it
// runs them after the lock's destructor).
struct RunLater {
    std::vector<std::function<void()>> fns;
    RunLater() = default;
    RunLater(const RunLater&) = delete;
    RunLater& operator=(const RunLater&) = delete;
    ~RunLater() {
        for (auto& f : fns)
            f();
    }
};

// Milliseconds of 8 kHz A-law bytes, and back.
inline uint32_t BytesToMs(size_t bytes) {
    return uint32_t(bytes / 8);
}
inline size_t MsToBytes(uint32_t ms) {
    return size_t(ms) * 8;
}
constexpr uint8_t kAlawSilence = 0xD5;

// A far-end operation refuses: the reason is kept for CardSim::FarRefusal(); -1.
int32_t FarRefuse(std::string why);
int32_t FarNoChannel(int32_t ch);

// Writes 8-bit A-law bytes as a RIFF WAVE file; false when it cannot be written. The FILE* form writes into an
// open file and closes it.
bool WriteAlawWav(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteAlawWav(std::FILE* f, const std::vector<uint8_t>& bytes);
// The A-law bytes of a voice file of any format the media layer reads; false when it cannot be read.
bool ReadVoiceAlaw(const std::string& path, std::vector<uint8_t>& out);
// Pages of a TIFF file; 0 when it is not one. bilevel: also 0 when a page is not one bit a pixel.
int32_t TiffPages(const std::string& path, bool bilevel = false);

} // namespace zz
