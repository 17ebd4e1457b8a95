#pragma once
// The SIP line driver: starts the SIP user agent, the media engine and the MSRP engine, registers the configured
// accounts and offers 1024 channels, each a line with a TagSipCall. A stack that does not start still makes its
// lines; their calls then find no call and place none.
#include "telephony/TagKvCard.h"
#include "telephony/sip/SipLibrary.h"
#include "telephony/virtual/VirMedia.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zz {

class CardMedia;
class TagRunCfg;
class TagSipCall;
class TagSipCfg;

class TagSipDrive : public TagKvCard {
public:
    static constexpr int32_t kChannels = 1024;

    // Starts the libraries with the settings of cfg; status 0, -1 (SIP stack) or -2 (media engine).
    TagSipDrive(int32_t channels, const std::string& address, int32_t sipPort, int32_t tcpPort, int32_t rtpBasePort,
                TagSipCfg& cfg, const SipLibs& libs);
    ~TagSipDrive() override;

    int GetLineName(int32_t index, std::string& name) override;
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override;
    // "SIP on 127.0.0.1:5060 UDP+TCP" (or "SIP on 0.0.0.0 UDP 5060, TCP 5070"), as the stack bound it.
    std::string Listening() override;

    const SipLibs& Libs() const { return libs_; }
    TagSipCfg& Cfg() { return cfg_; }

private:
    TagSipCfg& cfg_;
    SipLibs libs_;
    int32_t channels_;
    std::string address_, address2_;
    int32_t sipPort_, rtpBasePort_;
    std::vector<TagSipCall*> calls_;       // owned by the line table
    std::unique_ptr<CardMedia> cardMedia_; // the engine as the card lines see it, while it runs
    std::unique_ptr<VirMedia> virMedia_;   // and as the virtual lines' sound-card bridge sees it
};

// The line manager's maker of the SIP driver: the process's SipCfg.ini and libraries.
std::unique_ptr<TagKvCard> MakeSipDrive(TagRunCfg* cfg);

} // namespace zz
