#include "engine/TagExpre.h"
#include "engine/TagTelBasic.h"
#include "engine/Tokenize.h"

#include <cstring>

#include "platform/Gbk.h"

namespace zz {

namespace {

const char* const kEmpty = "语法错误, 表达式为空！";
const char* const kNoOperator = "语法错误, 缺少操作符!";
const char* const kMissingOperator = "语法错误, 缺少操作符:";
const char* const kNoCalls = "复杂表达式内暂不支持函数调用 ";
const char* const kUnmatched = "没有匹配的括号 ";
const char* const kNotAssigned = "表达式中的变量没有预先赋值:";
const char* const kSyntax = "语法错误:";
const char* const kNoOperands = "没有可操作的变量.";
const char* const kSingleEqual = "'='比较将来可能不再支持, 在表达式中最好使用'=='表示等于比较";
const char* const kTempNote = "中间变量";

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

} // namespace

TagComplexExpre::TagComplexExpre(const char* text) {
    tokenResult_ = Tokenize(text, nullptr);
}

TagComplexExpre::TagComplexExpre(const char* text, TagTelBasic* u, const char* targetName, TagVar* targetSub,
                                 const char* note, std::vector<TagCalculate>& stepsOut, std::string& errOut,
                                 std::string& warnOut)
    : unit(u), steps(&stepsOut), err(&errOut), warn(&warnOut) {
    err->clear();
    warn->clear();
    steps->clear();
    if (!unit) {
        *err = kSyntax;
        return;
    }
    counter = unit->TempCounter();
    tokenResult_ = Tokenize(text, warn);
    if (tokenResult_ == 0) {
        *err = kEmpty;
        return;
    }
    if (tokenResult_ < 0) {
        *err = kNoOperator;
        return;
    }
    if (!CheckTokens()) return;
    Advance();
    std::string result = ParseLogic();
    Finish(result, targetName ? targetName : "", targetSub, note);
}

// Splits the text into operator and operand tokens; stops at NUL or the first ";" outside a string.
int32_t TagComplexExpre::Tokenize(const char* text, std::string* warnOut) {
    tokens.clear();
    plusOnly = 1;
    int32_t plusCount = 0;
    if (!text) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::string word;
    bool inStr = false, esc = false, closedStr = false, number = false;
    auto endWord = [&] {
        if (!word.empty()) tokens.push_back({word, TagToken::kOperand});
        word.clear();
        closedStr = false;
    };
    auto addOp = [&](const char* t) { tokens.push_back({t, TagToken::kOperator}); };
    for (size_t i = 0; p[i]; ++i) {
        unsigned char c = p[i];
        if (inStr) {
            word += static_cast<char>(c);
            if (!esc && IsGbkLead(c) && IsGbkTrail(p[i + 1])) {
                // A double-byte character whose second byte is 0x5C is no escape.
                word += static_cast<char>(p[++i]);
                continue;
            }
            if (esc)
                esc = false;
            else if (c == '\\')
                esc = true;
            else if (c == '"') {
                inStr = false;
                closedStr = true;
            }
            continue;
        }
        if (c == '"') {
            if (!word.empty()) return -1;
            word += '"';
            inStr = true;
            continue;
        }
        if (c > 128) return -1;
        if (c == ';') break;
        if (c == ' ' || c == '\t') {
            endWord();
            continue;
        }
        if (std::strchr("+-*/%><!=()|&[],^~", c)) {
            endWord();
            if (c == '+')
                ++plusCount;
            else
                plusOnly = 0;
            unsigned char n = p[i + 1];
            switch (c) {
            case '|':
                addOp(n == '|' ? "||" : "|");
                i += n == '|';
                break;
            case '&':
                addOp(n == '&' ? "&&" : "&");
                i += n == '&';
                break;
            case '=':
                addOp("==");
                if (n == '=')
                    ++i;
                else if (warnOut)
                    *warnOut += kSingleEqual;
                break;
            case '>':
                addOp(n == '=' ? ">=" : n == '>' ? ">>" : ">");
                i += n == '=' || n == '>';
                break;
            case '<':
                addOp(n == '=' ? "<=" : n == '<' ? "<<" : "<");
                i += n == '=' || n == '<';
                break;
            case '!':
                addOp(n == '=' ? "!=" : "!");
                i += n == '=';
                break;
            default: {
                char t[2] = {static_cast<char>(c), 0};
                addOp(t);
            }
            }
            continue;
        }
        if (closedStr) return -1;
        if (word.empty())
            number = IsDigit(c) || c == '.';
        else if (number && !IsDigit(c) && c != '.')
            return -1;
        word += static_cast<char>(c);
    }
    // An unclosed string literal stays one operand; its step reports it.
    endWord();
    if (plusCount < 3) plusOnly = 0;
    return static_cast<int32_t>(tokens.size());
}

bool TagComplexExpre::CheckTokens() {
    for (size_t i = 1; i < tokens.size(); ++i) {
        const TagToken& prev = tokens[i - 1];
        const TagToken& t = tokens[i];
        if (t.kind == TagToken::kOperand && prev.kind == TagToken::kOperand) {
            *err = kMissingOperator + prev.text + " " + t.text;
            return false;
        }
        if (t.kind == TagToken::kOperator && t.text == "(" && prev.kind != TagToken::kOperator) {
            *err += kNoCalls;
            return false;
        }
    }
    return true;
}

void TagComplexExpre::Advance() {
    ++pos;
    if (pos >= 0 && static_cast<size_t>(pos) < tokens.size()) {
        cur = tokens[static_cast<size_t>(pos)].text;
        curKind = tokens[static_cast<size_t>(pos)].kind;
    } else {
        cur.clear();
        curKind = 0;
    }
}

namespace {

bool OneOf(const std::string& cur, int32_t kind, std::initializer_list<const char*> ops) {
    if (kind != TagToken::kOperator) return false;
    for (const char* o : ops)
        if (cur == o) return true;
    return false;
}

} // namespace

// logic := bits { ("||" | "&&") bits }
std::string TagComplexExpre::ParseLogic() {
    std::string left = ParseBits();
    for (;;) {
        if (OneOf(cur, curKind, {")"}) && parenDepth == 0) {
            *err += ")" + std::string(kUnmatched);
            break;
        }
        if (OneOf(cur, curKind, {"]"}) && bracketDepth == 0) {
            *err += "]" + std::string(kUnmatched);
            break;
        }
        if (!OneOf(cur, curKind, {"||", "&&"})) break;
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParseBits());
    }
    return left;
}

// bits := compare { ("&" | "^" | "|") compare }
std::string TagComplexExpre::ParseBits() {
    std::string left = ParseCompare();
    while (OneOf(cur, curKind, {"&", "^", "|"})) {
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParseCompare());
    }
    return left;
}

// compare := shift { ("==" | ">" | "<" | ">=" | "<=" | "!=") shift }
std::string TagComplexExpre::ParseCompare() {
    std::string left = ParseShift();
    while (OneOf(cur, curKind, {"==", ">", "<", ">=", "<=", "!="})) {
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParseShift());
    }
    return left;
}

// shift := sum { ("<<" | ">>") sum }
std::string TagComplexExpre::ParseShift() {
    std::string left = ParseSum();
    while (OneOf(cur, curKind, {"<<", ">>"})) {
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParseSum());
    }
    return left;
}

// sum := product { ("+" | "-") product }
std::string TagComplexExpre::ParseSum() {
    std::string left = ParseProduct();
    while (OneOf(cur, curKind, {"+", "-"})) {
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParseProduct());
    }
    return left;
}

// product := prefix { ("*" | "/" | "%") prefix }
std::string TagComplexExpre::ParseProduct() {
    std::string left = ParsePrefix();
    while (OneOf(cur, curKind, {"*", "/", "%"})) {
        std::string op = cur;
        Advance();
        left = EmitBinary(left, op, ParsePrefix());
    }
    return left;
}

// prefix := [ "-" | "~" | "!" | "+" ] subscript; a prefix plus changes nothing.
std::string TagComplexExpre::ParsePrefix() {
    if (!OneOf(cur, curKind, {"-", "~", "!", "+"})) return ParseSubscript();
    std::string op = cur;
    Advance();
    std::string operand = ParseSubscript();
    return op == "+" ? operand : EmitPrefix(op, operand);
}

// subscript := primary { "[" logic "]" }
std::string TagComplexExpre::ParseSubscript() {
    std::string value = ParsePrimary();
    while (OneOf(cur, curKind, {"["})) {
        ++bracketDepth;
        Advance();
        std::string key = ParseLogic();
        bool closed = OneOf(cur, curKind, {"]"});
        if (!closed) *err += "[" + std::string(kUnmatched);
        --bracketDepth;
        value = EmitBinary(value, "[", key);
        if (closed) Advance();
    }
    return value;
}

// primary := "(" logic ")" | operand
std::string TagComplexExpre::ParsePrimary() {
    if (!OneOf(cur, curKind, {"("})) {
        std::string operand = cur;
        Advance();
        return operand;
    }
    ++parenDepth;
    Advance();
    std::string inner = ParseLogic();
    bool closed = OneOf(cur, curKind, {")"});
    if (!closed) *err += "(" + std::string(kUnmatched);
    --parenDepth;
    if (closed) Advance();
    return inner;
}

std::string TagComplexExpre::EmitBinary(const std::string& left, const std::string& opText, const std::string& right) {
    std::string temp = unit->NewTempName();
    TagCalculate step;
    if (BuildStep(temp, nullptr, left + opText + right, kTempNote, step)) steps->push_back(step);
    return temp;
}

std::string TagComplexExpre::EmitPrefix(const std::string& opText, const std::string& operand) {
    return EmitBinary("", opText, operand);
}

bool TagComplexExpre::BuildStep(const std::string& targetName, TagVar* targetSub, const std::string& stepText,
                                const char* note, TagCalculate& out) {
    // A step after a failed one would only report the failure again, through the temporary that never came to be.
    if (!err->empty()) return false;
    TagOperand l, r;
    char op = 0;
    std::string msg;
    if (zz::Tokenize(l, op, r, stepText.c_str(), msg) < 0) {
        *err += msg;
        return false;
    }
    TagVar* lv = nullptr;
    TagVar* rv = nullptr;
    for (auto [tok, var] : {std::pair{&l, &lv}, std::pair{&r, &rv}}) {
        if (tok->kind == TagOperand::kNone) continue;
        int32_t rc = unit->ResolveOperand(*tok, var);
        if (rc < 0) {
            *err += (rc == -1 ? kNotAssigned : kSyntax) + tok->text;
            return false;
        }
    }
    if (!lv && !rv) {
        *err += kNoOperands;
        return false;
    }
    // One operand stands alone (a copy) or after a prefix operator; "a +" with no right side is no step.
    bool prefix = !lv && (op == '-' || op == '!' || op == '~');
    if ((lv && !rv && op != 0) || (!lv && !prefix)) {
        *err += kSyntax + stepText;
        return false;
    }
    int32_t before = unit->VarCount();
    TagVar* dest = nullptr;
    unit->FindOrCreateVar(targetName.c_str(), &dest, note);
    if (unit->VarCount() > before) temps_.push_back(dest);
    out = lv && rv ? TagCalculate(dest, targetSub, lv, op, rv) : TagCalculate(dest, targetSub, lv ? lv : rv, op);
    out.text = stepText;
    return true;
}

// The last step writes the target directly, and the temporary it was built for goes away; a lone operand
// becomes one copy step.
void TagComplexExpre::Finish(const std::string& result, const char* targetName, TagVar* targetSub, const char* note) {
    if (!steps->empty() && steps->back().dest && steps->back().dest->Name() == result) {
        TagCalculate& last = steps->back();
        TagVar* temp = last.dest;
        TagVar* target = nullptr;
        unit->FindOrCreateVar(targetName, &target, note);
        last.dest = target;
        last.destSub = targetSub;
        bool ours = false;
        for (TagVar* t : temps_)
            ours = ours || t == temp;
        for (const TagCalculate& s : *steps)
            ours = ours && s.left != temp && s.right != temp && s.dest != temp && s.destSub != temp;
        if (ours && temp != target && temp != targetSub) unit->DeleteVar(temp);
        return;
    }
    // After an error the line fails anyway; a copy from a temporary that was never built would only add noise.
    if (!err->empty()) return;
    TagCalculate copy;
    if (BuildStep(targetName, targetSub, result, note, copy)) steps->push_back(copy);
}

} // namespace zz
