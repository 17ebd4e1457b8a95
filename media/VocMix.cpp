#include "media/VocMix.h"

#include "media/TagVocFile.h"
#include "platform/TagWriteLog.h"

#include <algorithm>

namespace zz {

namespace {

constexpr int32_t kSkipTail = 6000; // the shorter file's last 0.75 s stays out of long mixes
constexpr int32_t kLongMix = 80000;

inline int16_t MixClip(int32_t sum) {
    if (sum >= 32468) return 32467;
    if (sum < -32467) return -32467;
    return static_cast<int16_t>(sum);
}

} // namespace

int32_t MixVocData(const std::string& pathA, double gainA, uint32_t offsetMs, const std::string& pathB, double gainB,
                   const std::string& outPath) {
    WriteRunLogF("Mix:%s - %s", pathA.c_str(), pathB.c_str());
    TagVocFile a(pathA, gainA);
    WriteRunLog("Mix 1.");
    TagVocFile b(pathB, gainB);
    WriteRunLog("Mix 2.");
    if (a.status != 0 || b.status != 0) {
        WriteRunLog("Mix: 至少有一个文件不正确.");
        return -1;
    }
    TagVocFile* base;
    if (a.count <= b.count) {
        base = &b;
        int32_t n = a.count;
        if (n > kLongMix) n -= kSkipTail;
        int16_t* d = b.samples.get();
        const int16_t* s = a.samples.get();
        for (int32_t i = 0; i < n; ++i)
            d[i] = MixClip(s[i] + d[i]);
    } else {
        base = &a;
        int32_t n = b.count;
        if (n > kLongMix) n -= kSkipTail;
        int64_t first = static_cast<int64_t>(offsetMs) * 8;
        int64_t last = std::min<int64_t>(first + n, a.count);
        int16_t* d = a.samples.get();
        const int16_t* s = b.samples.get();
        for (int64_t j = first; j < last; ++j)
            d[j] = MixClip(s[j - first] + d[j]);
    }
    int r = base->Save(outPath);
    WriteRunLog("Mix 3.");
    return r == 0 ? 0 : -2;
}

int32_t MixVocFiles(const std::string& pathA, float gainA, uint32_t offsetMs, const std::string& pathB, float gainB,
                    const std::string& outPath) {
    int32_t r = MixVocData(pathA, gainA, offsetMs, pathB, gainB, outPath);
    return r == 0 ? 1 : r;
}

} // namespace zz
