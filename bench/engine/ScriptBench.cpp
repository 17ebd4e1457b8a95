// Speed of the script engine beside Lua 5.4 on the same work: statements per second of a compiled loop (integer
// arithmetic, string joining, array stores and loads, user-function calls), the same loop in Lua, both timed in
// one run for their ratio, and the compile time of a generated 10,000-line script.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <lua.hpp>
#include <time.h>
#include <unistd.h>

#include "builtins/BuiltinTable.h"
#include "engine/TagCallState.h"
#include "engine/TagTelBasic.h"

namespace {

using namespace zz;

// <chrono> does not build with the GBK execution character set; the monotonic clock in nanoseconds.
double NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

constexpr int kPasses = 20000;
// Statements one pass runs: the loop test, the nine statements of the body and the function's return.
constexpr int kStatementsPerPass = 11;
constexpr int kGeneratedLines = 10000;

const char* const kEngineLoop = R"(function add3(a, b, c)
{
    return(a + b + c);
}
i = 0;
s = "";
total = 0;
while(i < %d)
{
    x = i * 3 + 7;
    y = x %% 11;
    total = total + y;
    s = "k" + y;
    arr[y] = s;
    t = arr[y];
    r = add3(y, 1, 2);
    total = total + r;
    i = i + 1;
}
return(total);
)";

const char* const kLuaLoop = R"(local n = ...
local function add3(a, b, c) return a + b + c end
local i, s, total, arr = 0, "", 0, {}
while i < n do
    local x = i * 3 + 7
    local y = x % 11
    total = total + y
    s = "k" .. y
    arr[y] = s
    local t = arr[y]
    local r = add3(y, 1, 2)
    total = total + r
    i = i + 1
end
return total
)";

// One kind of work per loop, to see where the time goes: the body's statements, then the same body in Lua.
struct KindLoop {
    const char* name;
    int statements; // per pass: the loop test, the body, the increment (and a called function's return)
    const char* engineBody;
    const char* luaPrologue;
    const char* luaBody;
};
const KindLoop kKinds[] = {
    {"integer", 5, "    x = i * 3 + 7;\n    y = x % 11;\n    total = total + y;\n", "",
     "local x = i * 3 + 7\nlocal y = x % 11\ntotal = total + y\n"},
    {"string", 4, "    s = \"k\" + i;\n    u = s + \"z\";\n", "local s, u\n", "s = \"k\" .. i\nu = s .. \"z\"\n"},
    {"array", 5, "    y = i % 64;\n    arr[y] = i;\n    t = arr[y];\n", "local arr, t = {}\n",
     "local y = i % 64\narr[y] = i\nt = arr[y]\n"},
    {"call", 4, "    r = add3(i, 1, 2);\n", "local function add3(a, b, c) return a + b + c end\nlocal r\n",
     "r = add3(i, 1, 2)\n"},
};

std::string EngineKindScript(const KindLoop& k) {
    return std::string("function add3(a, b, c)\n{\n    return(a + b + c);\n}\ni = 0;\ntotal = 0;\ns = \"\";\n") +
           "if(0)\n{\n    r = add3(1, 2, 3);\n}\nwhile(i < " + std::to_string(kPasses) + ")\n{\n" + k.engineBody +
           "    i = i + 1;\n}\nreturn(i);\n";
}

std::string LuaKindScript(const KindLoop& k) {
    return std::string("local n = ...\nlocal i, total = 0, 0\n") + k.luaPrologue + "while i < n do\n" + k.luaBody +
           "i = i + 1\nend\nreturn i\n";
}

int64_t ExpectedTotal() {
    int64_t total = 0;
    for (int64_t i = 0; i < kPasses; ++i)
        total += 2 * ((i * 3 + 7) % 11) + 3;
    return total;
}

// The engine writes its error log into the working directory: the benchmarks work in a folder of their own,
// holding the loop script and the generated one.
struct Workspace {
    std::filesystem::path dir;
    std::string loopFile, bigFile;
    std::string kindFiles[std::size(kKinds)];

    Workspace() {
        dir = std::filesystem::temp_directory_path() / ("zz_script_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        char text[2048];
        std::snprintf(text, sizeof text, kEngineLoop, kPasses);
        loopFile = (dir / "loop.kvs").string();
        std::ofstream(loopFile) << text;
        for (size_t k = 0; k < std::size(kKinds); ++k) {
            kindFiles[k] = (dir / (std::string(kKinds[k].name) + ".kvs")).string();
            std::ofstream(kindFiles[k]) << EngineKindScript(kKinds[k]);
        }
        bigFile = (dir / "big.kvs").string();
        std::ofstream big(bigFile);
        // Ten-line blocks over a hundred variable groups, like a long script with a usual number of names.
        for (int line = 0, k = 0; line + 10 < kGeneratedLines; line += 10, ++k) {
            int g = k % 100;
            big << "v" << g << " = " << k << " * 3 + 1;\n"
                << "w" << g << " = v" << g << " % 7;\n"
                << "if(w" << g << " > 3)\n{\n    s" << g << " = \"a\" + w" << g << ";\n}\nelse\n{\n    s" << g
                << " = \"b\";\n}\n"
                << "arr[w" << g << "] = v" << g << ";\n";
        }
        for (int line = (kGeneratedLines - 1) / 10 * 10; line < kGeneratedLines - 1; ++line)
            big << "x = 1;\n";
        big << "return(0);\n";
    }
    ~Workspace() {
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
        std::filesystem::remove_all(dir, ec);
    }
};

Workspace& Work() {
    static Workspace w;
    return w;
}

// A program on a virtual line numbered 0, so that building it never waits for an idle processor.
std::unique_ptr<TagTelBasic> Build(TagCallState& call, const std::string& file) {
    RegisterBuiltins();
    call.lineKind = 0; // a virtual line
    call.lineNo = 0;
    return std::make_unique<TagTelBasic>(file.c_str(), 0, &call, 1, nullptr);
}

struct Lua {
    lua_State* L = luaL_newstate();
    int chunk = LUA_NOREF;

    explicit Lua(const char* text = kLuaLoop) {
        luaL_openlibs(L);
        if (luaL_loadstring(L, text) == LUA_OK) chunk = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    ~Lua() { lua_close(L); }
    // Runs the loop once: its total, or -1 when Lua failed.
    int64_t Run() {
        lua_rawgeti(L, LUA_REGISTRYINDEX, chunk);
        lua_pushinteger(L, kPasses);
        if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
            lua_pop(L, 1);
            return -1;
        }
        int64_t total = lua_tointeger(L, -1);
        lua_pop(L, 1);
        return total;
    }
};

void BM_EngineLoop(benchmark::State& state) {
    Workspace& w = Work();
    const int64_t want = ExpectedTotal();
    for (auto _ : state) {
        state.PauseTiming();
        TagCallState call;
        auto prog = Build(call, w.loopFile);
        state.ResumeTiming();
        int32_t got = prog->initResult == 0 ? prog->Run() : -1;
        state.PauseTiming();
        prog.reset();
        state.ResumeTiming();
        if (got != want) {
            state.SkipWithError("the script's total is wrong");
            break;
        }
    }
    state.counters["statements/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPasses * kStatementsPerPass, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineLoop)->Unit(benchmark::kMillisecond);

void BM_LuaLoop(benchmark::State& state) {
    Lua lua;
    const int64_t want = ExpectedTotal();
    for (auto _ : state) {
        if (lua.Run() != want) {
            state.SkipWithError("Lua's total is wrong");
            break;
        }
    }
    state.counters["statements/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPasses * kStatementsPerPass, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LuaLoop)->Unit(benchmark::kMillisecond);

// Both loops timed side by side in each iteration; "engine/lua" is how many times longer the engine takes.
void BM_LoopEngineVsLua(benchmark::State& state) {
    Workspace& w = Work();
    Lua lua;
    const int64_t want = ExpectedTotal();
    double engineNs = 0, luaNs = 0;
    for (auto _ : state) {
        TagCallState call;
        auto prog = Build(call, w.loopFile);
        double t0 = NowNs();
        int32_t got = prog->initResult == 0 ? prog->Run() : -1;
        double t1 = NowNs();
        int64_t luaGot = lua.Run();
        double t2 = NowNs();
        prog.reset();
        if (got != want || luaGot != want) {
            state.SkipWithError("a total is wrong");
            break;
        }
        engineNs += t1 - t0;
        luaNs += t2 - t1;
    }
    if (luaNs > 0) {
        state.counters["engine_ms"] = engineNs / 1e6 / static_cast<double>(state.iterations());
        state.counters["lua_ms"] = luaNs / 1e6 / static_cast<double>(state.iterations());
        state.counters["engine/lua"] = engineNs / luaNs;
    }
}
BENCHMARK(BM_LoopEngineVsLua)->Unit(benchmark::kMillisecond)->Iterations(10);

// Each kind of work alone, engine and Lua timed side by side as above.
void BM_KindEngineVsLua(benchmark::State& state) {
    Workspace& w = Work();
    const KindLoop& kind = kKinds[state.range(0)];
    state.SetLabel(kind.name);
    std::string luaText = LuaKindScript(kind);
    Lua lua(luaText.c_str());
    double engineNs = 0, luaNs = 0;
    for (auto _ : state) {
        TagCallState call;
        auto prog = Build(call, w.kindFiles[state.range(0)]);
        double t0 = NowNs();
        int32_t got = prog->initResult == 0 ? prog->Run() : -1;
        double t1 = NowNs();
        int64_t luaGot = lua.Run();
        double t2 = NowNs();
        prog.reset();
        if (got != kPasses || luaGot != kPasses) {
            state.SkipWithError("a loop did not run to its end");
            break;
        }
        engineNs += t1 - t0;
        luaNs += t2 - t1;
    }
    if (luaNs > 0) {
        double passes = static_cast<double>(state.iterations()) * kPasses * kind.statements;
        state.counters["engine_stmts/s"] = passes / (engineNs / 1e9);
        state.counters["lua_stmts/s"] = passes / (luaNs / 1e9);
        state.counters["engine/lua"] = engineNs / luaNs;
    }
}
BENCHMARK(BM_KindEngineVsLua)
    ->DenseRange(0, static_cast<int>(std::size(kKinds)) - 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void BM_Compile10kLines(benchmark::State& state) {
    Workspace& w = Work();
    for (auto _ : state) {
        TagCallState call;
        auto prog = Build(call, w.bigFile);
        state.PauseTiming();
        bool ok = prog->initResult == 0;
        prog.reset();
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("the generated script does not compile");
            break;
        }
    }
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kGeneratedLines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Compile10kLines)->Unit(benchmark::kMillisecond);

// Lua's compile of a script of the same shape, for scale.
void BM_LuaCompile10kLines(benchmark::State& state) {
    std::string text;
    for (int line = 0, k = 0; line + 10 < kGeneratedLines; line += 10, ++k) {
        std::string g = std::to_string(k % 100), n = std::to_string(k);
        text += "v" + g + " = " + n + " * 3 + 1\nw" + g + " = v" + g + " % 7\nif w" + g + " > 3 then\n    s" + g +
                " = \"a\" .. w" + g + "\n\nelse\n\n    s" + g + " = \"b\"\nend\narr[w" + g + "] = v" + g + "\n";
    }
    text += "return 0\n";
    lua_State* L = luaL_newstate();
    for (auto _ : state) {
        if (luaL_loadstring(L, text.c_str()) != LUA_OK) {
            state.SkipWithError("the generated Lua does not compile");
            break;
        }
        lua_pop(L, 1);
    }
    lua_close(L);
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kGeneratedLines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LuaCompile10kLines)->Unit(benchmark::kMillisecond);

} // namespace
