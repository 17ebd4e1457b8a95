#include "telephony/TagCfgTones.h"

#include <cstring>

namespace zz {

int32_t TagCfgTones::SetTones(int32_t id, const std::array<int32_t, 9>& params) {
    if (id < kFirstId || id > kLastId) return -1;
    TagSignalTone t;
    t.v[0] = id;
    for (size_t i = 0; i < params.size(); ++i)
        t.v[i + 1] = params[i];
    tones_[id] = t;
    return 0;
}

const TagSignalTone* TagCfgTones::Find(int32_t id) const {
    auto it = tones_.find(id);
    return it == tones_.end() ? nullptr : &it->second;
}

int32_t PackFskMsg(uint8_t type, const std::string& text, uint8_t* out, size_t outSize) {
    size_t n = text.size() > size_t(kFskMaxData) ? size_t(kFskMaxData) : text.size();
    if (outSize < 4) return -1;
    if (n + 4 > outSize) n = outSize - 4;
    out[0] = type;
    out[1] = uint8_t(n);
    if (n) std::memcpy(out + 2, text.data(), n);
    unsigned sum = 0;
    for (size_t i = 0; i < n + 2; ++i)
        sum += out[i];
    out[n + 2] = uint8_t(0x100 - (sum & 0xFF));
    out[n + 3] = 0;
    return int32_t(n + 3);
}

int32_t UnpackFskMsg(const uint8_t* buf, size_t count, uint8_t& type, std::string& text) {
    if (count < 3) return -1;
    size_t n = buf[1];
    if (count < n + 3) return -1;
    type = buf[0];
    text.assign(reinterpret_cast<const char*>(buf + 2), n);
    unsigned sum = 0;
    for (size_t i = 0; i < n + 3; ++i)
        sum += buf[i];
    if ((sum & 0xFF) != 0) return -2;
    return int32_t(n);
}

} // namespace zz
