// Value conversions and object insert/lookup/iterate over 10^5 elements.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/TagMapObject.h"
#include "engine/TagVar.h"

using namespace zz;

namespace {

TagVar MakeInt(int32_t v) {
    TagVar x;
    x.SetInt(v);
    return x;
}

void BM_StringToInt(benchmark::State& st) {
    TagVar s;
    s.SetStr("  -123456789xyz");
    for (auto _ : st)
        benchmark::DoNotOptimize(s.GetInt());
}
BENCHMARK(BM_StringToInt);

void BM_StringToDouble(benchmark::State& st) {
    TagVar s;
    s.SetStr("31415.9265e-4");
    for (auto _ : st)
        benchmark::DoNotOptimize(s.GetFloat());
}
BENCHMARK(BM_StringToDouble);

void BM_DoubleToText(benchmark::State& st) {
    TagVar d;
    d.SetFloat(12345.678);
    std::string out;
    for (auto _ : st) {
        d.ToString(out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_DoubleToText);

void BM_IntToText(benchmark::State& st) {
    TagVar d = MakeInt(-1234567);
    std::string out;
    for (auto _ : st) {
        d.ToString(out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_IntToText);

void BM_StringPlusInt(benchmark::State& st) {
    TagVar s, i = MakeInt(42), t;
    s.SetStr("caller-");
    for (auto _ : st) {
        TagVar::Add(t, s, i);
        benchmark::DoNotOptimize(t.Str());
    }
}
BENCHMARK(BM_StringPlusInt);

constexpr int kN = 100000;

// Time per element: insert kN integer keys into a fresh object.
void BM_ObjectInsert(benchmark::State& st) {
    for (auto _ : st) {
        TagVar o;
        for (int i = 0; i < kN; ++i)
            o[MakeInt(i)] = MakeInt(i);
        st.PauseTiming();
        o = TagVar();
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * kN);
}
BENCHMARK(BM_ObjectInsert)->Unit(benchmark::kMillisecond);

void BM_ObjectInsertStringKeys(benchmark::State& st) {
    std::vector<TagVar> keys(kN);
    for (int i = 0; i < kN; ++i)
        keys[i].SetStr(("key" + std::to_string(i)).c_str());
    for (auto _ : st) {
        TagVar o;
        for (int i = 0; i < kN; ++i)
            o[keys[i]] = MakeInt(i);
        st.PauseTiming();
        o = TagVar();
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * kN);
}
BENCHMARK(BM_ObjectInsertStringKeys)->Unit(benchmark::kMillisecond);

void BM_ObjectLookup(benchmark::State& st) {
    TagVar o;
    for (int i = 0; i < kN; ++i)
        o[MakeInt(i)] = MakeInt(i);
    std::vector<TagVar> keys;
    for (int i = 0; i < kN; ++i)
        keys.push_back(MakeInt((i * 7919) % kN));
    for (auto _ : st)
        for (int i = 0; i < kN; ++i)
            benchmark::DoNotOptimize(o.Find(keys[i]).intVal);
    st.SetItemsProcessed(st.iterations() * kN);
    o = TagVar();
}
BENCHMARK(BM_ObjectLookup)->Unit(benchmark::kMillisecond);

// The same lookups in key order: the difference to the scattered order is cache misses in the tree.
void BM_ObjectLookupInOrder(benchmark::State& st) {
    TagVar o;
    for (int i = 0; i < kN; ++i)
        o[MakeInt(i)] = MakeInt(i);
    std::vector<TagVar> keys;
    for (int i = 0; i < kN; ++i)
        keys.push_back(MakeInt(i));
    for (auto _ : st)
        for (int i = 0; i < kN; ++i)
            benchmark::DoNotOptimize(o.Find(keys[i]).intVal);
    st.SetItemsProcessed(st.iterations() * kN);
    o = TagVar();
}
BENCHMARK(BM_ObjectLookupInOrder)->Unit(benchmark::kMillisecond);

// The for-in walk: one key snapshot, then one lookup per key.
void BM_ObjectIterate(benchmark::State& st) {
    TagVar o;
    for (int i = 0; i < kN; ++i)
        o[MakeInt(i)] = MakeInt(i);
    std::vector<TagKeyEntry> keys;
    for (auto _ : st) {
        o.GetKeys(keys);
        int64_t sum = 0;
        for (auto& k : keys)
            sum += o.Find(k.key).intVal;
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(st.iterations() * kN);
    o = TagVar();
}
BENCHMARK(BM_ObjectIterate)->Unit(benchmark::kMillisecond);

} // namespace
