#pragma once
// The line's table of user-library function names declared with DllFunction: a family record of the line's
// main program. The compiler asks it (through the builtin host) whether a call names a declared function.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/TagLineState.h"

namespace zz {

class UserLibState final : public TagLineState {
public:
    static constexpr LineFamily kFamily = LineFamily::kUserLib;
    explicit UserLibState(TagTelBasic&) {}

    // Declares a function: 0, or -1 when the name is declared already (its first declaration stays).
    int32_t AddFuncName(const char* name, int32_t paramCount);
    // Index of a declared name or -1; paramCount receives its declared count.
    int32_t FindFuncName(const char* name, int32_t* paramCount) const;
    const std::vector<std::pair<std::string, int32_t>>& Names() const { return names_; }

private:
    std::vector<std::pair<std::string, int32_t>> names_;
};

} // namespace zz
