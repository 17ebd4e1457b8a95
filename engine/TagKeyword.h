#pragma once
// The vocabulary of the script language: 24 statement heads, then every builtin, in a fixed ordinal order the
// compilers dispatch on. The same module holds the small line-scanning helpers the compilers share.
#include <cstdint>

namespace zz {

struct RecKeyword {
    char name[28];    // as written, with the "(" or ";" the syntax requires
    int32_t kind;     // character code: how the compiled operation is treated
    int32_t category; // 0 statements ... 9 shared memory and inter-line calls
    int32_t argCount; // -1: no argument list; 0: an empty one
    int32_t nameLen;  // filled at start
    uint16_t ordinal; // filled at start
};

class TagKeyword {
public:
    static constexpr int32_t kCount = 282;
    static constexpr int32_t kFirstBuiltin = 24;
    // Ordinals the compilers name directly.
    enum : int32_t {
        kElseIf = 0,
        kIf = 1,
        kElse = 2,
        kOpenBrace = 3,
        kCloseBrace = 4,
        kWhile = 5,
        kSwitch = 6,
        kCase = 7,
        kDefault = 8,
        kBreak = 9,
        kContinue = 10,
        kClose = 11,
        kFunction = 12,
        kReturn = 13,
        kInclude = 14,
        kFor = 15,
        kConst = 16
    };

    // Completes the static table: name lengths and ordinals.
    TagKeyword();

    // The statement head at the start of a line, or null; count receives the characters read.
    const RecKeyword* Match(const char* line, int32_t* count) const;
    // The builtin named exactly so (with its "("); statement heads are never found.
    const RecKeyword* Find(const char* name) const;
    const RecKeyword* At(int32_t ordinal) const;
    int32_t Count() const;

private:
    int32_t count_ = 0;
};

extern TagKeyword g_keyword;

// First position that is not a blank, "=" or tab.
const char* SkipLeadFiller(const char* s);
// Cuts trailing blanks, tabs and line feeds in place.
void TrimRight(char* s);
// Removes every blank and tab; the text ends at the first line feed.
void StripLineBlanks(char* s);
// True when only blanks and tabs stand before the end of the line or a "/" comment.
bool IsRestEmpty(const char* s);

} // namespace zz
