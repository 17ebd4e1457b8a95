#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/Clock.h"
#include "platform/TagRunCfg.h"
#include "tests/data/servers/FakeStall.h"
#include "tests/support/DbQuit.h"
#include "tests/support/StubDataSet.h"

using namespace zz;

namespace {

// A scripted back end: records every statement, can be held at a gate, answers one row (its id, the text).
struct FakeWorld {
    std::mutex m;
    std::condition_variable cv;
    bool gateOpen = true;
    test::FakeStall stall; // holds the statement "stall" after the gate
    std::vector<std::string> log;
    std::atomic<int> created{0}, destroyed{0}, overlaps{0};

    void SetGate(bool open) {
        std::lock_guard<std::mutex> lk(m);
        gateOpen = open;
        cv.notify_all();
    }
    size_t LogSize() {
        std::lock_guard<std::mutex> lk(m);
        return log.size();
    }
    void WaitLog(size_t n) {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [&] { return log.size() >= n; });
    }
};
FakeWorld* g_world = nullptr;

class FakeSet : public test::StubDataSet {
public:
    FakeSet() : id(g_world->created++) {}
    ~FakeSet() override { g_world->destroyed++; }
    int ExecToLocal(char* sql, TagLocalData* dst) override {
        if (inUse++ != 0) g_world->overlaps++;
        dst->ClearResult();
        std::string text = sql;
        {
            std::unique_lock<std::mutex> lk(g_world->m);
            g_world->log.push_back(std::to_string(id) + ":" + text);
            g_world->cv.notify_all();
            g_world->cv.wait(lk, [] { return g_world->gateOpen; });
        }
        if (text == "stall") g_world->stall.Block();
        if (text == "throw") {
            inUse--;
            throw std::runtime_error("client library fault");
        }
        int rc = 0;
        if (text.rfind("empty", 0) != 0) {
            dst->SetRows(1);
            dst->fields.AddField("id", 8);
            dst->fields.AddField("sql", 64);
            dst->AllocRecords();
            dst->PutCell(0, 0, std::to_string(id));
            dst->PutCell(0, 1, text);
            rc = 1;
        }
        inUse--;
        return rc;
    }

    int id;
    std::atomic<int> inUse{0};
};

std::unique_ptr<TagDataSet> MakeFake(const char*, const char*, const char*, const char*) {
    return std::make_unique<FakeSet>();
}

class Pool : public ::testing::Test {
protected:
    void SetUp() override {
        g_world = &world;
        previous = SetPoolBackEndMaker(kDbTypeMySql, MakeFake);
        SetDbMaxConn(2);
    }
    void TearDown() override {
        SetPoolBackEndMaker(kDbTypeMySql, previous);
        SetDbMaxConn(0);
    }
    std::unique_ptr<TagLocalData> OpenLocal(const char* host = "h", const char* log = "l") {
        return std::make_unique<TagLocalData>(&pool, kDbTypeMySql, host, "u", "p", log);
    }
    static std::string Cell(TagLocalData& ld, int col) {
        char buf[kDbValueSize];
        ld.GetVar(buf, col, 1);
        return buf;
    }
    static int Run(TagLocalData& ld, const std::string& sql) {
        std::vector<char> text(sql.begin(), sql.end());
        text.push_back('\0');
        return ld.Exec(text.data());
    }

    FakeWorld world;
    TagDbConnectionsCtrl pool;
    TagBackEndMaker previous = nullptr;
};

} // namespace

TEST_F(Pool, SharesUpToTheLimitAndDropsBackEndsOnlyBelowIt) {
    auto a = OpenLocal("h", "one"), b = OpenLocal("h", "two"), c = OpenLocal("h", "three");
    EXPECT_EQ(a->status, 0);
    EXPECT_EQ(c->ConnIndex(), 0); // the fourth operand does not name the source
    ASSERT_EQ(pool.ConnectionCount(), 1);
    TagDbConnection* conn = pool.Connection(0);
    EXPECT_EQ(conn->BackEndCount(), 2);
    EXPECT_EQ(conn->OpenCount(), 3);
    c.reset();
    EXPECT_EQ(conn->BackEndCount(), 2);
    b.reset();
    EXPECT_EQ(conn->BackEndCount(), 1);
    EXPECT_EQ(world.destroyed.load(), 1);
    auto other = OpenLocal("otherhost");
    EXPECT_EQ(other->ConnIndex(), 1);
    EXPECT_EQ(pool.ConnectionCount(), 2);
    a.reset();
    EXPECT_EQ(conn->BackEndCount(), 0);
    EXPECT_EQ(conn->Close(), -1); // closed more often than opened
}

TEST_F(Pool, RefusesUnknownTypesAndEmptyConnections) {
    EXPECT_EQ(TagLocalData(&pool, kDbTypeTqr, "h", "u", "p", "").status, -1);
    EXPECT_EQ(TagLocalData(&pool, 3, "h", "u", "p", "").status, -1);
    SetPoolBackEndMaker(kDbTypeMySql, nullptr); // client library not loaded
    EXPECT_EQ(TagLocalData(&pool, kDbTypeMySql, "h", "u", "p", "").status, -1);
    SetPoolBackEndMaker(kDbTypeMySql, MakeFake);
    EXPECT_EQ(pool.ConnectionCount(), 0);
    SetDbMaxConn(0);
    auto ld = OpenLocal();
    EXPECT_EQ(ld->status, 0);
    EXPECT_EQ(Run(*ld, "select 1"), -100);
    char sql[] = "x";
    EXPECT_EQ(pool.Exec(5, sql, ld.get()), -10);
    EXPECT_EQ(pool.Exec(-1, sql, ld.get()), -10);
    EXPECT_EQ(pool.Close(5), -10);
}

TEST_F(Pool, ResultIsALocalCopyReadWithoutThePool) {
    auto ld = OpenLocal();
    EXPECT_EQ(Run(*ld, "select 42"), 1);
    EXPECT_EQ(ld->GetRows(), 1);
    char buf[kDbValueSize];
    EXPECT_EQ(ld->GetVar(buf, 1, 1), 64); // the field's width
    EXPECT_STREQ(buf, "select 42");
    EXPECT_EQ(ld->GetVar(buf, 1, 0), -2);
    EXPECT_EQ(ld->GetVar(buf, 1, 2), -2);
    EXPECT_EQ(ld->SetVar("x", 1, 1), 0);
    EXPECT_EQ(Run(*ld, "empty result"), 0);
    EXPECT_EQ(ld->GetRows(), 0);
    EXPECT_EQ(ld->GetCols(), 0);
    EXPECT_EQ(ld->GetVar(buf, 0, 1), -1);
}

// "s<n>" (built so, as g++ 12 warns wrongly of an overlap in a literal plus a temporary string).
static std::string Stmt(int n) {
    std::string s = "s";
    return s += std::to_string(n);
}

TEST_F(Pool, WaitingStatementsAreServedInArrivalOrder) {
    SetDbMaxConn(1);
    auto first = OpenLocal();
    std::vector<std::unique_ptr<TagLocalData>> others;
    for (int i = 0; i < 4; i++)
        others.push_back(OpenLocal());
    world.SetGate(false);
    std::vector<std::thread> threads;
    threads.emplace_back([&] { Run(*first, "s0"); });
    world.WaitLog(1);
    TagDbConnection* conn = pool.Connection(0);
    for (int i = 0; i < 4; i++) {
        threads.emplace_back([&, i] { EXPECT_EQ(Run(*others[size_t(i)], Stmt(i + 1)), 1); });
        while (conn->WaitingCount() < i + 1) // each queues before the next arrives
            std::this_thread::yield();
    }
    world.SetGate(true);
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(world.log.size(), 5u);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(world.log[size_t(i)], "0:" + Stmt(i));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(Cell(*others[size_t(i)], 1), Stmt(i + 1));
}

TEST_F(Pool, GivesUpAfterTwoHundredTurns) {
    SetDbMaxConn(1);
    auto holder = OpenLocal(), waiter = OpenLocal();
    world.SetGate(false);
    std::thread t([&] { Run(*holder, "long"); });
    world.WaitLog(1);
    {
        VirtualClock clock(0, true);
        ScopedClock scoped(&clock);
        EXPECT_EQ(Run(*waiter, "short"), -200);
        EXPECT_GE(clock.Ticks(), 200u * 50u);
    }
    world.SetGate(true);
    t.join();
    EXPECT_EQ(Run(*waiter, "short"), 1); // the request was taken out of the queue: the pool still works
}

static void WaitQueued(TagDbConnection* conn, int n) {
    while (conn->WaitingCount() < n)
        std::this_thread::yield();
}

TEST_F(Pool, QuitEndsTheWaitInTheQueueAndForAStatementAnotherLineRuns) {
    SetDbMaxConn(1);
    auto holder = OpenLocal(), line = OpenLocal();
    TagDbConnection* conn = pool.Connection(0);
    world.SetGate(false);
    std::thread held([&] { EXPECT_EQ(Run(*holder, "first"), 1); });
    world.WaitLog(1);
    {
        // The clock stands still: only the quit can end the queue's wait.
        VirtualClock clock(0, false);
        ScopedClock scoped(&clock);
        EXPECT_EQ(test::QuitWhileBlocked([&] { return Run(*line, "queued"); }, [&] { WaitQueued(conn, 1); }), -200);
        EXPECT_EQ(conn->WaitingCount(), 0);
    }
    // The holder's thread takes the next statement out of the queue and stalls in it; the quit ends its owner's
    // wait, the statement goes on into a result of its own.
    EXPECT_EQ(test::QuitWhileBlocked([&] { return Run(*line, "stall"); },
                                     [&] {
                                         WaitQueued(conn, 1);
                                         world.SetGate(true);
                                         world.stall.WaitStalled(1);
                                     }),
              -1);
    EXPECT_EQ(line->GetRows(), 0);
    world.stall.Answer();
    held.join();
    EXPECT_EQ(Run(*line, "next"), 1);
    EXPECT_EQ(Cell(*line, 1), "next");
    EXPECT_EQ(Cell(*holder, 1), "first");
    EXPECT_EQ(world.overlaps, 0);
    EXPECT_EQ(conn->WaitingCount(), 0);
}

TEST_F(Pool, UseStatementRunsOncePerBackEnd) {
    auto a = OpenLocal(), b = OpenLocal();
    EXPECT_EQ(Run(*a, "use db1"), 2);
    EXPECT_EQ(world.log, (std::vector<std::string>{"0:use db1", "1:use db1"}));
    EXPECT_EQ(Run(*b, "USE db2"), 2);
    EXPECT_EQ(world.log.size(), 2u);
    EXPECT_EQ(Run(*b, "Use db2"), 1); // not recognised: an ordinary statement on one back end
    EXPECT_EQ(world.log.size(), 3u);
    SetDbMaxConn(3);
    auto c = OpenLocal();
    EXPECT_EQ(Run(*c, "use db3"), 3);
    ASSERT_EQ(world.log.size(), 4u);
    EXPECT_EQ(world.log[3], "2:use db3");
}

TEST_F(Pool, UseStatementWaitsForALentBackEnd) {
    auto a = OpenLocal(), b = OpenLocal();
    world.SetGate(false);
    std::thread lent([&] { Run(*a, "select slow"); });
    world.WaitLog(1);
    std::thread use([&] { EXPECT_EQ(Run(*b, "use db"), 2); });
    world.WaitLog(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> lk(world.m);
        ASSERT_EQ(world.log.size(), 2u); // back end 0 is still lent: its "use" waits
        EXPECT_EQ(world.log[1], "1:use db");
    }
    world.SetGate(true);
    lent.join();
    use.join();
    ASSERT_EQ(world.log.size(), 3u);
    EXPECT_EQ(world.log[2], "0:use db");
    EXPECT_EQ(world.overlaps.load(), 0);
}

TEST_F(Pool, BackEndDroppedWhileLentIsClosedByItsBorrower) {
    auto a = OpenLocal(), b = OpenLocal();
    world.SetGate(false);
    std::thread ta([&] { EXPECT_EQ(Run(*a, "qa"), 1); });
    std::thread tb([&] { EXPECT_EQ(Run(*b, "qb"), 1); });
    world.WaitLog(2);
    TagDbConnection* conn = pool.Connection(0);
    EXPECT_EQ(conn->Close(), 1); // another line leaves: the last back end goes, though it is lent
    EXPECT_EQ(conn->BackEndCount(), 1);
    EXPECT_EQ(world.destroyed.load(), 0);
    world.SetGate(true);
    ta.join();
    tb.join();
    EXPECT_EQ(world.destroyed.load(), 1);
    EXPECT_EQ(Cell(*a, 1), "qa");
    EXPECT_EQ(Cell(*b, 1), "qb");
}

TEST_F(Pool, ThirtyTwoLinesGetTheirOwnResults) {
    SetDbMaxConn(4);
    constexpr int kLines = 32, kEach = 40;
    std::vector<std::unique_ptr<TagLocalData>> handles;
    for (int i = 0; i < kLines; i++)
        handles.push_back(OpenLocal());
    EXPECT_EQ(pool.Connection(0)->BackEndCount(), 4);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kLines; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; i++) {
                std::string sql = "line " + std::to_string(t) + " stmt " + std::to_string(i);
                if (Run(*handles[size_t(t)], sql) != 1 || Cell(*handles[size_t(t)], 1) != sql) wrong++;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(world.log.size(), size_t(kLines * kEach));
    EXPECT_EQ(world.overlaps.load(), 0);
}

TEST_F(Pool, BackEndThatThrowsFailsTheStatementAndIsGivenBack) {
    SetDbMaxConn(1);
    auto ld = OpenLocal();
    EXPECT_EQ(Run(*ld, "select 1"), 1);
    EXPECT_EQ(Run(*ld, "throw"), -4);
    EXPECT_EQ(ld->GetRows(), 0);
    EXPECT_EQ(Run(*ld, "select 2"), 1);
    EXPECT_EQ(Cell(*ld, 1), "select 2");
}

TEST_F(Pool, StatementsGoOnWhileAnotherLineConnects) {
    // Connecting to the second source blocks until the test lets it go (or half a minute passes).
    static std::mutex m;
    static std::condition_variable cv;
    static bool entered, released;
    entered = released = false;
    TagBackEndMaker slow = [](const char*, const char*, const char*, const char*) -> std::unique_ptr<TagDataSet> {
        std::unique_lock<std::mutex> lk(m);
        entered = true;
        cv.notify_all();
        cv.wait_for(lk, std::chrono::seconds(30), [] { return released; });
        return std::make_unique<FakeSet>();
    };
    TagBackEndMaker before = SetPoolBackEndMaker(kDbTypeSyb, slow);
    SetDbMaxConn(1);
    auto ready = OpenLocal();
    std::unique_ptr<TagLocalData> slowA, slowB;
    std::thread opener([&] { slowA = std::make_unique<TagLocalData>(&pool, kDbTypeSyb, "far", "u", "p", ""); });
    {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [] { return entered; });
    }
    // The pool is not held while a line connects: an open source serves, and a second open of the connecting
    // source returns at once (its statement then waits for the back end being connected).
    EXPECT_EQ(Run(*ready, "select while connecting"), 1);
    slowB = std::make_unique<TagLocalData>(&pool, kDbTypeSyb, "far", "u", "p", "");
    EXPECT_EQ(slowB->ConnIndex(), 1);
    int slowResult = 0;
    std::thread statement([&] { slowResult = Run(*slowB, "select after connect"); });
    bool servedFirst;
    {
        std::lock_guard<std::mutex> lk(m);
        servedFirst = !released;
        released = true;
        cv.notify_all();
    }
    opener.join();
    statement.join();
    EXPECT_TRUE(servedFirst);
    EXPECT_EQ(slowA->ConnIndex(), 1);
    EXPECT_EQ(slowResult, 1);
    EXPECT_EQ(Cell(*slowB, 1), "select after connect");
    slowA.reset();
    slowB.reset();
    SetPoolBackEndMaker(kDbTypeSyb, before);
}
