#include "console/TagMonitor.h"

#include "platform/TagRunCfg.h"

#include <cstring>

namespace zz {

const uint32_t kLineColors[16] = {0x000000, 0xFF0000, 0x008000, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x008080, 0xC0C0C0,
                                  0x808080, 0xF0CAA6, 0x40FF00, 0xFFFF80, 0x0000FF, 0x8000FF, 0x00FFFF, 0xFFFFFF};

namespace {

bool ColorIndexOk(int32_t i) {
    return i >= 0 && i < 16;
}

} // namespace

TagMonitor::TagMonitor(int32_t lineCount) : rows_(size_t(lineCount < 1 ? 1 : lineCount)) {}

void TagMonitor::CellOf(int32_t line, int32_t field, int32_t groups, int32_t& col, int32_t& row) {
    if (groups < 1) groups = 1;
    col = (line % groups) * TagLineRec::kFields + field;
    row = line / groups + 1;
}

void TagMonitor::RecomputeStateColor(TagLineRec& r) {
    if (r.state != 3) return;
    if (r.block == 1) {
        r.stateFg = 14;
        r.stateBg = 4;
    } else if (r.talk) {
        r.stateFg = 1;
        r.stateBg = 14;
    } else {
        r.stateFg = 0;
        r.stateBg = 15;
    }
}

void TagMonitor::Notify(int32_t line, int32_t field, int32_t fg, int32_t bg) {
    std::shared_lock<std::shared_mutex> g(notifyLock_);
    if (notify_) notify_->NotifyField(line, field, fg, bg);
}

void TagMonitor::SetNotify(TagFieldNotify* notify) {
    std::unique_lock<std::shared_mutex> g(notifyLock_);
    notify_ = notify;
}

void TagMonitor::SetField(int32_t line, const std::string& text, int32_t field) {
    if (!Valid(line) || field < 0 || field >= TagLineRec::kFields) return;
    int32_t fg, bg;
    {
        std::lock_guard<std::mutex> g(m_);
        TagLineRec& r = rows_[size_t(line)];
        r.text[field] = text;
        r.changed[field] = 1;
        if (field >= 5) {
            fg = r.userFg;
            bg = r.userBg;
        } else {
            RecomputeStateColor(r);
            fg = r.stateFg;
            bg = r.stateBg;
        }
    }
    // Outside the table lock: the remote monitor takes its own.
    Notify(line, field, fg, bg);
}

void TagMonitor::SetStateColor(int32_t line, int32_t fg, int32_t bg) {
    if (!Valid(line)) return;
    {
        std::lock_guard<std::mutex> g(m_);
        TagLineRec& r = rows_[size_t(line)];
        r.stateFg = fg;
        r.stateBg = bg;
        for (int f = 0; f < 5; ++f)
            r.changed[f] = 1;
    }
    for (int f = 0; f < 5; ++f)
        Notify(line, f, fg, bg);
}

void TagMonitor::SetColor(int32_t line, int32_t fg, int32_t bg) {
    if (!Valid(line)) return;
    std::lock_guard<std::mutex> g(m_);
    TagLineRec& r = rows_[size_t(line)];
    if (ColorIndexOk(fg)) r.userFg = fg;
    if (ColorIndexOk(bg)) r.userBg = bg;
}

void TagMonitor::SetState(int32_t line, int32_t code) {
    if (!Valid(line)) return;
    std::lock_guard<std::mutex> g(m_);
    rows_[size_t(line)].state = uint8_t(code);
}

bool TagMonitor::SetStatus(int32_t line, const std::string& text, int32_t state, int32_t fg, int32_t bg,
                           int32_t onlyInState) {
    if (!Valid(line)) return false;
    int32_t textFg, textBg;
    {
        std::lock_guard<std::mutex> g(m_);
        TagLineRec& r = rows_[size_t(line)];
        if (onlyInState >= 0 && r.state != onlyInState) return false;
        r.text[2] = text;
        r.changed[2] = 1;
        RecomputeStateColor(r);
        textFg = r.stateFg;
        textBg = r.stateBg;
        if (state >= 0) {
            r.state = uint8_t(state);
            r.stateFg = fg;
            r.stateBg = bg;
            for (int f = 0; f < 5; ++f)
                r.changed[f] = 1;
        }
    }
    Notify(line, 2, textFg, textBg);
    if (state >= 0)
        for (int f = 0; f < 5; ++f)
            Notify(line, f, fg, bg);
    return true;
}

void TagMonitor::Repaint(int32_t line) {
    if (!Valid(line)) return;
    int32_t fg, bg;
    {
        std::lock_guard<std::mutex> g(m_);
        TagLineRec& r = rows_[size_t(line)];
        RecomputeStateColor(r);
        for (int f = 0; f < 5; ++f)
            r.changed[f] = 1;
        fg = r.stateFg;
        bg = r.stateBg;
    }
    for (int f = 0; f < 5; ++f)
        Notify(line, f, fg, bg);
}

void TagMonitor::SetTalk(int32_t line, bool talk) {
    if (!Valid(line)) return;
    std::lock_guard<std::mutex> g(m_);
    rows_[size_t(line)].talk = talk ? 1 : 0;
}

void TagMonitor::SetBlock(int32_t line, int32_t block) {
    if (!Valid(line)) return;
    std::lock_guard<std::mutex> g(m_);
    rows_[size_t(line)].block = block;
}

void TagMonitor::GetColor(int32_t line, uint32_t& fg, uint32_t& bg) const {
    if (!Valid(line)) {
        fg = kLineColors[0];
        bg = kLineColors[15];
        return;
    }
    std::lock_guard<std::mutex> g(m_);
    const TagLineRec& r = rows_[size_t(line)];
    if (ColorIndexOk(r.userFg)) fg = kLineColors[r.userFg];
    if (ColorIndexOk(r.userBg)) bg = kLineColors[r.userBg];
}

void TagMonitor::GetStateColor(int32_t line, uint32_t& fg, uint32_t& bg) const {
    if (!Valid(line)) {
        fg = kLineColors[0];
        bg = kLineColors[15];
        return;
    }
    std::lock_guard<std::mutex> g(m_);
    const TagLineRec& r = rows_[size_t(line)];
    if (ColorIndexOk(r.stateFg)) fg = kLineColors[r.stateFg];
    if (ColorIndexOk(r.stateBg)) bg = kLineColors[r.stateBg];
}

TagLineRec TagMonitor::Row(int32_t line) const {
    if (!Valid(line)) return {};
    std::lock_guard<std::mutex> g(m_);
    return rows_[size_t(line)];
}

std::string TagMonitor::Text(int32_t line, int32_t field) const {
    if (!Valid(line) || field < 0 || field >= TagLineRec::kFields) return {};
    std::lock_guard<std::mutex> g(m_);
    return rows_[size_t(line)].text[field];
}

void TagMonitor::InitGrid(GridCells* grid, bool titles) {
    if (!grid) return;
    const TagRunCfg& cfg = RunCfg();
    int32_t groups = cfg.colGroups < 1 ? 1 : cfg.colGroups;
    int32_t lines = LineCount();
    int32_t rows = lines / groups + (lines % groups ? 1 : 0) + 1;
    grid->SetSize(groups * TagLineRec::kFields, rows);
    for (int32_t gi = 1; gi < groups; ++gi)
        for (int32_t f = 0; f < TagLineRec::kFields; ++f)
            grid->SetColWidth(gi * TagLineRec::kFields + f, grid->ColWidth(f));
    if (titles) {
        static const char* const zh[5] = {"线路", "脚本文件", "状态", "当前按键", "运行信息"};
        static const char* const en[5] = {"Line", "Script File", "Status", "Keys", "Run Info"};
        const char* const* t = cfg.language ? en : zh;
        for (int32_t gi = 0; gi < groups; ++gi) {
            int32_t base = gi * TagLineRec::kFields;
            for (int f = 0; f < 5; ++f)
                grid->SetCell(base + f, 0, t[f]);
            for (int f = 0; f < 3; ++f)
                grid->SetCell(base + 5 + f, 0, cfg.title[f]);
        }
    }
    groups_.store(groups, std::memory_order_release);
    grid_.store(grid, std::memory_order_release);
}

void TagMonitor::Flush() {
    GridCells* grid = Grid();
    if (!grid) return;
    int32_t groups = ColGroups();
    int32_t top, visRows, left, visCols;
    grid->GetVisible(top, visRows, left, visCols);
    for (int32_t line = 0; line < LineCount(); ++line) {
        int32_t col, row;
        CellOf(line, 0, groups, col, row);
        if (row < top || row > top + visRows) continue;
        std::string texts[TagLineRec::kFields];
        bool take[TagLineRec::kFields] = {};
        {
            std::lock_guard<std::mutex> g(m_);
            TagLineRec& r = rows_[size_t(line)];
            for (int f = 0; f < TagLineRec::kFields; ++f) {
                if (!r.changed[f] || col + f < left || col + f > left + visCols) continue;
                r.changed[f] = 0;
                texts[f] = r.text[f];
                take[f] = true;
            }
        }
        // No pause between batches of cells: the view repaints after the tick, so sleeping here would only
        // freeze the window thread.
        for (int f = 0; f < TagLineRec::kFields; ++f)
            if (take[f]) grid->SetCell(col + f, row, texts[f]);
    }
}

int32_t TagMonitor::SelectedLine() const {
    GridCells* grid = Grid();
    if (!grid) return -1;
    int32_t col, row;
    grid->GetSelected(col, row);
    if (row < 1 || col < 0) return -1;
    int32_t line = (row - 1) * ColGroups() + col / TagLineRec::kFields;
    return Valid(line) ? line : -1;
}

// ---- console entry points

namespace {

std::atomic<TagMonitor*> g_monitor{nullptr};
std::mutex g_lookupLock;
std::function<int(int32_t)> g_keyMode;

struct StatusRule {
    const char* zh;
    const char* en;
    int32_t state;
    int32_t fg, bg;
};

const StatusRule kStatusRules[] = {
    {"已停止", "End", 4, 0, 13},   {"加载...", "Loading...", 2, 0, 10}, {"初始化失败", "InitErr", 0, 14, 4},
    {"未配置", "Unset", 1, 0, 11}, {"运行", "Running", 3, 0, 15},       {"堵塞", "Blocked", 3, 14, 4},
};

// The grid cell of a line's Keys field, false when there is no grid or no such line.
bool KeysCell(int32_t line, GridCells*& grid, int32_t& col, int32_t& row) {
    TagMonitor* m = GetMonitor();
    if (!m || line < 0 || line >= m->LineCount() || !(grid = m->Grid())) return false;
    TagMonitor::CellOf(line, 3, m->ColGroups(), col, row);
    return true;
}

} // namespace

void SetMonitor(TagMonitor* monitor) {
    g_monitor.store(monitor, std::memory_order_release);
}
TagMonitor* GetMonitor() {
    return g_monitor.load(std::memory_order_acquire);
}

namespace {

int ApplyLineState(int32_t line, const char* status, bool onlyRunning) {
    if (line < 0) return -1;
    TagMonitor* m = GetMonitor();
    if (!m || !status) return 0;
    const StatusRule* rule = nullptr;
    for (const StatusRule& r : kStatusRules)
        if (std::strcmp(status, r.zh) == 0 || std::strcmp(status, r.en) == 0) {
            rule = &r;
            break;
        }
    std::string shown = status;
    const TagRunCfg& cfg = RunCfg();
    if (cfg.language) {
        if (rule && std::strcmp(status, rule->zh) == 0) {
            shown = rule->en;
        } else if (std::strncmp(status, "连通", std::strlen("连通")) == 0) {
            shown = "Conn";
            if (cfg.dispTalkTime) shown += status + std::strlen("连通");
        }
    }
    m->SetStatus(line, shown, rule ? rule->state : -1, rule ? rule->fg : 0, rule ? rule->bg : 0,
                 onlyRunning ? 3 : -1);
    return 0;
}

} // namespace

int SetLineState(int32_t line, const char* status) {
    return ApplyLineState(line, status, false);
}

int SetRunningLineState(int32_t line, const char* status) {
    return ApplyLineState(line, status, true);
}

int DispScriptFile(int32_t line, const char* text) {
    if (line < 0) return -1;
    if (TagMonitor* m = GetMonitor()) m->SetField(line, text ? text : "", 1);
    return 0;
}

int DispInfo(int32_t line, int32_t index, const char* text) {
    if (line < 0) return -1;
    // Only the three user columns.
    if (TagMonitor* m = GetMonitor(); m && index >= 0 && index < 3) m->SetField(line, text ? text : "", 5 + index);
    return 0;
}

int SetDispColor(int32_t line, int32_t fg, int32_t bg) {
    if (TagMonitor* m = GetMonitor()) m->SetColor(line, fg, bg);
    return 0;
}

void DispRunInfo(int32_t, const char* text, int32_t line) {
    TagMonitor* m = GetMonitor();
    if (!m || !text) return;
    int32_t mode = RunCfg().dispSentence;
    if (mode == 1) {
        m->SetField(line, text, 4);
    } else if (mode == 2) {
        const char* note = std::strstr(text, "//");
        m->SetField(line, note ? note + 2 : "", 4);
    }
}

void SetKeyModeLookup(std::function<int(int32_t line)> lookup) {
    std::lock_guard<std::mutex> g(g_lookupLock);
    g_keyMode = std::move(lookup);
}

void DispKeys(int32_t line, const char* keys) {
    TagMonitor* m = GetMonitor();
    if (!m || !keys || line < 0 || line >= m->LineCount()) return;
    std::function<int(int32_t)> lookup;
    {
        std::lock_guard<std::mutex> g(g_lookupLock);
        lookup = g_keyMode;
    }
    int mode = lookup ? lookup(line) : -1;
    if (mode == 1) {
        m->SetField(line, keys, 3);
    } else if (mode == 2) {
        size_t n = std::strlen(keys);
        m->SetField(line, std::string(n > 20 ? 20 : n, '*'), 3);
    }
}

std::string GetDispKeys(int32_t line) {
    GridCells* grid;
    int32_t col, row;
    return KeysCell(line, grid, col, row) ? grid->Cell(col, row) : std::string();
}

int GetDispKeysLen(int32_t line) {
    return int(GetDispKeys(line).size());
}

void SetDispKeys(int32_t line, const char* text) {
    GridCells* grid;
    int32_t col, row;
    if (KeysCell(line, grid, col, row)) grid->SetCell(col, row, text ? text : "");
}

void ClearDispKeys(int32_t line) {
    SetDispKeys(line, "");
}

} // namespace zz
