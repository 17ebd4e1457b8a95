// The Tqr back end against the stand-in of the company's library built beside this test.
#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <vector>

#include "data/DbCallBound.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "data/TagTqrDbData.h"
#include "platform/WakeEvent.h"
#include "tests/data/servers/ServerEnv.h"
#include "tests/support/TestDir.h"

using namespace zz;
using namespace zz::test;

namespace {

struct Fake {
    void* h = nullptr;
    template <typename Fn> Fn Get(const char* name) const { return reinterpret_cast<Fn>(::dlsym(h, name)); }
    void Reset() const { Get<void (*)()>("fake_tqr_reset")(); }
    void FailExec(int n) const { Get<void (*)(int)>("fake_tqr_fail_exec")(n); }
    void OpenFails(int n) const { Get<void (*)(int)>("fake_tqr_open_fails")(n); }
    void WaitStalled(int n) const { Get<void (*)(int)>("fake_tqr_wait_stalled")(n); }
    void Answer() const { Get<void (*)()>("fake_tqr_answer")(); }
    int Count(const char* what) const { return Get<int (*)()>(what)(); }
    std::string Text(const char* what) const { return Get<const char* (*)()>(what)(); }
    void Add(const char* sql, int ncols, const char* const* names, const int32_t* widths, int nrows,
             const char* const* cells) const {
        Get<void (*)(const char*, int, const char* const*, const int32_t*, int, const char* const*)>(
            "fake_tqr_add_result")(sql, ncols, names, widths, nrows, cells);
    }
};

class TqrTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTqrDbLibraryPath(ZZ_FAKE_TQRDB);
        ASSERT_EQ(LoadTqrDbLibrary(), 0);
        fake.h = ::dlopen(ZZ_FAKE_TQRDB, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(fake.h, nullptr);
        fake.Reset();
        const char* names[] = {"id", "名称", "memo"};
        const int32_t widths[] = {4, 8, 6000};
        const char* cells[] = {"1", "中文", "x", "2", "abcdefghijk", big.c_str()};
        fake.Add("select * from t", 3, names, widths, 2, cells);
    }
    void TearDown() override {
        if (fake.h) ::dlclose(fake.h);
    }

    TestDir dir{"tqr"};
    Fake fake;
    std::string big = std::string(5000, 'z');
};

TEST(TqrHost, FirstOperandSplitsAtTheFirstColon) {
    std::string host;
    int32_t port = 0;
    TagTqrDbData::SplitHostPort("db1", host, port);
    EXPECT_EQ(host, "db1");
    EXPECT_EQ(port, 2013);
    TagTqrDbData::SplitHostPort("10.0.0.5:3306", host, port);
    EXPECT_EQ(host, "10.0.0.5");
    EXPECT_EQ(port, 3306);
}

TEST_F(TqrTest, ReadsEverythingThroughTheLibrary) {
    TagTqrDbData ds("db1", 2013, "u", "p", "");
    ASSERT_EQ(ds.status, 0);
    EXPECT_EQ(fake.Text("fake_tqr_last_host"), "db1");
    EXPECT_EQ(fake.Count("fake_tqr_last_port"), 2013);
    EXPECT_EQ(fake.Text("fake_tqr_last_db"), "(none)");

    EXPECT_EQ(Sql(ds, "select * from t"), 2);
    EXPECT_EQ(ds.GetRows(), 2);
    EXPECT_EQ(ds.GetCols(), 3);
    char buf[kDbValueSize];
    EXPECT_EQ(ds.GetFieldName(1, buf), 1);
    EXPECT_STREQ(buf, "名称");
    EXPECT_LT(ds.GetFieldName(3, buf), 0);
    EXPECT_EQ(ds.GetFieldIndex("memo"), 2);
    EXPECT_LT(ds.GetFieldIndex("nosuch"), 0);

    EXPECT_GE(ds.GetVar(buf, 1, 1), 0);
    EXPECT_STREQ(buf, "中文");
    EXPECT_EQ(fake.Count("fake_tqr_last_goto"), 1); // rows go to the library as given
    EXPECT_GE(ds.GetVarByName(buf, "名称", 2), 0);
    EXPECT_STREQ(buf, "abcdefghijk");
    // The buffer's size goes with it: a longer value is cut, never overruns.
    EXPECT_EQ(Cell(ds, 2, 2), std::string(kDbValueSize - 1, 'z'));
    EXPECT_EQ(ds.GetVar(buf, 0, 0), -2);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ds.GetVar(buf, 0, 3), -2);
    EXPECT_EQ(ds.SetVarByName("1", "id", 1), 0);

    // Every read goes to the library: a new statement replaces what the handle shows.
    EXPECT_EQ(Sql(ds, "delete from t"), 0);
    EXPECT_EQ(ds.GetRows(), 0);
}

TEST_F(TqrTest, ServerThatStopsAnsweringFailsAtTheBoundOrAtOnceOnAQuit) {
    SetDbBounds(200, 200);
    {
        TagTqrDbData silent("stall", 2013, "u", "p", "tqrstall");
        EXPECT_EQ(silent.status, -1);
        EXPECT_EQ(silent.lastError, "Open:Connect Err");

        TagTqrDbData ds("db1", 2013, "u", "p", "tqrstall");
        ASSERT_EQ(ds.status, 0);
        EXPECT_EQ(Sql(ds, "stall"), -1);
        fake.Answer();                            // the given-up calls return and close their handles
        EXPECT_EQ(Sql(ds, "select * from t"), 2); // on a new connection
        fake.Reset();

        // Only the quit can end this one.
        SetDbBounds(3600000, 3600000);
        EXPECT_EQ(QuitWhileBlocked([&] { return Sql(ds, "stall"); }, [&] { fake.WaitStalled(1); }), -1);
        fake.Answer();
        EXPECT_TRUE(WaitDbCallsEnded(60000));
    }
    SetDbBounds(0, 0);
    EXPECT_EQ(fake.Count("fake_tqr_live"), 0); // nothing leaked
    std::string log = ReadFile("tqrstall.log");
    EXPECT_NE(log.find("] Failed to connect to database: Error: stall:2013, no answer within 200 ms\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] Error: no answer within 200 ms\n"), std::string::npos);
    EXPECT_NE(log.find("] Error: the wait was ended by a quit or reload\n"), std::string::npos);
}

TEST_F(TqrTest, FailureInTheLibraryReconnectsAndRetriesOnce) {
    {
        TagTqrDbData ds("db1", 2013, "u", "p", "tqr");
        int opens = fake.Count("fake_tqr_opens");
        fake.FailExec(1);
        EXPECT_EQ(Sql(ds, "select * from t"), 2);
        EXPECT_EQ(fake.Text("fake_tqr_last_db"), ""); // reopened with the empty database name

        fake.FailExec(2);
        EXPECT_EQ(Sql(ds, "select * from t"), -1);
        EXPECT_EQ(fake.Count("fake_tqr_opens"), opens + 3);
        EXPECT_EQ(fake.Count("fake_tqr_execs"), 4);
        EXPECT_EQ(ds.status, 0);
    }
    std::string log = ReadFile("tqr.log");
    EXPECT_NE(log.find("] Start.\n"), std::string::npos);
    EXPECT_NE(log.find("] TqrDbExec[select * from t]: ret=-1, retCode=0\n"), std::string::npos);
    EXPECT_NE(log.find("] Error: connection to db1 lost\n"), std::string::npos);
    EXPECT_NE(log.find("] Reconnecting...\n"), std::string::npos);
    EXPECT_NE(log.find("] Open() is 0.\n"), std::string::npos);
    EXPECT_NE(log.find("] End.\n"), std::string::npos);
    EXPECT_EQ(fake.Count("fake_tqr_live"), 0);
}

TEST_F(TqrTest, NegativeReturnCodeIsReportedWithoutRetry) {
    TagTqrDbData ds("db1", 2013, "u", "p", "tqr");
    ds.SetDebug(2);
    EXPECT_EQ(Sql(ds, "bad statement"), 0);
    EXPECT_EQ(ds.RetCode(), -5);
    EXPECT_EQ(ds.lastError, "Error: syntax error near 'bad statement'");
    EXPECT_EQ(fake.Count("fake_tqr_execs"), 1);
    std::string log = ReadFile("tqr.log");
    EXPECT_NE(log.find("TqrDbExec[bad statement]: ret=0, retCode=-5"), std::string::npos);
    EXPECT_EQ(log.find("] Error: "), std::string::npos); // mode 2 keeps the message out of the log
    EXPECT_EQ(Sql(ds, "select * from t"), 2);
    EXPECT_EQ(ds.lastError, "Error: syntax error near 'bad statement'");
}

TEST_F(TqrTest, FailedConnectsLeaveTheHandleFailedForGood) {
    TagTqrDbData refused("db2", 7000, "u", "bad", "refused");
    EXPECT_EQ(refused.status, -1);
    EXPECT_EQ(refused.lastError, "Open:Connect Err");
    EXPECT_NE(ReadFile("refused.log").find("Failed to connect to database: Error: db2:7000\n"), std::string::npos);

    TagTqrDbData ds("db1", 2013, "u", "p", "");
    fake.FailExec(1);
    fake.OpenFails(1);
    EXPECT_EQ(Sql(ds, "select * from t"), -1);
    EXPECT_EQ(ds.status, -1);
    int execs = fake.Count("fake_tqr_execs");
    EXPECT_EQ(Sql(ds, "select * from t"), -1);
    EXPECT_EQ(fake.Count("fake_tqr_execs"), execs); // the library is not called again
    EXPECT_EQ(ds.GetRows(), 0);
    char buf[kDbValueSize];
    EXPECT_EQ(ds.GetVar(buf, 0, 1), -1);
}

TEST_F(TqrTest, LocalCopyHoldsEveryCellWithinItsWidth) {
    TagTqrDbData ds("db1", 2013, "u", "p", "");
    TagDbConnectionsCtrl pool;
    TagLocalData local(&pool, kDbTypeTqr, "db1", "u", "p", ""); // type 7 is never pooled: only the copy is used
    std::string sql = "select * from t";
    ASSERT_EQ(ds.ExecToLocal(sql.data(), &local), 2);
    ASSERT_EQ(local.GetCols(), 3);
    EXPECT_EQ(Cell(local, 1, 1), "中文");
    EXPECT_EQ(Cell(local, 1, 2), "abcdefgh"); // width 8
    EXPECT_EQ(Cell(local, 0, 2), "2");
    EXPECT_EQ(Cell(local, 2, 2).size(), 2499u); // the copy's value buffer is 2500 bytes
    sql = "delete from t";
    EXPECT_EQ(ds.ExecToLocal(sql.data(), &local), 0);
    EXPECT_EQ(local.GetRows(), 0);
    fake.FailExec(2);
    ds.SetDebug(2);
    sql = "select * from t";
    EXPECT_EQ(ds.ExecToLocal(sql.data(), &local), -1);
    EXPECT_EQ(local.lastError, "Error: connection to db1 lost");
}

TEST_F(TqrTest, LinesUseTheirOwnHandlesAtTheSameTime) {
    std::vector<std::thread> threads;
    std::vector<int> bad(8, 0);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            TagTqrDbData ds("db1", 2013, "u", "p", "");
            for (int k = 0; k < 200; ++k) {
                if (Sql(ds, "select * from t") != 2 || Cell(ds, 1, 2) != "abcdefghijk") bad[size_t(i)]++;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int b : bad)
        EXPECT_EQ(b, 0);
}

TEST(TqrLibrary, MissingOrBrokenLibraryFailsOnlyTqrOpens) {
    TestDir dir("tqrlib");
    FreeTqrDbLibrary();
    SetTqrDbLibraryPath("/nonexistent/libTqrDbApi.so");
    EXPECT_EQ(LoadTqrDbLibrary(), -1);
    {
        TagTqrDbData ds("db1", 2013, "u", "p", "nolib");
        EXPECT_EQ(ds.status, -1);
        EXPECT_EQ(Sql(ds, "select 1"), -1);
    }
    EXPECT_NE(ReadFile("nolib.log").find("] Load TqrDbApi.dll fail!\n"), std::string::npos);
    SetTqrDbLibraryPath(ZZ_FAKE_SYBDB); // a library without TqrDbInit
    EXPECT_EQ(LoadTqrDbLibrary(), -2);
    EXPECT_FALSE(TqrDbLibraryLoaded());
    SetTqrDbLibraryPath(ZZ_FAKE_TQRDB);
    ::setenv("FAKE_TQR_INIT_FAIL", "1", 1);
    EXPECT_EQ(LoadTqrDbLibrary(), -3);
    ::unsetenv("FAKE_TQR_INIT_FAIL");
    EXPECT_EQ(LoadTqrDbLibrary(), 0);
    EXPECT_NE(GetTqrDbProc("TqrDbNext"), nullptr);
    EXPECT_EQ(GetTqrDbProc("NoSuchFunction"), nullptr);
}

} // namespace
