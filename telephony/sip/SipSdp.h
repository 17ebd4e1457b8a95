#pragma once
// The SDP the SIP lines exchange: an audio offer of the payload types the media engine can send (PCMA 8, PCMU 0)
// with RFC 4733 telephone events, the answer to a peer's offer, and the peer's audio read from either.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

// Telephone-event payload type of our offers.
constexpr int kSdpEventPt = 101;

// The configured payload list ("8,18,3,98"): the types the media engine sends, in order; PCMA and PCMU when
// none of them is.
std::vector<int> SdpCodecList(const std::string& list);

// An offer for addr:port with the given payload types and telephone events.
std::string SdpOffer(const std::string& addr, int port, const std::vector<int>& types);

struct SdpAudio {
    std::string addr;
    int port = 0;
    std::vector<int> types; // in the peer's order
    int eventPt = -1;       // -1: no telephone events
    bool hasAudio = false;
    // The stream's direction as the peer sees it (media level, else session level): sendrecv, sendonly, recvonly
    // or inactive.
    std::string direction = "sendrecv";
    // The peer holds the call or sends us nothing by design: any direction but sendrecv, or the "any" address
    // of an old-style hold.
    bool Held() const { return direction != "sendrecv" || addr == "0.0.0.0"; }
};
// The first audio stream of an SDP text (its connection address: media level, else session level).
SdpAudio SdpParse(const std::string& sdp);

// The answer to the peer's offer: the first of its types we send, with its telephone events when offered, and the
// direction that mirrors the peer's (a peer that holds with sendonly is answered recvonly); empty when it offers
// no audio we send.
std::string SdpAnswer(const std::string& addr, int port, const std::string& peerSdp);

// The audio of the peer's SDP as the media engine starts it: the payload type (the first one the engine sends,
// -1 none), address, port and event type.
bool SdpPeerMedia(const std::string& sdp, int& type, std::string& addr, int& port, int& eventPt);

// fresh as the next version of the session described by previous (RFC 3264): its o= line takes previous's session
// id and previous's version plus one. fresh as it is when previous has no o= line.
std::string SdpNextVersion(const std::string& previous, const std::string& fresh);

// The same SDP with every "0.0.0.0" of its o= and c= lines replaced by addr: no peer can send to "any".
std::string SdpFixAddr(const std::string& sdp, const std::string& addr);

// Every "a=name:value" line of an SDP text, in order.
std::vector<std::pair<std::string, std::string>> SdpAttributes(const std::string& sdp);

} // namespace zz
