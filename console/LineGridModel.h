#pragma once
// The line grid as a Qt table: the cells of the console's GridCells (its row 0 is the header), coloured by the
// line status table's colour pairs.
#include <QAbstractTableModel>

#include <cstdint>

namespace zz {

class GridCells;

class LineGridModel : public QAbstractTableModel {
public:
    explicit LineGridModel(GridCells& grid, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // The Keys cells take what the operator types: the keys of a sound-card line.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // Takes what changed in the cells since the last call.
    void Sync();

private:
    GridCells& grid_;
    int32_t rows_ = 0, cols_ = 0;
    uint64_t version_ = 0;
};

} // namespace zz
