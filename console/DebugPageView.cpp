#include "console/DebugPageView.h"

#include "console/QtText.h"
#include "console/Unit2.h"
#include "console/Unit3.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>

namespace zz {

namespace {

constexpr int kIcon = 14;

// State images: 0 plain, 1 current statement, 2 breakpoint, 3 current with breakpoint.
QIcon StateIcon(int image) {
    static QIcon icons[4];
    if (icons[0].isNull()) {
        for (int i = 0; i < 4; ++i) {
            QPixmap pm(kIcon, kIcon);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            if (i & 2) {
                p.setBrush(Qt::red);
                p.setPen(Qt::NoPen);
                p.drawEllipse(2, 2, kIcon - 4, kIcon - 4);
            }
            if (i & 1) {
                p.setBrush(i & 2 ? Qt::yellow : Qt::blue);
                p.setPen(Qt::NoPen);
                const QPointF arrow[3] = {{3, 3}, {kIcon - 3.0, kIcon / 2.0}, {3, kIcon - 3.0}};
                p.drawPolygon(arrow, 3);
            }
            p.end();
            icons[i] = QIcon(pm);
        }
    }
    return icons[image & 3];
}

QTreeWidget* NewTree(QWidget* parent) {
    auto* t = new QTreeWidget(parent);
    t->setHeaderHidden(true);
    t->setRootIsDecorated(false);
    t->setIconSize(QSize(kIcon, kIcon));
    return t;
}

QTableWidget* NewGrid(QWidget* parent) {
    auto* g = new QTableWidget(0, 3, parent);
    g->verticalHeader()->hide();
    g->verticalHeader()->setDefaultSectionSize(18);
    return g;
}

} // namespace

DebugPageView::DebugPageView(int32_t line, TagCtrlPages& pages, QWidget* parent)
    : QWidget(parent), line_(line), pages_(pages) {
    auto* box = new QHBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* left = new QSplitter(Qt::Vertical, split);
    auto* right = new QSplitter(Qt::Vertical, split);
    mainTree_ = NewTree(left);
    mainGrid_ = NewGrid(left);
    funcTree_ = NewTree(right);
    funcGrid_ = NewGrid(right);
    mainTree_->setObjectName("MainTree");
    funcTree_->setObjectName("FuncTree");
    mainGrid_->setObjectName("MainVarGrid");
    funcGrid_->setObjectName("FuncVarGrid");
    // Listing two thirds of the height.
    left->setStretchFactor(0, 2);
    left->setStretchFactor(1, 1);
    right->setStretchFactor(0, 2);
    right->setStretchFactor(1, 1);
    box->addWidget(split);
    for (bool func : {false, true}) {
        QTreeWidget* tree = func ? funcTree_ : mainTree_;
        connect(tree, &QTreeWidget::itemClicked, this, [this, func](QTreeWidgetItem* i) { OnItemClicked(func, i); });
        connect(tree, &QTreeWidget::itemDoubleClicked, this,
                [this, func](QTreeWidgetItem* i) { OnItemDoubleClicked(func, i); });
        connect(tree, &QTreeWidget::itemSelectionChanged, this, [this, func] { lastFuncFocus_ = func; });
        QTableWidget* grid = func ? funcGrid_ : mainGrid_;
        connect(grid, &QTableWidget::cellDoubleClicked, this,
                [this, func](int row, int) { OnVarDoubleClicked(func, row); });
    }
    Redraw();
}

void DebugPageView::FillTree(QTreeWidget* tree, const std::vector<std::string>& rows,
                             const std::vector<uint8_t>& breaks, int32_t cur) {
    if (tree->topLevelItemCount() != int(rows.size())) {
        tree->clear();
        for (const std::string& r : rows) {
            std::string shown;
            for (char c : r)
                shown += c == '\t' ? std::string("    ") : std::string(1, c);
            tree->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(shown)}));
        }
    }
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        bool bp = size_t(i) < breaks.size() && breaks[size_t(i)];
        bool here = i == cur;
        item->setIcon(0, StateIcon((here ? 1 : 0) | (bp ? 2 : 0)));
        item->setForeground(0, here ? QBrush(Qt::blue) : bp ? QBrush(Qt::red) : QBrush());
    }
    if (cur >= 0 && cur < tree->topLevelItemCount()) tree->scrollToItem(tree->topLevelItem(cur));
}

void DebugPageView::FillGrid(QTableWidget* grid, const VarGridTable& t) {
    grid->setHorizontalHeaderLabels({Q(t.title[0]), Q(t.title[1]), Q(t.title[2])});
    grid->setRowCount(int(t.rows.size()));
    for (size_t r = 0; r < t.rows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            grid->setItem(int(r), c, new QTableWidgetItem(Q(t.rows[r][size_t(c)])));
}

void DebugPageView::Redraw() {
    TagPageState s;
    if (!pages_.State(line_, s)) return;
    FillTree(mainTree_, s.mainRows, s.mainBreaks, s.mainCur);
    FillTree(funcTree_, s.funcRows, s.funcBreaks, s.funcCur);
    FillGrid(mainGrid_, s.mainVars);
    FillGrid(funcGrid_, s.funcVars);
}

bool DebugPageView::FuncTreeFocused() const {
    if (funcTree_->hasFocus()) return true;
    if (mainTree_->hasFocus()) return false;
    return lastFuncFocus_;
}

int32_t DebugPageView::SelectedRow(bool funcTree) const {
    QTreeWidget* tree = funcTree ? funcTree_ : mainTree_;
    QTreeWidgetItem* item = tree->currentItem();
    return item ? tree->indexOfTopLevelItem(item) : -1;
}

void DebugPageView::OnItemClicked(bool funcTree, QTreeWidgetItem* item) {
    QTreeWidget* tree = funcTree ? funcTree_ : mainTree_;
    // A click on the state image toggles the statement's breakpoint.
    QPoint at = tree->viewport()->mapFromGlobal(QCursor::pos());
    if (at.x() - tree->visualItemRect(item).left() > kIcon + 4) return;
    pages_.ToggleBreak(funcTree, tree->indexOfTopLevelItem(item));
}

void DebugPageView::OnItemDoubleClicked(bool funcTree, QTreeWidgetItem* item) {
    QTreeWidget* tree = funcTree ? funcTree_ : mainTree_;
    std::string text = pages_.OperVars(funcTree, tree->indexOfTopLevelItem(item));
    if (text.empty()) return;
    auto* form = new TOperVarsForm(Q(text), this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->move(QCursor::pos());
    form->show();
}

void DebugPageView::OnVarDoubleClicked(bool funcTree, int row) {
    QTableWidget* grid = funcTree ? funcGrid_ : mainGrid_;
    QTableWidgetItem* item = grid->item(row, 0);
    if (!item) return;
    auto* view = new TVarViewForm(
        funcTree ? "Function Var Display" : "Mian Var Display",
        [this, funcTree](const std::string& n, std::string& k, std::string& v, std::string& note) {
            return pages_.LookupName(funcTree, n, k, v, note);
        },
        this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->Query(item->text());
    view->show();
}

} // namespace zz
