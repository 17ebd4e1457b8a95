// Named conference rooms: the registry with the driver's session operations behind it, on calls whose driver
// keeps a journal.
#include "platform/Clock.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagNameConfCtrl.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace zz;

namespace {

// The sessions of one driver, shared by its lines.
struct Driver {
    std::mutex m;
    std::vector<std::string> journal;
    int32_t kind = 1; // what CreateConfRoom gives: 0 card group, 1 media session
    int32_t createResult = 1, joinResult = 0, recResult = 0;
    int32_t nextHandle = 40;
    int32_t nextSession = 7;
    bool playEnded = false;

    void Note(const std::string& s) {
        std::lock_guard<std::mutex> g(m);
        journal.push_back(s);
    }
    std::vector<std::string> Journal() {
        std::lock_guard<std::mutex> g(m);
        return journal;
    }
    int Count(const std::string& prefix) {
        int n = 0;
        for (const std::string& s : Journal())
            n += s.rfind(prefix, 0) == 0;
        return n;
    }
};

class RoomCall : public TagKvCall {
public:
    RoomCall(Driver& d, int32_t line) : d_(d) {
        lineNo = line;
        mediaChannel = 100 + line;
    }
    int CreateConfRoom(int32_t& kind, int32_t& session) override {
        kind = d_.kind;
        session = d_.nextSession++;
        d_.Note("create " + std::to_string(session));
        return d_.createResult;
    }
    int JoinConfRoom(int32_t session, int32_t kind, int32_t listen) override {
        d_.Note(Line() + "join " + std::to_string(session) + " " + std::to_string(kind) + " " + std::to_string(listen));
        return d_.joinResult;
    }
    int ExitConfRoom(int32_t session, int32_t kind) override {
        d_.Note(Line() + "exit " + std::to_string(session) + " " + std::to_string(kind));
        return 0;
    }
    int DeleteConfRoom(int32_t session, int32_t kind) override {
        d_.Note("delete " + std::to_string(session) + " " + std::to_string(kind));
        return 0;
    }
    int RecConfRoom(int32_t session, int32_t, const char* file, int32_t& handle) override {
        handle = d_.recResult < 0 ? 0 : d_.nextHandle++;
        d_.Note("rec " + std::to_string(session) + " " + file);
        return d_.recResult;
    }
    int StopRecConfRoom(int32_t, int32_t, int32_t handle) override {
        d_.Note("stoprec " + std::to_string(handle));
        return 0;
    }
    int SipRecCh(int32_t channel, const char* file, int32_t& handle) override {
        handle = d_.recResult < 0 ? 0 : d_.nextHandle++;
        d_.Note("recch " + std::to_string(channel) + " " + file);
        return d_.recResult;
    }
    int StopSipRecCh(int32_t handle) override {
        d_.Note("stoprecch " + std::to_string(handle));
        return 0;
    }
    int PlayConfRoom(int32_t session, int32_t, const char* file, int32_t& handle) override {
        handle = d_.nextHandle++;
        d_.Note("play " + std::to_string(session) + " " + file);
        return 0;
    }
    int IsPlayConfRoomEnd(int32_t, int32_t, int32_t) override {
        std::lock_guard<std::mutex> g(d_.m);
        return d_.playEnded ? 1 : 0;
    }
    int StopPlayConfRoom(int32_t, int32_t, int32_t handle) override {
        d_.Note("stopplay " + std::to_string(handle));
        return 0;
    }

private:
    std::string Line() const { return std::to_string(lineNo) + ": "; }
    Driver& d_;
};

struct NameConf : ::testing::Test {
    Driver drv;
    RoomCall a{drv, 1}, b{drv, 2}, c{drv, 3};
    ~NameConf() override {
        // Rooms are process-wide while no line manager runs: leave none behind for the next test.
        a.ExitNameConf();
        b.ExitNameConf();
        c.ExitNameConf();
    }
};

} // namespace

TEST_F(NameConf, FirstJoinCreatesLastExitClosesAndEveryLeaveCarriesTheRoomsKind) {
    drv.kind = 0; // a card conference group: a member leaves it only when told its kind
    EXPECT_EQ(a.JoinNameConf("sales", 0), 1);
    EXPECT_EQ(b.JoinNameConf("sales", 1), 2);
    EXPECT_EQ(drv.Count("create"), 1);
    EXPECT_EQ(drv.Journal()[2], "2: join 7 0 1");

    std::map<int32_t, int32_t> members;
    EXPECT_EQ(c.GetConfNum("sales", members), 2);
    EXPECT_EQ(members, (std::map<int32_t, int32_t>{{1, 0}, {2, 1}}));
    std::string room;
    int32_t listen = -1;
    EXPECT_EQ(c.IsInConf(2, room, listen), 1);
    EXPECT_EQ(room, "sales");
    EXPECT_EQ(listen, 1);
    EXPECT_EQ(c.IsInConf(3, room, listen), 0);

    EXPECT_EQ(a.ExitNameConf(), 7);
    EXPECT_EQ(drv.Journal().back(), "1: exit 7 0");
    EXPECT_FALSE(a.confClosed);
    EXPECT_EQ(c.GetConfNum("sales", members), 1);

    EXPECT_EQ(b.ExitNameConf(), 7);
    auto j = drv.Journal();
    EXPECT_EQ(j[j.size() - 2], "2: exit 7 0");
    EXPECT_EQ(j.back(), "delete 7 0");
    EXPECT_TRUE(b.confClosed);
    EXPECT_EQ(c.GetConfNum("sales", members), 0);
    EXPECT_TRUE(members.empty());
    EXPECT_EQ(b.ExitNameConf(), 0);
}

TEST_F(NameConf, RefusedCreationOrFirstJoinLeavesNoRoom) {
    drv.createResult = -1; // the base call object: a virtual line
    EXPECT_EQ(a.JoinNameConf("r", 0), -2);
    std::map<int32_t, int32_t> members;
    EXPECT_EQ(a.GetConfNum("r", members), 0);

    drv.createResult = 1;
    drv.joinResult = -1;
    EXPECT_EQ(a.JoinNameConf("r", 0), -3);
    EXPECT_EQ(drv.Journal().back(), "delete 8 1");
    EXPECT_EQ(a.GetConfNum("r", members), 0);

    // A refused later join leaves the room to its members.
    drv.joinResult = 0;
    EXPECT_EQ(a.JoinNameConf("r", 0), 1);
    drv.joinResult = -1;
    EXPECT_EQ(b.JoinNameConf("r", 0), -3);
    EXPECT_EQ(a.GetConfNum("r", members), 1);
}

TEST_F(NameConf, RoomRecordingsAndChannelRecordings) {
    VirtualClock clock(1000, false);
    ScopedClock scoped(&clock);
    EXPECT_EQ(a.RecConf("none", "x.wav"), -1);
    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    ASSERT_EQ(b.JoinNameConf("r", 0), 2);
    EXPECT_EQ(a.RecConf("r", "all.wav"), 40);
    EXPECT_EQ(b.RecConf("r", "again.wav"), -2);

    EXPECT_EQ(a.RecConfCh("r", 3, "c.wav"), -1); // line 3 is not a member
    EXPECT_EQ(a.RecConfCh("r", 2, ""), 0);
    EXPECT_EQ(drv.Count("recch"), 0);
    EXPECT_EQ(a.RecConfCh("r", 2, "b.wav"), 0);
    EXPECT_EQ(drv.Journal().back(), "recch 102 b.wav");
    clock.Advance(1500);
    EXPECT_EQ(a.RecConfCh("r", 2, "b.wav"), 1500);

    drv.recResult = -1;
    EXPECT_EQ(a.RecConfCh("r", 1, "a.wav"), -3);

    // Leaving stops the member's own recording; the room's stops with the room.
    EXPECT_EQ(b.ExitNameConf(), 7);
    EXPECT_EQ(drv.Count("stoprecch 41"), 1);
    EXPECT_EQ(drv.Count("stoprec 40"), 0);
    EXPECT_EQ(a.ExitNameConf(), 7);
    EXPECT_EQ(drv.Count("stoprec 40"), 1);
}

TEST_F(NameConf, PlayConfWaitsForTheEndOfThePlayThenStopsIt) {
    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    EXPECT_EQ(a.PlayConf("none", "p.wav", 0), -1);
    EXPECT_EQ(a.PlayConf("r", "p.wav", 0), 40);
    EXPECT_EQ(a.PlayConf("r", "p.wav", 0), -2);
    a.ExitNameConf();
    EXPECT_EQ(drv.Count("stopplay 40"), 1); // the room closed with its play

    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    a.callState = kCallConnected;
    std::thread line([&] { EXPECT_EQ(a.PlayConf("r", "w.wav", 1), 41); });
    {
        std::lock_guard<std::mutex> g(drv.m);
        drv.playEnded = true;
    }
    a.wake.Signal();
    line.join();
    EXPECT_EQ(drv.Count("stopplay 41"), 1);
    // The room plays again.
    drv.playEnded = false;
    EXPECT_EQ(a.PlayConf("r", "p.wav", 0), 42);

    // A wait ends when the maximum talk time runs out meanwhile (within a second of the calendar): the call is
    // hung up.
    a.ExitNameConf();
    drv.playEnded = false;
    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    a.prevState = a.callState = kCallConnected;
    a.maxTalkTime = 1;
    a.connectTime = CalendarNow() - 1;
    EXPECT_GT(a.PlayConf("r", "w.wav", 1), 0);
    EXPECT_NE(a.callState, kCallConnected);
}

TEST_F(NameConf, AWaitingPlayLeavesARoomThatClosedMeanwhileAlone) {
    VirtualClock clock(0, false);
    ScopedClock scoped(&clock);
    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    ASSERT_EQ(b.JoinNameConf("r", 0), 2);
    // c plays into the room without being a member, and waits.
    c.callState = kCallConnected;
    std::thread line([&] { EXPECT_EQ(c.PlayConf("r", "w.wav", 1), 40); });
    while (clock.Waiters() < 1)
        std::this_thread::yield();
    // The room closes under the wait, which stops its play; a room of the same name comes again and plays.
    a.ExitNameConf();
    b.ExitNameConf();
    EXPECT_EQ(drv.Count("stopplay 40"), 1);
    ASSERT_EQ(a.JoinNameConf("r", 0), 1);
    EXPECT_EQ(a.PlayConf("r", "next.wav", 0), 41);
    {
        std::lock_guard<std::mutex> g(drv.m);
        drv.playEnded = true;
    }
    c.wake.Signal();
    line.join();
    EXPECT_EQ(drv.Count("stopplay"), 1);
    EXPECT_EQ(a.PlayConf("r", "p.wav", 0), -2); // the new room's play is untouched
}
