// Proxy mode of the SIP stack: requests for registered users and for dialogs that are not the lines' own wait
// for a script (SipProxyRecv), which reads and edits their fields and forwards or answers them; responses to
// what the scripts forwarded go back down the Via path by themselves. The registrar keeps the users'
// bindings, checking passwords through the account callbacks, which run one at a time on a thread of their own.
#include "platform/TagWriteLog.h"
#include "telephony/sip/SipStackParts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <strings.h>

namespace zz {

namespace {

constexpr size_t kProxyQueueMax = 1024;
constexpr uint64_t kProxyKeepMs = 32000; // a message no script took within a transaction's life is dropped
constexpr const char* kBranchMark = "z9hG4bKzzpx";
constexpr uint64_t kNonceLifeMs = 300000;

std::string PlStr(const pl& p) {
    return p.p ? std::string(p.p, p.l) : std::string();
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

// "host:port" (or a SIP URI) to an address; names are looked up.
bool ToAddress(const std::string& text, int defaultPort, sa& out) {
    SipUriParts u = ParseSipUri(text.find(':') != std::string::npos && text.compare(0, 3, "sip") != 0
                                    ? "sip:" + text
                                    : text);
    std::string host = u.host.empty() ? text : u.host;
    int port = u.port ? u.port : defaultPort;
    if (sa_set_str(&out, host.c_str(), uint16_t(port)) == 0) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
    freeaddrinfo(res);
    return sa_set_str(&out, buf, uint16_t(port)) == 0;
}

// A parameter of a Via value ("SIP/2.0/UDP host:port;branch=...;rport=5060").
std::string ViaParam(const std::string& via, const char* name) {
    size_t semi = via.find(';');
    return semi == std::string::npos ? std::string() : SipStack::ValuePart("<x>" + via.substr(semi), name);
}

// Where a response goes by a Via value: received and rport win over the sent-by address.
bool ViaAddress(const std::string& via, sa& out) {
    size_t sp = via.find(' ');
    if (sp == std::string::npos) return false;
    std::string sentBy = via.substr(sp + 1, via.find(';', sp) - sp - 1);
    while (!sentBy.empty() && sentBy.back() == ' ')
        sentBy.pop_back();
    std::string received = ViaParam(via, "received"), rport = ViaParam(via, "rport");
    SipUriParts s = ParseSipUri("sip:" + sentBy);
    std::string host = received.empty() ? s.host : received;
    int port = !rport.empty() ? std::atoi(rport.c_str()) : s.port ? s.port : 5060;
    return sa_set_str(&out, host.c_str(), uint16_t(port)) == 0;
}

uint32_t Fnv(const std::string& s) {
    uint32_t h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

} // namespace

// ---- what proxy mode takes

bool SipStack::Allowed(const sip_msg* msg) {
    if (!firewall_) return true;
    char src[64] = {};
    sa_ntop(&msg->src, src, sizeof src);
    std::string ip = src;
    if (ParseSipUri(defaultRoute_).host == ip) return true;
    {
        std::lock_guard<std::mutex> g(accLock_);
        for (auto& [id, acc] : accounts_)
            if (ParseSipUri(acc->args.server).host == ip || ParseSipUri(acc->args.outboundProxy).host == ip)
                return true;
    }
    std::lock_guard<std::mutex> g(proxyLock_);
    for (auto& [user, b] : bindings_)
        if (b.source.compare(0, ip.size() + 1, ip + ":") == 0) return true;
    return false;
}

bool SipStack::ProxyWants(const sip_msg* msg) {
    if (callIds_.count(PlStr(msg->callid))) return false; // a dialog of the lines
    if (!pl_strcmp(&msg->met, "REGISTER") || !pl_strcmp(&msg->met, "OPTIONS")) return false;
    bool newRequest = !pl_isset(&msg->to.tag);
    if (newRequest && (!pl_strcmp(&msg->met, "INVITE") || !pl_strcmp(&msg->met, "MESSAGE"))) {
        std::lock_guard<std::mutex> g(proxyLock_);
        return bindings_.count(Lower(PlStr(msg->uri.user))) != 0;
    }
    return true;
}

bool SipStack::OnRequestEarly(const sip_msg* msg, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    if (self->workType_ != 1 || !self->ProxyWants(msg)) return false;
    self->QueueProxy(msg);
    return true;
}

void SipStack::QueueProxy(const sip_msg* msg) {
    std::unique_lock<std::mutex> g(proxyLock_);
    uint64_t now = SteadyMs();
    while (!proxyQueue_.empty()) {
        auto it = proxyMsgs_.find(proxyQueue_.front());
        if (it != proxyMsgs_.end() && now - it->second->arrived < kProxyKeepMs) break;
        if (it != proxyMsgs_.end()) proxyMsgs_.erase(it);
        proxyQueue_.pop_front();
    }
    if (proxyMsgs_.size() >= kProxyQueueMax) {
        g.unlock();
        if (pl_strcmp(&msg->met, "ACK")) sip_reply(sip_, msg, 503, "Service Unavailable");
        return;
    }
    auto m = std::make_unique<ProxyMsg>();
    m->fields.first = std::string(reinterpret_cast<const char*>(msg->mb->buf), msg->mb->end);
    m->fields.first.resize(m->fields.first.find("\r\n"));
    for (le* e = msg->hdrl.head; e; e = e->next) {
        auto* h = static_cast<sip_hdr*>(e->data);
        m->fields.headers.emplace_back(PlStr(h->name), PlStr(h->val));
    }
    m->fields.body.assign(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    char src[64] = {};
    re_snprintf(src, sizeof src, "%J", &msg->src);
    m->fields.source = src;
    m->fields.request = msg->req;
    m->fields.tp = msg->tp;
    m->arrived = now;
    nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
    m->handle = nextHandle_;
    proxyQueue_.push_back(m->handle);
    proxyMsgs_[m->handle] = std::move(m);
}

bool SipStack::OnResponse(const sip_msg* msg, void* arg) {
    auto* self = static_cast<SipStack*>(arg);
    if (self->TakeProbe(msg)) return true;
    if (self->workType_ != 1 || PlStr(msg->via.branch).compare(0, 11, kBranchMark) != 0) {
        // No transaction or session took it (a late answer to a request long done, a stranger's).
        self->NoteStrayResponse(msg);
        return true;
    }
    // A response to a request a script forwarded: our Via off, on to the next one.
    Fields f;
    f.first = std::string(reinterpret_cast<const char*>(msg->mb->buf), msg->mb->end);
    f.first.resize(f.first.find("\r\n"));
    bool ourVia = true;
    std::string nextVia;
    for (le* e = msg->hdrl.head; e; e = e->next) {
        auto* h = static_cast<sip_hdr*>(e->data);
        if (h->id == SIP_HDR_VIA && ourVia) {
            ourVia = false;
            continue;
        }
        if (h->id == SIP_HDR_VIA && nextVia.empty()) nextVia = PlStr(h->val);
        f.headers.emplace_back(PlStr(h->name), PlStr(h->val));
    }
    f.body.assign(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    sa dst;
    if (nextVia.empty() || !ViaAddress(nextVia, dst)) return true;
    std::string text = f.Text();
    mbuf* mb = mbuf_alloc(text.size());
    mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    mb->pos = 0;
    sip_send(self->sip_, nullptr, nextVia.find("/TCP") != std::string::npos ? SIP_TRANSP_TCP : SIP_TRANSP_UDP, &dst, mb);
    mem_deref(mb);
    return true;
}

// ---- the scripts' side

int SipStack::sip_proxy_recv(std::string& t1, std::string& t2, int32_t& msg, std::string& t3) {
    std::lock_guard<std::mutex> g(proxyLock_);
    t1.clear();
    t2.clear();
    t3.clear();
    msg = 0;
    while (!proxyQueue_.empty()) {
        int32_t h = proxyQueue_.front();
        proxyQueue_.pop_front();
        auto it = proxyMsgs_.find(h);
        if (it == proxyMsgs_.end()) continue;
        const Fields& f = it->second->fields;
        size_t sp1 = f.first.find(' '), sp2 = f.first.find(' ', sp1 + 1);
        t1 = f.first.substr(0, sp1);
        t2 = f.source;
        t3 = sp1 == std::string::npos ? std::string() : f.first.substr(sp1 + 1, sp2 - sp1 - 1);
        msg = h;
        return 1;
    }
    return 0;
}

int SipStack::sip_proxy_get_field(int32_t msg, const char* name, const char* part, std::string& out) {
    std::lock_guard<std::mutex> g(proxyLock_);
    out.clear();
    auto it = proxyMsgs_.find(msg);
    if (it == proxyMsgs_.end()) return -1;
    const Fields& f = it->second->fields;
    std::string n = name ? name : "";
    if (!strcasecmp(n.c_str(), "Body")) {
        out = f.body;
        return int(out.size());
    }
    const std::string* v = f.Find(n);
    if (!v) return -2;
    out = ValuePart(*v, part ? part : "");
    return int(out.size());
}

int SipStack::sip_proxy_add_field(int32_t msg, const char* name, const char* value, int32_t where) {
    std::lock_guard<std::mutex> g(proxyLock_);
    auto it = proxyMsgs_.find(msg);
    if (!name || !*name) return -2;
    if (it == proxyMsgs_.end()) return -1;
    auto& hs = it->second->fields.headers;
    std::pair<std::string, std::string> h{name, value ? value : ""};
    if (where == 0) {
        hs.push_back(std::move(h));
        return 0;
    }
    // At the top of the fields of that name (a Via or Record-Route of our own), or first of all.
    auto at = std::find_if(hs.begin(), hs.end(), [&](const auto& x) { return !strcasecmp(x.first.c_str(), name); });
    hs.insert(at == hs.end() ? hs.begin() : at, std::move(h));
    return 0;
}

int SipStack::sip_proxy_remove_field(int32_t msg, const char* name) {
    std::lock_guard<std::mutex> g(proxyLock_);
    auto it = proxyMsgs_.find(msg);
    if (it == proxyMsgs_.end()) return -1;
    Fields probe;
    auto& hs = it->second->fields.headers;
    for (auto h = hs.begin(); h != hs.end(); ++h) {
        probe.headers = {*h};
        if (probe.Find(name ? name : "")) {
            hs.erase(h);
            return 1;
        }
    }
    return 0;
}

int SipStack::ForwardProxy(int32_t msg, const char* dest, int transport) {
    std::unique_ptr<ProxyMsg> m;
    {
        std::lock_guard<std::mutex> g(proxyLock_);
        auto it = proxyMsgs_.find(msg);
        if (it == proxyMsgs_.end()) return -1;
        m = std::move(it->second);
        proxyMsgs_.erase(it);
    }
    std::string d = dest ? dest : "";
    ProxyMsg* raw = m.release();
    return Exec([=, this] {
        std::unique_ptr<ProxyMsg> own(raw);
        Fields& f = own->fields;
        if (!f.request) return -2;
        size_t sp1 = f.first.find(' '), sp2 = f.first.find(' ', sp1 + 1);
        std::string method = f.first.substr(0, sp1), ruri = f.first.substr(sp1 + 1, sp2 - sp1 - 1);
        int tp = transport == 1 ? SIP_TRANSP_TCP : SIP_TRANSP_UDP;
        // Max-Forwards down by one; a request that has used them up goes no further.
        auto mf = std::find_if(f.headers.begin(), f.headers.end(),
                               [](const auto& h) { return !strcasecmp(h.first.c_str(), "Max-Forwards"); });
        if (mf == f.headers.end()) {
            f.headers.emplace_back("Max-Forwards", "70");
        } else {
            int n = std::atoi(mf->second.c_str());
            if (n <= 0) return -3;
            mf->second = std::to_string(n - 1);
        }
        // Where to: the script's destination, else the binding of the called user, else the request URI.
        std::string target = d;
        if (target.empty()) {
            std::lock_guard<std::mutex> g(proxyLock_);
            auto b = bindings_.find(Lower(ParseSipUri(ruri).user));
            target = b != bindings_.end() ? b->second.contact : ruri;
        }
        sa dst;
        if (!ToAddress(target, 5060, dst)) return -4;
        // Stateless: the branch follows from the incoming one, so a CANCEL or ACK takes its INVITE's branch.
        const std::string* topVia = f.Find("Via");
        std::string key = (topVia ? ViaParam(*topVia, "branch") : f.source) +
                          (method == "CANCEL" || method == "ACK" ? std::string() : method);
        std::string branch = kBranchMark + std::to_string(Fnv(key));
        char host[64] = {};
        sa_ntop(&dst, host, sizeof host);
        std::string via = std::string("SIP/2.0/") + (tp == SIP_TRANSP_TCP ? "TCP " : "UDP ") + LocalAddrFor(host) +
                          ":" + std::to_string(LocalPort(tp)) + ";branch=" + branch + ";rport";
        f.headers.insert(f.headers.begin(), {"Via", via});
        std::string text = f.Text();
        mbuf* mb = mbuf_alloc(text.size());
        mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        mb->pos = 0;
        int err = sip_send(sip_, nullptr, static_cast<sip_transp>(tp), &dst, mb);
        mem_deref(mb);
        return err ? -err : 0;
    });
}

int SipStack::sip_proxy_send(int32_t msg, const char* dest) {
    return ForwardProxy(msg, dest, 0);
}

int SipStack::sip_proxy_send_ex(int32_t msg, const char* dest, int32_t transport) {
    return ForwardProxy(msg, dest, transport);
}

int SipStack::sip_proxy_dir_ans(int32_t msg, int32_t code, const char* reason) {
    std::unique_ptr<ProxyMsg> m;
    {
        std::lock_guard<std::mutex> g(proxyLock_);
        auto it = proxyMsgs_.find(msg);
        if (it == proxyMsgs_.end()) return -1;
        m = std::move(it->second);
        proxyMsgs_.erase(it);
    }
    if (!m->fields.request || code < 100 || code > 699) return -2;
    std::string r = reason && *reason ? reason : "Answer";
    ProxyMsg* raw = m.release();
    return Exec([=, this] {
        std::unique_ptr<ProxyMsg> own(raw);
        Fields resp;
        resp.first = "SIP/2.0 " + std::to_string(code) + " " + r;
        resp.request = false;
        std::string topVia;
        for (const auto& [n, v] : own->fields.headers) {
            std::string ln = Lower(n);
            if (ln == "via" || ln == "v") {
                if (topVia.empty()) topVia = v;
                resp.headers.emplace_back(n, v);
            } else if (ln == "from" || ln == "f" || ln == "call-id" || ln == "i" || ln == "cseq") {
                resp.headers.emplace_back(n, v);
            } else if (ln == "to" || ln == "t") {
                resp.headers.emplace_back(n, v.find("tag=") == std::string::npos && code > 100
                                                 ? v + ";tag=" + RandomToken()
                                                 : v);
            }
        }
        sa dst;
        if (topVia.empty() || !ViaAddress(topVia, dst)) return -3;
        std::string text = resp.Text();
        mbuf* mb = mbuf_alloc(text.size());
        mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        mb->pos = 0;
        int err = sip_send(sip_, nullptr, static_cast<sip_transp>(own->fields.tp), &dst, mb);
        mem_deref(mb);
        return err ? -err : 0;
    });
}

int SipStack::sp_send_keep_alives(const char* dest, const char* data, int32_t length) {
    std::string d = dest ? dest : "", payload(data ? data : "", data ? size_t(std::max<int32_t>(length, 0)) : 0);
    return Exec([=, this] {
        sa dst;
        if (!ToAddress(d, 5060, dst)) return -1;
        mbuf* mb = mbuf_alloc(payload.size() + 1);
        mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
        mb->pos = 0;
        int err = sip_send(sip_, nullptr, SIP_TRANSP_UDP, &dst, mb);
        mem_deref(mb);
        return err ? -err : int(payload.size());
    });
}

// ---- the registrar

void SipStack::Register(const sip_msg* msg) {
    std::string user = Lower(PlStr(msg->to.uri.user));
    const sip_hdr* ch = sip_msg_hdr(msg, SIP_HDR_CONTACT);
    std::string contactVal = ch ? PlStr(ch->val) : std::string();
    int expires = pl_isset(&msg->expires) ? int(pl_u32(&msg->expires)) : 3600;
    if (std::string e = ValuePart(contactVal, "expires"); !e.empty()) expires = std::atoi(e.c_str());
    char src[64] = {};
    re_snprintf(src, sizeof src, "%J", &msg->src);
    sip_strans* st = nullptr;
    sip_strans_alloc(&st, sip_, msg, nullptr, nullptr); // takes the retransmissions while the script decides
    const sip_msg* held = static_cast<const sip_msg*>(mem_ref(const_cast<sip_msg*>(msg)));
    std::string source = src, contact = contactVal == "*" ? "*" : ValuePart(contactVal, "uri");
    std::string authVal;
    if (const sip_hdr* a = sip_msg_hdr(msg, SIP_HDR_AUTHORIZATION)) authVal = PlStr(a->val);
    SipAccPwdIpFn byIp = accPwdIp_;
    SipAccPwdFn byName = accPwd_;

    // What the script decides comes back to the SIP thread.
    auto finish = [this, held, st, user, source, contact, expires, authVal](int ret, std::string pw, std::string realm,
                                                                            std::string addr, bool checked) mutable {
        auto reply = [&](int code, const char* reason, const std::string& extra) {
            sip_treplyf(&st, nullptr, sip_, held, false, uint16_t(code), reason, "%sContent-Length: 0\r\n\r\n",
                        extra.c_str());
        };
        if (realm.empty()) realm = "zuzod";
        if (checked && ret < 0) {
            reply(403, "Forbidden", "");
        } else if (checked && authVal.empty()) {
            std::string nonce = RandomToken() + RandomToken();
            {
                std::lock_guard<std::mutex> g(proxyLock_);
                uint64_t now = SteadyMs();
                for (auto it = nonces_.begin(); it != nonces_.end();)
                    it = now - it->second >= kNonceLifeMs ? nonces_.erase(it) : std::next(it);
                nonces_[nonce] = now;
            }
            reply(401, "Unauthorized",
                  "WWW-Authenticate: Digest realm=\"" + realm + "\", nonce=\"" + nonce + "\", algorithm=MD5\r\n");
        } else {
            bool ok = !checked;
            if (checked) {
                httpauth_digest_resp resp{};
                pl hval;
                pl_set_str(&hval, authVal.c_str());
                if (httpauth_digest_response_decode(&resp, &hval) == 0) {
                    std::string nonce = PlStr(resp.nonce);
                    std::lock_guard<std::mutex> g(proxyLock_);
                    auto n = nonces_.find(nonce);
                    if (n != nonces_.end() && SteadyMs() - n->second < kNonceLifeMs) {
                        uint8_t ha1[16];
                        std::string a1 = PlStr(resp.username) + ":" + realm + ":" + pw;
                        md5(reinterpret_cast<const uint8_t*>(a1.data()), a1.size(), ha1);
                        ok = httpauth_digest_response_auth(&resp, &held->met, ha1) == 0;
                    }
                }
            }
            if (!ok) {
                reply(403, "Forbidden", "");
            } else {
                std::string bound = !addr.empty() ? addr : contact;
                int result = 200;
                {
                    std::lock_guard<std::mutex> g(proxyLock_);
                    uint64_t now = SteadyMs();
                    for (auto it = bindings_.begin(); it != bindings_.end();)
                        it = it->second.expires <= now ? bindings_.erase(it) : std::next(it);
                    if (contact == "*" || expires == 0) {
                        bindings_.erase(user);
                    } else if (bindings_.size() >= maxRegUsers_ && !bindings_.count(user)) {
                        result = 503;
                    } else {
                        Binding& b = bindings_[user];
                        b.user = user;
                        b.contact = bound;
                        b.source = source;
                        b.tp = held->tp;
                        b.expires = now + uint64_t(expires) * 1000;
                    }
                }
                if (result == 503) {
                    reply(503, "Service Unavailable", "");
                } else {
                    reply(200, "OK",
                          contact == "*" ? std::string()
                                         : "Contact: <" + contact + ">;expires=" + std::to_string(expires) + "\r\n");
                    if (SipRegisterNotifyFn fn = regNotify_) {
                        std::lock_guard<std::mutex> g(cbLock_);
                        cbJobs_.push_back([fn, user, bound, expires] {
                            fn(user.c_str(), bound.c_str(), expires, expires > 0 ? 1 : 0);
                        });
                        cbCv_.notify_one();
                    }
                }
            }
        }
        mem_deref(st);
        mem_deref(const_cast<sip_msg*>(held));
        return 0;
    };

    if (!byIp && !byName) {
        finish(0, "", "", "", false); // no account check installed: an open registrar
        return;
    }
    std::lock_guard<std::mutex> g(cbLock_);
    cbJobs_.push_back([this, byIp, byName, user, source, finish]() mutable {
        std::string pw, realm, addr;
        int ret = byIp ? byIp((user + "@" + source).c_str(), pw, realm, addr) : byName(user.c_str(), pw, realm);
        std::lock_guard<std::mutex> jg(jobsLock_);
        if (!accepting_) return;
        jobs_.push_back([=]() mutable { finish(ret, pw, realm, addr, true); });
        mqueue_push(mq_, 0, nullptr);
    });
    cbCv_.notify_one();
}

int SipStack::sip_unregister_user(const char* user) {
    std::string u = Lower(user ? user : "");
    std::string contact;
    {
        std::lock_guard<std::mutex> g(proxyLock_);
        auto it = bindings_.find(u);
        if (it == bindings_.end()) return 0;
        contact = it->second.contact;
        bindings_.erase(it);
    }
    if (SipRegisterNotifyFn fn = regNotify_) {
        std::lock_guard<std::mutex> g(cbLock_);
        cbJobs_.push_back([fn, u, contact] { fn(u.c_str(), contact.c_str(), 0, 0); });
        cbCv_.notify_one();
    }
    return 1;
}

int SipStack::sip_get_dest_addr(const char* text, std::string& out) {
    std::string t = text ? text : "";
    SipUriParts u = ParseSipUri(t.find('@') != std::string::npos && t.compare(0, 3, "sip") != 0 ? "sip:" + t : t);
    std::string user = Lower(u.user.empty() && u.host.find('.') == std::string::npos ? t : u.user);
    {
        std::lock_guard<std::mutex> g(proxyLock_);
        auto it = bindings_.find(user);
        if (it != bindings_.end() && it->second.expires > SteadyMs()) {
            SipUriParts c = ParseSipUri(it->second.contact);
            out = (c.host + ":" + std::to_string(c.port ? c.port : 5060)).substr(0, 199);
            return 0;
        }
    }
    if (u.host.empty() || u.host.find_first_of(".:") == std::string::npos) return -1;
    out = (u.host + ":" + std::to_string(u.port ? u.port : 5060)).substr(0, 199);
    return 0;
}

int SipStack::sip_get_acc_addr(const char* user, const char*, std::string& out, int32_t& number) {
    std::lock_guard<std::mutex> g(proxyLock_);
    auto it = bindings_.find(Lower(user ? user : ""));
    uint64_t now = SteadyMs();
    if (it == bindings_.end() || it->second.expires <= now) return -1;
    out = it->second.contact.substr(0, 199);
    number = int32_t((it->second.expires - now) / 1000);
    return 0;
}

// ---- account callbacks

int SipStack::sip_on_get_acc_pwd(SipAccPwdFn fn) {
    accPwd_ = fn;
    return 0;
}

int SipStack::sip_on_get_acc_pwd_ip(SipAccPwdIpFn fn) {
    accPwdIp_ = fn;
    return 0;
}

int SipStack::sip_on_register_notify(SipRegisterNotifyFn fn) {
    regNotify_ = fn;
    return 0;
}

void SipStack::StartCallbackThread() {
    std::lock_guard<std::mutex> g(cbLock_);
    cbQuit_ = false;
    cbThread_ = std::thread([this] { CallbackThread(); });
}

void SipStack::StopCallbackThread() {
    {
        std::lock_guard<std::mutex> g(cbLock_);
        cbQuit_ = true;
    }
    cbCv_.notify_all();
    if (cbThread_.joinable()) cbThread_.join();
}

void SipStack::CallbackThread() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> g(cbLock_);
            cbCv_.wait(g, [&] { return cbQuit_ || !cbJobs_.empty(); });
            if (cbQuit_) {
                cbJobs_.clear();
                return;
            }
            job = std::move(cbJobs_.front());
            cbJobs_.pop_front();
        }
        try {
            job();
        } catch (...) {
            WriteRunLogAlways("SIP account callback failed");
        }
    }
}

} // namespace zz
