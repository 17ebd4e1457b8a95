// Writes ReVivIra.dat, the syllable voice library of the built-in pinyin speech:
//   - the pinyin table: one 10-byte record per GB2312 position from B0A1 to F7FE (94 a row), the reading in
//     upper case with its tone digit ("ZHONG1", "LV4"; 5 is the neutral tone), padded with spaces to 7 bytes,
//     then NUL, NUL, NUL; readings come from Rime's Terra Pinyin dictionary (package rime-data-terra-pinyin),
//     the most frequent reading of each character, and positions without one stay all NUL;
//   - one sound per syllable name: every reading of the table, the readings of the polyphone words, the digits
//     "0"-"9" (said in Mandarin), the letters "A"-"Z" (said in English), "mute" (250 ms of silence) and the sign
//     words DIAN3, ZHENG4, JIA1, FU4, JIAN3; spoken by espeak-ng's Mandarin voice reading pinyin
//     (cmn-latn-pinyin; letters by its English voice), silence trimmed, resampled by sox to 8000 Hz A-law,
//     at most 10240 bytes each;
//   - the index: N entries of 16 bytes (8 name bytes, offset from the sound area, length), sorted by name.
// The 8 name bytes (the name padded with NUL) are stored each XORed with 0xA5; XOR again restores them.
// Layout: N, S (sound area offset), L (its length) as u32 little-endian; the index at 12; sounds at S;
// the pinyin table from S + L to the end.
//
// usage: zz_make_voclib OUTPUT_DIR [TERRA_PINYIN_DICT_YAML]
#include <espeak-ng/speak_lib.h>

#include "platform/FileHandle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kRows = 0xF7 - 0xB0 + 1;
constexpr size_t kMaxSound = 10240;
constexpr unsigned char kNameKey = 0xA5;

std::vector<short>* g_samples = nullptr;

int Collect(short* wav, int count, espeak_EVENT*) {
    if (wav && count > 0) g_samples->insert(g_samples->end(), wav, wav + count);
    return 0;
}

std::string ToGb2312(iconv_t cd, const std::string& utf8) {
    char out[8];
    char* src = const_cast<char*>(utf8.data());
    size_t left = utf8.size();
    char* dst = out;
    size_t room = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &left, &dst, &room) == (size_t)-1) return {};
    return std::string(out, size_t(dst - out));
}

bool IsSyllable(const std::string& s) {
    if (s.size() < 2 || s.size() > 7) return false;
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] < 'a' || s[i] > 'z') return false;
    return s.back() >= '1' && s.back() <= '5';
}

// Table position of a GB2312 character -> upper-case reading, by the dictionary's weights.
std::map<size_t, std::string> ReadDictionary(const char* path) {
    std::ifstream in(path);
    iconv_t cd = iconv_open("GB2312", "UTF-8");
    std::map<size_t, std::pair<double, std::string>> best;
    std::string line;
    bool body = false;
    while (std::getline(in, line)) {
        if (!body) {
            body = line == "...";
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        size_t t2 = line.find('\t', t1 + 1);
        std::string ch = line.substr(0, t1);
        std::string py = line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1);
        double weight = t2 == std::string::npos ? 0 : atof(line.c_str() + t2 + 1);
        if (!IsSyllable(py)) continue;
        std::string gb = ToGb2312(cd, ch);
        if (gb.size() != 2) continue;
        unsigned char b = (unsigned char)gb[0], c = (unsigned char)gb[1];
        if (b < 0xB0 || b > 0xF7 || c < 0xA1 || c > 0xFE) continue;
        size_t pos = (b - 0xB0) * 94u + (c - 0xA1);
        for (char& k : py)
            k = char(toupper((unsigned char)k));
        auto it = best.find(pos);
        if (it == best.end() || weight > it->second.first) best[pos] = {weight, py};
    }
    iconv_close(cd);
    std::map<size_t, std::string> table;
    for (auto& [pos, wr] : best)
        table[pos] = wr.second;
    return table;
}

// The text espeak-ng is given for a syllable name, and whether it is said by the English voice.
std::string SpokenText(const std::string& name, bool& english) {
    static const char* const kDigits[10] = {"ling2", "yi1", "er4", "san1", "si4", "wu3", "liu4", "qi1", "ba1", "jiu3"};
    english = false;
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return kDigits[name[0] - '0'];
    if (name.size() == 1 && name[0] >= 'A' && name[0] <= 'Z') {
        english = true;
        return name;
    }
    std::string s = name;
    for (char& k : s)
        k = char(tolower((unsigned char)k));
    return s;
}

std::vector<short> Speak(const std::string& text) {
    std::vector<short> samples;
    g_samples = &samples;
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    espeak_Synchronize();
    // Trim the silence espeak-ng puts around a word, keeping 10 ms.
    const int threshold = 300;
    size_t a = 0, b = samples.size();
    while (a < b && std::abs(samples[a]) < threshold)
        ++a;
    while (b > a && std::abs(samples[b - 1]) < threshold)
        --b;
    a = a > 220 ? a - 220 : 0;
    b = std::min(samples.size(), b + 220);
    return std::vector<short>(samples.begin() + long(a), samples.begin() + long(b));
}

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(char(v >> (8 * i)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s OUTPUT_DIR [TERRA_PINYIN_DICT_YAML]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const char* dict = argc == 3 ? argv[2] : "/usr/share/rime-data/terra_pinyin.dict.yaml";
    std::map<size_t, std::string> readings = ReadDictionary(dict);
    if (readings.empty()) {
        fprintf(stderr, "no readings in %s\n", dict);
        return 1;
    }
    std::set<std::string> names;
    for (auto& [pos, r] : readings)
        names.insert(r);
    for (const char* n :
         {"CHONG2", "HANG2", "E1", "NI2", "SHA4", "TIAO2", "ZHANG3", "DIAN3", "ZHENG4", "JIA1", "FU4", "JIAN3", "mute"})
        names.insert(n);
    for (char c = '0'; c <= '9'; ++c)
        names.insert(std::string(1, c));
    for (char c = 'A'; c <= 'Z'; ++c)
        names.insert(std::string(1, c));

    int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
    if (rate <= 0) {
        fprintf(stderr, "espeak-ng did not start\n");
        return 1;
    }
    espeak_SetSynthCallback(Collect);
    // All speech at the voice's rate, one stream with 100 ms gaps so that resampling keeps the sounds apart.
    std::vector<short> stream;
    std::map<std::string, std::pair<size_t, size_t>> spans;
    const size_t gap = size_t(rate) / 10;
    std::string voice;
    for (const std::string& name : names) {
        if (name == "mute") continue;
        bool english;
        std::string text = SpokenText(name, english);
        const char* want = english ? "en" : "cmn-latn-pinyin";
        if (voice != want && espeak_SetVoiceByName(want) != EE_OK) {
            fprintf(stderr, "espeak-ng has no voice %s\n", want);
            return 1;
        }
        voice = want;
        std::vector<short> s = Speak(text);
        stream.insert(stream.end(), gap, 0);
        spans[name] = {stream.size(), stream.size() + s.size()};
        stream.insert(stream.end(), s.begin(), s.end());
    }
    stream.insert(stream.end(), gap, 0);
    espeak_Terminate();

    std::string raw = dir + "/.voclib.s16", alaw = dir + "/.voclib.al";
    zz::FileHandle rawFile = zz::FileHandle::Open(raw.c_str(), "wb");
    if (!rawFile || fwrite(stream.data(), 2, stream.size(), rawFile.get()) != stream.size() || rawFile.Close() != 0) {
        perror(raw.c_str());
        return 1;
    }
    std::string cmd = "sox -G -t raw -r " + std::to_string(rate) + " -e signed-integer -b 16 -c 1 -L '" + raw +
                      "' -t raw -r 8000 -e a-law -b 8 -c 1 '" + alaw + "'";
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "sox failed: %s\n", cmd.c_str());
        return 1;
    }
    std::ifstream in(alaw, std::ios::binary);
    std::string low((std::istreambuf_iterator<char>(in)), {});
    unlink(raw.c_str());
    unlink(alaw.c_str());

    std::string index, area;
    for (const std::string& name : names) {
        std::string sound;
        if (name == "mute") {
            sound.assign(2000, char(0xD5));
        } else {
            auto [a, b] = spans[name];
            size_t from = size_t(std::llround(double(a) * 8000 / rate));
            size_t to = std::min(low.size(), size_t(std::llround(double(b) * 8000 / rate)));
            if (from < to) sound = low.substr(from, std::min(to - from, kMaxSound));
        }
        char padded[8] = {};
        memcpy(padded, name.data(), std::min<size_t>(8, name.size()));
        for (char c : padded)
            index.push_back(char((unsigned char)c ^ kNameKey));
        Put32(index, uint32_t(area.size()));
        Put32(index, uint32_t(sound.size()));
        area += sound;
    }
    std::string table(kRows * 94 * 10, '\0');
    for (auto& [pos, r] : readings) {
        std::string rec = r + std::string(7 - r.size(), ' ');
        table.replace(pos * 10, 7, rec);
    }
    std::string out;
    Put32(out, uint32_t(names.size()));
    Put32(out, uint32_t(12 + index.size()));
    Put32(out, uint32_t(area.size()));
    out += index + area + table;
    std::string path = dir + "/ReVivIra.dat";
    zz::FileHandle lib = zz::FileHandle::Open(path.c_str(), "wb");
    if (!lib || fwrite(out.data(), 1, out.size(), lib.get()) != out.size() || lib.Close() != 0) {
        perror(path.c_str());
        return 1;
    }
    printf("%s: %zu syllables, %zu characters, %zu bytes\n", path.c_str(), names.size(), readings.size(), out.size());
    return 0;
}
