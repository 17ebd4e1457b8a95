#include "engine/TagFlow.h"

#include <ctime>

namespace zz {

TagOper* TagEnd::Next() {
    if (!parent) return next;
    if (parent->kind != 'w') return parent->next;
    return parent;
}

TagOper* TagBreak::Next() {
    if (!match) return next;
    if (auto* loop = dynamic_cast<TagWhile*>(match)) loop->Restart();
    return match->next;
}

TagIf::TagIf(const std::vector<TagCalculate>& condSteps) : cond(std::make_unique<TagExpre>(condSteps)) {
    pure = 1;
}

int32_t TagIf::Run() {
    cond->Run();
    return 0;
}

TagOper* TagIf::Next() {
    if (CondTrue()) return thenOp;
    // Else-if conditions run only now, in source order, until one holds.
    for (TagIf* e : elseIfs) {
        e->cond->Run();
        if (e->CondTrue()) return e->thenOp;
    }
    return elseOp ? elseOp : next;
}

void TagIf::LinkBranches() {
    for (TagIf* e : elseIfs) {
        e->next = next;
        if (e->thenOp && e->thenOp->singleBody) e->thenOp->next = next;
    }
    if (thenOp && thenOp->singleBody) thenOp->next = next;
}

TagForWhile::TagForWhile(const std::vector<TagCalculate>& condSteps) : cond(std::make_unique<TagExpre>(condSteps)) {
    kind = 'w';
}

static std::unique_ptr<TagCalculate> MakeStep(TagVar* target, TagVar* left, char op, TagVar* right) {
    // "i = -j": a prefix operator on its one operand, as the plain statement runs it.
    if (!left && right) return std::make_unique<TagCalculate>(target, nullptr, right, op);
    return right ? std::make_unique<TagCalculate>(target, nullptr, left, op, right)
                 : std::make_unique<TagCalculate>(target, nullptr, left, op);
}

void TagForWhile::SetInit(TagVar* target, TagVar* left, char op, TagVar* right) {
    init = MakeStep(target, left, op, right);
}

void TagForWhile::SetStep(TagVar* target, TagVar* left, char op, TagVar* right) {
    step = MakeStep(target, left, op, right);
}

int32_t TagForWhile::Run() {
    if (FreshEntry()) firstRun = 1;
    if (firstRun) {
        firstRun = 0;
        if (init) init->Run();
    } else if (step) {
        step->Run();
    }
    cond->Run();
    return 0;
}

TagOper* TagForWhile::Next() {
    if (!CondTrue()) {
        Restart();
        return next;
    }
    return body;
}

int32_t TagForIn::Run() {
    if (FreshEntry()) firstRun = 1;
    if (firstRun) {
        firstRun = 0;
        pos = 0;
        count = -1;
        overString = 0;
        keys.clear();
        strSnap.clear();
        if (!objVar) return -1;
        if (objVar->type == TagVar::kString) {
            overString = 1;
            strSnap.assign(objVar->Str(), StrBytes(*objVar));
            count = static_cast<int32_t>(strSnap.size());
        } else if (objVar->type != TagVar::kObject) {
            return -1;
        } else {
            count = objVar->GetKeys(keys);
        }
        if (count < 1) {
            count = -1;
            return 0;
        }
    }
    if (pos < count && keyVar) {
        if (overString) {
            TagVar one;
            one.SetStrN(&strSnap[static_cast<size_t>(pos)], 1);
            *keyVar = std::move(one);
        } else {
            *keyVar = keys[static_cast<size_t>(pos)].key;
        }
    }
    ++pos;
    return 0;
}

TagOper* TagForIn::Next() {
    if (pos <= count) return body;
    Restart();
    return next;
}

TagOper* TagSwitch::Next() {
    if (value)
        for (int32_t i = 0; i < caseCount; ++i)
            if (values[static_cast<size_t>(i)] && TagVar::IsEqual(*value, *values[static_cast<size_t>(i)]))
                return targets[static_cast<size_t>(i)];
    return defaultOp ? defaultOp : next;
}

void TagSwitch::AddCase(TagVar* caseValue, TagOper* targetOp) {
    values.push_back(caseValue);
    targets.push_back(targetOp);
    ++caseCount;
}

int32_t TagSwitch::SetDefault(TagOper* op) {
    if (defaultOp) return -1;
    defaultOp = op;
    return 0;
}

int32_t TagTime::Run() {
    return static_cast<int32_t>(static_cast<int64_t>(std::time(nullptr)));
}

} // namespace zz
