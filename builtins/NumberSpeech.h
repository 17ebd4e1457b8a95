#pragma once
// Numbers, money, digit strings, dates, times of day and durations spoken from voice files: the names of the
// voice files that speak a value, by the rules of spoken Chinese or, for numbers and money in language 2, English
// number words.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

// Kinds of PlayNumber.
enum : int32_t {
    kSpeakNumber = 0,
    kSpeakMoney = 1,
    kSpeakDigits = 2,
    kSpeakDate = 3,
    kSpeakTime = 4,
    kSpeakDuration = 5,
};

// The Chinese items of a number text: one character per spoken item, '0' plus its index in the table of voice
// names. number is cut at its first '.'; out gets the items of the integer part, fraction those of the money
// fraction (jiao, fen, li). Always 0.
int32_t NumberToChineseItems(std::string& out, std::string& number, std::string& fraction);

// The voice names (a file name without directory and extension) that speak text as kind in language (0 and 1
// Chinese, 2 English), in order; the list stays empty when the value has no voice. -1 for a date or time that
// is no date or time.
int32_t NumberVoiceNames(const std::string& text, int32_t kind, int32_t language, std::vector<std::string>& names);

} // namespace zz
