#pragma once
// Base64 with the standard alphabet and '=' padding, as the Unicode text builtins use it.
#include <cstdint>
#include <string>
#include <string_view>

namespace zz {

// Four characters per started group of three bytes: the output length (0 and an empty output for no input).
int32_t Base64Encode(std::string& out, std::string_view in);
// Three bytes per group of four characters; a character outside the alphabet, '=' included, counts as 0, so
// padding gives zero bytes. The output length, 0 for no input, -1 when the length is not a multiple of 4.
int32_t Base64Decode(std::string& out, std::string_view in);

} // namespace zz
