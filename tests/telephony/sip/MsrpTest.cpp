// File transfer over MSRP between two transfers of one engine on loopback, as between two lines.
#include "telephony/sip/MsrpEngine.h"
#include "tests/support/TestDir.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

using namespace zz;

namespace {

class MsrpTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A free port of the test's range; another test run may hold one, so the next is tried.
        std::mt19937 rng{uint32_t(getpid())};
        for (int i = 0; i < 200 && !msrp.Port(); ++i)
            msrp.TqrMsrpInit(1, "127.0.0.1", 30000 + int(rng() % 2000), dir.path().c_str(), 2);
        ASSERT_NE(msrp.Port(), 0);
    }
    TestDir dir{"msrp"};
    MsrpEngine msrp;
};

TEST_F(MsrpTest, AFileGoesOverInChunksAndAppearsWhole) {
    std::string data;
    std::mt19937 rng(7);
    for (int i = 0; i < 10000; ++i)
        data += char(rng());
    TestDir::Write("send.bin", data);
    std::string id, uri, offer;
    int32_t size = 0;
    int tx = msrp.TqrMsrpFileSend("send.bin", id, uri, size, offer);
    ASSERT_GT(tx, 0);
    EXPECT_EQ(size, 10000);
    EXPECT_FALSE(id.empty()) << "an id is made when none is given";
    EXPECT_NE(offer.find("a=file-selector:name:\"send.bin\""), std::string::npos) << offer;
    EXPECT_NE(offer.find("m=message " + std::to_string(msrp.Port()) + " TCP/MSRP"), std::string::npos);

    std::string answer, path, name, rid;
    int32_t rsize = 0;
    EXPECT_EQ(msrp.TqrMsrpFileRecv(0, offer.c_str(), 9999, answer, path, name, rsize, rid), -4) << "too large";
    mkdir("in", 0755);
    int rx = msrp.TqrMsrpFileRecv(0, offer.c_str(), 0, answer, path, name, rsize, rid);
    ASSERT_GT(rx, 0);
    EXPECT_EQ(rid, id);
    EXPECT_EQ(rsize, 10000);
    EXPECT_EQ(name, "send.bin");
    EXPECT_NE(path, dir.path().string() + "/send.bin") << "an existing file is not overwritten";
    EXPECT_EQ(msrp.TqrMsrpFileRecvStart(rx, 0), 0);
    EXPECT_EQ(msrp.TqrMsrpProcAnswer(answer.c_str()), tx);

    EXPECT_EQ(msrp.WaitDone(tx, 20000), MsrpEngine::kDone);
    EXPECT_EQ(msrp.WaitDone(rx, 20000), MsrpEngine::kDone);
    int32_t done = 0, total = 0;
    EXPECT_EQ(msrp.TqrMsrpFileCheck(rx, done, total), MsrpEngine::kDone);
    EXPECT_EQ(done, 10000);
    EXPECT_EQ(total, 10000);
    EXPECT_EQ(TestDir::Read(path), data);
    EXPECT_EQ(msrp.TqrMsrpFileEnd(rx), 0);
    EXPECT_EQ(msrp.TqrMsrpFileEnd(tx), 0);
    EXPECT_EQ(msrp.TqrMsrpFileCheck(tx, done, total), MsrpEngine::kUnknown);
    EXPECT_EQ(msrp.TqrMsrpProcAnswer(answer.c_str()), -1) << "no such transfer any more";
}

// A TCP connection to the engine.
int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// What the engine sends next ("" when it closes; the bound only ends a test gone wrong).
std::string Receive(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return "(nothing)";
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return std::string(buf, n > 0 ? size_t(n) : 0);
}

TEST_F(MsrpTest, PeersHoldNoMoreConnectionsThanTransfersAndAChunkBeyondTheFileIsRefused) {
    // Three idle connections where two transfers may run: the oldest is let go.
    int idle[3];
    for (int& fd : idle)
        fd = Connect(msrp.Port());
    EXPECT_EQ(Receive(idle[0]), "");
    for (int fd : idle)
        close(fd);

    TestDir::Write("x.bin", "hello");
    std::string id, uri, offer, answer, path, name, rid;
    int32_t size = 0;
    ASSERT_GT(msrp.TqrMsrpFileSend("x.bin", id, uri, size, offer), 0);
    mkdir("in", 0755);
    int rx = msrp.TqrMsrpFileRecv(0, offer.c_str(), 0, answer, path, name, size, rid);
    ASSERT_GT(rx, 0);
    ASSERT_EQ(msrp.TqrMsrpFileRecvStart(rx, 0), 0);
    size_t at = answer.find("a=path:") + 7;
    std::string to = answer.substr(at, answer.find("\r\n", at) - at);
    int fd = Connect(msrp.Port());
    std::string send = "MSRP t1 SEND\r\nTo-Path: " + to + "\r\nFrom-Path: msrp://127.0.0.1:9/s;tcp\r\n" +
                       "Message-ID: m1\r\nByte-Range: 9223372036854775800-9223372036854775804/5\r\n" +
                       "Content-Type: text/plain\r\n\r\nhello\r\n-------t1$\r\n";
    ASSERT_EQ(::send(fd, send.data(), send.size(), 0), ssize_t(send.size()));
    EXPECT_EQ(Receive(fd).rfind("MSRP t1 413 ", 0), 0u);
    EXPECT_EQ(msrp.WaitDone(rx, 20000), MsrpEngine::kFileError);
    close(fd);
}

TEST_F(MsrpTest, BadOffersAndADisabledEngineAreRefused) {
    std::string answer, path, name, id;
    int32_t size = 0;
    EXPECT_EQ(msrp.TqrMsrpFileRecv(0, "v=0\r\n", 0, answer, path, name, size, id), -3);
    std::string uri, offer;
    EXPECT_EQ(msrp.TqrMsrpFileSend("missing.bin", id, uri, size, offer), -3);
    MsrpEngine off;
    EXPECT_EQ(off.TqrMsrpInit(0, "127.0.0.1", 0, "", 0), 0);
    TestDir::Write("x.bin", "x");
    EXPECT_EQ(off.TqrMsrpFileSend("x.bin", id, uri, size, offer), -1);
}

} // namespace
