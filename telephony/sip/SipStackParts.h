#pragma once
// The records the SIP stack's sources share (only they include this file).
#include "telephony/sip/ReHeaders.h"
#include "telephony/sip/SipStack.h"

#include <string>

namespace zz {

class WakeEvent;

// A call slot as the line sees it: written by the SIP thread, read by the line, both under the lock.
struct SipStack::Slot {
    std::mutex m;
    int type = kSipTypeNone;
    int state = kSipStIdle;
    int oa = kSipOaNone;
    bool oaNew = false;
    int ansCode = 0;
    std::string peerSdp;  // the peer's latest offer or answer
    std::string localSdp; // our latest offer or answer
    std::string peerAddr, myAddr;
    std::string dtmfInfo;
    std::string peerFrom, peerMsg;
    std::string outRoute, outSource; // SipSetDialRoute: next hop and caller of later calls
    std::string dialExText;          // header lines added to later INVITEs
    bool listening = false;
    WakeEvent* waker = nullptr;
};

// What only the SIP thread touches of a slot.
struct SipStack::SlotSip {
    SipStack* stack = nullptr;
    int callid = 0;
    struct sipsess* sess = nullptr;
    const struct sip_msg* invite = nullptr; // an incoming INVITE not yet taken into a session
    bool inviteAnswered = false;
    uint32_t imGen = 0; // a message of the line in flight answers only its own generation
    std::string callId;
    std::string peerHost; // where the peer is, for the local address
    int tp = SIP_TRANSP_UDP;
    std::string user; // the user of our Contact
    // The peer's message the dialog's remote target comes from (its INVITE, the 2xx of ours, a re-INVITE),
    // referenced: over TCP its connection carries the dialog's requests while it is open.
    const struct sip_msg* target = nullptr;
    bool routed = false; // our INVITE went to a proxy, whose connection is not the peer's
};

// An incoming INVITE that rings (180) until a line waits for a call, or its time runs out.
struct SipStack::Held {
    SipStack* stack = nullptr;
    const struct sip_msg* msg = nullptr; // referenced; answered with its own To tag
    std::string callId;
    struct tmr timer;
};

// Credentials handed to libre for a digest challenge (a libre object, so that libre may hold it).
struct SipStack::Creds {
    char* user;
    char* pass;
};

struct SipStack::Account {
    SipAccountArgs args;
    bool doRegister = false;
    int state = kSipRegPending; // under accLock_
    // SIP thread: the registration dialog and its refresh
    std::string callId, fromTag, contact;
    uint32_t cseq = 0;
    struct sip_auth* auth = nullptr;
    struct tmr refresh;
    bool registered = false;
    SipStack* stack = nullptr;
};

// A request the stack sends (REGISTER, MESSAGE, a script's request); it answers a digest challenge once and
// then reports its final response.
struct SipStack::Request {
    SipStack* stack = nullptr;
    std::string method, uri, route, to, from, fromTag, callId, extra, type, body;
    uint32_t cseq = 1;
    struct sip_auth* auth = nullptr;
    int authTries = 0;
    struct sip_request* req = nullptr;
    std::function<void(Request& r, int err, const struct sip_msg* msg)> done;
};

// A message of the inbox: an incoming MESSAGE (answered by the script or when read), or the answer to a
// request a script made.
struct SipStack::ImEntry {
    int32_t handle = 0;
    Fields fields;
    const struct sip_msg* msg = nullptr; // SIP thread: the request to answer
    struct sip_strans* st = nullptr;     // SIP thread: its transaction, which absorbs retransmissions
    bool answered = false;
};

// A message of proxy mode waiting for the script.
struct SipStack::ProxyMsg {
    int32_t handle = 0;
    Fields fields;
    uint64_t arrived = 0; // ms of the steady clock
};

// A registration with the registrar of proxy mode.
struct SipStack::Binding {
    std::string user, contact, source;
    int tp = 0;
    uint64_t expires = 0; // ms of the steady clock
};

// "sip:user@host:port;params" pieces of a SIP address, "<...>" and display names allowed.
struct SipUriParts {
    std::string uri, user, host, params;
    int port = 0;
};
SipUriParts ParseSipUri(const std::string& text);

uint64_t SteadyMs();
// Random hexadecimal text for tags, Call-IDs, branches and nonces.
std::string RandomToken();

} // namespace zz
