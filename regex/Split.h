#pragma once
// Cutting a text at the matches of an expression, for the split builtin.
#include <string_view>
#include <vector>

#include "regex/CRegexpT.h"

namespace zz {

// The pieces between matches, searched left to right with a fresh search each time; a text without a match is one
// piece, a match at either end leaves an empty piece there. An empty match where the current piece begins is
// stepped over (a whole double-byte character at a time), so the split always advances and never cuts a GBK
// character in two.
std::vector<std::string_view> RegexSplit(const CRegexpT& re, std::string_view text);

} // namespace zz
