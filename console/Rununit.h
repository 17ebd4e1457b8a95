#pragma once
// The main window: the line grid, the status area (clock, start time, line counts, counters, monitor
// connections), the menus in Chinese or English, the tray icon with its alarm, and the debugger panel with a page
// per debugged line. Closing the window hides it in the tray; only Exit, the quit message, a signal or the
// desktop's session end stop the system, in order.
#include "console/ConsoleLoop.h"
#include "console/TagConsole.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <map>

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QTableView;

namespace zz {

class LineGridModel;
class DebugPageView;

class TForm1 : public QMainWindow, public ConsoleView {
public:
    // withTray false: no tray icon even where the desktop has one (tests).
    TForm1(TagConsole& console, bool withTray = true);
    ~TForm1() override;

    // All captions for the language.
    void SetLanguage(bool english);
    QAction* Item(const char* name) const;
    QLabel* PanelLabel(Panel p) const;
    QTableView* GridView() const { return grid_; }
    QTabWidget* Pages() const { return pagesTab_; }
    const QString& VersionText() const { return version_; }

    // ---- ConsoleView ----
    void PanelChanged(Panel p) override;
    void TrayChanged() override;
    void RemoveTray() override;
    void ShowWindow() override;
    void GridReset() override;
    bool Geometry(FormGeometry& g) override;
    void SetGeometry(const FormGeometry& g) override;
    void ScreenSize(int32_t& w, int32_t& h) override;
    void CloseWindow() override;
    void PostQuit() override;
    void Ticked() override;
    // Lines that run without what they need (a sound device) are told in one message box.
    void RunDone(int32_t result, const TagTelDrive::LoadReport& lines) override;

    // ---- Commands (the menus' handlers) ----
    void O1Click(); // open the window
    void N3Click(); // status area on or off
    void N6Click(); // open the configuration file
    void N7Click(); // open the run log
    void About1Click();
    void Hangup1Click();
    void N15Click(); // open a debugger page for the selected line
    void N16Click(); // close the current page
    void N17Click(); // close every page
    void N23Click(); // the call stack
    void N24Click(); // breakpoint
    void PopupMenu1Popup();

protected:
    void closeEvent(QCloseEvent* e) override;
    // A minimised window lives in the tray only.
    void changeEvent(QEvent* e) override;

private:
    QAction* AddItem(QMenu* menu, const char* name, std::function<void()> fn, const QKeySequence& key = {});
    void BuildMenus();
    void BuildPanels();
    void RedrawPage(int32_t line);
    void ShowDebugPanel(bool on);
    DebugPageView* CurrentPage() const;

    TagConsole& console_;
    bool withTray_;
    QString version_;
    LineGridModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
    QWidget* panel1_ = nullptr;
    QLabel* panels_[size_t(Panel::kCount)] = {};
    QWidget* debugPan_ = nullptr;
    QTabWidget* pagesTab_ = nullptr;
    QCheckBox* autoFlush_ = nullptr;
    QSplitter* split_ = nullptr;
    QMenu *file_ = nullptr, *oper_ = nullptr, *debug_ = nullptr, *help_ = nullptr, *popup_ = nullptr;
    std::map<std::string, QAction*> items_;
    std::map<std::string, QWidget*> buttons_;
    QSystemTrayIcon* tray_ = nullptr;
    bool statusShown_ = true;
};

} // namespace zz
