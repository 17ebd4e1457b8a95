#include "console/DebugPages.h"

#include "console/TagMonitor.h"
#include "engine/TagOper.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagTelDrive.h"

#include <cstdlib>

namespace zz {

namespace {

std::vector<std::string> SplitRows(const std::string& text) {
    std::vector<std::string> rows;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        rows.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

// The operation index a main listing row ends with ("  [index:line ...]").
int32_t RowOp(const std::string& row) {
    size_t open = row.rfind("  [");
    return open == std::string::npos ? -1 : std::atoi(row.c_str() + open + 3);
}

const VarRow* FindRow(const std::vector<VarRow>& rows, const std::string& name) {
    for (const VarRow& r : rows)
        if (r.name == name) return &r;
    return nullptr;
}

} // namespace

void TagCtrlPages::SetListener(Listener l) {
    std::lock_guard<std::mutex> g(m_);
    listener_ = std::move(l);
}

void TagCtrlPages::Notify(int32_t line) {
    Listener l;
    {
        std::lock_guard<std::mutex> g(m_);
        l = listener_;
    }
    if (l) l(line);
}

TagCtrlPages::Page* TagCtrlPages::Find(int32_t line) {
    for (auto& p : pages_)
        if (p->s.line == line) return p.get();
    return nullptr;
}

const TagCtrlPages::Page* TagCtrlPages::Find(int32_t line) const {
    for (auto& p : pages_)
        if (p->s.line == line) return p.get();
    return nullptr;
}

TagCtrlPages::Page* TagCtrlPages::FindProg(TagTelBasic* prog) {
    for (auto& p : pages_)
        if (p->prog == prog) return p.get();
    return nullptr;
}

bool TagCtrlPages::WithProgram(int32_t line, TagTelBasic* prog, const std::function<void(TagTelBasic&)>& fn) const {
    TagTelDrive* drive = GetTelDrive();
    TagTelLine* entry = drive ? drive->Line(line) : nullptr;
    if (!entry || !prog) return false;
    std::lock_guard<std::mutex> lk(entry->programLock);
    if (entry->program != prog) return false;
    fn(*prog);
    return true;
}

void TagCtrlPages::ReadBreaks(Page& p, TagTelBasic& prog) {
    p.s.mainBreaks.assign(p.s.mainRows.size(), 0);
    for (size_t i = 0; i < p.rowOps.size(); ++i)
        p.s.mainBreaks[i] = prog.GetOpBreak(p.rowOps[i]);
    p.s.funcBreaks.assign(p.s.funcRows.size(), 0);
    for (size_t i = 0; i < p.s.funcRows.size(); ++i)
        p.s.funcBreaks[i] = GetRowBreak(prog, int32_t(i));
}

bool TagCtrlPages::Open(int32_t line) {
    if (HasPage(line)) return false;
    autoRefresh_ = false;
    auto page = std::make_unique<Page>();
    page->s.line = line;
    TagTelDrive* drive = GetTelDrive();
    TagTelLine* entry = drive ? drive->Line(line) : nullptr;
    if (!entry) return false;
    {
        std::lock_guard<std::mutex> lk(entry->programLock);
        TagTelBasic* prog = entry->program;
        if (!prog) return false;
        page->prog = prog;
        std::string text;
        ListSource(*prog, text);
        page->s.mainRows = SplitRows(text);
        for (const std::string& r : page->s.mainRows)
            page->rowOps.push_back(RowOp(r));
        ListFunctions(*prog, text);
        page->s.funcRows = SplitRows(text);
        for (auto& unit : prog->subList)
            if (unit) page->unitRows[unit.get()] = unit->rowBase;
        ReadBreaks(*page, *prog);
        if (ReadDebugSnapshot(*prog, page->snap)) {
            ArrangeVarGrid(page->snap.mainVars, 0, 0, page->s.mainVars);
            page->s.serial = page->snap.serial;
        }
        page->s.paused = prog->IsPaused();
        prog->SetWatched(1); // the page follows every statement
    }
    {
        std::lock_guard<std::mutex> g(m_);
        if (Find(line)) return false;
        pages_.push_back(std::move(page));
        current_ = line;
    }
    Notify(line);
    return true;
}

void TagCtrlPages::Destroy(std::unique_ptr<Page> p) {
    if (!p) return;
    WithProgram(p->s.line, p->prog, [](TagTelBasic& prog) {
        prog.ClearAllBreaks();
        prog.SetPause(0);
        prog.SetWatched(0);
    });
}

void TagCtrlPages::Close(int32_t line) {
    std::unique_ptr<Page> gone;
    {
        std::lock_guard<std::mutex> g(m_);
        for (auto it = pages_.begin(); it != pages_.end(); ++it) {
            if ((*it)->s.line != line) continue;
            gone = std::move(*it);
            it = pages_.erase(it);
            if (current_ == line) current_ = pages_.empty() ? -1 : pages_.back()->s.line;
            break;
        }
    }
    Destroy(std::move(gone));
    Notify(line);
}

void TagCtrlPages::CloseAll() {
    autoRefresh_ = false;
    for (int32_t line : Lines())
        Close(line);
}

bool TagCtrlPages::HasPage(int32_t line) const {
    std::lock_guard<std::mutex> g(m_);
    return Find(line) != nullptr;
}

bool TagCtrlPages::IsLineDebugged(int32_t line) const {
    return HasPage(line);
}

size_t TagCtrlPages::Count() const {
    std::lock_guard<std::mutex> g(m_);
    return pages_.size();
}

std::vector<int32_t> TagCtrlPages::Lines() const {
    std::lock_guard<std::mutex> g(m_);
    std::vector<int32_t> lines;
    for (auto& p : pages_)
        lines.push_back(p->s.line);
    return lines;
}

void TagCtrlPages::SetCurrent(int32_t line) {
    std::lock_guard<std::mutex> g(m_);
    if (Find(line)) current_ = line;
}

int32_t TagCtrlPages::Current() const {
    std::lock_guard<std::mutex> g(m_);
    return current_;
}

bool TagCtrlPages::State(int32_t line, TagPageState& out) const {
    std::lock_guard<std::mutex> g(m_);
    const Page* p = Find(line);
    if (!p) return false;
    out = p->s;
    return true;
}

void TagCtrlPages::Step() {
    int32_t line = Current();
    TagTelBasic* prog = nullptr;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = Find(line);
        if (!p) return;
        prog = p->prog;
        p->s.paused = false;
    }
    WithProgram(line, prog, [](TagTelBasic& pr) { pr.Step(); });
    Notify(line);
}

void TagCtrlPages::Run() {
    int32_t line = Current();
    TagTelBasic* prog = nullptr;
    uint32_t shown = 0;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = Find(line);
        if (!p) return;
        prog = p->prog;
        shown = p->s.serial;
    }
    bool resumed = false;
    WithProgram(line, prog, [&](TagTelBasic& pr) {
        if (!pr.IsPaused()) return;
        pr.SetPause(0);
        resumed = true;
    });
    if (!resumed) return;
    {
        // The line may already have run on to its next pause and shown it: that pause stays shown.
        std::lock_guard<std::mutex> g(m_);
        if (Page* p = Find(line); p && p->s.serial == shown) p->s.paused = false;
    }
    Notify(line);
}

void TagCtrlPages::Refresh() {
    int32_t line = Current();
    TagTelBasic* prog = nullptr;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = Find(line);
        if (!p) return;
        prog = p->prog;
    }
    DebugSnapshot snap;
    bool have = false, ok = false;
    WithProgram(line, prog, [&](TagTelBasic& pr) {
        ok = pr.initResult == 0;
        have = ok && ReadDebugSnapshot(pr, snap);
    });
    if (!have) return;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = Find(line);
        if (!p) return;
        p->snap = std::move(snap);
        ArrangeVarGrid(p->snap.mainVars, 0, 0, p->s.mainVars);
        p->s.inFunction = p->snap.unit && p->snap.unit != p->prog;
        if (p->s.inFunction)
            ArrangeVarGrid(p->snap.unitVars, 0, 0, p->s.funcVars);
        else
            p->s.funcVars = {};
        p->s.serial = p->snap.serial;
    }
    Notify(line);
}

void TagCtrlPages::ToggleBreak(bool funcTree, int32_t row) {
    int32_t line = Current();
    TagTelBasic* prog = nullptr;
    int32_t op = -1;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = Find(line);
        if (!p || row < 0) return;
        prog = p->prog;
        if (!funcTree && size_t(row) < p->rowOps.size()) op = p->rowOps[size_t(row)];
    }
    std::vector<uint8_t> mainBreaks, funcBreaks;
    WithProgram(line, prog, [&](TagTelBasic& pr) {
        if (funcTree)
            SetRowBreak(pr, row, GetRowBreak(pr, row) ? 0 : 1);
        else if (op >= 0)
            pr.SetOpBreak(op, pr.GetOpBreak(op) ? 0 : 1);
        std::lock_guard<std::mutex> g(m_);
        if (Page* p = Find(line)) ReadBreaks(*p, pr);
    });
    Notify(line);
}

bool TagCtrlPages::CallStack(std::vector<CallStackEntry>& out) const {
    std::lock_guard<std::mutex> g(m_);
    const Page* p = Find(current_);
    out.clear();
    if (!p || !p->snap.unit || p->snap.unit == p->prog) return false;
    out = p->snap.callStack;
    return true;
}

void TagCtrlPages::UnitVars(TagTelBasic* unit, uint8_t sortByName, uint8_t descending, VarGridTable& out) const {
    std::lock_guard<std::mutex> g(m_);
    out = {};
    const Page* p = Find(current_);
    if (!p) return;
    if (unit == p->prog)
        ArrangeVarGrid(p->snap.mainVars, sortByName, descending, out);
    else if (unit && unit == p->snap.unit)
        ArrangeVarGrid(p->snap.unitVars, sortByName, descending, out);
}

std::string TagCtrlPages::OperVars(bool funcTree, int32_t row) const {
    int32_t line = Current();
    TagTelBasic* prog = nullptr;
    {
        std::lock_guard<std::mutex> g(m_);
        const Page* p = Find(line);
        if (!p || !p->s.paused || row < 0) return {};
        prog = p->prog;
    }
    std::string out;
    // The statement's compiled form is fixed once compiled; the values come from the pause's snapshot.
    WithProgram(line, prog, [&](TagTelBasic& pr) {
        std::lock_guard<std::mutex> g(m_);
        const Page* p = Find(line);
        if (!p) return;
        const TagOper* op = nullptr;
        const std::vector<VarRow>* first = &p->snap.mainVars;
        if (!funcTree) {
            if (size_t(row) < p->rowOps.size()) op = pr.Op(p->rowOps[size_t(row)]);
        } else if (TagTelBasic* unit = FindRowUnit(pr, row, nullptr)) {
            op = unit->Op(row - unit->rowBase);
            if (unit == p->snap.unit) first = &p->snap.unitVars;
        }
        if (!op) return;
        std::map<std::string, int32_t> words;
        op->SplitWords(words);
        for (const auto& w : words) {
            const VarRow* v = FindRow(*first, w.first);
            if (!v) v = FindRow(p->snap.mainVars, w.first);
            if (!v) continue;
            if (!out.empty()) out += '\n';
            out += w.first + ": " + v->value;
        }
    });
    return out;
}

int32_t TagCtrlPages::LookupName(bool funcTree, const std::string& name, std::string& kind, std::string& value,
                                 std::string& note) const {
    std::lock_guard<std::mutex> g(m_);
    kind.clear();
    note.clear();
    value = "变量名不存在.";
    const Page* p = Find(current_);
    if (!p) return -1;
    const VarRow* v = FindRow(funcTree ? p->snap.unitVars : p->snap.mainVars, name);
    if (!v) return -1;
    static const char* const kinds[3] = {"参数", "常量", "变量"};
    kind = kinds[v->section < 3 ? v->section : 2];
    value = v->value;
    note = v->note;
    return 0;
}

void TagCtrlPages::OnLine(TagTelBasic* prog, int32_t row) {
    int32_t line = -1;
    {
        std::lock_guard<std::mutex> g(m_);
        if (!autoRefresh_.load()) return;
        Page* p = Find(current_);
        if (!p || p->prog != prog) return;
        for (size_t i = 0; i < p->rowOps.size(); ++i)
            if (p->rowOps[i] == row) p->s.mainCur = int32_t(i);
        line = p->s.line;
    }
    Notify(line);
}

void TagCtrlPages::OnFunc(TagTelBasic* unit, int32_t index, bool, bool) {
    int32_t line = -1;
    {
        std::lock_guard<std::mutex> g(m_);
        if (!autoRefresh_.load() || !unit) return;
        Page* p = Find(current_);
        if (!p || p->prog != unit->ParentOrSelf()) return;
        auto it = p->unitRows.find(unit);
        if (it == p->unitRows.end()) return;
        p->s.funcCur = it->second + index;
        line = p->s.line;
    }
    Notify(line);
}

void TagCtrlPages::OnPause(TagTelBasic* prog) {
    DebugSnapshot snap;
    if (!prog || !ReadDebugSnapshot(*prog, snap)) return;
    int32_t line = -1;
    {
        std::lock_guard<std::mutex> g(m_);
        Page* p = FindProg(prog);
        if (!p) return;
        p->snap = std::move(snap);
        p->s.paused = true;
        p->s.serial = p->snap.serial;
        ArrangeVarGrid(p->snap.mainVars, 0, 0, p->s.mainVars);
        p->s.inFunction = p->snap.unit && p->snap.unit != prog;
        if (p->s.inFunction) {
            ArrangeVarGrid(p->snap.unitVars, 0, 0, p->s.funcVars);
            auto it = p->unitRows.find(p->snap.unit);
            if (it != p->unitRows.end()) p->s.funcCur = it->second + p->snap.opIndex;
        } else {
            p->s.funcVars = {};
            for (size_t i = 0; i < p->rowOps.size(); ++i)
                if (p->rowOps[i] == p->snap.opIndex) p->s.mainCur = int32_t(i);
        }
        line = p->s.line;
    }
    Notify(line);
}

} // namespace zz
