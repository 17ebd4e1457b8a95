// Sound-card, key and speech builtins: play on the PC sound card, keys typed at the console for a virtual line,
// the speech settings and speech on the line, on the sound card or into a file.
#include <cstdio>
#include <functional>
#include <string>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/LineSockets.h"
#include "builtins/SpeechState.h"
#include "builtins/VoiceState.h"
#include "media/Big5Text.h"
#include "media/SpeechEngine.h"
#include "media/WavJoin.h"
#include "platform/Clock.h"
#include "platform/PathMap.h"
#include "telephony/LineKeys.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_CALL_BUILTIN(TagPcPlay, 2);
ZZ_CALL_BUILTIN(TagClearKeys, 0);
ZZ_CALL_BUILTIN(TagSetTtsPara, 3);
ZZ_CALL_BUILTIN(TxtSpeakToFile, 4);

namespace {

// A virtual line takes its keys, numbers and speech on the PC. A program without a call object compiles as a
// telephone line.
bool OnVirtualLine(TagTelBasic* prog) {
    const TagCallState* call = prog ? prog->Call() : nullptr;
    return call && call->lineKind == kLineVirtual;
}

std::unique_ptr<TagOper> MakeGetKeys(TagVar* const* a, TagTelBasic* prog) {
    if (OnVirtualLine(prog)) return std::make_unique<TagPcGetKeys>(a[0], a[1], a[2], prog);
    return std::make_unique<TagGetKeys>(a[0], a[1], a[2], prog);
}

template <bool kAlwaysPc> std::unique_ptr<TagOper> MakePlayNumber(TagVar* const* a, TagTelBasic* prog) {
    uint8_t pc = kAlwaysPc || OnVirtualLine(prog) ? 1 : 0;
    return std::make_unique<TagPlayNumber>(a[0], a[1], prog, pc);
}

template <bool kAlwaysPc> std::unique_ptr<TagOper> MakeTxtSpeak(TagVar* const* a, TagTelBasic* prog) {
    uint8_t pc = kAlwaysPc || OnVirtualLine(prog) ? 1 : 0;
    return std::make_unique<TagTxtSpeak>(pc, a[0], a[1], a[2], prog);
}

template <class C> std::unique_ptr<TagOper> MakeLineShown(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<C>((prog ? prog->ParentOrSelf()->lineNo : 0), a[0], a[1]);
}

VoiceState& Voice(const TagBuiltin& b) {
    return b.Program()->LineState<VoiceState>();
}

SpeechState& Speech(const TagBuiltin& b) {
    return b.Program()->LineState<SpeechState>();
}

// A text over the length one speech takes: logged and refused with kHrInvalidArg.
bool TooLongToSpeak(TagKvCall& call, const std::string& text) {
    if (text.size() <= kMaxSpeechText) return false;
    char line[120];
    std::snprintf(line, sizeof line, "speech text of %zu bytes refused: at most %zu", text.size(), kMaxSpeechText);
    call.WriteLogAlways(line);
    return true;
}

// Speech takes GBK text: Big5 text is converted first.
std::string SpeechText(const char* text, bool mayBeBig5) {
    std::string s = text ? text : "";
    if (!mayBeBig5 || !IsBig5Text(s)) return s;
    std::string gbk;
    return Big5ToGbk(gbk, s);
}

// The characters that end key input: none without an end key, else '#' and the end key, where '*' and '.'
// stand for each other.
std::string EndKeys(char endKey) {
    if (!endKey) return {};
    if (endKey == '*' || endKey == '.') return "#*.";
    return std::string("#") + endKey;
}

// The wait until the next time-out of key input is due: just past the inter-key time since the last new key
// (k seconds) and the whole time since the start (t seconds); each 0 or less sets no limit.
int64_t KeyWaitMs(int32_t k, uint32_t lastKey, int32_t t, uint32_t start, int64_t talkLeft) {
    int64_t wait = talkLeft;
    auto limit = [&](int32_t seconds, uint32_t from) {
        if (seconds <= 0) return;
        int64_t left = int64_t(seconds) * 1000 - int64_t(TicksSince(from)) + 1;
        if (wait < 0 || left < wait) wait = left < 0 ? 0 : left;
    };
    limit(k, lastKey);
    limit(t, start);
    return wait;
}

bool KeyTimedOut(int32_t k, uint32_t lastKey, int32_t t, uint32_t start) {
    return (k > 0 && int64_t(TicksSince(lastKey)) > int64_t(k) * 1000) ||
           (t > 0 && int64_t(TicksSince(start)) > int64_t(t) * 1000);
}

} // namespace

int32_t TagPcPlay::RunOn(TagKvCall& call) {
    VoiceState& voice = Voice(*this);
    std::string path = voice.ResolveVocPath(Text(0));
    if (voice.playToFile) return voice.AppendToJoinFile(path);
    int32_t mode = IntVal(1);
    if (mode == 0) return call.PcPlay(path.c_str(), 0, 1, 0); // to the end
    if (mode < 0) return call.PcPlay(path.c_str(), 0, 0, 0);  // started only
    return call.PcPlay(path.c_str(), 1, 0, 0);                // looping
}

// Keys typed for the line in its Keys column: up to the first end character (a '#' there is not kept), or the
// maximum count. The line blocks on its wake event, which typing, a hang-up and a stop signal.
int32_t TagPcGetKeys::RunOn(TagKvCall& call) {
    TagTelBasic& root = *Program();
    VoiceState& voice = Voice(*this);
    const std::string ends = EndKeys(voice.endKey);
    const int32_t max = StoredInt(1), t = StoredInt(2), k = call.keyTime;
    const uint32_t start = GetTickCount();
    uint32_t lastKey = start;
    size_t lastLen = 0;
    int32_t result = -1;
    std::string taken;
    char endedOn = 0;
    auto look = [&] {
        if (root.stop || call.stopFlag) {
            result = -2;
            return true;
        }
        call.IsOnline();
        if (call.callState == kCallReleased) {
            result = -2;
            return true;
        }
        bool done = false;
        taken = TakeLineKeys(call.lineNo, [&](const std::string& column) -> size_t {
            size_t end = ends.empty() ? std::string::npos : column.find_first_of(ends);
            done = true;
            if (end != std::string::npos) return endedOn = column[end], end + 1;
            if (max <= 0) return 0;
            if (column.size() >= size_t(max)) return size_t(max);
            done = false;
            if (column.size() > lastLen) lastKey = GetTickCount();
            lastLen = column.size();
            return 0;
        });
        done = done || max <= 0; // a maximum of 0 returns at once, with or without a Keys column
        if (done) result = int32_t(taken.size());
        return done;
    };
    while (!call.WaitLine(KeyWaitMs(k, lastKey, t, start, call.TalkTimeLeftMs()), look)) {
        if (KeyTimedOut(k, lastKey, t, start)) break; // the typed keys stay in the column
    }
    if (result < 0) {
        SetOutText(0, "");
        return result;
    }
    // Only a '#' that ended the input is dropped; one taken as a plain key stays.
    if (endedOn == '#' && !taken.empty() && taken.back() == '#') taken.pop_back();
    VoiceState::StarToPoint(voice.starToPoint, taken);
    SetOutText(0, taken);
    return result;
}

int32_t TagClearKeys::RunOn(TagKvCall& call) {
    call.ClearKeys();
    return kBuiltinOk;
}

int32_t TagSetTtsPara::RunOn(TagKvCall& call) {
    int32_t mode = IntVal(0);
    int32_t r = Speech(*this).SetSpeechMode(mode, Text(1), Text(2));
    call.speechMode = mode;
    return r;
}

int32_t TagTxtSpeak::Run() {
    TagKvCall* call = Call();
    if (!call) return kBuiltinBadArg;
    const int32_t a = IntVal(1) != 0, b = IntVal(2) != 0;
    const std::string text = SpeechText(Text(0), !a);
    if (TooLongToSpeak(*call, text)) return kHrInvalidArg;
    SpeechState& speech = Speech(*this);
    if (speech.speechMode != 1) return call->TxtSpeak(text.c_str(), a, b, pcFlag);
    // Syllable speech goes through a file of the line's own, played and removed.
    VoiceState& voice = Voice(*this);
    const std::string file = voice.VoiceDir() + "tts" + std::to_string(Program()->lineNo) + voice.sndExt;
    int32_t r = speech.HypySpeak(text.c_str(), file.c_str());
    if (r > 0) {
        if (pcFlag)
            call->PcPlay(file.c_str(), 0, 1, 0);
        else
            call->Play(file.c_str(), voice.breakOnKey, a);
    }
    std::remove(ResolvePath(file).c_str());
    return r;
}

int32_t TxtSpeakToFile::RunOn(TagKvCall& call) {
    const std::string path = Voice(*this).VoiceDir() + Text(1);
    const std::string text = SpeechText(Text(0), true);
    if (TooLongToSpeak(call, text)) return kHrInvalidArg;
    const int32_t format = IntVal(2), option = IntVal(3);
    SpeechState& speech = Speech(*this);
    // A quit or reload of the line ends the speech at once.
    const std::function<bool()> stop = LineWaiter(Program()).stopped;
    if (speech.speechMode == 1) return speech.HypySpeak(text.c_str(), path.c_str());
    if (speech.speechMode != 0) return call.TxtSpeakToFile(text.c_str(), path.c_str(), format, option);
    if (format != 1) {
        int32_t r = speech.MsTtsSpeak(text.c_str(), path.c_str(), option, format, stop);
        if (r != 0) call.WriteLogAlways("MsTxt2Voc(PCM) Err.");
        return r;
    }
    // A-law: spoken as 16-bit PCM beside the file, converted into it, and the PCM file removed.
    const std::string pcm = path + ".wav";
    int32_t r = speech.MsTtsSpeak(text.c_str(), pcm.c_str(), option, 0, stop);
    if (r == 0)
        ConvertPcmWavToAlaw(ResolvePath(pcm), MapPath(path));
    else
        call.WriteLogAlways("MsTxt2Voc(A-Law) Err.");
    std::remove(ResolvePath(pcm).c_str());
    return r;
}

std::span<const BuiltinEntry> SoundCardBuiltins() {
    static const BuiltinEntry rows[] = {
        {96, 3, &MakeGetKeys},                     // GetKeys: the class follows the line kind
        {145, 2, &MakePlayNumber<false>},          // PlayNumber
        ZZ_ROW_L(157, TagPcPlay, 2),               // PcPlay
        ZZ_ROW_L(158, TagClearKeys, 0),            // ClearKeys
        ZZ_ROW_L(161, TagSetTtsPara, 3),           // SetTtsPara
        {162, 3, &MakeTxtSpeak<false>},            // TxtSpeak
        {163, 3, &MakeTxtSpeak<true>},             // PcTxtSpeak
        ZZ_ROW_L(164, TxtSpeakToFile, 4),          // TxtSpeakToFile
        ZZ_ROW_L(200, TagPcGetKeys, 3),            // PcGetKeys
        {201, 2, &MakePlayNumber<true>},           // PcPlayNumber
        {202, 2, &MakeLineShown<TagDispInfo>},     // DispInfo
        {203, 2, &MakeLineShown<TagSetDispColor>}, // SetDispColor
    };
    return rows;
}

} // namespace zz
