// The same patterns and subjects timed with our engine, std::regex and PCRE2 (interpreter, no JIT); at the end the
// ratios ours / std::regex and ours / PCRE2 are printed (below 1 means ours is faster).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdio>
#include <map>
#include <random>
// std::regex trips a false maybe-uninitialized warning in libstdc++ 12 under the sanitizers
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <string>
#include <vector>

#include "regex/CRegexpT.h"

namespace {

struct Case {
    const char* name;
    std::string pattern;
    std::string subject;
};

std::string Words(size_t bytes, unsigned seed) {
    static const char* words[] = {"the",  "call",   "line", "voice",    "queue", "agent", "number", "ring",   "answer",
                                  "dial", "record", "play", "transfer", "hold",  "menu",  "key",    "script", "trunk"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < bytes) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += (rng() % 12 == 0) ? "\n" : " ";
    }
    return s;
}

std::vector<Case> Cases() {
    std::vector<Case> c;
    std::string mb = Words(1 << 20, 1);
    c.push_back({"literal_1MB", "callback", mb + "callback"});

    std::string alt = "\\b(?:alpha|bravo|charlie|delta|echo|foxtrot|golf|hotel|india|juliet|kilo|lima|mike|"
                      "november|oscar|papa|quebec|romeo|sierra|tango)\\b";
    std::string words = Words(100000, 2);
    for (size_t i = 0; i < words.size(); i += 997)
        words.insert(i, "oscar ");
    c.push_back({"alternation_20_words", alt, words});

    std::string doubled = Words(100000, 3);
    for (size_t i = 0; i < doubled.size(); i += 1499)
        doubled.insert(i, "hold hold ");
    c.push_back({"backreference", "\\b(\\w+) \\1\\b", doubled});

    std::string csv;
    std::mt19937 rng(4);
    for (int i = 0; i < 2000; ++i)
        csv += "field" + std::to_string(rng() % 1000) + ",value" + std::to_string(rng()) + ",tail" + std::to_string(i) +
               ";x=" + std::to_string(rng() % 77) + "\n";
    c.push_back({"greedy_dotstar", "(.*),(.*),(.*);(.*)=", csv});

    std::string mail = Words(100000, 5);
    for (size_t i = 0; i < mail.size(); i += 1201)
        mail.insert(i, "agent.no7@call-centre.example.com ");
    c.push_back({"class_heavy", "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}", mail});
    return c;
}

int CountOurs(const zz::CRegexpT& re, const std::string& s) {
    zz::CContext ctx;
    re.PrepareMatch(s.data(), int(s.size()), 0, &ctx);
    int n = 0;
    while (re.Match(&ctx).IsMatched())
        ++n;
    return n;
}

int CountStd(const std::regex& re, const std::string& s) {
    return int(std::distance(std::sregex_iterator(s.begin(), s.end(), re), std::sregex_iterator()));
}

int CountPcre(pcre2_code* code, pcre2_match_data* md, const std::string& s) {
    int n = 0;
    PCRE2_SIZE at = 0;
    while (at <= s.size()) {
        int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), at, 0, md, nullptr);
        if (rc < 0) break;
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        ++n;
        at = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    return n;
}

std::map<std::string, double> g_times;

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            g_times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    static std::vector<Case> cases = Cases();
    static std::vector<std::unique_ptr<zz::CRegexpT>> ours;
    static std::vector<std::regex> stds;
    static std::vector<pcre2_code*> pcres;
    pcre2_match_data* md = pcre2_match_data_create(32, nullptr);
    for (const Case& c : cases) {
        ours.push_back(std::make_unique<zz::CRegexpT>(c.pattern.c_str()));
        stds.emplace_back(c.pattern);
        int err;
        PCRE2_SIZE off;
        pcres.push_back(
            pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern.data()), c.pattern.size(), 0, &err, &off, nullptr));
        const int a = CountOurs(*ours.back(), c.subject), b = CountStd(stds.back(), c.subject),
                  p = CountPcre(pcres.back(), md, c.subject);
        std::printf("%-22s matches: ours %d, std::regex %d, PCRE2 %d%s\n", c.name, a, b, p,
                    (a == b && b == p) ? "" : "  (differ)");
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string name = cases[i].name;
        benchmark::RegisterBenchmark((name + "/ours").c_str(), [i](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(CountOurs(*ours[i], cases[i].subject));
        });
        benchmark::RegisterBenchmark((name + "/std_regex").c_str(), [i](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(CountStd(stds[i], cases[i].subject));
        });
        benchmark::RegisterBenchmark((name + "/pcre2").c_str(), [i, md](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(CountPcre(pcres[i], md, cases[i].subject));
        });
    }
    // A pattern that backtracks without end on 28 bytes: the time our engine takes to give up at its step limit.
    benchmark::RegisterBenchmark("runaway_gives_up/ours", [](benchmark::State& st) {
        static const zz::CRegexpT runaway("(a*)*b");
        static const std::string subject = std::string(28, 'a') + "c";
        for (auto _ : st)
            benchmark::DoNotOptimize(runaway.Match(subject.c_str()).IsMatched());
    })->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-22s %14s %14s\n", "case", "ours/std", "ours/pcre2");
    for (const Case& c : cases) {
        const std::string n = c.name;
        if (!g_times.count(n + "/ours")) continue;
        const double o = g_times[n + "/ours"];
        std::printf("%-22s %14.2f %14.2f\n", c.name, o / g_times[n + "/std_regex"], o / g_times[n + "/pcre2"]);
    }
    for (pcre2_code* p : pcres)
        pcre2_code_free(p);
    pcre2_match_data_free(md);
    benchmark::Shutdown();
    return 0;
}
