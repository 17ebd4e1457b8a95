// The HTTP client against Python's http.server, the script's HTTP server against curl, and the chunk reader
// and reply header on their own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "NetPeers.h"
#include "builtins/services/Http.h"
#include "platform/Clock.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

std::string PeerScript() {
    return std::string(std::getenv("ZZ_SOURCE_DIR") ? std::getenv("ZZ_SOURCE_DIR") : ".") +
           "/tests/builtins/peers/http_peer.py";
}

TEST(HttpChunks, SizeLinesSplitAnywhereAndTheLastChunkEnds) {
    const std::string body = "5\r\nhello\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n";
    for (size_t cut = 0; cut <= body.size(); ++cut) {
        TagChunkProc chunks;
        std::string pending;
        int32_t ret = 0;
        for (const std::string& piece : {body.substr(0, cut), body.substr(cut)}) {
            pending += piece;
            size_t used = 0;
            while (used < pending.size()) {
                const int32_t count = int32_t(pending.size() - used);
                ret = chunks.Push(pending.data() + used, count);
                if (ret < 0 || ret == count) break;
                used += size_t(count - ret);
            }
            pending.erase(0, used);
            if (ret < 0) break;
        }
        EXPECT_EQ(ret, -2) << cut;
        std::string out;
        EXPECT_EQ(chunks.CopyTo(out), 31) << cut;
        EXPECT_EQ(out, "helloabcdefghijklmnopqrstuvwxyz") << cut;
    }
}

TEST(HttpChunks, LongOrOversizedSizeLinesAreRefused) {
    TagChunkProc a;
    EXPECT_EQ(a.Push("1234567890\r\n", 12), -1); // the size line ends at 9 or beyond
    EXPECT_EQ(a.Push("12345678901", 11), -1);    // 11 bytes and no line end yet
    EXPECT_EQ(a.Push("1234567890", 10), 10);     // still may end: nothing used
    EXPECT_EQ(a.Push("ffffffff\r\n", 10), -1);   // 4 GiB announced: refused before anything is kept
    std::string out = "old";
    EXPECT_EQ(a.CopyTo(out), 0);
    EXPECT_EQ(out, "old");
}

// Feeds a whole body as the client does: the last result of Push.
int32_t PushAll(TagChunkProc& chunks, std::string_view body) {
    int32_t ret = 0;
    size_t used = 0;
    while (used < body.size()) {
        const int32_t count = int32_t(body.size() - used);
        ret = chunks.Push(body.data() + used, count);
        if (ret < 0 || ret == count) break;
        used += size_t(count - ret);
    }
    return ret;
}

TEST(HttpChunks, ASizeThatIsNoNumberOrAChunkWithoutItsLineEndIsRefused) {
    for (const char* bad : {"5\r\nhello\r\nZZZ\r\n", "5\r\nhelloXX3\r\nabc\r\n0\r\n\r\n", "5\r\nhello\rX0\r\n\r\n",
                            "\r\n", " 5\r\nhello\r\n0\r\n\r\n", "5x\r\nhello\r\n0\r\n\r\n"}) {
        TagChunkProc chunks;
        EXPECT_EQ(PushAll(chunks, bad), -1) << bad;
    }
    TagChunkProc ext;
    EXPECT_EQ(PushAll(ext, "5;name=x\r\nhello\r\nA \r\n0123456789\r\n0\r\n\r\n"), -2);
    std::string out;
    EXPECT_EQ(ext.CopyTo(out), 15);
    EXPECT_EQ(out, "hello0123456789");
}

TEST(HttpHeader, FieldNamesMatchWithoutCaseAndOnlyAsNames) {
    const std::string h = "HTTP/1.1 200 OK\r\nX-Note: content-length: 9\r\ncontent-LENGTH:  12 \r\n\r\n";
    std::string v;
    EXPECT_TRUE(HttpHeaderValue(h, "Content-Length", v));
    EXPECT_EQ(v, "12");
    size_t n = 0;
    EXPECT_TRUE(HttpContentLength(h, n));
    EXPECT_EQ(n, 12u);
    EXPECT_FALSE(HttpHeaderValue(h, "Transfer-Encoding", v));
    EXPECT_TRUE(HttpContentLength("GET / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", n));
    EXPECT_EQ(n, kMaxHttpBody + 1);
}

TEST(HttpHeader, RepliesGetTheDefaultHeaderOrALengthAndBlankLine) {
    const std::string def = HttpReplyHeader("", 7);
    EXPECT_EQ(
        def.rfind("HTTP/1.1 200 OK\r\nServer: KarvelianPellom/1.7\r\nAccept-Ranges: bytes\r\nConnection: close\r\n"
                  "Content-Type: */*\r\nLast-Modified: ",
                  0),
        0u);
    EXPECT_TRUE(test::ReFind(def, R"(Last-Modified: \w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d GMT)"
                                  "\r\nContent-Length: 7\r\n\r\n$"));
    EXPECT_EQ(HttpReplyHeader("HTTP/1.1 404 Not Found\r\n", 0), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(HttpReplyHeader("HTTP/1.1 204 No Content", 0), "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(HttpReplyHeader("HTTP/1.1 200 OK\r\ncontent-length: 3\r\n", 3),
              "HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\n");
    EXPECT_EQ(HttpReplyHeader("HTTP/1.1 200 OK\r\n\r\n", 3), "HTTP/1.1 200 OK\r\n\r\n");
}

TEST(HttpServer, RecvNeverWaitsAndDropsARequestNotWholeAfter20s) {
    int32_t server = -1;
    int port = 0;
    for (int attempt = 0; attempt < 5 && server < 0; ++attempt)
        server = HttpServerOpen(port = test::FreePort(SOCK_STREAM));
    ASSERT_GT(server, 0);
    // Not inherited by programs a script starts; never blocking a line outside its waits.
    const int fd = Sockets().Find(server)->Fd();
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    VirtualClock clock(0);
    ScopedClock scoped(&clock);
    HttpRequestIn in;
    EXPECT_EQ(HttpServerRecv(server, in, nullptr), -1); // nobody there
    // A client that sends half a header, then nothing: taken, and the call returns at once.
    int silent = -1;
    ASSERT_EQ(TcpConnectWait(&silent, "127.0.0.1", port, 4000, nullptr), 0);
    const std::string part = "GET / HTTP/1.1\r\nHost: x\r\n";
    ASSERT_EQ(SendAll(silent, part.data(), part.size(), nullptr), int32_t(part.size()));
    pollfd queued{fd, POLLIN, 0};
    ASSERT_EQ(poll(&queued, 1, -1), 1); // the connection waits to be accepted
    EXPECT_EQ(HttpServerRecv(server, in, nullptr), -1);
    EXPECT_EQ(GetTickCount(), 0u) << "the call waited";
    // A request that comes in pieces is handed over by the call that finds it whole.
    int client = -1;
    ASSERT_EQ(TcpConnectWait(&client, "127.0.0.1", port, 4000, nullptr), 0);
    const std::string head = "POST /in HTTP/1.1\r\nContent-Length: 3\r\n\r\nab";
    ASSERT_EQ(SendAll(client, head.data(), head.size(), nullptr), int32_t(head.size()));
    ASSERT_EQ(poll(&queued, 1, -1), 1);
    EXPECT_EQ(HttpServerRecv(server, in, nullptr), -1);
    ASSERT_EQ(SendAll(client, "c", 1, nullptr), 1);
    int32_t conn;
    while ((conn = HttpServerRecv(server, in, nullptr)) < 0) // until the kernel hands the last byte over
        std::this_thread::yield();
    EXPECT_TRUE(in.accepted);
    EXPECT_EQ(in.body, "abc");
    EXPECT_EQ(in.header, "POST /in HTTP/1.1\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(GetTickCount(), 0u);
    // 20 s after its connection, the silent client's request is given up and its connection closed.
    clock.Advance(20000);
    EXPECT_EQ(HttpServerRecv(server, in, nullptr), -1);
    char c;
    EXPECT_EQ(RecvSome(silent, &c, 1, nullptr, -1), 0);
    // Writing on until the peer's reset is seen fails the send and raises no SIGPIPE.
    while (SendAll(silent, "x", 1, nullptr) > 0) {
    }
    close(silent);
    close(client);
    HttpServerClose(conn);
    EXPECT_EQ(HttpServerClose(server), 0);
}

TEST(HttpClient, AReplyThatDripsEndsAtTheWholeRequestsDeadline) {
    // The peer announces 1000 bytes and gives one more each time the client waits, and each wait costs 7 s of the
    // Clock: no wait reaches the 8 s idle limit, so only the whole request's deadline ends it.
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::mutex m;
    int conn = -1; // under m, once the reply's header is sent
    std::thread peer([&] {
        int c = accept(listener, nullptr, nullptr);
        std::string request;
        char ch;
        while (request.find("\r\n\r\n") == std::string::npos && recv(c, &ch, 1, 0) == 1)
            request += ch;
        std::lock_guard<std::mutex> g(m);
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nx";
        send(c, head.data(), head.size(), MSG_NOSIGNAL);
        conn = c;
    });
    SockWaiter drip;
    drip.stopped = [&] {
        std::lock_guard<std::mutex> g(m);
        if (conn >= 0) {
            send(conn, "x", 1, MSG_NOSIGNAL);
            clock.Advance(7000);
        }
        return false;
    };
    HttpReply reply;
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    EXPECT_EQ(HttpRequest(address.c_str(), "GET", "", "", reply, &drip), -2);
    EXPECT_EQ(reply.body, "");
    EXPECT_GE(GetTickCount(), uint32_t(kHttpRequestMs));
    EXPECT_LT(GetTickCount(), uint32_t(kHttpRequestMs + 7000));
    peer.join();
    close(conn);
    close(listener);
}

TEST(HttpClient, RepliesByLengthChunksInterimAndToTheEndOfTheConnection) {
    TestDir dir("http");
    test::Peer peer({"/usr/bin/python3", PeerScript()});
    const std::string port = peer.WaitForNumber({"port "});
    ASSERT_FALSE(port.empty()) << "the Python HTTP peer did not start";
    test::ScriptLine line(test::Fill(R"(b = "";
h = "";
r = Http("get", "http://localhost:{P}/a/b?x=1&y=2", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/chunked", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/continue", "", "", b, h);
Print("" + r + "[" + b + "]" + h);
r = Http("GET", "127.0.0.1:{P}/lower", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/huge", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/badchunk", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/short", "", "", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("post", "http://127.0.0.1:{P}/form", "a=1&b=2", "application/x-www-form-urlencoded", b, h);
Print("" + r + "[" + b + "]\n");
r = Http("GET", "127.0.0.1:{P}/nolength", "", "", b, h);
Print("" + r + "\n");
Print(b);
return(0);
)",
                                     {{"P", port}}),
                          3);
    ASSERT_TRUE(line.Compiled());
    line.Start();
    line.Join();
    std::string printed = line.Printed();
    auto body = [](const std::string& b) { return std::to_string(b.size()) + "[" + b + "]\n"; };
    std::string expect =
        body("path=/a/b?x=1&y=2 host=localhost:" + port + " ua=KarvelianHttp/1.0") +
        body("path=127.0.0.1:" + port + " host=127.0.0.1:" + port + " ua=KarvelianHttp/1.0") +
        body("hello, chunked world!") + "5[after]HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n" + //
        "4[lowe]\n-2[]\n-2[]\n-2[]\n" + body("POST application/x-www-form-urlencoded:a=1&b=2") + "3300\n";
    ASSERT_GE(printed.size(), expect.size());
    EXPECT_EQ(printed.substr(0, expect.size()), expect);
    std::string tail;
    for (int i = 0; i < 300; ++i)
        tail += "to the end ";
    EXPECT_EQ(printed.substr(expect.size()), tail);
}

TEST(HttpServer, CurlGetsTheScriptsRepliesWithDefaultAndOwnHeaders) {
    TestDir dir("http");
    for (int attempt = 0; attempt < 5; ++attempt) {
        test::Handshake hs;
        const std::string port = std::to_string(test::FreePort(SOCK_STREAM));
        test::ScriptLine line(test::Fill(R"(u = UdpOpen(0);
s = HttpServerOpen({P});
again = HttpServerOpen({P});
UdpSend(u, "127.0.0.1", {HS}, "open " + s + " " + again);
if(s < 0)
{
    return(-1);
}
n = 0;
hd = "";
b = "";
a = "";
while(n < 2)
{
    c = HttpServerRecv(s, hd, b, a);
    if(c > 0)
    {
        n++;
        Print("[" + b + "|" + a + "]\n" + hd);
        if(n == 1)
        {
            r = HttpServerSend(c, "", "got " + b);
        }
        else
        {
            r = HttpServerSend(c, "HTTP/1.1 404 Not Found\r\nConnection: close\r\n", "");
        }
    }
}
HttpServerClose(s);
return(0);
)",
                                         {{"P", port}, {"HS", std::to_string(hs.Port())}}),
                              4);
        ASSERT_TRUE(line.Compiled());
        line.Start();
        const std::string opened = hs.Recv();
        if (opened.rfind("open -1", 0) == 0) {
            line.Join(); // the port was taken meanwhile: another
            continue;
        }
        ASSERT_TRUE(test::ReWhole(opened, R"(open (\d+) \1)")) << opened;
        const std::string first = test::RunCommand(
            "curl -s -i -H 'Content-Type: text/plain' --data-binary 'abc' http://127.0.0.1:" + port + "/in");
        const std::string second = test::RunCommand("curl -s -i http://127.0.0.1:" + port + "/missing?q=1");
        EXPECT_EQ(line.Join(), 0);
        EXPECT_TRUE(test::ReWhole(first, "HTTP/1.1 200 OK\r\nServer: KarvelianPellom/1.7\r\n"
                                         "Accept-Ranges: bytes\r\nConnection: close\r\n"
                                         "Content-Type: \\*/\\*\r\nLast-Modified: [^\r]* GMT\r\n"
                                         "Content-Length: 7\r\n\r\ngot abc"))
            << first;
        EXPECT_EQ(second, "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        const std::string printed = line.Printed();
        EXPECT_EQ(printed.rfind("[abc|127.0.0.1]\nPOST /in HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n", 0), 0u)
            << printed;
        EXPECT_NE(printed.find("\r\n\r\n[|127.0.0.1]\nGET /missing?q=1 HTTP/1.1\r\n"), std::string::npos) << printed;
        return;
    }
    FAIL() << "no free port for the HTTP server";
}

} // namespace
} // namespace zz
