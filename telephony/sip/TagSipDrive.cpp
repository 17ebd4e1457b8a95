#include "telephony/sip/TagSipDrive.h"

#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagTelLine.h"
#include "telephony/sip/SipCardMedia.h"
#include "telephony/sip/TagSipCall.h"
#include "telephony/sip/TagSipCfg.h"

#include <cstdio>
#include <cstring>

namespace zz {

namespace {
// Accounts that may be registered with the registrar of proxy mode at once.
constexpr int kMaxRegUsers = 4096;
} // namespace

TagSipDrive::TagSipDrive(int32_t channels, const std::string& address, int32_t sipPort, int32_t tcpPort,
                         int32_t rtpBasePort, TagSipCfg& cfg, const SipLibs& libs)
    : cfg_(cfg), libs_(libs), channels_(channels), address_(address), address2_(address), sipPort_(sipPort),
      rtpBasePort_(rtpBasePort) {
    lineCount = channels;
    cfg_.regCtrl.SetLibrary(libs_.ua);
    WriteRunLogF("sipIpAddr='%s', sipPort=%d, rtpBasePort=%d", address.c_str(), sipPort, rtpBasePort);
    SipUa* ua = libs_.ua;
    if (cfg_.isProxyMode == 1) ua->sip_set_work_type(1);
    if (cfg_.isAppFirewall == 1) ua->sip_set_app_firewall(1);
    ua->sip_set_sdp_media_list(cfg_.SdpAudioList.c_str());
    int r = ua->sip_start_ex(address.c_str(), uint16_t(sipPort), uint16_t(tcpPort));
    if (r != 0) {
        // The stack's errors are errno values: the operator reads the cause, not its number.
        char text[320];
        std::snprintf(text, sizeof text, "the SIP stack could not listen on %s (udp port %d, tcp port %d): %s",
                      address.empty() ? "0.0.0.0" : address.c_str(), sipPort, tcpPort,
                      r > 0 ? std::strerror(r) : ("error " + std::to_string(r)).c_str());
        failure = text;
        ShowMessage("初始化sip协议栈不成功: " + failure, "青岚舟系统");
        status = -1;
        return;
    }
    r = int8_t(libs_.media->ms_init());
    if (r != 0) {
        char text[96];
        std::snprintf(text, sizeof text, "初始化媒体库不成功, 返回值: %d \n", r);
        failure = "the media engine did not start (" + std::to_string(r) + ")";
        ShowMessage(text, "青岚舟系统");
        status = -2;
        return;
    }
    // Card lines and the virtual lines' sound card bridge their sound into the engine from now on.
    cardMedia_ = std::make_unique<SipCardMedia>(*libs_.media);
    SetCardMedia(cardMedia_.get());
    virMedia_ = std::make_unique<SipVirMedia>(*libs_.media);
    SetVirMedia(virMedia_.get());
    libs_.msrp->TqrMsrpInit(cfg_.msrpPort != 0 ? 1 : 0, address.c_str(), cfg_.msrpPort, cfg_.msrpLocalPath.c_str(),
                            cfg_.msrpPoolNum);
    if (cfg_.outProxyPort != 0 && !cfg_.outProxyAddr.empty()) {
        r = ua->set_default_outdial_proxy(cfg_.outProxyAddr.c_str(), uint16_t(cfg_.outProxyPort), cfg_.isSipTcp != 0);
        WriteRunLogF("set_default_outdial_proxy(%s, %d, isTcp=%d): %d", cfg_.outProxyAddr.c_str(), cfg_.outProxyPort,
                     cfg_.isSipTcp != 0, r);
    }
    cfg_.regCtrl.RegisterAll(cfg_.sipIpAddr, cfg_.sipIpPort);
    ua->sip_set_max_reg_users(kMaxRegUsers);
    status = 0;
}

TagSipDrive::~TagSipDrive() {
    cfg_.regCtrl.Clear();
    if (cardMedia_ && GetCardMedia() == cardMedia_.get()) SetCardMedia(nullptr);
    if (virMedia_ && &GetVirMedia() == virMedia_.get()) SetVirMedia(nullptr);
    libs_.msrp->TqrMsrpClose();
    libs_.media->ms_exit();
    libs_.ua->sip_exit();
}

int TagSipDrive::GetLineName(int32_t index, std::string& name) {
    name.clear();
    if (index < 0 || index >= channels_) return -1;
    name = "SIP:" + std::to_string(index);
    return 0;
}

std::unique_ptr<TagTelLine> TagSipDrive::MakeLine(int32_t index, int32_t lineNo) {
    if (index < 0 || index >= channels_) return nullptr;
    auto call = std::make_unique<TagSipCall>(index, lineNo, address_, rtpBasePort_, this, libs_);
    if (calls_.size() <= size_t(index)) calls_.resize(size_t(index) + 1, nullptr);
    calls_[size_t(index)] = call.get();
    return NewLine(index, lineNo, std::move(call));
}

std::string TagSipDrive::Listening() {
    std::string addr;
    uint16_t udp = 0, tcp = 0;
    if (status != 0 || libs_.ua->sip_get_listen(addr, udp, tcp) != 0) return "SIP not listening";
    if (addr.find(':') != std::string::npos) addr = "[" + addr + "]";
    if (udp == tcp) return "SIP on " + addr + ":" + std::to_string(udp) + " UDP+TCP";
    return "SIP on " + addr + " UDP " + std::to_string(udp) + ", TCP " + std::to_string(tcp);
}

std::unique_ptr<TagKvCard> MakeSipDrive(TagRunCfg*) {
    TagSipCfg& cfg = SipCfg();
    return std::make_unique<TagSipDrive>(TagSipDrive::kChannels, cfg.sipIpAddr, cfg.sipIpPort, cfg.sipTcpPort,
                                         cfg.rtpBasePort, cfg, GetSipLibs());
}

} // namespace zz
