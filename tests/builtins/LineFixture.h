#pragma once
// A line's main program with one function unit, its line number and call object in the program side table.
#include <memory>

#include "builtins/ProgramAccess.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"

namespace zz::test {

struct LineFixture {
    explicit LineFixture(int32_t line = 7, int8_t lineKind = kLineSip) {
        call.lineKind = lineKind;
        ProgramLineState& s = LineStateOf(&main);
        s.lineNo = line;
        s.call = &call;
    }
    ~LineFixture() {
        ForgetProgram(&func);
        ForgetProgram(&main);
    }
    LineFixture(const LineFixture&) = delete;
    LineFixture& operator=(const LineFixture&) = delete;

    TagKvCall call;
    TagTelBasic main;
    TagTelBasic func{"a.kvs", "f", &main};
};

} // namespace zz::test
