#pragma once
// The driver of the virtual lines: VIR_LINES_NUM lines on the PC's sound card, named "VirtualLine%d#" (English)
// or "虚拟线路%d#", each with a TagVirCall.
#include "telephony/TagTelDrive.h"

namespace zz {

class TagVirCard : public TagBaseVirCard {
public:
    using TagBaseVirCard::TagBaseVirCard;
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override;
    // The sound device the lines play, record and bridge on, when it does not open.
    std::string Shortfall() override;
};

// The line manager's maker of the virtual driver.
std::unique_ptr<TagKvCard> MakeVirDrive(TagRunCfg* cfg);

} // namespace zz
