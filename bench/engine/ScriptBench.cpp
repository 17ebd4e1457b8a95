// The script engine beside Lua 5.4 on the same work, in one run, in CPU time: an integer loop, recursive user
// calls (a chain, and fib 25), array fill and sum, building lines of a few hundred bytes, a string-keyed object, and
// the compile of a 10,000-line script beside Lua's load of a chunk of the same shape. Both sides are compiled once
// before they are timed, run once to warm up, and then run in alternating order, each round on this thread's CPU clock;
// a workload's ratio is the median of the per-round ratios (engine time / Lua time). Memory per array element and the
// bytes of one function unit are the heap's growth (glibc's own count, the same for both sides).
//
// zz_script_bench prints Google Benchmark's table (one row per side and workload, CPU time per round) and then a
// summary with every ratio and the bytes per array element beside Lua's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <lua.hpp>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include "builtins/BuiltinTable.h"
#include "engine/TagCallState.h"
#include "engine/TagTelBasic.h"

namespace {

using namespace zz;

// <chrono> does not build with the GBK execution character set.
double ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Bytes the heap hands out now, ordinary and mapped blocks together.
double HeapInUse() {
    struct mallinfo2 mi = mallinfo2();
    return static_cast<double>(mi.uordblks + mi.hblkhd);
}

// One workload in both languages; both return an integer the harness checks against want.
struct Work {
    const char* name;
    const char* engine;
    const char* lua;
    int64_t want;
};

int64_t IntegerLoopTotal() {
    int64_t total = 0;
    for (int64_t i = 0; i < 1000; ++i)
        for (int64_t j = 0; j < 1000; ++j)
            total += (i * 3 + j) % 11;
    return total;
}

// fib(25) by plain recursion, 242,785 calls. A function's variables are the unit's own, not one set per call,
// so the script keeps what a call must survive on a stack of its own.
const char* const kFibScript = "sp = 0;\n"
                               "st[0] = 0;\n"
                               "function fib(n)\n{\n"
                               "    if(n < 2)\n    {\n"
                               "        return(n);\n"
                               "    }\n"
                               "    sp = sp + 1;\n"
                               "    st[sp] = n;\n"
                               "    m = n - 1;\n"
                               "    a = fib(m);\n"
                               "    k = st[sp];\n"
                               "    st[sp] = a;\n"
                               "    m = k - 2;\n"
                               "    b = fib(m);\n"
                               "    a = st[sp];\n"
                               "    sp = sp - 1;\n"
                               "    return(a + b);\n}\n"
                               "r = fib(25);\n"
                               "st = 0;\n"
                               "return(r);\n";

const Work kWorks[] = {
    {"integer loop",
     "total = 0;\n"
     "for(i = 0; i < 1000; i++)\n{\n"
     "    for(j = 0; j < 1000; j++)\n    {\n"
     "        x = i * 3 + j;\n"
     "        y = x % 11;\n"
     "        total = total + y;\n"
     "    }\n}\n"
     "return(total);\n",
     "local total = 0\n"
     "for i = 0, 999 do\n"
     "    for j = 0, 999 do\n"
     "        local x = i * 3 + j\n"
     "        local y = x % 11\n"
     "        total = total + y\n"
     "    end\n"
     "end\n"
     "return total\n",
     IntegerLoopTotal()},
    // Calls nest 21 deep (the engine refuses more than 30); each call counts itself.
    {"recursive calls",
     "calls = 0;\n"
     "function down(n)\n{\n"
     "    calls = calls + 1;\n"
     "    if(n > 0)\n    {\n"
     "        m = n - 1;\n"
     "        r = down(m);\n"
     "    }\n"
     "    return(n);\n}\n"
     "for(i = 0; i < 20000; i++)\n{\n"
     "    r = down(20);\n}\n"
     "return(calls);\n",
     "local calls = 0\n"
     "local function down(n)\n"
     "    calls = calls + 1\n"
     "    if n > 0 then\n"
     "        local r = down(n - 1)\n"
     "    end\n"
     "    return n\n"
     "end\n"
     "for i = 0, 19999 do\n"
     "    local r = down(20)\n"
     "end\n"
     "return calls\n",
     20000 * 21},
    {"fib 25", kFibScript,
     "local function fib(n)\n"
     "    if n < 2 then\n"
     "        return n\n"
     "    end\n"
     "    return fib(n - 1) + fib(n - 2)\n"
     "end\n"
     "return fib(25)\n",
     75025},
    // The same fib 25 step for step in Lua: the stack and the function's variables shared by every call (upvalues
    // here), so that the ratio compares the two interpreters on the same work rather than the languages' locals.
    {"fib 25, same steps", kFibScript,
     "local sp, st = 0, {}\n"
     "st[0] = 0\n"
     "local m, a, k, b\n"
     "local function fib(n)\n"
     "    if n < 2 then\n"
     "        return n\n"
     "    end\n"
     "    sp = sp + 1\n"
     "    st[sp] = n\n"
     "    m = n - 1\n"
     "    a = fib(m)\n"
     "    k = st[sp]\n"
     "    st[sp] = a\n"
     "    m = k - 2\n"
     "    b = fib(m)\n"
     "    a = st[sp]\n"
     "    sp = sp - 1\n"
     "    return a + b\n"
     "end\n"
     "local r = fib(25)\n"
     "st = nil\n"
     "return r\n",
     75025},
    // A fresh array of 10^6 elements every round, filled with new keys in order and summed.
    {"array fill/sum",
     "for(i = 1; i <= 1000000; i++)\n{\n"
     "    a[i] = i % 1000;\n}\n"
     "s = 0;\n"
     "for(i = 1; i <= 1000000; i++)\n{\n"
     "    s = s + a[i];\n}\n"
     "a = 0;\n"
     "return(s);\n",
     "local a = {}\n"
     "for i = 1, 1000000 do\n"
     "    a[i] = i % 1000\n"
     "end\n"
     "local s = 0\n"
     "for i = 1, 1000000 do\n"
     "    s = s + a[i]\n"
     "end\n"
     "return s\n",
     int64_t{1000} * 499500},
    // Lines of about 260 bytes, as a script writes log or SQL lines.
    {"string building",
     "caller = \"8613800138000@sip.example.net\";\n"
     "callee = \"4008123456@gateway.example.net\";\n"
     "stamp = \"2026-12-09 12:34:56.789\";\n"
     "note = \"call transferred from the night service queue after the first announcement\";\n"
     "n = 0;\n"
     "for(i = 0; i < 100000; i++)\n{\n"
     "    line = \"INSERT INTO calls(id, caller, callee, started, seconds, note) VALUES(\" + i + \", '\" + caller + "
     "\"', '\" + callee + \"', '\" + stamp + \"', \" + n + \", '\" + note + \"');\";\n"
     "    n = n + 1;\n}\n"
     "return(n);\n",
     "local caller = \"8613800138000@sip.example.net\"\n"
     "local callee = \"4008123456@gateway.example.net\"\n"
     "local stamp = \"2026-12-09 12:34:56.789\"\n"
     "local note = \"call transferred from the night service queue after the first announcement\"\n"
     "local n = 0\n"
     "for i = 0, 99999 do\n"
     "    local line = \"INSERT INTO calls(id, caller, callee, started, seconds, note) VALUES(\" .. i .. \", '\" .. "
     "caller .. \"', '\" .. callee .. \"', '\" .. stamp .. \"', \" .. n .. \", '\" .. note .. \"');\"\n"
     "    n = n + 1\n"
     "end\n"
     "return n\n",
     100000},
    {"string-keyed object",
     "for(i = 0; i < 100000; i++)\n{\n"
     "    k = \"caller\" + i;\n"
     "    o[k] = i % 100;\n}\n"
     "s = 0;\n"
     "for(i = 0; i < 100000; i++)\n{\n"
     "    k = \"caller\" + i;\n"
     "    s = s + o[k];\n}\n"
     "o = 0;\n"
     "return(s);\n",
     "local o = {}\n"
     "for i = 0, 99999 do\n"
     "    o[\"caller\" .. i] = i % 100\n"
     "end\n"
     "local s = 0\n"
     "for i = 0, 99999 do\n"
     "    s = s + o[\"caller\" .. i]\n"
     "end\n"
     "return s\n",
     int64_t{1000} * 4950},
};
constexpr size_t kWorkCount = std::size(kWorks);
constexpr int kGeneratedLines = 10000;
constexpr int kArrayElements = 1000000;

// The 10,000-line script in both languages: ten-line blocks over a hundred variable groups.
void GeneratedScripts(std::string& engine, std::string& lua) {
    for (int line = 0, k = 0; line + 10 < kGeneratedLines; line += 10, ++k) {
        std::string g = std::to_string(k % 100), n = std::to_string(k);
        engine += "v" + g + " = " + n + " * 3 + 1;\nw" + g + " = v" + g + " % 7;\nif(w" + g + " > 3)\n{\n    s" + g +
                  " = \"a\" + w" + g + ";\n}\nelse\n{\n    s" + g + " = \"b\";\n}\narr[w" + g + "] = v" + g + ";\n";
        lua += "v" + g + " = " + n + " * 3 + 1\nw" + g + " = v" + g + " % 7\nif w" + g + " > 3 then\n\n    s" + g +
               " = \"a\" .. w" + g + "\n\nelse\n\n    s" + g + " = \"b\"\nend\narr[w" + g + "] = v" + g + "\n";
    }
    for (int line = (kGeneratedLines - 1) / 10 * 10; line < kGeneratedLines - 1; ++line) {
        engine += "x = 1;\n";
        lua += "x = 1\n";
    }
    engine += "return(0);\n";
    lua += "return 0\n";
}

// The engine writes its error log into the working directory: the benchmark works in a folder of its own.
struct Workspace {
    std::filesystem::path dir;
    std::string files[kWorkCount];
    std::string bigFile, bigLua;

    Workspace() {
        dir = std::filesystem::temp_directory_path() / ("zz_script_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        for (size_t k = 0; k < kWorkCount; ++k) {
            files[k] = (dir / ("work" + std::to_string(k) + ".kvs")).string();
            std::ofstream(files[k]) << kWorks[k].engine;
        }
        std::string big;
        GeneratedScripts(big, bigLua);
        bigFile = (dir / "big.kvs").string();
        std::ofstream(bigFile) << big;
        RegisterBuiltins();
    }
    ~Workspace() {
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
        std::filesystem::remove_all(dir, ec);
    }
};

Workspace& Space() {
    static Workspace w;
    return w;
}

// A program on a virtual line numbered 0, so that building it never waits for an idle processor. The script
// text comes from the process's script cache after the first build, as on a line that reloads.
struct EngineSide {
    TagCallState call;
    std::unique_ptr<TagTelBasic> prog;
    explicit EngineSide(const std::string& file) { prog = Build(call, file); }
    static std::unique_ptr<TagTelBasic> Build(TagCallState& call, const std::string& file) {
        call.lineKind = 0;
        call.lineNo = 0;
        return std::make_unique<TagTelBasic>(file.c_str(), 0, &call, 1, nullptr);
    }
    int64_t Run() { return prog->initResult == 0 ? prog->Run() : -1; }
};

struct LuaSide {
    lua_State* L = luaL_newstate();
    int chunk = LUA_NOREF;
    explicit LuaSide(const char* text) {
        luaL_openlibs(L);
        if (luaL_loadstring(L, text) == LUA_OK) chunk = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    ~LuaSide() { lua_close(L); }
    int64_t Run() {
        if (chunk == LUA_NOREF) return -1;
        lua_rawgeti(L, LUA_REGISTRYINDEX, chunk);
        if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
            lua_pop(L, 1);
            return -1;
        }
        int64_t r = lua_tointeger(L, -1);
        lua_pop(L, 1);
        return r;
    }
};

// One timed run: its CPU time in ns, or a negative value when the result was wrong.
template <class F> double Timed(F&& run, int64_t want) {
    double t0 = ThreadCpuNs();
    int64_t got = run();
    double t1 = ThreadCpuNs();
    return got == want ? t1 - t0 : -1;
}

// Per-round ratios of every workload, for the summary after the table.
std::map<std::string, std::vector<double>>& Ratios() {
    static std::map<std::string, std::vector<double>> r;
    return r;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Engine and Lua alternate (the engine first in even rounds); the manual time of a row is one side's CPU time.
template <class E, class L>
void Paired(benchmark::State& st, const std::string& name, E&& engine, L&& lua, int64_t want) {
    const bool engineRow = st.range(0) == 0;
    if (Timed(engine, want) < 0 || Timed(lua, want) < 0) { // warm-up, and a check of both results
        st.SkipWithError("a result is wrong");
        return;
    }
    int round = 0;
    for (auto _ : st) {
        double e, l;
        if (round++ % 2 == 0) {
            e = Timed(engine, want);
            l = Timed(lua, want);
        } else {
            l = Timed(lua, want);
            e = Timed(engine, want);
        }
        if (e < 0 || l < 0) {
            st.SkipWithError("a result is wrong");
            return;
        }
        st.SetIterationTime((engineRow ? e : l) / 1e9);
        if (engineRow) Ratios()[name].push_back(e / l);
    }
    st.SetLabel(std::string(engineRow ? "engine " : "lua ") + name);
}

void BM_Work(benchmark::State& st) {
    const Work& w = kWorks[st.range(1)];
    EngineSide engine(Space().files[st.range(1)]);
    LuaSide lua(w.lua);
    Paired(
        st, w.name, [&] { return engine.Run(); }, [&] { return lua.Run(); }, w.want);
}
BENCHMARK(BM_Work)
    ->ArgsProduct({{0, 1}, benchmark::CreateDenseRange(0, static_cast<int>(kWorkCount) - 1, 1)})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(11);

// Compile only: the engine builds the program from the cached text, Lua loads a chunk of the same shape from
// memory; neither side reads a file while it is timed, and neither side's clean-up is timed.
void BM_Compile(benchmark::State& st) {
    Workspace& w = Space();
    TagCallState call;
    std::unique_ptr<TagTelBasic> prog;
    lua_State* L = luaL_newstate();
    auto engine = [&] {
        prog = EngineSide::Build(call, w.bigFile);
        return int64_t{prog->initResult};
    };
    auto lua = [&] { return int64_t{luaL_loadbuffer(L, w.bigLua.data(), w.bigLua.size(), "big")}; };
    const bool engineRow = st.range(0) == 0;
    bool ok = engine() == 0 && lua() == LUA_OK;
    lua_settop(L, 0);
    prog.reset();
    int round = 0;
    for (auto _ : st) {
        if (!ok) break;
        double e, l;
        if (round++ % 2 == 0) {
            e = Timed(engine, 0);
            l = Timed(lua, LUA_OK);
        } else {
            l = Timed(lua, LUA_OK);
            e = Timed(engine, 0);
        }
        prog.reset();
        lua_settop(L, 0);
        ok = e >= 0 && l >= 0;
        if (!ok) break;
        st.SetIterationTime((engineRow ? e : l) / 1e9);
        if (engineRow) Ratios()["compile 10,000 lines"].push_back(e / l);
    }
    lua_close(L);
    if (!ok) st.SkipWithError("the generated script does not compile");
    st.SetLabel(engineRow ? "engine compile" : "lua load");
}
BENCHMARK(BM_Compile)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);

// Heap bytes per element of an array of 10^6 integers filled in order, engine and Lua.
double EngineBytesPerElement() {
    TagVar key, value;
    double before = HeapInUse();
    {
        TagVar a;
        for (int32_t i = 1; i <= kArrayElements; ++i) {
            key.SetInt(i);
            value.SetInt(i % 1000);
            a[key] = value;
        }
        double after = HeapInUse();
        a = TagVar(); // lets the array go
        return (after - before) / kArrayElements;
    }
}

double LuaBytesPerElement() {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_gc(L, LUA_GCCOLLECT, 0);
    double before = HeapInUse();
    luaL_dostring(L, "keep = {} for i = 1, 1000000 do keep[i] = i % 1000 end");
    lua_gc(L, LUA_GCCOLLECT, 0);
    double after = HeapInUse();
    lua_close(L);
    return (after - before) / kArrayElements;
}

// Heap bytes of one function unit as the statement compiler makes it, with its system variables.
double FunctionUnitBytes() {
    TagTelBasic main;
    constexpr int kUnits = 1000;
    std::vector<std::unique_ptr<TagTelBasic>> units;
    units.reserve(kUnits);
    double before = HeapInUse();
    for (int i = 0; i < kUnits; ++i)
        units.push_back(std::make_unique<TagTelBasic>("f.kvs", "f", &main));
    return (HeapInUse() - before) / kUnits;
}

void PrintSummary() {
    std::printf("\nEngine CPU time / Lua 5.4 CPU time, median of the per-round ratios:\n");
    for (size_t k = 0; k < kWorkCount; ++k)
        std::printf("  %-22s %6.2f\n", kWorks[k].name, Median(Ratios()[kWorks[k].name]));
    std::printf("  %-22s %6.2f\n", "compile 10,000 lines", Median(Ratios()["compile 10,000 lines"]));
    double e = EngineBytesPerElement(), l = LuaBytesPerElement();
    std::printf("Bytes per array element (10^6 integers): engine %.1f, Lua %.1f, ratio %.2f\n", e, l, e / l);
    std::printf("Bytes of one function unit with its system variables: %.0f (sizeof TagTelBasic %zu, TagVar %zu)\n",
                FunctionUnitBytes(), sizeof(TagTelBasic), sizeof(TagVar));
}

} // namespace

int main(int argc, char** argv) {
    // glibc raises its mmap threshold after large blocks are freed, so one side's frees would decide whether the
    // other side's large blocks are fresh mapped pages or reused heap (and whether realloc copies them). Both sides
    // get the allocator of a long-running process instead: large blocks from the heap, which keeps what is freed.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Space();
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}
