#pragma once
// The Keys column of a line's row in the operator window: the operator types keys there for a sound-card line,
// whose script takes them from it. The console installs the column's reader and writer; until it does, every
// line's column reads empty.
#include <cstdint>
#include <functional>
#include <string>

namespace zz {

struct LineKeysCell {
    std::string (*get)(int32_t line) = nullptr;
    void (*set)(int32_t line, const char* text) = nullptr;
};
void SetLineKeysCell(const LineKeysCell& cell);

std::string GetLineKeys(int32_t line);
void SetLineKeys(int32_t line, const char* text);
// The operator typed keys for a line: they are appended to its column and the line is woken to look at them.
void TypeLineKeys(int32_t line, const char* keys);
// The operator edited the whole column: it holds the text now, and the line is woken to look at it.
void EnterLineKeys(int32_t line, const char* text);
// Takes the first count(column) characters of the column and leaves the rest there, under the lock that typing
// takes too, so that no key typed meanwhile is lost. Returns what was taken.
std::string TakeLineKeys(int32_t line, const std::function<size_t(const std::string& column)>& count);

} // namespace zz
