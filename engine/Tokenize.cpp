#include "engine/Tokenize.h"

#include <cstring>

#include "platform/Gbk.h"

namespace zz {

namespace {

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

int32_t Fail(int32_t code, std::string& msg) {
    static const char* const kMsgs[] = {"操作符错误: 出现多个操作符", "语法错误: 字符串没有结束", "不支持的操作符",
                                        "语法错误: 缺少操作符", "语法错误"};
    msg = kMsgs[-code - 1];
    return code;
}

// Operator chars of the split, with the two-character forms taken whole.
char ReadOperator(const unsigned char* p, size_t& i, bool leftEmpty) {
    unsigned char c = p[i], n = p[i + 1];
    auto two = [&](char mapped) {
        ++i;
        return mapped;
    };
    switch (c) {
    case '=':
        return n == '=' ? two('=') : '=';
    case '!':
        if (n == '=') return two('#');
        return leftEmpty ? '!' : '#';
    case '>':
        return n == '=' ? two('g') : n == '>' ? two('R') : '>';
    case '<':
        return n == '=' ? two('l') : n == '<' ? two('L') : '<';
    case '|':
        return n == '|' ? two('o') : '|';
    case '&':
        return n == '&' ? two('a') : '&';
    default:
        return static_cast<char>(c);
    }
}

} // namespace

int32_t Tokenize(TagOperand& left, char& op, TagOperand& right, const char* text, std::string& msg) {
    left = TagOperand();
    right = TagOperand();
    op = 0;
    msg.clear();
    if (!text) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    int side = 0; // 0 left, 1 right
    bool inStr = false, pendingBackslash = false, afterSemicolon = false, rightEnded = false;
    auto cur = [&]() -> TagOperand& { return side == 0 ? left : right; };
    auto endOperand = [&]() {
        if (side == 0) {
            side = 1;
        } else {
            rightEnded = true;
        }
    };
    for (size_t i = 0; p[i]; ++i) {
        unsigned char c = p[i];
        if (inStr) {
            std::string& t = cur().text;
            if (pendingBackslash) {
                pendingBackslash = false;
                if (c == '\\' || c == 'n' || c == 'r' || c == 't' || c == '"') {
                    t.back() = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : static_cast<char>(c);
                    continue;
                }
            } else if (IsGbkLead(c) && IsGbkTrail(static_cast<unsigned char>(p[i + 1]))) {
                // A double-byte character whose second byte is 0x5C is no escape.
                t += static_cast<char>(c);
                t += p[++i];
                continue;
            } else if (c == '\\') {
                pendingBackslash = true;
            } else if (c == '"') {
                inStr = false;
                endOperand();
                continue;
            }
            t += static_cast<char>(c);
            continue;
        }
        if (afterSemicolon) {
            if (c != ' ' && c != '\t') return Fail(-5, msg);
            continue;
        }
        if (c == '"') {
            if (!cur().text.empty() || (side == 1 && rightEnded)) return Fail(-5, msg);
            cur().kind = TagOperand::kString;
            inStr = true;
            continue;
        }
        if (c == ';') {
            if (!cur().text.empty()) endOperand();
            afterSemicolon = true;
            continue;
        }
        if (c == ',' || c == ':' || c == '?' || c == '\'') return Fail(-3, msg);
        if (c == ' ' || c == '\t') {
            if (!cur().text.empty()) endOperand();
            continue;
        }
        bool firstOfLeft = side == 0 && left.text.empty();
        bool isOp = std::strchr("*/%=!><~^|&()[]", c) != nullptr;
        if (c == '+') isOp = !firstOfLeft;
        if (c == '-') isOp = !(firstOfLeft && IsDigit(p[i + 1]));
        if (isOp) {
            if (op) return Fail(-1, msg);
            op = ReadOperator(p, i, left.text.empty() && left.kind == TagOperand::kNone);
            // An operand already standing on the right means two operands with no operator between them.
            if (side == 1 && right.kind != TagOperand::kNone) return Fail(-4, msg);
            side = 1;
            continue;
        }
        if (side == 1 && rightEnded) return Fail(-5, msg);
        TagOperand& o = cur();
        if (o.text.empty() && o.kind == TagOperand::kNone)
            o.kind = IsDigit(c) || c == '-' || c == '.' ? TagOperand::kInteger : TagOperand::kName;
        else if (o.kind == TagOperand::kString)
            return Fail(-5, msg);
        if (c == '.' && o.kind != TagOperand::kName)
            o.kind = TagOperand::kFloat;
        else if ((o.kind == TagOperand::kInteger || o.kind == TagOperand::kFloat) && !IsDigit(c) &&
                 !(c == '-' && o.text.empty()))
            return Fail(-5, msg);
        o.text += static_cast<char>(c);
    }
    if (inStr) return Fail(-2, msg);
    if (right.kind != TagOperand::kNone && !op) return Fail(-4, msg);
    for (TagOperand* o : {&left, &right})
        if (o->kind == TagOperand::kNone && !o->text.empty())
            o->kind = IsDigit(static_cast<unsigned char>(o->text[0])) || o->text[0] == '-' ? TagOperand::kInteger
                                                                                           : TagOperand::kName;
    return 0;
}

} // namespace zz
