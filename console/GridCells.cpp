#include "console/GridCells.h"

namespace zz {

namespace {
constexpr int32_t kDefaultWidth = 64;
}

void GridCells::SetSize(int32_t cols, int32_t rows) {
    if (cols < 0) cols = 0;
    if (rows < 0) rows = 0;
    std::lock_guard<std::mutex> g(m_);
    std::vector<std::string> cells(size_t(cols) * size_t(rows));
    for (int32_t r = 0; r < rows && r < rows_; ++r)
        for (int32_t c = 0; c < cols && c < cols_; ++c)
            cells[size_t(r) * size_t(cols) + size_t(c)] = std::move(cells_[Index(c, r)]);
    cells_ = std::move(cells);
    widths_.resize(size_t(cols), kDefaultWidth);
    cols_ = cols;
    rows_ = rows;
    ++version_;
}

int32_t GridCells::ColCount() const {
    std::lock_guard<std::mutex> g(m_);
    return cols_;
}

int32_t GridCells::RowCount() const {
    std::lock_guard<std::mutex> g(m_);
    return rows_;
}

std::string GridCells::Cell(int32_t col, int32_t row) const {
    std::lock_guard<std::mutex> g(m_);
    return Inside(col, row) ? cells_[Index(col, row)] : std::string();
}

void GridCells::SetCell(int32_t col, int32_t row, const std::string& text) {
    std::lock_guard<std::mutex> g(m_);
    if (!Inside(col, row)) return;
    cells_[Index(col, row)] = text;
    ++version_;
}

int32_t GridCells::ColWidth(int32_t col) const {
    std::lock_guard<std::mutex> g(m_);
    return col >= 0 && col < cols_ ? widths_[size_t(col)] : 0;
}

void GridCells::SetColWidth(int32_t col, int32_t width) {
    std::lock_guard<std::mutex> g(m_);
    if (col < 0 || col >= cols_) return;
    widths_[size_t(col)] = width;
    ++version_;
}

void GridCells::SetVisible(int32_t topRow, int32_t rowCount, int32_t leftCol, int32_t colCount) {
    std::lock_guard<std::mutex> g(m_);
    top_ = topRow;
    visRows_ = rowCount;
    left_ = leftCol;
    visCols_ = colCount;
}

void GridCells::GetVisible(int32_t& topRow, int32_t& rowCount, int32_t& leftCol, int32_t& colCount) const {
    std::lock_guard<std::mutex> g(m_);
    topRow = top_;
    leftCol = left_;
    rowCount = visRows_ < 0 ? rows_ : visRows_;
    colCount = visCols_ < 0 ? cols_ : visCols_;
}

void GridCells::SetSelected(int32_t col, int32_t row) {
    std::lock_guard<std::mutex> g(m_);
    selCol_ = col;
    selRow_ = row;
}

void GridCells::GetSelected(int32_t& col, int32_t& row) const {
    std::lock_guard<std::mutex> g(m_);
    col = selCol_;
    row = selRow_;
}

uint64_t GridCells::Version() const {
    std::lock_guard<std::mutex> g(m_);
    return version_;
}

} // namespace zz
