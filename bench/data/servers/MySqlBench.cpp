// 10,000 single-row inserts and selects through the MySQL back end against the same statements through the
// client library called directly, on the MariaDB of scripts/services/mariadb.sh. The two sides take turns in
// short blocks of 20 statements, each going first every other block, and every block pair gives one ratio: the
// median of those ratios is printed (with the quartiles), so a burst of load on the machine spoils a few blocks
// rather than the whole comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "data/MySqlApi.h"
#include "data/TagMySqlData.h"

using namespace zz;

namespace {

constexpr int kStatements = 10000;
constexpr int kBlock = 20;

// <chrono> does not compile with the GBK execution character set.
double Clock(clockid_t id) {
    timespec ts;
    ::clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Side {
    double wall = 0, cpu = 0;
};

// Per block pair: back end / direct client, wall time and client CPU.
std::vector<double> g_wallRatios, g_cpuRatios;
bool g_done = false;

// The value at fraction q (0..1) of the sorted values.
double Quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1) + 0.5)];
}

std::string Insert(const char* table, int i) {
    return std::string("INSERT INTO ") + table + " VALUES (" + std::to_string(i) + ",'行" + std::to_string(i) + "')";
}
std::string Select(const char* table, int i) {
    return std::string("SELECT v FROM ") + table + " WHERE id=" + std::to_string(i);
}

class Direct {
public:
    Direct(const MySqlApi* api, const char* user, const char* password) : api_(api) {
        m_ = api_->init(nullptr);
        api_->options(m_, MYSQL_SET_CHARSET_NAME, "gbk");
        ok_ = api_->real_connect(m_, "localhost", user, password, nullptr, 0, nullptr, 0) != nullptr;
    }
    ~Direct() { api_->close(m_); }
    bool ok() const { return ok_; }
    bool Run(const std::string& sql) {
        if (api_->query(m_, sql.c_str()) != 0) return false;
        if (MYSQL_RES* r = api_->store_result(m_)) api_->free_result(r);
        return true;
    }
    bool Fetch(const std::string& sql) {
        if (api_->query(m_, sql.c_str()) != 0) return false;
        MYSQL_RES* r = api_->store_result(m_);
        MYSQL_ROW row = r ? api_->fetch_row(r) : nullptr;
        benchmark::DoNotOptimize(row ? row[0] : nullptr);
        if (r) api_->free_result(r);
        return row != nullptr;
    }

private:
    const MySqlApi* api_;
    MYSQL* m_ = nullptr;
    bool ok_ = false;
};

void BM_MySqlBackEndVsDirect(benchmark::State& state) {
    const char* socket = std::getenv("ZZ_MARIADB_SOCKET");
    if (!socket || !*socket) return state.SkipWithError("no MariaDB: source scripts/services/mariadb.sh first");
    const char* user = std::getenv("ZZ_MARIADB_USER") ? std::getenv("ZZ_MARIADB_USER") : "zztest";
    const char* password = std::getenv("ZZ_MARIADB_PASSWORD") ? std::getenv("ZZ_MARIADB_PASSWORD") : "zztest";
    ::setenv("MYSQL_UNIX_PORT", socket, 1);
    if (LoadMySqlLibrary() != 0) return state.SkipWithError("client library not loaded");
    std::string db = "zz_bench_" + std::to_string(::getpid());

    TagMySqlData ds("localhost", user, password, "");
    Direct direct(GetMySqlApi(), user, password);
    if (ds.status != 0 || !direct.ok()) return state.SkipWithError("connect failed");
    direct.Run("CREATE DATABASE " + db + " CHARACTER SET gbk");
    direct.Run("use " + db);
    direct.Run("CREATE TABLE b1 (id INT PRIMARY KEY, v VARCHAR(20))");
    direct.Run("CREATE TABLE b2 (id INT PRIMARY KEY, v VARCHAR(20))");
    std::string sql = "use " + db;
    ds.Exec(sql.data());

    char buf[kDbValueSize];
    bool failed = false;
    for (auto _ : state) {
        for (int start = 0; start < kStatements && !failed; start += kBlock) {
            Side backSide, directSide;
            auto backEnd = [&] {
                double w = Clock(CLOCK_MONOTONIC), c = Clock(CLOCK_THREAD_CPUTIME_ID);
                for (int i = start; i < start + kBlock; ++i) {
                    sql = Insert("b1", i);
                    failed |= ds.Exec(sql.data()) < 0;
                    sql = Select("b1", i);
                    failed |= ds.Exec(sql.data()) < 0 || ds.GetVar(buf, 0, 1) < 0;
                    benchmark::DoNotOptimize(buf);
                }
                backSide.wall = Clock(CLOCK_MONOTONIC) - w;
                backSide.cpu = Clock(CLOCK_THREAD_CPUTIME_ID) - c;
            };
            auto client = [&] {
                double w = Clock(CLOCK_MONOTONIC), c = Clock(CLOCK_THREAD_CPUTIME_ID);
                for (int i = start; i < start + kBlock; ++i) {
                    failed |= !direct.Run(Insert("b2", i));
                    failed |= !direct.Fetch(Select("b2", i));
                }
                directSide.wall = Clock(CLOCK_MONOTONIC) - w;
                directSide.cpu = Clock(CLOCK_THREAD_CPUTIME_ID) - c;
            };
            // The side that runs first after a switch wakes the server's other thread: take turns going first.
            if ((start / kBlock) % 2) {
                backEnd();
                client();
            } else {
                client();
                backEnd();
            }
            g_wallRatios.push_back(backSide.wall / directSide.wall);
            g_cpuRatios.push_back(backSide.cpu / directSide.cpu);
        }
    }
    direct.Run("DROP DATABASE " + db);
    if (failed) return state.SkipWithError("a statement failed");
    g_done = true;
    state.SetItemsProcessed(int64_t(state.iterations()) * kStatements * 4);
}

BENCHMARK(BM_MySqlBackEndVsDirect)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_done) {
        std::printf("%d inserts + %d selects each, back end / direct client, %zu blocks of %d:\n", kStatements,
                    kStatements, g_wallRatios.size(), kBlock);
        std::printf("  wall time   median %.3f (quartiles %.3f - %.3f)\n", Quantile(g_wallRatios, 0.5),
                    Quantile(g_wallRatios, 0.25), Quantile(g_wallRatios, 0.75));
        std::printf("  client CPU  median %.3f (quartiles %.3f - %.3f)\n", Quantile(g_cpuRatios, 0.5),
                    Quantile(g_cpuRatios, 0.25), Quantile(g_cpuRatios, 0.75));
    }
    FreeMySqlLibrary();
    return 0;
}
