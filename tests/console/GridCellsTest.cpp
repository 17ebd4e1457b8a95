#include "console/GridCells.h"

#include <gtest/gtest.h>

using namespace zz;

TEST(GridCells, ResizeKeepsWhatStillFitsAndIgnoresCellsOutside) {
    GridCells g;
    g.SetSize(3, 2);
    g.SetCell(2, 1, "c");
    g.SetCell(0, 0, "a");
    g.SetColWidth(1, 99);
    g.SetCell(3, 0, "outside");
    g.SetCell(-1, 0, "outside");
    EXPECT_EQ(g.Cell(3, 0), "");
    g.SetSize(2, 4);
    EXPECT_EQ(g.Cell(0, 0), "a");
    EXPECT_EQ(g.Cell(2, 1), "");
    EXPECT_EQ(g.ColWidth(1), 99);
    EXPECT_EQ(g.ColCount(), 2);
    EXPECT_EQ(g.RowCount(), 4);
}

TEST(GridCells, WithoutAViewTheWholeGridIsVisible) {
    GridCells g;
    g.SetSize(16, 5);
    int32_t top, rows, left, cols;
    g.GetVisible(top, rows, left, cols);
    EXPECT_EQ(top, 0);
    EXPECT_EQ(rows, 5);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(cols, 16);
    uint64_t v = g.Version();
    g.SetCell(1, 1, "x");
    EXPECT_GT(g.Version(), v);
}
