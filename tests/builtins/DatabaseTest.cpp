// Database builtins where a script cannot see the rule: the table's limit, the pool's refusals and the run-log
// lines of refused handles. Statements against real databases run as script cases (scripts/db_*).
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BuiltinCall.h"
#include "LineFixture.h"
#include "builtins/DbState.h"
#include "data/DbCallBound.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "tests/support/StubDataSet.h"

namespace zz {
namespace {

enum : int32_t { kDbOpen = 57, kDbExec = 58, kDbClose = 62, kDbCloseAll = 63 };

// A pooled back end that answers every statement with no rows.
class EmptySet : public test::StubDataSet {
public:
    int ExecToLocal(char*, TagLocalData* dst) override { return dst->ClearResult(), 0; }
};

// A server that takes the statement "stall" and answers it only when the test lets it.
struct StalledServer {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, answer = false;
};
std::shared_ptr<StalledServer> g_server;

class StallingSet : public test::StubDataSet {
public:
    int ExecToLocal(char* sql, TagLocalData* dst) override {
        dst->ClearResult();
        if (std::string(sql) != "stall") return 0;
        DbCall call;
        call.backEnd = "Test";
        call.server = "stalled";
        call.what = "statement";
        call.run = [s = g_server] {
            std::unique_lock<std::mutex> lk(s->m);
            s->entered = true;
            s->cv.notify_all();
            s->cv.wait(lk, [&] { return s->answer; });
        };
        return RunDbCall(3600000, std::move(call)) == DbCallEnd::kDone ? 0 : -1;
    }
};

class DbBuiltins : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = SetPoolBackEndMaker(kDbTypeMySql, [](const char*, const char*, const char*, const char*) {
            return std::unique_ptr<TagDataSet>(std::make_unique<EmptySet>());
        });
        SetDbMaxConn(1);
        SetMessageSink(
            [this](const std::string& text, const std::string& caption) { boxes.push_back(caption + ": " + text); });
        SetMessageStderr(false);
        type.SetInt(kDbTypeMySql);
        text.SetStr("h");
        handle.SetInt(-9);
    }
    void TearDown() override {
        test::RunBuiltin(kDbCloseAll, &line.main, {});
        SetMessageSink(nullptr);
        SetMessageStderr(true);
        SetDbMaxConn(0);
        SetPoolBackEndMaker(kDbTypeMySql, before_);
    }
    int32_t Open() { return test::RunBuiltin(kDbOpen, &line.main, {&type, &text, &text, &text, &text, &handle}); }

    test::RunLogCapture log{"dbbuiltins"};
    test::LineFixture line;
    TagVar type, text, handle;
    std::vector<std::string> boxes;
    TagBackEndMaker before_ = nullptr;
};

TEST_F(DbBuiltins, ALineHoldsAtMost1023DataSets) {
    for (int32_t i = 0; i < 1023; ++i)
        ASSERT_EQ(Open(), i);
    EXPECT_TRUE(boxes.empty());
    handle.SetInt(-9);
    EXPECT_EQ(Open(), -1);
    EXPECT_EQ(handle.GetInt(), -9); // not written
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "运行错误: 打开的数据库太多");
    TagVar h;
    h.SetInt(500);
    EXPECT_EQ(test::RunBuiltin(kDbClose, &line.main, {&h}), 0);
    EXPECT_EQ(Open(), 500); // the lowest free slot
}

TEST_F(DbBuiltins, PoolingRefusesTheTypesThePoolDoesNotTakeWithoutABox) {
    for (int32_t t : {int32_t(kDbTypeTqr), 3}) {
        type.SetInt(t);
        handle.SetInt(-9);
        EXPECT_EQ(Open(), -2);
        EXPECT_EQ(handle.GetInt(), -2);
    }
    EXPECT_TRUE(boxes.empty());
    SetDbMaxConn(0);
    type.SetInt(3);
    EXPECT_EQ(Open(), -2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Runtime Error: Invalid data type");
}

TEST_F(DbBuiltins, RefusedHandlesAreLoggedWithTheOpenCount) {
    ASSERT_EQ(Open(), 0);
    ASSERT_EQ(Open(), 1);
    TagVar h, sql;
    sql.SetStr("select 1");
    h.SetInt(0);
    EXPECT_EQ(test::RunBuiltin(kDbClose, &line.main, {&h}), 0);
    EXPECT_EQ(test::RunBuiltin(kDbExec, &line.main, {&h, &sql}), -2);
    h.SetInt(1); // open, though not below the count of open data sets
    EXPECT_EQ(test::RunBuiltin(kDbExec, &line.main, {&h, &sql}), 0);
    h.SetInt(5);
    EXPECT_EQ(test::RunBuiltin(kDbExec, &line.main, {&h, &sql}), -1);
    // From a function of the script: the same table.
    h.SetInt(1);
    EXPECT_EQ(test::RunBuiltin(kDbExec, &line.func, {&h, &sql}), 0);
    std::string text = log.Text();
    EXPECT_NE(text.find("[DbExec: ret=-2, i=0, dbCount=1]"), std::string::npos) << text;
    EXPECT_NE(text.find("[DbExec: ret=-1, i=5, dbCount=1]"), std::string::npos) << text;
    EXPECT_EQ(text.find("i=1,"), std::string::npos) << text;
}

class DbWaits : public DbBuiltins {
protected:
    void SetUp() override {
        DbBuiltins::SetUp();
        g_server = std::make_shared<StalledServer>();
        SetPoolBackEndMaker(kDbTypeMySql, [](const char*, const char*, const char*, const char*) {
            return std::unique_ptr<TagDataSet>(std::make_unique<StallingSet>());
        });
        ASSERT_EQ(Open(), 0);
        h.SetInt(0);
        sql.SetStr("stall");
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lk(g_server->m);
        g_server->cv.wait(lk, [] { return g_server->entered; });
    }
    void Answer() {
        {
            std::lock_guard<std::mutex> lk(g_server->m);
            g_server->answer = true;
        }
        g_server->cv.notify_all();
    }
    TagVar h, sql;
};

TEST_F(DbWaits, QuitEndsAStatementWaitingOnItsServerAtOnce) {
    int32_t rc = 0;
    std::thread lineThread([&] { rc = test::RunBuiltin(kDbExec, &line.main, {&h, &sql}); });
    WaitEntered();
    line.call.RequestStop();
    lineThread.join();
    EXPECT_EQ(rc, -1);
    Answer();
    EXPECT_TRUE(WaitDbCallsEnded(60000));
    std::string text = log.Text();
    EXPECT_NE(text.find("Test stalled: no answer to the statement after"), std::string::npos) << text;
    EXPECT_NE(text.find("wait ended by a quit or reload"), std::string::npos) << text;
}

TEST_F(DbWaits, StatementOfAQuittingLineStillGetsItsAnswer) {
    VirtualClock clock(0, false); // the wait's bound does not run out while the answer comes
    ScopedClock scoped(&clock);
    line.call.RequestStop(); // as in the script's quit handler
    int32_t rc = -9;
    std::thread lineThread([&] { rc = test::RunBuiltin(kDbExec, &line.main, {&h, &sql}); });
    WaitEntered();
    Answer();
    lineThread.join();
    EXPECT_EQ(rc, 0);
}

} // namespace
} // namespace zz
