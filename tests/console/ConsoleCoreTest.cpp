// The console core: the display tick's line states, colours and tray alarm, the status line, the window position
// file, and the orderly shutdown's order in RawLog.txt.
#include "ConsoleFixture.h"
#include "console/TagMapCfg.h"
#include "console/TagRemoteCtrl.h"

#include <sstream>
#include <thread>

using namespace zz;
using namespace zz::test;

namespace {

std::vector<std::string> RawLogTexts() {
    std::vector<std::string> out;
    std::istringstream in(TestDir::Read("RawLog.txt"));
    std::string line;
    while (std::getline(in, line)) {
        size_t open = line.find('[');
        if (open != std::string::npos && line.size() > open + 1)
            out.push_back(line.substr(open + 1, line.size() - open - 2));
    }
    return out;
}

} // namespace

TEST_F(ConsoleTest, TickShowsEveryBlockedLineTalkTimesAndKeepsTheAlarmWhileALineIsBlocked) {
    ASSERT_EQ(Start(3, "IS_DISP_TALKTIME=1\nLOAD_DELAY=5\n"), 0);
    EXPECT_EQ(view.scripted, 0);
    for (int32_t n = 0; n < 3; ++n)
        GiveProgram(n);
    TagMonitor& m = *console.Monitor();
    console.Tick();
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayNormal);

    // Line 1 (not a multiple of 30) blocks: its status, colours and the tray follow on this tick and stay.
    Call(1).blockValue = 1;
    console.Tick();
    EXPECT_EQ(m.Text(1, 2), "堵塞");
    EXPECT_EQ(m.Row(1).stateFg, 14);
    EXPECT_EQ(m.Row(1).stateBg, 4);
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayAlarm);
    EXPECT_EQ(console.TrayHint(), "注意: 脚本退出或线路堵塞");
    console.Tick();
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayAlarm);
    Call(1).blockValue = 0;
    console.Tick();
    EXPECT_EQ(m.Text(1, 2), "运行");
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayNormal);
    EXPECT_EQ(console.TrayHint(), "青岚舟语音平台");

    // Line 2 in a call: the talk text with its time, yellow; the grid shows it after the tick.
    Call(2).connectTime = CalendarNow() - 75;
    Call(2).callState = kCallConnected;
    console.Tick();
    EXPECT_EQ(m.Text(2, 2).rfind("连通 1:1", 0), 0u) << m.Text(2, 2);
    EXPECT_EQ(m.Row(2).stateFg, 1);
    EXPECT_EQ(m.Row(2).stateBg, 14);
    int32_t col, row;
    TagMonitor::CellOf(2, 2, 1, col, row);
    EXPECT_EQ(console.Grid().Cell(col, row), m.Text(2, 2));
    EXPECT_EQ(console.PanelText(Panel::Count), "连通数:1.0: 外:0.0, 内:0, 虚:1, Ip:0.0");
    EXPECT_EQ(console.Remote()->StatusText(), console.PanelText(Panel::Count));

    // A stopped line keeps the alarm up while it stays stopped.
    SetLineState(0, "已停止");
    console.Tick();
    console.Tick();
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayAlarm);
}

TEST_F(ConsoleTest, AScriptThatEndsKeepsItsEndedStatusAndTheAlarmWhetherItsCallDropsOrStays) {
    ASSERT_EQ(Start(2, "IS_DISP_TALKTIME=1\nLOAD_DELAY=5\n"), 0);
    for (int32_t n = 0; n < 2; ++n) {
        GiveProgram(n);
        Call(n).connectTime = CalendarNow() - 5;
        Call(n).callState = kCallConnected;
    }
    console.Tick();
    ASSERT_EQ(console.TrayImage(), TagConsole::kTrayNormal);
    // Both scripts end between two ticks; line 0's caller is gone by the tick, line 1's is still connected.
    SetLineState(0, "已停止");
    SetLineState(1, "已停止");
    Call(0).callState = kCallReleased;
    console.Tick();
    console.Tick();
    TagMonitor& m = *console.Monitor();
    for (int32_t n = 0; n < 2; ++n) {
        EXPECT_EQ(m.Text(n, 2), "已停止") << n;
        EXPECT_EQ(m.Row(n).state, 4) << n;
    }
    EXPECT_EQ(console.TrayImage(), TagConsole::kTrayAlarm);
}

TEST_F(ConsoleTest, ScriptsStopWithTheLineManagerStillThereForTheirQuitHandlers) {
    ASSERT_EQ(Start(2, "LOAD_DELAY=5\n0-1=run.kvs\n"), 0);
    while (programs_.Parked() < 2) // both scripts wait for a call
        std::this_thread::yield();
    console.Shutdown();
    EXPECT_EQ(programs_.quitsWithManager.load(), 2);
    EXPECT_EQ(programs_.quitsWithoutManager.load(), 0);
    EXPECT_EQ(GetTelDrive(), nullptr);
}

TEST_F(ConsoleTest, EnglishTexts) {
    ASSERT_EQ(Start(1, "LANGUAGE_TYPE=EN\nLOAD_DELAY=5\n"), 0);
    EXPECT_EQ(console.PanelText(Panel::Lines), "Lines:1: Ex:0, In:0, Vir:1, Ip:0");
    EXPECT_EQ(console.Grid().Cell(0, 0), "Line");
    EXPECT_EQ(console.Monitor()->Text(0, 2), "Unset");
    console.SetBlockAlarm(false);
    EXPECT_EQ(console.TrayHint(), "Err: Lines Block or Quit!");
    console.SetBlockAlarm(true);
    EXPECT_EQ(console.TrayHint(), "Karvelian CTI Server");
    EXPECT_EQ(console.Caption(), "Karvelian CTI Server");
}

TEST_F(ConsoleTest, ShutdownRunsOnceInOrderAndEndsRawLogWithCloseOk) {
    console.Exit(); // before the start: the quit message is posted all the same
    EXPECT_EQ(view.posts, 1);
    view.geometry.x = 10;
    view.geometry.width = 640;
    view.geometry.colWidth[3] = 99;
    ASSERT_EQ(Start(2, "IS_WRITE_LOG=2\nLOAD_DELAY=5\n"), 0);
    console.Exit();
    EXPECT_EQ(view.posts, 2);
    console.Shutdown();
    console.Shutdown();
    EXPECT_EQ(view.closes, 1);
    EXPECT_EQ(view.trayRemoved, 1);
    EXPECT_EQ(GetTelDrive(), nullptr);
    EXPECT_EQ(GetMonitor(), nullptr);
    EXPECT_EQ(GetRunLog(), nullptr);

    std::vector<std::string> texts = RawLogTexts();
    const std::vector<std::string> order = {
        "InitSystem() OK.",    "Exit()!",          "isCloseing = true;", "delete pCtrlPages...",
        "ModifyTrayIcon()...", "SavePost()...",    "delete pTelDrive;",  "Driver Closed.",
        "delete pRemoteCtrl;", "delete pMonitor;", "delete _logFp ...",  "Close Ok."};
    size_t at = 0;
    for (const std::string& t : texts)
        if (at < order.size() && t == order[at]) ++at;
    EXPECT_EQ(at, order.size()) << "missing or out of order: " << (at < order.size() ? order[at] : "");
    EXPECT_EQ(texts.back(), "Close Ok.");

    TagMapCfg pos;
    ASSERT_TRUE(pos.Load());
    EXPECT_EQ(pos.GetInt("WinX"), 10);
    EXPECT_EQ(pos.GetInt("WinWidth"), 640);
    EXPECT_EQ(pos.GetInt("GridWid3"), 99);
}

TEST_F(ConsoleTest, AFailedStartNamesItsCauseAndStillShutsDownInOrder) {
    EXPECT_EQ(Start(2, "IS_WRITE_LOG=2\n0-1=a.kvs\n1=b.kvs\n"), -100);
    EXPECT_EQ(messages, "Karvelian System: Error : ZuZodRun.cfg : line lists overlap: line 1 is in both 0-1=a.kvs "
                        "(line 2) and 1=b.kvs (line 3)\n"
                        "Karvelian System: 初始化系统失败: 返回值=-100\n");
    EXPECT_EQ(console.PanelText(Panel::Info), "初始化系统失败: 返回值=-100");
    console.Exit();
    EXPECT_EQ(view.posts, 1);
    console.Shutdown();
    EXPECT_EQ(view.closes, 1);
    std::vector<std::string> texts = RawLogTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Close Ok.");
}

TEST(FormPos, FileRulesAndRoundTrip) {
    TestDir dir("formpos");
    TestDir::Write("FormPos.dat", "GridWid2 = 80 // a comment\nGridWid5 = 7/5//x\nnothing here\nWinX = 3\nWinX=4\n");
    TagMapCfg map;
    ASSERT_TRUE(map.Load());
    EXPECT_EQ(map.GetInt("GridWid2"), 80);
    EXPECT_EQ(map.Items().at("GridWid5"), "7/5//x"); // the first "/" is not followed by a second: no cut
    EXPECT_EQ(map.GetInt("WinX"), 4);
    EXPECT_EQ(map.GetInt("WinY"), -1);

    FormGeometry g;
    EXPECT_EQ(LoadPost(map, g), 0); // no WinY: nothing changes
    EXPECT_EQ(g.x, 0);
    SetDefaultPost(g, 1200, 800, 2, 1);
    EXPECT_EQ(g.width, 1200);
    EXPECT_EQ(g.colWidth[0], 16);
    EXPECT_EQ(g.colWidth[4], 20);
    EXPECT_EQ(g.colWidth[5], (600 - 74) / 3);

    FormGeometry saved{5, 6, 700, 500, {11, 12, 13, 14, 15, 16, 17, 18}};
    SavePost(map, saved);
    EXPECT_NE(TestDir::Read("FormPos.dat").find("GridWid0 = 11\n"), std::string::npos);
    TagMapCfg again;
    ASSERT_TRUE(again.Load());
    FormGeometry back;
    EXPECT_EQ(LoadPost(again, back), 1);
    EXPECT_EQ(back.y, 6);
    EXPECT_EQ(back.height, 500);
    EXPECT_EQ(back.colWidth[7], 18);
}

TEST_F(ConsoleTest, ResetBuildsANewLineManagerAndTableAndOpensTheDisplayAgain) {
    ASSERT_EQ(Start(2, "LOAD_DELAY=5\n"), 0);
    {
        std::lock_guard<std::mutex> g(view.m);
        view.runDone = false;
    }
    console.Reset();
    view.WaitRunDone();
    EXPECT_NE(GetTelDrive(), nullptr);
    EXPECT_NE(console.PanelText(Panel::Info), "正在重新初始化...");
    EXPECT_EQ(GetMonitor(), console.Monitor());
    EXPECT_FALSE(SystemClosing().load());
    EXPECT_EQ(console.Monitor()->Text(1, 0), "1 : VirtualLine1");
}
