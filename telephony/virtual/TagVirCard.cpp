#include "telephony/virtual/TagVirCard.h"

#include "platform/audio/Audio.h"
#include "telephony/virtual/TagVirCall.h"
#include "telephony/virtual/VirBridge.h"

namespace zz {

std::unique_ptr<TagTelLine> TagVirCard::MakeLine(int32_t index, int32_t lineNo) {
    if (index < 0 || index >= lineCount) return nullptr;
    return NewLine(index, lineNo, std::make_unique<TagVirCall>(index, lineNo, this));
}

std::string TagVirCard::Shortfall() {
    return AudioDeviceProblem(kWaveMapper, AlawMono8k());
}

std::unique_ptr<TagKvCard> MakeVirDrive(TagRunCfg* cfg) {
    return std::make_unique<TagVirCard>(cfg ? cfg->virLines : 1, cfg ? cfg->language : 0);
}

} // namespace zz
