// Database builtins: data sets in the line's table of handles.
#include <cstdlib>
#include <string>
#include <vector>

#include "builtins/DbState.h"
#include "builtins/Families.h"
#include "builtins/LineSockets.h"
#include "data/DbCallBound.h"
#include "data/TagAdoData.h"
#include "data/TagDataSet.h"
#include "data/TagDbConnectionsCtrl.h"
#include "data/TagDbfData.h"
#include "data/TagLocalData.h"
#include "data/TagMySqlData.h"
#include "data/TagSybData.h"
#include "data/TagTqrDbData.h"
#include "engine/TagTelBasic.h"
#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"

namespace zz {

// Builtins of the family reach the line's table through this base.
template <size_t N> class DbBuiltin : public BuiltinL<N> {
public:
    using BuiltinL<N>::BuiltinL;

protected:
    DbState* Table() const { return this->Program() ? &this->Program()->template LineState<DbState>() : nullptr; }
    // The data set of the handle operand 0, or null with the result in *rc (-1 bad handle, -2 empty slot).
    TagDataSet* Handle(int32_t* rc) const {
        DbState* t = Table();
        *rc = t ? t->Check(this->IntVal(0)) : kBuiltinBadArg;
        return *rc == 0 ? t->At(this->IntVal(0)) : nullptr;
    }
    // A connect or statement that waits on its server ends when the line is told to quit or reload meanwhile.
    DbWaiter LineDbWaiter() const {
        SockWaiter w = LineWaiter(this->Program());
        return DbWaiter{w.wake, std::move(w.stopped)};
    }
};

#define ZZ_DB_BUILTIN(Cls, N)                                                                                          \
    class Cls final : public DbBuiltin<N> {                                                                            \
    public:                                                                                                            \
        using DbBuiltin<N>::DbBuiltin;                                                                                 \
        int32_t Run() override;                                                                                        \
    }

ZZ_DB_BUILTIN(TagDbOpen, 6);
ZZ_DB_BUILTIN(TagDbExec, 2);
ZZ_DB_BUILTIN(TagDbRows, 2);
ZZ_DB_BUILTIN(TagDbGetField, 4);
ZZ_DB_BUILTIN(TagDbSetField, 4);
ZZ_DB_BUILTIN(TagDbClose, 1);
ZZ_DB_BUILTIN(TagDbCloseAll, 0);
ZZ_DB_BUILTIN(TagDbSetDebug, 2);
ZZ_DB_BUILTIN(TagDbExecMap, 5);

namespace {

constexpr int32_t kTqrDefaultPort = 2013;

// The back end of a DbOpen type, or null for a type no back end takes. Type 0 is always direct; every other
// type goes to the pool while pooling is on.
std::unique_ptr<TagDataSet> MakeDataSet(int32_t type, const char* t1, const char* t2, const char* t3, const char* t4) {
    if (type == kDbTypeDbf) return std::make_unique<TagDbfData>(t1);
    if (DbMaxConn() >= 1) return std::make_unique<TagLocalData>(GetDbPool(), type, t1, t2, t3, t4);
    switch (type) {
    case kDbTypeSyb:
        return std::make_unique<TagSybData>(t1, t2, t3, t4);
    case kDbTypeAdo:
        return std::make_unique<TagAdoData>(t1, t4);
    case kDbTypeMySql:
        return std::make_unique<TagMySqlData>(t1, t2, t3, t4);
    case kDbTypeTqr: {
        // "host:port", port 2013 without a colon.
        std::string host = t1;
        int32_t port = kTqrDefaultPort;
        if (size_t colon = host.find(':'); colon != std::string::npos) {
            port = static_cast<int32_t>(std::strtol(host.c_str() + colon + 1, nullptr, 10));
            host.resize(colon);
        }
        return std::make_unique<TagTqrDbData>(host.c_str(), port, t2, t3, t4);
    }
    default:
        return nullptr;
    }
}

std::string TrimBlanks(const char* s) {
    std::string_view v(s);
    size_t b = v.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return std::string(v.substr(b, v.find_last_not_of(" \t") - b + 1));
}

} // namespace

int32_t TagDbOpen::Run() {
    DbState* t = Table();
    if (!t) return kBuiltinBadArg;
    // The program's error box: a program another one called (RunKvs) shows none.
    auto box = [this](const char* text, const char* title) {
        if (!Program() || !Program()->ParentOrSelf()->calledProgram) ShowMessage(text, title);
    };
    if (t->FirstFree() < 0 || t->Opened() + 1 >= DbState::kSlots) {
        box("打开的数据库太多", "运行错误");
        return -1;
    }
    int32_t type = IntVal(0);
    const DbWaiter waiter = LineDbWaiter();
    ScopedDbWaiter scope(&waiter);
    std::unique_ptr<TagDataSet> ds = MakeDataSet(type, Text(1), Text(2), Text(3), Text(4));
    int32_t result = -2;
    if (!ds)
        box("Invalid data type", "Runtime Error");
    else if (ds->status >= 0) {
        ds->dbType = type;
        result = t->Put(std::move(ds));
    }
    SetOutInt(5, result);
    return result;
}

int32_t TagDbExec::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    DbState* t = Table();
    if (ds) {
        std::string sql = Text(1); // the back ends may change the text in place
        const DbWaiter waiter = LineDbWaiter();
        ScopedDbWaiter scope(&waiter);
        rc = ds->Exec(sql.data());
        t->lastError = ds->lastError;
    }
    if (rc < 0) WriteRunLogF("DbExec: ret=%d, i=%d, dbCount=%d", rc, IntVal(0), t ? t->Opened() : 0);
    return rc;
}

int32_t TagDbRows::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    if (!ds) return rc;
    int32_t n = ds->GetRows();
    SetOutInt(1, n);
    return n;
}

int32_t TagDbGetField::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    if (!ds) return rc;
    char buf[kDbValueSize];
    buf[0] = '\0';
    const TagVar& field = Operand(1);
    if (field.type == TagVar::kString)
        rc = ds->GetVarByName(buf, field.Str(), IntVal(2));
    else
        rc = ds->GetVar(buf, StoredInt(1), IntVal(2));
    buf[kDbValueSize - 1] = '\0';
    SetOutText(3, buf);
    return rc;
}

int32_t TagDbSetField::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    if (!ds) return rc;
    if (Operand(1).type == TagVar::kString) return ds->SetVarByName(Text(3), Text(1), StoredInt(2));
    return ds->SetVar(Text(3), StoredInt(1), StoredInt(2));
}

int32_t TagDbClose::Run() {
    int32_t h = IntVal(0);
    if (h < 0 || h >= DbState::kSlots) return kBuiltinBadArg;
    DbState* t = Table();
    if (!t || t->Opened() <= 0) return 0;
    return t->Close(h) ? 0 : -2;
}

int32_t TagDbCloseAll::Run() {
    if (DbState* t = Table()) t->CloseAll();
    return 0;
}

int32_t TagDbSetDebug::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    if (!ds) return rc;
    ds->SetDebug(IntVal(1));
    return 0;
}

int32_t TagDbExecMap::Run() {
    int32_t rc;
    TagDataSet* ds = Handle(&rc);
    if (!ds) return rc;
    std::string sql = Text(1);
    {
        const DbWaiter waiter = LineDbWaiter();
        ScopedDbWaiter scope(&waiter);
        rc = ds->Exec(sql.data());
    }
    if (rc < 0) return rc;
    ClearOut(2);
    int32_t rows = ds->GetRows();
    if (rows < 1) return rows;
    int32_t cols = ds->GetCols();
    const TagVar& keyArg = Operand(4);
    int32_t keyCol = keyArg.type != TagVar::kString ? keyArg.GetInt()
                     : keyArg.Str()[0]              ? ds->GetFieldIndex(keyArg.Str())
                                                    : -1;
    if (keyCol < 0 || keyCol >= cols) keyCol = -1;
    // Keys of the row objects: column numbers in mode 0, else the field names (upper-cased in mode 2, lower-cased
    // in mode 3).
    int32_t mode = IntVal(3);
    std::vector<TagVar> keys;
    char buf[kDbValueSize];
    for (int32_t c = 0; c < cols; ++c) {
        if (mode == 0) {
            keys.push_back(IntValue(c));
            continue;
        }
        buf[0] = '\0';
        ds->GetFieldName(c, buf);
        keys.push_back(TextValue(mode == 2 ? GbkUpper(buf) : mode == 3 ? GbkLower(buf) : std::string(buf)));
    }
    for (int32_t r = 0; r < rows; ++r) {
        std::vector<std::string> cells(static_cast<size_t>(cols));
        for (int32_t c = 0; c < cols; ++c) {
            buf[0] = '\0';
            ds->GetVar(buf, c, r + 1);
            cells[static_cast<size_t>(c)] = TrimBlanks(buf);
        }
        TagVar& row = OutElement(2, keyCol >= 0 ? TextValue(cells[static_cast<size_t>(keyCol)]) : IntValue(r + 1));
        row = IntValue(0); // a later row of the same key replaces the earlier one
        for (int32_t c = 0; c < cols; ++c)
            row[keys[static_cast<size_t>(c)]].SetStr(cells[static_cast<size_t>(c)].c_str());
    }
    return rows;
}

std::span<const BuiltinEntry> DatabaseBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_L(57, TagDbOpen, 6),     // DbOpen
        ZZ_ROW_L(58, TagDbExec, 2),     // DbExec
        ZZ_ROW_L(59, TagDbRows, 2),     // DbRows
        ZZ_ROW_L(60, TagDbGetField, 4), // DbGetField
        ZZ_ROW_L(61, TagDbSetField, 4), // DbSetField
        ZZ_ROW_L(62, TagDbClose, 1),    // DbClose
        ZZ_ROW_L(63, TagDbCloseAll, 0), // DbCloseAll
        ZZ_ROW_L(64, TagDbSetDebug, 2), // DbSetDebug
        ZZ_ROW_L(65, TagDbExecMap, 5),  // DbExecMap
    };
    return rows;
}

} // namespace zz
