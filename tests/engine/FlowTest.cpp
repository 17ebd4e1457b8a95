// Operations and control flow, walked by a small run loop the way the real one calls them.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/TagFlow.h"
#include "engine/TagMapObject.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

namespace {

// Appends its label and the text of a variable to the trace.
class TagTrace : public TagOper {
public:
    TagTrace(std::vector<std::string>& out, std::string label, TagVar* v = nullptr)
        : out_(out), label_(std::move(label)), v_(v) {}
    int32_t Run() override {
        out_.push_back(v_ ? label_ + v_->ToString() : label_);
        return 0;
    }

private:
    std::vector<std::string>& out_;
    std::string label_;
    TagVar* v_;
};

// A unit's op list: indexes and next links in source order.
struct Prog {
    std::vector<std::unique_ptr<TagOper>> ops;
    std::vector<std::string> trace;
    std::vector<std::unique_ptr<TagVar>> vars;

    template <class T> T* Add(std::unique_ptr<T> op) {
        T* p = op.get();
        p->index = static_cast<int32_t>(ops.size());
        if (!ops.empty()) ops.back()->next = p;
        ops.push_back(std::move(op));
        return p;
    }
    TagTrace* Trace(std::string label, TagVar* v = nullptr) {
        return Add(std::make_unique<TagTrace>(trace, std::move(label), v));
    }
    TagNull* Open() { return Add(std::make_unique<TagNull>()); }
    TagEnd* Close(TagOper* parent) {
        auto* e = Add(std::make_unique<TagEnd>());
        e->parent = parent;
        return e;
    }
    TagVar* Var(TagVar v = TagVar()) {
        vars.push_back(std::make_unique<TagVar>(v));
        return vars.back().get();
    }
    // Runs from first, as the run loop does, with prev written before every Run.
    void Walk(TagOper* first, TagOper* prev = nullptr, int limit = 10000) {
        for (TagOper* cur = first; cur && limit-- > 0;) {
            cur->prev = prev;
            cur->EvalArgs();
            cur->Run();
            prev = cur;
            cur = cur->Next();
        }
        ASSERT_GT(limit, 0) << "endless flow";
    }
};

std::vector<TagCalculate> Cond(TagVar* tmp, TagVar* l, char op, TagVar* r) {
    return {TagCalculate(tmp, nullptr, l, op, r)};
}

using Trace = std::vector<std::string>;

} // namespace

TEST(TagForWhileFlow, ForRunsInitOnceThenStepAndConditionAfterEachPass) {
    Prog p;
    TagVar *i = p.Var(), *tmp = p.Var(), *zero = p.Var(Int(0)), *one = p.Var(Int(1)), *three = p.Var(Int(3));
    auto* loop = p.Add(std::make_unique<TagForWhile>(Cond(tmp, i, '<', three)));
    loop->SetInit(i, zero, 0, nullptr);
    loop->SetStep(i, i, '+', one);
    loop->SetBody(p.Open());
    p.Trace("i=", i);
    p.Close(loop);
    loop->next = p.Trace("after");
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"i=0", "i=1", "i=2", "after"}));
    // Entered again from above: init runs again.
    p.trace.clear();
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"i=0", "i=1", "i=2", "after"}));
}

TEST(TagForWhileFlow, WhileFalseAtEntrySkipsTheBodyAndStaysFresh) {
    Prog p;
    TagVar *tmp = p.Var(), *zero = p.Var(Int(0));
    auto* loop = p.Add(std::make_unique<TagForWhile>(std::vector<TagCalculate>{TagCalculate(tmp, nullptr, zero, 0)}));
    loop->SetBody(p.Open());
    p.Trace("body");
    p.Close(loop);
    loop->next = p.Trace("after");
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"after"}));
    EXPECT_EQ(loop->firstRun, 1);
}

TEST(TagForWhileFlow, ContinueRunsTheStepAndBreakLeavesSoTheNextEntryRunsInit) {
    Prog p;
    TagVar *i = p.Var(), *c1 = p.Var(), *c2 = p.Var(), *t = p.Var();
    TagVar *zero = p.Var(Int(0)), *one = p.Var(Int(1)), *three = p.Var(Int(3)), *five = p.Var(Int(5));
    auto* loop = p.Add(std::make_unique<TagForWhile>(Cond(t, i, '<', five)));
    loop->SetInit(i, zero, 0, nullptr);
    loop->SetStep(i, i, '+', one);
    loop->SetBody(p.Open());
    auto* ifCont = p.Add(std::make_unique<TagIf>(Cond(c1, i, '=', one)));
    auto* cont = p.Add(std::make_unique<TagContinue>());
    cont->match = loop;
    cont->singleBody = 1;
    auto* tr = p.Trace("i=", i);
    ifCont->SetThen(cont);
    ifCont->next = tr;
    ifCont->LinkBranches();
    auto* ifBreak = p.Add(std::make_unique<TagIf>(Cond(c2, i, '=', three)));
    auto* brk = p.Add(std::make_unique<TagBreak>());
    brk->match = loop;
    brk->singleBody = 1;
    auto* end = p.Close(loop);
    ifBreak->SetThen(brk);
    ifBreak->next = end;
    ifBreak->LinkBranches();
    loop->next = p.Trace("after");
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"i=0", "i=2", "i=3", "after"}));
    EXPECT_EQ(loop->firstRun, 1);
    // A loop left by a jump and re-entered from below runs the step, not init.
    loop->firstRun = 0;
    i->SetInt(3);
    p.trace.clear();
    p.Walk(loop, end);
    EXPECT_EQ(p.trace, (Trace{"i=4", "after"}));
}

TEST(TagIfFlow, ElseIfConditionsRunLazilyInOrder) {
    Prog p;
    TagVar *a = p.Var(Int(0)), *b = p.Var(Int(1)), *c = p.Var(Int(1));
    TagVar *ta = p.Var(), *tb = p.Var(), *tc = p.Var(Int(99));
    auto* head = p.Add(std::make_unique<TagIf>(std::vector<TagCalculate>{TagCalculate(ta, nullptr, a, 0)}));
    auto* thenA = p.Trace("A");
    thenA->singleBody = 1;
    auto* eb = p.Add(std::make_unique<TagIf>(std::vector<TagCalculate>{TagCalculate(tb, nullptr, b, 0)}));
    eb->kind = 'E';
    auto* thenB = p.Trace("B");
    thenB->singleBody = 1;
    auto* ec = p.Add(std::make_unique<TagIf>(std::vector<TagCalculate>{TagCalculate(tc, nullptr, c, 0)}));
    ec->kind = 'E';
    auto* thenC = p.Trace("C");
    thenC->singleBody = 1;
    auto* elseOp = p.Trace("D");
    elseOp->singleBody = 1;
    auto* after = p.Trace("after");
    for (TagIf* x : {head, eb, ec})
        x->head = x == head ? nullptr : head;
    head->SetThen(thenA);
    eb->SetThen(thenB);
    ec->SetThen(thenC);
    head->AddElseIf(eb);
    head->AddElseIf(ec);
    head->SetElse(elseOp);
    head->next = after;
    head->LinkBranches();
    elseOp->next = after;
    p.Walk(head);
    EXPECT_EQ(p.trace, (Trace{"B", "after"}));
    EXPECT_EQ(tc->intVal, 99); // c's condition never ran
    b->SetInt(0);
    c->SetInt(0);
    p.trace.clear();
    p.Walk(head);
    EXPECT_EQ(p.trace, (Trace{"D", "after"}));
}

TEST(TagForInFlow, WalksKeysInKindOrderAndStringsBytewise) {
    Prog p;
    TagVar *k = p.Var(), *obj = p.Var();
    (*obj)[Int(10)] = Int(0);
    (*obj)[Str("a")] = Int(0);
    (*obj)[Dbl(1.5)] = Int(0);
    (*obj)[Int(2)] = Int(0);
    auto* loop = p.Add(std::make_unique<TagForIn>(k, obj));
    loop->SetBody(p.Open());
    p.Trace("k=", k);
    p.Close(loop);
    loop->next = p.Trace("after");
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"k=2", "k=10", "k=a", "k=1.5", "after"}));
    *obj = Str("a\xB0\xA1");
    p.trace.clear();
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"k=a", "k=\xB0", "k=\xA1", "after"}));
}

TEST(TagForInFlow, EmptyObjectsEmptyStringsAndNumbersSkipTheBody) {
    Prog p;
    TagVar *k = p.Var(Int(7)), *obj = p.Var();
    (*obj)[Int(1)] = Int(0);
    g_mapObjects.RemoveItem(obj->ObjId(), Int(1));
    auto* loop = p.Add(std::make_unique<TagForIn>(k, obj));
    loop->SetBody(p.Open());
    p.Trace("body");
    p.Close(loop);
    loop->next = p.Trace("after");
    p.Walk(loop);
    *obj = Str("");
    p.Walk(loop);
    *obj = Int(5);
    loop->prev = nullptr;
    EXPECT_EQ(loop->Run(), -1);
    EXPECT_EQ(loop->Next(), loop->next);
    EXPECT_EQ(p.trace, (Trace{"after", "after"}));
    EXPECT_EQ(k->intVal, 7);
}

TEST(TagForInFlow, BodyChangingOrDroppingTheObjectDoesNotChangeTheWalk) {
    Prog p;
    TagVar *k = p.Var(), *obj = p.Var();
    for (int i = 0; i < 3; ++i)
        (*obj)[Int(i)] = Str("v");
    // The body adds keys and then drops the object altogether.
    class Mangle : public TagOper {
    public:
        explicit Mangle(TagVar* o) : o_(o) {}
        int32_t Run() override {
            if (o_->type == TagVar::kObject) {
                (*o_)[Int(100)] = Int(1);
                *o_ = TagVar();
            }
            return 0;
        }
        TagVar* o_;
    };
    auto* loop = p.Add(std::make_unique<TagForIn>(k, obj));
    loop->SetBody(p.Open());
    p.Add(std::make_unique<Mangle>(obj));
    p.Trace("k=", k);
    p.Close(loop);
    loop->next = p.Trace("after");
    p.Walk(loop);
    EXPECT_EQ(p.trace, (Trace{"k=0", "k=1", "k=2", "after"}));
}

TEST(TagSwitchFlow, NumericMatchFirstLabelWinsAndNoFallThrough) {
    Prog p;
    TagVar *v = p.Var(Str("5")), *five = p.Var(Int(5)), *six = p.Var(Int(6));
    auto* sw = p.Add(std::make_unique<TagSwitch>(v));
    p.Open();
    p.Add(std::make_unique<TagCase>(five));
    auto* b1 = p.Open();
    p.Trace("first");
    p.Close(sw);
    p.Add(std::make_unique<TagCase>(six));
    p.Add(std::make_unique<TagCase>(five));
    auto* b2 = p.Open();
    p.Trace("second");
    p.Close(sw);
    auto* def = p.Add(std::make_unique<TagNull>());
    auto* b3 = p.Open();
    p.Trace("default");
    p.Close(sw);
    p.Close(nullptr);
    auto* after = p.Trace("after");
    sw->AddCase(five, b1);
    sw->AddCase(six, b2);
    sw->AddCase(five, b2);
    EXPECT_EQ(sw->SetDefault(b3), 0);
    EXPECT_EQ(sw->SetDefault(def), -1);
    sw->next = after;
    p.Walk(sw);
    EXPECT_EQ(p.trace, (Trace{"first", "after"}));
    *v = Int(6);
    p.trace.clear();
    p.Walk(sw);
    EXPECT_EQ(p.trace, (Trace{"second", "after"}));
    *v = Str("x");
    p.trace.clear();
    p.Walk(sw);
    EXPECT_EQ(p.trace, (Trace{"default", "after"}));
}

TEST(TagOperBase, TargetStoresIntoTheVariableOrItsElement) {
    TagVar x, sub = Str("k"), out;
    TagVarRef ref;
    ref.Set(&x, &sub);
    ref.Store(Int(4));
    EXPECT_EQ(x.type, TagVar::kObject);
    ref.Load(out);
    EXPECT_EQ(out.intVal, 4);
    TagVarRef none;
    none.Store(Int(1)); // no variable: nothing
    ref.Set(&x, nullptr);
    ref.Store(Int(9));
    EXPECT_EQ(x.intVal, 9);
    EXPECT_EQ(g_mapObjects.Live() >= 0, true);
}

TEST(TagOperBase, SplitWordsListsNamesButNotLiteralsOrNumbers) {
    TagTime op;
    op.Init("x = a + b * \"str c\\\" d\" + 12 + y[k] - 1.5e3; z", "note", 7, 3, '=', nullptr);
    std::map<std::string, int32_t> words;
    EXPECT_EQ(op.SplitWords(words), 5);
    for (const char* w : {"x", "a", "b", "y", "k"})
        EXPECT_EQ(words.count(w), 1u) << w;
    EXPECT_EQ(op.lineNo, 7);
    EXPECT_EQ(op.index, 3);
    EXPECT_EQ(op.kind, '=');
}

TEST(TagOperBase, TimeIsSecondsSince1970AndArgumentExpressionsRunFirst) {
    TagTime op;
    int64_t now = std::time(nullptr);
    EXPECT_LE(std::abs(op.Run() - now), 2);
    TagVar tmp, one = Int(1), two = Int(2);
    op.args.emplace_back(new TagExpre({TagCalculate(&tmp, nullptr, &one, '+', &two)}));
    op.EvalArgs();
    EXPECT_EQ(tmp.intVal, 3);
    op.SetBreak(1);
    EXPECT_EQ(op.IsBreak(), 1);
}
