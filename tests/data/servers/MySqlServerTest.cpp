// The MySQL back end when the server goes away, and shared through the connection pool by many lines.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "data/TagMySqlData.h"
#include "platform/TagRunCfg.h"
#include "tests/data/servers/ServerEnv.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::test;

namespace {

int FreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

int Ctl(const std::string& cmd, const std::string& dir, int port = 0) {
    std::string line = "'" + MariaDbEnv::Get().ctl + "' " + cmd + " '" + dir + "'";
    if (port) line += " " + std::to_string(port);
    return std::system((line + " >/dev/null").c_str());
}

// A server of this test's own, so that restarting it disturbs no other test.
class PrivateServer {
public:
    PrivateServer() : dir_(std::filesystem::temp_directory_path() / UniqueName("mariadb")), port_(FreePort()) {
        ok_ = !MariaDbEnv::Get().ctl.empty() && Ctl("start", dir_, port_) == 0;
    }
    ~PrivateServer() {
        Ctl("stop", dir_);
        std::filesystem::remove_all(dir_);
    }
    bool ok() const { return ok_; }
    int Restart() { return Ctl("restart", dir_); }
    std::string Socket() const { return (dir_ / "mysqld.sock").string(); }
    std::string Port() const { return std::to_string(port_); }

private:
    std::filesystem::path dir_;
    int port_;
    bool ok_ = false;
};

TEST(MySqlReconnect, StatementAfterServerRestartReconnectsToTheFirstDatabase) {
    ZZ_NEED_MARIADB();
    LoadMySqlForTests();
    PrivateServer server;
    ASSERT_TRUE(server.ok()) << "could not start a private MariaDB server";
    PointSocketAt(server.Socket());
    struct Restore {
        ~Restore() { PointSocketAt(MariaDbEnv::Get().socket); }
    } restore;
    TestDir dir("myreconn");
    const MariaDbEnv& e = MariaDbEnv::Get();
    TagMySqlData ds("localhost", e.user.c_str(), e.password.c_str(), "reconn");
    ASSERT_EQ(ds.status, 0);
    ASSERT_EQ(Sql(ds, "use zztest"), 0);
    ASSERT_EQ(Sql(ds, "set @mark = '已重连'"), 0);
    Sql(ds, "DROP TABLE IF EXISTS r");
    ASSERT_EQ(Sql(ds, "CREATE TABLE r (v VARCHAR(10))"), 0);
    ASSERT_EQ(Sql(ds, "INSERT INTO r VALUES ('一'),('二')"), 0);

    ASSERT_EQ(server.Restart(), 0);
    ASSERT_EQ(Sql(ds, "SELECT v FROM r ORDER BY v DESC"), 0);
    EXPECT_EQ(ds.status, 0);
    EXPECT_EQ(ds.GetRows(), 2);
    EXPECT_EQ(Cell(ds, 0, 1), "一"); // GBK order: 一 (D2BB) after 二 (B6FE)
    // The kept "set" statement ran again on the new connection.
    ASSERT_EQ(Sql(ds, "SELECT @mark"), 0);
    EXPECT_EQ(Cell(ds, 0, 1), "已重连");
    std::string log = ReadFile("reconn.log");
    EXPECT_NE(log.find("] Reconnecting...\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Open('zztest') is 0.\n"), std::string::npos) << log;

    // A pooled handle on the same server survives a restart as well.
    SetDbMaxConn(1);
    TagDbConnectionsCtrl pool;
    TagLocalData local(&pool, kDbTypeMySql, "localhost", e.user.c_str(), e.password.c_str(), "");
    ASSERT_EQ(local.status, 0);
    std::string sql = "use zztest";
    EXPECT_EQ(local.Exec(sql.data()), 1);
    ASSERT_EQ(server.Restart(), 0);
    sql = "SELECT COUNT(*) FROM r";
    EXPECT_EQ(local.Exec(sql.data()), 1);
    EXPECT_EQ(Cell(local, 0, 1).c_str(), std::string("2"));
    local.Close();
    Sql(ds, "DROP TABLE r");
    ds.Close();
    SetDbMaxConn(0);
}

TEST(MySqlPool, LocalCopyKeepsNamesValuesNullsAndCapsWideColumns) {
    ZZ_NEED_MARIADB();
    const MariaDbEnv& e = MariaDbEnv::Get();
    LoadMySqlForTests();
    SetDbMaxConn(1);
    TagDbConnectionsCtrl pool;
    TagLocalData local(&pool, kDbTypeMySql, "localhost", e.user.c_str(), e.password.c_str(), "");
    ASSERT_EQ(local.status, 0);
    // One back end: the temporary table lives on the connection every statement borrows.
    std::string sql = "CREATE TEMPORARY TABLE zztest.wide (n INT, s CHAR(4), z TEXT, big LONGTEXT)";
    ASSERT_EQ(local.Exec(sql.data()), 0);
    sql = "INSERT INTO zztest.wide VALUES (7, '中文', NULL, REPEAT('x', 5000)), (8, 'ab', NULL, 'y')";
    ASSERT_EQ(local.Exec(sql.data()), 0);
    sql = "SELECT * FROM zztest.wide ORDER BY n";
    ASSERT_EQ(local.Exec(sql.data()), 2);
    EXPECT_EQ(local.GetRows(), 2);
    ASSERT_EQ(local.GetCols(), 4);
    char buf[kDbValueSize];
    EXPECT_EQ(local.GetFieldName(3, buf), 3);
    EXPECT_STREQ(buf, "big");
    EXPECT_EQ(local.GetFieldIndex("S"), 1);
    EXPECT_GT(local.GetVar(buf, 1, 1), 0);
    EXPECT_STREQ(buf, "中文");
    EXPECT_EQ(Cell(local, 1, 2), "ab");
    EXPECT_EQ(Cell(local, 2, 1), "");
    EXPECT_EQ(Cell(local, 0, 2), "8");
    // A LONGTEXT declares 4 GB: the cell is capped at what a read can hand out.
    EXPECT_EQ(local.GetVar(buf, 3, 1), int(kDbValueSize - 1));
    EXPECT_EQ(std::string(buf), std::string(kDbValueSize - 1, 'x'));
    EXPECT_EQ(Cell(local, 3, 2), "y");
    EXPECT_EQ(local.GetVar(buf, 0, 3), -2);

    sql = "SELECT * FROM nosuchdb.nosuch";
    EXPECT_LT(local.Exec(sql.data()), 0);
    EXPECT_EQ(local.GetRows(), 0);
    sql = "DO 1";
    EXPECT_EQ(local.Exec(sql.data()), 0);
    EXPECT_EQ(local.GetCols(), 0);
    local.Close();
    SetDbMaxConn(0);
}

TEST(MySqlPool, ThirtyTwoLinesShareFourConnectionsWithNothingLostOrMixed) {
    ZZ_NEED_MARIADB();
    const MariaDbEnv& e = MariaDbEnv::Get();
    LoadMySqlForTests();
    std::string db = UniqueName("pool");
    TagMySqlData admin("localhost", e.user.c_str(), e.password.c_str(), "");
    ASSERT_EQ(Sql(admin, "CREATE DATABASE " + db + " CHARACTER SET gbk"), 0);
    ASSERT_EQ(Sql(admin, "CREATE TABLE " + db + ".t (line INT, k INT, v VARCHAR(40), PRIMARY KEY (line, k))"), 0);

    SetDbMaxConn(4);
    TagDbConnectionsCtrl pool;
    constexpr int kLines = 32, kStatements = 25;
    std::vector<std::string> errors(kLines);
    std::vector<std::thread> threads;
    for (int line = 0; line < kLines; ++line) {
        threads.emplace_back([&, line] {
            std::string& err = errors[size_t(line)];
            TagLocalData local(&pool, kDbTypeMySql, "localhost", e.user.c_str(), e.password.c_str(), "");
            if (local.status < 0) {
                err = "open failed";
                return;
            }
            std::string use = "use " + db;
            local.Exec(use.data());
            for (int k = 0; k < kStatements && err.empty(); ++k) {
                std::string v = "线路" + std::to_string(line) + "-" + std::to_string(k);
                std::string ins = "INSERT INTO " + db + ".t VALUES (" + std::to_string(line) + "," + std::to_string(k) +
                                  ",'" + v + "')";
                if (int rc = local.Exec(ins.data()); rc < 0) err = "insert " + std::to_string(rc);
                std::string sel = "SELECT v, line FROM " + db + ".t WHERE line=" + std::to_string(line) +
                                  " AND k=" + std::to_string(k);
                if (int rc = local.Exec(sel.data()); rc != 1)
                    err = "select " + std::to_string(rc);
                else if (Cell(local, 0, 1) != v)
                    err = "mixed up: " + Cell(local, 0, 1);
            }
            local.Close();
        });
    }
    for (auto& t : threads)
        t.join();
    for (int line = 0; line < kLines; ++line)
        EXPECT_EQ(errors[size_t(line)], "") << "line " << line;
    ASSERT_EQ(pool.ConnectionCount(), 1);
    EXPECT_EQ(pool.Connection(0)->OpenCount(), 0);

    ASSERT_EQ(
        Sql(admin, "SELECT COUNT(*), COUNT(DISTINCT line), SUM(v = CONCAT('线路', line, '-', k)) FROM " + db + ".t"),
        0);
    EXPECT_EQ(Cell(admin, 0, 1), std::to_string(kLines * kStatements));
    EXPECT_EQ(Cell(admin, 1, 1), std::to_string(kLines));
    EXPECT_EQ(Cell(admin, 2, 1), std::to_string(kLines * kStatements));
    Sql(admin, "DROP DATABASE " + db);
    SetDbMaxConn(0);
}

TEST(MySqlPool, OneLinesProcedureCallLeavesTheSharedConnectionUsableForTheOthers) {
    ZZ_NEED_MARIADB();
    const MariaDbEnv& e = MariaDbEnv::Get();
    LoadMySqlForTests();
    std::string db = UniqueName("callpool");
    TagMySqlData admin("localhost", e.user.c_str(), e.password.c_str(), "");
    ASSERT_EQ(Sql(admin, "CREATE DATABASE " + db), 0);
    ASSERT_EQ(Sql(admin, "CREATE PROCEDURE " + db + ".p(IN n INT) SELECT n + 1 AS v"), 0);
    SetDbMaxConn(1);
    TagDbConnectionsCtrl pool;
    TagLocalData a(&pool, kDbTypeMySql, "localhost", e.user.c_str(), e.password.c_str(), "");
    TagLocalData b(&pool, kDbTypeMySql, "localhost", e.user.c_str(), e.password.c_str(), "");
    std::string sql = "CALL " + db + ".p(21)";
    ASSERT_EQ(a.Exec(sql.data()), 1);
    EXPECT_EQ(Cell(a, 0, 1), "22");
    sql = "SELECT 5";
    ASSERT_EQ(b.Exec(sql.data()), 1); // the same back end, after the other line's call
    EXPECT_EQ(Cell(b, 0, 1), "5");
    a.Close();
    b.Close();
    Sql(admin, "DROP DATABASE " + db);
    SetDbMaxConn(0);
}

TEST(MySqlStart, SixteenLinesConnectingFirstAtOnceAllGetThrough) {
    ZZ_NEED_MARIADB();
    LoadMySqlForTests();
    FreeMySqlLibrary(); // a fresh start: no connection made yet
    ASSERT_EQ(LoadMySqlLibrary(), 0);
    const MariaDbEnv& e = MariaDbEnv::Get();
    std::atomic<int> ready{0}, ok{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&, i] {
            ready++;
            while (ready.load() < 16)
                std::this_thread::yield();
            TagMySqlData ds("localhost", e.user.c_str(), e.password.c_str(), "");
            std::string sql = "SELECT " + std::to_string(i);
            if (ds.status == 0 && ds.Exec(sql.data()) == 0 && Cell(ds, 0, 1) == std::to_string(i)) ok++;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 16);
}

} // namespace
