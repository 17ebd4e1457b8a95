#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "DataTestUtil.h"
#include "data/TagAdoData.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/TagRunCfg.h"
#include "tests/support/DbQuit.h"

using namespace zz;
using zztest::DataDir;

namespace {

constexpr const char* kMariaDriver = "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so";

std::string Env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

std::string MariaConn(const std::string& port) {
    return std::string("DRIVER=") + kMariaDriver + ";SERVER=127.0.0.1;PORT=" + port + ";UID=" + Env("ZZ_MARIADB_USER") +
           ";PWD=" + Env("ZZ_MARIADB_PASSWORD") + ";DATABASE=" + Env("ZZ_MARIADB_DATABASE");
}

int Sql(TagDataSet& ds, const std::string& sql) {
    std::vector<char> text(sql.begin(), sql.end());
    text.push_back('\0');
    return ds.Exec(text.data());
}

std::string Get(TagDataSet& ds, int col, int row, int* rc = nullptr) {
    char buf[kDbValueSize];
    int r = ds.GetVar(buf, col, row);
    if (rc) *rc = r;
    return buf;
}

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, (sockaddr*)&a, sizeof a);
    getsockname(s, (sockaddr*)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}

// A TCP listener that takes connections and never answers them.
class SilentListener {
public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(fd_, (sockaddr*)&a, sizeof a) == 0 && listen(fd_, 8) == 0 &&
            getsockname(fd_, (sockaddr*)&a, &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentListener() {
        for (int c : accepted_)
            close(c);
        close(fd_);
    }
    int Port() const { return port_; }
    // Blocks until a client connects: the hand-shake that it waits on this server now.
    void Accept() { accepted_.push_back(accept(fd_, nullptr, nullptr)); }

private:
    int fd_ = -1, port_ = 0;
    std::vector<int> accepted_;
};

TEST(AdoBound, OpenOnASilentServerFailsAtTheBoundOrAtOnceOnAQuit) {
    DataDir dir{"adosilent"};
    std::filesystem::create_directories(dir.File("log"));
    {
        SilentListener silent, silent2;
        ASSERT_NE(silent.Port(), 0);
        ASSERT_NE(silent2.Port(), 0);
        SetDbBounds(200, 0);
        {
            TagAdoData ado(MariaConn(std::to_string(silent.Port())).c_str(), "silent");
            EXPECT_EQ(ado.status, -1); // failed with a message
        }
        SetDbBounds(3600000, 0); // only the quit can end this one
        const std::string conn = MariaConn(std::to_string(silent2.Port()));
        auto open = [&] { return TagAdoData(conn.c_str(), "silent").status; };
        EXPECT_EQ(zz::test::QuitWhileBlocked(open, [&] { silent2.Accept(); }), -1);
        SetDbBounds(0, 0);
    }
    // The listeners are closed, so the connects given up return: their threads end before the process does (a
    // thread that ends during the exit meets the client library's own clean-up).
    EXPECT_TRUE(WaitDbCallsEnded(60000));
}

class AdoMariaDb : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("ZZ_MARIADB_PORT").empty())
            GTEST_SKIP() << "no MariaDB server: source scripts/services/mariadb.sh (scripts/test does) to run these";
        std::filesystem::create_directories(dir.File("log"));
        ado = std::make_unique<TagAdoData>(MariaConn(Env("ZZ_MARIADB_PORT")).c_str(), "maria");
        ASSERT_EQ(ado->status, 0);
        ASSERT_EQ(Sql(*ado, "DROP TABLE IF EXISTS " + table), 0);
        ASSERT_EQ(Sql(*ado, "CREATE TABLE " + table +
                                "(id int, name varchar(20), note longtext, flag bit(1)) "
                                "DEFAULT CHARSET utf8mb4"),
                  0);
        ASSERT_EQ(Sql(*ado, "INSERT INTO " + table +
                                " VALUES(1, '张三', 'first', 1), (2, 'bob', NULL, 0), "
                                "(3, '李四', '备注', NULL)"),
                  3);
    }
    void TearDown() override {
        if (ado) Sql(*ado, "DROP TABLE IF EXISTS " + table);
        SetDbMaxConn(0);
    }

    DataDir dir{"adomaria"};
    std::string table = "zz_ado_" + std::to_string(getpid());
    std::unique_ptr<TagAdoData> ado;
};

} // namespace

TEST_F(AdoMariaDb, StatementOutlastingItsBoundFailsAndTheNextStatementConnectsAgain) {
    SetDbBounds(0, 300);
    EXPECT_EQ(Sql(*ado, "select sleep(30)"), -3);
    SetDbBounds(0, 0);
    EXPECT_EQ(Sql(*ado, "select 7"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), "7");
    EXPECT_NE(dir.Read(dir.File("log/sqlapp.log")).find("no answer within 300 ms"), std::string::npos);
    EXPECT_TRUE(WaitDbCallsEnded(60000)); // the statement given up was cancelled
}

TEST_F(AdoMariaDb, GbkTextNullsAndBitsRoundTrip) {
    EXPECT_EQ(Sql(*ado, "select id, name, note, flag from " + table + " order by id"), 0);
    EXPECT_EQ(ado->GetRows(), 3);
    EXPECT_EQ(Get(*ado, 1, 1), "张三");
    EXPECT_EQ(Get(*ado, 2, 3), "备注");
    EXPECT_EQ(Get(*ado, 2, 2), "");
    EXPECT_EQ(Get(*ado, 3, 1), "True");
    EXPECT_EQ(Get(*ado, 3, 2), "False");
    // The server holds the characters themselves, not GBK bytes taken for another character set.
    EXPECT_EQ(Sql(*ado, "select hex(convert(name using utf8mb4)) from " + table + " where id = 1"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), "E5BCA0E4B889");
    EXPECT_EQ(Sql(*ado, "update " + table + " set note = 'x'"), 3);
    EXPECT_EQ(ado->GetRows(), 0);
}

TEST_F(AdoMariaDb, StoredProceduresTakeTextArguments) {
    Sql(*ado, "DROP PROCEDURE IF EXISTS " + table + "_p");
    ASSERT_EQ(Sql(*ado, "CREATE PROCEDURE " + table + "_p(a varchar(20), b int) SELECT a, b + 1 AS n"), 0);
    EXPECT_EQ(Sql(*ado, "exec " + table + "_p 'abc', 12"), 0);
    EXPECT_EQ(ado->GetRows(), 1);
    EXPECT_EQ(Get(*ado, 0, 1), "abc");
    EXPECT_EQ(Get(*ado, 1, 1), "13");
    EXPECT_EQ(Sql(*ado, table + "_p '甲,乙', 1"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), "甲,乙");
    EXPECT_EQ(Sql(*ado, "DROP PROCEDURE " + table + "_p"), 0);
}

TEST_F(AdoMariaDb, PooledLongTextKeepsAPositiveCappedWidth) {
    SetDbMaxConn(2);
    TagDbConnectionsCtrl pool;
    TagLocalData ld(&pool, kDbTypeAdo, MariaConn(Env("ZZ_MARIADB_PORT")).c_str(), "", "", "");
    ASSERT_EQ(ld.status, 0);
    EXPECT_EQ(Sql(ld, "select id, name, note from " + table + " order by id"), 3);
    int rc = 0;
    EXPECT_EQ(Get(ld, 2, 1, &rc), "first");
    EXPECT_EQ(rc, 2048);
    EXPECT_EQ(Get(ld, 1, 3, &rc), "李四");
    EXPECT_EQ(rc, 40);
    EXPECT_EQ(Get(ld, 0, 2, &rc), "2");
    EXPECT_EQ(rc, 12);
}

TEST_F(AdoMariaDb, PooledFractionalTimesKeepEveryDigit) {
    SetDbMaxConn(1);
    TagDbConnectionsCtrl pool;
    TagLocalData ld(&pool, kDbTypeAdo, MariaConn(Env("ZZ_MARIADB_PORT")).c_str(), "", "", "");
    ASSERT_EQ(ld.status, 0);
    EXPECT_EQ(Sql(ld, "select cast('2024-05-01 09:30:00.123456' as datetime(6)) as t"), 1);
    int rc = 0;
    EXPECT_EQ(Get(ld, 0, 1, &rc), "2024-05-01 09:30:00.123456");
    EXPECT_EQ(rc, 26); // the driver's display size, above three characters a byte of its 8
}

size_t Count(const std::string& s, const std::string& needle) {
    size_t n = 0;
    for (size_t p = 0; (p = s.find(needle, p)) != std::string::npos; p++)
        n++;
    return n;
}

TEST_F(AdoMariaDb, ReconnectsAfterTheServerRestarts) {
    std::string ctl = Env("ZZ_MARIADB_CTL");
    if (ctl.empty()) GTEST_SKIP() << "no mariadb-ctl";
    // A server of our own: restarting the shared one would disturb other tests.
    std::string serverDir = dir.File("server");
    std::string port = std::to_string(FreePort());
    struct Stopper {
        std::string cmd;
        ~Stopper() { zztest::RunCommand(cmd); }
    } stopper{ctl + " stop " + serverDir + " 2>&1"};
    int rc = -1;
    zztest::RunCommand(ctl + " start " + serverDir + " " + port + " 2>&1", &rc);
    ASSERT_EQ(rc, 0) << "private MariaDB server did not start";
    TagAdoData db(MariaConn(port).c_str(), "restart");
    ASSERT_EQ(db.status, 0);
    EXPECT_EQ(Sql(db, "select 1"), 0);
    zztest::RunCommand(ctl + " restart " + serverDir + " 2>&1", &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(Sql(db, "select 2"), 0);
    EXPECT_EQ(Get(db, 0, 1), "2");
    std::string log = DataDir::Read(dir.File("log/sqlapp.log"));
    EXPECT_EQ(Count(log, "] 重连step1...\n"), 1u) << log;
    EXPECT_EQ(Count(log, "] 重连.\n"), 1u);
    // With the server gone both attempts fail; the connection is re-opened after each all the same.
    zztest::RunCommand(ctl + " stop " + serverDir + " 2>&1", &rc);
    EXPECT_EQ(Sql(db, "select 3"), -3);
    EXPECT_EQ(db.GetRows(), 0);
    EXPECT_EQ(Count(DataDir::Read(dir.File("log/sqlapp.log")), "] 重连step1...\n"), 3u);
}
