#include "engine/TagTelBasic.h"

#include "engine/NumText.h"

namespace zz {

TagTelBasic::TagTelBasic() : unitName("_main_") {
    CreateUnitVars();
}

TagTelBasic::TagTelBasic(const char* fileName, const char* funcName, TagTelBasic* par)
    : unitName(funcName ? funcName : ""), scriptFile(fileName ? fileName : ""), parent(par) {
    CreateUnitVars();
}

TagTelBasic::~TagTelBasic() = default;

void TagTelBasic::CreateUnitVars() {
    AppendVar()->InitInt("_tempVal", "临时变量", 0, 0);
    AppendVar()->InitInt("_retVal", "操作返回值", -1, 0);
}

TagVar* TagTelBasic::AppendVar() {
    return symbols.Add(std::make_unique<TagVar>());
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
