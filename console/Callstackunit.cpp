#include "console/Callstackunit.h"

#include "console/DebugPages.h"
#include "console/QtText.h"
#include "console/Unit2.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zz {

TCallStackForm::TCallStackForm(TagCtrlPages& pages, QWidget* parent) : QDialog(parent), pages_(pages) {
    setObjectName("CallStackForm");
    setWindowTitle("Call Stack");
    auto* box = new QVBoxLayout(this);
    name_ = new QLabel(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    tree_ = new QTreeWidget(split);
    tree_->setHeaderHidden(true);
    grid_ = new QTableWidget(0, 4, split);
    grid_->verticalHeader()->hide();
    box->addWidget(name_);
    box->addWidget(split);
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowUnit(tree_->indexOfTopLevelItem(item)); });
    connect(grid_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
    connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        QTableWidgetItem* item = grid_->item(row, 1);
        if (!item) return;
        bool inFunc = unit_ == 0;
        auto* view = new TVarViewForm(
            U("函数内变量查询"),
            [this, inFunc](const std::string& n, std::string& k, std::string& v, std::string& note) {
                return pages_.LookupName(inFunc, n, k, v, note);
            },
            this);
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->Query(item->text());
        view->show();
    });
}

bool TCallStackForm::Fill() {
    tree_->clear();
    if (!pages_.CallStack(stack_)) return false;
    for (const CallStackEntry& e : stack_)
        tree_->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(e.name)}));
    tree_->setCurrentItem(tree_->topLevelItem(0));
    ShowUnit(0);
    return true;
}

void TCallStackForm::ShowUnit(int index) {
    if (index < 0 || size_t(index) >= stack_.size()) return;
    unit_ = index;
    name_->setText(Q(stack_[size_t(index)].name));
    VarGridTable t;
    pages_.UnitVars(stack_[size_t(index)].unit, byName_, descending_, t);
    QString arrow = U(descending_ ? "↓" : "↑");
    QString no = byName_ ? "No." : "No" + arrow;
    QString name = byName_ ? "Name" + arrow : "Name";
    grid_->setHorizontalHeaderLabels({no, name, "Value", "Note"});
    grid_->setRowCount(int(t.rows.size()));
    for (size_t r = 0; r < t.rows.size(); ++r) {
        grid_->setItem(int(r), 0, new QTableWidgetItem(QString::number(r + 1)));
        for (int c = 0; c < 3; ++c)
            grid_->setItem(int(r), c + 1, new QTableWidgetItem(Q(t.rows[r][size_t(c)])));
    }
}

void TCallStackForm::SortBy(int column) {
    if (column > 1) return;
    uint8_t name = column == 1 ? 1 : 0;
    descending_ = name == byName_ ? !descending_ : 0;
    byName_ = name;
    ShowUnit(unit_);
}

} // namespace zz
