#include "engine/TagTelBasic.h"

#include <cstdio>

#include "builtins/TStdOut.h"
#include "builtins/TagSysTimers.h"
#include "data/TagDataSet.h"
#include "engine/NumText.h"
#include "media/CGetHypy.h"
#include "media/TagMsTTS.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagTelDrive.h"

namespace zz {

namespace {

EngineHooks g_hooks;

void DispCompileMsg(const char* text) {
    if (g_hooks.dispCompileMsg) g_hooks.dispCompileMsg(text, 0);
}

} // namespace

EngineHooks& TheEngineHooks() {
    return g_hooks;
}

TagTelBasic::TagTelBasic() : unitName("_main_") {
    timers = std::make_unique<TagSysTimers>();
    CreateUnitVars();
}

TagTelBasic::TagTelBasic(const char* file, int32_t line, TagKvCall* call, uint8_t mode, TagTelBasic* callerProg)
    : unitName("_main_") {
    timers = std::make_unique<TagSysTimers>();
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
}

TagTelBasic::TagTelBasic(const char* fileName, const char* funcName, TagTelBasic* par)
    : unitName(funcName ? funcName : ""), scriptFile(fileName ? fileName : ""), parent(par) {
    if (par) {
        runMode = par->runMode;
        lineNo = par->lineNo;
    }
    stopped = 1;
    CreateUnitVars();
}

TagTelBasic::~TagTelBasic() {
    msTts.reset();
    if (!parent && !calledProgram) {
        for (int32_t lan = 0; lan < kLanguages && pKvCall; ++lan) {
            std::string base = voiceDir[lan];
            std::remove((base + "t" + std::to_string(lineNo) + sndExt).c_str());
            std::remove((base + "tts" + std::to_string(lineNo) + sndExt).c_str());
        }
    }
    stop = 1;
    if (!parent && pKvCall && !calledProgram) pKvCall->stopFlag = true;
    if (!parent) {
        for (TagDataSet*& db : dbSlots) {
            delete db;
            db = nullptr;
        }
    }
    // Timer handlers and operations point into the symbol table: they go first, the variables last.
    timers.reset();
    ops.Clear();
    subList.Clear();
    symbols.Clear();
    printTarget.reset();
}

void TagTelBasic::CreateUnitVars() {
    AppendVar()->InitInt("_tempVal", "临时变量", 0, 0);
    AppendVar()->InitInt("_retVal", "操作返回值", -1, 0);
}

void TagTelBasic::CreateSystemVars(const char* file) {
    CreateUnitVars();
    AppendVar()->InitInt("_lineNo", "线路号", lineNo, 1);
    AppendVar()->InitInt("_lineType", "线路类型", pKvCall ? pKvCall->lineKind : 0, 1);
    AppendVar()->InitInt("_linesCount", "总线路数", g_hooks.linesCount ? g_hooks.linesCount() : 0, 1);
    std::string dir, name;
    SplitPath(file ? file : "", dir, name);
    AppendVar()->InitStr("_kvsFile", "脚本文件名", name.c_str(), 1);
    AppendVar()->InitStr("_kvsDir", "脚本路径", dir.c_str(), 1);
    AppendVar()->InitInt("true", "逻辑真", 1, 1);
    AppendVar()->InitInt("false", "逻辑假", 0, 1);
    TagVar* null = AppendVar();
    null->InitInt("NULL", "空", 0, 0);
    null->type = TagVar::kEmpty;
    null->readOnly = 1;
}

void TagTelBasic::SplitSymbols() {
    variables.clear();
    constants.clear();
    namedConstCount = 0;
    for (int32_t i = 0; i < symbols.Count(); ++i) {
        TagVar* v = symbols.Get(i);
        if (!v) continue;
        if (v->readOnly) {
            constants.push_back(v);
            if (!v->name.empty()) ++namedConstCount;
        } else {
            variables.push_back(v);
        }
    }
}

TagVar* TagTelBasic::AppendVar() {
    return symbols.Add(std::make_unique<TagVar>());
}

TagTelBasic* TagTelBasic::GetRoot() {
    TagTelBasic* p = ParentOrSelf();
    return p->calledProgram && p->callingProgram ? p->callingProgram : p;
}

void TagTelBasic::AddVar(const TagVar& var) {
    if (var.type == TagVar::kFunction) return;
    TagVar* own = nullptr;
    if (!var.name.empty() && FindOwnVar(var.name.c_str(), &own) >= 0) {
        *own = var;
        return;
    }
    // Assignment counts an object's reference, so the called program releasing its copy never frees the
    // caller's object (a plain copy would share the identifier uncounted).
    TagVar* v = AppendVar();
    v->InitInt(var.name.c_str(), var.note.c_str(), 0, 0);
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
    paramNames[paramCount] = name ? name : "";
    return ++paramCount;
}

int32_t TagTelBasic::SetRetVal(const TagVar& value) {
    TagVar* r = RetVal();
    if (!r) return 0;
    *r = value;
    return r->intVal;
}

void TagTelBasic::SetReload(uint8_t on) {
    reloadRequested = on;
    if (IsReloadPending())
        if (TagKvCall* c = Call()) c->stopFlag = true;
}

bool TagTelBasic::IsReloadPending() const {
    if (!reloadRequested || !reloadAllowed) return false;
    TagKvCall* c = Call();
    return !c || c->callState.load() != 1;
}

const std::string& TagTelBasic::VoiceDir() const {
    const TagTelBasic* p = parent ? parent : this;
    int32_t lan = p->language >= 0 && p->language < kLanguages ? p->language : 0;
    return p->voiceDir[lan];
}

int32_t TagTelBasic::SetPlayToFile(uint8_t on) {
    playToFile = on;
    if (!on) return 0;
    std::string path = VoiceDir() + "t" + std::to_string(lineNo) + sndExt;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    std::fclose(f);
    return 0;
}

int32_t TagTelBasic::SetSpeechMode(int32_t mode, const char* text1, const char* text2) {
    speechMode = mode;
    speechText1 = text1 ? text1 : "";
    speechText2 = text2 ? text2 : "";
    if (mode != 1) return 0;
    hypy = &TheHypy();
    if (hypy->State() == 0) return 0;
    return hypy->LoadVocLib(speechText1);
}

int32_t TagTelBasic::HypySpeak(const char* text, const char* outFile) {
    if (!hypy) hypy = &TheHypy();
    if (hypy->State() != 0) hypy->LoadVocLib(speechText1);
    return hypy->TextToWav(text ? text : "", outFile ? outFile : "");
}

int32_t TagTelBasic::MsTtsSpeak(const char* text, const char* file, int32_t flag, int32_t format) {
    TagTelBasic* root = GetRoot();
    if (!root->msTts) return -100;
    return root->msTts->SpeakToFile(text ? text : "", file ? file : "", flag != 0, format);
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

void TagTelBasic::StarToPoint(uint8_t toPoint, std::string& keys) {
    for (char& c : keys) {
        if (toPoint && c == '*') c = '.';
        else if (!toPoint && c == '.') c = '*';
    }
}

std::optional<MemStruct> TagTelBasic::FindMemVoc(const char* name) {
    return ::zz::FindMemVoc(GetRoot()->memVocs, TagMemVocs::Process(), name);
}

int32_t TagTelBasic::PlayFile(const char* name) {
    TagKvCall* c = Call();
    if (!c) return -1;
    TagTelBasic* root = GetRoot();
    return ::zz::PlayFile(*c, root->memVocs, TagMemVocs::Process(), name, root->breakOnKey);
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
    for (int32_t i = 0; i < symbols.Count(); ++i) {
        TagVar* v = symbols.Get(i);
        if (v && !v->name.empty() && v->name == name) {
            if (var) *var = v;
            return i;
        }
    }
    return -1;
}

int32_t TagTelBasic::FindParam(const char* name, TagVar** var) {
    if (var) *var = nullptr;
    if (!name || !*name) return -1;
    for (int32_t i = 0; i < paramCount && i < kMaxParams; ++i) {
        if (paramNames[i] == name) {
            if (var) *var = &paramValues[i];
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
    TagVar* v = AppendVar();
    v->InitInt(name, note, 0, 0);
    if (var) *var = v;
    return symbols.Count() - 1;
}

namespace {

bool SameLiteral(const TagVar& v, int32_t type, int32_t i, double d, const std::string& s) {
    if (!v.readOnly || v.type != type) return false;
    if (type == TagVar::kInt) return v.intVal == i;
    if (type == TagVar::kDouble) return v.dblVal == d;
    return StrBytes(v) == s.size() && v.strVal.compare(0, s.size(), s) == 0;
}

} // namespace

int32_t TagTelBasic::ResolveOperand(const TagOperand& tok, TagVar** var) {
    if (var) *var = nullptr;
    if (tok.kind == TagOperand::kName) {
        TagVar* v = nullptr;
        int32_t i = FindVar(tok.text.c_str(), &v);
        if (i < 0) return -1;
        if (v->type == TagVar::kFunction && v->funcUnit) ++v->funcUnit->callerNames[unitName];
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
    for (int32_t i = 0; i < symbols.Count(); ++i) {
        TagVar* v = symbols.Get(i);
        if (v && SameLiteral(*v, type, iv, dv, tok.text)) {
            if (var) *var = v;
            return i;
        }
    }
    TagVar* v = AppendVar();
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
            symbols.Remove(i);
            return true;
        }
    return false;
}

} // namespace zz
