// INVITE sessions of the SIP stack: an incoming call goes to the lowest free slot whose line waits for a call;
// outgoing calls, answers, rejects, byes and cancels run on the SIP thread for the line that asks.
#include "platform/TagWriteLog.h"
#include "telephony/sip/SipSdp.h"
#include "telephony/sip/SipStackParts.h"

#include <cerrno>

namespace zz {

namespace {

mbuf* SdpMbuf(const std::string& sdp) {
    if (sdp.empty()) return nullptr;
    mbuf* mb = mbuf_alloc(sdp.size());
    if (!mb) return nullptr;
    mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(sdp.data()), sdp.size());
    mb->pos = 0;
    return mb;
}

std::string PlStr(const pl& p) {
    return p.p ? std::string(p.p, p.l) : std::string();
}

std::string Body(const sip_msg* msg) {
    return msg && msg->mb ? std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb))
                          : std::string();
}

std::string UserOf(const uri& u) {
    return pl_isset(&u.user) ? PlStr(u.user) : PlStr(u.host);
}

const char* ReasonOf(int code) {
    switch (code) {
    case 180: return "Ringing";
    case 181: return "Call Is Being Forwarded";
    case 182: return "Queued";
    case 183: return "Session Progress";
    case 200: return "OK";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 480: return "Temporarily Unavailable";
    case 486: return "Busy Here";
    case 487: return "Request Terminated";
    case 488: return "Not Acceptable Here";
    case 500: return "Server Internal Error";
    case 503: return "Service Unavailable";
    case 603: return "Decline";
    default: return code < 200 ? "Progress" : code < 300 ? "OK" : "Rejected";
    }
}

} // namespace

std::string SipStack::MakeUri(const std::string& dest, const std::string& domain) const {
    if (dest.empty()) return {};
    if (dest.compare(0, 4, "sip:") == 0 || dest.compare(0, 5, "sips:") == 0 || dest.compare(0, 4, "tel:") == 0)
        return dest;
    if (dest.find('@') != std::string::npos) return "sip:" + dest;
    if (!domain.empty()) return "sip:" + dest + "@" + domain;
    if (!defaultProxyHost_.empty()) return "sip:" + dest + "@" + defaultProxyHost_;
    if (dest.find_first_of(".:") != std::string::npos) return "sip:" + dest;
    return {};
}

// ---- incoming

int SipStack::TakeListeningSlot() {
    for (int i = 1; i <= kSipMaxSlots; ++i) {
        Slot& s = *slots_[size_t(i)];
        std::lock_guard<std::mutex> g(s.m);
        if (s.listening && s.type == kSipTypeNone) {
            s.listening = false;
            s.type = kSipTypeIn; // taken; filled in by GiveInvite
            return i;
        }
    }
    return 0;
}

void SipStack::OnInvite(const sip_msg* msg, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    std::string callId = PlStr(msg->callid);
    if (auto it = self->callIds_.find(callId); it != self->callIds_.end()) {
        // A retransmission of an INVITE a line holds: it is being dealt with.
        SlotSip& ss = *self->slotSip_[size_t(it->second)];
        if (ss.invite && !ss.sess && !ss.inviteAnswered) sip_reply(self->sip_, msg, 100, "Trying");
        return;
    }
    if (auto it = self->heldIds_.find(callId); it != self->heldIds_.end()) {
        // Still ringing for a line; answered from the first INVITE, with its To tag.
        sip_reply(self->sip_, it->second->msg, 180, "Ringing");
        return;
    }
    if (!self->Allowed(msg)) {
        sip_treply(nullptr, self->sip_, msg, 403, "Forbidden");
        return;
    }
    // A session needs the caller's Contact: without it the call could never be answered.
    if (!sip_msg_hdr(msg, SIP_HDR_CONTACT)) {
        sip_treply(nullptr, self->sip_, msg, 400, "Missing Contact");
        return;
    }
    self->holding_.fetch_add(1);
    if (int id = self->TakeListeningSlot()) {
        self->holding_.fetch_sub(1);
        sip_reply(self->sip_, msg, 100, "Trying");
        self->GiveInvite(id, msg, callId);
        return;
    }
    // No line waits now (the platform is starting, or every line is between two calls): the call rings for the
    // first line that waits, for a while.
    if (self->held_.size() >= kSipMaxSlots) {
        self->holding_.fetch_sub(1);
        sip_treply(nullptr, self->sip_, msg, 486, "Busy Here");
        return;
    }
    auto h = std::make_unique<Held>();
    h->stack = self;
    h->msg = static_cast<const sip_msg*>(mem_ref(const_cast<sip_msg*>(msg)));
    h->callId = callId;
    tmr_start(&h->timer, self->holdMs_.load(), OnHoldTimeout, h.get());
    sip_reply(self->sip_, msg, 180, "Ringing");
    self->heldIds_[callId] = h.get();
    self->held_.push_back(std::move(h));
}

void SipStack::GiveHeld() {
    while (!held_.empty()) {
        int id = TakeListeningSlot();
        if (!id) return;
        std::unique_ptr<Held> h = std::move(held_.front());
        held_.pop_front();
        heldIds_.erase(h->callId);
        tmr_cancel(&h->timer);
        GiveInvite(id, h->msg, h->callId);
        mem_deref(const_cast<sip_msg*>(h->msg));
        holding_.fetch_sub(1);
    }
}

void SipStack::DropHeld(Held* h, uint16_t code) {
    tmr_cancel(&h->timer);
    if (code) sip_treply(nullptr, sip_, h->msg, code, ReasonOf(code));
    heldIds_.erase(h->callId);
    mem_deref(const_cast<sip_msg*>(h->msg));
    for (auto it = held_.begin(); it != held_.end(); ++it)
        if (it->get() == h) {
            held_.erase(it);
            break;
        }
    holding_.fetch_sub(1);
}

void SipStack::OnHoldTimeout(void* arg) {
    auto* h = static_cast<Held*>(arg);
    h->stack->DropHeld(h, 486);
}

void SipStack::GiveInvite(int id, const sip_msg* msg, const std::string& callId) {
    SlotSip& ss = *slotSip_[size_t(id)];
    ss.invite = static_cast<const sip_msg*>(mem_ref(const_cast<sip_msg*>(msg)));
    ss.inviteAnswered = false;
    ss.callId = callId;
    char host[64] = {};
    sa_ntop(&msg->src, host, sizeof host);
    ss.peerHost = host;
    ss.tp = msg->tp;
    ss.user = UserOf(msg->uri);
    ss.routed = false;
    SetTarget(ss, msg);
    callIds_[callId] = id;
    std::string body = Body(msg);
    std::string raw(reinterpret_cast<const char*>(msg->mb->buf), msg->mb->end);
    std::string from = PlStr(msg->from.auri);
    std::string caller = UserOf(msg->from.uri), called = UserOf(msg->uri);
    Update(id, [&](Slot& s) {
        s.type = kSipTypeIn;
        s.state = kSipStOffered;
        s.oa = body.empty() ? kSipOaWantOffer : kSipOaWantAnswer;
        s.oaNew = false;
        s.ansCode = 0;
        s.peerSdp = body;
        s.localSdp.clear();
        s.dtmfInfo.clear();
        s.peerAddr = caller;
        s.myAddr = called.empty() ? UserOf(msg->to.uri) : called;
        s.peerFrom = from;
        s.peerMsg = raw;
    });
}

void SipStack::CancelPendingInvite(const sip_msg* cancel) {
    std::string callId = PlStr(cancel->callid);
    if (auto held = heldIds_.find(callId); held != heldIds_.end()) {
        sip_reply(sip_, cancel, 200, "OK");
        DropHeld(held->second, 487);
        return;
    }
    auto it = callIds_.find(callId);
    SlotSip* ss = it == callIds_.end() ? nullptr : slotSip_[size_t(it->second)].get();
    if (!ss || !ss->invite || ss->sess || ss->inviteAnswered) {
        sip_reply(sip_, cancel, 481, "Call/Transaction Does Not Exist");
        return;
    }
    sip_reply(sip_, cancel, 200, "OK");
    sip_treply(nullptr, sip_, ss->invite, 487, "Request Terminated");
    ss->inviteAnswered = true;
    Update(ss->callid, [](Slot& s) { s.state = kSipStCancelled; });
}

int SipStack::sip_call_provisional(int callid, int code) {
    if (!ValidSlot(callid) || code < 101 || code > 199) return -1;
    return Exec([=, this] {
        SlotSip& ss = *slotSip_[size_t(callid)];
        std::string sdp;
        if (code == 183) {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            sdp = s.localSdp;
        }
        mbuf* desc = SdpMbuf(sdp);
        int err = EINVAL;
        if (ss.sess) {
            err = sipsess_progress(ss.sess, uint16_t(code), ReasonOf(code), desc, "");
        } else if (ss.invite && !ss.inviteAnswered) {
            std::string contact = ContactFor(ss.user, ss.peerHost, ss.tp);
            err = sipsess_accept(&ss.sess, sock_, ss.invite, uint16_t(code), ReasonOf(code), contact.c_str(),
                                 "application/sdp", desc, nullptr, nullptr, false, OnOffer, OnAnswer, OnEstablished,
                                 OnInfo, nullptr, OnClose, &ss, "");
            AimDialog(ss);
        }
        mem_deref(desc);
        if (err && !ss.sess && ss.invite && !ss.inviteAnswered) {
            // No session could be made of the INVITE: the caller hears so at once and the line sees the end.
            sip_treply(nullptr, sip_, ss.invite, 500, ReasonOf(500));
            ss.inviteAnswered = true;
            Update(callid, [](Slot& s) { s.state = kSipStClosed; });
        }
        if (err) return -err;
        Update(callid, [](Slot& s) {
            if (s.state == kSipStOffered) s.state = kSipStProceeding;
        });
        return 0;
    });
}

int SipStack::sip_call_accept(int callid) {
    if (!ValidSlot(callid)) return -1;
    return Exec([=, this] {
        SlotSip& ss = *slotSip_[size_t(callid)];
        std::string sdp;
        int oa;
        {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            sdp = s.localSdp;
            oa = s.oa;
        }
        if (!ss.sess && (!ss.invite || ss.inviteAnswered)) return -1;
        if (oa == kSipOaWantAnswer && sdp.empty()) {
            // Nothing in the offer can be answered.
            if (ss.sess)
                sipsess_reject(ss.sess, 488, ReasonOf(488), "");
            else
                sip_treply(nullptr, sip_, ss.invite, 488, ReasonOf(488));
            ss.inviteAnswered = true;
            Update(callid, [](Slot& s) { s.state = kSipStClosed; });
            return -EPROTO;
        }
        mbuf* desc = SdpMbuf(sdp);
        int err;
        if (ss.sess) {
            err = sipsess_answer(ss.sess, 200, "OK", desc, "");
        } else {
            std::string contact = ContactFor(ss.user, ss.peerHost, ss.tp);
            err = sipsess_accept(&ss.sess, sock_, ss.invite, 200, "OK", contact.c_str(), "application/sdp", desc,
                                 nullptr, nullptr, false, OnOffer, OnAnswer, OnEstablished, OnInfo, nullptr, OnClose,
                                 &ss, "");
            AimDialog(ss);
        }
        mem_deref(desc);
        ss.inviteAnswered = true;
        return err ? -err : 0;
    });
}

int SipStack::sip_call_reject(int callid, int code) {
    if (!ValidSlot(callid)) return -1;
    if (code < 300 || code > 699) code = 486;
    return Exec([=, this] {
        SlotSip& ss = *slotSip_[size_t(callid)];
        int err = 0;
        if (ss.sess) {
            err = sipsess_reject(ss.sess, uint16_t(code), ReasonOf(code), "");
            ReleaseSession(ss);
        } else if (ss.invite && !ss.inviteAnswered) {
            err = sip_treply(nullptr, sip_, ss.invite, uint16_t(code), ReasonOf(code));
        } else {
            return -1;
        }
        ss.inviteAnswered = true;
        Update(callid, [](Slot& s) { s.state = kSipStReleasing; });
        return err ? -err : 0;
    });
}

int SipStack::sip_call_bye(int callid) {
    if (!ValidSlot(callid)) return -1;
    return Exec([=, this] {
        SlotSip& ss = *slotSip_[size_t(callid)];
        if (!ss.sess) return -1;
        // Letting the established session go sends its BYE.
        ReleaseSession(ss);
        Update(callid, [](Slot& s) { s.state = kSipStByed; });
        return 0;
    });
}

int SipStack::sip_call_cancel(int callid) {
    if (!ValidSlot(callid)) return -1;
    return Exec([=, this] {
        SlotSip& ss = *slotSip_[size_t(callid)];
        Slot& slot = *slots_[size_t(callid)];
        int type;
        {
            std::lock_guard<std::mutex> g(slot.m);
            type = slot.type;
        }
        if (type != kSipTypeOut) return -1;
        // An INVITE not yet answered is cancelled as its session goes; a message in flight is forgotten.
        ReleaseSession(ss);
        Update(callid, [](Slot& s) {
            if (s.state != kSipStEstablished) s.state = kSipStCancelled;
        });
        return 0;
    });
}

void SipStack::EndSlot(int callid) {
    SlotSip& ss = *slotSip_[size_t(callid)];
    ReleaseSession(ss);
    SetTarget(ss, nullptr);
    if (ss.invite) {
        if (!ss.inviteAnswered) sip_treply(nullptr, sip_, ss.invite, 486, "Busy Here");
        mem_deref(const_cast<sip_msg*>(ss.invite));
        ss.invite = nullptr;
    }
    ss.inviteAnswered = false;
    if (!ss.callId.empty()) {
        auto it = callIds_.find(ss.callId);
        if (it != callIds_.end() && it->second == callid) callIds_.erase(it);
    }
    ss.callId.clear();
    Update(callid, [](Slot& s) {
        s.type = kSipTypeNone;
        s.state = kSipStIdle;
        s.oa = kSipOaNone;
        s.oaNew = false;
        s.peerSdp.clear();
        s.localSdp.clear();
        s.dtmfInfo.clear();
        s.listening = false;
    });
}

int SipStack::sip_call_end(int callid) {
    if (!ValidSlot(callid)) return -1;
    return Exec([=, this] {
        EndSlot(callid);
        return 0;
    });
}

// ---- SDP handed in by the line

int SipStack::ProvideSdp(int callid, const char* sdp, int oaAfter) {
    if (!ValidSlot(callid) || !sdp || !*sdp) return -1;
    std::string text = sdp;
    return Exec([=, this] {
        std::string fixed = SdpFixAddr(text, LocalAddrFor(slotSip_[size_t(callid)]->peerHost));
        Update(callid, [&](Slot& s) {
            s.localSdp = fixed;
            s.oa = oaAfter;
            s.oaNew = oaAfter == kSipOaDone;
        });
        return 0;
    });
}

int SipStack::sip_call_provider_offer_sdp(int callid, const char* sdp) {
    return ProvideSdp(callid, sdp, kSipOaOfferSent);
}

int SipStack::sip_call_provider_answer_sdp(int callid, const char* sdp) {
    return ProvideSdp(callid, sdp, kSipOaDone);
}

// ---- the dialog's remote target

void SipStack::SetTarget(SlotSip& ss, const sip_msg* msg) {
    if (msg) mem_ref(const_cast<sip_msg*>(msg));
    mem_deref(const_cast<sip_msg*>(ss.target));
    ss.target = msg;
}

void SipStack::AimDialog(SlotSip& ss) {
    const sip_msg* m = ss.target;
    sip_dialog* dlg = ss.sess ? sipsess_dialog(ss.sess) : nullptr;
    // A proxy that stays in the path (Record-Route) is reached as its route says.
    if (!m || !dlg || m->tp != SIP_TRANSP_TCP || sip_msg_hdr(m, SIP_HDR_RECORD_ROUTE)) return;
    const sip_hdr* contact = sip_msg_hdr(m, SIP_HDR_CONTACT);
    sip_addr addr;
    if (!contact || sip_addr_decode(&addr, &contact->val) != 0 || pl_strcasecmp(&addr.uri.scheme, "sip") != 0) return;
    pl tp;
    const bool named = msg_param_decode(&addr.uri.params, "transport", &tp) == 0;
    if (named && pl_strcasecmp(&tp, "tcp") != 0) return; // the Contact names its own transport
    // The connection is the peer's own when it sent the request itself (one Via), or when our INVITE went to it
    // directly; through a proxy that has left the path, the Contact is reached on a connection of its own.
    const bool direct = m->req ? sip_msg_hdr_count(m, SIP_HDR_VIA) == 1 : !ss.routed;
    std::string hostPort;
    if (direct && sip_msg_tcpconn(m)) {
        char src[64] = {};
        re_snprintf(src, sizeof src, "%J", &m->src);
        hostPort = src;
    } else {
        const bool v6 = addr.uri.af == AF_INET6;
        hostPort = (v6 ? "[" : "") + PlStr(addr.uri.host) + (v6 ? "]" : "") +
                   (addr.uri.port ? ":" + std::to_string(addr.uri.port) : std::string());
    }
    std::string user = PlStr(addr.uri.user);
    std::string text = "SIP/2.0 200 OK\r\nContact: <sip:" + (user.empty() ? std::string() : user + "@") + hostPort +
                       PlStr(addr.uri.params) + (named ? "" : ";transport=tcp") + ">\r\n\r\n";
    // libre takes a new remote target only from a message's Contact: one made for it.
    mbuf* mb = mbuf_alloc(text.size());
    sip_msg* aim = nullptr;
    if (mb && mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(text.data()), text.size()) == 0) {
        mb->pos = 0;
        if (sip_msg_decode(&aim, mb) == 0) sip_dialog_update(dlg, aim);
    }
    mem_deref(aim);
    mem_deref(mb);
}

void SipStack::ReleaseSession(SlotSip& ss) {
    AimDialog(ss);
    ss.sess = static_cast<sipsess*>(mem_deref(ss.sess));
}

// ---- session handlers (SIP thread)

int SipStack::OnOffer(mbuf** descp, const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    SipStack* self = ss.stack;
    // A re-INVITE may name a new Contact; the 2xx of our INVITE without an offer is ACKed when this returns.
    if (msg->req ? !pl_strcmp(&msg->met, "INVITE") : msg->scode >= 200 && msg->scode < 300) {
        SetTarget(ss, msg);
        AimDialog(ss);
    }
    std::string peer = Body(msg), local;
    {
        Slot& s = *self->slots_[size_t(ss.callid)];
        std::lock_guard<std::mutex> g(s.m);
        local = s.localSdp;
    }
    // A re-INVITE: answered from the address and port of our last SDP, the line sees the peer's new media.
    SdpAudio mine = SdpParse(local);
    std::string addr = mine.addr.empty() ? self->LocalAddrFor(ss.peerHost) : mine.addr;
    std::string answer = peer.empty() ? SdpOffer(addr, mine.port, self->codecs_) : SdpAnswer(addr, mine.port, peer);
    if (answer.empty()) return EPROTO;
    // The same session as our last SDP, one version on.
    answer = SdpNextVersion(local, answer);
    self->Update(ss.callid, [&](Slot& s) {
        s.localSdp = answer;
        if (!peer.empty()) {
            s.peerSdp = peer;
            s.oa = kSipOaDone;
            s.oaNew = true;
        } else {
            s.oa = kSipOaOfferSent;
        }
    });
    *descp = SdpMbuf(answer);
    return 0;
}

int SipStack::OnAnswer(const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    // The 2xx of our INVITE: the dialog is aimed before its ACK goes.
    if (!msg->req && msg->scode >= 200 && msg->scode < 300) {
        SetTarget(ss, msg);
        AimDialog(ss);
    }
    std::string peer = Body(msg);
    if (peer.empty()) return 0;
    ss.stack->Update(ss.callid, [&](Slot& s) {
        s.peerSdp = peer;
        s.oa = kSipOaDone;
        s.oaNew = true;
    });
    return 0;
}

void SipStack::OnProgress(const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    std::string peer = Body(msg);
    ss.stack->Update(ss.callid, [&](Slot& s) {
        if (s.state == kSipStIdle || s.state == kSipStProceeding) s.state = kSipStProceeding;
        s.ansCode = msg->scode;
        if (!peer.empty() && peer != s.peerSdp) {
            s.peerSdp = peer;
            s.oa = kSipOaDone;
            s.oaNew = true;
        }
    });
}

void SipStack::OnEstablished(const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    ss.stack->Update(ss.callid, [&](Slot& s) {
        s.state = kSipStEstablished;
        if (s.type == kSipTypeOut && msg && !msg->req) s.ansCode = msg->scode;
    });
}

void SipStack::OnInfo(struct sip* sip, const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    std::string body = Body(msg), digits;
    // application/dtmf-relay carries "Signal=5"; application/dtmf the digit alone.
    size_t at = body.find("Signal=");
    std::string value = at != std::string::npos ? body.substr(at + 7) : body;
    for (char c : value) {
        if (c == '\r' || c == '\n') break;
        if (c != ' ') digits += c;
    }
    if (digits == "10") digits = "*";
    if (digits == "11") digits = "#";
    sip_reply(sip, msg, 200, "OK");
    if (digits.size() != 1) return;
    ss.stack->Update(ss.callid, [&](Slot& s) {
        if (s.dtmfInfo.size() < 256) s.dtmfInfo += digits;
    });
}

void SipStack::OnClose(int err, const sip_msg* msg, void* arg) {
    auto& ss = *static_cast<SlotSip*>(arg);
    SipStack* self = ss.stack;
    self->Update(ss.callid, [&](Slot& s) {
        if (msg && !msg->req && msg->scode >= 300) {
            s.state = kSipStRefused;
            s.ansCode = msg->scode;
        } else if (err == ETIMEDOUT) {
            s.state = kSipStFailed;
        } else if (err == ECONNRESET) {
            s.state = s.state == kSipStEstablished ? kSipStByed : kSipStCancelled;
        } else {
            s.state = s.state == kSipStEstablished ? kSipStByed : kSipStClosed;
        }
    });
    ss.inviteAnswered = true;
    self->Retire(ss.sess);
    ss.sess = nullptr;
}

// ---- outgoing

int SipStack::Connect(int callid, const std::string& uri, const std::string& from, const std::string& sdp,
                      const std::string& route, Creds* creds, const std::string& extraHeaders) {
    SlotSip& ss = *slotSip_[size_t(callid)];
    if (uri.empty() || ss.sess || ss.invite) return -1;
    SipUriParts to = ParseSipUri(uri), hop = ParseSipUri(route.empty() ? uri : route);
    ss.peerHost = hop.host;
    ss.tp = hop.params.find("transport=tcp") != std::string::npos ? SIP_TRANSP_TCP : SIP_TRANSP_UDP;
    ss.routed = !route.empty();
    SetTarget(ss, nullptr);
    SipUriParts me = ParseSipUri(from);
    ss.user = me.user;
    std::string contact = ContactFor(me.user, hop.host, ss.tp);
    std::string fixed = SdpFixAddr(sdp, LocalAddrFor(hop.host));
    mbuf* desc = SdpMbuf(fixed);
    const char* routev[1] = {route.c_str()};
    int err = sipsess_connect(&ss.sess, sock_, uri.c_str(), nullptr, from.c_str(), contact.c_str(),
                              route.empty() ? nullptr : routev, route.empty() ? 0 : 1, "application/sdp", desc,
                              creds ? OnAuth : nullptr, creds, true, OnOffer, OnAnswer, OnProgress, OnEstablished,
                              OnInfo, nullptr, OnClose, &ss, "%s", extraHeaders.c_str());
    mem_deref(desc);
    if (err) {
        WriteRunLogF("sipsess_connect(%s): %d", uri.c_str(), err);
        return -err;
    }
    ss.callId = sip_dialog_callid(sipsess_dialog(ss.sess));
    callIds_[ss.callId] = callid;
    ss.inviteAnswered = true;
    Update(callid, [&](Slot& s) {
        s.type = kSipTypeOut;
        s.state = kSipStIdle;
        s.oa = kSipOaOfferSent;
        s.oaNew = false;
        s.ansCode = 0;
        s.localSdp = fixed;
        s.peerSdp.clear();
        s.dtmfInfo.clear();
        s.peerAddr = to.user.empty() ? to.host : to.user;
        s.myAddr = me.user;
        s.peerFrom = to.uri;
        s.peerMsg.clear();
        s.listening = false;
    });
    return 0;
}

int SipStack::sip_call_out(int callid, const char* caller, const char* dest, const char* sdp, int) {
    if (!ValidSlot(callid)) return -1;
    std::string c = caller ? caller : "", d = dest ? dest : "", body = sdp ? sdp : "";
    return Exec([=, this] {
        std::string route, source, extra;
        {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            route = s.outRoute;
            source = s.outSource;
            extra = s.dialExText;
        }
        if (!route.empty() && route.compare(0, 4, "sip:") != 0) route = "sip:" + route + ";lr";
        if (route.empty()) route = defaultRoute_;
        std::string uri = MakeUri(d, "");
        std::string user = !source.empty() ? source : c.empty() ? std::string("zuzod") : c;
        std::string from = user.find('@') != std::string::npos
                               ? (user.compare(0, 4, "sip:") == 0 ? user : "sip:" + user)
                               : "sip:" + user + "@" + LocalAddrFor(ParseSipUri(route.empty() ? uri : route).host);
        return Connect(callid, uri, from, body, route, nullptr, extra);
    });
}

int SipStack::sip_call_out_by_account(int callid, int accountId, const char* dest, const char* sdp,
                                      const char* firstCalled) {
    if (!ValidSlot(callid)) return -1;
    std::string d = dest ? dest : "", body = sdp ? sdp : "", first = firstCalled ? firstCalled : "";
    return Exec([=, this] {
        SipAccountArgs a;
        {
            std::lock_guard<std::mutex> g(accLock_);
            auto it = accounts_.find(accountId);
            if (it == accounts_.end()) return -1;
            a = it->second->args;
        }
        std::string extra;
        {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            extra = s.dialExText;
        }
        SipUriParts aor = ParseSipUri(a.aor);
        if (!first.empty()) extra += "Diversion: <sip:" + first + "@" + aor.host + ">;reason=unknown\r\n";
        std::string route = !a.outboundProxy.empty() ? a.outboundProxy : a.server;
        if (route.find(";lr") == std::string::npos) route += ";lr";
        Creds* creds = NewCreds(a.authUser, a.password);
        int r = Connect(callid, MakeUri(d, aor.host), a.aor, body, route, creds, extra);
        mem_deref(creds);
        return r;
    });
}

int SipStack::sip_call_out_b2b_forward(int callid, int orgCallid, const char* caller, const char* dest, const char* sdp,
                                       int) {
    if (!ValidSlot(callid) || !ValidSlot(orgCallid)) return -1;
    std::string c = caller ? caller : "", d = dest ? dest : "", body = sdp ? sdp : "";
    return Exec([=, this] {
        std::string from, extra, route;
        {
            Slot& org = *slots_[size_t(orgCallid)];
            std::lock_guard<std::mutex> g(org.m);
            from = org.peerFrom;
        }
        {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            extra = s.dialExText;
            route = s.outRoute;
        }
        if (from.empty()) return -1;
        // The forwarded call shows the original caller; a caller text given replaces the user.
        SipUriParts f = ParseSipUri(from);
        if (!c.empty()) from = "sip:" + c + "@" + f.host + (f.port ? ":" + std::to_string(f.port) : std::string());
        if (!route.empty() && route.compare(0, 4, "sip:") != 0) route = "sip:" + route + ";lr";
        if (route.empty()) route = defaultRoute_;
        return Connect(callid, MakeUri(d, ""), from, body, route, nullptr, extra);
    });
}

// ---- SIP addresses

SipUriParts ParseSipUri(const std::string& text) {
    SipUriParts p;
    std::string s = text;
    size_t lt = s.find('<');
    if (lt != std::string::npos) {
        size_t gt = s.find('>', lt);
        s = s.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
    }
    p.uri = s;
    size_t colon = s.find(':');
    std::string rest = colon != std::string::npos && s.compare(0, 3, "sip") == 0 ? s.substr(colon + 1) : s;
    size_t semi = rest.find_first_of(";?");
    if (semi != std::string::npos) {
        p.params = rest.substr(semi + 1);
        rest.resize(semi);
    }
    size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        p.user = rest.substr(0, at);
        rest = rest.substr(at + 1);
    }
    size_t pc = rest.find(':');
    p.host = rest.substr(0, pc);
    if (pc != std::string::npos) p.port = std::atoi(rest.c_str() + pc + 1);
    return p;
}

} // namespace zz
