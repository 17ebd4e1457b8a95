// Instant messages, MSRP file transfer, proxy mode and SIP information of a SIP line: the line hands its
// arguments to the SIP user agent and the MSRP engine and gives their results back.
#include "telephony/sip/TagSipCall.h"

#include <cstdlib>
#include <cstring>

namespace zz {

int TagSipCall::ImSend(const char* dest, const char* type, const char* body, int32_t length) {
    const char* to = dest ? dest : "";
    WriteLogF("ImSend(%s -> %s)...", callerIdToSend.c_str(), to);
    calling_ = 1;
    calleeId.clear();
    if (!WaitUnblocked()) {
        Hangup();
        return -1;
    }
    int acc = SipGetAccStat(callerIdToSend.c_str());
    WriteLogF("CheckAcc=%d", acc);
    if (acc < 0) {
        Hangup();
        return -2;
    }
    int r;
    if (acc > 0) {
        WriteLogF("sip_im_send_by_account(mCallid=%d, reqId=%d, dest=%s) ...", mCallid, acc, to);
        r = ua_->sip_im_send_by_account(mCallid, acc, callerIdToSend.c_str(), to, type ? type : "", body ? body : "",
                                        length);
        WriteLogF("sip_im_send_by_account(mCallid=%d, regId=%d, %s -> %s): %d", mCallid, acc, callerIdToSend.c_str(),
                  to, r);
    } else {
        WriteLogF("sip_im_send((mCallid=%d, dest=%s) ...", mCallid, to);
        r = ua_->sip_im_send(mCallid, callerIdToSend.c_str(), to, type ? type : "", body ? body : "", length);
        WriteLogF("sip_im_send(%s): %s -> %d", callerIdToSend.c_str(), to, r);
    }
    return r;
}

int TagSipCall::ImTest() {
    return ua_->sip_im_test();
}

int TagSipCall::ImRead(std::string& a, std::string& b, std::string& c, std::string& d) {
    return ua_->sip_im_read(a, b, c, d);
}

int TagSipCall::ImRecv(std::string& text, int32_t& handle) {
    return ua_->sip_im_recv(text, handle);
}

int TagSipCall::ImMsgGetField(int32_t handle, const char* name, const char* part, std::string& out) {
    return ua_->sip_im_get_field(handle, name ? name : "", part ? part : "", out);
}

int TagSipCall::ImMakeAns(int32_t handle, int32_t code, const char* t1, const char* t2, const char* t3,
                          const char* t4) {
    return ua_->sip_im_make_ans_ex(handle, code, t1 ? t1 : "", t2 ? t2 : "", t3 ? t3 : "", t4 ? t4 : "");
}

int TagSipCall::ImMsgFree(int32_t handle) {
    return ua_->sip_im_free(handle);
}

int TagSipCall::ImMakeReq(const std::array<const char*, 8>& texts, std::string& id) {
    std::string t[8];
    for (size_t i = 0; i < 8; ++i)
        t[i] = texts[i] ? texts[i] : "";
    return ua_->sip_im_make_req(t, id, 0, 0);
}

int TagSipCall::ImFileSend(const char* path, std::string& id, int32_t& handle, std::string& out4, int32_t& out5,
                           std::string& out6) {
    handle = msrp_->TqrMsrpFileSend(path ? path : "", id, out4, out5, out6);
    return handle;
}

int TagSipCall::ImFileRecv(int32_t v1, const char* t2, int32_t v3, int32_t& handle, std::string& o5, std::string& o6,
                           std::string& o7, int32_t& o8, std::string& o9) {
    handle = msrp_->TqrMsrpFileRecv(v1, t2 ? t2 : "", v3, o5, o6, o7, o8, o9);
    if (handle > 0) msrp_->TqrMsrpFileRecvStart(handle, 0);
    return handle;
}

int TagSipCall::ImFileCheck(int32_t handle, int32_t& a, int32_t& b) {
    return msrp_->TqrMsrpFileCheck(handle, a, b);
}

int TagSipCall::ImFileEnd(int32_t handle) {
    return msrp_->TqrMsrpFileEnd(handle);
}

int TagSipCall::ImFileProcAnswer(const char* offer) {
    return msrp_->TqrMsrpProcAnswer(offer ? offer : "");
}

// ---- SIP information

int TagSipCall::SipGetPeerMsg(std::string& first, std::string& second, int32_t size) {
    return ua_->sip_get_peer_msg(mCallid, first, second, size);
}

int TagSipCall::SipGetDestAddr(const char* text, std::string& out) {
    return ua_->sip_get_dest_addr(text ? text : "", out);
}

int TagSipCall::SipGetAccAddr(const char* t1, const char* t2, std::string& out, int32_t& number) {
    return ua_->sip_get_acc_addr(t1 ? t1 : "", t2 ? t2 : "", out, number);
}

int TagSipCall::SipSetDialRoute(const char* source, const char* dest) {
    const char* s = source ? source : "";
    const char* d = dest ? dest : "";
    WriteLogF("sip_set_out_route(callid=%d, sour='%s', dest='%s')", mCallid, s, d);
    return ua_->sip_set_out_route(mCallid, s, d);
}

int TagSipCall::SetDialExText(int32_t, const char* text) {
    return ua_->sip_set_dial_ex_text(mCallid, text ? text : "");
}

int TagSipCall::SipGetRtpCount(int32_t& received, int32_t& sent) {
    return media_->ms_recv_send_count(mediaChannel, received, sent);
}

int TagSipCall::SipOnGetAccPwd(SipAccPwdFn fn) {
    ua_->sip_on_get_acc_pwd(fn);
    return 0;
}

int TagSipCall::SipOnGetAccPwdIp(SipAccPwdIpFn fn) {
    ua_->sip_on_get_acc_pwd_ip(fn);
    return 0;
}

int TagSipCall::SipOnRegisterNotify(SipRegisterNotifyFn fn) {
    ua_->sip_on_register_notify(fn);
    return 0;
}

// ---- proxy mode

int TagSipCall::SipProxyRecv(std::string& t1, std::string& t2, int32_t& n, std::string& t3) {
    return ua_->sip_proxy_recv(t1, t2, n, t3);
}

int TagSipCall::SipProxyGetField(int32_t msg, const char* name, const char* third, std::string& out) {
    return ua_->sip_proxy_get_field(msg, name ? name : "", third, out);
}

int TagSipCall::SipProxyAddField(int32_t msg, const char* name, const char* value, int32_t n) {
    return ua_->sip_proxy_add_field(msg, name ? name : "", value ? value : "", n);
}

int TagSipCall::SipProxyRemoveField(int32_t msg, const char* name) {
    return ua_->sip_proxy_remove_field(msg, name ? name : "");
}

int TagSipCall::SipProxySend(int32_t msg, const char* text) {
    return ua_->sip_proxy_send(msg, text ? text : "");
}

int TagSipCall::SipProxySendEx(int32_t msg, const char* text, int32_t n) {
    return ua_->sip_proxy_send_ex(msg, text ? text : "", n);
}

int TagSipCall::SipProxyDirAns(int32_t msg, int32_t code, const char* text) {
    return ua_->sip_proxy_dir_ans(msg, code, text ? text : "");
}

int TagSipCall::SipProxySendKeepAlives(const char* t1, const char* t2) {
    const char* data = t2 ? t2 : "";
    return ua_->sp_send_keep_alives(t1 ? t1 : "", data, int32_t(std::strlen(data)));
}

int TagSipCall::SipUnregisterSpecUser(const char* user) {
    return ua_->sip_unregister_user(user ? user : "");
}

int TagSipCall::SipSetRtpAddr(const char* addr, int32_t port, const char* option) {
    std::string a = addr ? addr : "";
    bool isNew = !a.empty() && a.find(localMediaAddr_) == std::string::npos;
    if (!a.empty()) localMediaAddr_ = a.substr(0, a.find(':'));
    if (port != 0) mRtpPort = uint16_t(port);
    offerOption_ = option && *option ? std::atoi(option) : -1;
    if (isNew && callState == kCallRinging) {
        std::lock_guard<std::recursive_mutex> g(lock_);
        std::string peer, answer;
        ua_->sip_call_get_peer_sdp(mCallid, peer);
        ua_->sip_get_sdp_answer(localMediaAddr_.c_str(), mRtpPort, peer.c_str(), answer);
        if (!answer.empty()) {
            ua_->sip_call_provider_answer_sdp(mCallid, answer.c_str());
            WriteLogF("SipSetRtpAddr and sip_call_provider_answer_sdp(callid=%d)", mCallid);
        }
    }
    return 0;
}

} // namespace zz
