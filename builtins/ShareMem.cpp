// Shared-memory builtins: named values that lines exchange without messages. The first operand addresses the
// table: a line's, or the process-wide one for a negative line.
#include "builtins/Families.h"
#include "builtins/services/ServiceBuiltin.h"
#include "builtins/services/TagShareMem.h"

namespace zz {

ZZ_SERVICE_L(TagGetShareMem, 3);
ZZ_SERVICE_L(TagSetShareMem, 3);
ZZ_SERVICE_L(TagClearShareMem, 1);
ZZ_SERVICE_L(TagIncShareMem, 4);
ZZ_SERVICE_L(TagDecShareMem, 4);
ZZ_SERVICE_L(TagFindShareMem, 3);
ZZ_SERVICE_L(TagAccShareMem, 4);

namespace {

// The key operand: a string by its text, a floating-point number by its value, anything else by the integer
// word it holds, unconverted.
ShareKey KeyOf(const TagBuiltin& b, int32_t i) {
    ShareKey k;
    switch (b.Operand(i).type) {
    case TagVar::kString:
        k.kind = ShareKey::kText;
        k.text = b.Text(i);
        break;
    case TagVar::kDouble:
        k.kind = ShareKey::kFloat;
        k.d = b.Number(i);
        break;
    default:
        k.i = b.StoredInt(i);
        break;
    }
    return k;
}

template <class Fn> int32_t OnTable(const TagBuiltin& b, Fn&& fn) {
    return WithShareMem(b.IntVal(0), fn);
}

} // namespace

int32_t TagGetShareMem::Run() {
    return OnTable(*this, [&](TagShareMem& t) { return t.Get(KeyOf(*this, 1), Operand(2)); });
}

int32_t TagSetShareMem::Run() {
    return OnTable(*this, [&](TagShareMem& t) { return t.Set(KeyOf(*this, 1), Operand(2)); });
}

int32_t TagClearShareMem::Run() {
    return OnTable(*this, [](TagShareMem& t) {
        t.Clear();
        return 0;
    });
}

int32_t TagIncShareMem::Run() {
    return OnTable(*this, [&](TagShareMem& t) { return t.Inc(KeyOf(*this, 1), Operand(2), Operand(3)); });
}

int32_t TagDecShareMem::Run() {
    return OnTable(*this, [&](TagShareMem& t) { return t.Dec(KeyOf(*this, 1), Operand(2), Operand(3)); });
}

int32_t TagAccShareMem::Run() {
    return OnTable(*this, [&](TagShareMem& t) { return t.Acc(KeyOf(*this, 1), Operand(2), Operand(3)); });
}

// The first line (by number) whose table holds value under the key gets newValue there; the process-wide
// table is not searched.
int32_t TagFindShareMem::Run() {
    const ShareKey key = KeyOf(*this, 0);
    std::lock_guard<std::mutex> lk(ShareMemFindLock());
    for (int32_t line = 0, count = LinesCount(); line < count; ++line) {
        LineProgram prog(line);
        ShareMemState* mem = prog ? prog->FindLineState<ShareMemState>() : nullptr;
        if (mem && mem->table.Replace(key, Operand(1), Operand(2))) return line;
    }
    return -1;
}

std::span<const BuiltinEntry> ShareMemBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(261, TagGetShareMem, 3),   // GetShareMem
        ZZ_ROW_L(262, TagSetShareMem, 3),   // SetShareMem
        ZZ_ROW_L(263, TagClearShareMem, 1), // ClearShareMem
        ZZ_ROW_L(264, TagIncShareMem, 4),   // IncShareMem
        ZZ_ROW_L(265, TagDecShareMem, 4),   // DecShareMem
        ZZ_ROW_L(266, TagFindShareMem, 3),  // FindShareMem
        ZZ_ROW_L(267, TagAccShareMem, 4),   // AccShareMem
    };
    return rows;
}

} // namespace zz
