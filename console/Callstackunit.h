#pragma once
// The call stack of a paused script: the chain of running units, and the variables of the one clicked, sortable
// by number or name (each click on a title reverses the order).
#include "engine/Debugger.h"

#include <QDialog>

class QTreeWidget;
class QTableWidget;
class QLabel;

namespace zz {

class TagCtrlPages;

class TCallStackForm : public QDialog {
public:
    TCallStackForm(TagCtrlPages& pages, QWidget* parent = nullptr);
    // Fills the tree from the current page's last pause and shows the first unit: false when no function runs.
    bool Fill();

private:
    void ShowUnit(int index);
    void SortBy(int column);

    TagCtrlPages& pages_;
    std::vector<CallStackEntry> stack_;
    QTreeWidget* tree_;
    QTableWidget* grid_;
    QLabel* name_;
    int unit_ = -1;
    uint8_t byName_ = 0, descending_ = 0;
};

} // namespace zz
