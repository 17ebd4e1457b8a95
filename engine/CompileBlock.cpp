// Block statements (if chains, loops, switch, braces, break and continue) and the linking pass that turns the
// flat op list into control flow after every compiled line. Everything is decided from the kinds of the newest
// ops and four compile-time stacks of op indexes; every index read here is checked, so a malformed script gets a
// message and never a wild read.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/TagExpre.h"
#include "engine/TagFlow.h"
#include "engine/TagKeyword.h"
#include "engine/TagTelBasic.h"
#include "engine/Tokenize.h"

namespace zz {

namespace {

const char* const kNoIf = "找不到匹配的if语句";
const char* const kNoWhile = "找不到匹配的while语句";
const char* const kNoLoop = "找不到匹配的while语句或for语句";
const char* const kNoSwitch = "找不到匹配的switch语句";
const char* const kTwoDefaults = "在一个switch块里不允许有多个default语句";
const char* const kOnlyLabels = "在一个switch块里只能有case和default语句";
const char* const kBraceNeedsHead = "'{'前面一行必须有相应的流程控制语句";
const char* const kMissingBrace = "前面缺少'{'语句";
const char* const kNoOpenBrace = "找不到匹配的'{'语句";
const char* const kNoFunction = "找不到匹配的function语句";
const char* const kOpenAlone = "语法错误: '{'必需单独一行";
const char* const kCloseAlone = "语法错误: '}'必需单独一行";
const char* const kManyOps = "操作符错误: 出现多个操作符";
const char* const kUnassigned = "表达式中的变量没有预先赋值";
const char* const kSyntax = "语法错误";
const char* const kForSyntax = "for语句语法错误";

bool IsOneOf(char k, const char* set) {
    for (; *set; ++set)
        if (*set == k) return true;
    return false;
}

// The op an index names, or null when the index lies outside the compiled list.
TagOper* OpAt(const TagTelBasic& p, int32_t i) {
    return i >= 0 && i < p.opCount ? p.Op(i) : nullptr;
}

char KindAt(const TagTelBasic& p, int32_t i) {
    TagOper* op = OpAt(p, i);
    return op ? op->kind : 0;
}

// The op on top of a stack; null when the stack is empty or holds an index outside the list.
TagOper* TopOp(const TagTelBasic& p, const std::vector<int32_t>& stack) {
    return stack.empty() ? nullptr : OpAt(p, stack.back());
}

void Pop(std::vector<int32_t>& stack) {
    if (!stack.empty()) stack.pop_back();
}

// Linking stops once the program has errors (it will not run); a function unit's failed lines are counted on its
// main program.
bool HasErrors(TagTelBasic& p) {
    return p.errorCount != 0 || p.ParentOrSelf()->errorCount != 0;
}

struct Block {
    TagTelBasic& p;
    int32_t line;
    bool endsFunction = false; // a "}" closed a function body: its symbols are to be split

    int32_t Fail(const char* msg, const char* text = nullptr) {
        p.WriteErrMsg(line, msg, text ? text : p.Scratch().lineCopy.c_str(), 0);
        return -1;
    }
    // A statement that failed after its op was stored keeps its slot, so later indexes stay in source order,
    // but is not linked into the flow.
    int32_t Abandon(char kind, const char* msg) {
        if (TagOper* op = p.Op(p.opCount)) {
            op->Init(p.Scratch().lineCopy.c_str(), p.Scratch().commentText.c_str(), line, p.opCount, kind, nullptr);
            op->depth = p.blockDepth;
        }
        ++p.opCount;
        return Fail(msg);
    }
    void Complete(char kind, int32_t ordinal) {
        p.AppendOp(p.Scratch().lineCopy.c_str(), p.Scratch().commentText.c_str(), line, kind, g_keyword.At(ordinal));
    }

    int32_t Condition(const std::string& text, std::vector<TagCalculate>& steps);
    int32_t SingleOperand(const std::string& text, TagVar** var);
    int32_t SimpleAssign(const std::string& text, TagVar** target, TagVar** left, char* op, TagVar** right);

    int32_t If(bool elseIf);
    int32_t Else();
    int32_t While();
    int32_t For(int32_t argCount);
    int32_t Switch();
    int32_t Case();
    int32_t Default();
    int32_t BreakOrContinue(bool isBreak);
    int32_t OpenBrace(const char* restOfLine);
    int32_t CloseBrace(const char* restOfLine);
};

// A condition compiles into steps whose result lands in _tempVal.
int32_t Block::Condition(const std::string& text, std::vector<TagCalculate>& steps) {
    std::string err, warn;
    TagComplexExpre(text.c_str(), &p, "_tempVal", nullptr, "", steps, err, warn);
    if (!err.empty()) return Fail(err.c_str());
    if (!warn.empty()) {
        p.WriteErrMsg(line, warn.c_str(), p.Scratch().lineCopy.c_str(), 1);
        ++p.warningCount;
    }
    if (steps.empty()) return Fail(kSyntax);
    return 0;
}

// A switch or case value: a literal, a constant or a variable. An operator is refused: its right side would be
// dropped, so 'case(a + 1)' would label the value of a.
int32_t Block::SingleOperand(const std::string& text, TagVar** var) {
    *var = nullptr;
    TagOperand left, right;
    char op = 0;
    std::string msg;
    if (Tokenize(left, op, right, text.c_str(), msg) != 0) return Fail(msg.empty() ? kSyntax : msg.c_str());
    if (op) return Fail(kSyntax);
    int32_t r = p.ResolveOperand(left, var);
    if (r == -1) return Fail(kUnassigned, left.text.c_str());
    if (r < 0 || !*var) return Fail(kSyntax);
    return 0;
}

// The init and step parts of a for loop: one assignment or increment, no expression.
int32_t Block::SimpleAssign(const std::string& text, TagVar** target, TagVar** left, char* op, TagVar** right) {
    uint8_t created = 0;
    *target = *left = *right = nullptr;
    *op = 0;
    int32_t r = p.CompileSimpleAssign(line, text.c_str(), target, left, op, right, "", &created);
    if (r == -2) return Fail(kManyOps);
    // -1 has written its own message; a tokenizer failure has not.
    if (r == -3) return Fail(kSyntax);
    if (r < 0) return -1;
    if (!*target) return Fail(kSyntax);
    return 0;
}

// if( and else if(: the if stack carries the chain; an else if joins the first if of its chain.
int32_t Block::If(bool elseIf) {
    std::vector<TagCalculate> steps;
    if (Condition(p.Scratch().args[0], steps) < 0) return -1;
    int32_t at = p.opCount;
    auto* op = static_cast<TagIf*>(p.StoreOp(std::make_unique<TagIf>(steps)));
    if (elseIf) {
        TagOper* top = TopOp(p, p.Scratch().ifStack);
        auto* head = dynamic_cast<TagIf*>(top);
        if (!head || top->depth != p.blockDepth) return Abandon('E', kNoIf);
        head->AddElseIf(op);
        op->head = head;
    }
    p.Scratch().ifStack.push_back(at);
    Complete(elseIf ? 'E' : 'i', elseIf ? TagKeyword::kElseIf : TagKeyword::kIf);
    return 0;
}

int32_t Block::Else() {
    TagOper* top = TopOp(p, p.Scratch().ifStack);
    if (!top || top->depth != p.blockDepth) return Fail(kNoIf);
    p.StoreOp(std::make_unique<TagNull>());
    Complete('e', TagKeyword::kElse);
    return 0;
}

int32_t Block::While() {
    std::vector<TagCalculate> steps;
    if (Condition(p.Scratch().args[0], steps) < 0) return -1;
    int32_t at = p.opCount;
    p.StoreOp(std::make_unique<TagForWhile>(steps));
    p.Scratch().loopStack.push_back(at);
    Complete('w', TagKeyword::kWhile);
    return 0;
}

// for(init; cond; step) with simple assignments, or for(K in OBJ), which arrives as the two pieces K and OBJ.
int32_t Block::For(int32_t argCount) {
    int32_t at = p.opCount;
    if (argCount == 2) {
        const std::string& key = p.Scratch().args[0];
        if (key.empty() || !TagTelBasic::IsValidVarName(key.c_str())) return Fail(kForSyntax);
        TagVar* keyVar = nullptr;
        p.FindOrCreateVar(key.c_str(), &keyVar);
        std::array<std::string, TagTelBasic::kMaxArgs> texts;
        texts[0] = p.Scratch().args[1];
        TagVar* obj = nullptr;
        if (p.CompileArgs(line, p.Scratch().lineCopy.c_str(), 1, texts, &obj) < 0) return -1;
        p.StoreOp(std::make_unique<TagForIn>(keyVar, obj));
    } else if (argCount == 3) {
        TagVar *iTarget, *iLeft, *iRight, *sTarget, *sLeft, *sRight;
        char iOp, sOp;
        std::vector<TagCalculate> steps;
        if (SimpleAssign(p.Scratch().args[0], &iTarget, &iLeft, &iOp, &iRight) < 0) return -1;
        if (Condition(p.Scratch().args[1], steps) < 0) return -1;
        if (SimpleAssign(p.Scratch().args[2], &sTarget, &sLeft, &sOp, &sRight) < 0) return -1;
        auto* loop = static_cast<TagForWhile*>(p.StoreOp(std::make_unique<TagForWhile>(steps)));
        loop->SetInit(iTarget, iLeft, iOp, iRight);
        loop->SetStep(sTarget, sLeft, sOp, sRight);
    } else {
        return Fail(kForSyntax);
    }
    p.Scratch().loopStack.push_back(at);
    Complete('w', TagKeyword::kFor);
    return 0;
}

int32_t Block::Switch() {
    TagVar* value = nullptr;
    if (SingleOperand(p.Scratch().args[0], &value) < 0) return -1;
    int32_t at = p.opCount;
    p.StoreOp(std::make_unique<TagSwitch>(value));
    p.Scratch().switchStack.push_back(at);
    Complete('s', TagKeyword::kSwitch);
    return 0;
}

int32_t Block::Case() {
    if (!TopOp(p, p.Scratch().switchStack)) return Fail(kNoSwitch);
    TagVar* value = nullptr;
    if (SingleOperand(p.Scratch().args[0], &value) < 0) return -1;
    p.StoreOp(std::make_unique<TagCase>(value));
    Complete('c', TagKeyword::kCase);
    return 0;
}

int32_t Block::Default() {
    if (!TopOp(p, p.Scratch().switchStack)) return Fail(kNoSwitch);
    p.StoreOp(std::make_unique<TagNull>());
    Complete('d', TagKeyword::kDefault);
    return 0;
}

// break; and continue; refer to the innermost loop (never to a switch), which stays on the loop stack.
int32_t Block::BreakOrContinue(bool isBreak) {
    char kind = isBreak ? 'b' : 'o';
    std::unique_ptr<TagOper> made;
    if (isBreak)
        made = std::make_unique<TagBreak>();
    else
        made = std::make_unique<TagContinue>();
    TagOper* op = p.StoreOp(std::move(made));
    TagOper* loop = TopOp(p, p.Scratch().loopStack);
    if (!loop) return Abandon(kind, isBreak ? kNoWhile : kNoLoop);
    op->match = loop;
    op->Init(p.Scratch().lineCopy.c_str(), p.Scratch().commentText.c_str(), line, p.opCount, kind,
             g_keyword.At(isBreak ? TagKeyword::kBreak : TagKeyword::kContinue));
    op->depth = p.blockDepth;
    TagOper* prev = OpAt(p, p.opCount - 1);
    op->parent = p.blockDepth > 0 && prev ? prev->parent : nullptr;
    op->next = nullptr;
    if (prev) prev->next = op;
    ++p.opCount;
    return 0;
}

// "{": the control op before it chooses this brace as one of its branches; only a function body may open
// without one.
int32_t Block::OpenBrace(const char* restOfLine) {
    ++p.blockDepth;
    int32_t at = p.opCount;
    TagOper* brace = p.StoreOp(std::make_unique<TagNull>());
    brace->Init(p.Scratch().lineCopy.c_str(), p.Scratch().commentText.c_str(), line, at, '{',
                g_keyword.At(TagKeyword::kOpenBrace));
    brace->depth = p.blockDepth;
    brace->next = nullptr;
    brace->match = nullptr;
    brace->parent = nullptr;

    const char* msg = nullptr;
    TagOper* prev = OpAt(p, at - 1);
    switch (prev ? prev->kind : 0) {
    case 'i':
    case 'E':
    case 'e': {
        auto* head = dynamic_cast<TagIf*>(TopOp(p, p.Scratch().ifStack));
        if (!head) {
            msg = kNoIf;
        } else {
            if (prev->kind == 'e')
                head->SetElse(brace);
            else
                head->SetThen(brace);
            brace->parent = head;
        }
        break;
    }
    case 'w': {
        auto* loop = dynamic_cast<TagWhile*>(TopOp(p, p.Scratch().loopStack));
        if (!loop) {
            msg = kNoWhile;
        } else {
            loop->SetBody(brace);
            brace->parent = loop;
        }
        break;
    }
    case 's':
    case 'c':
    case 'd': {
        auto* sw = dynamic_cast<TagSwitch*>(TopOp(p, p.Scratch().switchStack));
        if (!sw) {
            msg = kNoSwitch;
        } else if (prev->kind == 'c') {
            // Consecutive labels share this block, nearest label first.
            for (int32_t i = at - 1; i >= 0 && KindAt(p, i) == 'c'; --i)
                if (auto* label = dynamic_cast<TagCase*>(OpAt(p, i))) sw->AddCase(label->caseValue, brace);
            brace->parent = sw;
        } else if (prev->kind == 'd') {
            if (sw->SetDefault(brace) < 0) msg = kTwoDefaults;
            brace->parent = sw;
        } else {
            brace->parent = sw;
        }
        break;
    }
    default:
        if (at != 0 || !p.IsFunctionUnit()) msg = kBraceNeedsHead;
        break;
    }
    if (msg) {
        ++p.opCount;
        return Fail(msg);
    }
    p.Scratch().braceStack.push_back(at);
    ++p.opCount;
    if (!IsRestEmpty(restOfLine)) Fail(kOpenAlone);
    return 0;
}

// "}": pairs with its "{", closes the statement that owned the block, and at the unit's first brace ends a
// function body.
int32_t Block::CloseBrace(const char* restOfLine) {
    int32_t at = p.opCount;
    TagOper* end = p.StoreOp(std::make_unique<TagEnd>());
    end->Init(p.Scratch().lineCopy.c_str(), p.Scratch().commentText.c_str(), line, at, '}',
              g_keyword.At(TagKeyword::kCloseBrace));
    end->depth = p.blockDepth;
    if (p.blockDepth > 0) --p.blockDepth;
    end->next = nullptr;
    end->parent = nullptr;
    end->match = nullptr;
    if (TagOper* prev = OpAt(p, at - 1)) prev->next = end;

    TagOper* brace = TopOp(p, p.Scratch().braceStack);
    if (!brace) {
        Pop(p.Scratch().braceStack);
        ++p.opCount;
        return Fail(kNoOpenBrace);
    }
    int32_t open = p.Scratch().braceStack.back();
    p.Scratch().braceStack.pop_back();
    end->match = brace;
    brace->match = end;
    end->parent = brace->parent;

    const char* msg = nullptr;
    if (open > 0) {
        switch (KindAt(p, open - 1)) {
        case 'e':
            if (p.Scratch().ifStack.empty()) msg = kNoIf;
            Pop(p.Scratch().ifStack);
            break;
        case 'w':
            if (p.Scratch().loopStack.empty()) msg = kNoWhile;
            Pop(p.Scratch().loopStack);
            break;
        case 's':
            if (p.Scratch().switchStack.empty()) msg = kNoSwitch;
            Pop(p.Scratch().switchStack);
            break;
        case 'E':
            Pop(p.Scratch().ifStack);
            break;
        default:
            break;
        }
    } else if (p.parent && !p.parent->Scratch().funcDefStack.empty()) {
        endsFunction = true;
        p.parent->Scratch().funcDefStack.pop_back();
    } else {
        msg = kNoFunction;
    }
    if (msg) {
        end->parent = nullptr;
        ++p.opCount;
        return Fail(msg);
    }
    ++p.opCount;
    if (!IsRestEmpty(restOfLine)) Fail(kCloseAlone);
    return 0;
}

// When X closes a block (a "}" or a single-statement body), the statement that owned the block continues at L
// (null: nothing follows, at the end of a file). Returns the kind of that owner, 0 when X closes nothing.
char ExitLinks(TagTelBasic& p, TagOper* X, TagOper* L) {
    if (!X->match || !(X->kind == '}' || X->singleBody == 1 || X->match == X)) return 0;
    const char K = L ? L->kind : 0;
    int32_t T = (X->singleBody == 1 && (X->kind == 'b' || X->kind == 'o')) ? X->index : X->match->index;
    TagOper* owner = T > 0 && T < p.opCount ? OpAt(p, T - 1) : nullptr;
    const char O = owner ? owner->kind : 0;
    if (O == 's' || O == 'w') {
        owner->next = L;
        if (L) L->parent = owner->parent;
    } else if (O == 'e' || ((O == 'i' || O == 'E') && K != 'e' && K != 'E')) {
        // The chain ends: every branch continues after the whole statement.
        if (TagOper* q = X->parent) {
            auto* qi = dynamic_cast<TagIf*>(q);
            if (qi && q->kind == 'E') qi = qi->head;
            q->next = L;
            // An else if has the chain's first if as its parent; what follows the chain belongs where that
            // first if stands.
            TagOper* chainHead = qi ? static_cast<TagOper*>(qi) : q;
            if (L && K != '}') L->parent = chainHead->parent;
            if (qi) {
                qi->next = L;
                qi->LinkBranches();
            }
        }
    }
    return O;
}

} // namespace

int32_t TagTelBasic::CompileBlock(int32_t ordinal, int32_t argCount, int32_t line, const char* restOfLine) {
    Block b{*this, line};
    switch (ordinal) {
    case TagKeyword::kElseIf:
        return b.If(true);
    case TagKeyword::kIf:
        return b.If(false);
    case TagKeyword::kElse:
        return b.Else();
    case TagKeyword::kOpenBrace:
        return b.OpenBrace(restOfLine);
    case TagKeyword::kCloseBrace: {
        int32_t r = b.CloseBrace(restOfLine);
        // The end of a function body: its symbols settle into variables and constants.
        if (b.endsFunction) SplitSymbols();
        return r;
    }
    case TagKeyword::kWhile:
        return b.While();
    case TagKeyword::kSwitch:
        return b.Switch();
    case TagKeyword::kCase:
        return b.Case();
    case TagKeyword::kDefault:
        return b.Default();
    case TagKeyword::kBreak:
        return b.BreakOrContinue(true);
    case TagKeyword::kContinue:
        return b.BreakOrContinue(false);
    case TagKeyword::kFor:
        return b.For(argCount);
    default:
        return b.Fail("不可辨识的关键字");
    }
}

int32_t TagTelBasic::LinkPass(int32_t line) {
    if (HasErrors(*this) || opCount < 2) return 0;
    Block b{*this, line};
    TagOper* L = OpAt(*this, opCount - 1);
    TagOper* X = OpAt(*this, opCount - 2);
    if (!L || !X) return 0;
    const char K = L->kind;
    const char P = X->kind;

    // 1. Directly inside a switch block only labels and their braces may stand.
    if (TagOper* sw = TopOp(*this, Scratch().switchStack))
        if (L->depth == sw->depth + 1 && !IsOneOf(K, "cd{}")) return b.Fail(kOnlyLabels);

    // 2. A statement right after a control head is its one-statement body.
    bool bodyLinked = false;
    if (IsOneOf(P, "ieEw") && !IsOneOf(K, "{}ieEwsdc")) {
        ++L->depth;
        L->singleBody = 1;
        if (K != 'b' && K != 'o') L->match = L;
        if (P == 'w') {
            auto* loop = dynamic_cast<TagWhile*>(X);
            if (!loop) return b.Fail(kNoWhile);
            L->parent = X;
            loop->SetBody(L);
            Pop(Scratch().loopStack);
        } else {
            auto* head = dynamic_cast<TagIf*>(TopOp(*this, Scratch().ifStack));
            if (!head) return b.Fail(kNoIf);
            if (P == 'e')
                head->SetElse(L);
            else
                head->SetThen(L);
            L->parent = head;
            if (P != 'i') Pop(Scratch().ifStack);
        }
        bodyLinked = true;
    }

    // 3. A control head followed by anything but "{" or its single statement.
    if (!bodyLinked && IsOneOf(P, "dsieEw") && K != '{') return b.Fail(kMissingBrace);

    // 4. Exit links of the statement X closed; 5. a finished chain's first if leaves the stack.
    const char owner = ExitLinks(*this, X, L);
    if ((owner == 'i' || owner == 'E') && K != 'e' && K != 'E') {
        if (Scratch().ifStack.empty()) return b.Fail(kNoIf);
        if (K == 'i') {
            // L is a new if, pushed already: it stays on top.
            int32_t newest = Scratch().ifStack.back();
            Scratch().ifStack.pop_back();
            Pop(Scratch().ifStack);
            Scratch().ifStack.push_back(newest);
        } else {
            Scratch().ifStack.pop_back();
        }
    }

    // 6. A loop's single-statement body runs the loop again.
    if (X->singleBody == 1 && X->parent && X->parent->kind == 'w') X->next = X->parent;
    return 0;
}

// Nothing follows the newest op: the statement it closes ends the flow instead of running on into its own body
// (the ops were linked in source order), and a loop's single-statement body still loops.
void TagTelBasic::LinkAtEndOfFile() {
    if (HasErrors(*this) || opCount < 2) return;
    TagOper* last = OpAt(*this, opCount - 1);
    if (!last) return;
    ExitLinks(*this, last, nullptr);
    if (last->singleBody == 1 && last->parent && last->parent->kind == 'w') last->next = last->parent;
}

} // namespace zz
