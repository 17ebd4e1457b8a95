#pragma once
// Joining played prompts into one output WAV file, and 16-bit PCM WAV to A-law WAV conversion.
#include <cstdint>
#include <cstdio>
#include <string>

namespace zz {

// Appends the sound of inPath to out (open for reading and writing, binary) and keeps out's header right.
// Names ending in ".wav"/".WAV" are WAV pieces; anything else is appended byte for byte. 0, or -1 when the
// piece cannot be opened, its header does not hold, or out's header does not match out (logged).
int32_t JoinWavFiles(FILE* out, const std::string& inPath);

// 16-bit PCM WAV to 8-bit A-law WAV (46-byte header). 0; -1 input not opened; -2 bad input header or output
// not created; -3 input not 16-bit PCM (no output then). The output appears only when complete.
int32_t ConvertPcmWavToAlaw(const std::string& inPath, const std::string& outPath);

} // namespace zz
