#include "console/Rununit.h"

#include "console/Aboutunit.h"
#include "console/Callstackunit.h"
#include "console/DebugPageView.h"
#include "console/LineGridModel.h"
#include "console/QtText.h"
#include "console/TagMonitor.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace zz {

namespace {

// The tray's image list: 0 normal (green), 1 unused, 2 alarm (red).
QIcon TrayImage(int index) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(index == TagConsole::kTrayAlarm ? QColor(220, 30, 30) : QColor(30, 160, 60));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 28, 28);
    p.end();
    return QIcon(pm);
}

} // namespace

TForm1::TForm1(TagConsole& console, bool withTray) : console_(console), withTray_(withTray) {
    setObjectName("Form1");
    version_ = QString(TagConsole::kVersionLabel) + "-DeZiv";
    auto* central = new QWidget(this);
    auto* box = new QVBoxLayout(central);
    box->setContentsMargins(0, 0, 0, 0);
    split_ = new QSplitter(Qt::Vertical, central);
    grid_ = new QTableView(split_);
    grid_->setObjectName("LineGrid");
    model_ = new LineGridModel(console_.Grid(), this);
    grid_->setModel(model_);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(20);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Keys typed on a selected Keys cell go into it (the keys of a sound-card line).
    grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& i) { console_.Grid().SetSelected(i.column(), i.row() + 1); });

    debugPan_ = new QWidget(split_);
    debugPan_->setObjectName("DebugPan");
    auto* dbox = new QVBoxLayout(debugPan_);
    dbox->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    auto addButton = [&](const char* name, std::function<void()> fn) {
        auto* b = new QPushButton(debugPan_);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, std::move(fn));
        buttons->addWidget(b);
        buttons_[name] = b;
    };
    addButton("StepRunButton", [this] { console_.Pages().Step(); });
    addButton("RunButton", [this] { console_.Pages().Run(); });
    addButton("Button1", [this] { console_.Pages().Refresh(); });
    addButton("StopButton", [this] { N16Click(); });
    autoFlush_ = new QCheckBox(debugPan_);
    autoFlush_->setObjectName("MainAutoFlushCheck");
    connect(autoFlush_, &QCheckBox::toggled, this, [this](bool on) { console_.Pages().SetAutoRefresh(on); });
    buttons->addWidget(autoFlush_);
    buttons->addStretch();
    dbox->addLayout(buttons);
    pagesTab_ = new QTabWidget(debugPan_);
    pagesTab_->setObjectName("PageControl1");
    connect(pagesTab_, &QTabWidget::currentChanged, this, [this](int) {
        if (DebugPageView* v = CurrentPage()) console_.Pages().SetCurrent(v->Line());
    });
    dbox->addWidget(pagesTab_);
    debugPan_->hide();
    box->addWidget(split_);
    BuildPanels();
    box->addWidget(panel1_);
    setCentralWidget(central);
    BuildMenus();
    resize(900, 560);

    console_.Pages().SetListener([this](int32_t line) {
        QMetaObject::invokeMethod(
            this, [this, line] { RedrawPage(line); }, Qt::QueuedConnection);
    });
    if (withTray_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(popup_);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::Trigger) O1Click();
        });
    }
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { PostQuit(); });
}

TForm1::~TForm1() {
    console_.Pages().SetListener(nullptr);
}

void TForm1::BuildPanels() {
    panel1_ = new QWidget(this);
    panel1_->setObjectName("Panel1");
    auto* row = new QHBoxLayout(panel1_);
    row->setContentsMargins(4, 2, 4, 2);
    const char* names[] = {"TimerPanel", "InfoPanel", "LinePanel", "CountPanel", "MonConnPanel"};
    for (size_t i = 0; i < size_t(Panel::kCount); ++i) {
        panels_[i] = new QLabel(panel1_);
        panels_[i]->setObjectName(names[i]);
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        row->addWidget(panels_[i], i == size_t(Panel::Count) ? 2 : 1);
    }
}

QAction* TForm1::AddItem(QMenu* menu, const char* name, std::function<void()> fn, const QKeySequence& key) {
    auto* a = new QAction(this);
    a->setObjectName(name);
    if (!key.isEmpty()) {
        a->setShortcut(key);
        addAction(a); // shortcuts work while the menu bar is hidden too
    }
    connect(a, &QAction::triggered, this, std::move(fn));
    menu->addAction(a);
    items_[name] = a;
    return a;
}

void TForm1::BuildMenus() {
    file_ = menuBar()->addMenu("");
    oper_ = menuBar()->addMenu("");
    debug_ = menuBar()->addMenu("");
    help_ = menuBar()->addMenu("");
    debug_->menuAction()->setObjectName("D1");
    AddItem(file_, "N9", [this] { N6Click(); });
    AddItem(file_, "N10", [this] { N7Click(); });
    AddItem(file_, "X1", [this] { PostQuit(); });
    AddItem(oper_, "N12", [this] { console_.Reset(); })->setEnabled(false);
    AddItem(oper_, "N13", [this] { console_.Reload(); });
    AddItem(oper_, "N14", [this] { N3Click(); });
    AddItem(debug_, "N15", [this] { N15Click(); });
    AddItem(
        debug_, "N16", [this] { N16Click(); }, Qt::Key_F2);
    AddItem(debug_, "N17", [this] { N17Click(); });
    AddItem(
        debug_, "N18", [this] { console_.Pages().Step(); }, Qt::Key_F8);
    AddItem(
        debug_, "N19", [this] { console_.Pages().Run(); }, Qt::Key_F9);
    AddItem(
        debug_, "N20", [this] { console_.Pages().Refresh(); }, Qt::Key_F5);
    AddItem(
        debug_, "N23", [this] { N23Click(); }, Qt::Key_F4);
    AddItem(
        debug_, "N24", [this] { N24Click(); }, Qt::Key_F6);
    AddItem(help_, "About2", [this] { About1Click(); });

    popup_ = new QMenu(this);
    popup_->setObjectName("PopupMenu1");
    AddItem(popup_, "O1", [this] { O1Click(); });
    AddItem(popup_, "N1", [this] { console_.Reset(); })->setEnabled(false);
    AddItem(popup_, "L1", [this] { console_.Reload(); });
    AddItem(popup_, "N3", [this] { N3Click(); });
    AddItem(popup_, "N6", [this] { N6Click(); });
    AddItem(popup_, "N7", [this] { N7Click(); });
    AddItem(popup_, "OpenDebug1", [this] { N15Click(); });
    AddItem(popup_, "Hangup1", [this] { Hangup1Click(); });
    AddItem(popup_, "About1", [this] { About1Click(); });
    AddItem(popup_, "N2", [this] { PostQuit(); });
    connect(popup_, &QMenu::aboutToShow, this, [this] { PopupMenu1Popup(); });
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { popup_->popup(grid_->viewport()->mapToGlobal(at)); });
}

QAction* TForm1::Item(const char* name) const {
    auto it = items_.find(name);
    return it == items_.end() ? nullptr : it->second;
}

QLabel* TForm1::PanelLabel(Panel p) const {
    return panels_[size_t(p)];
}

void TForm1::SetLanguage(bool english) {
    struct Caption {
        const char *name, *zh, *en;
    };
    static const Caption kItems[] = {
        {"O1", "打开(&O)", "&Open"},
        {"N1", "复位(&R)", "&Reset"},
        {"L1", "重新加载(&L)", "Re&load"},
        {"N2", "退出(&X)", "E&xit"},
        {"N3", "隐藏状态区(&A)", "HideStatus&Area"},
        {"N6", "打开配置文件", "&Configure"},
        {"N7", "查看运行日志", "View&Log"},
        {"OpenDebug1", "打开调试页...", "Open Page..."},
        {"Hangup1", "挂机", "Hangup"},
        {"About1", "关于...", "About..."},
        {"N9", "打开配置文件", "&Configure"},
        {"N10", "查看运行日志", "View&Log"},
        {"X1", "退出(&X)", "E&xit"},
        {"N12", "复位(&R)", "&Reset"},
        {"N13", "重新加载(&L)", "Re&load"},
        {"N14", "隐藏状态区(&A)", "HideStatus&Area"},
        {"N15", "打开调试页...", "Open Page..."},
        {"N16", "关闭调试页", "Close Page"},
        {"N17", "关闭全部调试页", "Close All"},
        {"N18", "单步", "Step"},
        {"N19", "运行", "Run"},
        {"N20", "刷新", "Flush"},
        {"N23", "调用栈...", "Call Stack..."},
        {"N24", "断点", "Breakpoint"},
        {"About2", "关于...", "About..."},
    };
    for (const Caption& c : kItems)
        if (QAction* a = Item(c.name)) a->setText(U(english ? c.en : c.zh));
    file_->setTitle(U(english ? "&File" : "文件(&F)"));
    oper_->setTitle(U(english ? "&Operation" : "操作(&O)"));
    debug_->setTitle(U(english ? "&Debug" : "调试(&D)"));
    help_->setTitle(U(english ? "&Help" : "帮助(&H)"));
    static const Caption kButtons[] = {{"StepRunButton", "单步(F8)", "Step(F8)"},
                                       {"RunButton", "运行(F9)", "Run(F9)"},
                                       {"Button1", "刷新(F5)", "Flush(F5)"},
                                       {"StopButton", "关闭(F2)", "ClosePage(F2)"}};
    for (const Caption& c : kButtons)
        static_cast<QPushButton*>(buttons_[c.name])->setText(U(english ? c.en : c.zh));
    autoFlush_->setText(U(english ? "&Auto Flush" : "自动刷新(&A)"));
    bool debug = RunCfg().dispSentence == 1;
    debug_->setEnabled(debug);
    Item("OpenDebug1")->setEnabled(debug);
    QString caption = Q(console_.Caption());
    setWindowTitle(caption);
    QApplication::setApplicationDisplayName(caption);
    if (tray_) tray_->setToolTip(caption);
}

// ---- ConsoleView

void TForm1::PanelChanged(Panel p) {
    QMetaObject::invokeMethod(
        this, [this, p] { panels_[size_t(p)]->setText(Q(console_.PanelText(p))); }, Qt::AutoConnection);
}

void TForm1::TrayChanged() {
    if (!tray_) return;
    tray_->setIcon(TrayImage(console_.TrayImage()));
    tray_->setToolTip(Q(console_.TrayHint()));
    tray_->show();
}

void TForm1::RemoveTray() {
    if (tray_) tray_->hide();
}

void TForm1::ShowWindow() {
    O1Click();
}

void TForm1::GridReset() {
    model_->Sync();
    // A Status column is never narrower than its longest text (a talk time up to 99:59), whatever width the
    // defaults or FormPos.dat give it.
    int32_t status = 0;
    for (const QString& t : {QStringLiteral(u"Running"), QStringLiteral(u"InitErr"), QStringLiteral(u"Conn 99:59"),
                             QStringLiteral(u"\u8fde\u901a 99:59"), QStringLiteral(u"\u52a0\u8f7d\u4e0d\u6210\u529f"),
                             QStringLiteral(u"\u521d\u59cb\u5316\u5931\u8d25")})
        status = std::max(status, int32_t(grid_->fontMetrics().horizontalAdvance(t)));
    status += 2 * grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 8;
    for (int32_t c = 0; c < console_.Grid().ColCount(); ++c) {
        int32_t w = console_.Grid().ColWidth(c);
        if (c % TagLineRec::kFields == 2 && w < status) w = status;
        grid_->setColumnWidth(c, w);
    }
}

bool TForm1::Geometry(FormGeometry& g) {
    g.x = x();
    g.y = y();
    g.width = width();
    g.height = height();
    for (int i = 0; i < FormGeometry::kCols; ++i)
        g.colWidth[i] = i < model_->columnCount() ? grid_->columnWidth(i) : console_.Grid().ColWidth(i);
    return true;
}

void TForm1::SetGeometry(const FormGeometry& g) {
    move(g.x, g.y);
    if (g.width > 0 && g.height > 0) resize(g.width, g.height);
}

void TForm1::ScreenSize(int32_t& w, int32_t& h) {
    QRect r = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect(0, 0, 1024, 768);
    w = r.width();
    h = r.height();
}

void TForm1::CloseWindow() {
    close();
    QApplication::exit(0);
}

void TForm1::PostQuit() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            RawLog("WMKvSysQuit()!");
            console_.Shutdown();
        },
        Qt::QueuedConnection);
}

void TForm1::RunDone(int32_t result, const TagTelDrive::LoadReport& lines) {
    if (result < 0 || lines.warnings.empty()) return;
    std::string text = lines.warnings;
    text.pop_back(); // the last line's end
    ShowMessage(text, "Karvelian System");
}

void TForm1::Ticked() {
    model_->Sync();
    // The part of the grid in view, for the next tick's copy of changed fields.
    int top = grid_->rowAt(0), bottom = grid_->rowAt(grid_->viewport()->height() - 1);
    int left = grid_->columnAt(0), right = grid_->columnAt(grid_->viewport()->width() - 1);
    if (top < 0) return;
    if (bottom < 0) bottom = model_->rowCount() - 1;
    if (right < 0) right = model_->columnCount() - 1;
    console_.Grid().SetVisible(top + 1, bottom - top + 1, left < 0 ? 0 : left, right - (left < 0 ? 0 : left) + 1);
}

// ---- Commands

void TForm1::closeEvent(QCloseEvent* e) {
    if (console_.ShutdownStarted()) {
        RawLog("Action = caFree;");
        e->accept();
        return;
    }
    // The close button keeps the system running in the tray (or, without a tray, hidden until "Show").
    hide();
    e->ignore();
}

void TForm1::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized() && tray_)
        QMetaObject::invokeMethod(
            this, [this] { hide(); }, Qt::QueuedConnection);
}

void TForm1::O1Click() {
    showNormal();
    raise();
    activateWindow();
}

void TForm1::N3Click() {
    statusShown_ = !statusShown_;
    panel1_->setVisible(statusShown_);
    menuBar()->setVisible(statusShown_);
    bool english = console_.English();
    const char* text = statusShown_ ? (english ? "HideStatus&Area" : "隐藏状态区(&A)")
                                    : (english ? "DispStatus&Area" : "显示状态区(&A)");
    Item("N3")->setText(U(text));
}

void TForm1::N6Click() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(console_.CfgFile())));
}

void TForm1::N7Click() {
    std::string log = console_.LogFileName();
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(log.empty() ? RunCfg().logFile : log)));
}

void TForm1::About1Click() {
    TAboutForm about(version_, this);
    about.exec();
}

void TForm1::Hangup1Click() {
    console_.HangupSelected();
}

void TForm1::PopupMenu1Popup() {
    if (RunCfg().dispSentence != 1) return;
    TagMonitor* m = console_.Monitor();
    Item("OpenDebug1")->setEnabled(m && console_.CanOpenDebug(m->SelectedLine()));
}

void TForm1::ShowDebugPanel(bool on) {
    debugPan_->setVisible(on);
}

DebugPageView* TForm1::CurrentPage() const {
    return dynamic_cast<DebugPageView*>(pagesTab_->currentWidget());
}

void TForm1::N15Click() {
    TagMonitor* m = console_.Monitor();
    int32_t line = m ? m->SelectedLine() : -1;
    if (!console_.CanOpenDebug(line)) return;
    ShowDebugPanel(true);
    if (!console_.Pages().Open(line)) return;
    console_.Pages().SetAutoRefresh(autoFlush_->isChecked());
    auto* view = new DebugPageView(line, console_.Pages(), pagesTab_);
    pagesTab_->setCurrentIndex(pagesTab_->addTab(view, QString::number(line)));
}

void TForm1::N16Click() {
    autoFlush_->setChecked(false);
    if (DebugPageView* v = CurrentPage()) console_.Pages().Close(v->Line());
}

void TForm1::N17Click() {
    console_.Pages().CloseAll();
    ShowDebugPanel(false);
}

void TForm1::N23Click() {
    auto* form = new TCallStackForm(console_.Pages(), this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (!form->Fill()) {
        delete form;
        return;
    }
    form->show();
}

void TForm1::N24Click() {
    DebugPageView* v = CurrentPage();
    if (!v) return;
    bool func = v->FuncTreeFocused();
    console_.Pages().ToggleBreak(func, v->SelectedRow(func));
}

void TForm1::RedrawPage(int32_t line) {
    for (int i = 0; i < pagesTab_->count(); ++i) {
        auto* v = dynamic_cast<DebugPageView*>(pagesTab_->widget(i));
        if (!v || v->Line() != line) continue;
        if (console_.Pages().HasPage(line)) {
            v->Redraw();
        } else {
            pagesTab_->removeTab(i);
            delete v;
        }
        break;
    }
    if (pagesTab_->count() == 0) ShowDebugPanel(false);
}

int RunConsoleWindow(int argc, char** argv, TagConsole& console, const ConsoleStart& start, bool withTray) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TForm1 form(console, withTray);
    console.SetView(&form);
    SetMessageSink([&form](const std::string& text, const std::string& caption) {
        WriteRunLogAlways((caption + ": " + text).c_str());
        QMetaObject::invokeMethod(
            &form,
            [&form, text, caption] {
                auto* box = new QMessageBox(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Ok, &form);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->show();
            },
            Qt::QueuedConnection);
    });
    ConsoleLoop loop(console, form);
    int32_t status = loop.Start(start);
    form.SetLanguage(console.English());
    // Without a tray the window is the only way in, so it shows whatever IS_SHOW_FORM says.
    if (RunCfg().showForm || !QSystemTrayIcon::isSystemTrayAvailable() || !withTray) form.show();
    if (status >= 0) std::fputs(ConsoleLoop::StartLine(console).c_str(), stderr);
    int code = app.exec();
    console.SetView(nullptr);
    SetMessageSink(nullptr);
    return code;
}

} // namespace zz
