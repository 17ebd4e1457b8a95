// Requests the SIP stack sends itself (REGISTER, MESSAGE, a script's request) and the process-wide inbox of
// incoming MESSAGE requests and of the answers to scripts' requests.
#include "platform/TagWriteLog.h"
#include "telephony/sip/SipStackParts.h"

#include <algorithm>
#include <cerrno>
#include <strings.h>

namespace zz {

namespace {

constexpr size_t kInboxMax = 1024;

std::string PlStr(const pl& p) {
    return p.p ? std::string(p.p, p.l) : std::string();
}

const char* CompactForm(const std::string& name) {
    static const char* const pairs[][2] = {{"f", "From"},           {"t", "To"},           {"i", "Call-ID"},
                                           {"m", "Contact"},        {"v", "Via"},          {"c", "Content-Type"},
                                           {"l", "Content-Length"}, {"k", "Supported"},    {"s", "Subject"},
                                           {"e", "Content-Encoding"}};
    for (auto& p : pairs) {
        if (!strcasecmp(name.c_str(), p[0])) return p[1];
        if (!strcasecmp(name.c_str(), p[1])) return p[0];
    }
    return nullptr;
}

} // namespace

// ---- message texts

const std::string* SipStack::Fields::Find(const std::string& name) const {
    const char* other = CompactForm(name);
    for (const auto& [n, v] : headers)
        if (!strcasecmp(n.c_str(), name.c_str()) || (other && !strcasecmp(n.c_str(), other))) return &v;
    return nullptr;
}

std::string SipStack::Fields::Text() const {
    std::string t = first + "\r\n";
    for (const auto& [n, v] : headers)
        if (strcasecmp(n.c_str(), "Content-Length") && strcasecmp(n.c_str(), "l")) t += n + ": " + v + "\r\n";
    t += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return t;
}

std::string SipStack::ValuePart(const std::string& value, const std::string& part) {
    if (part.empty()) return value;
    size_t lt = value.find('<'), gt = value.find('>');
    std::string uri, params;
    if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
        uri = value.substr(lt + 1, gt - lt - 1);
        params = value.substr(gt + 1);
    } else {
        size_t semi = value.find(';');
        uri = value.substr(0, semi);
        params = semi == std::string::npos ? std::string() : value.substr(semi);
    }
    if (!strcasecmp(part.c_str(), "uri")) return uri;
    SipUriParts u = ParseSipUri(uri);
    if (!strcasecmp(part.c_str(), "user")) return u.user;
    if (!strcasecmp(part.c_str(), "host")) return u.host;
    if (!strcasecmp(part.c_str(), "port")) return u.port ? std::to_string(u.port) : std::string();
    // A parameter of the field (after the address), or of the value itself ("Expires: 60;x=1").
    size_t pos = 0;
    while ((pos = params.find(';', pos)) != std::string::npos) {
        ++pos;
        size_t end = params.find(';', pos);
        std::string p = params.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        size_t eq = p.find('=');
        std::string name = p.substr(0, eq);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        while (!name.empty() && name.front() == ' ')
            name.erase(0, 1);
        if (!strcasecmp(name.c_str(), part.c_str())) return eq == std::string::npos ? std::string() : p.substr(eq + 1);
    }
    return {};
}

namespace {

SipStack::Fields FieldsOf(const sip_msg* msg) {
    SipStack::Fields f;
    std::string raw(reinterpret_cast<const char*>(msg->mb->buf), msg->mb->end);
    f.first = raw.substr(0, raw.find("\r\n"));
    for (le* e = msg->hdrl.head; e; e = e->next) {
        auto* h = static_cast<sip_hdr*>(e->data);
        f.headers.emplace_back(PlStr(h->name), PlStr(h->val));
    }
    f.body.assign(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    char src[64] = {};
    re_snprintf(src, sizeof src, "%J", &msg->src);
    f.source = src;
    f.request = msg->req;
    f.tp = msg->tp;
    return f;
}

// Special names of a kept message, then its header fields.
int FieldOf(const SipStack::Fields& f, const char* name, const char* part, std::string& out) {
    std::string n = name ? name : "", p = part ? part : "";
    out.clear();
    size_t sp1 = f.first.find(' '), sp2 = f.first.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    std::string word1 = f.first.substr(0, sp1);
    std::string word2 = sp1 == std::string::npos ? std::string() : f.first.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string rest = sp2 == std::string::npos ? std::string() : f.first.substr(sp2 + 1);
    if (!strcasecmp(n.c_str(), "Method")) {
        out = f.request ? word1 : word2;
    } else if (!strcasecmp(n.c_str(), "RequestUri")) {
        out = f.request ? SipStack::ValuePart(word2, p) : std::string();
    } else if (!strcasecmp(n.c_str(), "Status")) {
        out = f.request ? std::string() : word2;
    } else if (!strcasecmp(n.c_str(), "Reason")) {
        out = f.request ? std::string() : rest;
    } else if (!strcasecmp(n.c_str(), "FirstLine")) {
        out = f.first;
    } else if (!strcasecmp(n.c_str(), "Body")) {
        out = f.body;
    } else if (!strcasecmp(n.c_str(), "Source")) {
        out = f.source;
    } else {
        const std::string* v = f.Find(n);
        if (!v) return -2;
        out = SipStack::ValuePart(*v, p);
    }
    return int(out.size());
}

} // namespace

// ---- requests of the stack

SipStack::Request* SipStack::NewRequest(const std::string& method, const std::string& uri, const std::string& from,
                                        const std::string& to, const std::string& route) {
    auto* r = new Request;
    r->stack = this;
    r->method = method;
    r->uri = uri;
    r->from = from;
    r->to = to;
    r->route = route;
    r->fromTag = RandomToken();
    r->callId = RandomToken() + "@zuzod";
    return r;
}

int SipStack::Send(Request* r) {
    uri routeUri{};
    pl routePl;
    if (!r->route.empty()) {
        pl_set_str(&routePl, r->route.c_str());
        if (uri_decode(&routeUri, &routePl) != 0) {
            mem_deref(r->auth);
            delete r;
            return -EINVAL;
        }
    }
    std::string head = "To: <" + r->to + ">\r\nFrom: <" + r->from + ">;tag=" + r->fromTag + "\r\nCall-ID: " + r->callId +
                       "\r\nCSeq: " + std::to_string(r->cseq) + " " + r->method + "\r\n" + r->extra;
    if (!r->body.empty()) head += "Content-Type: " + (r->type.empty() ? std::string("text/plain") : r->type) + "\r\n";
    head += "Content-Length: " + std::to_string(r->body.size()) + "\r\n\r\n" + r->body;
    int err = sip_requestf(&r->req, sip_, true, r->method.c_str(), r->uri.c_str(), r->route.empty() ? nullptr : &routeUri,
                           r->auth, nullptr, OnRequestResponse, r, "%s", head.c_str());
    if (err) {
        WriteRunLogF("%s %s: %d", r->method.c_str(), r->uri.c_str(), err);
        mem_deref(r->auth);
        delete r;
        return -err;
    }
    if (std::find(requests_.begin(), requests_.end(), r) == requests_.end()) requests_.push_back(r);
    return 0;
}

void SipStack::OnRequestResponse(int err, const sip_msg* msg, void* arg) {
    auto* r = static_cast<Request*>(arg);
    if (!err && msg && msg->scode < 200) return;
    SipStack* self = r->stack;
    // A digest challenge is answered once with the credentials of the request.
    if (!err && msg && (msg->scode == 401 || msg->scode == 407) && r->auth && r->authTries < 1 &&
        sip_auth_authenticate(r->auth, msg) == 0) {
        ++r->authTries;
        ++r->cseq;
        r->req = nullptr;
        if (self->Send(r) == 0) return;
        std::erase(self->requests_, r);
        return;
    }
    std::erase(self->requests_, r);
    if (r->done) r->done(*r, err, msg);
    mem_deref(r->auth);
    delete r;
}

// ---- MESSAGE out

int SipStack::SendMessage(int callid, const std::string& uri, const std::string& from, const std::string& route,
                          Creds* creds, const std::string& type, const std::string& body) {
    if (uri.empty()) return -1;
    SlotSip& ss = *slotSip_[size_t(callid)];
    uint32_t gen = ++ss.imGen;
    Request* r = NewRequest("MESSAGE", uri, from, uri, route);
    r->type = type;
    r->body = body;
    if (creds) sip_auth_alloc(&r->auth, OnAuth, creds, true);
    r->done = [this, callid, gen](Request&, int err, const sip_msg* msg) {
        if (slotSip_[size_t(callid)]->imGen != gen) return;
        int code = err ? (err == ETIMEDOUT ? 408 : 503) : msg->scode;
        Update(callid, [&](Slot& s) {
            s.ansCode = code;
            if (s.type == kSipTypeOut && s.state == kSipStIdle && !slotSip_[size_t(callid)]->sess) s.type = kSipTypeNone;
        });
    };
    int r2 = Send(r);
    if (r2 != 0) return r2;
    Update(callid, [](Slot& s) {
        if (s.type == kSipTypeNone) {
            s.type = kSipTypeOut;
            s.state = kSipStIdle;
        }
        s.ansCode = 0;
    });
    return 0;
}

int SipStack::sip_im_send(int callid, const char* caller, const char* dest, const char* type, const char* body,
                          int32_t length) {
    if (!ValidSlot(callid)) return -1;
    std::string c = caller ? caller : "", d = dest ? dest : "", t = type ? type : "";
    std::string b(body ? body : "", body ? size_t(std::max<int32_t>(0, length)) : 0);
    return Exec([=, this] {
        std::string route;
        {
            Slot& s = *slots_[size_t(callid)];
            std::lock_guard<std::mutex> g(s.m);
            route = s.outRoute;
        }
        if (!route.empty() && route.compare(0, 4, "sip:") != 0) route = "sip:" + route + ";lr";
        if (route.empty()) route = defaultRoute_;
        std::string uri = MakeUri(d, "");
        std::string from = "sip:" + (c.empty() ? std::string("zuzod") : c) + "@" +
                           LocalAddrFor(ParseSipUri(route.empty() ? uri : route).host);
        return SendMessage(callid, uri, from, route, nullptr, t, b);
    });
}

int SipStack::sip_im_send_by_account(int callid, int accountId, const char*, const char* dest, const char* type,
                                     const char* body, int32_t length) {
    if (!ValidSlot(callid)) return -1;
    std::string d = dest ? dest : "", t = type ? type : "";
    std::string b(body ? body : "", body ? size_t(std::max<int32_t>(0, length)) : 0);
    return Exec([=, this] {
        SipAccountArgs a;
        {
            std::lock_guard<std::mutex> g(accLock_);
            auto it = accounts_.find(accountId);
            if (it == accounts_.end()) return -1;
            a = it->second->args;
        }
        std::string route = !a.outboundProxy.empty() ? a.outboundProxy : a.server;
        if (route.find(";lr") == std::string::npos) route += ";lr";
        Creds* creds = NewCreds(a.authUser, a.password);
        int r = SendMessage(callid, MakeUri(d, ParseSipUri(a.aor).host), a.aor, route, creds, t, b);
        mem_deref(creds);
        return r;
    });
}

int SipStack::sip_im_make_req(const std::string (&t)[8], std::string& id, int, int) {
    if (t[0].empty() || t[1].empty()) return -1;
    if (id.empty()) id = RandomToken() + "@zuzod";
    std::string callId = id;
    std::string texts[8];
    std::copy(std::begin(t), std::end(t), texts);
    return Exec([=, this] {
        std::string route = texts[7];
        if (!route.empty() && route.compare(0, 4, "sip:") != 0) route = "sip:" + route + ";lr";
        std::string uri = MakeUri(texts[1], "");
        std::string from = texts[2].empty() ? "sip:zuzod@" + LocalAddrFor(ParseSipUri(route.empty() ? uri : route).host)
                                            : MakeUri(texts[2], "");
        Request* r = NewRequest(texts[0], uri, from, texts[3].empty() ? uri : MakeUri(texts[3], ""), route);
        r->callId = callId;
        r->type = texts[4];
        r->body = texts[5];
        for (size_t pos = 0; pos < texts[6].size();) {
            size_t nl = texts[6].find('\n', pos);
            std::string line = texts[6].substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) r->extra += line + "\r\n";
            if (nl == std::string::npos) break;
            pos = nl + 1;
        }
        // The answer comes into the inbox, where the script reads it like a message.
        r->done = [this](Request& req, int err, const sip_msg* msg) {
            auto e = std::make_unique<ImEntry>();
            if (msg) {
                e->fields = FieldsOf(msg);
            } else {
                e->fields.first = "SIP/2.0 " + std::to_string(err == ETIMEDOUT ? 408 : 503) + " No Answer";
                e->fields.request = false;
                e->fields.headers = {{"Call-ID", req.callId}, {"From", "<" + req.from + ">"}, {"To", "<" + req.to + ">"}};
            }
            e->answered = true;
            std::lock_guard<std::mutex> g(imLock_);
            if (inbox_.size() >= kInboxMax) return;
            nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
            e->handle = nextHandle_;
            unread_.push_back(e->handle);
            inbox_[e->handle] = std::move(e);
        };
        return Send(r);
    });
}

// ---- requests in

bool SipStack::OnRequestLate(const sip_msg* msg, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    if (!pl_strcmp(&msg->met, "MESSAGE")) {
        self->TakeMessage(msg);
    } else if (!pl_strcmp(&msg->met, "CANCEL")) {
        self->CancelPendingInvite(msg);
    } else if (!pl_strcmp(&msg->met, "OPTIONS")) {
        sip_replyf(self->sip_, msg, 200, "OK",
                   "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO, MESSAGE\r\nContent-Length: 0\r\n\r\n");
    } else if (!pl_strcmp(&msg->met, "REGISTER") && self->workType_ == 1) {
        self->Register(msg);
    } else if (!pl_strcmp(&msg->met, "ACK")) {
        // an ACK nothing waits for
    } else if (self->workType_ == 1) {
        self->QueueProxy(msg);
    } else {
        sip_reply(self->sip_, msg, 405, "Method Not Allowed");
    }
    return true;
}

void SipStack::TakeMessage(const sip_msg* msg) {
    if (!Allowed(msg)) {
        sip_treply(nullptr, sip_, msg, 403, "Forbidden");
        return;
    }
    std::unique_lock<std::mutex> g(imLock_);
    if (inbox_.size() >= kInboxMax) {
        g.unlock();
        sip_treply(nullptr, sip_, msg, 486, "Busy Here");
        return;
    }
    auto e = std::make_unique<ImEntry>();
    e->fields = FieldsOf(msg);
    e->msg = static_cast<const sip_msg*>(mem_ref(const_cast<sip_msg*>(msg)));
    // The transaction takes the request's retransmissions until the script answers it.
    sip_strans_alloc(&e->st, sip_, msg, nullptr, nullptr);
    nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    e->handle = nextHandle_;
    unread_.push_back(e->handle);
    inbox_[e->handle] = std::move(e);
}

int SipStack::ReplyEntry(ImEntry& e, int code, const char* reason, const std::string& extra) {
    if (!e.msg || e.answered || !e.fields.request) return -2;
    e.answered = true;
    int err = sip_treplyf(&e.st, nullptr, sip_, e.msg, false, uint16_t(code), reason, "%s", extra.c_str());
    return err ? -err : 0;
}

std::unique_ptr<SipStack::ImEntry> SipStack::TakeEntry(int32_t handle) {
    std::lock_guard<std::mutex> g(imLock_);
    auto it = inbox_.find(handle);
    if (it == inbox_.end()) return nullptr;
    auto e = std::move(it->second);
    inbox_.erase(it);
    std::erase(unread_, handle);
    return e;
}

void SipStack::FreeEntry(std::unique_ptr<ImEntry> e) {
    if (!e) return;
    ImEntry* raw = e.release();
    Exec([=, this] {
        std::unique_ptr<ImEntry> own(raw);
        ReplyEntry(*own, 200, "OK", "Content-Length: 0\r\n\r\n");
        mem_deref(own->st);
        mem_deref(const_cast<sip_msg*>(own->msg));
        return 0;
    });
}

int SipStack::sip_im_test() {
    std::lock_guard<std::mutex> g(imLock_);
    return int(unread_.size());
}

int SipStack::sip_im_read(std::string& from, std::string& to, std::string& type, std::string& body) {
    int32_t h;
    {
        std::lock_guard<std::mutex> g(imLock_);
        if (unread_.empty()) return 0;
        h = unread_.front();
    }
    std::unique_ptr<ImEntry> e = TakeEntry(h);
    if (!e) return 0;
    const Fields& f = e->fields;
    from = f.Find("From") ? ValuePart(*f.Find("From"), "uri") : std::string();
    to = f.Find("To") ? ValuePart(*f.Find("To"), "uri") : std::string();
    type = f.Find("Content-Type") ? *f.Find("Content-Type") : std::string();
    body = f.body;
    FreeEntry(std::move(e));
    return 1;
}

int SipStack::sip_im_recv(std::string& from, int32_t& handle) {
    std::lock_guard<std::mutex> g(imLock_);
    if (unread_.empty()) return 0;
    handle = unread_.front();
    unread_.pop_front();
    const Fields& f = inbox_[handle]->fields;
    from = f.Find("From") ? ValuePart(*f.Find("From"), "uri") : std::string();
    return 1;
}

int SipStack::sip_im_get_field(int32_t handle, const char* name, const char* part, std::string& out) {
    std::lock_guard<std::mutex> g(imLock_);
    auto it = inbox_.find(handle);
    if (it == inbox_.end()) return -1;
    return FieldOf(it->second->fields, name, part, out);
}

int SipStack::sip_im_make_ans_ex(int32_t handle, int32_t code, const char* reason, const char* headers,
                                 const char* type, const char* body) {
    if (code < 200 || code > 699) return -3;
    std::string r = reason && *reason ? reason : (code < 300 ? "OK" : "Rejected");
    std::string extra;
    for (std::string h = headers ? headers : ""; !h.empty();) {
        size_t nl = h.find('\n');
        std::string line = h.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) extra += line + "\r\n";
        h = nl == std::string::npos ? std::string() : h.substr(nl + 1);
    }
    std::string b = body ? body : "";
    if (!b.empty()) extra += "Content-Type: " + std::string(type && *type ? type : "text/plain") + "\r\n";
    extra += "Content-Length: " + std::to_string(b.size()) + "\r\n\r\n" + b;
    return Exec([=, this] {
        ImEntry* e;
        {
            std::lock_guard<std::mutex> g(imLock_);
            auto it = inbox_.find(handle);
            if (it == inbox_.end()) return -1;
            e = it->second.get();
        }
        // Entries are freed on this thread only, so e stays while it answers.
        return ReplyEntry(*e, code, r.c_str(), extra);
    });
}

int SipStack::sip_im_free(int32_t handle) {
    std::unique_ptr<ImEntry> e = TakeEntry(handle);
    if (!e) return -1;
    FreeEntry(std::move(e));
    return 0;
}

} // namespace zz
