#pragma once
// Expressions: the compiled form (an ordered list of calculation steps whose last writes the result) and the
// compiler that turns an expression text into those steps.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/TagCalculate.h"

namespace zz {

class TagTelBasic;

class TagExpre final : public TagOper {
public:
    explicit TagExpre(const std::vector<TagCalculate>& list);
    // Runs every step once, in order; returns the number of steps (the value is in result).
    int32_t Run() override {
        for (const CalcStep& s : steps)
            s.Exec();
        return stepCount;
    }

    std::vector<CalcStep> steps;
    TagVar* result = nullptr;
    int32_t stepCount = 0;
};

struct TagToken {
    enum : int32_t { kOperator = 1, kOperand = 2 };
    std::string text;
    int32_t kind = kOperand;
};

class TagComplexExpre {
public:
    // Compiles text into steps whose last one writes targetName (created with note when missing) at
    // targetSub. err is empty on success; warn collects warnings.
    TagComplexExpre(const char* text, TagTelBasic* unit, const char* targetName, TagVar* targetSub, const char* note,
                    std::vector<TagCalculate>& steps, std::string& err, std::string& warn);
    // Tokenizer only: tokens and plusOnly are valid afterwards.
    explicit TagComplexExpre(const char* text);

    // Token count, 0 for an empty text, -1 when the text cannot be split.
    int32_t TokenResult() const { return tokenResult_; }

    std::vector<TagToken> tokens;
    int32_t pos = -1;
    std::string cur;
    int32_t curKind = 0;
    int32_t* counter = nullptr;
    TagTelBasic* unit = nullptr;
    std::vector<TagCalculate>* steps = nullptr;
    std::string* err = nullptr;
    std::string* warn = nullptr;
    int32_t parenDepth = 0;
    int32_t bracketDepth = 0;
    uint8_t plusOnly = 0;

private:
    int32_t Tokenize(const char* text, std::string* warnOut);
    bool CheckTokens();
    void Advance();
    std::string ParseLogic();
    std::string ParseBits();
    std::string ParseCompare();
    std::string ParseShift();
    std::string ParseSum();
    std::string ParseProduct();
    std::string ParsePrefix();
    std::string ParseSubscript();
    std::string ParsePrimary();
    std::string EmitBinary(const std::string& left, const std::string& opText, const std::string& right);
    std::string EmitPrefix(const std::string& opText, const std::string& operand);
    bool BuildStep(const std::string& targetName, TagVar* targetSub, const std::string& stepText, const char* note,
                   TagCalculate& out);
    void Finish(const std::string& result, const char* targetName, TagVar* targetSub, const char* note);

    int32_t tokenResult_ = 0;
    std::vector<TagVar*> temps_; // temporaries this compilation created
};

} // namespace zz
