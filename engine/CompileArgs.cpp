// Argument lists of a statement: the split into pieces, their compilation into variables, and the completion
// that hands the line's queued expressions, target and links to the operation it stored.
#include <cstring>

#include "engine/CompileParts.h"
#include "engine/TagExpre.h"
#include "engine/TagTelBasic.h"
#include "engine/Tokenize.h"
#include "platform/Gbk.h"

namespace zz {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsBlankText(std::string_view s) {
    for (char c : s)
        if (!IsBlank(c)) return false;
    return true;
}

// An argument text is one of the language's 1024-byte buffers: longer text is cut, never a double-byte
// character in half.
std::string Bounded(std::string_view s) {
    constexpr size_t kRoom = TagTelBasic::kArgRoom - 1;
    if (s.size() > kRoom) s = s.substr(0, GbkSafeCut(s, kRoom));
    return std::string(s);
}

void TrimRightBlanks(std::string_view& s) {
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
}

// The closing part of a statement: one ";" and then one ")" go ('if(a > b)' gives 'a > b').
void StripClosing(std::string_view& s) {
    TrimRightBlanks(s);
    if (!s.empty() && s.back() == ';') s.remove_suffix(1);
    TrimRightBlanks(s);
    if (!s.empty() && s.back() == ')') s.remove_suffix(1);
    TrimRightBlanks(s);
}

// Whether a ")" closes the text, before an optional ";" and blanks.
bool EndsWithClose(std::string_view s) {
    TrimRightBlanks(s);
    if (!s.empty() && s.back() == ';') s.remove_suffix(1);
    TrimRightBlanks(s);
    return !s.empty() && s.back() == ')';
}

} // namespace

int32_t TagTelBasic::SplitArgs(const char* text, int32_t maxCount, std::array<std::string, kMaxArgs>& out, char sep,
                               char end) {
    // A list closed by ")" must have it: 'Print("x"' is no statement.
    const bool wantClose = end == ')';
    if (wantClose) end = 0;
    const int32_t limit = maxCount > 0 && maxCount < kMaxArgs ? maxCount : kMaxArgs;
    const bool blankSep = sep == ' ';
    std::string_view s = text ? text : "";
    int32_t count = 0;
    compiler::QuoteScan quotes;
    bool metEnd = false;
    size_t start = 0, stop = s.size();
    auto isSep = [&](char c) { return c == sep || (blankSep && c == '\t'); };
    if (blankSep)
        while (start < s.size() && IsBlank(s[start]))
            ++start;
    for (size_t i = start; i < s.size();) {
        if (size_t n = quotes.Skip(s, i)) {
            i += n;
            continue;
        }
        const char c = s[i];
        if (c == '{' || c == '}') {
            return -5;
        } else if (end && c == end && end != sep) {
            stop = i;
            break;
        } else if (isSep(c)) {
            std::string_view piece = s.substr(start, i - start);
            if (IsBlankText(piece)) return -1;
            if (count >= limit) return -4;
            while (!piece.empty() && (IsBlank(piece.front()) || piece.front() == '='))
                piece.remove_prefix(1);
            out[static_cast<size_t>(count++)] = Bounded(piece);
            if (c == end) metEnd = true;
            ++i;
            if (blankSep)
                while (i < s.size() && IsBlank(s[i]))
                    ++i;
            start = i;
            continue;
        }
        ++i;
    }
    if (quotes.inStr) return -3;
    if (end && end == sep && !metEnd) return -2;
    std::string_view last = s.substr(start, stop - start);
    if (wantClose && !EndsWithClose(last)) return -6;
    if (end == 0 || end == ';') StripClosing(last);
    while (!last.empty() && IsBlank(last.front()))
        last.remove_prefix(1);
    if (!IsBlankText(last)) {
        if (count >= limit) return -4;
        out[static_cast<size_t>(count++)] = Bounded(last);
    }
    return count;
}

int32_t TagTelBasic::CompileArgs(int32_t line, const char* lineText, int32_t count,
                                 const std::array<std::string, kMaxArgs>& texts, TagVar** vars) {
    Scratch().pendingArgs.clear();
    if (count > kMaxArgs) count = kMaxArgs;
    for (int32_t i = 0; i < count; ++i) {
        const std::string& text = texts[static_cast<size_t>(i)];
        TagOperand left, right;
        char op = 0;
        std::string msg;
        int32_t rc = Tokenize(left, op, right, text.c_str(), msg);
        if (op == 0) {
            // A lone operand; a text the splitter refused without finding an operator is no operand at all.
            TagVar* v = nullptr;
            int32_t r = rc < 0 ? -2 : ResolveOperand(left, &v);
            if (r == -1) {
                WriteErrMsg(line, "表达式中的变量没有预先赋值", left.text.c_str(), 0);
                return -1;
            }
            if (r < 0) {
                WriteErrMsg(line, "语法错误", lineText, 0);
                return -1;
            }
            vars[i] = v;
            continue;
        }
        // An expression: computed into a temporary by steps that run before the operation.
        std::string temp = NewTempName();
        std::vector<TagCalculate> steps;
        std::string err, warn;
        TagComplexExpre(text.c_str(), this, temp.c_str(), nullptr, "中间变量", steps, err, warn);
        if (!err.empty()) {
            WriteErrMsg(line, err.c_str(), lineText, 0);
            return -1;
        }
        if (!warn.empty()) {
            WriteErrMsg(line, warn.c_str(), lineText, 1);
            ++warningCount;
        }
        ExprePtr e(new TagExpre(steps));
        if (!e->result) {
            WriteErrMsg(line, "语法错误", lineText, 0);
            return -1;
        }
        vars[i] = e->result;
        Scratch().pendingArgs.push_back(std::move(e));
    }
    return 0;
}

TagOper* TagTelBasic::StoreOp(std::unique_ptr<TagOper> op) {
    TagOper* p = op.get();
    ops[opCount] = std::move(op);
    return p;
}

void TagTelBasic::AppendOp(const char* copy, const char* comment, int32_t line, char kind, const RecKeyword* rec) {
    TagOper* op = ops.Get(opCount);
    if (!op) {
        Scratch().pendingArgs.clear();
        return;
    }
    for (ExprePtr& e : Scratch().pendingArgs)
        op->args.push_back(std::move(e));
    Scratch().pendingArgs.clear();
    // A value builtin standing alone has no target either: its value goes nowhere and _retVal keeps what it held.
    op->SetTarget(Scratch().pendingTarget, Scratch().pendingSub);
    op->Init(copy, comment, line, opCount, kind, rec);
    op->depth = blockDepth;
    TagOper* prev = opCount > 0 ? ops.Get(opCount - 1) : nullptr;
    op->parent = blockDepth > 0 && prev ? prev->parent : nullptr;
    op->next = nullptr;
    if (prev) prev->next = op;
    ++opCount;
}

} // namespace zz
