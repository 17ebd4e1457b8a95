#pragma once
// Script pages: HTML with script blocks between "<%" and "%>", converted into an ordinary script. Every stretch
// of HTML becomes an element of an array and a Print of that element; every script block is copied as it stands;
// a fixed preamble fetches the page's request data from the line's shared memory.
#include <cstdint>
#include <string>

namespace zz {

class TagVar;

// Converts the page in inFile into the script outFile; the HTML stretches go to elements 0, 1, ... of chunks.
// 0, or -1 "Open error" (input not readable), -2 "Read error" (input empty), -3 "Open Out-File error", with the
// text in error.
int32_t ConvertPspPage(const char* inFile, const char* outFile, TagVar& chunks, std::string& error);

} // namespace zz
