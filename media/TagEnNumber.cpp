#include "media/TagEnNumber.h"

namespace zz {

TagEnNumber::TagEnNumber() {
    for (int i = 0; i <= 20; ++i)
        names_[i] = std::to_string(i);
    for (int i = 30; i <= 90; i += 10)
        names_[i] = std::to_string(i);
}

const std::string& TagEnNumber::Name(int key) const {
    // Never insert: the map stays read-only once built, and an unknown key simply has no name.
    static const std::string empty;
    auto it = names_.find(key);
    return it == names_.end() ? empty : it->second;
}

int TagEnNumber::NumberToWords(int number, std::vector<std::string>& names) const {
    // Clear only here: the groups recurse through AddWords and must keep what the higher groups added.
    names.clear();
    AddWords(number, names);
    return int(names.size());
}

void TagEnNumber::AddWords(int n, std::vector<std::string>& names) const {
    if (n <= 0) return;
    int b = n / 1000000000;
    if (b > 0) {
        AddWords(b, names);
        names.emplace_back("billion");
    }
    int m = (n % 1000000000) / 1000000;
    if (m > 0) {
        AddWords(m, names);
        names.emplace_back("million");
    }
    int t = (n % 1000000) / 1000;
    if (t > 0) {
        AddWords(t, names);
        names.emplace_back("thousand");
    }
    int h = (n % 1000) / 100;
    int r = n % 100;
    if (h > 0) {
        names.push_back(Name(h));
        names.emplace_back("hundred");
        if (r > 0) names.emplace_back("and");
    }
    if (r >= 1 && r <= 20) {
        names.push_back(Name(r));
    } else if (r > 20) {
        names.push_back(Name(r / 10 * 10));
        if (r % 10 > 0) names.push_back(Name(r % 10));
    }
}

int TagEnNumber::DigitsToWords(std::string_view text, std::vector<std::string>& names) const {
    names.clear();
    for (char c : text)
        if (c >= '0' && c <= '9') names.push_back(Name(c - '0'));
    return int(names.size());
}

const TagEnNumber& TheEnNumber() {
    static const TagEnNumber instance;
    return instance;
}

} // namespace zz
