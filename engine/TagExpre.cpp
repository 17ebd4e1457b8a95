#include "engine/TagExpre.h"

namespace zz {

TagExpre::TagExpre(const std::vector<TagCalculate>& list) {
    kind = '=';
    pure = 1;
    steps.reserve(list.size());
    for (const TagCalculate& c : list)
        steps.push_back(c);
    stepCount = static_cast<int32_t>(steps.size());
    result = steps.empty() ? nullptr : steps.back().dest;
}

} // namespace zz
