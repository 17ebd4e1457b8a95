// TCP and UDP builtins against socat on 127.0.0.1, and waits that a quit or reload ends at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "NetPeers.h"
#include "builtins/services/NetSocket.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

// socat serving on an ephemeral port; its port, or "" when it did not start.
struct Socat {
    explicit Socat(const std::string& listen) : peer({"socat", "-d", "-d", listen, "PIPE"}) {
        port = peer.WaitForNumber({"listening on AF=2 127.0.0.1:", "receiving on AF=2 127.0.0.1:"});
    }
    test::Peer peer;
    std::string port;
};

TEST(TcpSockets, EchoThroughSocatAndAReadWithNothingThereReturnsAtOnce) {
    TestDir dir("tcp");
    Socat echo("TCP-LISTEN:0,bind=127.0.0.1,reuseaddr,fork");
    ASSERT_FALSE(echo.port.empty()) << "socat did not start";
    test::Handshake hs;
    test::ScriptLine line(test::Fill(R"(h = 0;
sent = 0;
n = 0;
k = 0;
r = TcpOpen("127.0.0.1", {P}, 4, h);
w = TcpWrite(h, "hello echo", 0, sent);
got = "";
while(n < 10)
{
    buf = 0;
    r2 = TcpTest(h, k);
    c = TcpRead(h, buf, k);
    if(c > 0)
    {
        n = n + c;
        got = got + buf;
    }
}
Print("open=" + r + " handle=" + h + " sent=" + sent + " w=" + w + " got=" + got + "\n");
w = TcpWrite(h, "ABCDEFGHIJKLMNO", 0, sent);
buf = "0123456789";
c = -1;
while(c < 0)
{
    c = TcpRead(h, buf, k);
}
Print("k=" + k + " c=" + c + " buf=" + buf + "\n");
n = c;
while(n < 15)
{
    buf = 0;
    c = TcpRead(h, buf, k);
    if(c > 0)
    {
        n = n + c;
    }
}
t = TcpWrite(h, "abc", 5, sent);
Print("short=" + t + "\n");
buf = 0;
c = TcpRead(h, buf, k);
Print("nothing c=" + c + "\n");
u = UdpOpen(0);
UdpSend(u, "127.0.0.1", {HS}, "reading");
Sleep(100);
return(1);
OnSysQuit()
Print("quit c=" + c + " k=" + k + "\n");
return(2);
)",
                                     {{"P", echo.port}, {"HS", std::to_string(hs.Port())}}),
                          2);
    ASSERT_TRUE(line.Compiled()) << line.Errors();
    line.Start();
    EXPECT_EQ(hs.Recv(), "reading"); // everything echoed has been read, and a read found nothing
    line.Quit();                      // ends the sleep after the handshake, or is seen before it starts
    EXPECT_EQ(line.Join(), 2);
    const std::string printed = line.Printed();
    EXPECT_TRUE(test::ReFind(printed, R"(^open=(\d+) handle=\1 sent=10 w=10 got=hello echo\n)")) << printed;
    // A string of ten bytes takes at most ten, in place.
    EXPECT_TRUE(test::ReFind(printed, "\nk=(10 c=10 buf=ABCDEFGHIJ|[1-9] c=[1-9] buf=ABC)")) << printed;
    EXPECT_NE(printed.find("\nshort=-100\nnothing c=-1\nquit c=-1 k=-1\n"), std::string::npos) << printed;
}

TEST(TcpSockets, AServerAcceptsSocatAndAnswersIt) {
    TestDir dir("tcp");
    for (int attempt = 0; attempt < 5; ++attempt) {
        test::Handshake hs;
        const std::string port = std::to_string(test::FreePort(SOCK_STREAM));
        test::ScriptLine line(test::Fill(R"(u = UdpOpen(0);
h = 0;
s = TcpServer({P}, 0, h);
UdpSend(u, "127.0.0.1", {HS}, "listening " + s + " " + h);
if(s < 0)
{
    return(-1);
}
c = -1;
a = "";
while(c < 0)
{
    r = TcpAccept(s, c, a);
}
buf = 0;
n = 0;
m = 0;
got = "";
while(n < 4)
{
    k = TcpRead(c, buf, m);
    if(k <= 0)
    {
        break;
    }
    n = n + k;
    got = got + buf;
    buf = 0;
}
TcpWrite(c, "re:" + got + " from " + a, 0, m);
TcpClose(c);
Print("closed=" + c + "\n");
TcpCloseAll();
r = TcpAccept(s, c, a);
Print("after=" + r + "\n");
return(0);
)",
                                         {{"P", port}, {"HS", std::to_string(hs.Port())}}),
                              5);
        ASSERT_TRUE(line.Compiled()) << line.Errors();
        line.Start();
        const std::string listening = hs.Recv();
        if (listening.rfind("listening -1", 0) == 0) {
            line.Join();
            continue;
        }
        ASSERT_TRUE(test::ReWhole(listening, R"(listening (\d+) \1)")) << listening;
        EXPECT_EQ(test::RunCommand("printf ping | socat -t 60 - TCP:127.0.0.1:" + port), "re:ping from 127.0.0.1");
        EXPECT_EQ(line.Join(), 0);
        EXPECT_EQ(line.Printed(), "closed=-1\nafter=-1\n");
        return;
    }
    FAIL() << "no free port for the TCP server";
}

TEST(TcpSockets, AClosedPortIsRefusedAtOnce) {
    TestDir dir("tcp");
    // Bound but not listening: a connect to it is refused.
    int port = 0;
    int s = test::BindLoopback(SOCK_STREAM, port);
    test::ScriptLine line(test::Fill(R"(h = 0;
r = TcpOpen("127.0.0.1", {P}, 30, h);
Print("r=" + r + " h=" + h + "\n");
return(0);
)",
                                     {{"P", std::to_string(port)}}),
                          6);
    line.Start();
    EXPECT_EQ(line.Join(), 0);
    EXPECT_EQ(line.Printed(), "r=-5 h=-2\n");
    close(s);
}

TEST(UdpSockets, EchoThroughSocatThenAReloadEndsTheBlockedReceive) {
    TestDir dir("udp");
    std::string port;
    std::unique_ptr<Socat> echo;
    for (int attempt = 0; attempt < 5 && port.empty(); ++attempt) {
        // One datagram, one answer: no fork, whose children may answer one datagram twice.
        echo =
            std::make_unique<Socat>("UDP-RECVFROM:" + std::to_string(test::FreePort(SOCK_DGRAM)) + ",bind=127.0.0.1");
        port = echo->port;
    }
    ASSERT_FALSE(port.empty()) << "socat did not start";
    test::Handshake hs;
    test::ScriptLine line(test::Fill(R"(u = UdpOpen(0);
s = UdpSend(u, "127.0.0.1", {P}, "ping udp");
addr = "";
port = 0;
data = "";
r = UdpRecv(u, addr, port, data);
Print("sent=" + s + " got=" + r + " data=" + data + " from=" + addr + ":" + port + "\n");
t = UdpTest(u);
UdpSend(u, "127.0.0.1", {HS}, "waiting " + t);
r = UdpRecv(u, addr, port, data);
return(1);
OnSysQuit()
Print("reload r=" + r + "\n");
return(2);
)",
                                     {{"P", port}, {"HS", std::to_string(hs.Port())}}),
                          7);
    ASSERT_TRUE(line.Compiled()) << line.Errors();
    line.Start();
    EXPECT_EQ(hs.Recv(), "waiting 0");
    line.AwaitPoll();
    line.prog->SetReload(1);
    EXPECT_EQ(line.Join(), 2);
    EXPECT_EQ(line.Printed(), "sent=8 got=8 data=ping udp from=127.0.0.1:" + port + "\nreload r=-1\n");
}

TEST(SocketHandles, IdsAreNeverReusedAndTheLinesSocketsCloseWithItsProgram) {
    TestDir dir("handles");
    const size_t before = Sockets().Count();
    test::ScriptLine line(R"(a = UdpOpen(0);
UdpClose(a);
b = UdpOpen(0);
c = UdpOpen(0);
t = UdpTest(a);
Print("b=a+" + (b - a) + " c=a+" + (c - a) + " t=" + t + "\n");
return(0);
)",
                          8);
    ASSERT_TRUE(line.Compiled()) << line.Errors();
    line.Start();
    EXPECT_EQ(line.Join(), 0);
    EXPECT_EQ(line.Printed(), "b=a+1 c=a+2 t=-1\n");
    EXPECT_EQ(Sockets().Count(), before + 2);
    line.prog.reset();
    EXPECT_EQ(Sockets().Count(), before);
}

} // namespace
} // namespace zz
