// The MySQL back end against a real MariaDB server (started by scripts/services/mariadb.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "data/TagMySqlData.h"
#include "tests/data/servers/ServerEnv.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::test;

namespace {

class MySqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZZ_NEED_MARIADB();
        LoadMySqlForTests();
        db = UniqueName("my");
        admin = Open("");
        ASSERT_EQ(admin->status, 0);
        ASSERT_EQ(Sql(*admin, "CREATE DATABASE " + db + " CHARACTER SET gbk"), 0);
    }
    void TearDown() override {
        if (admin) Sql(*admin, "DROP DATABASE IF EXISTS " + db);
        admin.reset();
    }
    std::unique_ptr<TagMySqlData> Open(const char* logName, const char* host = "localhost") {
        const MariaDbEnv& e = MariaDbEnv::Get();
        return std::make_unique<TagMySqlData>(host, e.user.c_str(), e.password.c_str(), logName);
    }

    TestDir dir{"mysql"};
    std::string db;
    std::unique_ptr<TagMySqlData> admin;
};

TEST_F(MySqlTest, ReadsRowsColumnsNamesAndGbkValuesOverSocketAndTcp) {
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        auto ds = Open("", host);
        ASSERT_EQ(ds->status, 0);
        ASSERT_EQ(Sql(*ds, "use " + db), 0);
        EXPECT_EQ(ds->UseStmt(), "use " + db);
        Sql(*ds, "DROP TABLE IF EXISTS t");
        ASSERT_EQ(Sql(*ds, "CREATE TABLE t (id INT, Name VARCHAR(20), note TEXT) CHARACTER SET utf8mb4"), 0);
        ASSERT_EQ(Sql(*ds, "INSERT INTO t VALUES (1,'中文名字','x'),(2,NULL,'y'),(3,'abc',NULL)"), 0);
        // An insert leaves no result behind.
        EXPECT_EQ(ds->GetRows(), 0);
        EXPECT_EQ(ds->GetCols(), 0);
        EXPECT_EQ(Cell(*ds, 0, 1), "");

        ASSERT_EQ(Sql(*ds, "SELECT id, Name, note FROM t ORDER BY id"), 0);
        EXPECT_EQ(ds->GetRows(), 3);
        EXPECT_EQ(ds->GetCols(), 3);
        char buf[kDbValueSize];
        EXPECT_EQ(ds->GetFieldName(1, buf), 1);
        EXPECT_STREQ(buf, "Name");
        EXPECT_EQ(ds->GetFieldName(3, buf), -1);
        EXPECT_STREQ(buf, "");
        EXPECT_EQ(ds->GetFieldIndex("NAME"), 1);
        EXPECT_EQ(ds->GetFieldIndex("nosuch"), -2);

        EXPECT_EQ(ds->GetVar(buf, 1, 1), 1);
        EXPECT_STREQ(buf, "中文名字");
        EXPECT_EQ(ds->GetVarByName(buf, "note", 3), 2); // NULL: empty, still the column
        EXPECT_STREQ(buf, "");
        EXPECT_EQ(ds->GetVar(buf, 1, 2), 1);
        EXPECT_STREQ(buf, "");
        EXPECT_EQ(Cell(*ds, 1, 3), "abc"); // the last row
        EXPECT_EQ(ds->GetVar(buf, 0, 0), -1);
        EXPECT_EQ(ds->GetVar(buf, 0, 4), -1);
        EXPECT_EQ(ds->GetVar(buf, 3, 1), -1);
        EXPECT_EQ(ds->GetVar(buf, -1, 1), -1);
        EXPECT_EQ(ds->GetVarByName(buf, "nosuch", 1), -1);
        // Random order reads the right rows.
        EXPECT_EQ(Cell(*ds, 0, 3), "3");
        EXPECT_EQ(Cell(*ds, 0, 1), "1");
        EXPECT_EQ(Cell(*ds, 0, 2), "2");

        // The server stored real Chinese characters, so the connection spoke GBK.
        ASSERT_EQ(Sql(*ds, "SELECT HEX(CONVERT(Name USING utf8mb4)) FROM t WHERE id=1"), 0);
        EXPECT_EQ(Cell(*ds, 0, 1), "E4B8ADE69687E5908DE5AD97");
        // Values written by the server in another character set come back as GBK.
        ASSERT_EQ(Sql(*ds, "SELECT CONVERT(_utf8mb4 0xE4B8ADE69687 USING utf8mb4)"), 0);
        EXPECT_EQ(Cell(*ds, 0, 1), "中文");
        EXPECT_EQ(ds->SetVar("x", 0, 1), 0); // writing values is for dBase only
    }
}

TEST_F(MySqlTest, LongValuesAreCutToTheBufferWithoutSplittingACharacter) {
    auto ds = Open("");
    ASSERT_EQ(Sql(*ds, "use " + db), 0);
    ASSERT_EQ(Sql(*ds, "SELECT REPEAT('a', 5000), REPEAT('中', 3000)"), 0);
    std::string a = Cell(*ds, 0, 1), b = Cell(*ds, 1, 1);
    EXPECT_EQ(a.size(), kDbValueSize - 1);
    EXPECT_EQ(b.size(), kDbValueSize - 2); // whole two-byte characters only
    EXPECT_EQ(b.substr(b.size() - 2), "中");
}

TEST_F(MySqlTest, FailuresAreLoggedOrKeptInLastError) {
    auto ds = Open("mylog");
    ASSERT_EQ(ds->status, 0);
    ds->SetDebug(1);
    EXPECT_LT(Sql(*ds, "SELEKT 1"), 0);
    EXPECT_EQ(ds->GetRows(), 0);
    std::string log = ReadFile("mylog.log");
    EXPECT_NE(log.find("] Start.\n"), std::string::npos);
    EXPECT_NE(log.find("] SELEKT 1\n"), std::string::npos);
    EXPECT_NE(log.find("] Error: You have an error in your SQL syntax"), std::string::npos);

    ds->SetDebug(2);
    EXPECT_LT(Sql(*ds, "SELECT * FROM nosuchdb.nosuch"), 0);
    EXPECT_EQ(ds->lastError.rfind("Error: ", 0), 0u) << ds->lastError;
    std::string before = ReadFile("mylog.log");
    EXPECT_EQ(before.find("nosuchdb"), std::string::npos); // mode 2 does not log
    EXPECT_EQ(Sql(*ds, "SELECT 1"), 0);
    EXPECT_EQ(ds->lastError.rfind("Error: ", 0), 0u); // success keeps the last failure
    ds.reset();
    EXPECT_NE(ReadFile("mylog.log").find("] End.\n"), std::string::npos);
}

TEST_F(MySqlTest, RefusedConnectAndBadUseStatementLeaveTheHandleFailed) {
    const MariaDbEnv& e = MariaDbEnv::Get();
    TagMySqlData bad("localhost", e.user.c_str(), "wrong password", "badlog");
    EXPECT_EQ(bad.status, -1);
    EXPECT_EQ(bad.lastError, "Open:Connect Err");
    EXPECT_NE(ReadFile("badlog.log").find("Failed to connect to database: Error: Access denied"), std::string::npos);
    EXPECT_EQ(Sql(bad, "SELECT 1"), -1);

    // The rest of a first "USE " statement is the database name, semicolon included.
    auto ds = Open("");
    Sql(*ds, "USE " + db + ";");
    EXPECT_EQ(ds->status, -1);
    EXPECT_EQ(Sql(*ds, "SELECT 1"), -1);
}

TEST_F(MySqlTest, OnlyTheFirstUseAndTheFirstLaterSetStatementAreKept) {
    auto ds = Open("");
    EXPECT_EQ(Sql(*ds, "set @a = 1"), 0);
    EXPECT_EQ(ds->SetStmt(), ""); // before any database statement
    EXPECT_EQ(Sql(*ds, "use " + db), 0);
    EXPECT_EQ(Sql(*ds, "SET @b = 2"), 0);
    EXPECT_EQ(Sql(*ds, "set @c = 3"), 0);
    EXPECT_EQ(Sql(*ds, "use mysql"), 0);
    EXPECT_EQ(ds->UseStmt(), "use " + db);
    EXPECT_EQ(ds->SetStmt(), "SET @b = 2");
    ASSERT_EQ(Sql(*ds, "SELECT DATABASE()"), 0);
    EXPECT_EQ(Cell(*ds, 0, 1), "mysql"); // the later statement still ran
}

TEST_F(MySqlTest, StoredProcedureResultsLeaveTheHandleReadyForTheNextStatement) {
    auto ds = Open("proc");
    ASSERT_EQ(Sql(*ds, "use " + db), 0);
    ASSERT_EQ(Sql(*ds, "CREATE PROCEDURE p(IN n INT) BEGIN SELECT n * 2 AS d; SELECT 'second'; END"), 0);
    ASSERT_EQ(Sql(*ds, "CREATE PROCEDURE q() BEGIN SELECT 1; SELECT * FROM nosuch; END"), 0);
    ASSERT_EQ(Sql(*ds, "CALL p(21)"), 0);
    EXPECT_EQ(ds->GetRows(), 1);
    EXPECT_EQ(Cell(*ds, 0, 1), "42"); // the first result is the one read
    ASSERT_EQ(Sql(*ds, "SELECT 7"), 0);
    EXPECT_EQ(Cell(*ds, 0, 1), "7");
    // A failing later result fails the call, and the handle still works.
    EXPECT_LT(Sql(*ds, "CALL q()"), 0);
    EXPECT_EQ(ds->GetRows(), 0);
    ASSERT_EQ(Sql(*ds, "CALL p(1)"), 0);
    EXPECT_EQ(Cell(*ds, 0, 1), "2");
    EXPECT_EQ(ReadFile("proc.log").find("out of sync"), std::string::npos);
}

TEST(MySqlLibrary, MissingLibraryFailsOnlyMySqlOpens) {
    TestDir dir("mysqllib");
    FreeMySqlLibrary();
    SetMySqlLibraryPath("/nonexistent/libmariadb.so.3");
    EXPECT_EQ(LoadMySqlLibrary(), -1);
    EXPECT_FALSE(MySqlLibraryLoaded());
    {
        TagMySqlData ds("localhost", "u", "p", "nolib");
        EXPECT_EQ(ds.status, -1);
        char sql[] = "SELECT 1";
        EXPECT_EQ(ds.Exec(sql), -1);
        EXPECT_EQ(ds.GetRows(), 0);
        char buf[kDbValueSize] = "untouched";
        EXPECT_EQ(ds.GetFieldName(0, buf), 0);
    }
    EXPECT_NE(ReadFile("nolib.log").find("] Load libmySQL.dll fail!\n"), std::string::npos);
    SetMySqlLibraryPath("");
    EXPECT_EQ(LoadMySqlLibrary(), 0);
}

TEST(MySqlText, CutAtLineEndStopsAtTheFirstLineBreak) {
    char a[] = "abc\r\ndef", b[] = "x\ny", c[] = "plain";
    CutAtLineEnd(a);
    CutAtLineEnd(b);
    CutAtLineEnd(c);
    EXPECT_STREQ(a, "abc");
    EXPECT_STREQ(b, "x");
    EXPECT_STREQ(c, "plain");
}

} // namespace
