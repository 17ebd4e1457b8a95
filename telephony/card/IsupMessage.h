#pragma once
// ISUP messages of the card calls: the digit packing and circuit code, the initial address message (IAM) and
// address-complete message (ACM) images the driver builds, the parse of a received ACM, and the object that
// holds the last received IAM and rewrites its numbers. An image is the routing label and circuit (10 bytes)
// followed by the message from its type byte; it never exceeds kIsupImageMax bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

constexpr int32_t kIsupImageMax = 300;
constexpr int32_t kIsupLabelLen = 10;
// Script data after the label fits the image only up to this many bytes.
constexpr int32_t kIsupScriptDataMax = kIsupImageMax - kIsupLabelLen;

// Digits two to a byte, first in the low half; "A"-"E" are 10-14, anything else 15; an odd count leaves 15 in
// the last high half.
std::vector<uint8_t> PackDigits(const std::string& digits);
// 2k - odd digits of k bytes, low half first; 15 ends the text.
std::string UnpackDigits(const uint8_t* p, int32_t k, int32_t odd);
// The three circuit bytes of a channel: 1, (trunk * 32 + time slot) mod 256, trunk / 8.
void CircuitBytes(int32_t ch, uint8_t out[3]);

// What the IAM and ACM builders need of the call.
struct IsupCallFields {
    int32_t channel = 0;
    std::string dialled, callerToSend, originalCalled;
    int32_t redirection = 0; // counter sent with the original called number
    int32_t nature = 1;      // nature of address of the calling number
    bool restricted = false; // presentation restricted
    bool charge = true;      // ACM: charge indicator
};

class IsupMessage {
public:
    IsupMessage() { Reset(); }
    void Reset();
    // Copies and parses an IAM (routing label optional): 0, or -2 when it is not an IAM. Parsing stays within
    // the n bytes given, and n is cut to the message buffer.
    int32_t Init(const uint8_t* bytes, int32_t n);
    // Rewrite the calling or called number: the new length, -1 without a parsed parameter, -2 for a number
    // refused (empty calling, fewer than 3 called digits) or one that would not fit the message.
    int32_t ReplaceCaller(const std::string& digits);
    int32_t ReplaceCalled(const std::string& digits);

    uint8_t msg[kIsupImageMax] = {};
    int32_t length = 0;
    uint8_t labelByte = 133;
    uint8_t dpc[3] = {}, opc[3] = {}, cic[3] = {};
    std::string called, calling, redirecting, originalCalled; // 29 digits at most
    int32_t redirCase = 0;
    int32_t callingOff = 0, callingEnd = 0;
    uint8_t callingNature = 0, callingSecond = 0;
    int32_t calledOff = 0, calledEnd = 0;
    uint8_t calledNature = 0, calledSecond = 0;

private:
    int32_t Rewrite(int32_t off, int32_t end, uint8_t nature, uint8_t second, const std::string& digits);
};

// The IAM image of an outgoing call: the label, then either the built message or the script's data (already
// limited to kIsupScriptDataMax bytes), with the numbers of the script's message rewritten when it loads.
std::vector<uint8_t> BuildIam(const IsupCallFields& f, const uint8_t dpc[3], const uint8_t opc[3],
                              const std::vector<uint8_t>& scriptData, std::string* log = nullptr);
// The ACM image answering the received IAM; the script's data (from its type byte 0x06) replaces the message.
std::vector<uint8_t> BuildAcm(const IsupMessage& iam, bool charge, const std::vector<uint8_t>& scriptData);

struct AcmResult {
    std::string redirNumber; // at most 31 digits
    int32_t divertCase = 0;
    int32_t status = -1;
    int32_t cause = 0;
    uint8_t bci[2] = {0, 0};
    bool bciRead = false;
};
// Parses a received ACM image within its n bytes. A known-codes flag that is clear takes the codes from the
// message (origin as destination) and sets it.
AcmResult ParseAcm(const uint8_t* m, int32_t n, bool mobile, uint8_t dpc[3], uint8_t opc[3], bool& known);

} // namespace zz
