// The control port faced with another local user: file names stay inside the card folder, the channel is checked
// before anything is done, what may wait on a channel is bounded, and a client that never reads its answers holds
// up nobody else.
#include "CardFixture.h"

#include "telephony/card/CardControl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zz::test {

namespace {
// A client on the port; a small receive buffer when it is not going to read.
int Dial(int32_t port, int rcvbuf = 0) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

std::string Ask(int fd, const std::string& line) {
    std::string out = line + "\n", reply;
    send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    char ch;
    while (recv(fd, &ch, 1, 0) == 1 && ch != '\n')
        reply += ch;
    return reply;
}
} // namespace

TEST_F(CardTest, ControlPortFilesStayInTheCardFolderAndCountsAreBounded) {
    Start();
    CardControl control(*sim_);
    Voice("hello.wav", 100);
    const std::string outside = "zzcard_outside_" + std::to_string(getpid()) + ".wav";
    const std::vector<std::string> names = {Path("abs.wav"), "../" + outside, "sub\\..\\..\\" + outside, "C:\\x.wav",
                                            "a\x01.wav"};
    for (const std::string& name : names)
        EXPECT_EQ(control.Execute("SAVE 0 " + name).rfind("ERR not a file of the card folder", 0), 0u) << name;
    EXPECT_EQ(control.Execute("AUDIO 0 /etc/passwd").rfind("ERR not a file", 0), 0u);
    EXPECT_EQ(control.Execute("FAX 0 ../" + outside).rfind("ERR not a file", 0), 0u);
    EXPECT_EQ(control.Execute("SAVE 99 gone.wav"), "ERR no channel 99");
    EXPECT_FALSE(std::filesystem::exists(Path("abs.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir_.parent_path() / outside));
    EXPECT_FALSE(std::filesystem::exists(Path("gone.wav")));

    EXPECT_EQ(control.Execute("AUDIO 0 hello.wav"), "OK");
    EXPECT_EQ(control.Execute("SAVE 0 heard.wav"), "OK 0");
    EXPECT_TRUE(std::filesystem::exists(Path("heard.wav")));

    // Sound not yet heard stays within ten minutes; keys within 256.
    EXPECT_EQ(control.Execute("NOISE 99 2000000000"), "ERR no channel 99");
    EXPECT_EQ(control.Execute("NOISE 0 2000000000"), "ERR too long");
    EXPECT_EQ(control.Execute("NOISE 0 599900"), "OK");
    EXPECT_EQ(control.Execute("NOISE 0 1"), "ERR refused");
    EXPECT_EQ(control.Execute("DTMF 0 " + std::string(256, '1')), "OK");
    EXPECT_EQ(control.Execute("DTMF 0 1"), "ERR refused");
}

TEST_F(CardTest, ControlPortAnswersEachClientWhileAnotherReadsNothing) {
    Start();
    CardControl control(*sim_);
    const int32_t port = control.Start(0);
    ASSERT_GT(port, 0);
    for (int i = 0; i < 5000; ++i) // a long journal: each JOURNAL answer is about 100 KB
        sim_->SsmGetChType(0);
    // Megabytes of answers it never takes, far more than the sockets hold.
    int hog = Dial(port, 4096);
    std::string flood;
    for (int i = 0; i < 300; ++i)
        flood += "JOURNAL 5000\n";
    ASSERT_EQ(send(hog, flood.data(), flood.size(), MSG_NOSIGNAL), ssize_t(flood.size()));
    int fd = Dial(port);
    EXPECT_EQ(Ask(fd, "STATE 0"), "OK 0 type=0");
    close(fd);

    // Idle connections filling the port make room for a new client.
    std::vector<int> idle;
    for (int i = 0; i < 16; ++i)
        idle.push_back(Dial(port));
    int late = Dial(port);
    EXPECT_EQ(Ask(late, "STATE 0"), "OK 0 type=0");
    close(late);
    for (int i : idle)
        close(i);
    close(hog);
}

} // namespace zz::test
