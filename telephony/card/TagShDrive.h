#pragma once
// The driver of the card's lines: starts the card library with the card software's files in the card folder,
// reads Protocol.ini and Card.ini from the working directory, names every channel by its type and makes one line
// with a card call object per channel. It keeps the pool of the card's fax channels and the conference services
// that the card calls share. It has no thread of its own: every operation runs on the line that asks for it.
#include "telephony/TagKvCard.h"
#include "telephony/card/CardLib.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

class TagShCall;

// Process-wide switches of the card lines, written at start-up.
extern std::atomic<bool> _isConfEnable; // Card.ini CONF: card links may use conference groups
struct CardSettings {
    std::atomic<bool> callerIsNational{false}; // Card.ini CALLER_IS_NATION_NUM
    std::atomic<bool> makeSipConf{true};       // Card.ini MAKE_SIP_CONF
    // Routing label of the ISUP messages the driver builds. They start as zero bytes, known, and stay so:
    // the card takes the label as part of the user-part parameters.
    uint8_t dpc[3] = {0, 0, 0};
    uint8_t opc[3] = {0, 0, 0};
    std::atomic<bool> pointCodesKnown{true};
};
CardSettings& CardCfg();

// Signalling kinds named by Protocol.ini.
enum : int32_t { kSigNone = -1, kSigOther = 0, kSigSs1 = 1, kSigIsup = 2, kSigTup = 3 };

// The folder of the card software: SHCTI_APPPATH, else the folder card/ beside the program; ends with '/'.
std::string CardAppPath();
// The display name of a channel by its type ("A:%d", "U:%d", "FAX:%d"...).
std::string CardChannelName(int32_t type, int32_t ch);

class TagShDrive final : public TagKvCard {
public:
    // Starts the library; status 0 with at least one channel, else -1.
    TagShDrive(std::unique_ptr<CardLib> lib, const std::string& appPath);
    ~TagShDrive() override;

    int GetLineName(int32_t index, std::string& name) override;
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override;
    // "card control port 7060" while the card has channels and a control port.
    std::string Listening() override;

    CardLib& Lib() { return *lib_; }
    // The call object of a channel (null when none or out of range).
    TagShCall* CallAt(int32_t ch) const;

    // ---- Fax channel pool (index = position among the fax channels)
    int32_t FaxAlloc();
    int32_t FaxConnect(int32_t index, TagShCall& line); // 1 connected, else 0
    int32_t FaxStartSend(int32_t index, const char* file);
    int32_t FaxStartRecv(int32_t index, const char* file);
    int32_t FaxGetState(int32_t index);
    int32_t FaxCheckEnd(int32_t index);
    int32_t FaxPages(int32_t index);
    int32_t FaxSetParam(int32_t index, const char* value);
    // Stops the fax, waits for its end on the line (at most 10 s), ends the talk and frees the record.
    void FaxRelease(int32_t index, TagShCall& line);
    void FaxCount(int32_t& busy, int32_t& total);
    int32_t FaxChannel(int32_t index) const;

    // ---- Conference services
    int32_t CreateConfGroup();
    void FreeConfGroup(int32_t group);
    int32_t SetConfFields(int32_t ch, int32_t group, int32_t owner);
    int32_t GetConfGroup(int32_t ch);
    int32_t Unlink(int32_t ch, int32_t other, int32_t value);
    // Guards the fax records and every card conference group's members.
    std::recursive_mutex& ConfLock() { return lock_; }

    // Readers of the two option files (working directory); see the .cpp for their rules.
    static int32_t ReadProtocolIni(const char* path);
    static int32_t ReadCardIni(const char* path);

    struct FaxRec {
        uint8_t busy = 0;
        int32_t ch = -1;
    };
    int32_t _faxNum = 0;
    int32_t protocolKind = 0;
    std::vector<std::string> trunkNames;
    int32_t channelCount = 0;
    std::vector<TagShCall*> calls;
    std::vector<FaxRec> faxRecs;

private:
    int32_t StartCard(const std::string& appPath);
    void ScanFax();
    bool ValidFax(int32_t index) const { return index >= 0 && size_t(index) < faxRecs.size(); }

    std::unique_ptr<CardLib> lib_;
    std::recursive_mutex lock_;
};

// The card driver on the simulated card, as the line manager makes it; status -1 (message shown) when the
// card cannot start.
std::unique_ptr<TagKvCard> MakeCardDrive();

} // namespace zz
