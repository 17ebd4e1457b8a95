#pragma once
// The trim rules of the string builtins, shared with the data sets and the console.
#include <cstdint>

namespace zz {

// Trim's rule on a text of len bytes, in place: leading blanks and tabs, trailing blanks, tabs and zero bytes
// go. Returns the new length plus one.
int32_t TrimText(char* text, int32_t len);
// Removes every blank and tab of a zero-terminated text, in place.
void StripBlanks(char* text);

} // namespace zz
