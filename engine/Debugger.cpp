// Pause and single step of the run loop, breakpoints, listings, the call stack and the variable views.
#include "engine/Debugger.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "engine/NumText.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"

namespace zz {

namespace {

// Guards every program's snapshot; held only while one is copied in or out.
std::mutex& SnapLock() {
    static std::mutex m;
    return m;
}

void AppendTabs(std::string& out, int32_t depth) {
    for (int32_t i = 0; i < depth; ++i)
        out += '\t';
}

// "  [index:line", then " parent" and ":match" when given, and the closing bracket.
void AppendBracket(std::string& out, const TagOper& op, const int32_t* parent, const int32_t* match) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  [%d:%d", op.index, op.lineNo);
    out += buf;
    if (parent) {
        std::snprintf(buf, sizeof buf, " %d", *parent);
        out += buf;
    }
    if (match) {
        std::snprintf(buf, sizeof buf, ":%d", *match);
        out += buf;
    }
    out += "]\n";
}

bool HasMatchColumn(const TagOper& op) {
    return op.match && (op.kind == '{' || op.kind == '}' || op.kind == 'b' || op.kind == 'o');
}

std::string GridValue(const TagVar& v) {
    switch (v.type) {
    case TagVar::kString:
    case TagVar::kFunction:
    case TagVar::kInt:
    case TagVar::kDouble:
        return v.ToString();
    case TagVar::kObject: {
        std::string s;
        AppendInt(s, v.ObjId());
        return s;
    }
    default:
        return "NULL";
    }
}

bool IsTemporary(std::string_view name) {
    return name.size() >= 2 && name[0] == '_' && name[1] == '_';
}

// A named constant, or a variable, of prog by exact name (own symbol table only).
TagVar* FindSymbol(TagTelBasic& prog, const char* name, bool constant) {
    for (int32_t i = 0; i < prog.VarCount(); ++i) {
        TagVar* v = prog.Var(i);
        if (v && (v->readOnly != 0) == constant && !v->Name().empty() && v->Name() == name) return v;
    }
    return nullptr;
}

} // namespace

void TagTelBasic::WaitDebugStep() {
    if (!stop && IsPaused() && !stepRequest) {
        TakeDebugSnapshot(*this);
        EngineHooks& hooks = TheEngineHooks();
        if (hooks.flushDebugPages) hooks.flushDebugPages(this);
    }
    // SetPause, Step and stop wake the line.
    auto held = [this] { return stop || !IsPaused() || stepRequest; };
    if (TagCallState* c = Call())
        c->wake.WaitFor(WakeEvent::kForever, held);
    else
        while (!held())
            SleepMs(100);
    stepRequest = 0;
}

void TagTelBasic::SetOpBreak(int32_t index, uint8_t on) {
    if (index < 0 || index >= opCount) return;
    TagOper* op = Op(index);
    if (!op || (op->IsBreak() != 0) == (on != 0)) return;
    op->SetBreak(on);
    breakCount += on ? 1 : -1;
    ParentOrSelf()->debugHold.fetch_add(on ? kHoldBreak : 0u - kHoldBreak);
    Notify();
}

uint8_t TagTelBasic::GetOpBreak(int32_t index) const {
    if (index < 0 || index >= opCount) return 0;
    TagOper* op = Op(index);
    return op ? op->IsBreak() : 0;
}

void TagTelBasic::ClearAllBreaks() {
    for (int32_t i = 0; i < opCount; ++i)
        if (TagOper* op = Op(i)) op->SetBreak(0);
    ParentOrSelf()->debugHold.fetch_sub(kHoldBreak * static_cast<uint32_t>(breakCount.exchange(0)));
    for (auto& unit : subList)
        if (unit) unit->ClearAllBreaks();
    Notify();
}

void ListSource(const TagTelBasic& prog, std::string& out) {
    out.clear();
    for (int32_t i = 0; i < prog.OpCount(); ++i) {
        const TagOper* op = prog.Op(i);
        if (!op) continue;
        AppendTabs(out, op->depth);
        out += op->text;
        int32_t parentIndex = op->parent ? op->parent->index : -1;
        int32_t matchIndex = HasMatchColumn(*op) ? op->match->index : -1;
        AppendBracket(out, *op, &parentIndex, HasMatchColumn(*op) ? &matchIndex : nullptr);
    }
}

int32_t ListFunctions(TagTelBasic& prog, std::string& out, std::string* summary) {
    out.clear();
    if (prog.IsFunctionUnit()) return -1;
    int32_t row = 0, units = 0;
    for (auto& unit : prog.subList) {
        if (!unit) continue;
        ++units;
        out += unit->defText;
        out += " : (";
        out += unit->scriptFile;
        out += ")\n";
        ++row;
        unit->rowBase = row;
        for (int32_t i = 0; i < unit->OpCount(); ++i) {
            const TagOper* op = unit->Op(i);
            ++row;
            if (!op) {
                out += '\n';
                continue;
            }
            AppendTabs(out, op->depth);
            out += op->text;
            AppendBracket(out, *op, nullptr, nullptr);
        }
    }
    char text[128];
    std::snprintf(text, sizeof text, "主流程: %d行; %d个子函数: %d行", prog.OpCount(), units, row);
    if (summary) *summary = text;
    EngineHooks& hooks = TheEngineHooks();
    if (hooks.dispCompileMsg) hooks.dispCompileMsg(text, 0);
    return 0;
}

TagTelBasic* FindRowUnit(const TagTelBasic& prog, int32_t row, int32_t* local) {
    for (const auto& unit : prog.subList) {
        if (unit && unit->rowBase <= row && row < unit->rowBase + unit->OpCount()) {
            if (local) *local = row - unit->rowBase;
            return unit.get();
        }
    }
    return nullptr;
}

void SetRowBreak(TagTelBasic& prog, int32_t row, uint8_t on) {
    int32_t local = 0;
    if (TagTelBasic* unit = FindRowUnit(prog, row, &local)) unit->SetOpBreak(local, on);
}

uint8_t GetRowBreak(const TagTelBasic& prog, int32_t row) {
    int32_t local = 0;
    const TagTelBasic* unit = FindRowUnit(prog, row, &local);
    return unit ? unit->GetOpBreak(local) : 0;
}

void SetDebugView(TagTelBasic& prog, void* callStackList, void* varGrid, void* listing) {
    prog.Main().debugViews[0] = callStackList;
    prog.Main().debugViews[1] = varGrid;
    prog.Main().debugViews[2] = listing;
}

void AddCallStackName(const TagTelBasic* unit, std::vector<CallStackEntry>& list) {
    CallStackEntry e;
    e.unit = const_cast<TagTelBasic*>(unit);
    e.name = unit && unit->IsFunctionUnit() && !unit->defText.empty() ? unit->defText : "_main_";
    list.push_back(std::move(e));
}

int32_t GetCallStack(TagTelBasic* unit, std::vector<CallStackEntry>* list) {
    if (!list) return -1;
    list->clear();
    if (!unit || !unit->caller) return -2;
    AddCallStackName(unit, *list);
    for (TagTelBasic* u = unit; u->caller && list->size() < 31;) {
        TagTelBasic* next = u->caller;
        AddCallStackName(next, *list);
        if (next == u) break;
        u = next;
    }
    return 0;
}

const char* TypeName(const TagVar& v) {
    return TagVar::TypeName(v.type);
}

int32_t LookupName(TagTelBasic& prog, const char* name, std::string& note, std::string& value, std::string& kind) {
    note.clear();
    kind.clear();
    TagVar* v = nullptr;
    if (name && *name) {
        if (prog.FindParam(name, &v) >= 0) {
            kind = std::string("参数: ") + TypeName(*v);
            note = "参数";
        } else if ((v = FindSymbol(prog, name, true))) {
            kind = std::string("常量: ") + TypeName(*v);
            note = v->Note();
        } else if ((v = FindSymbol(prog, name, false))) {
            kind = std::string("变量: ") + TypeName(*v);
            note = v->Note();
        }
    }
    if (!v) {
        value = "变量名不存在.";
        return -1;
    }
    v->ToString(value, 1);
    return 0;
}

void GetOpVarsText(TagTelBasic& prog, int32_t index, std::string& out) {
    out.clear();
    if (index < 0 || index >= prog.OpCount() || !prog.Op(index)) return;
    std::map<std::string, int32_t> words;
    prog.Op(index)->SplitWords(words);
    std::string note, value, kind;
    for (const auto& w : words) {
        int32_t found = LookupName(prog, w.first.c_str(), note, value, kind);
        if (found < 0 && prog.parent) found = LookupName(*prog.parent, w.first.c_str(), note, value, kind);
        if (found < 0) continue;
        if (!out.empty()) out += '\n';
        out += w.first;
        out += ": ";
        out += value;
    }
}

void CollectVarRows(TagTelBasic& prog, std::vector<VarRow>& rows) {
    rows.clear();
    for (int32_t i = 0; i < prog.paramCount; ++i)
        rows.push_back({prog.paramNames[static_cast<size_t>(i)], GridValue(prog.ParamValue(i)), "参数", 0});
    for (int32_t pass = 1; pass <= 2; ++pass) {
        for (int32_t i = 0; i < prog.VarCount(); ++i) {
            const TagVar* v = prog.Var(i);
            if (!v || v->Name().empty() || (v->readOnly != 0) != (pass == 1)) continue;
            if (pass == 2 && IsTemporary(v->Name())) continue;
            rows.push_back({std::string(v->Name()), GridValue(*v), std::string(v->Note()), static_cast<uint8_t>(pass)});
        }
    }
}

void ArrangeVarGrid(const std::vector<VarRow>& rows, uint8_t sortByName, uint8_t descending, VarGridTable& grid) {
    grid.title = {};
    grid.rows.clear();
    if (rows.empty()) return;
    grid.title = {"Name", "Value", "Note"};
    std::vector<const VarRow*> vars;
    for (const VarRow& r : rows) {
        if (r.section < 2)
            grid.rows.push_back({r.name, r.value, r.note});
        else
            vars.push_back(&r);
    }
    if (sortByName)
        std::stable_sort(vars.begin(), vars.end(), [descending](const VarRow* a, const VarRow* b) {
            return descending ? b->name < a->name : a->name < b->name;
        });
    else if (descending)
        std::reverse(vars.begin(), vars.end());
    for (const VarRow* r : vars)
        grid.rows.push_back({r->name, r->value, r->note});
}

void FillVarGrid(TagTelBasic& prog, VarGridTable& grid, uint8_t sortByName, uint8_t descending) {
    std::vector<VarRow> rows;
    CollectVarRows(prog, rows);
    ArrangeVarGrid(rows, sortByName, descending, grid);
}

void TakeDebugSnapshot(TagTelBasic& main) {
    auto snap = std::make_shared<DebugSnapshot>();
    TagTelBasic* unit = main.runningUnit.load();
    if (!unit) unit = &main;
    snap->unit = unit;
    snap->opIndex = unit->curOpIndex;
    if (GetCallStack(unit, &snap->callStack) == -2) AddCallStackName(unit, snap->callStack);
    CollectVarRows(main, snap->mainVars);
    if (unit != &main) CollectVarRows(*unit, snap->unitVars);
    std::lock_guard<std::mutex> g(SnapLock());
    std::shared_ptr<DebugSnapshot>& last = main.Main().debugSnap;
    snap->serial = last ? last->serial + 1 : 1;
    last = std::move(snap);
}

bool ReadDebugSnapshot(const TagTelBasic& main, DebugSnapshot& out) {
    std::shared_ptr<DebugSnapshot> snap;
    {
        std::lock_guard<std::mutex> g(SnapLock());
        snap = const_cast<TagTelBasic&>(main).Main().debugSnap;
    }
    if (!snap) return false;
    out = *snap;
    return true;
}

} // namespace zz
