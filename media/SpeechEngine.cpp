#include "media/SpeechEngine.h"

#include "platform/Gbk.h"
#include "platform/LazyLibrary.h"
#include "platform/audio/Audio.h"

#include <espeak-ng/speak_lib.h>
#include <samplerate.h>

#include <cstring>
#include <mutex>

#include "media/VocIo.h"

namespace zz {

namespace {

// espeak-ng keeps one global state: everything that touches it holds this lock.
std::mutex g_engineLock;
bool g_engineTried = false;
int g_engineRate = 0; // sample rate of the engine, 0 when it did not start
std::vector<int16_t>* g_sink = nullptr;
const std::function<bool()>* g_stop = nullptr; // the speaking line's stop test, under g_engineLock
bool g_stopped = false;

// espeak-ng is loaded on the first speech, not linked: it brings the sound servers' and codecs' libraries along,
// whose loading would cost every start of the platform several milliseconds of processor time. libsamplerate,
// which only brings the engine's output to 8 kHz, comes with it.
#define ZZ_ESPEAK_FUNCTIONS(X)                                                                                         \
    X(espeak_Initialize)                                                                                               \
    X(espeak_SetSynthCallback)                                                                                         \
    X(espeak_SetVoiceByName)                                                                                           \
    X(espeak_Synth)
#define ZZ_SAMPLERATE_FUNCTIONS(X)                                                                                     \
    X(src_simple)                                                                                                      \
    X(src_short_to_float_array)                                                                                        \
    X(src_float_to_short_array)
struct EspeakApi {
    ZZ_ESPEAK_FUNCTIONS(ZZ_LAZY_FIELD)
    ZZ_SAMPLERATE_FUNCTIONS(ZZ_LAZY_FIELD)
};
EspeakApi g_espeak;

// Under g_engineLock; false when a library or one of its functions is missing (speech then fails as when the
// engine does not start).
bool LoadEspeak() {
    static LazyLibrary espeak("libespeak-ng.so.1");
    static LazyLibrary samplerate("libsamplerate.so.0");
    EspeakApi& api = g_espeak;
    return espeak.Ready([&api](LazyLibrary& lib) { return true ZZ_ESPEAK_FUNCTIONS(ZZ_LAZY_BIND); }) &&
           samplerate.Ready([&api](LazyLibrary& lib) { return true ZZ_SAMPLERATE_FUNCTIONS(ZZ_LAZY_BIND); });
}

// Returning 1 makes the engine end the speech.
int CollectSamples(short* wav, int count, espeak_EVENT*) {
    if (g_stop && *g_stop && (*g_stop)()) {
        g_stopped = true;
        return 1;
    }
    if (wav && count > 0 && g_sink) g_sink->insert(g_sink->end(), wav, wav + count);
    return 0;
}

// Mandarin reads the pinyin its dictionary gives as pinyin in the "cmn-latn-pinyin" variant; plain "cmn" reads
// it as English letters and digits on Debian's data. Plain "cmn" stays the fallback.
espeak_ERROR SelectVoice(SpeechLang lang) {
    if (lang != SpeechLang::Chinese) return g_espeak.espeak_SetVoiceByName("en");
    if (g_espeak.espeak_SetVoiceByName("cmn-latn-pinyin") == EE_OK) return EE_OK;
    return g_espeak.espeak_SetVoiceByName("cmn");
}

int32_t InitLocked() {
    if (!g_engineTried) {
        g_engineTried = true;
        int rate = LoadEspeak()
                       ? g_espeak.espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT)
                       : 0;
        if (rate > 0) {
            g_engineRate = rate;
            g_espeak.espeak_SetSynthCallback(CollectSamples);
        }
    }
    return g_engineRate > 0 ? kHrOk : kHrClassNotReg;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The value of attribute `name` inside one tag's text, or "".
std::string Attribute(const std::string& tag, const char* name) {
    std::string low = Lower(tag);
    size_t p = low.find(name);
    if (p == std::string::npos) return "";
    p = low.find('=', p);
    if (p == std::string::npos) return "";
    size_t q = tag.find_first_of("\"'", p);
    if (q == std::string::npos) return "";
    size_t e = tag.find(tag[q], q + 1);
    return e == std::string::npos ? "" : tag.substr(q + 1, e - q - 1);
}

// The speech interface's markup turned into what espeak-ng reads: SILENCE becomes a break, EMPH emphasis, the
// language comes from LANG; every other element is dropped and its text kept.
std::string ConvertMarkup(const std::string& text, SpeechLang& lang) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t lt = text.find('<', i);
        if (lt == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, lt - i);
        size_t gt = text.find('>', lt);
        if (gt == std::string::npos) break; // an unclosed element ends the text, as an XML reader would
        std::string tag = text.substr(lt + 1, gt - lt - 1);
        bool closing = !tag.empty() && tag[0] == '/';
        std::string name = Lower(tag.substr(closing ? 1 : 0));
        name = name.substr(0, name.find_first_of(" \t\r\n/"));
        if (name == "lang" && !closing && lang == SpeechLang::Auto) {
            std::string id = Lower(Attribute(tag, "langid"));
            if (id == "804" || id == "4" || id == "1004")
                lang = SpeechLang::Chinese;
            else if (!id.empty())
                lang = SpeechLang::English;
        } else if (name == "silence") {
            std::string ms = Attribute(tag, "msec");
            if (!ms.empty() && ms.find_first_not_of("0123456789") == std::string::npos)
                out += "<break time=\"" + ms + "ms\"/>";
        } else if (name == "emph") {
            out += closing ? "</emphasis>" : "<emphasis>";
        }
        i = gt + 1;
    }
    return out;
}

bool HasDoubleByte(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x81) return true;
    return false;
}

void Resample(const std::vector<int16_t>& in, int rate, std::vector<int16_t>& out) {
    out.clear();
    if (in.empty()) return;
    if (rate == 8000) {
        out = in;
        return;
    }
    std::vector<float> fin(in.size());
    g_espeak.src_short_to_float_array(in.data(), fin.data(), int(in.size()));
    double ratio = 8000.0 / rate;
    std::vector<float> fout(size_t(double(in.size()) * ratio) + 64);
    SRC_DATA d{};
    d.data_in = fin.data();
    d.data_out = fout.data();
    d.input_frames = long(fin.size());
    d.output_frames = long(fout.size());
    d.src_ratio = ratio;
    d.end_of_input = 1;
    if (g_espeak.src_simple(&d, SRC_SINC_MEDIUM_QUALITY, 1) != 0) return;
    out.resize(size_t(d.output_frames_gen));
    g_espeak.src_float_to_short_array(fout.data(), out.data(), int(out.size()));
}

} // namespace

int32_t SpeechEngineInit() {
    std::lock_guard<std::mutex> lk(g_engineLock);
    return InitLocked();
}

std::string WrapLang(const std::string& text, bool chinese) {
    return std::string(chinese ? "<LANG LANGID=\"804\">" : "<LANG LANGID=\"409\">") + text + "</LANG>";
}

int32_t SpeechSynthesize(const std::string& gbkText, SpeechLang lang, bool markup, std::vector<int16_t>& out,
                         const std::function<bool()>& stop) {
    out.clear();
    std::string text = markup ? ConvertMarkup(gbkText, lang) : gbkText;
    if (lang == SpeechLang::Auto) lang = HasDoubleByte(text) ? SpeechLang::Chinese : SpeechLang::English;
    std::string utf8 = GbkToUtf8(text);
    std::vector<int16_t> raw;
    int rate;
    {
        std::lock_guard<std::mutex> lk(g_engineLock);
        int32_t hr = InitLocked();
        if (hr != kHrOk) return hr;
        if (SelectVoice(lang) != EE_OK) return kHrClassNotReg;
        g_sink = &raw;
        g_stop = &stop;
        g_stopped = false;
        espeak_ERROR e = g_espeak.espeak_Synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0,
                                               espeakCHARS_UTF8 | (markup ? espeakSSML : 0), nullptr, nullptr);
        g_sink = nullptr;
        g_stop = nullptr;
        if (g_stopped) return kHrAbort;
        if (e != EE_OK) return kHrFail;
        rate = g_engineRate;
    }
    Resample(raw, rate, out);
    return kHrOk;
}

int32_t WriteSpeechWav(FILE* f, const std::vector<int16_t>& samples, int formatCode) {
    uint16_t tag = 1, bits = 8;
    if (formatCode == 0)
        bits = 16;
    else if (formatCode == 1)
        tag = 6;
    else if (formatCode == 2)
        tag = 7;
    const uint16_t align = bits / 8;
    std::vector<uint8_t> data;
    data.reserve(samples.size() * align);
    for (int16_t s : samples) {
        if (tag == 6) {
            data.push_back(G711AlawEncode(s));
        } else if (tag == 7) {
            data.push_back(G711UlawEncode(s));
        } else if (bits == 8) {
            data.push_back(uint8_t((s >> 8) + 128));
        } else {
            data.push_back(uint8_t(uint16_t(s)));
            data.push_back(uint8_t(uint16_t(s) >> 8));
        }
    }
    auto h = voc::MakeHeader46({uint16_t(tag), 1, 8000, 8000u * align, uint16_t(align), uint16_t(bits)},
                               uint32_t(data.size()));
    if (fwrite(h.data(), 1, h.size(), f) != h.size()) return kHrAccessDenied;
    if (!data.empty() && fwrite(data.data(), 1, data.size(), f) != data.size()) return kHrAccessDenied;
    return fflush(f) == 0 ? kHrOk : kHrAccessDenied;
}

} // namespace zz
