#include "telephony/card/IsupMessage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zz {

namespace {

constexpr size_t kNumberDigits = 29; // what a number field of the message object holds
constexpr int32_t kMaxParamLen = 20; // optional parameters longer than this end the scan
constexpr uint8_t kLabel = 0x85;

uint8_t DigitCode(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'E') return uint8_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'e') return uint8_t(c - 'a' + 10);
    return 15;
}

// Parameter length of n digits: the two indicator bytes and the packed digits.
uint8_t ParamLen(size_t n) {
    return uint8_t((n + 1) / 2 + 2);
}

std::string Cut(const std::string& s) {
    return s.substr(0, kNumberDigits);
}

void Put(std::vector<uint8_t>& m, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes)
        m.push_back(b);
}

void PutDigits(std::vector<uint8_t>& m, const std::string& digits) {
    std::vector<uint8_t> p = PackDigits(digits);
    m.insert(m.end(), p.begin(), p.end());
}

} // namespace

std::vector<uint8_t> PackDigits(const std::string& digits) {
    std::vector<uint8_t> out((digits.size() + 1) / 2, 0xF0);
    for (size_t i = 0; i < digits.size(); ++i) {
        uint8_t d = DigitCode(digits[i]);
        out[i / 2] = i % 2 ? uint8_t((out[i / 2] & 0x0F) | (d << 4)) : uint8_t((out[i / 2] & 0xF0) | d);
    }
    return out;
}

std::string UnpackDigits(const uint8_t* p, int32_t k, int32_t odd) {
    std::string s;
    int32_t n = 2 * k - (odd ? 1 : 0);
    for (int32_t i = 0; i < n; ++i) {
        uint8_t d = i % 2 ? uint8_t(p[i / 2] >> 4) : uint8_t(p[i / 2] & 0x0F);
        if (d == 15) break;
        s += d < 10 ? char('0' + d) : char('A' + d - 10);
    }
    return s;
}

void CircuitBytes(int32_t ch, uint8_t out[3]) {
    int32_t trunk = ch / 30, slot = ch % 30;
    int32_t ts = slot < 15 ? slot + 1 : slot + 2; // time slots 0 and 16 carry no calls
    out[0] = 1;
    out[1] = uint8_t((trunk * 32 + ts) % 256);
    out[2] = uint8_t(trunk / 8);
}

// ---- The message object

void IsupMessage::Reset() {
    length = 0;
    called.clear();
    calling.clear();
    redirecting.clear();
    originalCalled.clear();
    redirCase = 0;
    callingOff = callingEnd = calledOff = calledEnd = 0;
}

int32_t IsupMessage::Init(const uint8_t* bytes, int32_t n) {
    n = std::clamp(n, 0, kIsupImageMax);
    if (n > 0) std::memcpy(msg, bytes, size_t(n));
    length = n;
    called.clear();
    redirecting.clear();
    redirCase = 0;
    int32_t p = 0;
    if (n > 0 && msg[0] == 133) {
        if (n < kIsupLabelLen) return -2;
        labelByte = msg[0];
        std::memcpy(dpc, msg + 1, 3);
        std::memcpy(opc, msg + 4, 3);
        std::memcpy(cic, msg + 7, 3);
        p = kIsupLabelLen;
    }
    if (p >= n || msg[p] != 1) return -2;
    if (p + 10 >= n) return 0; // no room for the called number: nothing more to read
    int32_t L = msg[p + 8];
    if (L < 2 || p + 9 + L > n) return 0;
    calledOff = p + 8;
    calledNature = uint8_t(msg[p + 9] & 0x7F);
    calledSecond = msg[p + 10];
    called = Cut(UnpackDigits(msg + p + 11, L - 2, msg[p + 9] >> 7));
    calledEnd = p + 9 + L;
    for (int32_t i = calledEnd; i + 1 < n;) {
        int32_t code = msg[i], len = msg[i + 1];
        if (code == 0 || len == 0 || len > kMaxParamLen || i + 2 + len > n) break;
        const uint8_t* d = msg + i + 2;
        if (code == 19 && len == 2) {
            redirCase = (d[1] >> 4) & 7;
        } else if (code == 11 && len >= 3) {
            redirecting = Cut(UnpackDigits(d + 2, len - 2, d[0] >> 7));
        } else if (code == 10 && len >= 3) {
            callingOff = i + 1;
            callingNature = uint8_t(d[0] & 0x7F);
            callingSecond = d[1];
            calling = Cut(UnpackDigits(d + 2, len - 2, d[0] >> 7));
            callingEnd = i + 2 + len;
        } else if (code == 40 && len >= 3) {
            originalCalled = Cut(UnpackDigits(d + 2, len - 2, d[0] >> 7));
        }
        i += 2 + len;
    }
    return 0;
}

int32_t IsupMessage::Rewrite(int32_t off, int32_t end, uint8_t nature, uint8_t second, const std::string& digits) {
    std::string d = Cut(digits);
    uint8_t L = ParamLen(d.size());
    int32_t rest = length - end;
    if (off + 1 + L + rest > kIsupImageMax) return -2;
    std::vector<uint8_t> tail(msg + end, msg + length);
    msg[off] = L;
    msg[off + 1] = uint8_t(nature | (d.size() % 2 ? 0x80 : 0));
    msg[off + 2] = second;
    std::vector<uint8_t> p = PackDigits(d);
    // std::copy, as memcpy from an empty vector's null data is undefined even for no bytes.
    std::copy(p.begin(), p.end(), msg + off + 3);
    std::copy(tail.begin(), tail.end(), msg + off + 1 + L);
    length = off + 1 + L + rest;
    return length;
}

int32_t IsupMessage::ReplaceCaller(const std::string& digits) {
    if (length <= 0 || !(0 < callingOff && callingOff < callingEnd)) return -1;
    if (digits.empty()) return -2;
    callingNature = 1;
    int32_t r = Rewrite(callingOff, callingEnd, callingNature, callingSecond, digits);
    if (r > 0) callingEnd = callingOff + 1 + msg[callingOff];
    return r;
}

int32_t IsupMessage::ReplaceCalled(const std::string& digits) {
    if (length <= 0 || !(0 < calledOff && calledOff < calledEnd)) return -1;
    if (digits.size() < 3) return -2;
    int32_t oldEnd = calledEnd;
    int32_t r = Rewrite(calledOff, calledEnd, calledNature, calledSecond, digits);
    if (r < 0) return r;
    calledEnd = calledOff + 1 + msg[calledOff];
    msg[calledOff - 1] = uint8_t(msg[calledOff] + 2); // the pointer to the optional part
    // The calling number, when it follows, moved with the rest.
    if (callingOff > oldEnd) {
        callingOff += calledEnd - oldEnd;
        callingEnd += calledEnd - oldEnd;
    }
    return r;
}

// ---- Built images

std::vector<uint8_t> BuildIam(const IsupCallFields& f, const uint8_t dpc[3], const uint8_t opc[3],
                              const std::vector<uint8_t>& scriptData, std::string* log) {
    std::vector<uint8_t> m = {0x85, dpc[0], dpc[1], dpc[2], opc[0], opc[1], opc[2]};
    uint8_t cic[3];
    CircuitBytes(f.channel, cic);
    m.insert(m.end(), cic, cic + 3);
    const std::string dialled = Cut(f.dialled), caller = Cut(f.callerToSend), orig = Cut(f.originalCalled);
    if (!scriptData.empty()) {
        m.insert(m.end(), scriptData.begin(), scriptData.end());
        IsupMessage obj;
        int32_t init = obj.Init(m.data(), int32_t(m.size()));
        if (init == 0 && !caller.empty()) {
            int32_t r = obj.ReplaceCaller(caller);
            if (r > 0) r = obj.ReplaceCalled(dialled);
            if (log) {
                char text[160];
                std::snprintf(text, sizeof text, "localCallerId=%s, iam0.Init(): %d|ReplCaller(%s): %d", caller.c_str(),
                              init, caller.c_str(), r);
                *log = text;
            }
            // A failed replacement keeps the script's own message.
            if (r >= 1 && r <= 199) m.assign(obj.msg, obj.msg + r);
        }
        return m;
    }
    uint8_t ld = ParamLen(dialled.size());
    Put(m, {0x01, 0x00, 0x60, 0x00, 0xF1, 0x03, 0x02, uint8_t(ld + 2), ld,
            uint8_t(0x03 | (dialled.size() % 2 ? 0x80 : 0)), 0x10});
    PutDigits(m, dialled);
    Put(m, {0x37, 1, 0x03, 0x31, 2, 0x00, 0x00});
    uint8_t nature = uint8_t(f.nature & 0x7F);
    Put(m, {0x0A, ParamLen(caller.size()), uint8_t(nature | (caller.size() % 2 ? 0x80 : 0)),
            uint8_t(f.restricted ? 0x17 : 0x13)});
    PutDigits(m, caller);
    if (!orig.empty() && f.redirection != 0) {
        Put(m, {0x13, 2, 0x04, uint8_t(f.redirection * 16 + 1)});
        for (uint8_t code : {0x0B, 0x28}) {
            Put(m, {code, ParamLen(orig.size()), uint8_t(nature | (orig.size() % 2 ? 0x80 : 0)), 0x10});
            PutDigits(m, orig);
        }
    }
    Put(m, {0x08, 1, 0x00, 0x39, 2, 0x37, 0xC0, 0x00});
    return m;
}

std::vector<uint8_t> BuildAcm(const IsupMessage& iam, bool charge, const std::vector<uint8_t>& scriptData) {
    const uint8_t* r = iam.msg;
    std::vector<uint8_t> m;
    m.reserve(size_t(kIsupImageMax));
    Put(m, {r[0], r[4], r[5], r[6], r[1], r[2], r[3], r[7], r[8], r[9]});
    if (scriptData.size() >= 7 && scriptData[0] == 0x06) {
        m.insert(m.end(), scriptData.begin(), scriptData.end());
        return m;
    }
    Put(m, {0x06, uint8_t(charge ? 0x12 : 0x11), 0x14, 0x01, 0x37, 1, 0x0C});
    if (iam.redirCase != 0) {
        const std::string& cd = iam.called;
        Put(m, {0x36, 1, uint8_t(iam.redirCase * 8), 0x0C, ParamLen(cd.size()), uint8_t(cd.size() % 2 ? 0x83 : 0x03),
                0x10});
        PutDigits(m, cd);
    }
    Put(m, {0x29, 1, 0x01, 0x00});
    return m;
}

AcmResult ParseAcm(const uint8_t* m, int32_t n, bool mobile, uint8_t dpc[3], uint8_t opc[3], bool& known) {
    AcmResult a;
    if (n < 1 || m[0] != kLabel) return a;
    if (!known && n >= 7) {
        std::memcpy(dpc, m + 4, 3);
        std::memcpy(opc, m + 1, 3);
        known = true;
    }
    if (n < 14 || m[10] != 0x06) return a;
    a.bci[0] = m[11];
    a.bci[1] = m[12];
    a.bciRead = true;
    a.status = (m[11] >> 2) & 3;
    if (a.status == 0 && mobile && ((m[12] & 7) == 6 || (m[11] & 3) == 2)) a.status = 4;
    if (m[13] != 1) return a;
    for (int32_t i = 14; i + 1 < n;) {
        int32_t code = m[i], len = m[i + 1];
        if (code == 0 || len == 0 || len > kMaxParamLen || i + 2 + len > n) break;
        const uint8_t* d = m + i + 2;
        if (code == 0x36 && len == 1) {
            a.divertCase = (d[0] >> 3) & 7;
        } else if (code == 0x12 && len >= 2) {
            a.cause = d[1] & 0x7F;
            a.status = 0;
        } else if (code == 0x0C && len >= 3) {
            a.redirNumber = UnpackDigits(d + 2, len - 2, d[0] >> 7).substr(0, 31);
        }
        i += 2 + len;
    }
    return a;
}

} // namespace zz
