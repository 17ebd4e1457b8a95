// One hour of 8 kHz voice: A-law conversion, silence trimming and mixing, each timed beside sox doing the
// same work. The counter "sox_over_ours" is sox's time divided by ours: above 1 means faster than sox.
#include "media/G711.h"
#include "media/TagWaveUnits.h"
#include "media/VocIo.h"
#include "media/VocMix.h"
#include "media/WavJoin.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kHour = 3600 * kRate;

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Speech-like test sound: 5 s of silence at both ends, in between 1.2 s of a warbling tone then 0.3 s pause.
int16_t SampleAt(int32_t i, double level) {
    if (i < 5 * kRate || i >= kHour - 5 * kRate) return 0;
    if (i % 12000 >= 9600) return int16_t((i * 7) % 31 - 15);
    double t = double(i) / kRate;
    return int16_t(level * std::sin(2 * M_PI * (300 + 80 * std::sin(2 * M_PI * 3 * t)) * t));
}

void WriteWav(const std::string& path, uint16_t tag, const std::vector<uint8_t>& data) {
    zz::voc::WavFormat f{
        tag, 1, kRate, tag == 1 ? 16000u : 8000u, uint16_t(tag == 1 ? 2 : 1), uint16_t(tag == 1 ? 16 : 8)};
    auto h = zz::voc::MakeHeader44(f, uint32_t(data.size()));
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(h.data(), 1, h.size(), out);
    std::fwrite(data.data(), 1, data.size(), out);
    std::fclose(out);
}

struct Files {
    std::string dir, pcm, alaw, music;
    Files() {
        dir = (std::filesystem::temp_directory_path() / ("zz_voice_bench_" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(dir);
        pcm = dir + "/hour_pcm.wav";
        alaw = dir + "/hour_alaw.wav";
        music = dir + "/hour_music.wav";
        std::vector<uint8_t> p(2 * size_t(kHour)), a(kHour), m(kHour);
        for (int32_t i = 0; i < kHour; ++i) {
            int16_t s = SampleAt(i, 6000);
            p[2 * size_t(i)] = uint8_t(s);
            p[2 * size_t(i) + 1] = uint8_t(uint16_t(s) >> 8);
            a[size_t(i)] = zz::LinearToAlaw(s);
            m[size_t(i)] = zz::LinearToAlaw(int16_t(2000 * std::sin(2 * M_PI * 220 * i / double(kRate))));
        }
        WriteWav(pcm, 1, p);
        WriteWav(alaw, 6, a);
        WriteWav(music, 6, m);
    }
    ~Files() { std::filesystem::remove_all(dir); }
};

Files& TheFiles() {
    static Files f;
    return f;
}

double RunSox(const std::string& args) {
    double t0 = Now();
    int rc = std::system(("sox -D " + args + " 2>/dev/null").c_str());
    double t = Now() - t0;
    return rc == 0 ? t : NAN;
}

template <class Ours> void Beside(benchmark::State& state, Ours ours, const std::string& soxArgs) {
    double oursTotal = 0, soxTotal = 0;
    int64_t n = 0;
    for (auto _ : state) {
        double t0 = Now();
        ours();
        double t = Now() - t0;
        state.SetIterationTime(t);
        oursTotal += t;
        soxTotal += RunSox(soxArgs);
        ++n;
    }
    state.counters["ours_s"] = oursTotal / double(n);
    state.counters["sox_s"] = soxTotal / double(n);
    state.counters["sox_over_ours"] = soxTotal / oursTotal;
}

void BM_HourPcmToAlaw(benchmark::State& state) {
    Files& f = TheFiles();
    std::string out = f.dir + "/conv.wav", soxOut = f.dir + "/conv_sox.wav";
    Beside(
        state, [&] { benchmark::DoNotOptimize(zz::ConvertPcmWavToAlaw(f.pcm, out)); },
        f.pcm + " -e a-law -b 8 " + soxOut);
}

void BM_HourTrimSilence(benchmark::State& state) {
    Files& f = TheFiles();
    std::string out = f.dir + "/trim.wav", soxOut = f.dir + "/trim_sox.wav";
    // sox trims both ends by reversing the sound twice around its leading-silence effect.
    Beside(
        state,
        [&] {
            zz::TagWaveUnits units(f.alaw);
            benchmark::DoNotOptimize(zz::WriteTrimmedWave(units, out));
        },
        f.alaw + " " + soxOut + " silence 1 0.0525 1.4% reverse silence 1 0.0525 1.4% reverse");
}

void BM_HourMix(benchmark::State& state) {
    Files& f = TheFiles();
    std::string out = f.dir + "/mix.wav", soxOut = f.dir + "/mix_sox.wav";
    Beside(
        state, [&] { benchmark::DoNotOptimize(zz::MixVocFiles(f.alaw, 1.0f, 0, f.music, 1.0f, out)); },
        "-m -v 1 " + f.alaw + " -v 1 " + f.music + " -e a-law -b 8 " + soxOut);
}

} // namespace

BENCHMARK(BM_HourPcmToAlaw)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HourTrimSilence)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HourMix)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
