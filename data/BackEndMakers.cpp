// The pool's built-in back ends: dBase tables and ADO sources.
#include <memory>

#include "data/TagAdoData.h"
#include "data/TagDataSet.h"
#include "data/TagDbfData.h"

namespace zz {

std::unique_ptr<TagDataSet> MakeDbfBackEnd(const char* a1, const char*, const char*, const char*) {
    return std::make_unique<TagDbfData>(a1);
}

std::unique_ptr<TagDataSet> MakeAdoBackEnd(const char* a1, const char*, const char*, const char* a4) {
    return std::make_unique<TagAdoData>(a1, a4 ? a4 : "");
}

} // namespace zz
