// Messages and inter-line calls between scripts running at once on lines of the line table.
#include <atomic>

#include "ServiceLines.h"

namespace zz::test {
namespace {

using LinesMessages = ServiceLines;

// Each sender posts ten records into mailbox 3 of line 0, keyed "a" or "b", with its own rising number in field 0
// and its name in field 1.
const char* kSender = R"(i = 0;
while(i < 10)
{
    r = SetMsgField(0, _lineNo * 100 + i);
    r = SetMsgField(1, "line" + _lineNo);
    key = "a";
    if(i % 2 == 1)
    {
        key = "b";
    }
    r = SendMsg(0, 3, key, 2);
    i++;
}
return(0);
)";

// Line 0 counts, picks out one record by field and takes the rest checking each sender's order.
const char* kReceiver = R"(n = 0;
r = GetMsgNum(0, 3, n);
nb = 0;
r = GetMsgNumForType(0, 3, "b", nb);
s = 0;
k = 0;
f = 0;
c = 0;
g = 0;
picked = RecvMsgForField(0, 3, 0, 305, s, k, f, c, g);
pickedFrom = s;
pickedKey = k;
pickedName = "";
r = GetMsgField(1, pickedName);
last = 0;
for(j = 1; j <= 8; j++)
{
    last[j] = -1;
}
taken = 0;
ordered = 1;
g = 1;
while(g == 1)
{
    r = RecvMsg(0, 3, s, k, f, c, g);
    if(g == 1)
    {
        taken++;
        if(f <= last[s] || c != 2)
        {
            ordered = 0;
        }
        last[s] = f;
    }
}
past = SendMsg(12, 0, "x", 0);
unloaded = SendMsg(9, 0, "x", 0);
reply = SendMsg(0, 64, "x", 0);
return(0);
)";

TEST_F(LinesMessages, RecordsFromEightLinesAtOnceKeepKeysFieldsAndEachSendersOrder) {
    MakeLines(12);
    for (int32_t n = 1; n <= 8; ++n)
        Load(n, kSender);
    Load(0, kReceiver);
    Running();
    for (int32_t n = 1; n <= 8; ++n)
        Start(n);
    JoinAll();
    RunLine(0);
    EXPECT_EQ(IntOf(0, "n"), 80);
    EXPECT_EQ(IntOf(0, "nb"), 40);
    EXPECT_EQ(IntOf(0, "picked"), 1);
    EXPECT_EQ(IntOf(0, "pickedFrom"), 3);
    EXPECT_EQ(TextOf(0, "pickedKey"), "b");
    EXPECT_EQ(TextOf(0, "pickedName"), "line3");
    EXPECT_EQ(IntOf(0, "taken"), 79);
    EXPECT_EQ(IntOf(0, "ordered"), 1);
    EXPECT_EQ(IntOf(0, "past"), -2);     // line 12 is not below the line count
    EXPECT_EQ(IntOf(0, "unloaded"), -3); // line 9 has no script
    EXPECT_EQ(IntOf(0, "reply"), -1);    // box 64 is not a script's
}

TEST_F(LinesMessages, APostingLineNeverReachesAProgramFreedByAReload) {
    MakeLines(2);
    // A post lands (the count), finds the line between two programs (-3), or finds the box full (0) when the posts
    // outrun the rebuilds that empty it; nothing else.
    Load(0, R"(ok = 0;
gone = 0;
full = 0;
other = 0;
i = 0;
while(i < 3000)
{
    r = SendMsg(1, 0, "x", 0);
    if(r > 0)
    {
        ok++;
    }
    else if(r == -3)
    {
        gone++;
    }
    else if(r == 0)
    {
        full++;
    }
    else
    {
        other++;
    }
    i++;
}
return(0);
)");
    Load(1, "return(0);\n");
    Start(0); // the clock stays automatic: every rebuild sleeps at the processor gate
    // The line's program is rebuilt again and again while line 0 posts into it.
    for (int i = 0; i < 40; ++i) {
        Unload(1);
        Load(1, "return(0);\n");
    }
    JoinAll();
    EXPECT_EQ(IntOf(0, "other"), 0);
    EXPECT_EQ(IntOf(0, "ok") + IntOf(0, "gone") + IntOf(0, "full"), 3000);
}

// The server serves slot 5 until it has answered twelve requests.
const char* kServer = R"(function Add(a, b, out)
{
    b = a + b;
    out = -1;
    return(a * 10);
}
function Two(a, b)
{
    return(0);
}
served = 0;
while(served < 12)
{
    r = InterLineServer(5);
    if(r == 1)
    {
        served++;
    }
}
return(0);
)";

// A caller's functions travel to the server; Nope is unknown there and Two takes another parameter count.
const char* kCaller = R"(function Add(a, b, out)
{
    res = 0;
    code = InterLineCall(5, -1, 1, res);
    out = res;
    return(code);
}
function Nope(x)
{
    res = 0;
    code = InterLineCall(5, -1, 0, res);
    return(code);
}
function Two(a)
{
    res = 0;
    code = InterLineCall(5, -1, 0, res);
    return(code);
}
x = _lineNo;
y = 4;
z = 0;
posted = Add(x, y, z);
nope = Nope(1);
two = Two(1);
return(0);
)";

TEST_F(LinesMessages, InterLineCallsOfFourLinesAreServedByAnother) {
    MakeLines(5);
    Load(0, kServer);
    for (int32_t n = 1; n <= 4; ++n)
        Load(n, kCaller);
    Running();
    for (int32_t n = 0; n <= 4; ++n)
        Start(n);
    JoinAll();
    EXPECT_EQ(IntOf(0, "served"), 12);
    for (int32_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        EXPECT_GE(IntOf(n, "posted"), 1); // the requests waiting in the slot when it was posted
        EXPECT_EQ(IntOf(n, "y"), n + 4);  // copied back: the server's b = a + b
        EXPECT_EQ(IntOf(n, "z"), n * 10); // the function's result, not the server's out
        EXPECT_EQ(IntOf(n, "nope"), -3);  // no such function on the server
        EXPECT_EQ(IntOf(n, "two"), -3);   // another parameter count
    }
    EXPECT_EQ(ServerSlot(5).GetNum(), 0);
}

const char* kWaitingCaller = R"(kept = 0;
function Ask(x)
{
    res = 7;
    code = InterLineCall(6, %s, 0, res);
    kept = res;
    return(code);
}
code = Ask(1);
return(0);
)";

std::string Caller(const char* timeout) {
    char text[512];
    std::snprintf(text, sizeof text, kWaitingCaller, timeout);
    return text;
}

TEST_F(LinesMessages, AnUnansweredCallTimesOutAndWithdrawsItsRequest) {
    MakeLines(2);
    Load(1, Caller("2"));
    Running();
    Start(1);
    while (clock.Waiters() == 0) // the caller waits on its line's wake event
        std::this_thread::yield();
    EXPECT_EQ(ServerSlot(6).GetNum(), 1);
    clock.Advance(2001);
    JoinAll();
    EXPECT_EQ(IntOf(1, "code"), -4);
    EXPECT_EQ(IntOf(1, "kept"), 7);
    EXPECT_EQ(ServerSlot(6).GetNum(), 0);
}

TEST_F(LinesMessages, AQuitEndsAWaitWithoutLimit) {
    MakeLines(2);
    TagTelBasic* p = Load(1, Caller("-1"));
    Running();
    Start(1);
    while (clock.Waiters() == 0)
        std::this_thread::yield();
    p->SetQuit(1);
    JoinAll(); // the wait and then the script end at once, without the clock moving
    EXPECT_EQ(IntOf(1, "code"), 1);
}

} // namespace
} // namespace zz::test
