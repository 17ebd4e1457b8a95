#pragma once
// The call object of a virtual line: its telephone is the PC's sound card. It records from the sound card, takes
// its keys from the line's Keys column in the operator window, and links only to SIP lines, bridging the sound
// card to the SIP call's media. Everything else is the base behaviour.
#include "telephony/TagKvCall.h"
#include "telephony/virtual/VirBridge.h"

namespace zz {

class TagVirCall : public TagKvCall {
public:
    TagVirCall(int32_t index, int32_t lineNo, TagKvCard* card);
    // The bridge ends (its threads joined) before the call object goes.
    ~TagVirCall() override;

    // Ends the call's play, its link and its room, then the call.
    int Hangup() override;
    void ClearKeys() override;
    // 0 when recorded; -2 when the file cannot be created.
    int Record(const char* file, int32_t seconds, int32_t breakFlag) override;
    // The length of the line's Keys column.
    int KeysLen() override;
    // -1 for a negative line or this line; -200 for a line that is not a SIP line; else LinkMedia's result.
    int LinkTo(int32_t line, int32_t mode) override;
    // -1 for a negative line, -2 when not linked to that line; else UnlinkMedia's result.
    int UnlinkTo(int32_t line, int32_t mode) override;
    int UnlinkAll() override;
    // Starts the bridge and has the other call join its media to the bridge's channel. A failure of either
    // leaves neither behind and is returned.
    int LinkMedia(TagKvCall* other) override;
    // -1 when not linked; else the other call lets go, the bridge ends: 0.
    int UnlinkMedia() override;
    // The bridge's Start: 0, -1 (channel or sound-card input), -2 (sound-card output).
    int StartRtp() override;
    int EndRtp() override;

private:
    VirBridge bridge_{*this};
};

} // namespace zz
