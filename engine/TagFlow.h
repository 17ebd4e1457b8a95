#pragma once
// Control-flow operations: braces, if chains, while/for and for-in loops, switch, break and continue.
#include <memory>
#include <vector>

#include "engine/TagCalculate.h"
#include "engine/TagExpre.h"
#include "engine/TagOper.h"

namespace zz {

// A condition's value as a truth: its integer conversion is not 0.
inline bool Truth(const TagVar& v) {
    return v.type == TagVar::kInt ? v.intVal != 0 : v.GetInt() != 0;
}

// "{", else and default labels: nothing to do.
class TagNull : public TagOper {
public:
    TagNull() {
        noOp = 1;
        pure = 1;
    }
    int32_t Run() override { return 0; }
};

class TagCase : public TagNull {
public:
    explicit TagCase(TagVar* value) : caseValue(value) {}
    TagVar* caseValue;
};

// "}": back to its loop, or on after the statement that owns the block.
class TagEnd : public TagOper {
public:
    TagEnd() {
        noOp = 1;
        pure = 1;
    }
    int32_t Run() override { return 0; }
    TagOper* Next() override;
};

class TagBreak : public TagOper {
public:
    TagBreak() { pure = 1; }
    int32_t Run() override { return 0; }
    TagOper* Next() override;
};

class TagContinue : public TagOper {
public:
    TagContinue() { pure = 1; }
    int32_t Run() override { return 0; }
    TagOper* Next() override { return match ? match : next; }
};

class TagIf : public TagOper {
public:
    explicit TagIf(const std::vector<TagCalculate>& condSteps);
    int32_t Run() override;
    TagOper* Next() override;
    void SetThen(TagOper* op) { thenOp = op; }
    void SetElse(TagOper* op) { elseOp = op; }
    void AddElseIf(TagIf* op) { elseIfs.push_back(op); }
    // After the compiler set next (the op after the whole chain): every branch end continues there.
    void LinkBranches();
    bool CondTrue() const { return cond->result && Truth(*cond->result); }

    TagOper* thenOp = nullptr;
    TagOper* elseOp = nullptr;
    std::unique_ptr<TagExpre> cond;
    std::vector<TagIf*> elseIfs; // ops of the unit, not owned
    TagIf* head = nullptr;
};

class TagWhile : public TagOper {
public:
    TagWhile() {
        kind = 'w';
        pure = 1;
    }
    void SetBody(TagOper* op) { body = op; }
    void Restart() { firstRun = 1; }

    TagOper* body = nullptr;
    uint8_t firstRun = 1;

protected:
    // The flow came from above (or from nowhere): a fresh entry.
    bool FreshEntry() const { return !prev || prev->index < index; }
};

class TagForWhile : public TagWhile {
public:
    explicit TagForWhile(const std::vector<TagCalculate>& condSteps);
    int32_t Run() override;
    TagOper* Next() override;
    void SetInit(TagVar* target, TagVar* left, char op, TagVar* right);
    void SetStep(TagVar* target, TagVar* left, char op, TagVar* right);

    // A loop without a condition runs until break, as in C.
    bool CondTrue() const { return cond->stepCount == 0 || (cond->result && Truth(*cond->result)); }

    std::unique_ptr<TagExpre> cond;
    std::unique_ptr<TagCalculate> init;
    std::unique_ptr<TagCalculate> step;
};

// Hands each key of an object, or each byte of a string, to the key variable. The keys (or the string) are
// copied at entry, so changes made by the body do not change the walk.
class TagForIn : public TagWhile {
public:
    TagForIn(TagVar* key, TagVar* obj) : keyVar(key), objVar(obj) {}
    int32_t Run() override;
    TagOper* Next() override;

    TagVar* keyVar;
    TagVar* objVar;
    int32_t count = -1;
    int32_t pos = 0;
    std::vector<TagKeyEntry> keys;
    std::string strSnap;
    uint8_t overString = 0;
};

class TagSwitch : public TagOper {
public:
    explicit TagSwitch(TagVar* v) : value(v) {
        kind = 's';
        pure = 1;
    }
    int32_t Run() override { return 0; }
    TagOper* Next() override;
    void AddCase(TagVar* caseValue, TagOper* targetOp);
    // 0, or -1 when a default is already set.
    int32_t SetDefault(TagOper* op);

    std::vector<TagOper*> targets;
    std::vector<TagVar*> values;
    int32_t caseCount = 0;
    TagVar* value;
    TagOper* defaultOp = nullptr;
};

class TagTime : public TagOper {
public:
    TagTime() { kind = 'g'; }
    // Seconds since 1970.
    int32_t Run() override;
};

} // namespace zz
