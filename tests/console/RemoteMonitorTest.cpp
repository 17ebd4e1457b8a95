// The remote monitor server against a client written from the protocol alone: 5-byte requests; answers of a
// little-endian length, the line count, change records (u16 line, u8 field, u8 colours, text up to 40 bytes and
// a zero) and the end record (0xFFFF, 0xFF, 0, 0, status text, zero).
#include "console/TagRemoteCtrl.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zz;

namespace {

struct Change {
    int line, field, fg, bg;
    std::string text;
};

struct Answer {
    int lines = -1;
    std::vector<Change> changes;
    std::string status;
};

class Client {
public:
    // Connects from the loopback address `from` (127.0.0.x) to the port.
    Client(const char* from, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &a.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        a.sin_port = htons(uint16_t(port));
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Connected() const { return ok_; }
    void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Exactly n bytes; false when the server closes first.
    bool Read(size_t n, std::string& out) {
        out.clear();
        char buf[4096];
        while (out.size() < n) {
            ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r <= 0) return false;
            out.append(buf, size_t(r));
        }
        return true;
    }
    bool ReadAnswer(Answer& a) {
        std::string head, body;
        if (!Read(4, head)) return false;
        auto u = [](const std::string& s, size_t i) { return uint32_t(uint8_t(s[i])); };
        uint32_t len = u(head, 0) | u(head, 1) << 8 | u(head, 2) << 16 | u(head, 3) << 24;
        if (!Read(len, body)) return false;
        a = Answer{};
        a.lines = int(u(body, 0) | u(body, 1) << 8);
        for (size_t i = 2; i + 5 <= body.size();) {
            Change c{int(u(body, i) | u(body, i + 1) << 8), int(u(body, i + 2)), int(u(body, i + 3)),
                     int(u(body, i + 4)), ""};
            size_t end = body.find('\0', i + 5);
            c.text = body.substr(i + 5, end - i - 5);
            i = end + 1;
            if (c.line == 0xFFFF && c.field == 0xFF) {
                a.status = c.text;
                break;
            }
            a.changes.push_back(c);
        }
        return true;
    }
    // True when the server has closed the connection.
    bool Closed() {
        char c;
        return ::recv(fd_, &c, 1, 0) == 0;
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

const std::string kRequest = "hello";

} // namespace

TEST(RemoteMonitor, ANewClientGetsTheWholeGridThenOnlyChangesWithColoursAndStatus) {
    TagMonitor mon(3);
    mon.SetField(1, "1 : VirtualLine1", 0);
    TagRemoteCtrl server(3, 0, 2, &mon);
    ASSERT_TRUE(server.Running());
    server.SetStatusText("Connected:0.0");
    Client c("127.0.0.2", server.BoundPort());
    ASSERT_TRUE(c.Connected());
    c.Send(kRequest);
    Answer a;
    ASSERT_TRUE(c.ReadAnswer(a));
    EXPECT_EQ(a.lines, 3);
    EXPECT_EQ(a.changes.size(), 24u);
    EXPECT_EQ(a.changes[8].text, "1 : VirtualLine1");
    EXPECT_EQ(a.changes[8].bg, 15);
    EXPECT_EQ(a.status, "Connected:0.0");

    mon.SetStateColor(2, 14, 4);
    mon.SetField(2, std::string(60, 'x'), 6);
    c.Send("abc"); // a short request gets no answer of its own
    c.Send(kRequest);
    ASSERT_TRUE(c.ReadAnswer(a));
    ASSERT_EQ(a.changes.size(), 6u);
    EXPECT_EQ(a.changes[0].line, 2);
    EXPECT_EQ(a.changes[0].fg, 14);
    EXPECT_EQ(a.changes[0].bg, 4);
    EXPECT_EQ(a.changes[5].field, 6);
    EXPECT_EQ(a.changes[5].text, std::string(40, 'x'));
    c.Send(kRequest);
    ASSERT_TRUE(c.ReadAnswer(a));
    EXPECT_TRUE(a.changes.empty());
    EXPECT_EQ(a.status, "Connected:0.0");
}

TEST(RemoteMonitor, ALargeGridReachesANewClientOverSeveralAnswers) {
    TagMonitor mon(1000);
    for (int32_t n = 0; n < 1000; ++n)
        mon.SetField(n, "line text " + std::to_string(n), 0);
    TagRemoteCtrl server(1000, 0, 1, &mon);
    Client c("127.0.0.3", server.BoundPort());
    size_t total = 0;
    int answers = 0;
    while (total < 8000u) {
        c.Send(kRequest);
        Answer a;
        ASSERT_TRUE(c.ReadAnswer(a));
        ASSERT_FALSE(a.changes.empty());
        total += a.changes.size();
        ++answers;
    }
    EXPECT_EQ(total, 8000u);
    EXPECT_GT(answers, 1);
}

TEST(RemoteMonitor, OneConnectionPerAddressAndNoMoreThanTheLimit) {
    TagMonitor mon(1);
    TagRemoteCtrl server(1, 0, 2, &mon);
    Answer a;
    Client first("127.0.0.2", server.BoundPort());
    first.Send(kRequest);
    ASSERT_TRUE(first.ReadAnswer(a));
    // A second connection from the same address replaces the first.
    Client again("127.0.0.2", server.BoundPort());
    again.Send(kRequest);
    ASSERT_TRUE(again.ReadAnswer(a));
    EXPECT_TRUE(first.Closed());
    Client other("127.0.0.3", server.BoundPort());
    other.Send(kRequest);
    ASSERT_TRUE(other.ReadAnswer(a));
    EXPECT_EQ(server.ConnCount(), 2u);
    // Beyond the limit: accepted and closed at once.
    Client third("127.0.0.4", server.BoundPort());
    EXPECT_TRUE(third.Closed());
    EXPECT_EQ(server.ConnCount(), 2u);
}

TEST(RemoteMonitor, NoConnectionsAllowedOpensNoPort) {
    TagMonitor mon(1);
    TagRemoteCtrl server(1, 0, 0, &mon);
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(server.BoundPort(), -1);
}

TEST(RemoteMonitor, StopsWhileItsThreadsWaitWithoutAClient) {
    // Both threads sleep in their waits when the server is deleted: each must wake, whichever runs first.
    TagMonitor mon(1);
    for (int i = 0; i < 100; ++i) {
        TagRemoteCtrl server(1, 0, 1, &mon);
        ASSERT_TRUE(server.Running());
    }
}

TEST(RemoteMonitor, AClientThatStopsAskingIsDroppedAfterAMinuteOneThatAsksStays) {
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    TagMonitor mon(1);
    TagRemoteCtrl server(1, 0, 1, &mon);
    Client c("127.0.0.2", server.BoundPort());
    Answer a;
    // Each step: ask, take the answer, and move the clock once the server rests after it (its pass pause).
    auto askThenAdvance = [&](uint32_t ms) {
        c.Send(kRequest);
        ASSERT_TRUE(c.ReadAnswer(a));
        while (clock.Waiters() == 0)
            std::this_thread::yield();
        clock.Advance(ms);
    };
    askThenAdvance(59000);
    askThenAdvance(2000); // 61 s connected, 2 s since it asked: kept
    askThenAdvance(TagRemoteCtrl::kIdleDropMs);
    EXPECT_TRUE(c.Closed());
}
