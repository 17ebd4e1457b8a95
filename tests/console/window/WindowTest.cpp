// The operator window on Qt's offscreen platform: captions in both languages, the menus' shortcuts, the grid
// with its colours and the status area, the close button, and the orderly shutdown. Each test leaves a
// screenshot of the window beside the test's build folder and names it in the output.
#include "console/LineGridModel.h"
#include "console/Rununit.h"
#include "console/TagConsole.h"
#include "console/TagMonitor.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "telephony/LineKeys.h"
#include "tests/support/TestDir.h"
#include "tests/telephony/lines/LineFakes.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <thread>

using namespace zz;
using namespace zz::test;

namespace {

std::filesystem::path g_shots;

class Window : public ::testing::Test {
protected:
    Window() : dir_("window") {
        saved_ = RunCfg();
        SetLinePrograms(&programs_);
        SetLineDisplay({SetLineState, DispScriptFile});
        SetMessageStderr(false);
        SetConsole(&console_);
    }
    ~Window() override {
        console_.Shutdown();
        QApplication::processEvents();
        console_.SetView(nullptr);
        SetConsole(nullptr);
        SetMessageStderr(true);
        SetLineDisplay({});
        SetLinePrograms(nullptr);
        SetDriverMakers({});
        RunCfg() = saved_;
    }
    void Start(const std::string& cfgText) {
        DriverMakers makers;
        makers.vir = [](TagRunCfg*) { return std::make_unique<FakeCard>(3, "VirtualLine", 0); };
        SetDriverMakers(makers);
        TestDir::Write("ZuZodRun.cfg", "LOAD_DELAY=5\n" + cfgText);
        TagRunCfg::ReadCfgFile("ZuZodRun.cfg", &RunCfg());
        form_ = std::make_unique<TForm1>(console_, false);
        console_.SetView(form_.get());
        ASSERT_EQ(console_.Start("ZuZodRun.cfg"), 0);
        form_->SetLanguage(console_.English());
        form_->show();
        // The display does nothing until the main run thread has let the lines run.
        while (SystemClosing().load())
            std::this_thread::yield();
        console_.Tick();
        QApplication::processEvents();
    }
    QString Cell(int row, int col) { return form_->GridView()->model()->index(row, col).data().toString(); }
    void Screenshot(const char* name) {
        std::filesystem::path p = g_shots / name;
        ASSERT_TRUE(form_->grab().save(QString::fromStdString(p.string())));
        std::cout << "screenshot: " << p.string() << std::endl;
    }

    TestDir dir_;
    FastClock fast_;
    ScopedClock clock_{&fast_};
    TagRunCfg saved_;
    FakePrograms programs_;
    TagConsole console_;
    std::unique_ptr<TForm1> form_;
};

} // namespace

TEST_F(Window, EnglishCaptionsShortcutsGridAndStatusArea) {
    Start("LANGUAGE_TYPE=EN\n");
    EXPECT_EQ(form_->windowTitle(), "Karvelian CTI Server");
    EXPECT_EQ(form_->Item("O1")->text(), "&Open");
    EXPECT_EQ(form_->Item("L1")->text(), "Re&load");
    EXPECT_EQ(form_->Item("N2")->text(), "E&xit");
    EXPECT_EQ(form_->Item("N6")->text(), "&Configure");
    EXPECT_EQ(form_->Item("N23")->text(), "Call Stack...");
    QStringList menus;
    for (QAction* a : form_->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Operation", "&Debug", "&Help"}));
    EXPECT_EQ(form_->findChild<QPushButton*>("StepRunButton")->text(), "Step(F8)");
    const std::pair<const char*, Qt::Key> keys[] = {{"N16", Qt::Key_F2}, {"N18", Qt::Key_F8}, {"N19", Qt::Key_F9},
                                                    {"N20", Qt::Key_F5}, {"N23", Qt::Key_F4}, {"N24", Qt::Key_F6}};
    for (auto [name, key] : keys) {
        EXPECT_EQ(form_->Item(name)->shortcut(), QKeySequence(key)) << name;
        EXPECT_TRUE(form_->actions().contains(form_->Item(name))) << name; // works with the menu bar hidden
    }
    EXPECT_FALSE(form_->Item("N12")->isEnabled()); // reset is not offered
    EXPECT_TRUE(form_->Item("N15")->isEnabled());

    EXPECT_EQ(form_->GridView()->model()->headerData(0, Qt::Horizontal).toString(), "Line");
    EXPECT_EQ(Cell(0, 0), "0 : VirtualLine0");
    EXPECT_EQ(Cell(2, 2), "Unset");
    QColor bg = form_->GridView()->model()->index(2, 2).data(Qt::BackgroundRole).value<QColor>();
    EXPECT_EQ(bg, QColor(0x80, 0xFF, 0xFF)); // colour index 11
    EXPECT_EQ(form_->PanelLabel(Panel::Lines)->text(), "Lines:3: Ex:0, In:0, Vir:3, Ip:0");
    EXPECT_EQ(form_->GridView()->columnWidth(0), 124);
    // The Status column holds its texts whole.
    QFontMetrics fm = form_->GridView()->fontMetrics();
    for (const char* t : {"Running", "Conn 99:59"})
        EXPECT_GT(form_->GridView()->columnWidth(2), fm.horizontalAdvance(t)) << t;
    Screenshot("console-window-en.png");

    form_->N3Click();
    EXPECT_FALSE(form_->PanelLabel(Panel::Lines)->isVisibleTo(form_.get()));
    EXPECT_FALSE(form_->menuBar()->isVisibleTo(form_.get()));
    EXPECT_EQ(form_->Item("N3")->text(), "DispStatus&Area");
}

TEST_F(Window, KeysTypedInAKeysCellReachTheLineAndWakeIt) {
    Start("LANGUAGE_TYPE=EN\n");
    SetLineKeysCell({GetDispKeys, SetDispKeys});
    QAbstractItemModel* model = form_->GridView()->model();
    EXPECT_TRUE(form_->GridView()->editTriggers() & QAbstractItemView::AnyKeyPressed);
    EXPECT_FALSE(model->flags(model->index(1, 2)) & Qt::ItemIsEditable);
    ASSERT_TRUE(model->flags(model->index(1, 3)) & Qt::ItemIsEditable);
    WakeEvent& wake = GetTelDrive()->Line(1)->call->wake;
    wake.Drain();
    EXPECT_TRUE(model->setData(model->index(1, 3), "12#", Qt::EditRole));
    EXPECT_EQ(GetLineKeys(1), "12#");
    pollfd p{wake.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1); // the line waiting for keys looks again
    EXPECT_EQ(Cell(1, 3), "12#");
    SetLineKeysCell({});
}

TEST_F(Window, ChineseCaptionsAndTheDebugMenuFollowsTheSentenceSetting) {
    Start("IS_DISP_SENTE=0\n");
    EXPECT_EQ(form_->windowTitle(), QString::fromUtf8("青岚舟语音系统 运行平台"));
    EXPECT_EQ(form_->Item("O1")->text(), QString::fromUtf8("打开(&O)"));
    EXPECT_EQ(form_->Item("N7")->text(), QString::fromUtf8("查看运行日志"));
    EXPECT_EQ(form_->GridView()->model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("线路"));
    EXPECT_EQ(Cell(1, 2), QString::fromUtf8("未配置"));
    EXPECT_FALSE(form_->Item("OpenDebug1")->isEnabled());
    Screenshot("console-window-zh.png");
}

TEST_F(Window, TheCloseButtonHidesTheWindowAndTheQuitMessageShutsDownInOrder) {
    Start("LANGUAGE_TYPE=EN\n");
    form_->close();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_FALSE(console_.ShutdownStarted());
    EXPECT_NE(GetTelDrive(), nullptr);
    form_->ShowWindow();
    EXPECT_TRUE(form_->isVisible());
    form_->PostQuit();
    QApplication::processEvents();
    EXPECT_TRUE(console_.ShutdownStarted());
    EXPECT_EQ(GetTelDrive(), nullptr);
    EXPECT_FALSE(form_->isVisible());
}

// The application object lives for the whole run and goes before Qt's own globals.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    g_shots = std::filesystem::current_path();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
