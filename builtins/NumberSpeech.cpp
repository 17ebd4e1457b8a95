// PlayNumber and PcPlayNumber: a number, an amount of money, a digit string, a date, a time of day or a duration
// turned into a list of voice files, joined into one prompt (a file, or a memory block when the voices are held
// in memory) and played at once, so that a key cuts the whole number short.
#include "builtins/NumberSpeech.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/VoiceState.h"
#include "engine/NumText.h"
#include "media/TagEnNumber.h"
#include "media/WavJoin.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagKvCall.h"

namespace zz {

namespace {

// Voice names by item index; an item is the character '0' + index.
constexpr std::array<const char*, 48> kItemNames = {
    "0",    "1", "2", "3", "4", "5", "6", "7", "8", "9", "shi", "bai",  "qian", "wan", "yyi",  "yuan",
    "dian", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J",   "K",    "L",    "M",   "N",    "O",
    "P",    "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z",   "jiao", "fen",  "gu",  "shou", "li"};
enum : int {
    kShi = 10,
    kBai = 11,
    kQian = 12,
    kWan = 13,
    kYyi = 14,
    kYuan = 15,
    kDian = 16,
    kJiao = 43,
    kFen = 44,
    kLi = 47
};

constexpr char Item(int index) {
    return char('0' + index);
}
bool IsUnitItem(char item, int unit) {
    return item == Item(unit);
}

// Units of the places of an integer counted from the right (place 1 has none); beyond place 12 there are none.
constexpr int kNoUnit = -1;
constexpr std::array<int, 13> kPlaceUnits = {kNoUnit, kNoUnit, kShi, kBai, kQian, kWan, kShi,
                                             kBai,    kQian,   kYyi, kShi, kBai,  kQian};
constexpr size_t kMaxPlaces = 12;
// Number texts this long or longer are spoken as 0.
constexpr size_t kMaxNumberText = 20;
// Money fractions: tenths, hundredths, thousandths.
constexpr std::array<int, 3> kFractionUnits = {kJiao, kFen, kLi};
// Digit groups of dates and times: only the first few matter, and values are held below this.
constexpr int64_t kGroupCeiling = 1000000000000000;
// Every voice after the first of a prompt built in memory loses this much of its start (its header).
constexpr size_t kMemHeader = 90;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsWanOrYyi(int unit) {
    return unit == kWan || unit == kYyi;
}

// The items of an integer, least significant first: a non-zero digit with its unit, a zero once for a run of
// zeros (none at place 1), and the wan and yyi of the places the run passes.
std::string ReversedItems(const std::string& digits) {
    std::string rev;
    size_t place = 1;
    for (size_t i = digits.size(); i-- > 0; ++place) {
        int unit = kPlaceUnits[place];
        if (digits[i] != '0') {
            if (unit != kNoUnit) rev += Item(unit);
            rev += digits[i];
            continue;
        }
        if (place > 1) rev += '0';
        if (place > 1 && IsWanOrYyi(unit)) rev += Item(unit);
        while (i > 0 && digits[i - 1] == '0') {
            --i;
            ++place;
            if (IsWanOrYyi(kPlaceUnits[place])) rev += Item(kPlaceUnits[place]);
        }
    }
    return rev;
}

// Read back from the most significant end: no 1 before shi unless bai stands before it or nothing follows the
// shi, and no second wan or yyi in a row.
std::string ReadBack(const std::string& rev) {
    std::string out;
    for (size_t k = rev.size(); k-- > 0;) {
        char item = rev[k];
        bool oneBeforeShi = item == '1' && k >= 2 && IsUnitItem(rev[k - 1], kShi);
        if (oneBeforeShi && (k + 1 == rev.size() || !IsUnitItem(rev[k + 1], kBai))) continue;
        bool unit = IsUnitItem(item, kWan) || IsUnitItem(item, kYyi);
        if (unit && !out.empty() && (IsUnitItem(out.back(), kWan) || IsUnitItem(out.back(), kYyi))) continue;
        out += item;
    }
    return out;
}

// The spoken items of an integer's digits (leading zeros included). Leading zeros beyond the twelve places that
// have units are dropped; a number that still needs more places is read digit by digit.
std::string IntegerItems(std::string digits) {
    if (digits.size() > kMaxPlaces) {
        size_t extra = digits.size() - kMaxPlaces;
        if (digits.find_first_not_of('0') < extra) return digits;
        digits.erase(0, extra);
    }
    return ReadBack(ReversedItems(digits));
}

// An item string that begins with 1-shi loses that 1 (10 is shi).
std::string DropLeadingOne(std::string items) {
    if (items.size() >= 2 && items[0] == '1' && IsUnitItem(items[1], kShi)) items.erase(0, 1);
    return items;
}

void PushItems(const std::string& items, std::vector<std::string>& names) {
    for (char c : items) {
        int index = c - '0';
        if (index >= 0 && index < int(kItemNames.size())) names.emplace_back(kItemNames[size_t(index)]);
    }
}

// A number as "%d" through NumberToChineseItems, with the leading 1-shi rule.
void PushNumber(int64_t n, std::vector<std::string>& names) {
    std::string number = std::to_string(n), items, fraction;
    NumberToChineseItems(items, number, fraction);
    PushItems(DropLeadingOne(items), names);
}

// The text after the first '.', and whether there is one.
bool AfterPoint(const std::string& text, std::string& after) {
    size_t point = text.find('.');
    if (point == std::string::npos) return false;
    after = text.substr(point + 1);
    return true;
}

std::string SkipBlanks(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    return i == std::string::npos ? std::string() : text.substr(i);
}

void ChineseNumber(const std::string& text, std::vector<std::string>& names) {
    size_t i = text.find_first_not_of(" \t0");
    std::string number = i == std::string::npos ? std::string() : text.substr(i), items, fraction;
    NumberToChineseItems(items, number, fraction);
    PushItems(DropLeadingOne(items.empty() ? "0" : items), names);
    std::string after;
    if (!AfterPoint(text, after) || TextToInt(after.c_str()) <= 0) return;
    // From the point on: each '.' is dian, each digit itself, anything else ends the walk.
    names.emplace_back(kItemNames[kDian]);
    for (char c : after) {
        if (c == '.')
            names.emplace_back(kItemNames[kDian]);
        else if (IsDigit(c))
            names.emplace_back(1, c);
        else
            break;
    }
}

void ChineseMoney(const std::string& text, std::vector<std::string>& names) {
    std::string number = SkipBlanks(text), items, fraction;
    NumberToChineseItems(items, number, fraction);
    if (!items.empty()) items += Item(kYuan);
    items += fraction;
    if (items.empty()) items = {'0', Item(kYuan)};
    PushItems(DropLeadingOne(items), names);
}

void EnglishNumber(const std::string& text, bool money, std::vector<std::string>& names) {
    const TagEnNumber& en = TheEnNumber();
    std::vector<std::string> words;
    if (en.NumberToWords(TextToInt(text.c_str()), words) == 0) words = {"0"};
    names.insert(names.end(), words.begin(), words.end());
    std::string after;
    bool point = AfterPoint(text, after);
    if (point && (money || TextToInt(after.c_str()) > 0) && en.DigitsToWords(after, words) > 0) {
        names.emplace_back(kItemNames[kDian]);
        names.insert(names.end(), words.begin(), words.end());
    }
    if (money) names.emplace_back(kItemNames[kYuan]);
}

// Maximal runs of digits of a date or time text: how many there are, the first three values and digit counts.
struct DigitGroups {
    int32_t count = 0;
    std::array<int64_t, 3> value{};
    std::array<size_t, 3> digits{};
};

DigitGroups CutGroups(const std::string& text) {
    DigitGroups g;
    for (size_t i = 0; i < text.size();) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        int64_t v = 0;
        size_t n = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++n)
            v = std::min(v * 10 + (text[i] - '0'), kGroupCeiling);
        if (g.count < 3) {
            g.value[size_t(g.count)] = v;
            g.digits[size_t(g.count)] = n;
        }
        ++g.count;
    }
    return g;
}

int32_t ChineseTime(const std::string& text, bool duration, std::vector<std::string>& names) {
    DigitGroups g = CutGroups(text);
    int64_t h = 0, m = 0, s = 0;
    if (g.count == 1) {
        h = g.value[0] / 10000;
        m = g.value[0] % 10000 / 100;
        s = g.value[0] % 100;
    } else if (g.count == 3) {
        h = g.value[0], m = g.value[1], s = g.value[2];
    } else if (g.count == 2 && !duration) {
        h = g.value[0], m = g.value[1];
    } else if (g.count == 2) {
        m = g.value[0], s = g.value[1];
    } else {
        return -1;
    }
    if (h > 24 || m > 59 || s > 59) return -1;
    if (h > 0) PushNumber(h, names);
    if (h == 0 && !duration) names.emplace_back("0");
    if (!duration) names.emplace_back("dian");
    if (duration && h > 0) names.emplace_back("xiaoshi");
    if (m > 0) PushNumber(m, names);
    if (m == 0 && !duration) names.emplace_back("0");
    if (!duration || m > 0) names.emplace_back("fen");
    if (s > 0) PushNumber(s, names);
    if (s == 0 && duration) names.emplace_back("0");
    if (s > 0 || duration) names.emplace_back("miao");
    return 0;
}

int32_t ChineseDate(const std::string& text, std::vector<std::string>& names) {
    DigitGroups g = CutGroups(text);
    int64_t y = 0, m = 0, d = 0;
    if (g.count == 1 && g.digits[0] >= 3) {
        y = g.value[0] / 10000;
        m = g.value[0] % 10000 / 100;
        d = g.value[0] % 100;
    } else if (g.count == 2) {
        m = g.value[0], d = g.value[1];
    } else if (g.count == 3) {
        y = g.value[0], m = g.value[1], d = g.value[2];
    } else {
        return -1;
    }
    if (m < 1 || m > 12 || d < 1 || d > 31) return -1;
    if (y > 0) {
        char year[24];
        std::snprintf(year, sizeof year, "%02lld", static_cast<long long>(y));
        for (const char* c = year; *c; ++c)
            names.emplace_back(1, *c);
        names.emplace_back("nian");
    }
    PushNumber(m, names);
    names.emplace_back("yue");
    PushNumber(d, names);
    names.emplace_back("ri");
    return 0;
}

} // namespace

int32_t NumberToChineseItems(std::string& out, std::string& number, std::string& fraction) {
    out.clear();
    fraction.clear();
    if (number.empty() || number.size() >= kMaxNumberText) {
        out.assign(1, '0'); // not = "0": GCC 12 warns falsely of an overlap (-Wrestrict) on that in Release
        return 0;
    }
    size_t point = number.find('.');
    std::string fractionText;
    if (point != std::string::npos) {
        fractionText = number.substr(point + 1);
        number.resize(point);
    }
    // The integer part is its run of digits; anything after them has no voice.
    size_t digits = 0;
    while (digits < number.size() && IsDigit(number[digits]))
        ++digits;
    out = IntegerItems(number.substr(0, digits));
    for (size_t i = 0; i < kFractionUnits.size() && i < fractionText.size(); ++i) {
        char c = fractionText[i];
        if (c >= '1' && c <= '9') {
            fraction += c;
            fraction += Item(kFractionUnits[i]);
        }
    }
    return 0;
}

int32_t NumberVoiceNames(const std::string& text, int32_t kind, int32_t language, std::vector<std::string>& names) {
    names.clear();
    const bool english = language == 2;
    if (kind == kSpeakDigits) {
        for (char c : text) {
            if (IsDigit(c)) names.emplace_back(1, c);
            if (c == '.') names.emplace_back(kItemNames[kDian]);
        }
    } else if (kind == kSpeakNumber || kind == kSpeakMoney) {
        if (english)
            EnglishNumber(text, kind == kSpeakMoney, names);
        else if (kind == kSpeakNumber)
            ChineseNumber(text, names);
        else
            ChineseMoney(text, names);
    } else if (!english && (kind == kSpeakTime || kind == kSpeakDuration)) {
        return ChineseTime(text, kind == kSpeakDuration, names);
    } else if (!english && kind == kSpeakDate) {
        return ChineseDate(text, names);
    }
    return 0;
}

namespace {

// The prompt built in memory from the voices held there: the first whole, every later one without its header
// (never more than it holds). -3 when they hold nothing.
int32_t PlayFromMemory(const VoiceState& voice, TagKvCall& call, const std::vector<std::string>& files,
                       const std::string& text) {
    std::vector<uint8_t> prompt;
    for (const std::string& f : files) {
        auto voc = voice.FindMemVoc(f.c_str());
        if (!voc) continue;
        size_t len = size_t(voc->length), skip = prompt.empty() ? 0 : std::min(kMemHeader, len);
        prompt.insert(prompt.end(), voc->data->begin() + std::ptrdiff_t(skip),
                      voc->data->begin() + std::ptrdiff_t(len));
    }
    if (prompt.empty()) {
        WriteRunLogAlways(("TagPlayNumber('" + text + "'): size=0").c_str());
        return -3;
    }
    call.PlayMemory(prompt.data(), 0, int32_t(prompt.size()), 0, voice.breakOnKey);
    return kBuiltinOk;
}

// The prompt joined into the line's temporary file (the join file itself in play-to-file mode, then not played).
int32_t PlayJoined(const VoiceState& voice, TagKvCall& call, const std::vector<std::string>& files,
                   const std::string& text, uint8_t onPc) {
    const std::string path = voice.JoinFilePath();
    const std::string onDisk = ResolvePath(path);
    FileHandle join = FileHandle::Open(onDisk.c_str(), voice.playToFile ? "r+b" : "w+b");
    if (!join) {
        WriteRunLogAlways(("TagPlayNumber('" + text + "'): Open File error: " + path).c_str());
        return -2;
    }
    for (const std::string& f : files)
        JoinWavFiles(join.get(), ResolvePath(f));
    join.Close();
    if (voice.playToFile) return kBuiltinOk;
    call.Play(path.c_str(), voice.breakOnKey, onPc);
    std::remove(onDisk.c_str());
    return kBuiltinOk;
}

} // namespace

int32_t TagPlayNumber::Run() {
    TagKvCall* call = Call();
    if (!call) return kBuiltinBadArg;
    const VoiceState& voice = Program()->LineState<VoiceState>();
    std::string text = Operand(0).ToString();
    text.resize(GbkSafeCut(text, 511)); // the value's buffer holds 512 bytes
    std::vector<std::string> names;
    if (NumberVoiceNames(text, IntVal(1), voice.language, names) < 0) return kBuiltinBadArg;
    if (names.empty()) {
        WriteRunLogAlways(("TagPlayNumber('" + text + "'): fCount=0").c_str());
        return kBuiltinBadArg;
    }
    std::vector<std::string> files;
    for (const std::string& n : names)
        files.push_back(voice.VoiceDir() + n + voice.sndExt);
    if (!voice.playToFile && !pcFlag && voice.FindMemVoc(files[0].c_str()))
        return PlayFromMemory(voice, *call, files, text);
    return PlayJoined(voice, *call, files, text, pcFlag);
}

} // namespace zz
