#include "console/TagMapCfg.h"

#include "platform/FileHandle.h"
#include "platform/TagRunCfg.h"

#include <cstdio>

namespace zz {

bool TagMapCfg::Load() {
    FileHandle f = FileHandle::Open(file_.c_str(), "rb");
    if (!f) return false;
    char piece[512];
    while (std::fgets(piece, sizeof piece, f.get())) {
        // The configuration file's line rules: blanks dropped, "//" comments cut, "key=value".
        std::string key, value;
        if (SplitCfgLine(piece, key, value)) map_[key] = value;
    }
    return true;
}

bool TagMapCfg::Save() const {
    FileHandle f = FileHandle::Open(file_.c_str(), "wb");
    if (!f) return false;
    for (const auto& [key, value] : map_)
        std::fprintf(f.get(), "%s = %s\n", key.c_str(), value.c_str());
    return f.Close() == 0;
}

int32_t TagMapCfg::GetInt(const std::string& key) const {
    auto it = map_.find(key);
    return it == map_.end() ? -1 : CfgInt(it->second);
}

void TagMapCfg::SetInt(const std::string& key, int32_t value) {
    map_[key] = std::to_string(value);
}

void SavePost(TagMapCfg& map, const FormGeometry& g) {
    map.SetInt("WinX", g.x);
    map.SetInt("WinY", g.y);
    map.SetInt("WinWidth", g.width);
    map.SetInt("WinHeight", g.height);
    for (int i = 0; i < FormGeometry::kCols; ++i)
        map.SetInt("GridWid" + std::to_string(i), g.colWidth[i]);
    map.Save();
}

int LoadPost(const TagMapCfg& map, FormGeometry& g) {
    int32_t x = map.GetInt("WinX"), y = map.GetInt("WinY");
    if (x < 0 || y < 0) return 0;
    g.x = x;
    g.y = y;
    if (int32_t w = map.GetInt("WinWidth"); w > 0) g.width = w;
    if (int32_t h = map.GetInt("WinHeight"); h > 0) g.height = h;
    for (int i = 0; i < FormGeometry::kCols; ++i)
        if (int32_t w = map.GetInt("GridWid" + std::to_string(i)); w > 0) g.colWidth[i] = w;
    return 1;
}

void SetDefaultPost(FormGeometry& g, int32_t screenWidth, int32_t screenHeight, int32_t groups, int32_t dispSentence) {
    if (groups <= 1) return;
    g.x = g.y = 0;
    g.width = screenWidth;
    g.height = screenHeight;
    int32_t share = g.width / groups;
    const int32_t fixed[4] = {16, 10, 10, 10};
    for (int i = 0; i < 4; ++i)
        g.colWidth[i] = fixed[i];
    g.colWidth[4] = dispSentence ? 20 : 1;
    int32_t rest = (share - (dispSentence ? 74 : 54)) / 3;
    for (int i = 5; i < 8; ++i)
        g.colWidth[i] = rest < 0 ? 10 : rest;
}

} // namespace zz
