#pragma once
// SipCfg.ini: the SIP user agent's address and ports, the RTP base port, the default outbound proxy, the codec
// list, the MSRP settings and the SIP accounts ("reg<N>=..." lines). One process-wide object reads the file once,
// at its first use, and keeps the account list for the life of the process.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

class SipUa;

class TagSipReg {
public:
    int32_t id = 0;
    int32_t mustRegister = 0;
    std::string aor;           // "sip:account@domain"
    std::string account;       // the user part as written
    std::string registrar;     // "sip:domain"
    std::string outboundProxy; // the registrar text when the line asks for it, else empty
    std::string authUser;
    std::string password; // deciphered
    std::string server;   // "sip:address:port"
    std::string userAgent;
    int32_t expires = 3600; // seconds
    int32_t field7 = 0;
    int32_t registered = 0; // a registration or declaration was sent

    // Sends the registration (or declaration) with the configured address as contact: the library's result.
    int Register(SipUa& ua, const std::string& sipIpAddr, int32_t sipIpPort);
    // Unregisters a registered account with the library and clears the registered flag.
    void Unregister(SipUa& ua);
    bool IsRegistered(SipUa& ua) const;
};

class TagSipRegCtrl {
public:
    // The SIP library the accounts register with (the process's unless a driver gives its own).
    void SetLibrary(SipUa* ua) { ua_ = ua; }
    // Parses and appends one account: the id; -1 id not above 0; -2 id taken; -3 too few (or too many) fields
    // or no account; -4 a field longer than 199 characters; -5 the server's name does not resolve.
    int AddReg(int32_t id, const std::string& text);
    // Registers every account in list order; the account count.
    int RegisterAll(const std::string& sipIpAddr, int32_t sipIpPort);
    TagSipReg* FindById(int32_t id);
    // Address of record, account or authentication user, without regard to case.
    TagSipReg* FindByName(const char* name);
    // 0 no such account; its id when it counts as registered; minus its id otherwise.
    int32_t AccountState(const char* name);
    // Unregisters every account and empties the list.
    void Clear();
    const std::vector<TagSipReg>& Accounts() const { return regs_; }

private:
    SipUa& Ua();
    std::vector<TagSipReg> regs_;
    SipUa* ua_ = nullptr;
};

class TagSipCfg {
public:
    // Defaults, then the file (a missing file keeps every default).
    explicit TagSipCfg(const char* file = "SipCfg.ini");

    // -1 when the file does not open, else 0.
    int ReadCfgFile(const char* file);

    int32_t isProxyMode = 0;
    int32_t isAppFirewall = 0;
    std::string sipIpAddr = "0.0.0.0";
    int32_t sipIpPort = 5060;
    int32_t sipTcpPort = 5060;
    int32_t rtpBasePort = 10500;
    int32_t isSipTcp = 0;
    std::string outProxyAddr;
    int32_t outProxyPort = 0;
    std::string SdpAudioList = "8,18,3,98";
    int32_t regId = 0;
    int32_t regIsMustReged = 0;
    std::string regAccount, regServer, regAuthRealm, regAuthUserName, regAuthPassword, regOutBoundProxy,
        regUserAgent;
    int32_t regExpires = 0;
    int32_t msrpPort = 0;
    std::string msrpLocalPath;
    int32_t msrpPoolNum = 0;

    TagSipRegCtrl regCtrl;
};

// The process's configuration, read from "SipCfg.ini" in the working directory at the first call.
TagSipCfg& SipCfg();

// A dotted IPv4 address stays; a host name becomes its first address. False when it does not resolve.
bool ResolveHost(const std::string& host, std::string& dotted);
// An enciphered password ("^^" and hex bytes, RC4 keyed with the account) deciphered; any other as it stands.
std::string DecipherPassword(const std::string& password, const std::string& account);

} // namespace zz
