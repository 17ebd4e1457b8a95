// The services between lines under many threads: a message through one list, shared-memory increments of one
// key, and a search of the three shared-memory key kinds.
#include <benchmark/benchmark.h>

#include "builtins/services/TagMsgList.h"
#include "builtins/services/TagShareMem.h"

using namespace zz;

namespace {

TagMsgFields Record() {
    TagMsgFields r;
    TagVar v;
    v.SetStr("caller 0301");
    r.key = v;
    for (int32_t i = 0; i < 4; ++i) {
        v.SetInt(i);
        r.SetField(i, v);
    }
    r.SetCount(4);
    return r;
}

// Every thread posts a record and takes one: the list's lock is the only thing the threads share.
void BM_MessagePostAndTake(benchmark::State& st) {
    static TagMsgList list;
    const TagMsgFields rec = Record();
    TagMsgFields out;
    for (auto _ : st) {
        list.Add(rec);
        benchmark::DoNotOptimize(list.Get(out));
    }
}
BENCHMARK(BM_MessagePostAndTake)->ThreadRange(1, 64)->UseRealTime();

// Posting into a list sorted on field 0 that already holds 1,000 records, then taking the first.
void BM_SortedPostAndTake(benchmark::State& st) {
    TagMsgList list;
    list.SetOrderBy(0, 0);
    TagMsgFields rec = Record();
    TagVar v;
    for (int32_t i = 0; i < 1000; ++i) {
        v.SetInt(i * 7 % 1000);
        rec.SetField(0, v);
        list.Add(rec);
    }
    TagMsgFields out;
    int32_t n = 0;
    for (auto _ : st) {
        v.SetInt(n++ % 1000);
        rec.SetField(0, v);
        list.Add(rec);
        benchmark::DoNotOptimize(list.Get(out));
    }
}
BENCHMARK(BM_SortedPostAndTake);

// Increments of one process-wide counter from many lines at once.
void BM_ShareMemIncrement(benchmark::State& st) {
    static TagShareMem mem;
    ShareKey key;
    key.kind = ShareKey::kText;
    key.text = "calls waiting";
    TagVar one, out;
    one.SetInt(1);
    if (st.thread_index() == 0) mem.Set(key, one);
    for (auto _ : st)
        benchmark::DoNotOptimize(mem.Inc(key, one, out));
}
BENCHMARK(BM_ShareMemIncrement)->ThreadRange(1, 64)->UseRealTime();

} // namespace
