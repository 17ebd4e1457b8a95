// Link and conference builtins: the line's links with other lines and its named conference rooms, all through
// the line's call object.
#include <map>
#include <string>
#include <vector>

#include "builtins/Families.h"
#include "builtins/VoiceState.h"
#include "engine/TagTelBasic.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_CALL_BUILTIN(TagJoinConf, 2);
ZZ_CALL_BUILTIN(TagExitConf, 0);
ZZ_CALL_BUILTIN(TagGetConfNum, 2);
ZZ_CALL_BUILTIN(TagIsInConf, 3);
ZZ_CALL_BUILTIN(TagRecConf, 2);
ZZ_CALL_BUILTIN(TagRecConfCh, 3);
ZZ_CALL_BUILTIN(TagPlayConf, 3);
ZZ_CALL_BUILTIN(TagLinkTo, 2);
ZZ_CALL_BUILTIN(TagListenTo, 2);
ZZ_CALL_BUILTIN(TagUnlinkTo, 2);
ZZ_CALL_BUILTIN(TagUnlinkAll, 0);
ZZ_CALL_BUILTIN(TagGetLinkList, 3);

namespace {

// A room is named by the text of any value.
std::string RoomName(const TagBuiltin& b, int32_t i) {
    return b.Operand(i).ToString();
}

// A voice file name completed as Play completes it.
std::string VoicePath(const TagBuiltin& b, int32_t i) {
    return b.Program()->LineState<VoiceState>().ResolveVocPath(b.Text(i));
}

} // namespace

int32_t TagJoinConf::RunOn(TagKvCall& call) {
    return call.JoinNameConf(RoomName(*this, 0).c_str(), IntVal(1));
}

int32_t TagExitConf::RunOn(TagKvCall& call) {
    return call.ExitNameConf();
}

int32_t TagGetConfNum::RunOn(TagKvCall& call) {
    std::map<int32_t, int32_t> members;
    int32_t n = call.GetConfNum(RoomName(*this, 0).c_str(), members);
    for (const auto& [line, listen] : members)
        SetOutItemInt(1, line, listen); // a read-only variable refuses them
    return n;
}

int32_t TagIsInConf::RunOn(TagKvCall& call) {
    std::string room;
    int32_t listen = 0;
    int32_t r = call.IsInConf(IntVal(0), room, listen);
    SetOutText(1, r ? room : std::string());
    SetOutInt(2, r ? listen : 0);
    return r;
}

int32_t TagRecConf::RunOn(TagKvCall& call) {
    return call.RecConf(RoomName(*this, 0).c_str(), VoicePath(*this, 1).c_str());
}

int32_t TagRecConfCh::RunOn(TagKvCall& call) {
    std::string file = *Text(2) ? VoicePath(*this, 2) : std::string();
    return call.RecConfCh(RoomName(*this, 0).c_str(), IntVal(1), file.c_str());
}

int32_t TagPlayConf::RunOn(TagKvCall& call) {
    return call.PlayConf(RoomName(*this, 0).c_str(), VoicePath(*this, 1).c_str(), IntVal(2));
}

int32_t TagLinkTo::RunOn(TagKvCall& call) {
    return call.LinkTo(IntVal(0), IntVal(1));
}

int32_t TagListenTo::RunOn(TagKvCall& call) {
    return call.ListenTo(IntVal(0), IntVal(1));
}

int32_t TagUnlinkTo::RunOn(TagKvCall& call) {
    return call.UnlinkTo(IntVal(0), IntVal(1));
}

int32_t TagUnlinkAll::RunOn(TagKvCall& call) {
    return call.UnlinkAll();
}

int32_t TagGetLinkList::RunOn(TagKvCall& call) {
    std::vector<int32_t> lists[3];
    int32_t r = call.GetLinkList(lists[0], lists[1], lists[2]);
    // The arrays hold only the links of now: a peer unlinked since must not linger in them.
    for (int32_t v = 0; v < 3; ++v)
        ClearOut(v);
    for (size_t i = 0; i < lists[0].size(); ++i)
        for (int32_t v = 0; v < 3; ++v)
            if (i < lists[v].size()) SetOutItemInt(v, int32_t(i), lists[v][i]);
    return r;
}

std::span<const BuiltinEntry> ConferenceBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(129, TagJoinConf, 2),    // JoinConf
        ZZ_ROW_L(130, TagExitConf, 0),    // ExitConf
        ZZ_ROW_L(131, TagGetConfNum, 2),  // GetConfNum
        ZZ_ROW_L(132, TagIsInConf, 3),    // IsInConf
        ZZ_ROW_L(133, TagRecConf, 2),     // RecConf
        ZZ_ROW_L(134, TagRecConfCh, 3),   // RecConfCh
        ZZ_ROW_L(135, TagPlayConf, 3),    // PlayConf
        ZZ_ROW_L(172, TagLinkTo, 2),      // LinkTo
        ZZ_ROW_L(173, TagListenTo, 2),    // ListenTo
        ZZ_ROW_L(174, TagUnlinkTo, 2),    // UnlinkTo
        ZZ_ROW_L(175, TagUnlinkAll, 0),   // UnlinkAll
        ZZ_ROW_L(176, TagGetLinkList, 3), // GetLinkList
    };
    return rows;
}

} // namespace zz
