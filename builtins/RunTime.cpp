// Builtins that compile and run script text or other scripts while the line runs.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builtins/Families.h"
#include "builtins/FixedAtCompile.h"
#include "builtins/RunKvsState.h"
#include "builtins/ScriptPage.h"
#include "builtins/TStdOut.h"
#include "builtins/VoiceState.h"
#include "engine/TagExpre.h"
#include "engine/TagTelBasic.h"
#include "platform/TagWriteLog.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagSetRunKvsEnvt, 1);
ZZ_BUILTIN_L_RUN(TagRunPsp, 3);

namespace {

std::unique_ptr<TagOper> MakeEval(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagEval>(a[0], prog);
}
std::unique_ptr<TagOper> MakeRunKvs(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagRunKvs>(a[0], prog);
}
std::unique_ptr<TagOper> MakeRunLine(TagVar* const* a, TagTelBasic* prog) {
    return std::make_unique<TagRunLine>(a[0], prog);
}

// The line's voice settings that a called script may change through the shared root: put back when it returns.
struct VoiceSettings {
    explicit VoiceSettings(VoiceState& v)
        : state(v), language(v.language), breakOnKey(v.breakOnKey), endKey(v.endKey), timeoutVoice(v.timeoutVoice),
          sndExt(v.sndExt) {
        for (int32_t i = 0; i < VoiceState::kLanguages; ++i)
            dirs[i] = v.voiceDir[i];
    }
    ~VoiceSettings() {
        for (int32_t i = 0; i < VoiceState::kLanguages; ++i)
            state.voiceDir[i] = dirs[i];
        state.language = language;
        state.breakOnKey = breakOnKey;
        state.endKey = endKey;
        state.timeoutVoice = timeoutVoice;
        state.sndExt = sndExt;
    }
    VoiceSettings(const VoiceSettings&) = delete;
    VoiceSettings& operator=(const VoiceSettings&) = delete;

    VoiceState& state;
    std::string dirs[VoiceState::kLanguages];
    int32_t language;
    uint8_t breakOnKey;
    char endKey;
    std::string timeoutVoice, sndExt;
};

} // namespace

int32_t TagEval::Run() {
    TagTelBasic* unit = Program();
    if (!unit) return 0;
    int32_t* counter = unit->TempCounter();
    const int32_t savedCounter = *counter; // the temporaries' names are used again by the next evaluation
    std::vector<TagCalculate> steps;
    std::string err, warn;
    TagComplexExpre(Text(0), unit, "_tempVal", nullptr, "", steps, err, warn);
    int32_t r;
    if (err.empty()) {
        for (TagCalculate& s : steps)
            s.Run();
        r = unit->SetRetVal(*unit->Var(TagTelBasic::kTempVal));
    } else {
        WriteRunLog((std::string("Eval(") + Text(0) + ") :" + err + "," + warn).c_str());
        r = unit->SetRetVal(TagVar());
    }
    *counter = savedCounter;
    return r;
}

int32_t TagRunLine::Run() {
    TagTelBasic* root = Program();
    if (!root) return kBuiltinNoCompile;
    const int32_t oldCount = root->OpCount(), oldSlots = root->ops.Count();
    const int32_t oldDepth = root->blockDepth, oldErrors = root->errorCount, oldWarnings = root->warningCount;
    TagOper* oldLast = oldCount > 0 ? root->Op(oldCount - 1) : nullptr;
    TagOper* oldNext = oldLast ? oldLast->next : nullptr;
    std::vector<char> text(Text(0), Text(0) + std::strlen(Text(0)) + 1);
    int32_t r = kBuiltinNoCompile;
    if (root->CompileLine(text.data(), lineNo) == 0 && root->OpCount() > oldCount) {
        // Only the last operation the text compiled into runs.
        TagOper* op = root->Op(root->OpCount() - 1);
        op->EvalArgs();
        r = op->Run();
    }
    // Every operation the text added goes again (a failed statement keeps a slot too), and the program is linked
    // as it was.
    while (root->ops.Count() > oldSlots)
        root->ops.Remove(root->ops.Count() - 1);
    root->opCount = oldCount;
    if (oldLast) oldLast->next = oldNext;
    // A block the text opened and the messages it drew belong to the text alone.
    root->blockDepth = oldDepth;
    root->errorCount = oldErrors;
    root->warningCount = oldWarnings;
    root->DropScratch();
    return r;
}

int32_t TagRunKvs::Run() {
    TagTelBasic* unit = Program();
    if (!unit) return kBuiltinNoCompile;
    TagTelBasic* line = unit->GetRoot();
    RunKvsState& runs = line->LineState<RunKvsState>();
    if (runs.depth >= RunKvsState::kMaxDepth) {
        WriteRunLogAlways(
            ("RunKvs('" + std::string(Text(0)) + "') err: nested too deep [LINE=" + std::to_string(lineNo) + "]")
                .c_str());
        return kBuiltinBadArg;
    }
    auto called = std::make_unique<TagTelBasic>(Text(0), unit->lineNo, unit->Call(), 1, line);
    if (called->initResult != 0) {
        WriteRunLogAlways(
            ("RunKvs('" + std::string(Text(0)) + "') err: [LINE=" + std::to_string(lineNo) + "]").c_str());
        return kBuiltinNoCompile;
    }
    TagTelBasic* outer = runs.running;
    runs.running = called.get();
    ++runs.depth;
    int32_t r;
    {
        VoiceSettings saved(line->LineState<VoiceState>());
        r = called->Run();
    }
    --runs.depth;
    runs.running = outer;
    return r;
}

int32_t TagSetRunKvsEnvt::Run() {
    int32_t flag = IntVal(0);
    if (Program()) Program()->shareVars = flag != 0;
    return flag;
}

int32_t TagRunPsp::Run() {
    if (Operand(0).type != TagVar::kString || Operand(1).type != TagVar::kString) return kBuiltinBadArg;
    std::string error;
    int32_t r = ConvertPspPage(Text(0), Text(1), Operand(2), error);
    if (r < 0 && Program())
        Program()->LineState<PrintState>().Opened(Program()->lineNo).Print(Program()->lineNo, error.c_str());
    return r;
}

std::span<const BuiltinEntry> RunTimeBuiltins() {
    static const BuiltinEntry rows[] = {
        {45, 1, &MakeEval},                 // Eval
        {220, 1, &MakeRunKvs},              // RunKvs
        ZZ_ROW_L(221, TagSetRunKvsEnvt, 1), // SetRunKvsEnvt
        {222, 1, &MakeRunLine},             // RunLine
        ZZ_ROW_L(274, TagRunPsp, 3),        // PspToKvs
    };
    return rows;
}

} // namespace zz
