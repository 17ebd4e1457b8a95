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
    namespace fs = std::filesystem;
    Start();
    CardControl control(*sim_);
    Voice("hello.wav", 100);
    const std::string outside = "zzcard_outside_" + std::to_string(getpid()) + ".wav";
    const fs::path outsidePath = dir_.parent_path() / outside;
    const std::vector<std::string> names = {Path("abs.wav"), "../" + outside, "sub\\..\\..\\" + outside, "C:\\x.wav",
                                            "a\x01.wav"};
    for (const std::string& name : names)
        EXPECT_EQ(control.Execute("SAVE 0 " + name).rfind("ERR not a file of the card folder", 0), 0u) << name;
    EXPECT_EQ(control.Execute("AUDIO 0 /etc/passwd").rfind("ERR not a file", 0), 0u);
    EXPECT_EQ(control.Execute("FAX 0 ../" + outside).rfind("ERR not a file", 0), 0u);
    EXPECT_EQ(control.Execute("SAVE 99 gone.wav"), "ERR no channel 99");
    EXPECT_FALSE(fs::exists(Path("abs.wav")));
    EXPECT_FALSE(fs::exists(outsidePath));
    EXPECT_FALSE(fs::exists(Path("gone.wav")));

    // A recording goes into saved/ and never replaces what the card or a script reads.
    const auto config = fs::file_size(Path("ShConfig.ini"));
    EXPECT_EQ(control.Execute("SAVE 0 ShConfig.ini"), "OK 0");
    EXPECT_EQ(fs::file_size(Path("ShConfig.ini")), config);
    EXPECT_EQ(fs::file_size(Path("saved/ShConfig.ini")), 44u);
    EXPECT_EQ(control.Execute("SAVE 0 saved/x.wav").rfind("ERR SAVE takes a plain file name", 0), 0u);
    // Symbolic links do not lead the port out of the card folder, nor a recording onto another file.
    Voice(outsidePath.string(), 100);
    fs::create_symlink(outsidePath, Path("out.wav"));
    fs::create_symlink(outsidePath, Path("saved/out.wav"));
    fs::create_symlink("hello.wav", Path("in.wav"));
    EXPECT_EQ(control.Execute("AUDIO 0 out.wav"), "ERR not a file of the card folder: out.wav");
    ASSERT_EQ(sim_->SsmPlayFile(0, Path("hello.wav").c_str(), 0, 0, -1), 0);
    EXPECT_EQ(control.Execute("SAVE 0 out.wav").rfind("ERR cannot write saved/out.wav", 0), 0u);
    EXPECT_EQ(control.Execute("SAVE 0 heard.wav"), "OK 800"); // the refused SAVE kept what was played
    EXPECT_EQ(fs::file_size(outsidePath), 44u + MsToBytes(100));
    fs::remove(outsidePath);
    EXPECT_EQ(control.Execute("AUDIO 0 in.wav"), "OK");
    EXPECT_EQ(control.Execute("AUDIO 0 saved"), "ERR saved is not a plain file");
    EXPECT_EQ(control.Execute("AUDIO 0 none.wav"), "ERR cannot read none.wav");

    // A document to receive is a readable TIFF of fax pages.
    WriteTiff(Path("page.tif"));
    EXPECT_EQ(control.Execute("FAX 1 nofile.tif"), "ERR cannot read nofile.tif");
    EXPECT_NE(control.Execute("FAX 8 hello.wav").find("hello.wav is not a TIFF fax file"), std::string::npos);
    EXPECT_EQ(control.Execute("FAX 8 page.tif"), "OK");

    // Sound not yet heard stays within ten minutes, and goes when the caller hangs up; keys within 256.
    EXPECT_EQ(control.Execute("NOISE 99 2000000000"), "ERR no channel 99");
    EXPECT_EQ(control.Execute("NOISE 0 2000000000"), "ERR too long: at most 600000 ms");
    for (const char* bad : {"-5", "abc", "1e3", ""})
        EXPECT_EQ(control.Execute(std::string("NOISE 0 ") + bad).rfind("ERR bad length", 0), 0u) << bad;
    EXPECT_EQ(control.Execute("NOISE 0 599900"), "OK");
    EXPECT_EQ(control.Execute("AUDIO 0 hello.wav").rfind("ERR sound queue full", 0), 0u);
    EXPECT_EQ(control.Execute("NOISE 0 1").rfind("ERR sound queue full", 0), 0u);
    EXPECT_EQ(control.Execute("HANGUP 0"), "OK");
    EXPECT_EQ(control.Execute("AUDIO 0 hello.wav"), "OK");
    EXPECT_EQ(control.Execute("DTMF 0 " + std::string(256, '1')), "OK");
    EXPECT_EQ(control.Execute("DTMF 0 1").rfind("ERR key queue full", 0), 0u);
    EXPECT_EQ(control.Execute("ANSWER 0"), "ERR no outgoing call on channel 0");
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
