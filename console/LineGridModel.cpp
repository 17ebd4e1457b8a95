#include "console/LineGridModel.h"

#include "console/GridCells.h"
#include "console/QtText.h"
#include "console/TagMonitor.h"
#include "telephony/LineKeys.h"
#include "telephony/TagTelDrive.h"

#include <QColor>

namespace zz {

namespace {

constexpr int32_t kKeysField = 3;

QColor ColorOf(uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

} // namespace

LineGridModel::LineGridModel(GridCells& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
    Sync();
}

int LineGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (rows_ > 0 ? rows_ - 1 : 0);
}

int LineGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant LineGridModel::data(const QModelIndex& index, int role) const {
    int32_t col = index.column(), row = index.row() + 1;
    if (role == Qt::DisplayRole) return Q(grid_.Cell(col, row));
    if (role != Qt::BackgroundRole && role != Qt::ForegroundRole) return {};
    // Nothing is coloured while the system closes or has no line manager.
    TagMonitor* m = GetMonitor();
    TagTelDrive* d = GetTelDrive();
    if (!m || !d || d->status != 0 || SystemClosing().load()) return {};
    int32_t line = (row - 1) * m->ColGroups() + col / TagLineRec::kFields;
    if (line >= m->LineCount()) return {};
    uint32_t fg = kLineColors[0], bg = kLineColors[15];
    if (col % TagLineRec::kFields < 5)
        m->GetStateColor(line, fg, bg);
    else
        m->GetColor(line, fg, bg);
    return role == Qt::BackgroundRole ? ColorOf(bg) : ColorOf(fg);
}

Qt::ItemFlags LineGridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    return index.isValid() && index.column() % TagLineRec::kFields == kKeysField ? f | Qt::ItemIsEditable : f;
}

bool LineGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TagMonitor* m = GetMonitor();
    if (role != Qt::EditRole || !m || !(flags(index) & Qt::ItemIsEditable)) return false;
    int32_t line = index.row() * m->ColGroups() + index.column() / TagLineRec::kFields;
    if (line >= m->LineCount()) return false;
    EnterLineKeys(line, G(value.toString()).c_str());
    emit dataChanged(index, index);
    return true;
}

QVariant LineGridModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (o == Qt::Horizontal) return Q(grid_.Cell(section, 0));
    return section + 1;
}

void LineGridModel::Sync() {
    uint64_t v = grid_.Version();
    int32_t rows = grid_.RowCount(), cols = grid_.ColCount();
    if (rows != rows_ || cols != cols_) {
        beginResetModel();
        rows_ = rows;
        cols_ = cols;
        endResetModel();
    } else if (v != version_ && rows_ > 1 && cols_ > 0) {
        emit dataChanged(index(0, 0), index(rows_ - 2, cols_ - 1));
        emit headerDataChanged(Qt::Horizontal, 0, cols_ - 1);
    }
    version_ = v;
}

} // namespace zz
