#include <gtest/gtest.h>

#include <cstring>

#include "data/TagLocalData.h"

using namespace zz;

namespace {

// A local result outside any pool, filled the way a back end fills it.
struct Filled {
    TagLocalData ld{nullptr, 4, "", "", "", ""};
    Filled() {
        ld.SetRows(2);
        ld.fields.AddField("Id", 4);
        ld.fields.AddField("Name", 6);
        ld.AllocRecords();
        ld.PutCell(0, 0, "1");
        ld.PutCell(0, 1, "张三");
        ld.PutCell(1, 0, "2");
        ld.PutCell(1, 1, "abcdef");
    }
};

} // namespace

TEST(LocalData, ReadsCellsByColumnAndName) {
    Filled f;
    char buf[kDbValueSize];
    EXPECT_EQ(f.ld.GetRows(), 2);
    EXPECT_EQ(f.ld.GetCols(), 2);
    // The result is the column's width, not the text's length.
    EXPECT_EQ(f.ld.GetVar(buf, 1, 1), 6);
    EXPECT_STREQ(buf, "张三");
    EXPECT_EQ(f.ld.GetVar(buf, 1, 2), 6);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(f.ld.GetVarByName(buf, "name", 2), 6);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(f.ld.GetFieldIndex("ID"), 0);
    EXPECT_EQ(f.ld.GetFieldName(1, buf), 1);
    EXPECT_STREQ(buf, "Name");
}

TEST(LocalData, OutOfRangeReadsFailWithEmptyBuffer) {
    Filled f;
    char buf[kDbValueSize];
    strcpy(buf, "junk");
    EXPECT_EQ(f.ld.GetVar(buf, -1, 1), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(f.ld.GetVar(buf, 2, 1), -1);
    EXPECT_EQ(f.ld.GetVar(buf, 0, 0), -2);
    EXPECT_EQ(f.ld.GetVar(buf, 0, 3), -2);
    EXPECT_EQ(f.ld.GetVarByName(buf, "nothing", 1), -1);
    EXPECT_EQ(f.ld.GetFieldName(2, buf), -1);
    EXPECT_EQ(f.ld.GetFieldIndex("nothing"), -1);
    EXPECT_EQ(f.ld.SetVar("x", 0, 1), 0);
    EXPECT_EQ(f.ld.SetVarByName("x", "Id", 1), 0);
    EXPECT_EQ(f.ld.GetVar(buf, 0, 1), 4);
    EXPECT_STREQ(buf, "1");
}

TEST(LocalData, CellsAreCutToTheirWidthWithoutSplittingCharacters) {
    TagLocalData ld(nullptr, 4, "", "", "", "");
    ld.SetRows(1);
    ld.fields.AddField("a", 3);
    ld.fields.AddField("b", 2);
    ASSERT_NE(ld.AllocRecords(), nullptr);
    EXPECT_EQ(ld.PutCell(0, 0, "甲乙"), 2);
    EXPECT_EQ(ld.PutCell(0, 1, "xyz"), 2);
    EXPECT_EQ(ld.PutCell(1, 0, "x"), -1);
    char buf[kDbValueSize];
    ld.GetVar(buf, 0, 1);
    EXPECT_STREQ(buf, "甲");
    ld.GetVar(buf, 1, 1);
    EXPECT_STREQ(buf, "xy"); // a full cell carries no terminator of its own
}

TEST(LocalData, WidthsAreClampedAndHugeBlocksRefused) {
    TagLocalData ld(nullptr, 4, "", "", "", "");
    EXPECT_EQ(ld.status, -1);
    // A LONGTEXT reports 4294967295: the width stays positive and within what a read can hand out.
    ld.fields.AddField("long", int64_t(4294967295u));
    ld.fields.AddField("neg", -5);
    ld.fields.AddField("wrapped", int64_t(int32_t(0xFFFFFFFFu)));
    EXPECT_EQ(ld.fields[0].size, TagFields::kMaxFieldSize);
    EXPECT_EQ(ld.fields[1].size, 0);
    EXPECT_EQ(ld.fields[2].size, 0);
    EXPECT_EQ(ld.fields.RecordSize(), TagFields::kMaxFieldSize);
    // rows x record size beyond 32 bits is computed whole and refused, not wrapped into a small block.
    for (int i = 0; i < 300; i++)
        ld.fields.AddField("f", 4095);
    ld.SetRows(1 << 20);
    EXPECT_GT(ld.RecordBytes(), int64_t(1) << 32);
    EXPECT_EQ(ld.AllocRecords(), nullptr);
    ld.ClearResult();
    EXPECT_EQ(ld.GetRows(), 0);
    EXPECT_EQ(ld.GetCols(), 0);
    EXPECT_EQ(ld.AllocRecords(), nullptr); // nothing to allocate
    ld.SetRows(1);
    ld.fields.AddField("x", 4);
    ASSERT_NE(ld.AllocRecords(), nullptr);
    EXPECT_EQ(ld.AllocRecords(), nullptr); // a block exists already
    int32_t w = 0;
    EXPECT_NE(ld.CellAddress(0, 0, &w), nullptr);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(ld.CellAddress(0, 1, &w), nullptr);
}

TEST(LocalData, LongCellReadsAreCutAtTheBuffer) {
    TagLocalData ld(nullptr, 4, "", "", "", "");
    ld.SetRows(1);
    ld.fields.AddField("big", 9000);
    ASSERT_NE(ld.AllocRecords(), nullptr);
    EXPECT_EQ(ld.PutCell(0, 0, std::string(9000, 'x')), 4095);
    char buf[kDbValueSize + 16];
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(ld.GetVar(buf, 0, 1), 4095);
    EXPECT_EQ(strlen(buf), 4095u);
    EXPECT_EQ(buf[kDbValueSize], 'Z');
}
