// The run loop of a line's main flow and of one user-function call: one operation after another, with the
// debugger's pause, the script timers and the jumps to the hang-up and system-quit handlers between them.
//
// Outside the debugger, and while no script timer is armed, RunFast runs the statements it knows (calculations,
// braces, branches, loops, calls of user functions and returns) without looking at the line's flags between them:
// only before a statement of another kind, after a call and at every jump back, so a loop still answers a quit or
// a hang-up at its next round. A stretch of plain calculations runs from a plan made on its first run (the steps
// of all its statements in a row), a for or while loop whose body is such a stretch runs round after round in one
// place, and a user function's body runs on RunFast's own stack of frames. Every other statement, and every
// statement under the debugger or an armed timer, runs one by one. The console hears only of the statements that
// may wait, unless a debugger page shows the program.
//
// Between two statements the loop reads one word, the line's attention (TagCallState::attention): whoever sets a
// quit, reload, stop, end of run, pause or step, or changes the call state, raises it, and only then does the loop
// look at the flags themselves. Unless the debugger holds the line (a pause, breakpoints, a page), the flow passes
// over braces and labels without running them or reporting them to the console; it resets _retVal as they would
// have.
#include <cstring>
#include <random>
#include <vector>

#include "engine/LineRandom.h"
#include "engine/TagBuiltinHost.h"
#include "engine/TagCall.h"
#include "engine/TagCallRun.h"
#include "engine/TagExpre.h"
#include "engine/TagFlow.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/SysTime.h"
#include "platform/TagWriteLog.h"

namespace zz {

namespace {

std::mt19937& ThreadEngine() {
    thread_local std::mt19937 engine{5489u};
    return engine;
}

// A quit or reload asked of the program, or of the program that called it by RunKvs.
[[gnu::always_inline]] inline bool QuitOrReloadPending(const TagTelBasic& p) {
    if (p.sysQuit || p.IsReloadPending()) return true;
    const TagTelBasic* c = p.callingProgram;
    return c && (c->sysQuit || c->IsReloadPending());
}

// Arrays and objects the unit's variables hold are let go when its flow ends; keep is spared (the function's
// _retVal, which its caller still has to take over).
void ReleaseObjects(TagTelBasic& p, const TagVar* keep) {
    p.ForEachWritable([keep](TagVar& v) {
        if (&v != keep && v.type == TagVar::kObject) v.SetIntReleasing(0);
    });
}

bool IsUserCall(const TagOper* op) {
    return op && op->userCall;
}

void LogNoCall() {
    WriteRunLog("pKvCall==NULL");
}

// The debugger holds the flow op by op: braces and labels run, a breakpoint may sit on any of them, and a page
// that shows the program hears of each.
[[gnu::always_inline]] inline bool Watched(const TagTelBasic& unit, const TagTelBasic& main) {
    if (main.debugHold.load(std::memory_order_acquire) == 0) return false;
    return main.IsPaused() || main.IsWatched() || unit.breakCount.load() > 0 || main.breakCount.load() > 0;
}

// Outside the debugger the console hears only of statements that may wait (a builtin), so that a line's current
// statement stays in view while it waits, and nothing else costs it a call.
inline bool Reported(const TagOper& op, bool exact) {
    return exact || (!op.pure && !op.userCall && op.kind != 'r');
}

// Runs op's argument expressions and op, and stores the result by the operation's kind.
inline int32_t RunOne(TagOper& op, TagVar& retVal) {
    if (!op.args.empty()) op.EvalArgs();
    int32_t r = op.Run();
    StoreOperResult(op, r, retVal);
    return r;
}

// The op the flow goes on with: braces and labels it would run through are passed over (without a breakpoint,
// target or arguments they only reset _retVal).
inline TagOper* NextOp(TagOper* op, TagVar& retVal, bool exact) {
    TagOper* n = op->plainNext ? op->next : op->Next();
    if (exact || !n || !n->noOp) return n;
    bool passed = false;
    while (n && n->noOp && !n->IsBreak() && !n->target.var && n->args.empty()) {
        n = n->plainNext ? n->next : n->Next();
        passed = true;
    }
    if (passed) retVal.SetIntReleasing(0);
    return n;
}

// The first op of a flow, past the braces and labels it starts with.
inline TagOper* FirstOp(TagTelBasic& unit, TagVar& retVal, bool exact) {
    TagOper* op = unit.opCount > 0 ? unit.Op(0) : nullptr;
    if (exact || !op || !op->noOp || op->IsBreak() || op->target.var || !op->args.empty()) return op;
    retVal.SetIntReleasing(0);
    return NextOp(op, retVal, false);
}

// The line's script timers, when one is due.
inline void FireDueTimers(TagTelBasic& root) {
    if (!root.timersArmed.load(std::memory_order_relaxed)) return;
    if (static_cast<int32_t>(GetTickCount() - root.timerDue.load(std::memory_order_relaxed)) < 0) return;
    if (TagBuiltinHost* host = GetBuiltinHost()) host->FireTimers(root);
}

// Takes the attention word; true when it was raised.
inline bool TakeAttention(TagCallState& call) {
    if (call.attention.load(std::memory_order_relaxed) == 0) return false;
    return call.attention.exchange(0, std::memory_order_acq_rel) != 0;
}

// The line's attention is raised or a timer is due: a loop of pure statements hands back to the run loop.
inline bool Due(const TagCallState& call, const TagTelBasic& root) {
    if (call.attention.load(std::memory_order_relaxed) != 0) return true;
    return root.timersArmed.load(std::memory_order_relaxed) &&
           static_cast<int32_t>(GetTickCount() - root.timerDue.load(std::memory_order_relaxed)) >= 0;
}

} // namespace

// A calculation step as a plan runs it: the integer rule of its operator chosen once, the step's own Exec for
// every other case (other types, an element destination, an operator without an integer rule).
struct PlanStep {
    void (*run)(const PlanStep&);
    const TagVar* left;
    const TagVar* right;
    TagVar* dest;
    const CalcStep* step;
};

namespace {

template <char Op> void IntRule(const PlanStep& p) {
    if (p.left->type == TagVar::kInt && p.right->type == TagVar::kInt) {
        int32_t v;
        if (CalcStep::IntOp(Op, p.left->intVal, p.right->intVal, v) > 0) p.dest->SetIntReleasing(v);
        return; // a zero divisor leaves the destination as it was
    }
    p.step->Exec();
}

void AnyRule(const PlanStep& p) {
    p.step->Exec();
}

// "x = y": the whole value.
void CopyRule(const PlanStep& p) {
    *p.dest = *p.left;
}

// A key that reaches an element of an object's array part or its integer hash.
inline bool IntKey(const TagVar& k) {
    return k.type == TagVar::kInt ||
           (k.type != TagVar::kString && k.type != TagVar::kDouble && k.type != TagVar::kObject);
}

// "x = a[i]" of a live object and an integer key: the element, or the null value when there is none.
[[gnu::noinline]] void ElemReadAny(const PlanStep& p) {
    if (TagMapItem* o = p.left->Object())
        if (!o->dead && IntKey(*p.right)) {
            TagVar* e = o->FindInt(p.right->intVal);
            *p.dest = e ? *e : g_nullVar;
            return;
        }
    p.step->Exec();
}

// The common case first, without a frame of its own: a number in the array part into a plain variable.
void ElemReadRule(const PlanStep& p) {
    if (TagMapItem* o = p.left->Object())
        if (!o->dead && IntKey(*p.right))
            if (TagVar* e = o->ArrayElem(p.right->intVal))
                if (p.dest->AssignPlain(*e)) return;
    ElemReadAny(p);
}

// "a[i] = y" into a live object by an integer key (a missing element is made), y not the object itself.
[[gnu::noinline]] void ElemCopyAny(const PlanStep& p) {
    if (TagMapItem* o = p.dest->Object())
        if (!o->dead && !p.dest->readOnly && IntKey(*p.step->destSub)) {
            o->Item(*p.step->destSub) = *p.left;
            return;
        }
    p.step->Exec();
}

void ElemCopyRule(const PlanStep& p) {
    if (TagMapItem* o = p.dest->Object())
        if (!o->dead && !p.dest->readOnly) {
            const TagVar& k = *p.step->destSub;
            if (IntKey(k))
                if (TagVar* e = o->ArrayElem(k.intVal))
                    if (e->AssignPlain(*p.left)) return;
        }
    ElemCopyAny(p);
}

PlanStep ToPlanStep(const CalcStep& s) {
    PlanStep p{AnyRule, s.left, s.right, s.dest, &s};
    if (!s.left || !s.dest) return p;
    if (s.destSub) {
        if (!s.right && s.op == 0 && s.left != s.dest) p.run = ElemCopyRule;
        return p;
    }
    if (s.op == '[' && s.right) {
        p.run = ElemReadRule;
        return p;
    }
    if (!s.right) {
        if (s.op == 0) p.run = CopyRule;
        return p;
    }
    switch (s.op) {
    case '+':
        p.run = IntRule<'+'>;
        break;
    case '-':
        p.run = IntRule<'-'>;
        break;
    case '*':
        p.run = IntRule<'*'>;
        break;
    case '/':
        p.run = IntRule<'/'>;
        break;
    case '%':
        p.run = IntRule<'%'>;
        break;
    case '=':
        p.run = IntRule<'='>;
        break;
    case '#':
        p.run = IntRule<'#'>;
        break;
    case '>':
        p.run = IntRule<'>'>;
        break;
    case '<':
        p.run = IntRule<'<'>;
        break;
    case 'g':
        p.run = IntRule<'g'>;
        break;
    case 'l':
        p.run = IntRule<'l'>;
        break;
    case 'a':
        p.run = IntRule<'a'>;
        break;
    case 'o':
        p.run = IntRule<'o'>;
        break;
    case '&':
        p.run = IntRule<'&'>;
        break;
    case '|':
        p.run = IntRule<'|'>;
        break;
    case '^':
        p.run = IntRule<'^'>;
        break;
    case 'L':
        p.run = IntRule<'L'>;
        break;
    case 'R':
        p.run = IntRule<'R'>;
        break;
    default:
        break;
    }
    return p;
}

// A loop's body runs round after round in one place: a plain walk of its steps.
inline void RunEachStep(const std::vector<PlanStep>& steps) {
    for (const PlanStep& p : steps)
        p.run(p);
}

// In place at a stretch, the hottest statement; out of line (RunSomeSteps) everywhere else.
[[gnu::always_inline]] inline void RunStepsHere(const std::vector<PlanStep>& steps) {
    const PlanStep* p = steps.data();
    const PlanStep* end = p + steps.size();
    // Most statements are one to three steps: those run without the loop's jump back.
    switch (steps.size()) {
    case 3:
        p[0].run(p[0]);
        p[1].run(p[1]);
        p[2].run(p[2]);
        return;
    case 2:
        p[0].run(p[0]);
        p[1].run(p[1]);
        return;
    case 1:
        p[0].run(p[0]);
        return;
    case 0:
        return;
    default:
        for (; p != end; ++p)
            p->run(*p);
    }
}

// Conditions, calls and returns often have no steps of their own (a plain variable): those cost no call.
[[gnu::noinline]] void RunSomeSteps(const std::vector<PlanStep>& steps) {
    RunStepsHere(steps);
}

[[gnu::always_inline]] inline void RunSteps(const std::vector<PlanStep>& steps) {
    if (!steps.empty()) RunSomeSteps(steps);
}

} // namespace

// A stretch of plain calculations from one statement on, or a loop whose body is one.
struct OpPlan {
    // kFor: a for or while loop whose body RunFast runs statement by statement (made by RunFast alone).
    enum Kind : uint8_t { kStretch, kLoop, kIf, kCall, kReturn, kFor };
    Kind kind = kStretch;
    std::vector<PlanStep> steps; // of a stretch, of a loop's body, or of an if's condition
    std::vector<PlanStep> tail;  // a loop's step and condition; the argument expressions of a call or a return
    std::vector<PlanStep> head;  // kFor: the loop's first step (its step is in tail, its condition in steps)
    int32_t lastResult = 0;      // the result of the stretch's last statement
    int32_t retValue = 0;        // _retVal after the stretch: lastResult, or 0 when braces followed
    TagOper* last = nullptr;     // the stretch's last statement
    TagOper* exit = nullptr;     // where the flow goes on after the stretch or the call
    TagForWhile* loop = nullptr;
    TagIf* branch = nullptr;
    // An if without else-if: where each way goes on, past the braces.
    TagOper* thenExit = nullptr;
    TagOper* elseExit = nullptr;
    uint8_t passed = 0; // a call: braces follow it, which reset _retVal
    // The run loop looks at the flags before the statement the stretch goes on with, or before each way of an if:
    // the flow ends there, reaches a statement of another kind or jumps back.
    uint8_t exitLook = 1, thenLook = 1, elseLook = 1;
    // The condition's last step when it is an integer comparison giving the condition's value: run apart from
    // steps (or tail, for a loop), so that the way on comes from the comparison itself. condOp is its operator,
    // 0 when the condition is only its steps.
    uint8_t condOp = 0;
    PlanStep cond{};
    // A call: the function unit it reached on its first run and what calling it again needs, worked out then;
    // the call takes this way while its variable still holds that unit (callee null: never).
    TagTelBasic* callee = nullptr;
    TagTelBasic* calleeMain = nullptr;               // the callee's main program
    TagTelBasic* root = nullptr;                     // the program whose depth counts the call
    TagTelBasic* afterUnit = nullptr;                // the unit that runs again once the call is back
    TagVar* calleeRet = nullptr;                     // its _retVal
    TagVar* callerRet = nullptr;                     // the caller's, null when the call has no caller
    std::vector<std::pair<TagVar*, TagVar*>> copies; // each argument (g_nullVar when none) and its parameter
    // The one argument and its parameter of a call that has one (most have): no loop over copies then.
    TagVar* arg1 = nullptr;
    TagVar* param1 = nullptr;
};

namespace {

bool LooksBefore(const TagOper* next, const TagOper* from) {
    return !next || !next->pure || next->index <= from->index;
}

} // namespace

void OpPlanDelete::operator()(OpPlan* p) const {
    delete p;
}

namespace {

constexpr size_t kMaxPlanSteps = 256;

bool Touches(const CalcStep& s, const TagVar* v) {
    return s.left == v || s.right == v || s.dest == v || s.destSub == v;
}

// Takes the last step of a condition's steps into plan.cond when it is an integer comparison into the condition's
// value and _retVal is none of its operands (the run loop sets _retVal between the two).
void SplitCond(OpPlan& plan, std::vector<PlanStep>& steps, const TagExpre& cond, const TagVar* ret) {
    if (steps.empty() || cond.stepCount == 0) return;
    const PlanStep& last = steps.back();
    if (!last.step || !last.left || !last.right || !last.dest || last.dest != cond.result || last.step->destSub ||
        last.dest == ret || last.left == ret || last.right == ret)
        return;
    // Such a step has the integer rule of its operator (ToPlanStep).
    const char op = last.step->op;
    if (op == 0 || !std::strchr("<>lg=#", op)) return;
    plan.cond = last;
    plan.condOp = static_cast<uint8_t>(op);
    steps.pop_back();
}

// Appends the steps of a plain calculation statement (no arguments, no target, _retVal neither read nor
// written, since a plan sets it once at the end); false for any other statement. r is its result.
bool AppendSteps(TagOper* op, const TagVar* ret, std::vector<PlanStep>& out, int32_t& r) {
    if (!op || op->noOp || !op->args.empty() || op->target.var) return false;
    if (auto* c = dynamic_cast<TagCalculate*>(op)) {
        if (Touches(*c, ret)) return false;
        out.push_back(ToPlanStep(*c));
        r = 0;
        return true;
    }
    if (auto* e = dynamic_cast<TagExpre*>(op)) {
        for (const CalcStep& s : e->steps)
            if (Touches(s, ret)) return false;
        for (const CalcStep& s : e->steps)
            out.push_back(ToPlanStep(s));
        r = e->stepCount;
        return true;
    }
    return false;
}

bool PlainCalc(TagOper* op, const TagVar* ret) {
    std::vector<PlanStep> scratch;
    int32_t r = 0;
    return AppendSteps(op, ret, scratch, r);
}

// The braces after op that the flow passes over, as NextOp does; passed tells whether there were any.
TagOper* PassBraces(TagOper* n, bool& passed) {
    passed = false;
    while (n && n->noOp && !n->IsBreak() && !n->target.var && n->args.empty()) {
        n = n->plainNext ? n->next : n->Next();
        passed = true;
    }
    return n;
}

// The two ways on of a branch or a loop statement, past the braces they start with.
void SetWays(OpPlan& plan, TagOper* yes, TagOper* no, const TagOper* from) {
    bool passed;
    plan.thenExit = PassBraces(yes, passed);
    plan.elseExit = PassBraces(no, passed);
    plan.thenLook = LooksBefore(plan.thenExit, from);
    plan.elseLook = LooksBefore(plan.elseExit, from);
}

std::unique_ptr<OpPlan, OpPlanDelete> MakeStretch(TagOper* first, const TagVar* ret) {
    std::unique_ptr<OpPlan, OpPlanDelete> plan(new OpPlan);
    for (TagOper* op = first; op && plan->steps.size() < kMaxPlanSteps;) {
        int32_t r = 0;
        if (!AppendSteps(op, ret, plan->steps, r)) break;
        plan->last = op;
        bool passed = false;
        TagOper* n = PassBraces(op->next, passed);
        plan->lastResult = r;
        plan->retValue = passed ? 0 : r;
        plan->exit = n;
        // A jump back, or a statement of another kind, ends the stretch.
        if (!n || n->index <= op->index || !PlainCalc(n, ret)) break;
        op = n;
    }
    if (!plan->last) return nullptr;
    plan->exitLook = LooksBefore(plan->exit, plan->last);
    return plan;
}

std::unique_ptr<OpPlan, OpPlanDelete> MakeLoop(TagForWhile* loop, const TagVar* ret) {
    if (!loop->args.empty() || loop->target.var) return nullptr;
    for (const CalcStep& s : loop->cond->steps)
        if (Touches(s, ret)) return nullptr;
    if ((loop->init && Touches(*loop->init, ret)) || (loop->step && Touches(*loop->step, ret))) return nullptr;
    std::unique_ptr<OpPlan, OpPlanDelete> plan(new OpPlan);
    plan->kind = OpPlan::kLoop;
    plan->loop = loop;
    if (loop->step) plan->tail.push_back(ToPlanStep(*loop->step));
    for (const CalcStep& s : loop->cond->steps)
        plan->tail.push_back(ToPlanStep(s));
    SplitCond(*plan, plan->tail, *loop->cond, ret);
    TagOper* op = loop->body;
    while (op != loop) {
        if (!op || plan->steps.size() >= kMaxPlanSteps) return nullptr;
        TagOper* n;
        if (op->noOp) {
            if (op->target.var || !op->args.empty()) return nullptr;
            n = op->Next();
        } else {
            int32_t r = 0;
            if (!AppendSteps(op, ret, plan->steps, r)) return nullptr;
            n = op->next;
        }
        // The body runs downwards and comes back to the loop alone.
        if (n != loop && (!n || n->index <= op->index)) return nullptr;
        op = n;
    }
    return plan;
}

// The plan of a pure statement, made on its first run in a stretch; null when it has none.
OpPlan* PlanOf(TagOper* op, const TagVar* ret) {
    if (!op->planned) {
        op->planned = 1;
        if (auto* loop = dynamic_cast<TagForWhile*>(op)) {
            op->plan = MakeLoop(loop, ret);
        } else if (auto* branch = dynamic_cast<TagIf*>(op)) {
            // The condition's steps in place of two calls; its result is 0 as ever.
            if (branch->args.empty() && !branch->target.var) {
                op->plan.reset(new OpPlan);
                op->plan->kind = OpPlan::kIf;
                op->plan->branch = branch;
                for (const CalcStep& s : branch->cond->steps)
                    op->plan->steps.push_back(ToPlanStep(s));
                if (branch->elseIfs.empty()) {
                    SetWays(*op->plan, branch->thenOp, branch->elseOp ? branch->elseOp : branch->next, branch);
                    SplitCond(*op->plan, op->plan->steps, *branch->cond, ret);
                }
            }
        } else if (PlainCalc(op, ret))
            op->plan = MakeStretch(op, ret);
    }
    return op->plan.get();
}

// The integer comparisons SplitCond takes, as CalcStep::IntOp gives them, in place at every condition.
[[gnu::always_inline]] inline bool CompareInts(uint8_t op, int32_t a, int32_t b) {
    switch (op) {
    case '<':
        return a < b;
    case '>':
        return a > b;
    case 'l':
        return a <= b;
    case 'g':
        return a >= b;
    case '=':
        return a == b;
    default: // '#'
        return a != b;
    }
}

// Runs plan.cond and gives the condition's truth, as its steps and CondTrue would.
[[gnu::always_inline]] inline bool CondHolds(const OpPlan& plan) {
    const PlanStep& p = plan.cond;
    const TagVar& l = *p.left;
    const TagVar& r = *p.right;
    if (l.type == TagVar::kInt && r.type == TagVar::kInt && p.dest->WritableInt()) {
        const bool t = CompareInts(plan.condOp, l.intVal, r.intVal);
        p.dest->intVal = t;
        return t;
    }
    p.run(p);
    return Truth(*p.dest);
}

// Runs a loop whose body is a stretch of plain calculations: the loop statement as the run loop would run it, and
// then round after round until the condition fails or the line's attention is raised or a timer is due. The
// op the flow goes on with is returned.
TagOper* RunLoopPlan(const OpPlan& plan, TagOper*& prevOp, TagVar& ret, int32_t& result, const TagCallState& call,
                     const TagTelBasic& root) {
    TagForWhile* loop = plan.loop;
    loop->prev = prevOp;
    result = loop->Run();
    ret.SetIntReleasing(result);
    prevOp = loop;
    if (!loop->CondTrue()) return loop->Next();
    // Two loops, so that neither asks at each round which way its condition runs.
    if (plan.condOp) {
        do {
            RunEachStep(plan.steps);
            RunEachStep(plan.tail);
        } while (CondHolds(plan) && !Due(call, root));
        return loop->Next();
    }
    do {
        RunEachStep(plan.steps);
        // The body's end brings the flow back to the loop, which runs its step and its condition.
        RunEachStep(plan.tail);
    } while (loop->CondTrue() && !Due(call, root));
    return loop->Next();
}

// How RunFast runs a statement (TagOper::fastKind).
enum : uint8_t {
    kFastUnknown = 0,
    kFastNone,    // not at all: the run loop runs it
    kFastStretch, // a stretch of plain calculations
    kFastIf,      // an if whose condition runs in place
    kFastLoop,    // a loop whose body is a stretch
    kFastPure,    // another pure statement, run one by one
    kFastCall,    // a call of a user function
    kFastReturn,
    kFastFor, // a for or while loop whose body is no stretch
};

uint8_t FastKind(TagOper* op, const TagVar* ret) {
    if (op->fastKind != kFastUnknown) return op->fastKind;
    uint8_t k = kFastNone;
    if (op->pure) {
        OpPlan* plan = PlanOf(op, ret);
        auto* loop = dynamic_cast<TagForWhile*>(op);
        if (!plan && loop && loop->args.empty() && !loop->target.var) {
            op->plan.reset(plan = new OpPlan);
            plan->kind = OpPlan::kFor;
            plan->loop = loop;
            if (loop->init) plan->head.push_back(ToPlanStep(*loop->init));
            if (loop->step) plan->tail.push_back(ToPlanStep(*loop->step));
            for (const CalcStep& s : loop->cond->steps)
                plan->steps.push_back(ToPlanStep(s));
            SplitCond(*plan, plan->steps, *loop->cond, ret);
            SetWays(*plan, loop->body, loop->next, loop);
            k = kFastFor;
        } else if (!plan)
            k = kFastPure;
        else if (plan->kind == OpPlan::kStretch)
            k = kFastStretch;
        else if (plan->kind == OpPlan::kLoop)
            k = kFastLoop;
        else
            k = kFastIf;
    } else if (const bool call = dynamic_cast<TagCall*>(op); call || dynamic_cast<TagReturn*>(op)) {
        op->plan.reset(new OpPlan);
        op->plan->kind = call ? OpPlan::kCall : OpPlan::kReturn;
        for (const ExprePtr& e : op->args)
            if (e)
                for (const CalcStep& s : e->steps)
                    op->plan->tail.push_back(ToPlanStep(s));
        bool passed = false;
        op->plan->exit = PassBraces(op->next, passed);
        op->plan->passed = passed;
        k = call ? kFastCall : kFastReturn;
    }
    op->fastKind = k;
    return k;
}

// Why RunFast handed the flow back.
enum class FastEnd : uint8_t {
    kOther,    // the statement returned is one it does not run (or the flow ran off its end): run it as ever
    kBoundary, // the line's attention is raised, a timer is armed or the call object went: look at the flags
    kReturn,   // a return statement ran
};

// A quit or reload the main flow has not handled yet, or a hang-up with a handler to run.
inline bool EndPending(const TagTelBasic& main) {
    const TagCallState* call = main.pKvCall;
    return call && ((QuitOrReloadPending(main) && main.handlerState.load(std::memory_order_relaxed) != 7) ||
                    (main.disconnIndex > 0 && call->callState.load(std::memory_order_relaxed) == kCallReleased));
}

// What RunFast knows of EndPending for the main program it started in. Every change to what EndPending reads
// raises the line's attention, so a value worked out after the attention was last taken stays good until the
// flow next hands back (where it is worked out again).
struct PendingSeen {
    const TagTelBasic* main = nullptr;
    bool pending = false;
};

// What every run of a body starts with: the unit's stop and quit flags cleared and its main program's line taken.
[[gnu::always_inline]] inline void ClearForBody(TagTelBasic* unit, const TagTelBasic* main) {
    unit->stop = 0;
    unit->lineNo = main->lineNo;
    unit->stopped = 0;
    unit->sysQuit = 0;
}

// The braces a body opens with reset _retVal: in place when it holds a writable integer, as SetIntReleasing would
// (GCC does not inline that here).
[[gnu::always_inline]] inline void ResetRetVal(TagVar* ret) {
    if (ret->WritableInt())
        ret->intVal = 0;
    else
        ret->SetIntReleasing(0);
}

// A quit or hang-up that is pending already ends the body after its first statement.
[[gnu::always_inline]] inline void AttendPending(TagTelBasic* main, const PendingSeen& seen) {
    if (main == seen.main ? seen.pending : EndPending(*main)) main->pKvCall->Attend();
}

// Sets a function unit up for one run of its body (RunFunction's way in): its first statement, null when the body
// has nothing to run; ready is false when the unit did not compile (nothing else then happens).
[[gnu::always_inline]] inline TagOper* BeginBody(TagTelBasic* unit, TagTelBasic* callerUnit, bool& ready, bool& exact,
                                                 const PendingSeen& seen = PendingSeen()) {
    unit->caller = callerUnit;
    ready = unit->initResult == 0;
    if (!ready) return nullptr;
    TagTelBasic* main = unit->ParentOrSelf();
    ClearForBody(unit, main);
    exact = Watched(*unit, *main);
    TagTelBasic::BodyStart& start = unit->bodyStart;
    TagOper* cur;
    if (start.known && !exact) {
        // Known from an earlier run: where the body starts, past its braces.
        if (start.passed) ResetRetVal(unit->RetVal());
        cur = start.first;
    } else {
        cur = unit->opCount > 0 ? unit->Op(0) : nullptr;
        if (!cur) unit->stop = 1;
        TagOper* op0 = cur;
        cur = FirstOp(*unit, *unit->RetVal(), exact || !cur);
        if (!exact && op0) {
            start.first = cur;
            start.passed = cur != op0;
            start.known = 1;
        }
    }
    AttendPending(main, seen);
    if (!main->pKvCall) cur = nullptr;
    // The stop flag raises the attention word when it is set, so it is read only when that is raised.
    if (unit->stop) cur = nullptr;
    return cur;
}

// BeginBody for the unit a call's plan keeps (it compiled, and its main program is the plan's), once its start is
// known and the debugger does not follow it; null when it is not, for BeginBody to set the unit up. The stop flag
// just cleared is not read back: setting it raises the attention, which the body's first look takes.
[[gnu::always_inline]] inline TagOper* BeginKnown(const OpPlan& plan, TagTelBasic* callerUnit, bool& exact,
                                                  const PendingSeen& seen) {
    TagTelBasic* unit = plan.callee;
    TagTelBasic* main = plan.calleeMain;
    TagTelBasic::BodyStart& start = unit->bodyStart;
    exact = Watched(*unit, *main);
    if (!start.known || exact) return nullptr;
    unit->caller = callerUnit;
    ClearForBody(unit, main);
    if (start.passed) ResetRetVal(unit->RetVal());
    AttendPending(main, seen);
    return main->pKvCall ? start.first : nullptr;
}

// RunFunction's way out: the unit's objects let go (not the value it returns) and the caller told of the flags the
// body took.
[[gnu::always_inline]] inline void EndBody(TagTelBasic* unit, bool took) {
    TagTelBasic::BodyStart& start = unit->bodyStart;
    if (start.releasedAt != ObjectsTaken()) {
        ReleaseObjects(*unit, unit->RetVal());
        start.releasedAt = ObjectsTaken();
    }
    unit->curOpIndex.store(-1, std::memory_order_relaxed);
    if (took)
        if (TagCallState* call = unit->Call()) call->Attend();
}

void RunBody(TagTelBasic* unit, TagOper* cur, TagOper* prevOp, bool& took, bool look);

// Keeps in a call's plan what calling callee again on this line needs (TagCall::Enter has just let it in for the
// first time).
void PrepareCall(OpPlan& plan, const TagCall& call, TagTelBasic* callee, const TagTelBasic& root,
                 const TagCallState& line) {
    TagTelBasic* main = callee->ParentOrSelf();
    TagTelBasic* rootOf = (call.caller ? call.caller : callee)->GetRoot();
    if (!call.funcVar || callee->initResult != 0 || callee->paramCount != call.paramCount || rootOf != &root ||
        main->pKvCall != &line)
        return;
    plan.copies.clear();
    for (int32_t i = 0; i < call.paramCount; ++i) {
        TagVar* arg = call.params[static_cast<size_t>(i)];
        plan.copies.emplace_back(arg ? arg : &g_nullVar, &callee->ParamValue(i));
    }
    plan.arg1 = plan.param1 = nullptr;
    if (plan.copies.size() == 1) {
        plan.arg1 = plan.copies[0].first;
        plan.param1 = plan.copies[0].second;
    }
    plan.calleeMain = main;
    plan.root = rootOf;
    plan.afterUnit = call.caller ? call.caller : main;
    plan.calleeRet = callee->RetVal();
    plan.callerRet = call.caller ? call.caller->RetVal() : nullptr;
    plan.callee = callee;
}

// TagCall::Enter for the unit the call's plan keeps (the caller has checked the function variable and the depth).
inline TagTelBasic* EnterKnown(const OpPlan& plan, TagCall::CallSave& save) {
    TagTelBasic* callee = plan.callee;
    if (plan.param1) {
        // A number is copied in place (the whole-value assignment is no longer inlined here).
        if (!plan.param1->AssignPlain(*plan.arg1)) *plan.param1 = *plan.arg1;
    } else
        for (const auto& [arg, param] : plan.copies)
            *param = *arg;
    save.depth = plan.root->callDepth; // LeaveKnown takes the root from the plan
    save.outerCaller = callee->caller;
    plan.root->callDepth = save.depth + 1;
    plan.calleeMain->runningUnit.store(callee, std::memory_order_relaxed);
    return callee;
}

// TagCall::Leave for the unit the call's plan keeps. The save is taken by value, as TagCall::Leave takes it: read
// through a reference into RunFast's frames, GCC's object-size check misreads a frame the frame pointer stepped back
// to.
inline int32_t LeaveKnown(const OpPlan& plan, TagCall::CallSave save) {
    plan.callee->caller = save.outerCaller;
    plan.calleeMain->runningUnit.store(plan.afterUnit, std::memory_order_relaxed);
    plan.root->callDepth = save.depth;
    if (plan.param1)
        TagCall::CopyBack(plan.arg1, *plan.param1);
    else
        for (const auto& [arg, param] : plan.copies)
            TagCall::CopyBack(arg, *param);
    return TagCall::HandBack(plan.calleeRet, plan.callerRet);
}

// A call RunFast runs without a native call: the calling statement, the level it was made from, and what the
// call and the body put back on their way out.
struct FastFrame {
    TagCall* op;
    TagTelBasic* callerUnit;
    TagCall::CallSave save;
    bool took;
};

// The run loop outside the debugger while no timer is armed, for the statements it knows: the same steps, in the
// same order, as the run loop takes them one by one, with the way on after a branch or a call worked out once. It goes
// from statement to statement where the run loop would look at the line's attention only to find it lowered.
// A call of a user function runs its body here too, on a stack of frames instead of the thread's own (a deep
// recursion no longer costs the processor's return predictions); a body that reaches a statement RunFast does not
// run, a raised attention or the debugger runs on in RunBody from there. At the level it started on, RunFast hands
// back with kBoundary where the run loop must look at the flags, and with kOther before a statement it does not
// run.
TagOper* RunFast(TagTelBasic* unit, TagOper* cur, TagOper*& prevOut, int32_t& resultOut, TagTelBasic& root,
                 FastEnd& end) {
    // Each statement's handler goes on to the next one's itself (one indirect jump per handler, which the
    // processor predicts far better than the one jump of a switch).
    static const void* const kHandlers[] = {&&unknown, &&none, &&stretch, &&branch, &&loop,
                                            &&pure,    &&call, &&back,    &&forLoop};
    static_assert(kFastFor == 8, "the handlers follow the kinds");
#define ZZ_GO_ON(lookBefore)                                                                                           \
    do {                                                                                                               \
        if (lookBefore) {                                                                                              \
            /* Only a call can have armed a timer (a statement RunFast runs arms none), and the call object stays. */  \
            if (line.attention.load(std::memory_order_relaxed) != 0) goto hand_back;                                   \
            if (!next) goto ended;                                                                                     \
            unit->curOpIndex.store(next->index, std::memory_order_relaxed);                                            \
        }                                                                                                              \
        cur = next;                                                                                                    \
        goto* kHandlers[cur->fastKind];                                                                                \
    } while (0)

    // Kept here while the statements run, and handed out with the flow.
#define ZZ_HAND_BACK(why, op)                                                                                          \
    do {                                                                                                               \
        prevOut = prevOp;                                                                                              \
        resultOut = result;                                                                                            \
        end = why;                                                                                                     \
        return op;                                                                                                     \
    } while (0)

    TagOper* prevOp = prevOut;
    int32_t result = resultOut;
    FastFrame frames[TagCall::kMaxDepth];
    FastFrame* top = frames; // the next free frame: top == frames at the level RunFast started on
    // Every body RunFast runs is on this line (a call of a unit of another call object runs as ever).
    const TagCallState& line = *unit->ParentOrSelf()->pKvCall;
    TagVar* ret = unit->RetVal();
    TagOper* next = nullptr;
    PendingSeen seen{unit->ParentOrSelf(), EndPending(*unit->ParentOrSelf())};
    goto* kHandlers[cur->fastKind];

unknown:
    FastKind(cur, ret);
    goto* kHandlers[cur->fastKind];

stretch : {
    const OpPlan& plan = *cur->plan;
    if (ret->type == TagVar::kObject) goto pure; // the stretch's end lets the object go, as a statement does
    RunStepsHere(plan.steps);
    result = plan.lastResult;
    ret->SetIntReleasing(plan.retValue);
    prevOp = plan.last;
    next = plan.exit;
    ZZ_GO_ON(plan.exitLook);
}

branch : {
    const OpPlan& plan = *cur->plan;
    TagIf* branch = plan.branch;
    RunSteps(plan.steps);
    result = 0;
    prevOp = branch;
    if (plan.condOp) {
        // The comparison was split off (so the if has no else-if): it gives the way on.
        const bool yes = CondHolds(plan);
        ret->SetIntReleasing(0);
        if (yes) {
            next = plan.thenExit;
            ZZ_GO_ON(plan.thenLook);
        }
        next = plan.elseExit;
        ZZ_GO_ON(plan.elseLook);
    }
    ret->SetIntReleasing(0);
    if (branch->elseIfs.empty()) {
        if (branch->CondTrue()) {
            next = plan.thenExit;
            ZZ_GO_ON(plan.thenLook);
        }
        next = plan.elseExit;
        ZZ_GO_ON(plan.elseLook);
    }
    bool passed;
    next = PassBraces(branch->Next(), passed);
    ZZ_GO_ON(LooksBefore(next, branch));
}

loop:
    next = RunLoopPlan(*cur->plan, prevOp, *ret, result, line, root);
    ZZ_GO_ON(true);

forLoop : {
    // TagForWhile::Run and Next, with the ways on past the braces worked out once.
    const OpPlan& plan = *cur->plan;
    TagForWhile* loop = plan.loop;
    loop->prev = prevOp;
    if (!prevOp || prevOp->index < loop->index) loop->Restart();
    if (loop->firstRun) {
        loop->firstRun = 0;
        RunSteps(plan.head);
    } else {
        RunSteps(plan.tail);
    }
    RunSteps(plan.steps);
    const bool yes = plan.condOp ? CondHolds(plan) : false;
    result = 0;
    ret->SetIntReleasing(0);
    prevOp = loop;
    if (plan.condOp ? yes : loop->CondTrue()) {
        next = plan.thenExit;
        ZZ_GO_ON(plan.thenLook);
    }
    loop->Restart();
    next = plan.elseExit;
    ZZ_GO_ON(plan.elseLook);
}

pure:
    cur->prev = prevOp;
    result = RunOne(*cur, *ret);
    prevOp = cur;
    next = NextOp(cur, *ret, false);
    ZZ_GO_ON(LooksBefore(next, prevOp));

call : {
    auto* call = static_cast<TagCall*>(cur);
    OpPlan& plan = *call->plan;
    RunSteps(plan.tail);
    FastFrame& f = *top;
    int32_t code = 0;
    TagTelBasic* callee = nullptr;
    if (plan.callee && call->funcVar->FuncUnit() == plan.callee && plan.root->callDepth < TagCall::kMaxDepth) {
        // The unit of the call's first run, below the depth limit (which also bounds the frames here).
        callee = EnterKnown(plan, f.save);
    } else if (top < frames + TagCall::kMaxDepth) {
        TagTelBasic* unitOf = call->funcVar ? call->funcVar->FuncUnit() : nullptr;
        if (!unitOf || unitOf->ParentOrSelf()->pKvCall == &line) callee = call->Enter(code, f.save);
        if (callee && !plan.callee) PrepareCall(plan, *call, callee, root, line);
    }
    if (!callee) {
        result = code != 0 ? code : call->Run();
        seen.pending = EndPending(*seen.main); // the call may have taken the attention
        StoreOperResult(*call, result, *ret);
        prevOp = call;
        goto after_call;
    }
    bool ready = true, exact = false;
    TagOper* first = callee == plan.callee ? BeginKnown(plan, call->caller, exact, seen) : nullptr;
    if (!first) first = BeginBody(callee, call->caller, ready, exact, seen);
    f.op = call;
    f.callerUnit = unit;
    f.took = false;
    ++top;
    unit = callee;
    ret = callee->RetVal();
    prevOp = nullptr;
    if (!ready || !first) goto leave;
    unit->curOpIndex.store(first->index, std::memory_order_relaxed);
    if (exact) {
        // The debugger follows this body: the run loop runs it statement by statement.
        RunBody(unit, first, nullptr, f.took, false);
        seen.pending = EndPending(*seen.main);
        goto leave;
    }
    cur = first;
    goto* kHandlers[cur->fastKind];
}

back : {
    auto* back = static_cast<TagReturn*>(cur);
    RunSteps(back->plan->tail);
    // Below the first level the caller's way out takes the integer from _retVal itself.
    const TagVar& given = back->Hand();
    if (top == frames) result = given.GetInt();
    StoreCalleeResult(*back, *ret);
    prevOp = back;
    if (top != frames) goto leave;
    ZZ_HAND_BACK(FastEnd::kReturn, nullptr);
}

none:
    if (top != frames) {
        RunBody(unit, cur, prevOp, top[-1].took, false);
        seen.pending = EndPending(*seen.main);
        goto leave;
    }
    ZZ_HAND_BACK(FastEnd::kOther, cur);

ended:
    // The flow ran off the end of a body.
    if (top != frames) goto leave;
    ZZ_HAND_BACK(FastEnd::kOther, nullptr);

hand_back:
    // The flags must be looked at: the run loop does that, at this level.
    if (top == frames) ZZ_HAND_BACK(FastEnd::kBoundary, next);
    RunBody(unit, next, prevOp, top[-1].took, true);
    seen.pending = EndPending(*seen.main);
    // fall through: the body has ended

leave : {
    // The body of the call at the top of the stack has ended: back to the level that made it.
    --top;
    FastFrame& f = *top;
    TagTelBasic* callee = unit;
    TagCall* call = f.op;
    const OpPlan& plan = *call->plan;
    int32_t r;
    if (callee == plan.callee) {
        EndBody(callee, f.took); // the plan's unit compiled
        r = LeaveKnown(plan, f.save);
    } else {
        if (callee->initResult == 0) EndBody(callee, f.took);
        r = call->Leave(callee, f.save);
    }
    unit = f.callerUnit;
    ret = unit->RetVal();
    result = r;
    StoreCalleeResult(*call, *ret);
    prevOp = call;
    cur = call;
}
after_call : {
    const OpPlan& plan = *cur->plan;
    if (plan.passed) ret->SetIntReleasing(0);
    next = plan.exit;
    if (root.timersArmed.load(std::memory_order_relaxed)) {
        FireDueTimers(root);
        goto hand_back;
    }
    ZZ_GO_ON(true);
}
#undef ZZ_HAND_BACK
#undef ZZ_GO_ON
}

} // namespace

void SeedLineRandom(uint32_t seed) {
    ThreadEngine().seed(seed);
}

int32_t LineRandom() {
    return static_cast<int32_t>(ThreadEngine()() >> 17); // 15 bits
}

int32_t TagTelBasic::Run() {
    if (initResult != 0) return -1;
    SeedLineRandom(GetTickCount() ^ (static_cast<uint32_t>(lineNo) << 16) ^ CurrentThreadId());
    EngineHooks& hooks = TheEngineHooks();
    if (hooks.setLineState) hooks.setLineState(lineNo, "运行");
    if (!IsCalledProgram()) WriteRunLogF("%d Run: tId:[0x%x], '%s'", lineNo, CurrentThreadId(), scriptFile.c_str());

    stop = 0;
    endOfRun = 0;
    TagOper* cur = opCount > 0 ? Op(0) : nullptr;
    if (!cur) {
        stop = 1;
        endOfRun = 1;
    }
    if (pKvCall) pKvCall->stopFlag = false;
    stopped = 0;
    sysQuit = 0;
    if (!IsCalledProgram() && pKvCall) pKvCall->callState = kCallNone;
    runningUnit = this;
    // The first statement is followed by a look at the flags, whatever they were before.
    if (pKvCall) pKvCall->Attend();

    TagTelBasic* root = GetRoot();
    TagVar& ret = *RetVal();
    bool exact = Watched(*this, *this);
    bool took = false;
    TagOper* prevOp = nullptr;
    int32_t result = 0;
    while (!endOfRun) {
        if (!cur) {
            // Ran off the end: a quit ends the script; once the quit handler has run, so does a pending reload
            // (otherwise the handler's script would start again and again).
            if (sysQuit || (handlerState == 7 && QuitOrReloadPending(*this))) break;
            cur = Op(0);
            if (!cur) break;
            continue;
        }
        if (!pKvCall) {
            LogNoCall();
            break;
        }
        curOpIndex.store(cur->index, std::memory_order_relaxed);
        FastEnd end = FastEnd::kOther;
        if (!exact && !root->timersArmed.load(std::memory_order_relaxed)) {
            cur = RunFast(this, cur, prevOp, result, *root, end);
            if (end == FastEnd::kReturn) {
                if (!pKvCall) LogNoCall();
                break;
            }
            if (!cur && end == FastEnd::kOther) continue; // ran off the end
        }
        if (end == FastEnd::kOther) {
            if (hooks.debugLineHook && Reported(*cur, exact))
                hooks.debugLineHook(this, cur->index, cur->text.c_str(), cur->lineNo);
            cur->prev = prevOp;
            if (exact) {
                if (cur->IsBreak()) SetPause(1);
                if (IsPaused()) WaitDebugStep();
            } else if (cur->IsBreak()) {
                SetPause(1);
                WaitDebugStep();
                exact = Watched(*this, *this);
            }

            result = RunOne(*cur, ret);
            if (!pKvCall) {
                LogNoCall();
                break;
            }
            prevOp = cur;
            if (cur->kind == 'r') break;
            FireDueTimers(*root);
            cur = NextOp(cur, ret, exact);
        }
        TagCallState* call = pKvCall;
        if (!call) {
            LogNoCall();
            break;
        }
        if (!TakeAttention(*call)) continue;

        took = true;
        call->RunHanded();
        if (endOfRun) break;
        exact = Watched(*this, *this);
        bool quit = QuitOrReloadPending(*this);
        TagOper* quitOp = sysQuitIndex > 0 ? Op(sysQuitIndex) : nullptr;
        if (quitOp && quit && handlerState != 7) {
            if (IsReloadPending()) call->WriteLogF("IsReload..., quitindex=%d", sysQuitIndex);
            cur = quitOp;
            call->Attend(); // look again once the handler's statement has run
        } else if (!quitOp && quit) {
            // No usable OnSysQuit statement (none, or an index outside the list): the script ends here.
            WriteRunLog("sysQuitIndex<=0");
            break;
        } else if (disconnIndex > 0 && call->callState == kCallReleased && handlerState != 7) {
            if (TagOper* h = Op(disconnIndex)) cur = h;
            call->Attend();
        }
    }

    ReleaseObjects(*this, nullptr);
    if (IsCalledProgram() && pKvCall) {
        // Hand the hang-up back, so that the calling program's handler runs as well.
        int32_t handled = kCallClosed;
        pKvCall->callState.compare_exchange_strong(handled, kCallReleased);
        // The calling program's loop looks at the flags this run took.
        if (took) pKvCall->Attend();
    }
    curOpIndex = -1;
    runningUnit = nullptr;
    stopped = 1;
    if (!IsCalledProgram()) {
        if (hooks.dispCompileMsg) hooks.dispCompileMsg("系统已经停止运行", 0);
        if (hooks.setLineState) hooks.setLineState(lineNo, "已停止");
    }
    if (lineStates_ && !IsCalledProgram()) lineStates_->OnRunEnd();
    return result;
}

namespace {

// The run loop of one function body, from cur on (prevOp the statement before it); with look, the flags are looked
// at first, as after a statement. took tells the body's way out that the attention was taken.
void RunBody(TagTelBasic* unit, TagOper* cur, TagOper* prevOp, bool& took, bool look) {
    TagTelBasic* main = unit->ParentOrSelf();
    EngineHooks& hooks = TheEngineHooks();
    TagTelBasic* root = unit->GetRoot();
    TagVar& ret = *unit->RetVal();
    bool exact = Watched(*unit, *main);
    int32_t result = 0;
    for (;;) {
        if (look) {
            TagCallState* call = main->pKvCall;
            if (!call) break;
            if (TakeAttention(*call)) {
                took = true;
                call->RunHanded();
                if (unit->stop) break;
                exact = Watched(*unit, *main);
                // The main flow decides what happens on a quit or a hang-up: the body returns to it first.
                if (QuitOrReloadPending(*main) && main->handlerState != 7) break;
                if (main->disconnIndex > 0 && call->callState == kCallReleased) break;
            }
        }
        look = true;
        if (!cur) break;
        unit->curOpIndex.store(cur->index, std::memory_order_relaxed);
        if (!exact && !root->timersArmed.load(std::memory_order_relaxed)) {
            FastEnd end;
            cur = RunFast(unit, cur, prevOp, result, *root, end);
            if (end == FastEnd::kReturn) break;
            if (end == FastEnd::kBoundary) continue;
            if (!cur) break;
        }
        if (hooks.debugFuncHook && Reported(*cur, exact))
            hooks.debugFuncHook(unit, cur->index, cur->text.c_str(), cur->lineNo, unit->unitName.c_str(),
                                IsUserCall(cur), IsUserCall(prevOp));
        cur->prev = prevOp;
        if (exact) {
            if (cur->IsBreak()) main->SetPause(1);
            if (main->IsPaused()) main->WaitDebugStep();
        } else if (cur->IsBreak()) {
            main->SetPause(1);
            main->WaitDebugStep();
            exact = Watched(*unit, *main);
        }

        RunOne(*cur, ret);
        prevOp = cur;
        if (cur->kind == 'r') break;
        FireDueTimers(*root);
        cur = NextOp(cur, ret, exact);
    }
}

} // namespace

int32_t TagTelBasic::RunFunction(TagTelBasic* unit, TagTelBasic* callerUnit) {
    if (!unit) return -1;
    bool ready, exact;
    TagOper* cur = BeginBody(unit, callerUnit, ready, exact);
    if (!ready) return -1;
    bool took = false;
    RunBody(unit, cur, nullptr, took, false);
    EndBody(unit, took);
    return 0;
}

} // namespace zz
