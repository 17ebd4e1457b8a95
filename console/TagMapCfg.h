#pragma once
// "FormPos.dat": the window position and the line grid's column widths, one "key = value" per line, and the
// rules that put them back on the window.
#include <cstdint>
#include <map>
#include <string>

namespace zz {

class TagMapCfg {
public:
    explicit TagMapCfg(std::string file = "FormPos.dat") : file_(std::move(file)) {}

    // Reads the file: lines of at most 511 bytes, blanks and tabs removed, cut at "//" when the first "/" starts
    // it, "key=value"; a later key replaces an earlier one. false when the file cannot be opened.
    bool Load();
    // Writes "%s = %s\n" in ascending key order; false when the file cannot be written.
    bool Save() const;

    // -1 for a missing key, else the value's leading decimal number.
    int32_t GetInt(const std::string& key) const;
    void SetInt(const std::string& key, int32_t value);
    const std::map<std::string, std::string>& Items() const { return map_; }

private:
    std::string file_;
    std::map<std::string, std::string> map_;
};

// The main window's position and its first eight grid column widths.
struct FormGeometry {
    static constexpr int kCols = 8;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t colWidth[kCols] = {};
};

// "WinX", "WinY", "WinWidth", "WinHeight", "GridWid0".."GridWid7", then the file is written.
void SavePost(TagMapCfg& map, const FormGeometry& g);
// Needs "WinX" and "WinY" both 0 or more, else 0 and g unchanged; sizes and widths only when above 0. 1 restored.
int LoadPost(const TagMapCfg& map, FormGeometry& g);
// With more than one column group: the whole screen, and widths for the group's share of it.
void SetDefaultPost(FormGeometry& g, int32_t screenWidth, int32_t screenHeight, int32_t groups, int32_t dispSentence);

} // namespace zz
