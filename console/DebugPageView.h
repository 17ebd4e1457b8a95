#pragma once
// One debugger page as widgets: the main flow's listing over its variables on the left, the functions' listing
// over the running function's variables on the right. It draws a TagPageState and reports clicks.
#include "console/DebugPages.h"

#include <QWidget>

class QTreeWidget;
class QTableWidget;
class QTreeWidgetItem;

namespace zz {

class DebugPageView : public QWidget {
public:
    DebugPageView(int32_t line, TagCtrlPages& pages, QWidget* parent = nullptr);
    int32_t Line() const { return line_; }
    // Redraws from the page's state.
    void Redraw();
    // The focused listing and its selected row (-1 none), for the breakpoint command.
    bool FuncTreeFocused() const;
    int32_t SelectedRow(bool funcTree) const;

private:
    void FillTree(QTreeWidget* tree, const std::vector<std::string>& rows, const std::vector<uint8_t>& breaks,
                  int32_t cur);
    static void FillGrid(QTableWidget* grid, const VarGridTable& t);
    void OnItemClicked(bool funcTree, QTreeWidgetItem* item);
    void OnItemDoubleClicked(bool funcTree, QTreeWidgetItem* item);
    void OnVarDoubleClicked(bool funcTree, int row);

    int32_t line_;
    TagCtrlPages& pages_;
    QTreeWidget *mainTree_, *funcTree_;
    QTableWidget *mainGrid_, *funcGrid_;
    bool lastFuncFocus_ = false;
};

} // namespace zz
