// Assignments: 'x = a op b;' as one calculation, longer right sides as an expression or a many-operand sum,
// increments, element targets, the target of 'x = Call(...)', and const declarations.
#include <memory>
#include <string>

#include "engine/CompileParts.h"
#include "engine/TagCalculate.h"
#include "engine/TagExpre.h"
#include "engine/TagTelBasic.h"
#include "engine/Tokenize.h"

namespace zz {

namespace {

const char* const kNotAssigned = "表达式中的变量没有预先赋值";
const char* const kSyntax = "语法错误";

bool IsUnary(char op) {
    return op == '!' || op == '~' || op == '-';
}

} // namespace

int32_t TagTelBasic::CompileSimpleAssign(int32_t line, const char* text, TagVar** target, TagVar** left, char* op,
                                         TagVar** right, const char* note, uint8_t* created) {
    TagVar* dummyVar = nullptr;
    char dummyOp = 0;
    uint8_t dummyFlag = 0;
    TagVar*& tv = target ? *target : dummyVar;
    TagVar*& lv = left ? *left : dummyVar;
    TagVar*& rv = right ? *right : dummyVar;
    char& o = op ? *op : dummyOp;
    uint8_t& made = created ? *created : dummyFlag;
    tv = lv = rv = nullptr;
    o = 0;
    made = 0;
    std::string_view s = text ? text : "";

    std::string name, sub;
    char incOp = 0;
    const int32_t incForm = compiler::ParseIncDec(s, name, incOp);
    if (incForm < 0) WriteErrMsg(line, "自加或自减的变量名不合法", text, 0);
    const bool inc = incForm == 1;
    bool hasSub = false;
    if (!inc && compiler::ParseAssignTarget(s, name, sub, hasSub) < 1) {
        WriteErrMsg(line, kSyntax, text ? text : "", 0);
        return -1;
    }
    // Variables come into being by their first assignment.
    const int32_t before = VarCount();
    FindOrCreateVar(name.c_str(), &tv, note);
    made = VarCount() > before ? 1 : 0;
    if (inc) {
        TagOperand one;
        one.kind = TagOperand::kInteger;
        one.text.push_back('1'); // (assigning the literal trips a false -Wrestrict of g++ 12)
        lv = tv;
        o = incOp;
        ResolveOperand(one, &rv);
        return 0;
    }

    std::string rhs(s.substr(s.find('=') + 1));
    TagOperand l, r;
    std::string msg;
    int32_t rc = Tokenize(l, o, r, rhs.c_str(), msg);
    if (rc == -1) return -2;
    if (rc < 0) return -3;
    // A unary operator has no left operand; any left operand there is must be known.
    if (l.kind != TagOperand::kNone || !IsUnary(o)) {
        int32_t found = ResolveOperand(l, &lv);
        if (found < 0) {
            WriteErrMsg(line, found == -1 ? kNotAssigned : kSyntax, found == -1 ? l.text.c_str() : text, 0);
            return -1;
        }
    }
    if (o) {
        int32_t found = ResolveOperand(r, &rv);
        if (found < 0) {
            WriteErrMsg(line, found == -1 ? kNotAssigned : kSyntax, found == -1 ? r.text.c_str() : text, 0);
            return -1;
        }
    }
    return 0;
}

namespace compiler {

namespace {

int32_t Fail(TagTelBasic& prog, int32_t line, const char* message, const std::string& text) {
    prog.WriteErrMsg(line, message, text.c_str(), 0);
    return -1;
}

void Complete(TagTelBasic& prog, std::unique_ptr<TagOper> op, int32_t line) {
    prog.StoreOp(std::move(op));
    prog.AppendOp(prog.Scratch().lineCopy.c_str(), prog.Scratch().commentText.c_str(), line, '=', nullptr);
}

// The subscript of an element target: one operand. An operator there would be dropped with its right side
// ('x[i + 1] = 5;' storing at x[i]), so it is refused.
int32_t ResolveSubscript(TagTelBasic& prog, const std::string& subText, const std::string& stmt, int32_t line,
                         TagVar** sub) {
    if (subText.empty() || subText.back() != ']') return Fail(prog, line, "下标[]语法错误:", stmt);
    std::string inner = subText.substr(0, subText.size() - 1);
    TagOperand l, r;
    char op = 0;
    std::string msg;
    const int32_t split = Tokenize(l, op, r, inner.c_str(), msg);
    int32_t rc = prog.ResolveOperand(l, sub);
    if (rc == -1) return Fail(prog, line, "表达式中的变量没有预先赋值:", stmt);
    if (rc < 0) return Fail(prog, line, "语法错误:", stmt);
    if (split != 0 || op) return Fail(prog, line, "下标[]语法错误:", stmt);
    return 0;
}

// 'x = a + b + c + d;': one sum of all operands.
int32_t CompilePlusChain(TagTelBasic& prog, const std::string& piece, const std::string& stmt, int32_t line,
                         const std::string& name, TagVar* sub) {
    int32_t n = prog.SplitArgs(piece.c_str(), TagTelBasic::kMaxArgs, prog.Scratch().args, '+', ';');
    if (n == -3) return Fail(prog, line, "操作符错误: 出现多个操作符", stmt);
    if (n < 3) return Fail(prog, line, "语法错误", stmt);
    prog.Scratch().argCount = n;
    TagVar* vars[TagTelBasic::kMaxArgs] = {};
    if (prog.CompileArgs(line, stmt.c_str(), n, prog.Scratch().args, vars) < 0) return -1;
    TagVar* dest = nullptr;
    if (prog.FindVar(name.c_str(), &dest) < 0) dest = prog.Var(TagTelBasic::kTempVal);
    Complete(prog, std::make_unique<TagMulPlus>(dest, sub, n, vars), line);
    return 0;
}

// A right side of more than one operator: one ";"-terminated piece, compiled into the target.
int32_t CompileComplex(TagTelBasic& prog, const std::string& stmt, int32_t line, const std::string& name, TagVar* sub) {
    std::string rhs = stmt.substr(stmt.find('=') + 1);
    int32_t n = prog.SplitArgs(rhs.c_str(), TagTelBasic::kMaxArgs, prog.Scratch().args, ';', ';');
    if (n == 0) return Fail(prog, line, "表达式为空", stmt);
    if (n == -5) return Fail(prog, line, "语法错误: '{'或'}'必需单独一行", stmt);
    if (n == -2) return Fail(prog, line, "缺少结束的分号", stmt);
    if (n == -3) return Fail(prog, line, "语法错误: 字符串没有结束", stmt);
    if (n != 1) return Fail(prog, line, "语法错误", stmt);
    const std::string piece = prog.Scratch().args[0];
    if (TagComplexExpre(piece.c_str()).plusOnly) return CompilePlusChain(prog, piece, stmt, line, name, sub);
    std::vector<TagCalculate> steps;
    std::string err, warn;
    TagComplexExpre(piece.c_str(), &prog, name.c_str(), sub, prog.Scratch().commentText.c_str(), steps, err, warn);
    if (!err.empty()) return Fail(prog, line, err.c_str(), stmt);
    if (!warn.empty()) {
        prog.WriteErrMsg(line, warn.c_str(), stmt.c_str(), 1);
        ++prog.warningCount;
    }
    Complete(prog, std::make_unique<TagExpre>(steps), line);
    return 0;
}

// 'const NAME = VALUE': NAME takes VALUE and becomes read-only; nothing runs.
int32_t Declare(TagTelBasic& prog, int32_t rc, TagVar* target, TagVar* value, char op, uint8_t created,
                const std::string& stmt, int32_t line) {
    if (rc == -2 || (rc == 0 && op)) return Fail(prog, line, "常量定义错误，不能运算", stmt);
    if (rc == -1) return -1; // the fault is told already, once
    if (rc < 0 || !target) return Fail(prog, line, "语法错", stmt);
    if (!value || !value->readOnly) return Fail(prog, line, "常量定义错误，=号右边必须为常量", stmt);
    if (!created) {
        if (target->type != value->type || !TagVar::IsEqual(*target, *value))
            return Fail(prog, line, "常量重复定义", stmt);
        prog.WriteErrMsg(line, "常量重复定义", stmt.c_str(), 1);
        ++prog.warningCount;
    }
    if (target != value) *target = *value;
    target->readOnly = 1;
    return 0;
}

} // namespace

int32_t CompileAssignment(TagTelBasic& prog, std::string& stmt, int32_t line, const LineShape& shape, int32_t headLen,
                          bool& declared) {
    std::string name, subText;
    bool hasSub = false;
    ParseAssignTarget(stmt, name, subText, hasSub);
    TagVar* sub = nullptr;
    if (hasSub && headLen == 0 && ResolveSubscript(prog, subText, stmt, line, &sub) < 0) return -1;

    TagVar *target = nullptr, *left = nullptr, *right = nullptr;
    char op = 0;
    uint8_t created = 0;
    const std::string body = stmt.substr(static_cast<size_t>(headLen));
    int32_t rc = prog.CompileSimpleAssign(line, body.c_str(), &target, &left, &op, &right,
                                          prog.Scratch().commentText.c_str(), &created);
    if (headLen > 0) {
        declared = true;
        return Declare(prog, rc, target, left, op, created, stmt, line);
    }
    if (target && !created && target->readOnly) return Fail(prog, line, "常量不可以赋值", stmt);
    if (shape.shape == Shape::kAssignedCall) {
        // The call's operation takes the target when it is completed.
        prog.Scratch().pendingTarget = target;
        prog.Scratch().pendingSub = sub;
        return 0;
    }
    if (rc == -2) return CompileComplex(prog, stmt, line, name, sub);
    if (rc == -1) return -1; // the fault is told already, once
    if (rc < 0 || !target) return Fail(prog, line, "语法错", stmt);
    std::unique_ptr<TagCalculate> calc;
    if (op == '!' || op == '~' || (op == '-' && !left))
        calc = std::make_unique<TagCalculate>(target, sub, right, op);
    else if (op)
        calc = std::make_unique<TagCalculate>(target, sub, left, op, right);
    else
        calc = std::make_unique<TagCalculate>(target, sub, left, static_cast<char>(0));
    Complete(prog, std::move(calc), line);
    return 0;
}

} // namespace compiler

} // namespace zz
