// Call-control and voice builtins: waiting for and placing calls, playing and recording, the numbers of a call,
// keys, hanging up, and the forwarders of single call operations. Each acts through the line's call object,
// whose operations block the line's thread while they wait.
#include <algorithm>
#include <string>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/VoiceState.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_CALL_BUILTIN(TagPlay, 1);
ZZ_CALL_BUILTIN(TagRecord, 2);
ZZ_CALL_BUILTIN(TagWaitRing, 1);
ZZ_CALL_BUILTIN(TagIsRings, 1);
ZZ_CALL_BUILTIN(TagIsRinging, 2);
ZZ_CALL_BUILTIN(TagAnswer, 1);
ZZ_CALL_BUILTIN(TagSetKeys, 1);
ZZ_BUILTIN_L_RUN(TagSetStarToPoint, 1);
ZZ_CALL_BUILTIN(TagOutCall, 1);
ZZ_CALL_BUILTIN(TagCheckDial, 0);
ZZ_CALL_BUILTIN(TagDial, 1);
ZZ_CALL_BUILTIN(TagSetTones, 10);
ZZ_CALL_BUILTIN(TagClearTones, 0);
ZZ_CALL_BUILTIN(TagSetDialOn, 2);
ZZ_CALL_BUILTIN(TagSetDialFailedTo, 1);
ZZ_CALL_BUILTIN(TagHangup, 0);
ZZ_CALL_BUILTIN(TagStartLoopPlay, 1);
ZZ_CALL_BUILTIN(TagReLoopPlay, 0);
ZZ_CALL_BUILTIN(TagStopPlay, 0);
ZZ_CALL_BUILTIN(TagEnableLineSpeaker, 1);
ZZ_CALL_BUILTIN(TagOpenLine, 0);
ZZ_CALL_BUILTIN(TagCloseLine, 0);
ZZ_CALL_BUILTIN(TagStartRecord, 2);
ZZ_CALL_BUILTIN(TagGetCallerId, 1);
ZZ_CALL_BUILTIN(TagGetCalleeId, 1);
ZZ_CALL_BUILTIN(TagGetFirstCalleeId, 1);
ZZ_CALL_BUILTIN(TagMakeRing, 1);
ZZ_CALL_BUILTIN(TagGetHookState, 0);
ZZ_CALL_BUILTIN(TagTransferTo, 1);

namespace {

// Dial strings of more than 99 characters are refused before the line is touched.
constexpr int32_t kMaxDialStored = 100;
constexpr int32_t kDialTooLong = -100;
// Key input takes at most this many keys, what the call's key buffer holds; 100 when the script gives none.
constexpr int32_t kMaxKeys = static_cast<int32_t>(TagKvCall::kKeyBufLen);
constexpr int32_t kDefaultKeys = 100;

VoiceState& Voice(const TagBuiltin& b) {
    return b.Program()->LineState<VoiceState>();
}

// Numbers of a call come in 512-byte buffers: at most 511 bytes, never half a character.
std::string NumberText(const std::string& number) {
    return number.substr(0, GbkSafeCut(number, TagKvCall::kNumberLen));
}

// A failed Dial or CheckDial either marks the call (state 11) or leaves its result for OnDisconn.
int32_t MarkDialResult(const TagBuiltin& b, TagKvCall& call, int32_t r) {
    if (r >= 0) return r;
    if (call.dialFailMark == 1)
        call.SetCallState(kCallDialFailed);
    else
        b.Program()->dialFailWord = r;
    return r;
}

// GetCallerId and its kin: the number into the out operand, a non-empty one into the line's log.
int32_t TakeNumber(const TagBuiltin& b, TagKvCall& call, int (TagKvCall::*get)(std::string&)) {
    std::string number;
    int32_t r = (call.*get)(number);
    number = NumberText(number);
    if (!number.empty()) call.WriteLog(number.c_str());
    b.SetOutText(0, number);
    return r;
}

} // namespace

int32_t TagPlay::RunOn(TagKvCall& call) {
    return Voice(*this).PlayVoice(call, Text(0));
}

int32_t TagStartLoopPlay::RunOn(TagKvCall& call) {
    return call.StartLoopPlay(Voice(*this).ResolveVocPath(Text(0)).c_str(), 0);
}

int32_t TagStopPlay::RunOn(TagKvCall& call) {
    call.StopPlay();
    return kBuiltinOk;
}

int32_t TagReLoopPlay::RunOn(TagKvCall& call) {
    return call.ReLoopPlay();
}

int32_t TagRecord::RunOn(TagKvCall& call) {
    VoiceState& voice = Voice(*this);
    return call.Record(voice.ResolveVocPath(Text(0)).c_str(), StoredInt(1), voice.breakOnKey);
}

int32_t TagStartRecord::RunOn(TagKvCall& call) {
    return call.SpyRec(Voice(*this).ResolveVocPath(Text(0)).c_str(), StoredInt(1));
}

int32_t TagOutCall::RunOn(TagKvCall& call) {
    int32_t r = call.OutCall(Text(0), 0, 0);
    Program()->dialFailWord = r;
    if (r < 0 && call.dialFailMark == 1) call.SetCallState(kCallDialFailed);
    return r;
}

int32_t TagDial::RunOn(TagKvCall& call) {
    if (StoredInt(0) > kMaxDialStored) return kDialTooLong;
    return MarkDialResult(*this, call, call.Dial(Text(0)));
}

int32_t TagCheckDial::RunOn(TagKvCall& call) {
    return MarkDialResult(*this, call, call.CheckDial());
}

int32_t TagSetDialFailedTo::RunOn(TagKvCall& call) {
    int32_t flag = IntVal(0);
    call.dialFailMark = flag;
    return flag;
}

int32_t TagWaitRing::RunOn(TagKvCall& call) {
    return call.WaitRing(StoredInt(0));
}

int32_t TagIsRings::RunOn(TagKvCall& call) {
    return call.IsRings(StoredInt(0));
}

int32_t TagIsRinging::RunOn(TagKvCall& call) {
    std::string caller, called;
    int32_t r = call.IsRinging(caller, called);
    if (r > 0) {
        SetOutText(0, NumberText(caller));
        SetOutText(1, NumberText(called));
    }
    return r;
}

int32_t TagAnswer::RunOn(TagKvCall& call) {
    return call.Answer(IntVal(0) != 0 ? 1 : 0);
}

int32_t TagGetCallerId::RunOn(TagKvCall& call) {
    return TakeNumber(*this, call, &TagKvCall::GetCallerId);
}

int32_t TagGetCalleeId::RunOn(TagKvCall& call) {
    return TakeNumber(*this, call, &TagKvCall::GetCalleeId);
}

int32_t TagGetFirstCalleeId::RunOn(TagKvCall& call) {
    return TakeNumber(*this, call, &TagKvCall::GetFirstCalleeId);
}

// GetKeys(out, count, seconds): a failed input plays the time-out voice (keys do not cut it short) and hangs up,
// unless the script cleared that voice; a call that ended under it has no one to hear the voice. The keys come
// back with '*' and '.' turned as the line asks.
int32_t TagGetKeys::RunOn(TagKvCall& call) {
    VoiceState& voice = Voice(*this);
    int32_t count = StoredInt(1) > 0 ? std::min(StoredInt(1), kMaxKeys) : kDefaultKeys;
    std::string keys;
    int32_t r = call.GetKeys(keys, count, StoredInt(2), voice.endKey);
    if (keys.size() > size_t(count)) keys.resize(size_t(count));
    if (r < 0 && !voice.timeoutVoice.empty()) {
        if (r != TagKvCall::kKeysCallEnded) call.Play(voice.ResolveVocPath(voice.timeoutVoice.c_str()).c_str(), 0, 0);
        call.Hangup();
    }
    VoiceState::StarToPoint(voice.starToPoint, keys);
    SetOutText(0, keys);
    return r;
}

int32_t TagHangup::RunOn(TagKvCall& call) {
    call.Hangup();
    return kBuiltinOk;
}

int32_t TagSetKeys::RunOn(TagKvCall& call) {
    return call.SetKeys(Text(0));
}

int32_t TagSetStarToPoint::Run() {
    if (Program()) Voice(*this).starToPoint = IntVal(0) != 0 ? 1 : 0;
    return kBuiltinOk;
}

int32_t TagSetTones::RunOn(TagKvCall& call) {
    std::array<int32_t, 9> params{};
    for (size_t i = 0; i < params.size(); ++i)
        params[i] = StoredInt(int32_t(i) + 1);
    return call.tones.SetTones(StoredInt(0), params);
}

int32_t TagClearTones::RunOn(TagKvCall& call) {
    call.tones.ClearTones();
    return kBuiltinOk;
}

int32_t TagSetDialOn::RunOn(TagKvCall& call) {
    call.dialOn[0] = IntVal(0);
    call.dialOn[1] = IntVal(1);
    return call.dialOn[0];
}

int32_t TagEnableLineSpeaker::RunOn(TagKvCall& call) {
    call.EnableLineSpeaker(IntVal(0));
    return kBuiltinOk;
}

int32_t TagOpenLine::RunOn(TagKvCall& call) {
    call.OpenLine();
    return kBuiltinOk;
}

int32_t TagCloseLine::RunOn(TagKvCall& call) {
    call.CloseLine();
    return kBuiltinOk;
}

int32_t TagMakeRing::RunOn(TagKvCall& call) {
    return call.MakeRing(Text(0));
}

int32_t TagGetHookState::RunOn(TagKvCall& call) {
    return call.GetHookState();
}

int32_t TagTransferTo::RunOn(TagKvCall& call) {
    return call.TransferTo(Text(0));
}

std::span<const BuiltinEntry> CallControlBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(90, TagPlay, 1),               // Play
        ZZ_ROW_L(91, TagRecord, 2),             // Record
        ZZ_ROW_L(92, TagWaitRing, 1),           // WaitRing
        ZZ_ROW_L(93, TagIsRings, 1),            // IsRings
        ZZ_ROW_L(94, TagIsRinging, 2),          // IsRinging
        ZZ_ROW_L(95, TagAnswer, 1),             // Answer
        ZZ_ROW_L(97, TagSetKeys, 1),            // SetKeys
        ZZ_ROW_L(98, TagSetStarToPoint, 1),     // SetStarToPoint
        ZZ_ROW_L(99, TagOutCall, 1),            // OutCall
        ZZ_ROW_L(100, TagCheckDial, 0),         // CheckDial
        ZZ_ROW_L(101, TagDial, 1),              // Dial
        ZZ_ROW_L(102, TagSetTones, 10),         // SetTones
        ZZ_ROW_L(103, TagClearTones, 0),        // ClearTones
        ZZ_ROW_L(104, TagSetDialOn, 2),         // SetDialOn
        ZZ_ROW_L(105, TagSetDialFailedTo, 1),   // SetDialFailedTo
        ZZ_ROW_L(106, TagHangup, 0),            // Hangup
        ZZ_ROW_L(154, TagStartLoopPlay, 1),     // StartLoopPlay
        ZZ_ROW_L(155, TagReLoopPlay, 0),        // ReLoopPlay
        ZZ_ROW_L(156, TagStopPlay, 0),          // Stop
        ZZ_ROW_L(165, TagEnableLineSpeaker, 1), // EnableLineSpeaker
        ZZ_ROW_L(166, TagOpenLine, 0),          // OpenLine
        ZZ_ROW_L(167, TagCloseLine, 0),         // CloseLine
        ZZ_ROW_L(168, TagStartRecord, 2),       // StartRecord
        ZZ_ROW_L(169, TagGetCallerId, 1),       // GetCallerId
        ZZ_ROW_L(170, TagGetCalleeId, 1),       // GetCalleeId
        ZZ_ROW_L(171, TagGetFirstCalleeId, 1),  // GetFirstCalleeId
        ZZ_ROW_L(177, TagMakeRing, 1),          // MakeRing
        ZZ_ROW_L(178, TagGetHookState, 0),      // GetHookState
        ZZ_ROW_L(179, TagTransferTo, 1),        // TransferTo
    };
    return rows;
}

} // namespace zz
