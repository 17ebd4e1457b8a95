#pragma once
// The program object of one script unit: a main program or one user function. This is the part the
// expression machinery needs (symbol table, temporaries, name lookup, literal constants); the full program
// object with its compile driver, per-line tables and flags grows from here.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/TagVar.h"
#include "engine/Tokenize.h"
#include "engine/pvector.h"

namespace zz {

class TagTelBasic {
public:
    static constexpr int32_t kMaxParams = 40;
    // Positions of the system variables every unit starts with.
    static constexpr int32_t kTempVal = 0;
    static constexpr int32_t kRetVal = 1;

    // An empty main unit ("_main_") holding _tempVal and _retVal only.
    TagTelBasic();
    // A function unit of parent (may be null), as the statement compiler builds it.
    TagTelBasic(const char* fileName, const char* funcName, TagTelBasic* parent);
    virtual ~TagTelBasic();
    TagTelBasic(const TagTelBasic&) = delete;
    TagTelBasic& operator=(const TagTelBasic&) = delete;

    bool IsFunctionUnit() const { return parent != nullptr; }
    // The temporary-name counter: the main program's, shared with all its function units.
    int32_t* TempCounter() { return parent ? parent->TempCounter() : &tempCounter; }
    // "__m%d" with the counter, which is then raised by one.
    std::string NewTempName();

    // Lookups: index (or parameter slot) and the record, or -1 and null. Entries without a name are skipped.
    int32_t FindOwnVar(const char* name, TagVar** var);
    int32_t FindParam(const char* name, TagVar** var);
    // Own variables, then (function unit) parameters, then the parent's own variables.
    int32_t FindVar(const char* name, TagVar** var);
    // As FindVar; a missing name is appended as a read-write integer 0 with the given note.
    int32_t FindOrCreateVar(const char* name, TagVar** var, const char* note = nullptr);
    // A name is looked up (-1 when absent); a literal reuses an equal read-only value of the unit or becomes
    // a new one with the note "CONST"; -2 for anything else.
    int32_t ResolveOperand(const TagOperand& tok, TagVar** var);
    // Removes exactly this variable from the symbol table and destroys it; false when it is not in the table.
    bool DeleteVar(TagVar* var);

    TagVar* Var(int32_t i) const { return symbols.Get(i); }
    int32_t VarCount() const { return symbols.Count(); }
    TagVar* RetVal() const { return symbols.Get(kRetVal); }

    std::string unitName;
    std::string scriptFile;
    TagTelBasic* parent = nullptr;
    // Every variable and constant in creation order.
    pvector<TagVar> symbols;
    int32_t tempCounter = 0;
    // For a function unit: how many call sites in each unit call it.
    std::map<std::string, int32_t> callerNames;
    int32_t paramCount = 0;
    std::string paramNames[kMaxParams];
    TagVar paramValues[kMaxParams];

protected:
    TagVar* AppendVar();
    void CreateUnitVars();
};

} // namespace zz
