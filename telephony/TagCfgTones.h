#pragma once
// Per-line signal tones that a script configures for the card's tone detection, and the short FSK text frame
// that card lines send and receive.
#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace zz {

// Tone id first, then the nine parameters in the order the script gave them.
struct TagSignalTone {
    std::array<int32_t, 10> v{};
    int32_t Id() const { return v[0]; }
};

class TagCfgTones {
public:
    static constexpr int32_t kFirstId = 250;
    static constexpr int32_t kLastId = 256;

    // -1 for an id outside 250..256 (table unchanged); else stores or replaces the tone, 0.
    int32_t SetTones(int32_t id, const std::array<int32_t, 9>& params);
    void ClearTones() { tones_.clear(); }
    // Null when no tone has that id.
    const TagSignalTone* Find(int32_t id) const;
    size_t Count() const { return tones_.size(); }

private:
    std::map<int32_t, TagSignalTone> tones_;
};

// FSK frame: type, length n, n data bytes, checksum making the byte sum 0 mod 256.
constexpr int32_t kFskMaxData = 255;

// Writes the frame and a zero byte after it into out (at least n + 4 bytes); returns n + 3. A text longer than
// 255 bytes is cut to 255 so the length byte stays true (the caller normally refuses it first).
int32_t PackFskMsg(uint8_t type, const std::string& text, uint8_t* out, size_t outSize);
// Data length n; -1 when count is below 3 or below n + 3; -2 on a bad checksum (type and text already set).
int32_t UnpackFskMsg(const uint8_t* buf, size_t count, uint8_t& type, std::string& text);

} // namespace zz
