// Line settings and line state builtins: what lands in the call object, and what reaches the operator's grid.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ScriptOnCall.h"
#include "telephony/TagTelDrive.h"

namespace zz {
namespace {

using test::JournalCall;
using test::ScriptOnCall;

std::vector<std::string> g_shown;

TEST(LineSettings, GridTextsGoToTheScriptsOwnRowAndKeysToTheLineNamed) {
    g_shown.clear();
    SetLineDisplay(
        {nullptr, nullptr,
         [](int32_t line, int32_t index, const char* text) {
             g_shown.push_back("info " + std::to_string(line) + " " + std::to_string(index) + " " + text);
             return 0;
         },
         [](int32_t line, int32_t fg, int32_t bg) {
             g_shown.push_back("color " + std::to_string(line) + " " + std::to_string(fg) + " " + std::to_string(bg));
             return 0;
         },
         [](int32_t line, const char* keys) { g_shown.push_back("keys " + std::to_string(line) + " " + keys); }});
    ScriptOnCall s("grid");
    JournalCall call;
    s.Run(R"(r = DispInfo(2, 1.5);
r = SetDispColor(4, 16);
r = PcSetKeys(7, "123#");
return(0);
)",
          call);
    SetLineDisplay({});
    EXPECT_EQ(g_shown, (std::vector<std::string>{"info 3 2 1.5", "color 3 4 16", "keys 7 123#"}));
}

TEST(LineSettings, RawSignallingDataGoesToTheCallAsBytes) {
    ScriptOnCall s("sigraw");
    JournalCall call;
    s.Run(R"(r = SetSigRawData("00 1f A0 ff 7", 99);
return(r);
)",
          call);
    ASSERT_EQ(call.sigSendLen, 5);
    EXPECT_EQ(std::memcmp(call.sigRaw, "\x00\x1f\xa0\xff\x07", 5), 0);

    const uint8_t received[] = {0x01, 0x00, 0x02};
    call.KeepSigMessage(received, 3);
    s.Run(R"(d = "";
m = 0;
c = 0;
n = GetSigRawData(d);
k = Len(d, m);
r = Asc(d, 2, c);
Print("got " + n + " " + k + " " + r + "\n");
n = GetSigRawData(d);
Print("again " + n + "\n");
return(0);
)",
          call);
    EXPECT_EQ(s.Printed(), "got 3 3 2\nagain 0\n");
    EXPECT_EQ(call.sigSendLen, 0) << "both lengths cleared";
}

TEST(LineSettings, ALimitOfAMinuteOrMoreRestartsTheTalkCount) {
    ScriptOnCall s("talk");
    JournalCall call;
    call.connectTime = 1000;
    s.Run("r = SetMaxTalkTime(30);\nreturn(r);\n", call);
    EXPECT_EQ(call.maxTalkTime, 60);
    EXPECT_EQ(call.connectTime, 1000) << "kept";
    s.Run("r = SetMaxTalkTime(90);\nreturn(r);\n", call);
    EXPECT_EQ(call.maxTalkTime, 90);
    EXPECT_GT(call.connectTime, 1000) << "now";
}

} // namespace
} // namespace zz
