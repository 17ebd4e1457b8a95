// Dialogic ".VOX" files play through a WAV copy kept beside them ("a.VOX" -> "a.VOX.wav").
#include "media/TagWavePlay.h"

#include "media/VocIo.h"
#include "platform/FileHandle.h"
#include "platform/PathMap.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace zz {

namespace {

const int kStepSize[49] = {16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,   45,   50,   55,   60,  66,  73,
                           80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209,  230,  253,  279,  307, 337, 371,
                           408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
const int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// Two lines may play the same VOX file at once; only one converts it.
std::mutex g_voxLock;

struct AdpcmState {
    int sample = 0;
    int index = 16;
    int16_t Decode(int code) {
        int step = kStepSize[index];
        int diff = step * ((code >> 2) & 1) + step / 2 * ((code >> 1) & 1) + step / 4 * (code & 1) + step / 8;
        if (code & 8) diff = -diff;
        sample = std::clamp(sample + diff, -2048, 2047);
        index = std::clamp(index + kIndexAdjust[code & 7], 0, 48);
        return int16_t(sample * 10);
    }
};

} // namespace

void GetFileStamp(const std::string& path, int32_t& date, int32_t& time) {
    date = time = 0;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    struct tm t {};
    localtime_r(&st.st_mtime, &t);
    date = (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
    time = t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec;
}

bool IsVoxName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return ext == ".VOX";
}

int ConvertVoxToWav(const std::string& voxPath, const std::string& wavPath) {
    std::vector<uint8_t> vox;
    {
        FileHandle in = FileHandle::Open(voxPath.c_str(), "rb");
        if (!in) return -1;
        uint8_t buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, in.get())) > 0)
            vox.insert(vox.end(), buf, buf + n);
    }
    FileHandle out = FileHandle::Open(wavPath.c_str(), "w+b");
    if (!out) return -2;
    AdpcmState st;
    std::vector<uint8_t> pcm;
    pcm.reserve(vox.size() * 4);
    for (uint8_t b : vox) {
        for (int code : {b >> 4, b & 0x0F}) {
            uint16_t s = uint16_t(st.Decode(code));
            pcm.push_back(uint8_t(s));
            pcm.push_back(uint8_t(s >> 8));
        }
    }
    const voc::WavFormat pcm16{1, 1, 8000, 16000, 2, 16};
    auto head = voc::MakeHeader46(pcm16, uint32_t(pcm.size()));
    fwrite(head.data(), 1, head.size(), out.get());
    // An empty VOX file gives a WAV file with no sound, and no write of nothing.
    if (!pcm.empty()) fwrite(pcm.data(), 1, pcm.size(), out.get());
    return 0;
}

std::string ResolveVoxFile(const std::string& voxPath) {
    std::string vox = ResolvePath(voxPath);
    std::string cache = vox + ".wav";
    std::lock_guard<std::mutex> lk(g_voxLock);
    int32_t voxDate, voxTime, cacheDate, cacheTime;
    GetFileStamp(vox, voxDate, voxTime);
    GetFileStamp(cache, cacheDate, cacheTime);
    if (cacheDate < voxDate || (cacheDate == voxDate && cacheTime < voxTime)) ConvertVoxToWav(vox, cache);
    return cache;
}

} // namespace zz
