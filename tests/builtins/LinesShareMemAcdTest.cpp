// Shared memory and ACD queues used by many lines of the line table at once.
#include "ServiceLines.h"
#include "builtins/services/TagAcdList.h"

namespace zz::test {
namespace {

using LinesShareMem = ServiceLines;
using LinesAcd = ServiceLines;

TEST_F(LinesShareMem, SixtyFourLinesCountIntoOneValueWithoutLosingAnUpdate) {
    MakeLines(65);
    Load(64, R"(r = SetShareMem(-1, "hits", 0);
return(0);
)");
    RunLine(64);
    for (int32_t n = 0; n < 64; ++n)
        Load(n, R"(i = 0;
v = 0;
while(i < 300)
{
    r = IncShareMem(-1, "hits", 1, v);
    i++;
}
r = SetShareMem(_lineNo, "mine", _lineNo * 2);
r = SetShareMem(_lineNo, 7, "int key");
return(0);
)");
    Running();
    for (int32_t n = 0; n < 64; ++n)
        Start(n);
    JoinAll();
    Load(64, R"(hits = 0;
got = GetShareMem(-1, "hits", hits);
found = FindShareMem("mine", 10, -10);
again = FindShareMem("mine", 10, -10);
mine = 0;
r = GetShareMem(5, "mine", mine);
text = "";
sizeInt = GetShareMem(9, 7, text);
past = GetShareMem(65, "mine", mine);
return(0);
)");
    RunLine(64);
    EXPECT_EQ(IntOf(64, "hits"), 64 * 300);
    EXPECT_EQ(IntOf(64, "got"), 1);
    EXPECT_EQ(IntOf(64, "found"), 5); // the line holding 10 under "mine"
    EXPECT_EQ(IntOf(64, "again"), -1);
    EXPECT_EQ(IntOf(64, "mine"), -10);
    EXPECT_EQ(TextOf(64, "text"), "int key");
    EXPECT_EQ(IntOf(64, "sizeInt"), 1); // the integer key has a map of its own
    EXPECT_EQ(IntOf(64, "past"), -2);
}

// Callers on lines 1 to 3 queue a call each, a tick apart: line 1 and line 3 into "sales", line 2 into "support".
const char* kCaller = R"(r = SetMsgField(0, _lineNo);
r = SetMsgField(1, "waiting");
group = "sales";
if(_lineNo == 2)
{
    group = "support";
}
sent = AcdListSend(group, 2);
return(0);
)";

// An agent reads the group that has waited longest among those no other agent owns, then takes its first call.
const char* kAgent = R"(fields = AcdListRead();
first = 0;
r = GetMsgField(0, first);
took = 0;
if(fields > 0)
{
    took = AcdListRecv(0, first);
}
return(0);
)";

TEST_F(LinesAcd, AgentsTakeWaitingCallsLongestWaitingGroupFirstInArrivalOrder) {
    MakeLines(8);
    for (int32_t n = 1; n <= 3; ++n)
        Load(n, kCaller);
    for (int32_t n = 4; n <= 6; ++n)
        Load(n, kAgent);
    Load(7, R"(sales = AcdListNum("sales");
support = AcdListNum("support");
none = AcdListNum("nobody");
return(0);
)");
    Running();
    for (int32_t n = 1; n <= 3; ++n) {
        RunLine(n);
        clock.Advance(1);
    }
    EXPECT_EQ(IntOf(1, "sent"), 1);
    EXPECT_EQ(IntOf(3, "sent"), 2);
    RunLine(7);
    EXPECT_EQ(IntOf(7, "sales"), 2);
    EXPECT_EQ(IntOf(7, "support"), 1);
    EXPECT_EQ(IntOf(7, "none"), 0);

    RunLine(4); // "support" was last used before "sales"
    EXPECT_EQ(IntOf(4, "fields"), 2);
    EXPECT_EQ(IntOf(4, "first"), 2);
    EXPECT_EQ(IntOf(4, "took"), 2);
    clock.Advance(1);
    RunLine(5); // "support" is gone; the first call of "sales" is line 1's
    EXPECT_EQ(IntOf(5, "first"), 1);
    EXPECT_EQ(IntOf(5, "took"), 2);
    RunLine(6); // line 5 owns "sales" now: nothing for line 6
    EXPECT_EQ(IntOf(6, "fields"), 0);
    EXPECT_EQ(IntOf(6, "took"), 0);
    RunLine(7);
    EXPECT_EQ(IntOf(7, "sales"), 1);
    EXPECT_EQ(IntOf(7, "support"), 0); // emptied by its last take, and deleted
    clock.Advance(1);
    RunLine(5); // line 5 takes line 3's call
    EXPECT_EQ(IntOf(5, "first"), 3);
    RunLine(7);
    EXPECT_EQ(IntOf(7, "sales"), 0);
}

// The last of the queue tests: it leaves a group whose record has no fields, which no builtin can take.

TEST_F(LinesAcd, GroupsOfOneTickGoByNameAndClearStopsAtTheFirstGroupWithMatches) {
    MakeLines(2);
    Load(0, R"(r = SetMsgField(0, "x");
a = AcdListSend("zeta", 1);
b = AcdListSend("alpha", 1);
c = AcdListSend("beta", 0);
return(0);
)");
    Load(1, R"(fields = AcdListRead();
name = 0;
r = GetMsgField(0, name);
wrote = AcdListWrite(0, "x", 0, "y");
cleared = AcdListClear(0, "x");
alpha = AcdListNum("alpha");
zeta = AcdListNum("zeta");
beta = AcdListNum("beta");
empty = AcdListRead();
return(0);
)");
    Running();
    RunLine(0);
    clock.Advance(5);
    RunLine(1);
    EXPECT_EQ(IntOf(1, "fields"), 1);
    EXPECT_EQ(TextOf(1, "name"), "x"); // alpha, first by name among groups of the same tick
    EXPECT_EQ(IntOf(1, "wrote"), 1);   // alpha's record now holds "y"
    EXPECT_EQ(IntOf(1, "cleared"), 1); // zeta's: beta's record has no field 0
    EXPECT_EQ(IntOf(1, "alpha"), 1);
    EXPECT_EQ(IntOf(1, "zeta"), 0);
    EXPECT_EQ(IntOf(1, "beta"), 1);
    EXPECT_EQ(IntOf(1, "empty"), 0); // beta (alpha is used at this very tick): read, but its record has no fields
}

} // namespace
} // namespace zz::test
