#include "telephony/sip/TagSipCfg.h"

#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "telephony/sip/SipLibrary.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

namespace zz {

namespace {

constexpr size_t kLineRoom = 512;  // a longer line is read in pieces
constexpr size_t kFieldMax = 199;  // characters of one account field
constexpr size_t kMaxFields = 10;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Blanks dropped wherever they stand, "," ends a field, the text ends at a line feed. An empty text after the
// last comma is no field.
std::vector<std::string> SplitAccountFields(const std::string& text) {
    std::vector<std::string> fields;
    std::string cur;
    for (char c : text) {
        if (c == '\n') break;
        if (c == ' ') continue;
        if (c == ',') {
            fields.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!cur.empty()) fields.push_back(cur);
    return fields;
}

void Rc4(const std::string& key, std::vector<uint8_t>& data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + uint8_t(key[size_t(i) % key.size()])) & 0xFF;
        std::swap(s[i], s[j]);
    }
    int i = 0, j = 0;
    for (uint8_t& b : data) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        b ^= s[(s[i] + s[j]) & 0xFF];
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

} // namespace

bool ResolveHost(const std::string& host, std::string& dotted) {
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) == 1) {
        dotted = host;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
    freeaddrinfo(res);
    dotted = buf;
    return true;
}

std::string DecipherPassword(const std::string& password, const std::string& account) {
    if (password.compare(0, 2, "^^") != 0) return password;
    size_t n = password.size() / 2;
    if (n < 2 || account.empty()) return password;
    std::vector<uint8_t> bytes(n - 1);
    for (size_t k = 0; k + 1 < n; ++k)
        bytes[k] = uint8_t(HexDigit(password[2 + 2 * k]) << 4 | HexDigit(password[3 + 2 * k]));
    Rc4(account, bytes);
    std::string out;
    for (uint8_t b : bytes) {
        if (!b) break;
        out += char(b);
    }
    return out;
}

// ---- accounts

int TagSipReg::Register(SipUa& ua, const std::string& sipIpAddr, int32_t sipIpPort) {
    registered = 1;
    SipAccountArgs a;
    a.id = id;
    a.aor = aor;
    a.registrar = registrar;
    a.outboundProxy = outboundProxy;
    a.authUser = authUser;
    a.password = password;
    a.server = server;
    a.contact = "sip:" + account + "@" + sipIpAddr + ":" + std::to_string(sipIpPort);
    a.field7 = field7;
    a.expires = expires;
    int r = mustRegister ? ua.sip_account_register(a) : ua.sip_account_set(a);
    WriteRunLogF(mustRegister ? "sip_account_register(id=%d, acc=%s): %d" : "sip_account_set(id=%d, acc=%s): %d", id,
                 authUser.c_str(), r);
    return r;
}

bool TagSipReg::IsRegistered(SipUa& ua) const {
    if (id < 1 || !mustRegister) return true;
    int st = ua.sip_account_get_state(id);
    WriteRunLogF("regState=%d, sip_account_get_state(id=%d) ", st, id);
    return st == kSipRegOk;
}

void TagSipReg::Unregister(SipUa& ua) {
    if (registered && id >= 1 && mustRegister) {
        if (int8_t(ua.sip_account_get_state(id)) == kSipRegOk) {
            ua.sip_account_unregister(id);
            SleepMs(200);
        }
    }
    registered = 0;
}

int TagSipRegCtrl::AddReg(int32_t id, const std::string& text) {
    if (id <= 0) {
        WriteRunLogF("配置注册参数不正确, 注册id必须大于0, id=%d", id);
        return -1;
    }
    if (FindById(id)) {
        WriteRunLogF("配置注册参数不正确, 注册id已经存在, id=%d", id);
        return -2;
    }
    std::vector<std::string> f = SplitAccountFields(text);
    if (f.size() < 5 || f.size() > kMaxFields) {
        WriteRunLogF("配置注册参数不正确, n=%d", int(f.size()));
        return -3;
    }
    for (const std::string& s : f) {
        if (s.size() > kFieldMax) {
            WriteRunLogF("配置注册参数不正确, 参数太长, id=%d", id);
            return -4;
        }
    }
    if (f[1].empty()) {
        WriteRunLogF("配置注册参数不正确, 帐号为空, id=%d", id);
        return -3;
    }
    auto given = [&](size_t i) { return i < f.size() && !f[i].empty(); };
    std::string serverAddr;
    if (!ResolveHost(f[3], serverAddr)) {
        WriteRunLogF("配置注册参数不正确, 服务器地址无法解析: %s, id=%d", f[3].c_str(), id);
        return -5;
    }
    TagSipReg r;
    r.id = id;
    r.mustRegister = CfgInt(f[0]);
    r.account = f[1];
    std::string domain = given(6) ? f[6] : serverAddr;
    r.aor = "sip:" + r.account + "@" + domain;
    r.registrar = "sip:" + domain;
    // The registrar as proxy is reached on the configured server port, not on SIP's default one.
    if (given(8) && CfgInt(f[8]) != 0)
        r.outboundProxy = CfgInt(f[4]) > 0 ? r.registrar + ":" + std::to_string(CfgInt(f[4])) : r.registrar;
    r.authUser = given(5) ? f[5] : r.account;
    r.password = DecipherPassword(f[2], r.account);
    r.server = "sip:" + serverAddr + ":" + std::to_string(CfgInt(f[4]));
    r.expires = given(9) && CfgInt(f[9]) >= 300 ? CfgInt(f[9]) : 3600;
    r.field7 = given(7) ? CfgInt(f[7]) : 0;
    regs_.push_back(std::move(r));
    return id;
}

int TagSipRegCtrl::RegisterAll(const std::string& sipIpAddr, int32_t sipIpPort) {
    for (TagSipReg& r : regs_)
        r.Register(Ua(), sipIpAddr, sipIpPort);
    return int(regs_.size());
}

TagSipReg* TagSipRegCtrl::FindById(int32_t id) {
    for (TagSipReg& r : regs_)
        if (r.id == id) return &r;
    return nullptr;
}

TagSipReg* TagSipRegCtrl::FindByName(const char* name) {
    if (!name) return nullptr;
    for (TagSipReg& r : regs_)
        if (GbkEqualNoCase(r.aor, name) || GbkEqualNoCase(r.account, name) || GbkEqualNoCase(r.authUser, name))
            return &r;
    return nullptr;
}

int32_t TagSipRegCtrl::AccountState(const char* name) {
    TagSipReg* r = FindByName(name);
    if (!r) return 0;
    return r->IsRegistered(Ua()) ? r->id : -r->id;
}

void TagSipRegCtrl::Clear() {
    for (TagSipReg& r : regs_)
        r.Unregister(Ua());
    regs_.clear();
}

SipUa& TagSipRegCtrl::Ua() {
    return ua_ ? *ua_ : *GetSipLibs().ua;
}

// ---- the file

TagSipCfg::TagSipCfg(const char* file) {
    ReadCfgFile(file);
}

int TagSipCfg::ReadCfgFile(const char* file) {
    FileHandle f = FileHandle::Open(file, "r");
    if (!f) return -1;
    // In the order of the configuration's fields: an integer or a text each.
    struct Key {
        const char* name;
        int32_t TagSipCfg::*num;
        std::string TagSipCfg::*text;
    };
    static const Key kKeys[] = {{"isProxyMode", &TagSipCfg::isProxyMode, nullptr},
                                {"isAppFirewall", &TagSipCfg::isAppFirewall, nullptr},
                                {"sipIpAddr", nullptr, &TagSipCfg::sipIpAddr},
                                {"sipIpPort", &TagSipCfg::sipIpPort, nullptr},
                                {"sipTcpPort", &TagSipCfg::sipTcpPort, nullptr},
                                {"rtpBasePort", &TagSipCfg::rtpBasePort, nullptr},
                                {"isSipTcp", &TagSipCfg::isSipTcp, nullptr},
                                {"outProxyAddr", nullptr, &TagSipCfg::outProxyAddr},
                                {"outProxyPort", &TagSipCfg::outProxyPort, nullptr},
                                {"SdpAudioList", nullptr, &TagSipCfg::SdpAudioList},
                                {"regId", &TagSipCfg::regId, nullptr},
                                {"regIsMustReged", &TagSipCfg::regIsMustReged, nullptr},
                                {"regAccount", nullptr, &TagSipCfg::regAccount},
                                {"regServer", nullptr, &TagSipCfg::regServer},
                                {"regAuthRealm", nullptr, &TagSipCfg::regAuthRealm},
                                {"regAuthUserName", nullptr, &TagSipCfg::regAuthUserName},
                                {"regAuthPassword", nullptr, &TagSipCfg::regAuthPassword},
                                {"regOutBoundProxy", nullptr, &TagSipCfg::regOutBoundProxy},
                                {"regUserAgent", nullptr, &TagSipCfg::regUserAgent},
                                {"regExpires", &TagSipCfg::regExpires, nullptr},
                                {"msrpPort", &TagSipCfg::msrpPort, nullptr},
                                {"msrpLocalPath", nullptr, &TagSipCfg::msrpLocalPath},
                                {"msrpPoolNum", &TagSipCfg::msrpPoolNum, nullptr}};
    char buf[kLineRoom];
    while (std::fgets(buf, sizeof buf, f.get())) {
        std::string line = buf;
        size_t slash = line.find('/');
        if (slash != std::string::npos && slash + 1 < line.size() && line[slash + 1] == '/') line.resize(slash);
        if (size_t lf = line.find('\n'); lf != std::string::npos) line.resize(lf);
        if (size_t cr = line.find('\r'); cr != std::string::npos) line.resize(cr);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        const Key* k = nullptr;
        for (const Key& c : kKeys)
            if (GbkEqualNoCase(key, c.name)) {
                k = &c;
                break;
            }
        if (!k) {
            if (key.size() >= 3 && GbkEqualNoCase(key.substr(0, 3), "reg")) regCtrl.AddReg(CfgInt(key.substr(3)), value);
            continue;
        }
        if (k->num) {
            this->*k->num = CfgInt(value);
        } else if (k->text == &TagSipCfg::outProxyAddr && !value.empty() && !ResolveHost(value, outProxyAddr)) {
            WriteRunLogF("outProxyAddr=%s: 无法解析, 不使用缺省代理", value.c_str());
            outProxyAddr.clear();
        } else if (k->text != &TagSipCfg::outProxyAddr || value.empty()) {
            this->*k->text = value;
        }
    }
    return 0;
}

TagSipCfg& SipCfg() {
    static TagSipCfg cfg("SipCfg.ini");
    return cfg;
}

} // namespace zz
