// The pool's built-in back ends: dBase tables and ADO sources.
#include <memory>

#include "data/TagDataSet.h"

namespace zz {

std::unique_ptr<TagDataSet> MakeDbfBackEnd(const char*, const char*, const char*, const char*) { return nullptr; }
std::unique_ptr<TagDataSet> MakeAdoBackEnd(const char*, const char*, const char*, const char*) { return nullptr; }

} // namespace zz
