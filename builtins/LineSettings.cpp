// Line settings and line state builtins: the voice directories, language and keys of the line, options stored in
// the call object, single call operations passed on, raw signalling data and the operator's line grid.
#include "builtins/LineSettings.h"

#include <cstdio>
#include <string>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/VoiceState.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagTelDrive.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagSelectLan, 1);
ZZ_BUILTIN_L_RUN(TagSetSndDir, 3);
ZZ_CALL_BUILTIN(TagSetBreak, 1);
ZZ_BUILTIN_L_RUN(TagSetEndKey, 1);
ZZ_CALL_BUILTIN(TagSetKeyTime, 1);
ZZ_BUILTIN_L_RUN(TagSetTimeoutVoc, 1);
ZZ_CALL_BUILTIN(TagSetNobkringAns, 1);
ZZ_CALL_BUILTIN(TagSetVolume, 2);
ZZ_CALL_BUILTIN(TagSetBusyPara, 3);
ZZ_CALL_BUILTIN(TagSetRingbackPara, 3);
ZZ_CALL_BUILTIN(TagSetSignalFreqPara, 3);
ZZ_BUILTIN_L_RUN(TagSetSndExt, 1);
ZZ_BUILTIN_L_RUN(TagSetPlayToFile, 1);
ZZ_BUILTIN_L_RUN(TagSetDispKeys, 1);
ZZ_CALL_BUILTIN(TagSetCallerId, 1);
ZZ_CALL_BUILTIN(TagSetFirstCalleeId, 2);
ZZ_CALL_BUILTIN(TagSetSubAddr, 2);
ZZ_CALL_BUILTIN(TagSetCharge, 1);
ZZ_BUILTIN_L_RUN(TagGetCurSndDir, 2);
ZZ_CALL_BUILTIN(TagSetMaxTalkTime, 1);
ZZ_CALL_BUILTIN(TagGetSigRawData, 1);
ZZ_CALL_BUILTIN(TagSetSigRawData, 2);
ZZ_CALL_BUILTIN(TagKeysLen, 1);
ZZ_CALL_BUILTIN(TagIsPcPlayEnd, 1);
ZZ_BUILTIN_P_RUN(TagPcSetKeys, 2);

namespace {

// Talk limits below a minute are raised to one.
constexpr int32_t kMinTalkLimit = 60;
// Raw data of at least this many characters, beginning with two hexadecimal digits, is hexadecimal text.
constexpr size_t kHexTextMin = 7;

VoiceState& Voice(const TagBuiltin& b) {
    return b.Program()->LineState<VoiceState>();
}

// A voice directory ends in a separator; a double-byte character ending in 0x5C is none.
std::string WithSeparator(std::string dir) {
    if (dir.empty()) return dir;
    size_t last = GbkSafeCut(dir, dir.size() - 1);
    bool ends = last == dir.size() - 1 && (dir.back() == '\\' || dir.back() == '/');
    return ends ? dir : dir + '\\';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsHexText(std::string_view s) {
    return s.size() >= kHexTextMin && HexDigit(s[0]) >= 0 && HexDigit(s[1]) >= 0;
}

// Hexadecimal text to bytes: blanks skipped, two digits a byte, a last lone digit a byte of its own. False at a
// character that is neither.
bool ParseHexText(std::string_view s, std::string& out) {
    std::string digits;
    for (char c : s) {
        if (c == ' ' || c == '\t') continue;
        if (HexDigit(c) < 0) return false;
        digits += c;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        int v = HexDigit(digits[i]);
        if (i + 1 < digits.size()) v = v * 16 + HexDigit(digits[i + 1]);
        out += char(v);
    }
    return true;
}

} // namespace

int32_t TagSelectLan::Run() {
    int32_t lan = IntVal(0);
    if (!Program() || lan < 0 || lan >= VoiceState::kLanguages) return kBuiltinBadArg;
    Voice(*this).language = lan;
    return lan;
}

int32_t TagSetSndDir::Run() {
    if (!Program()) return kBuiltinBadArg;
    VoiceState& voice = Voice(*this);
    for (int32_t i = 0; i < VoiceState::kLanguages; ++i)
        voice.voiceDir[i] = WithSeparator(Text(i));
    return kBuiltinOk;
}

int32_t TagGetCurSndDir::Run() {
    if (!Program()) return kBuiltinBadArg;
    VoiceState& voice = Voice(*this);
    SetOutText(0, voice.VoiceDir());
    SetOutInt(1, voice.language);
    return kBuiltinOk;
}

int32_t TagSetBreak::RunOn(TagKvCall& call) {
    uint8_t on = StoredInt(0) != 0 ? 1 : 0;
    Voice(*this).breakOnKey = on;
    call.SetBreak(on);
    return kBuiltinOk;
}

int32_t TagSetEndKey::Run() {
    if (Program()) Voice(*this).endKey = Text(0)[0];
    return kBuiltinOk;
}

int32_t TagSetKeyTime::RunOn(TagKvCall& call) {
    call.SetKeyTime(IntVal(0));
    return kBuiltinOk;
}

// Anything but a string clears the time-out voice, so that a failed GetKeys no longer plays it and hangs up.
int32_t TagSetTimeoutVoc::Run() {
    if (!Program()) return kBuiltinBadArg;
    VoiceState& voice = Voice(*this);
    if (Operand(0).type != TagVar::kString) {
        voice.timeoutVoice.clear();
        return kBuiltinBadArg;
    }
    voice.timeoutVoice = Text(0);
    return kBuiltinOk;
}

int32_t TagSetSndExt::Run() {
    if (Program()) Voice(*this).sndExt = Text(0);
    return kBuiltinOk;
}

int32_t TagSetPlayToFile::Run() {
    return Program() ? Voice(*this).SetPlayToFile(IntVal(0) != 0 ? 1 : 0) : kBuiltinBadArg;
}

int32_t TagSetDispKeys::Run() {
    int32_t mode = IntVal(0);
    if (Program()) Program()->LineState<LineSettingsState>().keyDispMode = mode;
    return mode;
}

int32_t TagSetNobkringAns::RunOn(TagKvCall& call) {
    call.SetNobkringAns(StoredInt(0) != 0 ? 1 : 0);
    return kBuiltinOk;
}

// The script names the kind first; the call takes the level first.
int32_t TagSetVolume::RunOn(TagKvCall& call) {
    call.SetVolume(IntVal(1), IntVal(0));
    return kBuiltinOk;
}

int32_t TagSetBusyPara::RunOn(TagKvCall& call) {
    call.SetBusyPara(IntVal(0), IntVal(1), IntVal(2));
    return kBuiltinOk;
}

int32_t TagSetRingbackPara::RunOn(TagKvCall& call) {
    call.SetRingbackPara(IntVal(0), IntVal(1), IntVal(2));
    return kBuiltinOk;
}

int32_t TagSetSignalFreqPara::RunOn(TagKvCall& call) {
    call.SetSignalFreqPara(StoredInt(0), StoredInt(1), StoredInt(2));
    return kBuiltinOk;
}

int32_t TagSetCallerId::RunOn(TagKvCall& call) {
    call.SetCallerId(Text(0));
    return kBuiltinOk;
}

int32_t TagSetFirstCalleeId::RunOn(TagKvCall& call) {
    call.SetFirstCalleeId(Text(0), IntVal(1));
    return kBuiltinOk;
}

int32_t TagSetSubAddr::RunOn(TagKvCall& call) {
    call.SetSubAddr(Text(0), Text(1));
    return kBuiltinOk;
}

int32_t TagSetCharge::RunOn(TagKvCall& call) {
    return call.SetCharge(IntVal(0) != 0 ? 1 : 0);
}

int32_t TagSetMaxTalkTime::RunOn(TagKvCall& call) {
    int32_t seconds = IntVal(0);
    if (seconds < 1) {
        call.maxTalkTime = 0;
    } else if (seconds >= kMinTalkLimit) {
        call.maxTalkTime = seconds;
        call.connectTime = CalendarNow();
    } else {
        call.maxTalkTime = kMinTalkLimit;
    }
    // A line waiting now takes the new limit into its wait.
    call.wake.Signal();
    return call.maxTalkTime;
}

int32_t TagGetSigRawData::RunOn(TagKvCall& call) {
    std::string data = call.TakeSigReceived();
    if (data.empty()) return 0;
    call.WriteLogF("GetSigRawData=%d", int(data.size()));
    SetOutText(0, data);
    return int32_t(data.size());
}

int32_t TagSetSigRawData::RunOn(TagKvCall& call) {
    const TagVar& v = Operand(0);
    std::string_view text = Bytes(0);
    std::string data;
    if (v.type == TagVar::kString && IsHexText(text)) {
        if (!ParseHexText(text, data)) return kBuiltinBadArg;
    } else {
        int32_t n = IntVal(1);
        if (v.type != TagVar::kString || StoredInt(0) < n) {
            WriteRunLogF("SetSigRawData: 参数不对, len=%d, i=%d, type=%d", n, StoredInt(0), v.type);
            return kBuiltinBadArg;
        }
        if (n < 1) n = int32_t(text.size());
        // n may take the terminating zero as well, which the text holds.
        data.assign(Text(0), size_t(n));
    }
    return call.SetSigRawData(reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()));
}

int32_t TagKeysLen::RunOn(TagKvCall& call) {
    int32_t n = call.KeysLen();
    SetOutInt(0, n);
    return n;
}

int32_t TagIsPcPlayEnd::RunOn(TagKvCall& call) {
    int32_t end = call.IsPcPlayEnd();
    SetOutInt(0, end);
    return end;
}

int32_t TagDispInfo::Run() {
    if (auto disp = CurrentLineDisplay().dispInfo) disp(displayLine, IntVal(0), Operand(1).ToString().c_str());
    return kBuiltinOk;
}

int32_t TagSetDispColor::Run() {
    if (auto color = CurrentLineDisplay().setDispColor) color(displayLine, IntVal(0), IntVal(1));
    return kBuiltinOk;
}

int32_t TagPcSetKeys::Run() {
    if (auto keys = CurrentLineDisplay().dispKeys) keys(IntVal(0), Text(1));
    return kBuiltinOk;
}

std::span<const BuiltinEntry> LineSettingsBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(66, TagSelectLan, 1),         // SelectLan
        ZZ_ROW_L(67, TagSetSndDir, 3),         // SetSndDir
        ZZ_ROW_L(68, TagSetBreak, 1),          // SetBreak
        ZZ_ROW_L(69, TagSetEndKey, 1),         // SetEndKey
        ZZ_ROW_L(70, TagSetKeyTime, 1),        // SetKeyTime
        ZZ_ROW_L(71, TagSetTimeoutVoc, 1),     // SetTimeoutVoc
        ZZ_ROW_L(72, TagSetNobkringAns, 1),    // SetNobkringAns
        ZZ_ROW_L(73, TagSetVolume, 2),         // SetVolume
        ZZ_ROW_L(74, TagSetBusyPara, 3),       // SetBusyPara
        ZZ_ROW_L(75, TagSetRingbackPara, 3),   // SetRingbackPara
        ZZ_ROW_L(76, TagSetSignalFreqPara, 3), // SetSignalFreqPara
        ZZ_ROW_L(77, TagSetSndExt, 1),         // SetSndExt
        ZZ_ROW_L(78, TagSetPlayToFile, 1),     // SetPlayToFile
        ZZ_ROW_L(79, TagSetDispKeys, 1),       // SetDispKeys
        ZZ_ROW_L(80, TagSetCallerId, 1),       // SetCallerId
        ZZ_ROW_L(81, TagSetFirstCalleeId, 2),  // SetFirstCalleeId
        ZZ_ROW_L(82, TagSetSubAddr, 2),        // SetSubAddr
        ZZ_ROW_L(83, TagSetCharge, 1),         // SetCharge
        ZZ_ROW_L(84, TagGetCurSndDir, 2),      // GetCurSndDir
        ZZ_ROW_L(159, TagKeysLen, 1),          // KeysLen
        ZZ_ROW_L(160, TagIsPcPlayEnd, 1),      // IsPcPlayEnd
        ZZ_ROW_P(204, TagPcSetKeys, 2),        // PcSetKeys
        ZZ_ROW_L(275, TagSetMaxTalkTime, 1),   // SetMaxTalkTime
        ZZ_ROW_L(276, TagGetSigRawData, 1),    // GetSigRawData
        ZZ_ROW_L(277, TagSetSigRawData, 2),    // SetSigRawData
    };
    return rows;
}

} // namespace zz
