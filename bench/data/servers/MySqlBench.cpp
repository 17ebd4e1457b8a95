// 10,000 single-row inserts and selects through the MySQL back end against the same statements through the
// client library called directly, on the MariaDB of scripts/services/mariadb.sh. One run each; the ratio is
// printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <unistd.h>

#include "data/MySqlApi.h"
#include "data/TagMySqlData.h"

using namespace zz;

namespace {

constexpr int kStatements = 10000;

struct Env {
    std::string socket, user = "zztest", password = "zztest", db;
    bool ok = false;
};

Env& GetEnv() {
    static Env env = [] {
        Env e;
        const char* s = std::getenv("ZZ_MARIADB_SOCKET");
        if (!s || !*s) return e;
        e.socket = s;
        if (const char* u = std::getenv("ZZ_MARIADB_USER")) e.user = u;
        if (const char* p = std::getenv("ZZ_MARIADB_PASSWORD")) e.password = p;
        e.db = "zz_bench_" + std::to_string(::getpid());
        ::setenv("MYSQL_UNIX_PORT", e.socket.c_str(), 1);
        e.ok = LoadMySqlLibrary() == 0;
        return e;
    }();
    return env;
}

std::string Insert(const char* table, int i) {
    return std::string("INSERT INTO ") + table + " VALUES (" + std::to_string(i) + ",'行" + std::to_string(i) + "')";
}
std::string Select(const char* table, int i) {
    return std::string("SELECT v FROM ") + table + " WHERE id=" + std::to_string(i);
}

double g_backEnd = 0, g_direct = 0;

// <chrono> does not compile with the GBK execution character set.
double Now() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void BM_BackEnd(benchmark::State& state) {
    Env& e = GetEnv();
    if (!e.ok) return state.SkipWithError("no MariaDB: source scripts/services/mariadb.sh first");
    TagMySqlData ds("localhost", e.user.c_str(), e.password.c_str(), "");
    std::string sql = "CREATE DATABASE IF NOT EXISTS " + e.db + " CHARACTER SET gbk";
    ds.Exec(sql.data());
    sql = "use " + e.db;
    ds.Exec(sql.data());
    sql = "CREATE TABLE IF NOT EXISTS b1 (id INT PRIMARY KEY, v VARCHAR(20))";
    ds.Exec(sql.data());
    char buf[kDbValueSize];
    for (auto _ : state) {
        double t0 = Now();
        for (int i = 0; i < kStatements; ++i) {
            sql = Insert("b1", i);
            if (ds.Exec(sql.data()) < 0) return state.SkipWithError("insert failed");
            sql = Select("b1", i);
            if (ds.Exec(sql.data()) < 0 || ds.GetVar(buf, 0, 1) < 0) return state.SkipWithError("select failed");
            benchmark::DoNotOptimize(buf);
        }
        g_backEnd = Now() - t0;
    }
    sql = "DROP DATABASE " + e.db;
    ds.Exec(sql.data());
    state.SetItemsProcessed(int64_t(state.iterations()) * kStatements * 2);
}

void BM_Direct(benchmark::State& state) {
    Env& e = GetEnv();
    const MySqlApi* api = GetMySqlApi();
    if (!e.ok || !api) return state.SkipWithError("no MariaDB: source scripts/services/mariadb.sh first");
    MYSQL* m = api->init(nullptr);
    api->options(m, MYSQL_SET_CHARSET_NAME, "gbk");
    if (!api->real_connect(m, "localhost", e.user.c_str(), e.password.c_str(), nullptr, 0, nullptr, 0)) {
        api->close(m);
        return state.SkipWithError("connect failed");
    }
    auto run = [&](const std::string& sql) {
        if (api->query(m, sql.c_str()) != 0) return false;
        if (MYSQL_RES* r = api->store_result(m)) api->free_result(r);
        return true;
    };
    run("CREATE DATABASE IF NOT EXISTS " + e.db + " CHARACTER SET gbk");
    run("use " + e.db);
    run("CREATE TABLE IF NOT EXISTS b2 (id INT PRIMARY KEY, v VARCHAR(20))");
    for (auto _ : state) {
        double t0 = Now();
        for (int i = 0; i < kStatements; ++i) {
            if (!run(Insert("b2", i))) return state.SkipWithError("insert failed");
            std::string sql = Select("b2", i);
            if (api->query(m, sql.c_str()) != 0) return state.SkipWithError("select failed");
            MYSQL_RES* r = api->store_result(m);
            MYSQL_ROW row = r ? api->fetch_row(r) : nullptr;
            benchmark::DoNotOptimize(row ? row[0] : nullptr);
            if (r) api->free_result(r);
        }
        g_direct = Now() - t0;
    }
    run("DROP DATABASE " + e.db);
    api->close(m);
    state.SetItemsProcessed(int64_t(state.iterations()) * kStatements * 2);
}

BENCHMARK(BM_Direct)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackEnd)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_direct > 0 && g_backEnd > 0)
        std::printf("MySQL back end / direct client, %d inserts + %d selects: %.3f s / %.3f s = %.3f\n", kStatements,
                    kStatements, g_backEnd, g_direct, g_backEnd / g_direct);
    FreeMySqlLibrary();
    return 0;
}
