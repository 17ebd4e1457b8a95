#pragma once
// Pieces of the statement compiler shared by its source files (CompileLine.cpp, CompileAssign.cpp,
// CompileStatement.cpp); not for use outside the compiler.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Gbk.h"

namespace zz {

class TagTelBasic;

namespace compiler {

// A left-to-right scan that steps over double-quoted strings (a backslash escapes the next byte) and over
// double-byte characters, whose second byte may look like a backslash or a quote.
struct QuoteScan {
    bool inStr = false;
    bool esc = false;
    // How many bytes at i belong to a string (its quotes included) or a double-byte character; 0 for a plain
    // byte outside strings, which the caller looks at.
    size_t Skip(std::string_view s, size_t i) {
        if (GbkCharLen(s, i) == 2) {
            esc = false;
            return 2;
        }
        const char c = s[i];
        if (inStr) {
            if (esc)
                esc = false;
            else if (c == '\\')
                esc = true;
            else if (c == '"')
                inStr = false;
            return 1;
        }
        if (c == '"') inStr = true;
        return inStr ? 1 : 0;
    }
};

// What the first symbols of a statement say it is.
enum class Shape { kStatement, kCall, kAssignedCall, kAssign, kDeclaration, kIncDec };

struct LineShape {
    Shape shape = Shape::kStatement;
    size_t afterEq = 0; // assigned call: where the call starts
};

LineShape ReadShape(std::string_view stmt);

// NAME++, ++NAME, NAME--, --NAME: 1 with the name and '+' or '-'; 0 when the text is not of this form; -1 when
// it is, but the name is not valid.
int32_t ParseIncDec(std::string_view text, std::string& name, char& op);

// The target before the first "=": its length, 0 without "=", -1 for a name that begins with a quote or a digit,
// -2 for an invalid name. hasSub tells whether a "[" split off the subscript text.
int32_t ParseAssignTarget(std::string_view text, std::string& name, std::string& sub, bool& hasSub);

// The text without blanks and tabs.
std::string WithoutBlanks(std::string_view s);

// Whether the parentheses of a control statement's head close: rest follows its opening "(" ('x == 2)' in
// 'if(x == 2)'); strings and double-byte characters are stepped over.
bool HeadCloses(std::string_view rest);

// The message of a negative argument-split result.
const char* SplitMessage(int32_t rc);

// Assignments, increments and constant declarations (steps of CompileLine): 0 or -1; declared is set for a
// declaration, which stores no operation.
int32_t CompileAssignment(TagTelBasic& prog, std::string& stmt, int32_t line, const LineShape& shape, int32_t headLen,
                          bool& declared);

// Everything that begins with a keyword or a call: 0 or -1; declared is set for function and #include lines.
int32_t CompileStatement(TagTelBasic& prog, std::string& stmt, int32_t line, bool& declared);

} // namespace compiler
} // namespace zz
