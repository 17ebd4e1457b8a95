// One logical source line into at most one operation: comments, the line's shape, and the choice between the
// assignment path and the keyword/call path; the linking pass follows every line that stored an operation.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/CompileParts.h"
#include "engine/TagKeyword.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"

namespace zz {

namespace compiler {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One symbol of the shape: 'v' for a word, else the character itself.
struct Symbol {
    char c;
    size_t end; // just after the symbol
};

// A double-quoted string (escapes honoured) from its opening quote; the position after it.
size_t SkipString(std::string_view s, size_t i) {
    for (++i; i < s.size();) {
        if (GbkCharLen(s, i) == 2) {
            i += 2;
            continue;
        }
        if (s[i] == '\\') {
            i += 2;
            continue;
        }
        if (s[i++] == '"') break;
    }
    return i < s.size() ? i : s.size();
}

std::vector<Symbol> ReadSymbols(std::string_view s) {
    static const char kSingles[] = "(;{}+-*/[],%><=";
    std::vector<Symbol> out;
    bool inWord = false;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c == '\r' || c == '\n') break;
        if (IsBlank(c)) {
            inWord = false;
            ++i;
            continue;
        }
        if (c && std::strchr(kSingles, c)) {
            inWord = false;
            out.push_back({c, i + 1});
            ++i;
            continue;
        }
        if (!inWord) out.push_back({'v', 0});
        inWord = true;
        i = c == '"' ? SkipString(s, i) : i + std::max<size_t>(GbkCharLen(s, i), 1);
        out.back().end = i;
    }
    return out;
}

} // namespace

LineShape ReadShape(std::string_view stmt) {
    std::vector<Symbol> sym = ReadSymbols(stmt);
    auto is = [&](size_t k, char c) { return k < sym.size() && sym[k].c == c; };
    LineShape r;
    if (is(0, 'v') && is(1, '(')) {
        r.shape = Shape::kCall;
        return r;
    }
    if (is(0, 'v') && is(1, '=') && is(2, 'v') && is(3, '(')) {
        r.shape = Shape::kAssignedCall;
        r.afterEq = sym[1].end;
        return r;
    }
    // An element target: everything up to the "]" that closes the first "[" is its subscript.
    size_t close = 0;
    if (is(0, 'v') && is(1, '[')) {
        int32_t depth = 0;
        for (size_t k = 1; k < sym.size() && !close; ++k) {
            if (sym[k].c == '[') ++depth;
            if (sym[k].c == ']' && --depth == 0) close = k;
        }
    }
    if (close && is(close + 1, '=') && is(close + 2, 'v') && is(close + 3, '(')) {
        r.shape = Shape::kAssignedCall;
        r.afterEq = sym[close + 1].end;
        return r;
    }
    if ((is(0, 'v') && is(1, '=')) || (close && is(close + 1, '=')))
        r.shape = Shape::kAssign;
    else if (is(0, 'v') && is(1, 'v') && is(2, '='))
        r.shape = Shape::kDeclaration;
    else if ((is(0, 'v') && (is(1, '+') || is(1, '-'))) || is(0, '+') || is(0, '-'))
        r.shape = Shape::kIncDec;
    return r;
}

int32_t ParseIncDec(std::string_view text, std::string& name, char& op) {
    name.clear();
    op = 0;
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i >= text.size() || text[i] == '"' || IsDigit(text[i])) return 0;
    int32_t pairs = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == ';' || c == ')') break;
        if (GbkCharLen(text, i) == 2) {
            name.append(text.substr(i, 2));
            ++i;
            continue;
        }
        // An "=" makes it an assignment ('x = y++;'), never an increment of a variable named "x=y".
        if (c == '"' || c == '=' || std::strchr("{}(*/", c)) return 0;
        if (IsBlank(c)) continue;
        if (c == '+' || c == '-') {
            if (i + 1 >= text.size() || text[i + 1] != c) return 0;
            if (op) return 0;
            op = c;
            ++pairs;
            ++i;
            continue;
        }
        name += c;
    }
    if (pairs != 1) {
        op = 0;
        return 0;
    }
    if (name.empty() || !TagTelBasic::IsValidVarName(name.c_str())) return -1;
    return 1;
}

int32_t ParseAssignTarget(std::string_view text, std::string& name, std::string& sub, bool& hasSub) {
    name.clear();
    sub.clear();
    hasSub = false;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) return 0;
    std::string_view target = text.substr(0, eq);
    for (size_t i = 0; i < target.size(); i += std::max<size_t>(GbkCharLen(target, i), 1)) {
        if (target[i] != '[') continue;
        std::string_view s = target.substr(i + 1);
        while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
            s.remove_suffix(1);
        sub = s;
        hasSub = true;
        target = target.substr(0, i);
        break;
    }
    name = WithoutBlanks(target);
    if (!name.empty() && (name[0] == '"' || IsDigit(name[0]))) return -1;
    if (!TagTelBasic::IsValidVarName(name.c_str())) return -2;
    return static_cast<int32_t>(name.size());
}

std::string WithoutBlanks(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!IsBlank(c)) out += c;
    return out;
}

bool HeadCloses(std::string_view rest) {
    QuoteScan quotes;
    int depth = 1;
    for (size_t i = 0; i < rest.size();) {
        if (size_t n = quotes.Skip(rest, i)) {
            i += n;
            continue;
        }
        if (rest[i] == '(') ++depth;
        if (rest[i] == ')' && --depth == 0) return true;
        ++i;
    }
    return false;
}

const char* SplitMessage(int32_t rc) {
    switch (rc) {
    case -5:
        return "语法错误: '{'或'}'必需单独一行";
    case -3:
        return "语法错误: 字符串没有结束";
    case -4:
        return "语法错误: 太多的参数";
    case -6:
        return "语法错误: 缺少')'";
    default:
        return "参数不可以为空";
    }
}

} // namespace compiler

namespace {

const char* const kNoCommentStart = "找不到匹配的起始注释/*";

// The statement starts after blanks and after what comments hide; null when nothing but them is on the line.
const char* StatementStart(TagTelBasic& prog, const char* text, int32_t line) {
    const char* p = text;
    for (;;) {
        char c = *p;
        if (!c) return nullptr;
        if (c == '/' && p[1] == '*') {
            prog.Scratch().commentStack.push_back(line);
            p += 2;
        } else if (c == '*' && p[1] == '/') {
            if (prog.Scratch().commentStack.empty()) {
                prog.WriteErrMsg(line, kNoCommentStart, text, 0);
                return nullptr;
            }
            prog.Scratch().commentStack.pop_back();
            p += 2;
        } else if (c == ' ' || c == '\t' || !prog.Scratch().commentStack.empty()) {
            p += IsGbkLead(static_cast<unsigned char>(p[0])) && IsGbkTrail(static_cast<unsigned char>(p[1])) ? 2 : 1;
        } else {
            break;
        }
    }
    if (*p == '\r' || *p == '\n' || (p[0] == '/' && p[1] == '/')) return nullptr;
    return p;
}

// Cuts the trailing comment off the statement (outside strings) into the comment text.
void CutComment(TagTelBasic& prog, std::string& stmt, int32_t line) {
    compiler::QuoteScan quotes;
    for (size_t i = 0; i < stmt.size();) {
        if (size_t skip = quotes.Skip(stmt, i)) {
            i += skip;
            continue;
        }
        char c = stmt[i];
        char n = i + 1 < stmt.size() ? stmt[i + 1] : 0;
        if (c == '/' && n == '/') {
            prog.Scratch().commentText = stmt.substr(i + 2);
            stmt.resize(i);
            return;
        } else if (c == '/' && n == '*') {
            std::string rest = stmt.substr(i + 2);
            size_t close = rest.find("*/");
            // A comment closed on its own line hides nothing after it.
            if (close == std::string::npos)
                prog.Scratch().commentStack.push_back(line);
            else
                rest.resize(close);
            prog.Scratch().commentText = rest;
            stmt.resize(i);
            return;
        } else if (c == '*' && n == '/') {
            if (prog.Scratch().commentStack.empty())
                prog.WriteErrMsg(line, kNoCommentStart, prog.Scratch().lineCopy.c_str(), 0);
            else
                prog.Scratch().commentStack.pop_back();
            stmt[i] = stmt[i + 1] = ' ';
            i += 2;
            continue;
        } else if (c == '\r' || c == '\n') {
            stmt.resize(i);
            return;
        }
        ++i;
    }
}

// A logical line is one of the language's 1024-character buffers.
std::string BoundedLine(const char* p) {
    std::string_view s(p);
    if (s.size() > TagTelBasic::kLogicalLine) s = s.substr(0, GbkSafeCut(s, TagTelBasic::kLogicalLine));
    return std::string(s);
}

} // namespace

bool TagTelBasic::IsValidVarName(const char* name) {
    if (!name) return false;
    std::string_view s(name);
    if (!s.empty() && (s[0] == '"' || (s[0] >= '0' && s[0] <= '9'))) return false;
    for (size_t i = 0; i < s.size();) {
        size_t len = GbkCharLen(s, i);
        if (len == 1 && std::strchr("\"'!;()[]{}", s[i])) return false;
        i += len;
    }
    return true;
}

int32_t TagTelBasic::CompileLine(char* text, int32_t line) {
    // Nothing of an earlier line (a failed one included) reaches this one.
    Scratch().pendingArgs.clear();
    Scratch().pendingTarget = nullptr;
    Scratch().pendingSub = nullptr;
    Scratch().argCount = 0;
    Scratch().lineCopy.clear();
    Scratch().commentText.clear();
    if (!text) return 0;
    const char* start = StatementStart(*this, text, line);
    if (!start) return 0;
    Scratch().lineCopy = BoundedLine(start);
    std::string stmt = Scratch().lineCopy;
    CutComment(*this, stmt, line);

    using compiler::Shape;
    compiler::LineShape shape = compiler::ReadShape(stmt);
    std::string incName;
    char incOp = 0;
    int32_t inc = shape.shape == Shape::kIncDec ? compiler::ParseIncDec(stmt, incName, incOp) : 0;
    if (inc < 0) WriteErrMsg(line, "自加或自减的变量名不合法", stmt.c_str(), 0);
    int32_t headLen = 0;
    const RecKeyword* rec = g_keyword.Match(stmt.c_str(), &headLen);
    if (!rec || rec->ordinal != TagKeyword::kConst) headLen = 0;
    std::string name, sub;
    bool hasSub = false;
    int32_t target = compiler::ParseAssignTarget(stmt, name, sub, hasSub);
    if (target == -1) {
        WriteErrMsg(line, "常量不可以赋值或者是非法的变量名", stmt.c_str(), 0);
        return -1;
    }

    const int32_t before = opCount;
    bool declared = false;
    int32_t rc = 0;
    const bool negative =
        shape.shape == Shape::kAssign || shape.shape == Shape::kDeclaration || shape.shape == Shape::kIncDec;
    if ((negative || shape.shape == Shape::kAssignedCall) && (target > 0 || inc == 1)) {
        rc = compiler::CompileAssignment(*this, stmt, line, shape, headLen, declared);
        if (rc == 0 && !declared && shape.shape == Shape::kAssignedCall) {
            stmt.erase(0, shape.afterEq);
            rc = compiler::CompileStatement(*this, stmt, line, declared);
        }
    } else if (!negative) {
        rc = compiler::CompileStatement(*this, stmt, line, declared);
    }
    // A line that stored nothing ('x + 1;', a declaration) leaves the blocks as they were.
    if (rc < 0 || declared || errorCount != 0 || opCount == before) return rc;
    return LinkPass(line);
}

} // namespace zz
