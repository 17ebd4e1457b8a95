#include "telephony/sip/SipSdp.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace zz {

namespace {

bool Sends(int pt) {
    return pt == 0 || pt == 8;
}

const char* CodecName(int pt) {
    return pt == 0 ? "PCMU" : "PCMA";
}

// Session ids of o= lines: unique within the process and growing, as a version should.
uint64_t NextSessionId() {
    static std::atomic<uint64_t> id{uint64_t(std::time(nullptr)) * 1000};
    return ++id;
}

std::vector<std::string> Lines(const std::string& sdp) {
    std::vector<std::string> out;
    std::istringstream in(sdp);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::string AudioSdp(const std::string& addr, int port, const std::vector<int>& types, int eventPt,
                     const char* direction) {
    uint64_t id = NextSessionId();
    std::string s;
    char buf[160];
    std::snprintf(buf, sizeof buf, "v=0\r\no=zuzod %llu %llu IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n",
                  static_cast<unsigned long long>(id), static_cast<unsigned long long>(id), addr.c_str(), addr.c_str());
    s += buf;
    s += "m=audio " + std::to_string(port) + " RTP/AVP";
    // Appended piece by piece: g++ 12 warns falsely about " " + std::string in Release.
    for (int t : types) {
        s += ' ';
        s += std::to_string(t);
    }
    if (eventPt >= 0) {
        s += ' ';
        s += std::to_string(eventPt);
    }
    s += "\r\n";
    for (int t : types) {
        std::snprintf(buf, sizeof buf, "a=rtpmap:%d %s/8000\r\n", t, CodecName(t));
        s += buf;
    }
    if (eventPt >= 0) {
        std::snprintf(buf, sizeof buf, "a=rtpmap:%d telephone-event/8000\r\na=fmtp:%d 0-15\r\n", eventPt, eventPt);
        s += buf;
    }
    s += "a=ptime:20\r\na=";
    s += direction;
    s += "\r\n";
    return s;
}

} // namespace

std::vector<int> SdpCodecList(const std::string& list) {
    std::vector<int> out;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        char* end = nullptr;
        long v = std::strtol(item.c_str(), &end, 10);
        if (end != item.c_str() && Sends(int(v))) {
            bool dup = false;
            for (int t : out)
                dup = dup || t == v;
            if (!dup) out.push_back(int(v));
        }
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    if (out.empty()) out = {8, 0};
    return out;
}

std::string SdpOffer(const std::string& addr, int port, const std::vector<int>& types) {
    return AudioSdp(addr, port, types, kSdpEventPt, "sendrecv");
}

SdpAudio SdpParse(const std::string& sdp) {
    SdpAudio a;
    std::string sessionAddr, sessionDirection, streamDirection;
    bool inAudio = false, seenAudio = false;
    for (const std::string& l : Lines(sdp)) {
        if (l.size() < 2 || l[1] != '=') continue;
        if (l[0] == 'm') {
            inAudio = !seenAudio && l.compare(2, 6, "audio ") == 0;
            if (inAudio) {
                seenAudio = true;
                a.hasAudio = true;
                std::istringstream in(l.substr(8));
                std::string proto;
                in >> a.port >> proto;
                int t;
                while (in >> t)
                    a.types.push_back(t);
            }
        } else if (l[0] == 'c') {
            std::istringstream in(l.substr(2));
            std::string net, type, address;
            in >> net >> type >> address;
            address = address.substr(0, address.find('/'));
            if (inAudio)
                a.addr = address;
            else if (!seenAudio)
                sessionAddr = address;
        } else if (l[0] == 'a' && inAudio && l.compare(2, 7, "rtpmap:") == 0) {
            int pt = std::atoi(l.c_str() + 9);
            size_t sp = l.find(' ');
            if (sp != std::string::npos && l.compare(sp + 1, 15, "telephone-event") == 0) a.eventPt = pt;
        } else if (l[0] == 'a' && (inAudio || !seenAudio)) {
            std::string name = l.substr(2);
            if (name == "sendrecv" || name == "sendonly" || name == "recvonly" || name == "inactive")
                (inAudio ? streamDirection : sessionDirection) = name;
        }
    }
    if (a.addr.empty()) a.addr = sessionAddr;
    // The stream's own direction overrides the session's.
    if (!streamDirection.empty())
        a.direction = streamDirection;
    else if (!sessionDirection.empty())
        a.direction = sessionDirection;
    return a;
}

std::string SdpAnswer(const std::string& addr, int port, const std::string& peerSdp) {
    SdpAudio peer = SdpParse(peerSdp);
    const char* direction = peer.direction == "sendonly"   ? "recvonly"
                            : peer.direction == "recvonly" ? "sendonly"
                            : peer.direction == "inactive" ? "inactive"
                                                           : "sendrecv";
    for (int t : peer.types)
        if (Sends(t)) return AudioSdp(addr, port, {t}, peer.eventPt, direction);
    return {};
}

bool SdpPeerMedia(const std::string& sdp, int& type, std::string& addr, int& port, int& eventPt) {
    SdpAudio a = SdpParse(sdp);
    if (!a.hasAudio) return false;
    type = -1;
    for (int t : a.types)
        if (Sends(t)) {
            type = t;
            break;
        }
    addr = a.addr;
    port = a.port;
    eventPt = a.eventPt;
    return true;
}

std::string SdpNextVersion(const std::string& previous, const std::string& fresh) {
    // "o=<user> <session id> <version> IN IP4 <addr>": the positions of the id and the version in a text.
    auto fields = [](const std::string& sdp, size_t& idAt, size_t& verAt, size_t& verEnd) {
        size_t o = sdp.compare(0, 2, "o=") == 0 ? 0 : sdp.find("\no=");
        if (o == std::string::npos) return false;
        if (sdp[o] == '\n') ++o;
        idAt = sdp.find(' ', o);
        if (idAt == std::string::npos) return false;
        verAt = sdp.find(' ', ++idAt);
        if (verAt == std::string::npos) return false;
        verEnd = sdp.find(' ', ++verAt);
        return verEnd != std::string::npos;
    };
    size_t pi, pv, pe, fi, fv, fe;
    if (!fields(previous, pi, pv, pe) || !fields(fresh, fi, fv, fe)) return fresh;
    unsigned long long version = std::strtoull(previous.c_str() + pv, nullptr, 10) + 1;
    return fresh.substr(0, fi) + previous.substr(pi, pv - 1 - pi) + " " + std::to_string(version) + fresh.substr(fe);
}

std::string SdpFixAddr(const std::string& sdp, const std::string& addr) {
    std::string out;
    for (const std::string& l : Lines(sdp)) {
        std::string line = l;
        if (line.compare(0, 2, "o=") == 0 || line.compare(0, 2, "c=") == 0) {
            size_t at = line.find(" 0.0.0.0");
            if (at != std::string::npos) line.replace(at + 1, 7, addr);
        }
        out += line + "\r\n";
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> SdpAttributes(const std::string& sdp) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& l : Lines(sdp)) {
        if (l.compare(0, 2, "a=") != 0) continue;
        size_t colon = l.find(':');
        if (colon == std::string::npos)
            out.emplace_back(l.substr(2), std::string());
        else
            out.emplace_back(l.substr(2, colon - 2), l.substr(colon + 1));
    }
    return out;
}

} // namespace zz
