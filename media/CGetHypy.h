#pragma once
// Chinese text to pinyin syllables and built-in syllable speech: each GBK character becomes a syllable name
// ("ZHONG1", a digit, a letter, a sign word or "mute"), and the names' recorded A-law sounds from the syllable
// library ReVivIra.dat are written one after another into a voice file.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zz {

// One polyphone word: the word (two GBK characters), the reading of its polyphone character and whether that
// character is the word's first.
struct DuoyinZi {
    std::string word;
    std::string reading;
    bool first;
};

// Library file layout: N, S, L (u32 little-endian), N index entries of 16 bytes (8 name bytes, offset from S,
// length), the sound area at S of L bytes, then the pinyin table to the end of the file.
// Name bytes are stored as (byte ^ kVocNameKey), NUL padding included; the transform is its own inverse.
constexpr uint8_t kVocNameKey = 0xA5;
inline uint8_t VocNameByte(uint8_t b) {
    return uint8_t(b ^ kVocNameKey);
}

class CGetHypy {
public:
    static constexpr size_t kMaxTextBytes = 2048;
    static constexpr uint32_t kMaxSoundBytes = 10240;
    static constexpr size_t kRecordBytes = 10;

    CGetHypy();
    ~CGetHypy();
    CGetHypy(const CGetHypy&) = delete;
    CGetHypy& operator=(const CGetHypy&) = delete;

    // 0 when the library is loaded (also when it was before), -1 when it cannot be opened or is malformed.
    int LoadVocLib(const std::string& directory);
    // Number of syllables spoken; -1 no syllable or no library or the output cannot be created; -2 the
    // library cannot be reopened.
    int TextToWav(std::string_view text, const std::string& file);
    int TextToSyllables(std::string_view text, std::vector<std::string>& list) const;
    static int CharToSyllable(char c, char previous, char next, std::string& syllable);
    bool FindPolyphone(std::string_view text, size_t place, std::string& reading) const;
    static void WriteWavHeader(FILE* out, uint32_t dataLength);

    int State() const { return state_.load(std::memory_order_acquire); }

private:
    bool TableReading(unsigned char b, unsigned char c, std::string& reading) const;
    bool Lookup(const std::string& name, std::pair<uint32_t, uint32_t>& where) const;
    void FreeTable();

    std::map<std::string, std::pair<uint32_t, uint32_t>> index_;
    uint32_t soundStart_ = 0;
    std::string directory_;
    std::string path_;
    mutable std::mutex lock_;
    // The table and the polyphone list are written only while loading, under the lock and before the state
    // turns 0; afterwards they are only read.
    std::unique_ptr<uint8_t[]> table_;
    size_t tableLength_ = 0;
    std::vector<DuoyinZi> polyphones_;
    std::atomic<int> state_{-1};
};

// The process-wide converter shared by all lines.
CGetHypy& TheHypy();

} // namespace zz
