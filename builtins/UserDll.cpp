// User-DLL builtins.
#include "builtins/UserDll.h"

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"

namespace zz {

int32_t UserLibState::AddFuncName(const char* name, int32_t paramCount) {
    if (!name || FindFuncName(name, nullptr) >= 0) return -1;
    names_.emplace_back(name, paramCount);
    return 0;
}

int32_t UserLibState::FindFuncName(const char* name, int32_t* paramCount) const {
    if (!name) return -1;
    for (size_t i = 0; i < names_.size(); ++i) {
        if (names_[i].first == name) {
            if (paramCount) *paramCount = names_[i].second;
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

ZZ_BUILTIN_L(TagDllLoad, 2);
ZZ_BUILTIN_L(TagDllFree, 1);
ZZ_BUILTIN_L(TagDllFreeAll, 0);
namespace {
std::unique_ptr<TagOper> MakeDllFunction(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagDllFunction>(a[0], a[1], a[2], prog);
}
} // namespace

std::span<const BuiltinEntry> UserDllBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(216, TagDllLoad, 2),    // DllLoad
        {217, 3, &MakeDllFunction},      // DllFunction
        ZZ_ROW_L(218, TagDllFree, 1),    // DllFree
        ZZ_ROW_L(219, TagDllFreeAll, 0), // DllFreeAll
    };
    return rows;
}

} // namespace zz
