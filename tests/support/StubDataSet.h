#pragma once
// A data set that holds no result of its own: tests and benchmarks of the pool give it the ExecToLocal they need.
#include "data/TagDataSet.h"

namespace zz::test {

class StubDataSet : public TagDataSet {
public:
    int Exec(char*) override { return 0; }
    int GetRows() override { return 0; }
    int GetCols() override { return 0; }
    int GetFieldName(int, char* b) override { return b[0] = 0, -1; }
    int GetFieldIndex(const char*) override { return -1; }
    int GetVarByName(char* b, const char*, int) override { return b[0] = 0, -1; }
    int GetVar(char* b, int, int) override { return b[0] = 0, -1; }
    int Close() override { return 0; }
};

} // namespace zz::test
