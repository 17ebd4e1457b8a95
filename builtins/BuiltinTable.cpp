#include "builtins/BuiltinTable.h"

#include <array>

#include "builtins/Families.h"
#include "builtins/Statements.h"
#include "builtins/TagSysTimers.h"
#include "builtins/UserDll.h"
#include "engine/TagBuiltinHost.h"
#include "engine/TagKeyword.h"
#include "engine/TagTelBasic.h"

namespace zz {

namespace {

struct Index {
    std::array<const BuiltinEntry*, TagKeyword::kCount> rows{};

    Index() {
        using Part = std::span<const BuiltinEntry> (*)();
        static constexpr Part kParts[] = {
            StatementBuiltins,       StringsBuiltins,      TextConvertBuiltins, PatternsBuiltins,  RunTimeBuiltins,
            DatabaseBuiltins,        LineSettingsBuiltins, CallControlBuiltins, SoundCardBuiltins, SipBuiltins,
            InstantMessagesBuiltins, ConferenceBuiltins,   FaxBuiltins,         SocketsBuiltins,   FilesBuiltins,
            UserDllBuiltins,         SysInfoBuiltins,      MessagesBuiltins,    AcdBuiltins,       ShareMemBuiltins,
            SignallingBuiltins,      DateTimeBuiltins,     VoiceFilesBuiltins,
        };
        for (Part part : kParts)
            for (const BuiltinEntry& e : part())
                if (e.ordinal >= 0 && e.ordinal < TagKeyword::kCount) rows[static_cast<size_t>(e.ordinal)] = &e;
    }
};

const BuiltinEntry* Row(int32_t ordinal) {
    static const Index index;
    if (ordinal < 0 || ordinal >= TagKeyword::kCount) return nullptr;
    return index.rows[static_cast<size_t>(ordinal)];
}

} // namespace

int32_t BuiltinArgCount(int32_t ordinal) {
    const BuiltinEntry* e = Row(ordinal);
    return e ? e->argCount : -1;
}

std::unique_ptr<TagOper> MakeBuiltinOper(int32_t ordinal, TagVar* const* args, int32_t argCount, TagTelBasic* prog,
                                         const char** message) {
    const char* dummy = nullptr;
    const char*& msg = message ? *message : dummy;
    msg = nullptr;
    const BuiltinEntry* e = Row(ordinal);
    const RecKeyword* rec = g_keyword.At(ordinal);
    if (!e || !rec) {
        msg = "语法错误";
        return nullptr;
    }
    if (argCount > e->argCount) {
        msg = "操作参数太多";
        return nullptr;
    }
    if (argCount < e->argCount || (argCount > 0 && !args)) {
        msg = "操作参数不够";
        return nullptr;
    }
    std::unique_ptr<TagOper> op = e->make(args, prog);
    op->kind = static_cast<char>(rec->kind);
    if (auto* b = dynamic_cast<TagBuiltin*>(op.get())) b->builtinName = rec->name;
    return op;
}

namespace {

class BuiltinsHost final : public TagBuiltinHost {
public:
    std::unique_ptr<TagOper> MakeBuiltin(int32_t ordinal, TagVar* const* args, int32_t argCount, TagTelBasic* prog,
                                         const char** message) override {
        return MakeBuiltinOper(ordinal, args, argCount, prog, message);
    }
    bool FindLibFunc(TagTelBasic* prog, const char* name, int32_t* paramCount) override {
        const UserLibState* lib = prog ? prog->FindLineState<UserLibState>() : nullptr;
        return lib && lib->FindFuncName(name, paramCount) >= 0;
    }
    std::unique_ptr<TagOper> MakeLibCall(const char* name, TagVar* const* args, int32_t argCount,
                                         TagTelBasic* prog) override {
        auto call = std::make_unique<TagDllCall>(name, prog);
        for (int32_t i = 0; i < argCount; ++i)
            call->AddPara(args[i]);
        return call;
    }
    void FireTimers(TagTelBasic& root) override {
        if (TagSysTimers* t = root.FindLineState<TagSysTimers>()) t->CheckTimers();
    }
};

} // namespace

void RegisterBuiltins() {
    static BuiltinsHost host;
    SetBuiltinHost(&host);
}

} // namespace zz
