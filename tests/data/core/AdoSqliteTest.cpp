#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "DataTestUtil.h"
#include "data/TagAdoData.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/Gbk.h"
#include "platform/TagRunCfg.h"

using namespace zz;
using zztest::DataDir;

namespace {

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

std::string PeerQuery(const std::string& db, const std::string& sql) {
    return zztest::RunCommand("/usr/bin/python3 -c \"import sqlite3,sys; "
                              "[print('|'.join('' if v is None else str(v) for v in r)) for r in "
                              "sqlite3.connect(sys.argv[1]).execute(sys.argv[2])]\" " +
                              db + " \"" + sql + "\"");
}

// "[YYYYMMDD hh:mm:ss.mmm] text"
bool StampedLine(const std::string& line, const std::string& text) {
    const std::string shape = "[99999999 99:99:99.999] ";
    if (line.size() != shape.size() + text.size() || line.compare(shape.size(), text.size(), text) != 0) return false;
    for (size_t i = 0; i < shape.size(); i++) {
        if (shape[i] == '9' ? !isdigit((unsigned char)line[i]) : line[i] != shape[i]) return false;
    }
    return true;
}

class AdoSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.File("log"));
        ado = std::make_unique<TagAdoData>(conn.c_str(), "test");
        ASSERT_EQ(ado->status, 0);
        ASSERT_EQ(Sql(*ado, "create table t(id integer, name varchar(20), note text, amount double, flag bit)"), 0);
        ASSERT_EQ(Sql(*ado, "insert into t values(1, '张三', 'first', 1.5, 1)"), 1);
        ASSERT_EQ(Sql(*ado, "insert into t values(2, 'bob', null, null, 0)"), 1);
        ASSERT_EQ(Sql(*ado, "insert into t values(3, '李四', '备注', -2, null)"), 1);
    }
    void TearDown() override {
        SetDbBitfieldIsDigit(false);
        SetDbMaxConn(0);
    }
    std::string Log() { return DataDir::Read(dir.File("log/sqlapp.log")); }

    DataDir dir{"ado"};
    std::string conn = zztest::SqliteConn(dir.File("t.db"));
    std::unique_ptr<TagAdoData> ado;
};

} // namespace

TEST_F(AdoSqlite, QueryGivesRowsColumnsNamesAndValues) {
    EXPECT_EQ(Sql(*ado, "  SELECT id, name, note, amount from t order by id\t"), 0);
    EXPECT_EQ(ado->GetRows(), 3);
    EXPECT_EQ(ado->GetCols(), 4);
    char buf[kDbValueSize];
    EXPECT_EQ(ado->GetFieldName(1, buf), 1);
    EXPECT_STREQ(buf, "name");
    EXPECT_EQ(ado->GetFieldName(4, buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ado->GetFieldIndex("NOTE"), 2);
    EXPECT_EQ(ado->GetFieldIndex("missing"), -2);
    // Rows in any order yield exactly those rows.
    EXPECT_EQ(Get(*ado, 1, 2), "bob");
    EXPECT_EQ(Get(*ado, 1, 1), "张三");
    EXPECT_EQ(Get(*ado, 2, 3), "备注");
    EXPECT_EQ(Get(*ado, 0, 3), "3");
    int rc = 0;
    EXPECT_EQ(Get(*ado, 2, 2, &rc), ""); // NULL
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(ado->GetVarByName(buf, "Name", 3), 1);
    EXPECT_STREQ(buf, "李四");
    EXPECT_EQ(ado->GetVarByName(buf, "nothing", 1), -1);
    EXPECT_EQ(ado->GetVar(buf, -1, 1), -1);
    EXPECT_EQ(ado->GetVar(buf, 4, 1), -1);
    EXPECT_EQ(ado->GetVar(buf, 0, 4), -2);
    EXPECT_STREQ(buf, "");
    // Values are never written through this back end.
    EXPECT_EQ(ado->SetVar("9", 0, 1), 0);
    EXPECT_EQ(ado->SetVarByName("9", "id", 1), 0);
    EXPECT_EQ(PeerQuery(dir.File("t.db"), "select id from t where id=1"), "1\n");
}

TEST_F(AdoSqlite, ExecuteReturnsAffectedRowsAndLeavesNoResult) {
    EXPECT_EQ(Sql(*ado, "update t set amount = 7"), 3);
    EXPECT_EQ(ado->GetRows(), 0);
    EXPECT_EQ(ado->GetCols(), 0);
    EXPECT_EQ(Sql(*ado, "delete from t where id = 99"), 0);
    EXPECT_EQ(Sql(*ado, "DELETE from t where id = 2"), 1);
    EXPECT_EQ(PeerQuery(dir.File("t.db"), "select count(*), sum(amount) from t"), "2|14.0\n");
}

TEST_F(AdoSqlite, GbkTextIsStoredAsTheDatabasesOwnText) {
    EXPECT_EQ(PeerQuery(dir.File("t.db"), "select name from t where id=1"), GbkToUtf8("张三") + "\n");
    zztest::RunCommand("/usr/bin/python3 -c \"import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); "
                       "c.execute('insert into t(id,name) values(4, ?)', (sys.argv[2],)); c.commit()\" " +
                       dir.File("t.db") + " " + GbkToUtf8("王五"));
    EXPECT_EQ(Sql(*ado, "select name from t where name = '王五'"), 0);
    EXPECT_EQ(ado->GetRows(), 1);
    EXPECT_EQ(Get(*ado, 0, 1), "王五");
    // A value longer than the buffer is cut without splitting a character.
    std::string big;
    for (int i = 0; i < 2100; i++)
        big += "汉";
    EXPECT_EQ(Sql(*ado, "insert into t(id, note) values(5, '" + big + "')"), 1);
    EXPECT_EQ(Sql(*ado, "select note from t where id = 5"), 0);
    std::string got = Get(*ado, 0, 1);
    EXPECT_EQ(got.size(), 4094u);
    EXPECT_TRUE(got == big.substr(0, 4094));
}

TEST_F(AdoSqlite, BitFieldsReadAsWordsOrDigits) {
    EXPECT_EQ(Sql(*ado, "select flag from t order by id"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), "True");
    EXPECT_EQ(Get(*ado, 0, 2), "False");
    SetDbBitfieldIsDigit(true);
    EXPECT_EQ(Get(*ado, 0, 1), "1");
    EXPECT_EQ(Get(*ado, 0, 2), "0");
}

TEST_F(AdoSqlite, FailuresAreLoggedOrKeptAndReadsRefuseUntilTheNextSuccess) {
    EXPECT_EQ(Sql(*ado, "select * from missing"), -3);
    EXPECT_EQ(ado->GetRows(), 0);
    EXPECT_EQ(ado->GetCols(), 0);
    char buf[kDbValueSize];
    EXPECT_EQ(ado->GetVar(buf, 0, 1), -1);
    std::string log = Log();
    EXPECT_NE(log.find("] select * from missing\n"), std::string::npos) << log;
    EXPECT_NE(log.find("no such table"), std::string::npos) << log;
    EXPECT_TRUE(StampedLine(log.substr(0, log.find('\n')), "Start.")) << log;

    ado->SetDebug(2);
    EXPECT_EQ(Sql(*ado, "select * from missing2"), -3);
    EXPECT_NE(ado->lastError.find("no such table"), std::string::npos);
    EXPECT_EQ(Log().find("missing2"), std::string::npos);
    EXPECT_EQ(Sql(*ado, "select id from t"), 0);
    EXPECT_EQ(ado->lastError, "");
    EXPECT_EQ(ado->GetRows(), 3);

    ado->SetDebug(1);
    EXPECT_EQ(Sql(*ado, "select name from t"), 0);
    EXPECT_NE(Log().find("] select name from t\n"), std::string::npos);
    // SQLite has no stored procedures: a call fails with the driver's message.
    EXPECT_EQ(Sql(*ado, "exec GetUser 'a', 1"), -3);
    EXPECT_EQ(ado->GetRows(), 0);
    ado.reset();
    EXPECT_NE(Log().find("] End.\n"), std::string::npos);
}

TEST_F(AdoSqlite, UnreachableSourceFailsTheOpen) {
    TagAdoData bad("DRIVER=/nonexistent/libnothing.so;Database=x", "");
    EXPECT_EQ(bad.status, -1);
    TagAdoData noDb(("DRIVER=" + std::string(zztest::kSqliteDriver) + ";Database=/nonexistent/dir/x.db").c_str(), "");
    EXPECT_LT(noDb.status, 0);
}

TEST_F(AdoSqlite, PooledResultsAreLocalCopiesWithTypedWidths) {
    SetDbMaxConn(2);
    TagDbConnectionsCtrl pool;
    TagLocalData ld(&pool, kDbTypeAdo, conn.c_str(), "", "", "pooled");
    ASSERT_EQ(ld.status, 0);
    std::string big(3000, 'z');
    EXPECT_EQ(Sql(ld, "update t set note = '" + big + "' where id = 2"), 0);
    EXPECT_EQ(Sql(ld, "select id, name, note, amount, flag from t order by id"), 3);
    EXPECT_EQ(ld.GetRows(), 3);
    ASSERT_EQ(ld.GetCols(), 5);
    int rc = 0;
    EXPECT_EQ(Get(ld, 0, 1, &rc), "1");
    EXPECT_EQ(rc, 12); // a 4-byte integer takes three characters a byte
    EXPECT_EQ(Get(ld, 1, 1, &rc), "张三");
    EXPECT_EQ(rc, 40); // twenty characters of up to two bytes each
    EXPECT_TRUE(Get(ld, 2, 2, &rc) == std::string(2048, 'z'));
    EXPECT_EQ(rc, 2048); // long text is cut at 2048
    EXPECT_EQ(Get(ld, 3, 2, &rc), "");
    EXPECT_EQ(rc, 54); // the driver's display size of a double
    EXPECT_EQ(Get(ld, 4, 1), "True");
    EXPECT_EQ(Get(ld, 4, 3), "");
    EXPECT_EQ(Get(ld, 0, 4, &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(Sql(ld, "select id from t where id > 100"), 0);
    EXPECT_EQ(ld.GetRows(), 0);
    ld.SetDebug(2);
    EXPECT_EQ(Sql(ld, "select * from missing"), -3);
    EXPECT_NE(ld.lastError.find("no such table"), std::string::npos);
}

TEST_F(AdoSqlite, PooledCellsAreWideEnoughForSixtyFourBitIntegers) {
    SetDbMaxConn(1);
    TagDbConnectionsCtrl pool;
    TagLocalData ld(&pool, kDbTypeAdo, conn.c_str(), "", "", "");
    ASSERT_EQ(Sql(ld, "create table big(n integer, r real)"), 0);
    ASSERT_EQ(Sql(ld, "insert into big values(1700000000123, -1.25e-300)"), 0);
    ASSERT_EQ(Sql(ld, "insert into big values(-9223372036854775807, 0)"), 0);
    ASSERT_EQ(Sql(ld, "select n, r from big"), 2);
    EXPECT_EQ(Get(ld, 0, 1), "1700000000123");
    EXPECT_EQ(Get(ld, 0, 2), "-9223372036854775807");
    EXPECT_EQ(Get(ld, 1, 1), "-1.25e-300");
}

TEST_F(AdoSqlite, ThirtyTwoLinesShareFourConnectionsWithoutMixingResults) {
    SetDbMaxConn(4);
    TagDbConnectionsCtrl pool;
    ASSERT_EQ(Sql(*ado, "create table lines(line integer, seq integer, val varchar(40))"), 0);
    constexpr int kLines = 32, kEach = 12;
    std::vector<std::unique_ptr<TagLocalData>> handles;
    for (int i = 0; i < kLines; i++)
        handles.push_back(std::make_unique<TagLocalData>(&pool, kDbTypeAdo, conn.c_str(), "", "", ""));
    EXPECT_EQ(pool.Connection(0)->BackEndCount(), 4);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kLines; t++) {
        threads.emplace_back([&, t] {
            TagLocalData& ld = *handles[size_t(t)];
            for (int i = 0; i < kEach; i++) {
                std::string val = "线路" + std::to_string(t) + "-" + std::to_string(i);
                if (Sql(ld, "insert into lines values(" + std::to_string(t) + ", " + std::to_string(i) + ", '" + val +
                                "')") != 0)
                    wrong++;
                if (Sql(ld, "select seq, val from lines where line = " + std::to_string(t) + " order by seq") !=
                        i + 1 ||
                    Get(ld, 1, i + 1) != val)
                    wrong++;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(Sql(*ado, "select count(*), count(distinct line * 100 + seq) from lines"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), std::to_string(kLines * kEach));
    EXPECT_EQ(Get(*ado, 1, 1), std::to_string(kLines * kEach));
}

TEST_F(AdoSqlite, OrdinaryFailuresKeepTheSessionAndAreNotRetried) {
    ASSERT_EQ(Sql(*ado, "create temp table work(v integer)"), 0);
    ASSERT_EQ(Sql(*ado, "insert into work values(5)"), 1);
    // "connections" and "locked" in the driver's text name no lost connection and no deadlock.
    EXPECT_EQ(Sql(*ado, "select * from connections"), -3);
    EXPECT_EQ(Sql(*ado, "select * from locked_rows"), -3);
    ASSERT_EQ(Sql(*ado, "select v from work"), 0);
    EXPECT_EQ(Get(*ado, 0, 1), "5"); // the temporary table of the session is still there
    std::string log = Log();
    EXPECT_EQ(log.find("重连"), std::string::npos) << log;
    size_t first = log.find("] select * from connections\n");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("] select * from connections\n", first + 1), std::string::npos) << log;
}

TEST_F(AdoSqlite, LockedDatabaseFailsOnceWithoutReconnecting) {
    // Another program holds the database's write lock until a line comes through its pipe.
    std::string fifo = dir.File("release.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string cmd = "/usr/bin/python3 -c \"import sqlite3,sys; c=sqlite3.connect(sys.argv[1], "
                      "isolation_level=None); c.execute('begin exclusive'); print('locked', flush=True); "
                      "open(sys.argv[2]).read()\" " +
                      dir.File("t.db") + " " + fifo;
    FILE* holder = popen(cmd.c_str(), "r");
    ASSERT_NE(holder, nullptr);
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, holder), nullptr);
    TagAdoData quick(
        (std::string("DRIVER=") + zztest::kSqliteDriver + ";Database=" + dir.File("t.db") + ";Timeout=1").c_str(), "");
    ASSERT_EQ(quick.status, 0);
    EXPECT_EQ(Sql(quick, "insert into t(id) values(9)"), -3);
    std::ofstream(fifo) << "go\n";
    pclose(holder);
    std::string log = Log();
    size_t first = log.find("] insert into t(id) values(9)\n");
    ASSERT_NE(first, std::string::npos) << log;
    // SQLite's "database is locked" is neither a deadlock ("Lock", SQLSTATE 40001) nor a lost connection.
    EXPECT_EQ(log.find("] insert into t(id) values(9)\n", first + 1), std::string::npos) << log;
    EXPECT_EQ(log.find("重连"), std::string::npos);
    EXPECT_EQ(Sql(quick, "insert into t(id) values(9)"), 1); // the lock is gone
}
