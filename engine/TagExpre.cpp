#include "engine/TagExpre.h"

namespace zz {

TagExpre::TagExpre(const std::vector<TagCalculate>& list) : steps(list) {
    kind = '=';
    stepCount = static_cast<int32_t>(steps.size());
    result = steps.empty() ? nullptr : steps.back().dest;
}

int32_t TagExpre::Run() {
    for (auto& s : steps)
        s.Run();
    return stepCount;
}

} // namespace zz
