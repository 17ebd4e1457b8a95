// Test-only stand-ins for the statement compiler and the error log while those land; weak, so the real ones win
// whenever they are linked. Only what the block tests write is understood: block heads and simple or complex
// assignments.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/TagExpre.h"
#include "engine/TagFlow.h"
#include "engine/TagKeyword.h"
#include "engine/TagTelBasic.h"
#include "engine/Tokenize.h"

namespace zz {

#define ZZ_WEAK __attribute__((weak))

ZZ_WEAK void TagTelBasic::WriteErrMsg(int32_t line, const char* message, const char* text, uint8_t isWarning) {
    char name[64];
    std::snprintf(name, sizeof name, "errmsg%d.txt", lineNo);
    if (FILE* f = std::fopen(name, "ab")) {
        std::fprintf(f, "[%s]%s(%d): %s, %s\n", isWarning ? "Warning" : "Error", scriptFile.c_str(), line, message,
                     text ? text : "");
        std::fclose(f);
    }
}

ZZ_WEAK TagOper* TagTelBasic::StoreOp(std::unique_ptr<TagOper> op) {
    ops[opCount] = std::move(op);
    return ops.Get(opCount);
}

ZZ_WEAK void TagTelBasic::AppendOp(const char* lineText, const char* comment, int32_t line, char kind,
                                   const RecKeyword* rec) {
    TagOper* op = ops.Get(opCount);
    for (auto& e : pendingArgs)
        op->args.push_back(std::move(e));
    pendingArgs.clear();
    if (kind != 'v' || pendingTarget)
        op->SetTarget(pendingTarget, pendingSub);
    else
        op->SetTarget(RetVal(), nullptr);
    op->Init(lineText, comment, line, opCount, kind, rec);
    op->depth = blockDepth;
    TagOper* prev = opCount > 0 ? ops.Get(opCount - 1) : nullptr;
    op->parent = blockDepth > 0 && prev ? prev->parent : nullptr;
    op->next = nullptr;
    if (prev) prev->next = op;
    ++opCount;
}

ZZ_WEAK bool TagTelBasic::IsValidVarName(const char* name) {
    if (!name || !*name || *name == '"' || (*name >= '0' && *name <= '9')) return false;
    return std::strpbrk(name, "\"'!;()[]{}") == nullptr;
}

ZZ_WEAK int32_t TagTelBasic::CompileArgs(int32_t line, const char* lineText, int32_t count,
                                         const std::array<std::string, kMaxArgs>& texts, TagVar** vars) {
    pendingArgs.clear();
    for (int32_t i = 0; i < count; ++i) {
        TagOperand l, r;
        char op = 0;
        std::string msg;
        Tokenize(l, op, r, texts[static_cast<size_t>(i)].c_str(), msg);
        if (!op) {
            int32_t k = ResolveOperand(l, &vars[i]);
            if (k == -1) WriteErrMsg(line, "表达式中的变量没有预先赋值", l.text.c_str(), 0);
            if (k == -2) WriteErrMsg(line, "语法错误", lineText, 0);
            if (k < 0) return -1;
            continue;
        }
        std::string tmp = NewTempName(), err, warn;
        std::vector<TagCalculate> steps;
        TagComplexExpre(texts[static_cast<size_t>(i)].c_str(), this, tmp.c_str(), nullptr, "", steps, err, warn);
        if (!err.empty()) {
            WriteErrMsg(line, err.c_str(), lineText, 0);
            return -1;
        }
        auto e = ExprePtr(new TagExpre(steps));
        vars[i] = e->result;
        pendingArgs.push_back(std::move(e));
    }
    return 0;
}

namespace {

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    size_t b = s.find_first_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::string NoBlanks(const std::string& s) {
    std::string o;
    for (char c : s)
        if (c != ' ' && c != '\t') o += c;
    return o;
}

} // namespace

ZZ_WEAK int32_t TagTelBasic::CompileSimpleAssign(int32_t line, const char* text, TagVar** target, TagVar** left,
                                                 char* op, TagVar** right, const char* note, uint8_t* created) {
    *created = 0;
    std::string t = text;
    if (!t.empty() && t.back() == ';') t.pop_back();
    size_t inc = t.find("++"), dec = t.find("--");
    if (inc != std::string::npos || dec != std::string::npos) {
        size_t at = inc != std::string::npos ? inc : dec;
        std::string name = NoBlanks(t.substr(0, at) + t.substr(at + 2));
        if (FindVar(name.c_str(), target) < 0) {
            FindOrCreateVar(name.c_str(), target, note);
            *created = 1;
        }
        *left = *target;
        *op = inc != std::string::npos ? '+' : '-';
        TagOperand one;
        one.kind = TagOperand::kInteger;
        one.text = "1";
        ResolveOperand(one, right);
        return 0;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
        WriteErrMsg(line, "语法错误", text, 0);
        return -1;
    }
    std::string name = NoBlanks(t.substr(0, eq));
    if (FindVar(name.c_str(), target) < 0) {
        FindOrCreateVar(name.c_str(), target, note);
        *created = 1;
    }
    TagOperand l, r;
    std::string msg;
    int32_t k = Tokenize(l, *op, r, t.c_str() + eq + 1, msg);
    if (k == -1) return -2;
    if (k < 0) return -3;
    if (ResolveOperand(l, left) < 0 && *op != '!' && *op != '~' && *op != '-') {
        WriteErrMsg(line, "表达式中的变量没有预先赋值", l.text.c_str(), 0);
        return -1;
    }
    if (*op && ResolveOperand(r, right) < 0) {
        WriteErrMsg(line, "表达式中的变量没有预先赋值", r.text.c_str(), 0);
        return -1;
    }
    return 0;
}

ZZ_WEAK int32_t TagTelBasic::CompileLine(char* text, int32_t line) {
    std::string s = Trim(text);
    if (s.empty() || s.compare(0, 2, "//") == 0) return 0;
    lineCopy = s;
    commentText.clear();
    pendingArgs.clear();
    pendingTarget = pendingSub = nullptr;
    struct Head {
        const char* text;
        int32_t ordinal;
    };
    static const Head heads[] = {{"else if(", 0}, {"if(", 1},    {"else", 2},       {"{", 3},
                                 {"}", 4},        {"while(", 5}, {"switch(", 6},    {"case(", 7},
                                 {"default(", 8}, {"break;", 9}, {"continue;", 10}, {"for(", 15}};
    for (const Head& h : heads) {
        size_t n = std::strlen(h.text);
        if (s.compare(0, n, h.text) != 0) continue;
        std::string rest = s.substr(n);
        int32_t count = 0;
        if (h.ordinal == 3 || h.ordinal == 4) {
            if (CompileBlock(h.ordinal, 0, line, rest.c_str()) < 0) return -1;
            return LinkPass(line);
        }
        if (h.ordinal != 2 && h.ordinal != 9 && h.ordinal != 10) {
            rest = Trim(rest);
            if (!rest.empty() && rest.back() == ';') rest.pop_back();
            if (!rest.empty() && rest.back() == ')') rest.pop_back();
            std::string piece;
            for (char c : rest + ";") {
                if (c != ';') {
                    piece += c;
                    continue;
                }
                if (!Trim(piece).empty()) args[static_cast<size_t>(count++)] = Trim(piece);
                piece.clear();
            }
            if (h.ordinal == 15 && count == 1) {
                std::string k, in, obj;
                char buf[3][256] = {};
                if (std::sscanf(args[0].c_str(), "%255s %255s %255s", buf[0], buf[1], buf[2]) != 3 ||
                    std::strcmp(buf[1], "in") != 0) {
                    WriteErrMsg(line, "for语句语法错误", lineCopy.c_str(), 0);
                    return -1;
                }
                args[0] = buf[0];
                args[1] = buf[2];
                count = 2;
            }
        }
        argCount = count;
        if (CompileBlock(h.ordinal, count, line, "") < 0) return -1;
        return LinkPass(line);
    }
    TagVar *t = nullptr, *l = nullptr, *r = nullptr;
    char op = 0;
    uint8_t created = 0;
    int32_t k = CompileSimpleAssign(line, s.c_str(), &t, &l, &op, &r, "", &created);
    if (k == -2) {
        size_t eq = s.find('=');
        std::string rhs = s.substr(eq + 1), name = NoBlanks(s.substr(0, eq)), err, warn;
        std::vector<TagCalculate> steps;
        TagComplexExpre(rhs.c_str(), this, name.c_str(), nullptr, "", steps, err, warn);
        if (!err.empty()) {
            WriteErrMsg(line, err.c_str(), lineCopy.c_str(), 0);
            return -1;
        }
        StoreOp(std::make_unique<TagExpre>(steps));
    } else if (k < 0) {
        return -1;
    } else if (op == '!' || op == '~' || (op == '-' && !l)) {
        StoreOp(std::make_unique<TagCalculate>(t, nullptr, r, op));
    } else if (op) {
        StoreOp(std::make_unique<TagCalculate>(t, nullptr, l, op, r));
    } else {
        StoreOp(std::make_unique<TagCalculate>(t, nullptr, l, char(0)));
    }
    AppendOp(lineCopy.c_str(), "", line, '=', nullptr);
    return LinkPass(line);
}

} // namespace zz
