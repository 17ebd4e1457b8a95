#pragma once
// DbOpen type 0: one dBase table file. The only back end that writes values.
#include <memory>

#include "data/TagDataSet.h"
#include "data/TagDbf.h"

namespace zz {

class TagDbfData : public TagDataSet {
public:
    explicit TagDbfData(const char* fileName);
    ~TagDbfData() override;

    // Opens the table file named by sql (paths in the '\' form are mapped). 0, -5 or -7.
    int Exec(char* sql) override;
    int GetRows() override;
    int GetCols() override;
    int GetFieldName(int col, char* buf) override;
    int GetFieldIndex(const char* name) override;
    int GetVarByName(char* buf, const char* name, int row) override;
    int GetVar(char* buf, int col, int row) override;
    // Row -1 appends; 1 ... record count replaces. Row written or new record count, or negative.
    int SetVarByName(const char* value, const char* name, int row) override;
    int SetVar(const char* value, int col, int row) override;
    int Close() override;

private:
    bool Usable() const { return table && table->Status() == 0; }
    std::unique_ptr<TagDbf> table;
};

} // namespace zz
