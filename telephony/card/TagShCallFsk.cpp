// Short data messages in the voice band: an FSK frame (type, length, text, checksum) sent and received by the
// card.
#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "telephony/TagCfgTones.h"
#include "telephony/card/CardLib.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <algorithm>

namespace zz {

namespace {
constexpr uint32_t kSendLimitMs = 30000;
constexpr int32_t kSendBuf = 2048;
constexpr int32_t kRecvBuf = 1024;
constexpr int32_t kMinRecvSeconds = 5;
} // namespace

int TagShCall::SendFskMsg(int32_t type, const char* text, int32_t value) {
    // The frame's length byte holds at most 255.
    std::string_view t = text ? text : "";
    std::string data(t.substr(0, GbkSafeCut(t, kFskMaxData)));
    uint8_t frame[kFskMaxData + 4];
    const int32_t n = PackFskMsg(uint8_t(type), data, frame, sizeof frame);
    uint8_t buf[kSendBuf];
    const int32_t m = Lib().SsmFskConvert(frame, n, value, 32, buf, kSendBuf);
    const int32_t started = Lib().SsmStartSendFSK(channel, buf, m);
    if (started <= 0) {
        WriteLogF("SsmStartSendFSK('%s') : %d", data.c_str(), started);
        return started;
    }
    int result = started;
    const uint32_t start = GetTickCount();
    while (!stopFlag) {
        if (!IsOnline()) {
            WriteLog("SendFskMsg: !IsOnline()");
            result = -100;
            break;
        }
        int32_t end = Lib().SsmChkSendFsk(channel);
        if (end == 1) {
            WriteLog("SendFskMsg: SendEnd, OK");
            result = n;
            break;
        }
        if (end < 0) {
            WriteLog("SendFskMsg: SendEnd, Err");
            result = -150;
            break;
        }
        uint32_t el = TicksSince(start);
        if (el > kSendLimitMs) {
            WriteLog("SendFskMsg: timeout");
            result = -200;
            break;
        }
        WaitCard(kSendLimitMs + 1 - el);
    }
    Lib().SsmStopSendFsk(channel);
    return result;
}

int TagShCall::RecvFskMsg(int32_t& type, std::string& text, int32_t seconds) {
    Lib().SsmStopRcvFsk(channel);
    if (seconds < kMinRecvSeconds) seconds = kMinRecvSeconds;
    const uint32_t limit = uint32_t(seconds) * 1000;
    uint16_t cardTimeout = uint16_t(limit & 0xFFFF);
    if (cardTimeout == 0) cardTimeout = 8000;
    const char mark[2] = {char(type & 0xFF), 0};
    int32_t r = Lib().SsmStartRcvFSK_II(channel, cardTimeout, 256, mark, 1);
    if (r < 0) {
        WriteLogF("SsmStartRcvFSK_II() is Fail: ret=%d: %s", r, Lib().SsmGetLastErrMsg().c_str());
        return r;
    }
    int result = 0;
    const uint32_t start = GetTickCount();
    while (!stopFlag) {
        if (!IsOnline()) {
            WriteLog("RecvFskMsg: !IsOnline()");
            result = -100;
            break;
        }
        int32_t got = Lib().SsmChkRcvFsk(channel);
        if (got < 0) {
            WriteLog("RecvFskMsg: <0, failed.");
            result = -101;
            break;
        }
        if (got == 1) {
            WriteLog("RecvFskMsg: timeout, failed.");
            result = -102;
            break;
        }
        if (got > 1) {
            WriteLog("RecvFskMsg: end>1: ");
            uint8_t buf[kRecvBuf] = {};
            int32_t count = Lib().SsmGetRcvFsk(channel, buf, kRecvBuf);
            // The frame is read with one byte beyond the count, as far as the buffer goes.
            size_t len = size_t(std::clamp(count + 1, 0, kRecvBuf));
            uint8_t t = 0;
            int32_t u = UnpackFskMsg(buf, len, t, text);
            type = t;
            if (u >= 0) {
                WriteLog("RecvFskMsg: OK");
                result = u;
            } else if (u == -2) {
                WriteLog("RecvFskMsg: CheckNum Err");
                result = -2;
            }
            break;
        }
        uint32_t el = TicksSince(start);
        if (el > limit) {
            result = -1;
            break;
        }
        WaitCard(limit + 1 - el);
    }
    Lib().SsmStopRcvFsk(channel);
    return result;
}

} // namespace zz
