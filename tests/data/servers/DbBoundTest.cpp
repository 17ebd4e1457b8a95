// Servers that stop answering: a listener that accepts and never says a word, and a real MariaDB whose statement
// outlasts the bound. The back end fails with its documented code once its bound has passed, or at once when the
// line is told to stop, and the call it gave up cleans up after itself.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "data/DbCallBound.h"
#include "data/TagMySqlData.h"
#include "platform/WakeEvent.h"
#include "tests/data/servers/ServerEnv.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::test;

namespace {

// A Unix-socket listener that takes connections and never answers them; closing it ends what still waits.
class SilentServer {
public:
    explicit SilentServer(const std::filesystem::path& dir) : path_((dir / "silent.sock").string()) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 8) == 0;
    }
    ~SilentServer() {
        for (int c : accepted_)
            ::close(c);
        ::close(fd_);
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }
    // Blocks until a client connects: the hand-shake that it is waiting on this server now.
    void Accept() { accepted_.push_back(::accept(fd_, nullptr, nullptr)); }

private:
    std::string path_;
    int fd_ = -1;
    bool ok_ = false;
    std::vector<int> accepted_;
};

class DbBound : public ::testing::Test {
protected:
    void SetUp() override { LoadMySqlForTests(); }
    void TearDown() override {
        PointSocketAt(MariaDbEnv::Get().socket);
        SetDbBounds(0, 0);
        // Given-up calls end once their server is gone (the silent one closed, or the statement cut off).
        EXPECT_TRUE(WaitDbCallsEnded(60000));
    }

    TestDir dir{"dbbound"};
};

TEST_F(DbBound, MySqlOpenOnASilentServerFailsOnceItsBoundHasPassed) {
    SilentServer silent(dir.path());
    ASSERT_TRUE(silent.ok());
    PointSocketAt(silent.path());
    SetDbBounds(200, 0);
    {
        TagMySqlData ds("localhost", "u", "p", "silent");
        EXPECT_EQ(ds.status, -1);
        EXPECT_EQ(ds.lastError, "Open:Connect Err");
        std::string text = TestDir::Read(dir.path() / "silent.log");
        EXPECT_NE(text.find("Failed to connect to database: Error: no answer from the server within 200 ms"),
                  std::string::npos)
            << text;
    }
}

TEST_F(DbBound, QuitEndsAMySqlOpenWaitingOnASilentServerAtOnce) {
    SilentServer silent(dir.path());
    ASSERT_TRUE(silent.ok());
    PointSocketAt(silent.path());
    SetDbBounds(3600000, 0); // only the quit can end this wait
    auto open = [] { return TagMySqlData("localhost", "u", "p", "").status; };
    EXPECT_EQ(QuitWhileBlocked(open, [&] { silent.Accept(); }), -1);
}

TEST_F(DbBound, MySqlStatementOutlastingItsBoundFailsAndTheNextStatementConnectsAgain) {
    ZZ_NEED_MARIADB();
    const MariaDbEnv& e = MariaDbEnv::Get();
    TagMySqlData ds("localhost", e.user.c_str(), e.password.c_str(), "stall");
    ASSERT_EQ(ds.status, 0);
    SetDbBounds(0, 300);
    EXPECT_EQ(Sql(ds, "SELECT SLEEP(30)"), -1);
    EXPECT_NE(TestDir::Read(dir.path() / "stall.log").find("Error: no answer from the server within 300 ms"),
              std::string::npos);
    SetDbBounds(0, 0);
    ASSERT_EQ(Sql(ds, "SELECT 7"), 0);
    EXPECT_EQ(Cell(ds, 0, 1), "7");
}

} // namespace
