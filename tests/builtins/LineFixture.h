#pragma once
// A line's main program with one function unit, its line number and call object in the program's fields.
#include <memory>

#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"

namespace zz::test {

struct LineFixture {
    explicit LineFixture(int32_t line = 7, int8_t lineKind = kLineSip) {
        call.lineKind = lineKind;
        main.lineNo = line;
        main.pKvCall = &call;
        func.lineNo = line;
    }
    ~LineFixture() = default;
    LineFixture(const LineFixture&) = delete;
    LineFixture& operator=(const LineFixture&) = delete;

    TagKvCall call;
    TagTelBasic main;
    TagTelBasic func{"a.kvs", "f", &main};
};

} // namespace zz::test
