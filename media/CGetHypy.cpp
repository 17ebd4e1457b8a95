#include "media/CGetHypy.h"
#include "platform/FileHandle.h"
#include "platform/LittleEndian.h"

#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

#include <cstring>
#include <new>

namespace zz {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void LogLoadFault(const std::string& path, const char* what) {
    std::string text = "Syllable library '" + path + "' refused: " + what;
    WriteRunLog(text.c_str());
}

} // namespace

CGetHypy::CGetHypy() = default;
CGetHypy::~CGetHypy() = default;

void CGetHypy::FreeTable() {
    table_.reset();
    tableLength_ = 0;
    state_.store(-1, std::memory_order_release);
}

int CGetHypy::LoadVocLib(const std::string& directory) {
    if (State() == 0) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    if (State() == 0) return 0;
    FreeTable();
    index_.clear();
    directory_ = directory;
    if (!directory_.empty() && directory_.back() != '\\' && directory_.back() != '/') directory_ += '\\';
    path_ = directory_ + "ReVivIra.dat";
    FileHandle f = FileHandle::Open(ResolvePath(path_).c_str(), "rb");
    if (!f) return -1;
    fseek(f.get(), 0, SEEK_END);
    long fileLength = ftell(f.get());
    fseek(f.get(), 0, SEEK_SET);
    uint8_t head[12];
    if (fileLength < 12 || fread(head, 1, 12, f.get()) != 12) {
        LogLoadFault(path_, "short header");
        return -1;
    }
    uint64_t count = GetLe32(head), start = GetLe32(head + 4), length = GetLe32(head + 8);
    // Every part must lie inside the file, or later reads would run past it.
    if (12 + 16 * count > uint64_t(fileLength) || start + length > uint64_t(fileLength)) {
        LogLoadFault(path_, "index or sound area beyond the end of the file");
        return -1;
    }
    soundStart_ = uint32_t(start);
    std::map<std::string, std::pair<uint32_t, uint32_t>> index;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t e[16];
        if (fread(e, 1, 16, f.get()) != 16) return -1;
        char name[9] = {};
        for (int k = 0; k < 8; ++k)
            name[k] = char(VocNameByte(e[k]));
        uint32_t offset = GetLe32(e + 8), size = GetLe32(e + 12);
        if (uint64_t(offset) + size > length) {
            LogLoadFault(path_, "sound beyond the sound area");
            return -1;
        }
        index[name] = {offset, size};
    }
    fseek(f.get(), long(start + length), SEEK_SET);
    size_t tableLength = size_t(uint64_t(fileLength) - (start + length));
    std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[tableLength + 200]());
    if (!table) return -1;
    size_t got = 0;
    while (got < tableLength) {
        size_t n = fread(table.get() + got, 1, std::min<size_t>(1024, tableLength - got), f.get());
        if (n < 1) break;
        got += n;
    }
    index_ = std::move(index);
    table_ = std::move(table);
    tableLength_ = got;
    polyphones_ = {
        {"重庆", "CHONG2", true}, {"重新", "CHONG2", true},  {"银行", "HANG2", false}, {"阿胶", "E1", true},
        {"你好", "NI2", true},    {"大厦", "SHA4", false},   {"商厦", "SHA4", false},  {"广厦", "SHA4", false},
        {"空调", "TIAO2", false}, {"家长", "ZHANG3", false},
    };
    state_.store(0, std::memory_order_release);
    return 0;
}

int CGetHypy::CharToSyllable(char c, char previous, char next, std::string& syllable) {
    syllable.clear();
    switch (c) {
    case '!':
    case '?':
        syllable = "mute";
        return 2;
    case ',':
    case ':':
    case ';':
        syllable = "mute";
        return 1;
    case '+':
        syllable = !IsDigit(previous) && IsDigit(next) ? "ZHENG4" : "JIA1";
        return 1;
    case '-':
        syllable = !IsDigit(previous) && IsDigit(next) ? "FU4" : "JIAN3";
        return 1;
    case '.':
        if (next == '.') return 0;
        syllable = IsDigit(previous) && IsDigit(next) ? "DIAN3" : "mute";
        return 1;
    default:
        break;
    }
    if (c >= 'a' && c <= 'z') {
        syllable = char(c - 'a' + 'A');
        return 1;
    }
    if ((c >= 'A' && c <= 'Z') || IsDigit(c)) {
        syllable = c;
        return 1;
    }
    return 0;
}

bool CGetHypy::FindPolyphone(std::string_view text, size_t place, std::string& reading) const {
    for (const DuoyinZi& p : polyphones_) {
        size_t from = p.first ? place : place - 2;
        if (!p.first && place < 2) continue;
        if (from + 4 <= text.size() && text.compare(from, 4, p.word) == 0) {
            reading = p.reading;
            return true;
        }
    }
    return false;
}

bool CGetHypy::TableReading(unsigned char b, unsigned char c, std::string& reading) const {
    // Records exist only for lead bytes from 0xB0 and trail bytes 0xA1-0xFE inside the table's length.
    if (c > 0xFE || b > 0xFE) return false;
    size_t at = (size_t(b - 0xB0) * 94 + (c - 0xA1)) * kRecordBytes;
    if (at + 8 > tableLength_) return false;
    const char* rec = (const char*)table_.get() + at;
    reading.assign(rec, strnlen(rec, 7));
    while (!reading.empty() && (reading.back() == ' ' || reading.back() == '\t' || reading.back() == '\n'))
        reading.pop_back();
    return true;
}

int CGetHypy::TextToSyllables(std::string_view text, std::vector<std::string>& list) const {
    list.clear();
    if (State() != 0) return 0;
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    size_t limit = std::min(text.size(), kMaxTextBytes);
    auto at = [&](size_t i) { return i < text.size() ? text[i] : '\0'; };
    auto single = [&](size_t i, char previous) {
        std::string s;
        int times = CharToSyllable(text[i], previous, at(i + 1), s);
        for (int k = 0; k < times; ++k)
            list.push_back(s);
    };
    for (size_t i = 0; i < limit; ++i) {
        unsigned char b = (unsigned char)text[i];
        if (b <= 0xA0) {
            single(i, i ? text[i - 1] : '\0');
            continue;
        }
        if (i + 1 >= text.size()) break;
        unsigned char c = (unsigned char)text[i + 1];
        ++i;
        if (c <= 0xA0) {
            single(i, char(b));
            continue;
        }
        std::string_view pair = text.substr(i - 1, 2);
        if (b == 0xA2 && c >= 0xC5 && c <= 0xCD) {
            list.emplace_back(1, char('1' + (c - 0xC5)));
        } else if (b == 0xA3 && c >= 0xB0 && c <= 0xB9) {
            list.emplace_back(1, char('0' + (c - 0xB0)));
        } else if (b == 0xA3 && c >= 0xC1 && c <= 0xDA) {
            list.emplace_back(1, char('A' + (c - 0xC1)));
        } else if (b == 0xA3 && c >= 0xE1 && c <= 0xFA) {
            list.emplace_back(1, char('A' + (c - 0xE1)));
        } else if (pair == "，" || pair == "：" || pair == "；") {
            list.emplace_back("mute");
        } else if (pair == "。" || pair == "？" || pair == "！" || pair == "．") {
            list.emplace_back("mute");
            list.emplace_back("mute");
        } else if (b >= 0xB0) {
            std::string reading;
            if (FindPolyphone(text, i - 1, reading) || TableReading(b, c, reading)) list.push_back(reading);
        } else {
            list.emplace_back("mute");
        }
    }
    return int(list.size());
}

bool CGetHypy::Lookup(const std::string& name, std::pair<uint32_t, uint32_t>& where) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = index_.find(name);
    if (it == index_.end()) return false;
    where = it->second;
    return true;
}

void CGetHypy::WriteWavHeader(FILE* out, uint32_t dataLength) {
    uint8_t h[46] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0, 6, 0, 1, 0};
    PutLe32(h + 4, dataLength + 38);
    PutLe32(h + 24, 8000);
    PutLe32(h + 28, 8000);
    h[32] = 1;
    h[34] = 8;
    memcpy(h + 38, "data", 4);
    PutLe32(h + 42, dataLength);
    fseek(out, 0, SEEK_SET);
    fwrite(h, 1, sizeof h, out);
}

int CGetHypy::TextToWav(std::string_view text, const std::string& file) {
    size_t n = file.size();
    bool header = n > 4 && (file.compare(n - 4, 4, ".wav") == 0 || file.compare(n - 4, 4, ".WAV") == 0);
    std::vector<std::string> list;
    if (TextToSyllables(text, list) <= 0) return -1;
    FileHandle out = FileHandle::Open(ResolvePath(file).c_str(), "wb");
    if (!out) {
        printf("Create '%s' failed!\n", file.c_str());
        return -1;
    }
    if (header) WriteWavHeader(out.get(), 0);
    std::string path;
    uint32_t start;
    {
        std::lock_guard<std::mutex> guard(lock_);
        path = path_;
        start = soundStart_;
    }
    FileHandle lib = FileHandle::Open(ResolvePath(path).c_str(), "rb");
    if (!lib) {
        printf("Open '%s' Error.\n", path.c_str());
        return -2;
    }
    std::unique_ptr<uint8_t[]> sound(new uint8_t[kMaxSoundBytes]);
    uint32_t dataLength = 0;
    for (const std::string& name : list) {
        std::pair<uint32_t, uint32_t> where;
        if (!Lookup(name, where)) continue;
        fseek(lib.get(), long(uint64_t(start) + where.first), SEEK_SET);
        size_t got = fread(sound.get(), 1, std::min(where.second, kMaxSoundBytes), lib.get());
        fwrite(sound.get(), 1, got, out.get());
        dataLength += uint32_t(got);
    }
    if (header) WriteWavHeader(out.get(), dataLength);
    return int(list.size());
}

CGetHypy& TheHypy() {
    static CGetHypy instance;
    return instance;
}

} // namespace zz
