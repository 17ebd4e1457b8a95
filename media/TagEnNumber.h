#pragma once
// Numbers read as English prompt names: 125 -> "1", "hundred", "and", "20", "5".
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zz {

class TagEnNumber {
public:
    TagEnNumber();

    // Names of the number in reading order (cleared first); 0 and negative numbers give none.
    int NumberToWords(int number, std::vector<std::string>& names) const;
    // One name per ASCII digit of the text; other characters are skipped.
    int DigitsToWords(std::string_view text, std::vector<std::string>& names) const;

private:
    void AddWords(int number, std::vector<std::string>& names) const;
    const std::string& Name(int key) const;

    // Filled once by the constructor and only read afterwards, so lines share it without a lock.
    std::map<int, std::string> names_;
};

// The process-wide instance shared by all lines.
const TagEnNumber& TheEnNumber();

} // namespace zz
