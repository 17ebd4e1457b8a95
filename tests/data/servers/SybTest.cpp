// The DB-Library back end against the stand-in library built beside this test (there is no SQL Server here).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <sybdb.h>
#include <sybfront.h>

#include "data/DbCallBound.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "data/TagSybData.h"
#include "platform/TagRunCfg.h"
#include "platform/WakeEvent.h"
#include "tests/data/servers/ServerEnv.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::test;

namespace {

struct Fake {
    void (*reset)();
    void (*addResult)(const char*, int, const char* const*, const int*, const int*, int, const char* const*);
    void (*killAll)();
    void (*breakAll)();
    void (*openFails)(int);
    int (*sent)(const char*);
    int (*opens)();
    int (*inits)();
    const char* (*charset)();
    void (*waitStalled)(int);
    void (*answer)();
    int (*loginTime)();
    int (*queryTime)();
};

const Fake& GetFake() {
    static Fake f = [] {
        Fake x{};
        void* h = ::dlopen(ZZ_FAKE_SYBDB, RTLD_NOW | RTLD_NOLOAD);
        if (!h) return x;
        x.reset = reinterpret_cast<void (*)()>(::dlsym(h, "fake_syb_reset"));
        x.addResult = reinterpret_cast<decltype(x.addResult)>(::dlsym(h, "fake_syb_add_result"));
        x.killAll = reinterpret_cast<void (*)()>(::dlsym(h, "fake_syb_kill_all"));
        x.breakAll = reinterpret_cast<void (*)()>(::dlsym(h, "fake_syb_break_all"));
        x.openFails = reinterpret_cast<void (*)(int)>(::dlsym(h, "fake_syb_open_fails"));
        x.sent = reinterpret_cast<int (*)(const char*)>(::dlsym(h, "fake_syb_sent"));
        x.opens = reinterpret_cast<int (*)()>(::dlsym(h, "fake_syb_opens"));
        x.inits = reinterpret_cast<int (*)()>(::dlsym(h, "fake_syb_inits"));
        x.charset = reinterpret_cast<const char* (*)()>(::dlsym(h, "fake_syb_charset"));
        x.waitStalled = reinterpret_cast<void (*)(int)>(::dlsym(h, "fake_syb_wait_stalled"));
        x.answer = reinterpret_cast<void (*)()>(::dlsym(h, "fake_syb_answer"));
        x.loginTime = reinterpret_cast<int (*)()>(::dlsym(h, "fake_syb_login_time"));
        x.queryTime = reinterpret_cast<int (*)()>(::dlsym(h, "fake_syb_query_time"));
        ::dlclose(h);
        return x;
    }();
    return f;
}

const std::string k55(55, 'N');

class SybTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDbLibraryPath(ZZ_FAKE_SYBDB);
        ASSERT_EQ(LoadDbLibrary(), 0);
        ASSERT_NE(GetFake().reset, nullptr);
        GetFake().reset();
        const char* names[] = {"id", "Name", "img", "price", "stamp", k55.c_str()};
        const int types[] = {SYBINT4, SYBVARCHAR, SYBIMAGE, SYBDECIMAL, SYBDATETIME4, SYBCHAR};
        const int lens[] = {4, 1000, 1500, 17, 4, 10};
        std::string longText(1000, 'a');
        const char* cells[] = {"1",
                               "中文",
                               "0A0B",
                               "12345678901234567890.123456",
                               "2024-01-02 03:04:00",
                               "x",
                               "22",
                               longText.c_str(),
                               "",
                               "-1.5",
                               "1900-01-01 00:00:00",
                               ""};
        GetFake().addResult("select * from t", 6, names, types, lens, 2, cells);
        const char* n1[] = {"v"};
        const int t1[] = {SYBINT4}, l1[] = {4};
        const char* c1[] = {"7"};
        GetFake().addResult("select 7; update u set a=1", 1, n1, t1, l1, 1, c1);
        GetFake().addResult("select 7; update u set a=1", 0, nullptr, nullptr, nullptr, 0, nullptr);
        GetFake().addResult("select 7", 1, n1, t1, l1, 1, c1);
    }

    TestDir dir{"syb"};
};

std::string Trimmed(std::string s) {
    return s.erase(s.find_last_not_of(' ') + 1);
}

TEST_F(SybTest, FetchesWholeResultsAsFixedWidthText) {
    TagSybData ds("srv", "sa", "pw", "app");
    ASSERT_EQ(ds.status, 0);
    EXPECT_STREQ(GetFake().charset(), "GBK");
    EXPECT_EQ(Sql(ds, "select * from t"), 2);
    EXPECT_EQ(ds.GetRows(), 2);
    EXPECT_EQ(ds.GetCols(), 6);
    char buf[kDbValueSize];
    EXPECT_EQ(ds.GetFieldName(5, buf), 5);
    EXPECT_EQ(std::string(buf), k55); // 55 characters kept whole
    std::strcpy(buf, "untouched");
    EXPECT_EQ(ds.GetFieldName(6, buf), -2);
    EXPECT_STREQ(buf, "untouched");
    EXPECT_EQ(ds.GetFieldIndex("NAME"), 1);
    EXPECT_EQ(ds.GetFieldIndex("nosuch"), -2);

    // Cells are the bound text, blank-padded to the column width.
    EXPECT_EQ(ds.GetVar(buf, 0, 1), 1);
    EXPECT_EQ(std::string(buf), "1" + std::string(10, ' '));
    EXPECT_EQ(Trimmed(Cell(ds, 1, 1)), "中文");
    EXPECT_EQ(Cell(ds, 1, 2), std::string(256, 'a')); // varchar(1000) cut to 256
    EXPECT_EQ(Cell(ds, 2, 1).size(), 2047u);          // image: twice 1500, capped at the binding length
    // Types the width table lacks keep their whole text.
    EXPECT_EQ(Trimmed(Cell(ds, 3, 1)), "12345678901234567890.123456");
    EXPECT_EQ(Trimmed(Cell(ds, 4, 1)), "2024-01-02 03:04:00");
    EXPECT_EQ(ds.GetVarByName(buf, "name", 2), 1);
    EXPECT_EQ(ds.GetVarByName(buf, "nosuch", 1), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ds.GetVar(buf, 0, 0), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ds.GetVar(buf, 0, 3), 0);
    EXPECT_EQ(ds.GetVar(buf, 6, 1), 0);
    EXPECT_EQ(ds.SetVar("x", 0, 1), 0);

    // The last result set of a batch stays current, even one without columns.
    EXPECT_EQ(Sql(ds, "select 7; update u set a=1"), 0);
    EXPECT_EQ(ds.GetCols(), 0);
    EXPECT_EQ(Cell(ds, 0, 1), "");
}

TEST_F(SybTest, ServerThatStopsAnsweringFailsAtTheBoundOrAtOnceOnAQuit) {
    const Fake& f = GetFake();
    SetDbBounds(200, 200);
    {
        TagSybData silent("stall", "sa", "pw", "sybstall");
        EXPECT_EQ(silent.status, -1);
        // The library's own time-outs lie behind the bounds, for the calls given up.
        EXPECT_GT(f.loginTime(), 0);
        EXPECT_GT(f.queryTime(), 0);

        TagSybData ds("srv", "sa", "pw", "sybstall");
        ASSERT_EQ(ds.status, 0);
        EXPECT_EQ(Sql(ds, "stall"), -1);
        f.answer();                        // the given-up calls return and close their connections
        EXPECT_EQ(Sql(ds, "select 7"), 1); // on a new connection
        f.reset();

        // Only the quit can end this one.
        SetDbBounds(3600000, 3600000);
        EXPECT_EQ(QuitWhileBlocked([&] { return Sql(ds, "stall"); }, [&] { f.waitStalled(1); }), -1);
        f.answer();
        EXPECT_TRUE(WaitDbCallsEnded(60000));
    }
    SetDbBounds(0, 0);
    std::string log = ReadFile("sybstall.log");
    EXPECT_NE(log.find("] 'stall' Err! no answer in time\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] KvAppServer Closed.\n"), std::string::npos) << log; // every connection went
}

TEST_F(SybTest, WidthTableCoversTextWidthsAndCapsAtTheBindingLength) {
    EXPECT_EQ(SybColumnWidth(SYBCHAR, 10), 256);
    EXPECT_EQ(SybColumnWidth(SYBINT1, 1), 3);
    EXPECT_EQ(SybColumnWidth(SYBINT2, 2), 6);
    EXPECT_EQ(SybColumnWidth(SYBINT4, 4), 11);
    EXPECT_EQ(SybColumnWidth(SYBMONEY, 8), 26);
    EXPECT_EQ(SybColumnWidth(SYBDATETIME, 8), 27);
    EXPECT_EQ(SybColumnWidth(SYBFLT8, 8), 20);
    EXPECT_EQ(SybColumnWidth(SYBBINARY, 16), 32);
    EXPECT_EQ(SybColumnWidth(SYBTEXT, 0x7fffffff), 2048);
    EXPECT_EQ(SybColumnWidth(SYBINT8, 8), 20);
    EXPECT_EQ(SybColumnWidth(SYBREAL, 4), 20);
    EXPECT_EQ(SybColumnWidth(SYBNUMERIC, 17), 41);
    EXPECT_EQ(SybColumnWidth(SYBMONEY4, 4), 26);
    EXPECT_EQ(SybColumnWidth(SYBINTN, 8), 20);
    EXPECT_EQ(SybColumnWidth(SYBNVARCHAR, -1), 0);
}

TEST_F(SybTest, DeadConnectionReopensAndSelectsTheFirstDatabaseAgain) {
    {
        TagSybData ds("srv", "sa", "pw", "app");
        ds.SetDebug(1);
        EXPECT_EQ(Sql(ds, "USE shop"), 0);
        EXPECT_EQ(Sql(ds, "use other"), 0);
        EXPECT_EQ(ds.Connection()->useStmt, "USE shop");
        GetFake().killAll();
        EXPECT_EQ(Sql(ds, "select 7"), 1);
        EXPECT_EQ(Trimmed(Cell(ds, 0, 1)), "7");
        EXPECT_EQ(GetFake().sent("USE shop"), 2);

        // A failed reopen fails that statement; the next one tries again.
        GetFake().killAll();
        GetFake().openFails(1);
        EXPECT_EQ(Sql(ds, "select 7"), -1);
        EXPECT_EQ(Sql(ds, "select 7"), 1);
        EXPECT_EQ(GetFake().sent("USE shop"), 3);
        EXPECT_EQ(GetFake().sent("select 7"), 2);

        // A connection lost unnoticed fails its send, is reopened and the statement is sent again.
        GetFake().breakAll();
        EXPECT_EQ(Sql(ds, "select 7"), 1);
        EXPECT_EQ(GetFake().sent("USE shop"), 4);
        EXPECT_EQ(GetFake().sent("select 7"), 3);
    }
    std::string log = ReadFile("app.log");
    EXPECT_NE(log.find("] KvAppServer Started.\n"), std::string::npos);
    EXPECT_NE(log.find("Start SqlServer[1] ...\n"), std::string::npos);
    EXPECT_NE(log.find("] --> [USE shop]\n"), std::string::npos);
    EXPECT_NE(log.find("] DB-Connection status : DEAD!\n"), std::string::npos);
    EXPECT_NE(log.find("Err: [select 7]\n"), std::string::npos);
    EXPECT_NE(log.find("] ReConnect OK\n"), std::string::npos);
    EXPECT_NE(log.find("] ReConnect Failed\n"), std::string::npos);
    EXPECT_NE(log.find("] KvAppServer Closed.\n"), std::string::npos);
}

TEST_F(SybTest, FailuresAndServerMessagesGoToTheSharedLog) {
    {
        TagSybData first("srv", "sa", "pw", "app");
        TagSybData second("srv", "sa", "pw", "other");
        TagSybData refused("srv", "sa", "bad", "app");
        EXPECT_EQ(refused.status, -1);
        EXPECT_EQ(Sql(refused, "select 7"), -1);
        EXPECT_EQ(refused.GetRows(), -1);
        EXPECT_EQ(refused.GetFieldIndex("v"), -1);

        EXPECT_EQ(Sql(first, "fail now"), -2);
        second.SetDebug(1);
        EXPECT_EQ(Sql(second, "fail again"), -2);
        EXPECT_EQ(Sql(second, "raise"), 0);
    }
    EXPECT_FALSE(std::filesystem::exists("other.log"));
    std::string log = ReadFile("app.log");
    EXPECT_NE(log.find("Start SqlServer[2] ...\n"), std::string::npos);
    EXPECT_NE(log.find("] 'fail now' Err!\n"), std::string::npos);
    EXPECT_NE(log.find("] _dbresults Err!\n"), std::string::npos);
    EXPECT_NE(log.find("] Msg 2627, Level 14, State 1 : Server 'FAKESRV', Procedure 'p_add', Line 3\n"
                       "\tViolation of PRIMARY KEY constraint\n\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] DB-Library error:\n\tData conversion resulted in overflow\nOperating-system error:\n"
                       "\tno space\n"),
              std::string::npos);
}

TEST_F(SybTest, PooledResultIsTheSameBlockOfRows) {
    SetDbMaxConn(2);
    {
        TagDbConnectionsCtrl pool;
        TagLocalData local(&pool, kDbTypeSyb, "srv", "sa", "pw", "app");
        ASSERT_EQ(local.status, 0);
        std::string sql = "select * from t";
        ASSERT_EQ(local.Exec(sql.data()), 2);
        TagSybData direct("srv", "sa", "pw", "app");
        ASSERT_EQ(Sql(direct, "select * from t"), 2);
        ASSERT_EQ(local.GetCols(), 6);
        for (int row = 1; row <= 2; ++row)
            for (int col = 0; col < 6; ++col)
                EXPECT_EQ(Cell(local, col, row), Cell(direct, col, row)) << col;
        sql = "fail x";
        EXPECT_EQ(local.Exec(sql.data()), -2);
        EXPECT_EQ(local.GetRows(), 0);
        sql = "select 7; update u set a=1";
        EXPECT_EQ(local.Exec(sql.data()), 0);
        local.Close();
    }
    SetDbMaxConn(0);
}

TEST(SybLibrary, MissingLibraryFailsOnlyDbLibraryOpens) {
    TestDir dir("syblib");
    FreeDbLibrary();
    SetDbLibraryPath("/nonexistent/libsybdb.so.5");
    EXPECT_EQ(LoadDbLibrary(), -1);
    {
        TagSybData ds("srv", "sa", "pw", "nolib");
        EXPECT_EQ(ds.status, -2);
        EXPECT_EQ(Sql(ds, "select 1"), -1);
    }
    std::string log = ReadFile("nolib.log");
    EXPECT_NE(log.find("] Load ntwdblib.dll fail, Must install SQL Server client-tools first.\n"), std::string::npos);
    SetDbLibraryPath(ZZ_FAKE_SYBDB);
    EXPECT_EQ(LoadDbLibrary(), 0);
    int inits = GetFake().inits();
    {
        TagSybData a("srv", "sa", "pw", ""), b("srv", "sa", "pw", "");
        EXPECT_EQ(LoadDbLibrary(), 0);
    }
    EXPECT_EQ(GetFake().inits(), inits); // started once at loading, not per connection
}

} // namespace

namespace {

// FreeTDS itself: it loads, and a server that cannot be reached fails the open without ending the process.
TEST(SybFreeTds, RealLibraryFailsAnUnreachableServerGracefully) {
    TestDir dir("freetds");
    FreeDbLibrary();
    SetDbLibraryPath("libsybdb.so.5");
    if (LoadDbLibrary() != 0) {
        SetDbLibraryPath(ZZ_FAKE_SYBDB);
        GTEST_SKIP() << "FreeTDS (libsybdb.so.5) is not installed";
    }
    {
        TagSybData ds("127.0.0.1:1", "sa", "pw", "real");
        EXPECT_EQ(ds.status, -1);
        EXPECT_EQ(Sql(ds, "select 1"), -1);
    }
    std::string log = ReadFile("real.log");
    EXPECT_NE(log.find("] DB-Connection status : DEAD!\n"), std::string::npos) << log; // no connection yet
    EXPECT_NE(log.find("] KvAppServer Closed.\n"), std::string::npos);
    FreeDbLibrary();
    SetDbLibraryPath(ZZ_FAKE_SYBDB);
}

} // namespace
