// Lines that begin with a keyword or a call: the argument split and count check, then builtins, block
// statements, the simple statements, user-function and DLL calls, function definitions and #include.
#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "engine/CompileParts.h"
#include "engine/TagBuiltinHost.h"
#include "engine/TagCall.h"
#include "engine/TagKeyword.h"
#include "engine/TagTelBasic.h"

namespace zz {
namespace compiler {

namespace {

constexpr int32_t kAcdListRead = 256;
const char* const kUnknownKeyword = "不可辨识的关键字";
const char* const kTooMany = "操作参数太多";
const char* const kTooFew = "操作参数不够";

int32_t Fail(TagTelBasic& prog, int32_t line, const char* message, const std::string& text) {
    prog.WriteErrMsg(line, message, text.c_str(), 0);
    return -1;
}

void Complete(TagTelBasic& prog, std::unique_ptr<TagOper> op, int32_t line, char kind, const RecKeyword* rec) {
    prog.StoreOp(std::move(op));
    prog.AppendOp(prog.Scratch().lineCopy.c_str(), prog.Scratch().commentText.c_str(), line, kind, rec);
}

// Splits a "," list closed by ")" and checks it against an exact count (-1: any count).
int32_t SplitCallArgs(TagTelBasic& prog, const char* list, int32_t expected, const std::string& stmt, int32_t line) {
    int32_t n = prog.SplitArgs(list, TagTelBasic::kMaxArgs, prog.Scratch().args, ',', ')');
    if (n < 0) return Fail(prog, line, SplitMessage(n), stmt);
    if (expected >= 0 && n > expected) return Fail(prog, line, kTooMany, stmt);
    if (expected >= 0 && n < expected) return Fail(prog, line, kTooFew, stmt);
    prog.Scratch().argCount = n;
    return n;
}

bool IsBlockOrdinal(int32_t ord) {
    return (ord >= TagKeyword::kElseIf && ord <= TagKeyword::kElse) ||
           (ord >= TagKeyword::kWhile && ord <= TagKeyword::kDefault) || ord == TagKeyword::kFor;
}

// A call of a user function (a variable of that name exists) or of a DLL function declared with DllFunction.
int32_t CompileCall(TagTelBasic& prog, const std::string& stmt, int32_t line) {
    size_t paren = stmt.find('(');
    if (paren == std::string::npos) return Fail(prog, line, kUnknownKeyword, stmt);
    const std::string name = WithoutBlanks(std::string_view(stmt).substr(0, paren));
    const char* list = stmt.c_str() + paren + 1;
    TagVar* vars[TagTelBasic::kMaxArgs] = {};
    TagVar* fv = nullptr;
    if (!name.empty() && prog.FindVar(name.c_str(), &fv) >= 0) {
        TagTelBasic* unit = fv->FuncUnit();
        // A variable without a function is checked when the call runs.
        int32_t n = SplitCallArgs(prog, list, unit ? unit->paramCount : -1, stmt, line);
        if (n < 0 || prog.CompileArgs(line, stmt.c_str(), n, prog.Scratch().args, vars) < 0) return -1;
        auto call = std::make_unique<TagCall>(fv, &prog);
        // Self-calls do not keep a function from being removed as never called.
        if (unit && unit != &prog) ++unit->Scratch().callerNames[prog.unitName];
        for (int32_t i = 0; i < n; ++i)
            call->AddPara(vars[i]);
        Complete(prog, std::move(call), line, 'R', nullptr);
        return 0;
    }
    int32_t declared = 0;
    TagBuiltinHost* host = GetBuiltinHost();
    if (name.empty() || !host || !host->FindLibFunc(&prog, name.c_str(), &declared))
        return Fail(prog, line, kUnknownKeyword, stmt);
    int32_t n = 0;
    if (declared >= 0) n = SplitCallArgs(prog, list, declared, stmt, line);
    if (n < 0 || prog.CompileArgs(line, stmt.c_str(), n, prog.Scratch().args, vars) < 0) return -1;
    Complete(prog, host->MakeLibCall(name.c_str(), vars, n, &prog), line, 'g', nullptr);
    return 0;
}

// Builtins: compile the arguments, build the class of the ordinal, complete it with the record's kind.
int32_t CompileBuiltin(TagTelBasic& prog, const RecKeyword& rec, const std::string& stmt, int32_t line, int32_t n) {
    TagVar* vars[TagTelBasic::kMaxArgs] = {};
    // AcdListRead has no arguments but still empties the queue of pending expressions.
    if ((n > 0 || rec.ordinal == kAcdListRead) &&
        prog.CompileArgs(line, stmt.c_str(), n, prog.Scratch().args, vars) < 0)
        return -1;
    const char* message = nullptr;
    TagBuiltinHost* host = GetBuiltinHost();
    std::unique_ptr<TagOper> op = host ? host->MakeBuiltin(rec.ordinal, vars, n, &prog, &message) : nullptr;
    if (!op) {
        prog.Scratch().pendingArgs.clear();
        return Fail(prog, line, message ? message : "语法错误", stmt);
    }
    Complete(prog, std::move(op), line, static_cast<char>(rec.kind), &rec);
    return 0;
}

// Close, OnDisconn, return, IsSysQuit, Exit, OnSysQuit, Assert, StartTimer and StopTimer.
int32_t CompileSimple(TagTelBasic& prog, const RecKeyword& rec, const std::string& stmt, int32_t line, int32_t n) {
    TagVar* v[TagTelBasic::kMaxArgs] = {};
    if (n > 0 && prog.CompileArgs(line, stmt.c_str(), n, prog.Scratch().args, v) < 0) return -1;
    const int32_t index = prog.opCount;
    std::unique_ptr<TagOper> op;
    switch (rec.ordinal) {
    case TagKeyword::kClose:
        prog.WriteErrMsg(line, "最好不要使用将来可能不支持的Close()函数, 请使用OnDisconn()函数", "", 1);
        ++prog.warningCount;
        [[fallthrough]];
    case 19: { // OnDisconn: the hang-up handler, registered by the main flow only
        auto close = std::make_unique<TagClose>(&prog);
        close->SetDisconnFlag(index);
        op = std::move(close);
        break;
    }
    case TagKeyword::kReturn:
        op = std::make_unique<TagReturn>(v[0], &prog);
        break;
    case 17: // IsSysQuit
        prog.WriteErrMsg(line, "最好不要使用将来可能不支持的IsSysQuit()函数, 请使用OnSysQuit()函数", "", 1);
        ++prog.warningCount;
        [[fallthrough]];
    case 18: // Exit, Assert, StartTimer and StopTimer are the builtins' own
    case 21:
    case 22:
    case 23: {
        const char* message = nullptr;
        TagBuiltinHost* host = GetBuiltinHost();
        op = host ? host->MakeBuiltin(rec.ordinal, v, n, &prog, &message) : nullptr;
        if (!op) {
            prog.Scratch().pendingArgs.clear();
            return Fail(prog, line, message ? message : kUnknownKeyword, stmt);
        }
        break;
    }
    case 20: // OnSysQuit
        op = std::make_unique<TagOnSysQuit>(index, &prog);
        break;
    default:
        prog.Scratch().pendingArgs.clear();
        return Fail(prog, line, kUnknownKeyword, stmt);
    }
    Complete(prog, std::move(op), line, static_cast<char>(rec.kind), &rec);
    return 0;
}

bool IsKeywordHead(const std::string& head) {
    for (int32_t k = 0, n = g_keyword.Count(); k < n; ++k)
        if (const RecKeyword* r = g_keyword.At(k); r && head == r->name) return true;
    return false;
}

// 'function NAME(p1, p2)': a new function unit; the lines up to its closing brace are compiled into it.
int32_t DefineFunction(TagTelBasic& prog, const char* rest, const std::string& stmt, int32_t line) {
    std::string_view text(rest);
    size_t paren = text.find('(');
    if (paren == std::string_view::npos) return Fail(prog, line, "函数定义错误: 语法错", stmt);
    const std::string name = WithoutBlanks(text.substr(0, paren));
    if (name.empty()) return Fail(prog, line, "函数定义错误: 语法错", stmt);
    if (prog.FindSubFunc(name.c_str()) >= 0) return Fail(prog, line, "函数定义错误: 重复定义", stmt);
    if (IsKeywordHead(name + "(")) return Fail(prog, line, "函数定义错误: 和系统函数重名", stmt);
    int32_t n = prog.SplitArgs(rest + paren + 1, TagTelBasic::kMaxArgs, prog.Scratch().args, ',', ')');
    if (n < 0) return Fail(prog, line, "参数不可以为空", stmt);

    prog.ParentOrSelf()->Scratch().funcDefStack.push_back(line);
    TagTelBasic* unit = prog.subList.Add(std::make_unique<TagTelBasic>(prog.scriptFile.c_str(), name.c_str(), &prog));
    unit->defText = prog.Scratch().lineCopy;
    bool badParam = false;
    for (int32_t i = 0; i < n; ++i) {
        std::string_view p = prog.Scratch().args[static_cast<size_t>(i)];
        while (!p.empty() && (p.front() == ' ' || p.front() == '\t' || p.front() == '='))
            p.remove_prefix(1);
        while (!p.empty() && (p.back() == ' ' || p.back() == '\t' || p.back() == '\n' || p.back() == '\r'))
            p.remove_suffix(1);
        const std::string param(p);
        if (param.empty() || !TagTelBasic::IsValidVarName(param.c_str())) badParam = true;
        unit->AddParam(param.c_str());
    }
    const int32_t existed = prog.FindVar(name.c_str(), nullptr);
    TagNamedVar* fv = prog.symbols.Add(std::make_unique<TagNamedVar>());
    fv->InitFunc(name.c_str(), prog.Scratch().commentText.c_str(), unit, 1);
    if (badParam) return Fail(prog, line, "函数定义错误: 参数名不合法", stmt);
    if (existed >= 0) return Fail(prog, line, "函数定义错误: 函数名已经被定义为变量或常量", stmt);
    return 0;
}

// '#include <file>' or '#include "file"': the file is compiled into this program where the line stands.
int32_t Include(TagTelBasic& prog, const char* rest, const std::string& stmt, int32_t line) {
    if (prog.IsFunctionUnit()) return Fail(prog, line, "在函数里不可以使用包含文件语句", stmt);
    const char* const kNoFile = "语法错：得不到有效的文件名";
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    if (*rest != '<' && *rest != '"') return Fail(prog, line, kNoFile, stmt);
    std::string_view name(rest + 1);
    size_t close = name.find_first_of(">\"");
    if (close == std::string_view::npos || close == 0) return Fail(prog, line, kNoFile, stmt);
    const std::string file(name.substr(0, close));
    // Each level compiles on the line thread's stack: a chain of includes is cut long before it could exhaust it.
    int32_t& depth = prog.Scratch().includeDepth;
    if (depth >= TagTelBasic::kMaxIncludeDepth) {
        prog.WriteErrMsg(line, "包含文件嵌套太深", file.c_str(), 0);
        return -1;
    }
    const std::string saved = prog.scriptFile;
    ++depth;
    prog.CompileFile(line, file.c_str());
    --depth;
    prog.scriptFile = saved;
    return 0;
}

} // namespace

int32_t CompileStatement(TagTelBasic& prog, std::string& stmt, int32_t line, bool& declared) {
    int32_t headLen = 0;
    const RecKeyword* rec = g_keyword.Match(stmt.c_str(), &headLen);
    if (!rec) return CompileCall(prog, stmt, line);
    const int32_t ord = rec->ordinal;
    const char* rest = stmt.c_str() + std::min<size_t>(static_cast<size_t>(headLen), stmt.size());
    if (ord == TagKeyword::kFunction) {
        declared = true;
        return DefineFunction(prog, rest, stmt, line);
    }
    if (ord == TagKeyword::kInclude) {
        declared = true;
        return Include(prog, rest, stmt, line);
    }
    if (ord == TagKeyword::kConst || ord >= TagKeyword::kCount) return Fail(prog, line, kUnknownKeyword, stmt);

    int32_t n = 0;
    if (rec->argCount >= 0) {
        const bool block = IsBlockOrdinal(ord);
        // A call's list is checked for its ")" by the split; a control head's is checked here, or 'if(x == 2'
        // would run as if it were closed.
        if (block && !HeadCloses(rest)) return Fail(prog, line, SplitMessage(-6), stmt);
        n = prog.SplitArgs(rest, TagTelBasic::kMaxArgs, prog.Scratch().args, block ? ';' : ',', block ? 0 : ')');
        if (n < 0) return Fail(prog, line, SplitMessage(n), stmt);
        if (ord == TagKeyword::kFor && n == 1) {
            // 'for(K in OBJ)': K and OBJ are the two arguments.
            std::array<std::string, TagTelBasic::kMaxArgs> words;
            if (prog.SplitArgs(prog.Scratch().args[0].c_str(), TagTelBasic::kMaxArgs, words, ' ', 0) != 3 ||
                words[1] != "in")
                return Fail(prog, line, "for语句语法错误", stmt);
            prog.Scratch().args[0] = words[0];
            prog.Scratch().args[1] = words[2];
            prog.Scratch().args[2].clear();
            n = 2;
        } else if (n > rec->argCount) {
            return Fail(prog, line, kTooMany, stmt);
        } else if (n < rec->argCount) {
            return Fail(prog, line, kTooFew, stmt);
        }
    }
    prog.Scratch().argCount = n;
    if (ord >= TagKeyword::kFirstBuiltin) return CompileBuiltin(prog, *rec, stmt, line, n);
    if (IsBlockOrdinal(ord) || ord == TagKeyword::kOpenBrace || ord == TagKeyword::kCloseBrace ||
        ord == TagKeyword::kBreak || ord == TagKeyword::kContinue)
        return prog.CompileBlock(ord, n, line, rest);
    return CompileSimple(prog, *rec, stmt, line, n);
}

} // namespace compiler
} // namespace zz
