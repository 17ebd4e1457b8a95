// Throughput of the connection pool: 1, 8, 32 and 128 lines sharing 8 back ends, each statement borrowing one,
// copying its result and giving it back (items/s: rows a second, one row a statement). "Memory" back ends measure
// the pool itself; "RoundTrip" ones hold their connection 50 us a statement without using the processor, as a
// server's answer does; "Sqlite" ones make a real ODBC round trip (whose driver manager serialises much of it).
// Beyond 8 lines the rate should hold, not fall.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <time.h>

#include "data/TagDbConnectionsCtrl.h"
#include "data/TagLocalData.h"
#include "platform/TagRunCfg.h"
#include "tests/support/StubDataSet.h"

using namespace zz;

namespace {

// Answers every statement with one row holding the statement text.
class MemorySet : public test::StubDataSet {
public:
    int ExecToLocal(char* sql, TagLocalData* dst) override {
        dst->ClearResult();
        dst->SetRows(1);
        dst->fields.AddField("v", 32);
        if (!dst->AllocRecords()) return -3;
        dst->PutCell(0, 0, sql);
        return 1;
    }
};

// The same answer after 50 us of waiting for it.
class RoundTripSet : public MemorySet {
public:
    int ExecToLocal(char* sql, TagLocalData* dst) override {
        timespec wait{0, 50000};
        ::nanosleep(&wait, nullptr);
        return MemorySet::ExecToLocal(sql, dst);
    }
};

std::unique_ptr<TagDataSet> MakeMemory(const char*, const char*, const char*, const char*) {
    return std::make_unique<MemorySet>();
}
std::unique_ptr<TagDataSet> MakeRoundTrip(const char*, const char*, const char*, const char*) {
    return std::make_unique<RoundTripSet>();
}

// One pool per source and limit, made by whichever thread comes first; lines open their handles on it.
TagDbConnectionsCtrl* SharedPool(int type, int64_t limit) {
    static std::mutex m;
    static std::map<std::pair<int, int64_t>, std::unique_ptr<TagDbConnectionsCtrl>> pools;
    std::lock_guard<std::mutex> lk(m);
    auto& p = pools[{type, limit}];
    if (!p) {
        SetDbMaxConn(int32_t(limit));
        SetPoolBackEndMaker(kDbTypeMySql, MakeMemory);
        SetPoolBackEndMaker(kDbTypeSyb, MakeRoundTrip);
        p = std::make_unique<TagDbConnectionsCtrl>();
    }
    return p.get();
}

void PoolThroughput(benchmark::State& state, int type, const std::string& source) {
    TagDbConnectionsCtrl* pool = SharedPool(type, state.range(0));
    auto ld = std::make_unique<TagLocalData>(pool, type, source.c_str(), "", "", "");
    if (ld->status < 0) state.SkipWithError("open failed");
    for (auto _ : state) {
        char text[] = "select 1";
        if (ld->Exec(text) != 1) state.SkipWithError("statement failed");
    }
    ld.reset();
    state.SetItemsProcessed(state.iterations());
}

void BM_PoolMemory(benchmark::State& state) {
    PoolThroughput(state, kDbTypeMySql, "memory");
}
void BM_PoolRoundTrip(benchmark::State& state) {
    PoolThroughput(state, kDbTypeSyb, "server");
}
void BM_PoolSqlite(benchmark::State& state) {
    PoolThroughput(state, kDbTypeAdo, "DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=:memory:");
}

} // namespace

BENCHMARK(BM_PoolMemory)->Arg(8)->Threads(1)->Threads(8)->Threads(32)->Threads(128)->UseRealTime();
BENCHMARK(BM_PoolRoundTrip)->Arg(8)->Threads(1)->Threads(8)->Threads(32)->Threads(128)->UseRealTime();
BENCHMARK(BM_PoolSqlite)->Arg(8)->Threads(1)->Threads(8)->Threads(32)->Threads(128)->UseRealTime();

BENCHMARK_MAIN();
