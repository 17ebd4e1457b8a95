// Evaluation of a compiled 20-step expression, and its compilation.
#include <benchmark/benchmark.h>

#include "engine/TagExpre.h"
#include "engine/TagTelBasic.h"

using namespace zz;

namespace {

const char* const kExpr =
    "(a + b) * c - d / e + (a * b - c) % 7 + (d << 2) - (e & 3) + (a | b) + (c ^ d) + (a < b) * 3 - e";

void Setup(TagTelBasic& u, bool doubles) {
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i) {
        TagVar* v = nullptr;
        u.FindOrCreateVar(names[i], &v);
        if (doubles && i < 2)
            v->SetFloat(1.5 + i);
        else
            v->SetInt(3 + i * 7);
    }
}

void RunCompiled(benchmark::State& st, bool doubles) {
    TagTelBasic u;
    Setup(u, doubles);
    std::vector<TagCalculate> steps;
    std::string err, warn;
    TagComplexExpre(kExpr, &u, "r", nullptr, nullptr, steps, err, warn);
    if (!err.empty() || steps.size() != 20) {
        st.SkipWithError("expression did not compile into 20 steps");
        return;
    }
    TagExpre e(steps);
    for (auto _ : st) {
        e.Run();
        benchmark::DoNotOptimize(e.result->intVal);
    }
    st.counters["steps"] = static_cast<double>(e.stepCount);
    st.SetItemsProcessed(st.iterations() * e.stepCount);
}

// Time per run of the whole expression; items/s counts single steps.
void BM_Eval20StepsInt(benchmark::State& st) {
    RunCompiled(st, false);
}
BENCHMARK(BM_Eval20StepsInt);

void BM_Eval20StepsMixed(benchmark::State& st) {
    RunCompiled(st, true);
}
BENCHMARK(BM_Eval20StepsMixed);

// A fresh unit each time, as a script compiles each expression once (the unit's set-up is included).
void BM_Compile20Steps(benchmark::State& st) {
    std::vector<TagCalculate> steps;
    std::string err, warn;
    for (auto _ : st) {
        TagTelBasic u;
        Setup(u, false);
        TagComplexExpre(kExpr, &u, "r", nullptr, nullptr, steps, err, warn);
        benchmark::DoNotOptimize(steps.data());
    }
}
BENCHMARK(BM_Compile20Steps);

} // namespace
