#include "platform/audio/Audio.h"
#include "platform/FileHandle.h"

#include "platform/audio/AlsaAudio.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace zz {

AudioFormat Pcm16Mono8k() {
    return AudioFormat{};
}

bool AudioFormatSupported(const AudioFormat& f) {
    if (f.channels < 1 || f.channels > 2 || f.rate == 0) return false;
    if (f.tag == 1) return f.bits == 16 || f.bits == 8;
    if (f.tag == 6 || f.tag == 7) return f.bits == 8;
    return false;
}

int AudioOut::Write(const void* data, size_t len) {
    uint32_t level = Volume();
    if (level == 0xFFFFFFFF) return WriteRaw(static_cast<const uint8_t*>(data), len);
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + len);
    ApplyAudioVolume(fmt_, level, copy.data(), copy.size());
    return WriteRaw(copy.data(), copy.size());
}

// ---- back end in force

namespace {
std::atomic<AudioBackend*> g_backend{nullptr};
} // namespace

AudioBackend& GetAudioBackend() {
    AudioBackend* b = g_backend.load(std::memory_order_acquire);
    return b ? *b : AlsaAudioBackend();
}

void SetAudioBackend(AudioBackend* backend) {
    g_backend.store(backend, std::memory_order_release);
}

namespace {
const char* OpenFailure(int result) {
    switch (result) {
    case kAudioBadDevice:
        return "no such device";
    case kAudioBadFormat:
        return "format not supported";
    default:
        return "error";
    }
}
} // namespace

std::string AudioDeviceProblem(uint32_t device, const AudioFormat& f) {
    std::unique_ptr<AudioOut> out;
    std::unique_ptr<AudioIn> in;
    int playing = GetAudioBackend().OpenOut(device, f, out);
    out.reset();
    int recording = GetAudioBackend().OpenIn(device, f, in);
    in.reset();
    // A device another program holds is there: it opens once that program lets go.
    if (playing == kAudioAllocated) playing = kAudioOk;
    if (recording == kAudioAllocated) recording = kAudioOk;
    std::string outName = AudioOutDeviceName(device), inName = AudioInDeviceName(device);
    auto one = [](const std::string& name, const char* use, int result) {
        return "the sound device \"" + name + "\" cannot be opened" + use + " (" + OpenFailure(result) + ")";
    };
    if (playing != kAudioOk && recording != kAudioOk && outName == inName && playing == recording)
        return one(outName, "", playing);
    std::string text;
    if (playing != kAudioOk) text = one(outName, " for playing", playing);
    if (recording != kAudioOk) text += (text.empty() ? "" : "; ") + one(inName, " for recording", recording);
    return text;
}

// ---- device names

namespace {
struct DeviceNames {
    std::mutex lock;
    std::string defOut = "default", defIn = "default";
    std::map<uint32_t, std::string> out, in;
};

DeviceNames& Names() {
    static DeviceNames n;
    return n;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// "SOUND_OUT_DEVICE" -> -1 (the default), "SOUND_OUT_DEVICE3" -> 3; -2 when the key does not match.
long DeviceSuffix(const std::string& key, const char* prefix) {
    std::string p = prefix;
    if (key.compare(0, p.size(), p) != 0) return -2;
    std::string rest = key.substr(p.size());
    if (rest.empty()) return -1;
    if (rest.size() > 9) return -2;
    for (char c : rest)
        if (c < '0' || c > '9') return -2;
    return std::strtol(rest.c_str(), nullptr, 10);
}
} // namespace

std::string AudioOutDeviceName(uint32_t device) {
    DeviceNames& n = Names();
    std::lock_guard<std::mutex> lk(n.lock);
    auto it = n.out.find(device);
    return it != n.out.end() ? it->second : n.defOut;
}

std::string AudioInDeviceName(uint32_t device) {
    DeviceNames& n = Names();
    std::lock_guard<std::mutex> lk(n.lock);
    auto it = n.in.find(device);
    return it != n.in.end() ? it->second : n.defIn;
}

bool ApplyAudioCfgKey(const std::string& rawKey, const std::string& rawValue) {
    std::string key = Trim(rawKey), value = Trim(rawValue);
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    DeviceNames& n = Names();
    std::lock_guard<std::mutex> lk(n.lock);
    long id = DeviceSuffix(key, "SOUND_OUT_DEVICE");
    bool out = id != -2;
    if (!out) id = DeviceSuffix(key, "SOUND_IN_DEVICE");
    if (id == -2) return false;
    if (value.empty()) value = "default";
    if (id == -1)
        (out ? n.defOut : n.defIn) = value;
    else
        (out ? n.out : n.in)[uint32_t(id)] = value;
    return true;
}

bool LoadAudioCfgFile(const std::string& fileName) {
    FileHandle f = FileHandle::Open(fileName.c_str(), "r");
    if (!f) return false;
    char line[1024];
    while (fgets(line, sizeof line, f.get())) {
        std::string s = line;
        size_t c = s.find("//");
        if (c != std::string::npos) s.resize(c);
        size_t eq = s.find('=');
        if (eq == std::string::npos) continue;
        ApplyAudioCfgKey(s.substr(0, eq), s.substr(eq + 1));
    }
    return true;
}

void ResetAudioDeviceNames() {
    DeviceNames& n = Names();
    std::lock_guard<std::mutex> lk(n.lock);
    n.defOut = n.defIn = "default";
    n.out.clear();
    n.in.clear();
}

// ---- G.711

uint8_t G711AlawEncode(int16_t sample) {
    int pcm = sample >> 3; // 13 significant bits
    uint8_t mask;
    if (pcm >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static const int segEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int seg = 0;
    while (seg < 8 && pcm > segEnd[seg])
        ++seg;
    if (seg >= 8) return uint8_t(0x7F ^ mask);
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0F : (pcm >> seg) & 0x0F;
    return uint8_t(aval ^ mask);
}

int16_t G711AlawDecode(uint8_t code) {
    int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    int seg = (a & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (seg - 1);
    return int16_t((a & 0x80) ? t : -t);
}

uint8_t G711UlawEncode(int16_t sample) {
    const int bias = 0x84, clip = 32635;
    int pcm = sample;
    uint8_t mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    if (pcm > clip) pcm = clip;
    pcm += bias;
    int seg = 0;
    for (int v = pcm >> 7; v > 1 && seg < 7; v >>= 1)
        ++seg;
    int uval = (seg << 4) | ((pcm >> (seg + 3)) & 0x0F);
    return uint8_t(uval ^ mask);
}

int16_t G711UlawDecode(uint8_t code) {
    int u = ~code & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return int16_t((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

// ---- volume

void ApplyAudioVolume(const AudioFormat& f, uint32_t level, uint8_t* data, size_t len) {
    const int64_t levels[2] = {int64_t(level & 0xFFFF), int64_t(level >> 16)};
    if (levels[0] == 0xFFFF && levels[1] == 0xFFFF) return;
    const int channels = f.channels == 2 ? 2 : 1;
    auto scale = [&](int v, size_t index) { return int(v * levels[index % channels] / 0xFFFF); };
    if (f.tag == 1 && f.bits == 16) {
        for (size_t i = 0; i + 1 < len; i += 2) {
            int16_t s = int16_t(uint16_t(data[i] | (data[i + 1] << 8)));
            uint16_t v = uint16_t(int16_t(scale(s, i / 2)));
            data[i] = uint8_t(v & 0xFF);
            data[i + 1] = uint8_t(v >> 8);
        }
    } else if (f.tag == 1 && f.bits == 8) {
        for (size_t i = 0; i < len; ++i)
            data[i] = uint8_t(128 + scale(int(data[i]) - 128, i));
    } else if (f.tag == 6) {
        for (size_t i = 0; i < len; ++i)
            data[i] = G711AlawEncode(int16_t(scale(G711AlawDecode(data[i]), i)));
    } else if (f.tag == 7) {
        for (size_t i = 0; i < len; ++i)
            data[i] = G711UlawEncode(int16_t(scale(G711UlawDecode(data[i]), i)));
    }
}

} // namespace zz
