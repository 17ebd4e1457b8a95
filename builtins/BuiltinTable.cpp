#include "builtins/BuiltinTable.h"

#include <array>

#include "builtins/Families.h"
#include "engine/TagKeyword.h"
#include "telephony/TagWriteLog.h"

namespace zz {

namespace {

struct Index {
    std::array<const BuiltinEntry*, TagKeyword::kCount> rows{};

    Index() {
        using Part = std::span<const BuiltinEntry> (*)();
        static constexpr Part kParts[] = {
            StringsBuiltins,      TextConvertBuiltins, PatternsBuiltins,  RunTimeBuiltins,  DatabaseBuiltins,
            LineSettingsBuiltins, CallControlBuiltins, SoundCardBuiltins, SipBuiltins,      InstantMessagesBuiltins,
            ConferenceBuiltins,   FaxBuiltins,         SocketsBuiltins,   FilesBuiltins,    UserDllBuiltins,
            SysInfoBuiltins,      MessagesBuiltins,    AcdBuiltins,       ShareMemBuiltins,
        };
        for (Part part : kParts)
            for (const BuiltinEntry& e : part())
                if (e.ordinal >= TagKeyword::kFirstBuiltin && e.ordinal < TagKeyword::kCount)
                    rows[static_cast<size_t>(e.ordinal)] = &e;
    }
};

const BuiltinEntry* Row(int32_t ordinal) {
    static const Index index;
    if (ordinal < TagKeyword::kFirstBuiltin || ordinal >= TagKeyword::kCount) return nullptr;
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

} // namespace zz
