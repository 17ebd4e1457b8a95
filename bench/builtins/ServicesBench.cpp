// The services between lines under many threads: a message through one list, shared-memory increments of one
// key, and a search of the three shared-memory key kinds; and batches of queue sends and counts as a queue grows.
#include <benchmark/benchmark.h>

#include "builtins/services/TagAcdList.h"
#include "builtins/services/TagMsgList.h"
#include "builtins/services/TagShareMem.h"
#include "platform/TagRunCfg.h"

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

// A batch of 5,000 sends into an ACD group that already holds range(0) records, each send answering the group's
// count, as AcdListSend does: the time per batch stays flat however long the queue is.
void BM_AcdSendBatch(benchmark::State& st) {
    SetMsgListLimit(0); // MAX_MSG_NUM=0: queues without a limit
    TagAcdList acd;
    const TagMsgFields rec = Record();
    for (int64_t i = 0; i < st.range(0); ++i)
        acd.Send("sales", rec);
    TagMsgFields out;
    TagVar zero;
    zero.SetInt(0);
    for (auto _ : st) {
        for (int32_t i = 0; i < 5000; ++i)
            benchmark::DoNotOptimize(acd.Send("sales", rec));
        st.PauseTiming();
        // Back to the starting length: every record has field 0 = 0, so each Recv takes the first.
        for (int32_t i = 0; i < 5000; ++i)
            acd.Recv(1, 0, zero, out);
        st.ResumeTiming();
    }
    benchmark::DoNotOptimize(acd.Num("sales"));
}
BENCHMARK(BM_AcdSendBatch)->Arg(0)->Arg(5000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

// Mailbox and queue counts (GetMsgNum, AcdListNum) of a list of range(0) records.
void BM_MessageCount(benchmark::State& st) {
    SetMsgListLimit(0);
    TagMsgList list;
    const TagMsgFields rec = Record();
    for (int64_t i = 0; i < st.range(0); ++i)
        list.Add(rec);
    for (auto _ : st)
        benchmark::DoNotOptimize(list.GetNum());
}
BENCHMARK(BM_MessageCount)->Arg(10)->Arg(40000);

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
