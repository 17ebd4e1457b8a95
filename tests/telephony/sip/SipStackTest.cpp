// The SIP stack on loopback against a peer of the test's own that sends SIP datagrams by hand: which INVITE goes to
// which waiting line, what the caller hears meanwhile, and a line whose caller holds the call.
#include "telephony/sip/SipStack.h"
#include "platform/Clock.h"
#include "platform/TagWriteLog.h"
#include "platform/WakeEvent.h"
#include "telephony/sip/MediaEngine.h"
#include "telephony/sip/MsrpEngine.h"
#include "telephony/sip/ReHeaders.h"
#include "telephony/sip/TagSipCall.h"
#include "tests/support/TestDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace zz;

extern "C" struct list* tmrl_get(void);

#define DEBUG_MODULE "test"
#define DEBUG_LEVEL 0
#include <re_dbg.h>

namespace {

// A UDP SIP peer on 127.0.0.1: sends requests to the stack and reads its answers.
class Peer {
public:
    Peer() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { close(fd_); }
    void Send(uint16_t to, const std::string& text) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(to);
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // The next answer for the Call-ID whose CSeq names the method; empty when none came (the bound only ends a
    // test that has gone wrong).
    std::string Next(const std::string& callId, const std::string& method = "INVITE") {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return {};
            char buf[4096];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            std::string m(buf, n > 0 ? size_t(n) : 0);
            if (m.find("Call-ID: " + callId + "\r\n") != std::string::npos &&
                m.find(" " + method + "\r\n") != std::string::npos && m.rfind("SIP/2.0 100 ", 0) != 0)
                return m;
        }
    }
    std::string Request(const std::string& method, const std::string& callId, uint16_t to, bool contact = true,
                        const std::string& body = "", const std::string& toTag = "", int cseq = 1) {
        std::string p = std::to_string(port_), n = std::to_string(cseq);
        return method + " sip:2000@127.0.0.1:" + std::to_string(to) + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + p +
               ";branch=z9hG4bK" + callId + n + (method == "ACK" ? "a" : "") + "\r\nFrom: <sip:1001@127.0.0.1:" + p +
               ">;tag=" + callId + "\r\nTo: <sip:2000@127.0.0.1>" + (toTag.empty() ? "" : ";tag=" + toTag) +
               "\r\nCall-ID: " + callId + "\r\nCSeq: " + n + " " + method + "\r\n" +
               (contact ? "Contact: <sip:1001@127.0.0.1:" + p + ">\r\n" : "") +
               (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
               "Max-Forwards: 70\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    // The 200 to a request the stack sent.
    void Ok(uint16_t to, const std::string& request) {
        std::string r = "SIP/2.0 200 OK\r\n";
        for (const char* h : {"Via: ", "From: ", "To: ", "Call-ID: ", "CSeq: "})
            r += h + Header(request, h) + "\r\n";
        Send(to, r + "Content-Length: 0\r\n\r\n");
    }
    uint16_t Port() const { return port_; }

private:
    // The whole header line after "name".
    static std::string Header(const std::string& m, const std::string& name) {
        size_t at = m.find("\r\n" + name);
        if (at == std::string::npos) return {};
        at += 2 + name.size();
        return m.substr(at, m.find("\r\n", at) - at);
    }
    int fd_ = -1;
    uint16_t port_ = 0;
};

int Code(const std::string& answer) {
    return answer.size() > 12 ? std::atoi(answer.c_str() + 8) : 0;
}

// The text after the first "key" of a message, to the end of its line.
std::string After(const std::string& m, const std::string& key) {
    size_t at = m.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    return m.substr(at, m.find_first_of(";\r", at) - at);
}

std::string PeerSdp(int rtpPort, int version) {
    return "v=0\r\no=peer 7 " + std::to_string(version) + " IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n" +
           "t=0 0\r\nm=audio " + std::to_string(rtpPort) + " RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";
}

class SipStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stack.sip_start_ex("127.0.0.1", 0, 0), 0);
        port = stack.UdpPort();
        for (int i = 1; i <= 3; ++i)
            stack.sip_set_call_waker(i, &wake[i]);
    }
    void TearDown() override { stack.sip_exit(); }
    // Waits until the slot holds an offered call.
    void Offered(int callid) {
        wake[callid].WaitFor(10000, [&] { return stack.get_callin_state(callid) == kSipStOffered; });
        ASSERT_EQ(stack.get_callin_state(callid), kSipStOffered);
    }
    // Answers the offered call with our SDP.
    void Accept(int callid) {
        std::string peerSdp, answer;
        ASSERT_EQ(stack.sip_call_get_peer_sdp(callid, peerSdp), 0);
        ASSERT_EQ(stack.sip_get_sdp_answer("127.0.0.1", 41000, peerSdp.c_str(), answer), 0);
        ASSERT_EQ(stack.sip_call_provider_answer_sdp(callid, answer.c_str()), 0);
        ASSERT_EQ(stack.sip_call_accept(callid), 0);
    }
    SipStack stack;
    uint16_t port = 0;
    WakeEvent wake[4];
    Peer peer;
};

TEST_F(SipStackTest, AnInviteNoLineWaitsForRingsUntilTheFirstLineWaitsInTheOrderTheyCame) {
    for (const char* id : {"c1", "c2", "c3"}) {
        peer.Send(port, peer.Request("INVITE", id, port));
        EXPECT_EQ(Code(peer.Next(id)), 180) << id;
    }
    peer.Send(port, peer.Request("INVITE", "c1", port)); // a retransmission rings on
    EXPECT_EQ(Code(peer.Next("c1")), 180);
    EXPECT_EQ(stack.get_call_type(1), kSipTypeNone);

    // The caller of c2 gives up: its INVITE ends as cancelled.
    peer.Send(port, peer.Request("CANCEL", "c2", port));
    std::string a = peer.Next("c2", "CANCEL"), b = peer.Next("c2");
    EXPECT_EQ(Code(a), 200);
    EXPECT_EQ(Code(b), 487);

    stack.sip_set_call_listen(2, true);
    Offered(2);
    std::string from;
    stack.sip_get_peer_msg(2, from, a, 4096);
    EXPECT_NE(a.find("Call-ID: c1"), std::string::npos) << "the oldest call first";
    stack.sip_set_call_listen(1, true);
    Offered(1);
    stack.sip_get_peer_msg(1, from, a, 4096);
    EXPECT_NE(a.find("Call-ID: c3"), std::string::npos);
    EXPECT_EQ(stack.sip_call_reject(1, 486), 0);
    EXPECT_EQ(Code(peer.Next("c3")), 486);
    EXPECT_EQ(stack.sip_call_reject(2, 486), 0);
    EXPECT_EQ(Code(peer.Next("c1")), 486);
}

TEST_F(SipStackTest, AHeldInviteIsRefusedWhenItsTimeRunsOutAndOneWithoutContactAtOnce) {
    stack.SetCallHoldMs(50);
    peer.Send(port, peer.Request("INVITE", "late", port));
    EXPECT_EQ(Code(peer.Next("late")), 180);
    EXPECT_EQ(Code(peer.Next("late")), 486);
    stack.sip_set_call_listen(1, true);
    peer.Send(port, peer.Request("INVITE", "nocontact", port, false));
    EXPECT_EQ(Code(peer.Next("nocontact")), 400);
    EXPECT_EQ(stack.get_call_type(1), kSipTypeNone) << "the waiting line was not given it";
}

TEST_F(SipStackTest, AReInvitesAnswerKeepsTheSessionIdAndRaisesTheVersion) {
    stack.sip_set_call_listen(1, true);
    peer.Send(port, peer.Request("INVITE", "ri", port, true, PeerSdp(40000, 1)));
    Offered(1);
    Accept(1);
    std::string ok = peer.Next("ri", "1 INVITE");
    ASSERT_EQ(Code(ok), 200);
    std::string tag = After(ok, "To: <sip:2000@127.0.0.1>;tag="), origin = After(ok, "o=zuzod ");
    peer.Send(port, peer.Request("ACK", "ri", port, true, "", tag));
    peer.Send(port, peer.Request("INVITE", "ri", port, true, PeerSdp(40002, 2), tag, 2));
    std::string again = peer.Next("ri", "2 INVITE");
    ASSERT_EQ(Code(again), 200);
    std::string id = origin.substr(0, origin.find(' '));
    EXPECT_EQ(After(again, "o=zuzod "),
              id + " " + std::to_string(std::stoull(origin.substr(id.size() + 1)) + 1) + " IN IP4 127.0.0.1")
        << "was " << origin;
    stack.sip_call_bye(1);
}

TEST_F(SipStackTest, ACallOnHoldOutlastsTheSilenceThatEndsAVanishedCallerAndTheRuleHoldsAgainOnceResumed) {
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    MediaEngine media; // stepped here: every step reads every socket
    MsrpEngine msrp;
    Peer rtp; // where the line's RTP goes; the caller itself never sends any
    // A free port for the line's RTP.
    uint16_t rtpPort;
    {
        Peer probe;
        rtpPort = probe.Port();
    }
    TagSipCall line(0, 1, "127.0.0.1", rtpPort, nullptr, SipLibs{&stack, &media, &msrp});
    auto steps = [&](uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
            media.TickForTest();
    };
    std::thread answering([&] { line.WaitRing(1); });
    peer.Send(port, peer.Request("INVITE", "hold", port, true, PeerSdp(rtp.Port(), 1)));
    std::string ok;
    do // rings once or twice (held until the line waits, then the line's own ring)
        ok = peer.Next("hold");
    while (Code(ok) == 180);
    std::string tag = After(ok, "To: <sip:2000@127.0.0.1>;tag=");
    peer.Send(port, peer.Request("ACK", "hold", port, true, "", tag));
    if (Code(ok) != 200) line.RequestStop();
    answering.join();
    ASSERT_EQ(Code(ok), 200);
    ASSERT_EQ(line.IsOnline(), 1);

    // Held (a=sendonly, then the "any" address of an old-style hold): a minute and more without a packet.
    const std::string holds[] = {PeerSdp(rtp.Port(), 2) + "a=sendonly\r\n",
                                 "v=0\r\no=peer 7 3 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
                                 "m=audio " +
                                     std::to_string(rtp.Port()) + " RTP/AVP 8\r\n"};
    int cseq = 2;
    for (const std::string& sdp : holds) {
        const std::string n = std::to_string(cseq);
        peer.Send(port, peer.Request("INVITE", "hold", port, true, sdp, tag, cseq));
        std::string answer = peer.Next("hold", n + " INVITE");
        ASSERT_EQ(Code(answer), 200);
        EXPECT_NE(answer.find(cseq == 2 ? "a=recvonly" : "a=sendrecv"), std::string::npos) << answer;
        peer.Send(port, peer.Request("ACK", "hold", port, true, "", tag, cseq++));
        ASSERT_EQ(line.IsOnline(), 1); // the line takes the new SDP
        steps(MediaEngine::kSilentSteps + 10);
        ASSERT_EQ(media.ms_channel_is_silent(line.mediaChannel), 0) << "held " << n;
        EXPECT_EQ(line.IsOnline(), 1);
    }

    // Taken off hold: a minute without a packet ends the call with a BYE.
    peer.Send(port, peer.Request("INVITE", "hold", port, true, PeerSdp(rtp.Port(), 4), tag, cseq));
    std::string resumed = peer.Next("hold", std::to_string(cseq) + " INVITE");
    ASSERT_EQ(Code(resumed), 200);
    EXPECT_NE(resumed.find("a=sendrecv"), std::string::npos) << resumed;
    peer.Send(port, peer.Request("ACK", "hold", port, true, "", tag, cseq));
    ASSERT_EQ(line.IsOnline(), 1);
    steps(MediaEngine::kSilentSteps - 10);
    EXPECT_EQ(media.ms_channel_is_silent(line.mediaChannel), 0) << "the minute starts at the resume";
    steps(20);
    int online = -1;
    std::thread ending([&] { online = line.IsOnline(); });
    std::string bye = peer.Next("hold", "BYE");
    peer.Ok(port, bye);
    ending.join();
    EXPECT_FALSE(bye.empty());
    EXPECT_EQ(online, 0);
}

// A TCP peer of the stack on 127.0.0.1.
class TcpPeer {
public:
    explicit TcpPeer(uint16_t to) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(to);
        connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    // The next connection to a listening socket (an invalid peer when none came).
    static TcpPeer Accept(int listener) {
        pollfd p{listener, POLLIN, 0};
        return TcpPeer(poll(&p, 1, 10000) > 0 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1);
    }
    TcpPeer(TcpPeer&& o) noexcept : fd_(o.fd_), port_(o.port_) { o.fd_ = -1; }
    ~TcpPeer() {
        if (fd_ >= 0) close(fd_);
    }
    void Send(const std::string& text) { (void)!send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // What arrives until text is among it (empty when nothing more came: the bound only ends a test gone wrong).
    std::string ReadUntil(const std::string& text) {
        std::string got;
        while (got.find(text) == std::string::npos) {
            pollfd p{fd_, POLLIN, 0};
            char buf[4096];
            ssize_t n = poll(&p, 1, 10000) > 0 ? recv(fd_, buf, sizeof buf, 0) : 0;
            if (n <= 0) return {};
            got.append(buf, size_t(n));
        }
        return got;
    }
    uint16_t Port() const { return port_; }

private:
    explicit TcpPeer(int fd) : fd_(fd) {}
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A request of the UDP peer sent instead over the TCP connection from port.
std::string OverTcp(std::string m, const Peer& udp, uint16_t port) {
    const std::string via = "SIP/2.0/UDP 127.0.0.1:" + std::to_string(udp.Port());
    m.replace(m.find(via), via.size(), "SIP/2.0/TCP 127.0.0.1:" + std::to_string(port));
    return m;
}

// A response to a request the stack never sent.
std::string Stray(uint16_t from, const std::string& method, const char* via = "UDP") {
    return std::string("SIP/2.0 200 OK\r\nVia: SIP/2.0/") + via + " 127.0.0.1:" + std::to_string(from) +
           ";branch=z9hG4bKgone" + method + "\r\nFrom: <sip:a@127.0.0.1>;tag=1\r\nTo: <sip:b@127.0.0.1>;tag=2\r\n" +
           "Call-ID: gone" + method + "\r\nCSeq: 7 " + method + "\r\nContent-Length: 0\r\n\r\n";
}

TEST_F(SipStackTest, StrayTrafficAndTheLibrarysOwnMessagesAreSummedUpInTheRunLogNotWrittenOut) {
    TestDir dir("sip_stray");
    const int level = GetLogLevel();
    SetLogLevel(1);
    auto log = std::make_unique<TagWriteLog>((dir.path() / "run.txt").string(), 0, true, true);
    SetRunLog(log.get());
    // Standard error goes to a file for the while.
    fflush(stderr);
    int saved = dup(2);
    FILE* err = tmpfile();
    dup2(fileno(err), 2);

    for (int i = 0; i < 3; ++i) {
        peer.Send(port, "junk that is no SIP message at all\r\n\r\n");
        peer.Send(port, Stray(peer.Port(), "BYE"));
    }
    peer.Send(port, Stray(peer.Port(), "OPTIONS"));
    // A stray response over TCP, then a request on the same connection: once that is answered, the stray was read.
    std::string addr;
    uint16_t udp = 0, tcp = 0;
    ASSERT_EQ(stack.sip_get_listen(addr, udp, tcp), 0);
    {
        TcpPeer conn(tcp);
        conn.Send(Stray(conn.Port(), "BYE", "TCP"));
        conn.Send(OverTcp(peer.Request("OPTIONS", "tcp", port), peer, conn.Port()));
        EXPECT_NE(conn.ReadUntil("CSeq: 1 OPTIONS"), "");
    } // and the peer closes
    // The library's own complaints, as libre writes them (coloured on a terminal).
    for (int fd : {7, 8, 9})
        dbg_printf(DBG_WARNING, "\x1b[31mtcp: send: write(): Broken pipe (fdc=%d)\x1b[;m\n", fd);
    // An OPTIONS behind the datagrams on the same socket: once it is answered, they were read.
    peer.Send(port, peer.Request("OPTIONS", "after", port));
    EXPECT_EQ(Code(peer.Next("after", "OPTIONS")), 200);
    stack.sip_exit(); // the stop sums up what the minute has not

    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(ftell(err), 0L) << "nothing was written to standard error";
    fclose(err);
    EXPECT_EQ(stack.UndecodableDatagrams(), 3u);
    EXPECT_EQ(stack.StrayResponses(), 5u);
    EXPECT_EQ(stack.LibraryMessages(), 3u);
    log->Flush();
    SetRunLog(nullptr);
    SetLogLevel(level);
    const std::string text = TestDir::Read(dir.path() / "run.txt");
    const std::string from = "127.0.0.1:" + std::to_string(peer.Port());
    for (const std::string& line :
         {"SIP: a datagram from " + from + " is no SIP message (more are counted each minute)",
          "SIP: 2 more datagrams were no SIP message before the stop (the last from " + from + ")",
          "SIP: a response from " + from + ": 200 OK (BYE) matches no request (more are counted each minute)",
          std::string("SIP: 4 more responses matched no request before the stop (the last from 127.0.0.1:"),
          std::string("SIP library: tcp: send: write(): Broken pipe (fdc=7) (more are counted each minute)"),
          std::string("SIP: 2 more messages of the SIP library (tcp) before the stop (the last \"tcp: send: write(): "
                      "Broken pipe (fdc=9)\")")})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no colour codes";
    size_t lines = 0;
    for (size_t at = text.find("[SIP"); at != std::string::npos; at = text.find("[SIP", at + 1))
        ++lines;
    EXPECT_EQ(lines, 6u) << "the first and a summary of each kind\n" << text;
}

TEST_F(SipStackTest, AByeOverTcpGoesOverTheCallsConnectionWhileItIsOpenElseOverANewOneToTheContact) {
    // Where the callers' Contact points, naming no transport (as SIPp and many phones write it).
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
    listen(listener, 4);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string contact = "Contact: <sip:1001@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + ">";
    std::string addr;
    uint16_t udp = 0, tcp = 0;
    ASSERT_EQ(stack.sip_get_listen(addr, udp, tcp), 0);
    for (bool closed : {false, true}) {
        const std::string id = closed ? "closed" : "open";
        std::optional<TcpPeer> conn(std::in_place, tcp);
        std::string invite = OverTcp(peer.Request("INVITE", id, port, true, PeerSdp(40000, 1)), peer, conn->Port());
        const std::string own = "Contact: <sip:1001@127.0.0.1:" + std::to_string(peer.Port()) + ">";
        invite.replace(invite.find(own), own.size(), contact);
        stack.sip_set_call_listen(1, true);
        conn->Send(invite);
        Offered(1);
        Accept(1);
        std::string ok = conn->ReadUntil("a=rtpmap");
        std::string tag = After(ok, "To: <sip:2000@127.0.0.1>;tag=");
        conn->Send(OverTcp(peer.Request("ACK", id, port, true, "", tag), peer, conn->Port()));
        wake[1].WaitFor(10000, [&] { return stack.get_callin_state(1) == kSipStEstablished; });
        ASSERT_EQ(stack.get_callin_state(1), kSipStEstablished) << id;
        std::string bye;
        if (!closed) {
            ASSERT_EQ(stack.sip_call_bye(1), 0);
            bye = conn->ReadUntil("CSeq: ");
        } else {
            conn.reset(); // the caller's connection closes
            // The stack reads every socket that was ready before it takes its next job: the OPTIONS sent behind
            // the close is answered once the close is read or in the same round, before the BYE's job.
            peer.Send(port, peer.Request("OPTIONS", "after" + id, port));
            EXPECT_EQ(Code(peer.Next("after" + id, "OPTIONS")), 200);
            ASSERT_EQ(stack.sip_call_bye(1), 0);
            bye = TcpPeer::Accept(listener).ReadUntil("CSeq: ");
        }
        EXPECT_EQ(bye.rfind("BYE sip:1001@127.0.0.1:", 0), 0u) << id << ": " << bye;
        EXPECT_NE(bye.find(";transport=tcp SIP/2.0\r\n"), std::string::npos) << id << ": " << bye;
        stack.sip_call_end(1);
    }
    close(listener);
}

TEST(SipTimers, AStartedTimerGoesAfterEveryTimerDueNoLaterAmongThousands) {
    // Timers started, started again and cancelled in a mix like the stack's under load: late ones (a transaction's
    // 32 s), middle ones (5 s), short ones and those due at once. The list stays libre's order: by expiry, and
    // timers due at the same time in the order they were started.
    std::vector<tmr> timers(3000);
    std::vector<uint64_t> started(timers.size(), 0); // the start's sequence number, 0: not running
    for (tmr& t : timers)
        tmr_init(&t);
    auto noop = [](void*) {};
    const uint64_t delays[] = {32000, 32000, 32000, 5000, 500, 0, 1, 15, 16, 17, 31999, 40000, 5000, 32000};
    uint64_t seq = 0;
    uint32_t rng = 12345;
    for (int op = 0; op < 20000; ++op) {
        rng = rng * 1103515245 + 12345;
        size_t i = (rng >> 8) % timers.size();
        if ((rng >> 4) % 10 == 0) {
            tmr_cancel(&timers[i]);
            started[i] = 0;
        } else {
            tmr_start(&timers[i], delays[(rng >> 20) % std::size(delays)], noop, &timers[i]);
            started[i] = ++seq;
        }
    }
    auto ours = [&](const tmr* t) { return t >= &timers.front() && t <= &timers.back(); };
    size_t n = 0;
    const tmr* prev = nullptr; // the previous timer of ours
    uint64_t prevJfs = 0;
    for (le* e = list_head(tmrl_get()); e; e = e->next) {
        const tmr* t = static_cast<const tmr*>(e->data);
        ASSERT_LE(prevJfs, t->jfs) << n;
        prevJfs = t->jfs;
        if (!ours(t)) continue;
        ++n;
        if (prev && prev->jfs == t->jfs) {
            EXPECT_LT(started[size_t(prev - timers.data())], started[size_t(t - timers.data())]) << n;
        }
        prev = t;
    }
    EXPECT_EQ(n, size_t(std::count_if(started.begin(), started.end(), [](uint64_t s) { return s != 0; })));
    for (tmr& t : timers)
        tmr_cancel(&t);
    for (le* e = list_head(tmrl_get()); e; e = e->next)
        EXPECT_FALSE(ours(static_cast<const tmr*>(e->data)));
}

} // namespace
