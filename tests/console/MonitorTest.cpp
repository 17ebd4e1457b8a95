#include "console/TagMonitor.h"
#include "platform/Clock.h"
#include "platform/TagRunCfg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

using namespace zz;

namespace {

struct Notes : TagFieldNotify {
    std::vector<std::tuple<int, int, int, int>> seen;
    void NotifyField(int32_t line, int32_t field, int32_t fg, int32_t bg) override {
        seen.emplace_back(line, field, fg, bg);
    }
};

struct MonitorFixture : ::testing::Test {
    TagRunCfg saved = RunCfg();
    TagMonitor mon{10};
    GridCells grid;
    Notes notes;
    void SetUp() override {
        SetMonitor(&mon);
        mon.SetNotify(&notes);
    }
    void TearDown() override {
        SetMonitor(nullptr);
        SetKeyModeLookup(nullptr);
        RunCfg() = saved;
    }
    std::pair<int, int> Colors(int line) {
        TagLineRec r = mon.Row(line);
        return {r.stateFg, r.stateBg};
    }
};

} // namespace

TEST(MonitorTable, ALineCountBelowOneGivesOneRow) {
    TagMonitor m(0);
    EXPECT_EQ(m.LineCount(), 1);
    TagLineRec r = m.Row(0);
    EXPECT_EQ(r.state, 2);
    EXPECT_EQ(r.userBg, 15);
    EXPECT_EQ(r.stateBg, 15);
}

TEST_F(MonitorFixture, GroupsLayLinesSideBySideAndSelectionFindsTheLine) {
    RunCfg().colGroups = 3;
    RunCfg().language = 1;
    mon.InitGrid(&grid);
    EXPECT_EQ(grid.ColCount(), 24);
    EXPECT_EQ(grid.RowCount(), 5);
    EXPECT_EQ(grid.Cell(8, 0), "Line");
    EXPECT_EQ(grid.Cell(19, 0), "Keys");
    EXPECT_EQ(grid.Cell(13, 0), saved.title[0]);

    for (int f = 0; f < 8; ++f)
        mon.SetField(7, "f" + std::to_string(f), f);
    mon.Flush();
    for (int f = 0; f < 8; ++f)
        EXPECT_EQ(grid.Cell(8 + f, 3), "f" + std::to_string(f));
    grid.SetSelected(9, 3);
    EXPECT_EQ(mon.SelectedLine(), 7);
    grid.SetSelected(9, 0);
    EXPECT_EQ(mon.SelectedLine(), -1);
}

TEST_F(MonitorFixture, ChineseTitlesAndWidthsCopiedToEveryGroup) {
    RunCfg().colGroups = 2;
    grid.SetSize(8, 1);
    grid.SetColWidth(4, 123);
    mon.InitGrid(&grid);
    EXPECT_EQ(grid.Cell(8, 0), "线路");
    EXPECT_EQ(grid.Cell(12, 0), "运行信息");
    EXPECT_EQ(grid.ColWidth(12), 123);
    GridCells bare;
    TagMonitor(4).InitGrid(&bare, false);
    EXPECT_EQ(bare.Cell(0, 0), "");
}

TEST_F(MonitorFixture, ChangedFieldsReachTheGridOnceAndTheRemoteMonitorEachTime) {
    mon.InitGrid(&grid);
    mon.SetColor(2, 3, 9);
    mon.SetField(2, "a", 1);
    mon.SetField(2, "b", 6);
    ASSERT_EQ(notes.seen.size(), 2u);
    EXPECT_EQ(notes.seen[0], std::make_tuple(2, 1, 0, 15));
    EXPECT_EQ(notes.seen[1], std::make_tuple(2, 6, 3, 9));
    EXPECT_EQ(mon.Row(2).changed[1], 1);

    mon.Flush();
    EXPECT_EQ(grid.Cell(1, 3), "a");
    EXPECT_EQ(grid.Cell(6, 3), "b");
    EXPECT_EQ(mon.Row(2).changed[1], 0);
    grid.SetCell(1, 3, "typed over");
    mon.Flush(); // nothing changed: nothing rewritten
    EXPECT_EQ(grid.Cell(1, 3), "typed over");

    mon.SetField(2, "x", 8);
    mon.SetField(99, "x", 1);
    mon.SetField(-1, "x", 1);
    EXPECT_EQ(notes.seen.size(), 2u);
}

TEST_F(MonitorFixture, FieldsOutsideTheVisiblePartWaitUntilScrolledIn) {
    mon.InitGrid(&grid);
    grid.SetVisible(1, 3, 0, 3); // rows 1..4, columns 0..3
    mon.SetField(1, "seen", 2);
    mon.SetField(1, "right", 6);
    mon.SetField(8, "below", 2);
    mon.Flush();
    EXPECT_EQ(grid.Cell(2, 2), "seen");
    EXPECT_EQ(grid.Cell(6, 2), "");
    EXPECT_EQ(grid.Cell(2, 9), "");
    grid.SetVisible(6, 5, 4, 4);
    mon.Flush();
    EXPECT_EQ(grid.Cell(6, 2), "");
    EXPECT_EQ(grid.Cell(2, 9), "");
    grid.SetVisible(0, 10, 0, 8);
    mon.Flush();
    EXPECT_EQ(grid.Cell(6, 2), "right");
    EXPECT_EQ(grid.Cell(2, 9), "below");
}

TEST_F(MonitorFixture, AFlushOfManyCellsWritesThemAllWithoutHoldingTheWindowThread) {
    VirtualClock clock(0);
    ScopedClock scoped(&clock);
    mon.InitGrid(&grid);
    for (int line = 0; line < 10; ++line)
        for (int f = 0; f < 8; ++f)
            mon.SetField(line, "x" + std::to_string(line), f);
    mon.Flush();
    EXPECT_EQ(clock.Ticks(), 0u); // no sleep on the window thread
    EXPECT_EQ(grid.Cell(7, 10), "x9");
}

TEST_F(MonitorFixture, StatusTextsSetStateAndColours) {
    struct {
        const char* text;
        int state, fg, bg;
    } rules[] = {{"已停止", 4, 0, 13}, {"Loading...", 2, 0, 10}, {"初始化失败", 0, 14, 4},
                 {"Unset", 1, 0, 11},  {"运行", 3, 0, 15},       {"Blocked", 3, 14, 4}};
    for (auto& r : rules) {
        EXPECT_EQ(SetLineState(4, r.text), 0);
        TagLineRec row = mon.Row(4);
        EXPECT_EQ(row.text[2], r.text);
        EXPECT_EQ(row.state, r.state) << r.text;
        EXPECT_EQ(Colors(4), std::make_pair(r.fg, r.bg)) << r.text;
    }
    size_t before = notes.seen.size();
    SetLineState(4, "连通 00:12");
    EXPECT_EQ(mon.Row(4).text[2], "连通 00:12");
    EXPECT_EQ(mon.Row(4).state, 3);
    EXPECT_EQ(Colors(4), std::make_pair(0, 15)); // recomputed for state 3, not set from a rule
    EXPECT_EQ(notes.seen.size(), before + 1);
    EXPECT_EQ(SetLineState(-1, "运行"), -1);
}

TEST_F(MonitorFixture, EnglishModeTranslatesTheShownText) {
    RunCfg().language = 1;
    SetLineState(0, "运行");
    EXPECT_EQ(mon.Row(0).text[2], "Running");
    EXPECT_EQ(mon.Row(0).state, 3);
    SetLineState(0, "初始化失败");
    EXPECT_EQ(mon.Row(0).text[2], "InitErr");
    EXPECT_EQ(Colors(0), std::make_pair(14, 4));
    RunCfg().dispTalkTime = 1;
    SetLineState(0, "连通 00:12");
    EXPECT_EQ(mon.Row(0).text[2], "Conn 00:12");
    EXPECT_EQ(mon.Row(0).state, 0);
    RunCfg().dispTalkTime = 0;
    SetLineState(0, "连通 00:13");
    EXPECT_EQ(mon.Row(0).text[2], "Conn");
}

TEST_F(MonitorFixture, RunningRowsFollowBlockAndTalk) {
    SetLineState(5, "运行");
    mon.SetTalk(5, true);
    DispScriptFile(5, "a.kvs");
    EXPECT_EQ(Colors(5), std::make_pair(1, 14));
    mon.SetBlock(5, 1);
    DispScriptFile(5, "a.kvs");
    EXPECT_EQ(Colors(5), std::make_pair(14, 4));
    mon.SetBlock(5, 0);
    mon.SetTalk(5, false);
    DispInfo(5, 0, "user text"); // user columns leave the state pair alone
    EXPECT_EQ(Colors(5), std::make_pair(14, 4));
    DispScriptFile(5, "a.kvs");
    EXPECT_EQ(Colors(5), std::make_pair(0, 15));
    SetLineState(6, "已停止");
    mon.SetBlock(6, 1);
    DispScriptFile(6, "b.kvs");
    EXPECT_EQ(Colors(6), std::make_pair(0, 13)); // only state 3 recomputes
}

TEST_F(MonitorFixture, UserColoursKeepWhatAnIndexOutOfRangeWouldSpoil) {
    EXPECT_EQ(SetDispColor(3, 4, 11), 0);
    EXPECT_EQ(SetDispColor(3, 2, 16), 0);
    uint32_t fg = 1, bg = 1;
    mon.GetColor(3, fg, bg);
    EXPECT_EQ(fg, 0x008000u);
    EXPECT_EQ(bg, 0xFFFF80u);
    mon.GetStateColor(99, fg, bg);
    EXPECT_EQ(fg, 0x000000u);
    EXPECT_EQ(bg, 0xFFFFFFu);
    mon.SetStateColor(3, 40, 12);
    fg = bg = 7;
    mon.GetStateColor(3, fg, bg);
    EXPECT_EQ(fg, 7u);
    EXPECT_EQ(bg, 0x0000FFu);
}

TEST_F(MonitorFixture, SetStateColorMarksAndNotifiesTheFiveStateFields) {
    mon.SetStateColor(1, 14, 4);
    ASSERT_EQ(notes.seen.size(), 5u);
    for (int f = 0; f < 5; ++f)
        EXPECT_EQ(notes.seen[size_t(f)], std::make_tuple(1, f, 14, 4));
    TagLineRec r = mon.Row(1);
    EXPECT_EQ(r.changed[4], 1);
    EXPECT_EQ(r.changed[5], 0);
}

TEST_F(MonitorFixture, RunInformationFollowsTheSentenceMode) {
    RunCfg().dispSentence = 1;
    DispRunInfo(3, "Play(\"a\"); // greet", 2);
    EXPECT_EQ(mon.Row(2).text[4], "Play(\"a\"); // greet");
    RunCfg().dispSentence = 2;
    DispRunInfo(3, "Play(\"a\"); // greet", 2);
    EXPECT_EQ(mon.Row(2).text[4], " greet");
    DispRunInfo(3, "x = 1;", 2);
    EXPECT_EQ(mon.Row(2).text[4], "");
    RunCfg().dispSentence = 0;
    DispRunInfo(3, "y = 2;", 2);
    EXPECT_EQ(mon.Row(2).text[4], "");
}

TEST_F(MonitorFixture, KeysShowByTheScriptsDisplayMode) {
    int mode = 0;
    DispKeys(1, "123"); // no lookup installed: nothing
    EXPECT_EQ(mon.Row(1).text[3], "");
    SetKeyModeLookup([&](int32_t line) { return line == 9 ? -1 : mode; });
    DispKeys(1, "123");
    EXPECT_EQ(mon.Row(1).text[3], "");
    mode = 1;
    DispKeys(1, "123");
    EXPECT_EQ(mon.Row(1).text[3], "123");
    mode = 2;
    DispKeys(1, std::string(25, '5').c_str());
    EXPECT_EQ(mon.Row(1).text[3], std::string(20, '*'));
    DispKeys(9, "1");
    DispKeys(10, "1");
    EXPECT_EQ(mon.Row(9).text[3], "");
}

TEST_F(MonitorFixture, TypedKeysLiveInTheGridCellItself) {
    EXPECT_EQ(GetDispKeysLen(2), 0); // no grid yet
    RunCfg().colGroups = 2;
    mon.InitGrid(&grid);
    SetDispKeys(3, "12#4");
    EXPECT_EQ(grid.Cell(11, 2), "12#4");
    EXPECT_EQ(GetDispKeys(3), "12#4");
    EXPECT_EQ(GetDispKeysLen(3), 4);
    EXPECT_EQ(mon.Row(3).text[3], ""); // the row is not touched
    ClearDispKeys(3);
    EXPECT_EQ(GetDispKeys(3), "");
    SetDispKeys(10, "x");
    EXPECT_EQ(GetDispKeys(-1), "");
}

TEST(MonitorEntryPoints, DoNothingWithoutATable) {
    SetMonitor(nullptr);
    EXPECT_EQ(SetLineState(1, "运行"), 0);
    EXPECT_EQ(DispScriptFile(-2, "a"), -1);
    EXPECT_EQ(DispInfo(0, 0, "a"), 0);
    EXPECT_EQ(SetDispColor(0, 1, 2), 0);
    DispRunInfo(0, "x", 0);
    DispKeys(0, "1");
    EXPECT_EQ(GetDispKeys(0), "");
}

TEST_F(MonitorFixture, LineThreadsWriteWhileTheDisplayTickFlushes) {
    mon.InitGrid(&grid);
    mon.SetNotify(nullptr);
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                int line = (t * 3 + i) % 10;
                mon.SetField(line, "t" + std::to_string(t) + "-" + std::to_string(i), i % 8);
                SetLineState(line, i % 2 ? "运行" : "堵塞");
                mon.SetTalk(line, i % 3 == 0);
                SetDispKeys(line, "12");
            }
        });
    std::thread tick([&] {
        while (!done) {
            mon.Flush();
            (void)GetDispKeysLen(3);
            (void)mon.Row(3);
        }
    });
    for (auto& w : writers)
        w.join();
    done = true;
    tick.join();
    mon.Flush();
    for (int line = 0; line < 10; ++line) {
        TagLineRec r = mon.Row(line);
        for (int f = 0; f < 8; ++f)
            EXPECT_EQ(r.changed[f], 0);
        EXPECT_EQ(grid.Cell(2, line + 1), r.text[2]);
    }
}
