#include "engine/TagTelBasic.h"
#include "platform/CpuGate.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "engine/NumText.h"
#include "engine/TagBuiltinHost.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"

namespace zz {

EngineHooks g_engineHooks;

// For every name and every read-only literal value in the table, the first entry that has it, as a walk of the
// table would find it: entries below `covered` are in the maps. A table that grows is covered on the next lookup;
// removing an entry uncovers the entries from it on (they move up a slot).
struct TagTelBasic::SymbolIndex {
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using TextMap = std::unordered_map<std::string, int32_t, TextHash, std::equal_to<>>;
    TextMap names;
    std::unordered_map<int32_t, int32_t> ints;
    std::unordered_map<double, int32_t> doubles; // 0.0 and -0.0 are one key, as they compare equal
    TextMap strings;
    int32_t covered = 0;

    template <class F> void ForEachKey(const TagVar& v, F&& f) {
        if (!v.Name().empty()) f(names, v.Name());
        if (!v.readOnly) return;
        if (v.type == TagVar::kInt)
            f(ints, v.intVal);
        else if (v.type == TagVar::kDouble)
            f(doubles, v.DblVal());
        else if (v.type == TagVar::kString)
            f(strings, std::string_view(v.Str(), StrBytes(v)));
    }
    void Cover(const pvector<TagNamedVar>& symbols) {
        for (; covered < symbols.Count(); ++covered)
            if (const TagVar* v = symbols.Get(covered))
                ForEachKey(*v, [this](auto& map, auto key) { map.emplace(key, covered); });
    }
    // Before the entry at `from` is removed: the keys of the entries from there on leave the maps.
    void Uncover(const pvector<TagNamedVar>& symbols, int32_t from) {
        for (int32_t i = from; i < covered; ++i)
            if (const TagVar* v = symbols.Get(i))
                ForEachKey(*v, [i](auto& map, auto key) {
                    auto it = map.find(key);
                    if (it != map.end() && it->second == i) map.erase(it);
                });
        if (from < covered) covered = from;
    }
};

namespace {

std::atomic<TagBuiltinHost*> g_builtinHost{nullptr};

void DispCompileMsg(const char* text) {
    if (g_engineHooks.dispCompileMsg) g_engineHooks.dispCompileMsg(text, 0);
}

} // namespace

void SetBuiltinHost(TagBuiltinHost* host) {
    g_builtinHost.store(host, std::memory_order_release);
}

TagBuiltinHost* GetBuiltinHost() {
    return g_builtinHost.load(std::memory_order_acquire);
}

TagTelBasic::TagTelBasic()
    : main_(std::make_unique<MainOnly>()), includes(main_->includes), unitName("_main_"),
      lineStates_(std::make_unique<TagLineStates>()) {
    CreateUnitVars();
}

TagTelBasic::TagTelBasic(const char* file, int32_t line, TagCallState* call, uint8_t mode, TagTelBasic* callerProg)
    : main_(std::make_unique<MainOnly>()), includes(main_->includes), unitName("_main_"),
      lineStates_(std::make_unique<TagLineStates>()) {
    if (callerProg) {
        callingProgram = callerProg;
        calledProgram = 1;
    }
    if (line >= 1 && mode == 1 && !calledProgram) WaitCpuIdleOr(20, 45, call ? &call->stopFlag : nullptr);
    runMode = mode;
    lineNo = line;
    stopped = 1;
    scriptFile = file ? file : "";
    char name[40];
    std::snprintf(name, sizeof name, "errmsg%d.txt", lineNo);
    std::remove(name);
    pKvCall = call;
    if (!call || call->lineNo < 0) {
        DispCompileMsg("初始化线路设备失败!");
        initResult = -2;
        return;
    }
    DispCompileMsg("开始编译...");
    CreateSystemVars(scriptFile.c_str());
    if (callingProgram && callingProgram->shareVars)
        for (int32_t i = 0; i < callingProgram->symbols.Count(); ++i)
            if (TagVar* v = callingProgram->symbols.Get(i)) AddVar(*v);
    curOpIndex = -1;
    errorCount = warningCount = 0;
    uint32_t start = GetTickCount();
    // The include list starts empty, so CompileFile takes the main file as the program's script file.
    std::string main = scriptFile;
    scriptFile.clear();
    int32_t lines = CompileFile(0, main.c_str());
    scriptFile = main;
    FinishCompile(lines < 0 ? 0 : lines, start);
    SplitSymbols();
    DropScratch();
    DropIndex();
}

TagTelBasic::TagTelBasic(const char* fileName, const char* funcName, TagTelBasic* par)
    : main_(par ? nullptr : std::make_unique<MainOnly>()), includes(par ? par->includes : main_->includes),
      unitName(funcName ? funcName : ""), scriptFile(fileName ? fileName : ""), parent(par) {
    if (par) {
        runMode = par->runMode;
        lineNo = par->lineNo;
    }
    stopped = 1;
    CreateUnitVars();
}

TagTelBasic::~TagTelBasic() {
    // The family records go first, in family order (the voice record removes the line's temporary voice files
    // before the call's waits are stopped); timer handlers in them point into the symbol table.
    if (lineStates_) lineStates_->Drop(LineFamily::kVoice);
    stop = 1;
    if (!parent && pKvCall && !calledProgram) pKvCall->RequestStop();
    if (lineStates_) lineStates_->Clear();
    ops.Clear();
    subList.Clear();
    retVal_ = nullptr;
    symbols.Clear();
}

TagTelBasic::SymbolIndex& TagTelBasic::Index() {
    if (!index_) index_ = std::make_unique<SymbolIndex>();
    index_->Cover(symbols);
    return *index_;
}

void TagTelBasic::DropIndex() {
    index_.reset();
    for (int32_t i = 0; i < subList.Count(); ++i)
        if (TagTelBasic* u = subList.Get(i)) u->DropIndex();
}

void TagTelBasic::DropScratch() {
    scratch_.reset();
    for (int32_t i = 0; i < subList.Count(); ++i)
        if (TagTelBasic* u = subList.Get(i)) u->DropScratch();
}

// Every unit has these two; their names are shared texts, not copies.
void TagTelBasic::CreateUnitVars() {
    TagNamedVar* temp = AppendVar();
    temp->InitInt(nullptr, nullptr, 0, 0);
    temp->SetStaticNames("_tempVal\0临时变量");
    TagNamedVar* ret = AppendVar();
    ret->InitInt(nullptr, nullptr, -1, 0);
    ret->SetStaticNames("_retVal\0操作返回值");
    retVal_ = ret;
}

void TagTelBasic::CreateSystemVars(const char* file) {
    CreateUnitVars();
    AppendVar()->InitInt("_lineNo", "线路号", lineNo, 1);
    AppendVar()->InitInt("_lineType", "线路类型", pKvCall ? pKvCall->lineKind : 0, 1);
    AppendVar()->InitInt("_linesCount", "总线路数", g_engineHooks.linesCount ? g_engineHooks.linesCount() : 0, 1);
    std::string dir, name;
    SplitPath(file ? file : "", dir, name);
    AppendVar()->InitStr("_kvsFile", "脚本文件名", name.c_str(), 1);
    AppendVar()->InitStr("_kvsDir", "脚本路径", dir.c_str(), 1);
    AppendVar()->InitInt("true", "逻辑真", 1, 1);
    AppendVar()->InitInt("false", "逻辑假", 0, 1);
    TagNamedVar* null = AppendVar();
    null->InitInt("NULL", "空", 0, 0);
    null->type = TagVar::kEmpty;
    null->readOnly = 1;
}

void TagTelBasic::SplitSymbols() {
    variables.clear();
    constants.clear();
    namedConstCount = 0;
    splitCount = symbols.Count();
    for (int32_t i = 0; i < symbols.Count(); ++i) {
        TagVar* v = symbols.Get(i);
        if (!v) continue;
        if (v->readOnly) {
            constants.push_back(v);
            if (!v->Name().empty()) ++namedConstCount;
        } else {
            variables.push_back(v);
        }
    }
}

TagNamedVar* TagTelBasic::AppendVar() {
    return symbols.Add(std::make_unique<TagNamedVar>());
}

void TagTelBasic::AddVar(const TagVar& var) {
    if (var.type == TagVar::kFunction) return;
    TagVar* own = nullptr;
    if (!var.Name().empty() && FindOwnVar(var.Name().data(), &own) >= 0) {
        *own = var;
        return;
    }
    // Assignment counts an object's reference, so the called program releasing its copy never frees the
    // caller's object (a plain copy would share the identifier uncounted).
    TagNamedVar* v = AppendVar();
    v->InitInt(var.Name().data(), var.Note().data(), 0, 0);
    *v = var;
    v->readOnly = var.readOnly;
}

int32_t TagTelBasic::FindFunc(const char* name, TagTelBasic** unit) {
    TagTelBasic* main = ParentOrSelf();
    if (unit) *unit = nullptr;
    if (!name) return -1;
    for (int32_t i = 0; i < main->subList.Count(); ++i) {
        TagTelBasic* u = main->subList.Get(i);
        if (u && u->unitName == name) {
            if (unit) *unit = u;
            return i;
        }
    }
    return -1;
}

int32_t TagTelBasic::FindSubFunc(const char* name) {
    if (!name) return -1;
    for (int32_t i = 0; i < subList.Count(); ++i)
        if (TagTelBasic* u = subList.Get(i); u && u->unitName == name) return i;
    return -1;
}

int32_t TagTelBasic::AddParam(const char* name) {
    if (paramCount >= kMaxParams) return -1;
    paramNames.emplace_back(name ? name : "");
    paramValues.push_back(std::make_unique<TagVar>());
    return ++paramCount;
}

int32_t TagTelBasic::SetRetVal(const TagVar& value) {
    TagVar* r = RetVal();
    if (!r) return 0;
    *r = value;
    return r->intVal;
}

void LineFlag::Raise() {
    if (owner_) owner_->Notify();
}

void TagTelBasic::Notify() {
    if (TagCallState* c = Call()) {
        c->Attend();
        c->wake.Signal();
    }
}

void TagTelBasic::SetReload(uint8_t on) {
    reloadRequested = on;
    if (IsReloadPending()) {
        if (TagCallState* c = Call()) c->RequestStop();
    } else if (on) {
        Notify();
    }
}

void TagTelBasic::SplitPath(const std::string& path, std::string& dir, std::string& file) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) {
        dir.clear();
        file = path;
        return;
    }
    dir = path.substr(0, cut + 1);
    file = path.substr(cut + 1);
}

void TagTelBasic::ErrorBox(int32_t line, const char* message, const char* detail) {
    if (ParentOrSelf()->calledProgram) return;
    char text[2200];
    if (line == kSummaryLine)
        std::snprintf(text, sizeof text, "%s,\r%s", message ? message : "", detail ? detail : "");
    else
        std::snprintf(text, sizeof text, "%4d: %s,\r%s", line, message ? message : "", detail ? detail : "");
    ShowMessage(text, "出错了");
}

std::string TagTelBasic::NewTempName() {
    int32_t* c = TempCounter();
    std::string n = "__m";
    AppendInt(n, (*c)++);
    return n;
}

int32_t TagTelBasic::FindOwnVar(const char* name, TagVar** var) {
    if (var) *var = nullptr;
    if (!name || !*name) return -1;
    SymbolIndex& index = Index();
    auto it = index.names.find(std::string_view(name));
    if (it == index.names.end()) return -1;
    if (var) *var = symbols.Get(it->second);
    return it->second;
}

int32_t TagTelBasic::FindParam(const char* name, TagVar** var) {
    if (var) *var = nullptr;
    if (!name || !*name) return -1;
    for (int32_t i = 0; i < paramCount; ++i) {
        if (paramNames[static_cast<size_t>(i)] == name) {
            if (var) *var = paramValues[static_cast<size_t>(i)].get();
            return i;
        }
    }
    return -1;
}

int32_t TagTelBasic::FindVar(const char* name, TagVar** var) {
    int32_t i = FindOwnVar(name, var);
    if (i >= 0 || !parent) return i;
    i = FindParam(name, var);
    if (i >= 0) return i;
    return parent->FindOwnVar(name, var);
}

int32_t TagTelBasic::FindOrCreateVar(const char* name, TagVar** var, const char* note) {
    int32_t i = FindVar(name, var);
    if (i >= 0) return i;
    TagNamedVar* v = AppendVar();
    v->InitInt(name, note, 0, 0);
    if (var) *var = v;
    return symbols.Count() - 1;
}

namespace {

bool SameLiteral(const TagVar& v, int32_t type, int32_t i, double d, const std::string& s) {
    if (!v.readOnly || v.type != type) return false;
    if (type == TagVar::kInt) return v.intVal == i;
    if (type == TagVar::kDouble) return v.DblVal() == d;
    return StrBytes(v) == s.size() && std::string_view(v.Str(), s.size()) == s;
}

} // namespace

int32_t TagTelBasic::ResolveOperand(const TagOperand& tok, TagVar** var) {
    if (var) *var = nullptr;
    if (tok.kind == TagOperand::kName) {
        TagVar* v = nullptr;
        int32_t i = FindVar(tok.text.c_str(), &v);
        if (i < 0) return -1;
        if (TagTelBasic* f = v->FuncUnit()) ++f->Scratch().callerNames[unitName];
        if (var) *var = v;
        return i;
    }
    int32_t type, iv = 0;
    double dv = 0;
    if (tok.kind == TagOperand::kString) {
        type = TagVar::kString;
    } else if (tok.kind == TagOperand::kInteger) {
        type = TagVar::kInt;
        iv = TextToInt(tok.text.c_str());
    } else if (tok.kind == TagOperand::kFloat) {
        type = TagVar::kDouble;
        dv = TextToDouble(tok.text.c_str());
    } else {
        return -2;
    }
    // The first read-only entry of equal type and value (0.0 and -0.0 are equal; NaN equals nothing).
    SymbolIndex& index = Index();
    int32_t found = -1;
    if (type == TagVar::kInt) {
        auto it = index.ints.find(iv);
        if (it != index.ints.end()) found = it->second;
    } else if (type == TagVar::kDouble) {
        auto it = index.doubles.find(dv);
        if (it != index.doubles.end()) found = it->second;
    } else {
        auto it = index.strings.find(std::string_view(tok.text));
        if (it != index.strings.end()) found = it->second;
    }
    if (found >= 0) {
        TagVar* v = symbols.Get(found);
        if (v && SameLiteral(*v, type, iv, dv, tok.text)) {
            if (var) *var = v;
            return found;
        }
    }
    TagNamedVar* v = AppendVar();
    if (type == TagVar::kString) {
        v->InitStr("", "CONST", "", 1);
        v->readOnly = 0;
        v->SetStrN(tok.text.data(), static_cast<int32_t>(tok.text.size()));
        v->readOnly = 1;
    } else if (type == TagVar::kInt) {
        v->InitInt("", "CONST", iv, 1);
    } else {
        v->InitFloat("", "CONST", dv, 1);
    }
    if (var) *var = v;
    return symbols.Count() - 1;
}

bool TagTelBasic::DeleteVar(TagVar* var) {
    for (int32_t i = symbols.Count() - 1; i >= 0; --i)
        if (symbols.Get(i) == var) {
            if (var == retVal_) retVal_ = nullptr;
            if (index_) index_->Uncover(symbols, i);
            symbols.Remove(i);
            return true;
        }
    return false;
}

} // namespace zz
