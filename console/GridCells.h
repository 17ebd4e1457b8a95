#pragma once
// The line grid's cells without any widget: the status table writes texts here, the console's view shows them
// and reports which part of the grid is visible and which cell is selected. Any thread may call it.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zz {

class GridCells {
public:
    // Resizes, keeping the texts and widths that still fit.
    void SetSize(int32_t cols, int32_t rows);
    int32_t ColCount() const;
    int32_t RowCount() const;

    // Out-of-range cells read empty and ignore writes.
    std::string Cell(int32_t col, int32_t row) const;
    void SetCell(int32_t col, int32_t row, const std::string& text);

    int32_t ColWidth(int32_t col) const;
    void SetColWidth(int32_t col, int32_t width);

    // The part the view shows; until a view sets it, the whole grid counts as visible.
    void SetVisible(int32_t topRow, int32_t rowCount, int32_t leftCol, int32_t colCount);
    void GetVisible(int32_t& topRow, int32_t& rowCount, int32_t& leftCol, int32_t& colCount) const;

    void SetSelected(int32_t col, int32_t row);
    void GetSelected(int32_t& col, int32_t& row) const;

    // Grows on every change, so a view redraws only when something moved.
    uint64_t Version() const;

private:
    size_t Index(int32_t col, int32_t row) const { return size_t(row) * size_t(cols_) + size_t(col); }
    bool Inside(int32_t col, int32_t row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }

    mutable std::mutex m_;
    int32_t cols_ = 0, rows_ = 0;
    std::vector<std::string> cells_;
    std::vector<int32_t> widths_;
    int32_t top_ = 0, visRows_ = -1, left_ = 0, visCols_ = -1;
    int32_t selCol_ = -1, selRow_ = -1;
    uint64_t version_ = 0;
};

} // namespace zz
