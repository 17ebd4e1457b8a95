// System information builtins: the line's call, the line manager's counts and the process's memory, by name.
#include "builtins/SysInfo.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "builtins/DbState.h"
#include "builtins/Families.h"
#include "engine/TagTelBasic.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"
#include "telephony/TagKvCall.h"
#include "telephony/TagTelDrive.h"

namespace zz {

ZZ_BUILTIN_L_RUN(TagGetSysInfo, 1);
ZZ_BUILTIN_L_RUN(TagGetSysInfoVal, 2);
ZZ_BUILTIN_P_RUN(TagGetMemInfo, 4);

namespace {

std::mutex g_versionLock;
std::string g_version = "ZuZod-DeZiv";

// What a key's value is read from.
struct InfoSource {
    TagTelBasic* root;
    TagKvCall* call;
    bool forOneKey; // GetSysInfoVal: "IsBlock" reads the call itself
};

// Lines in call state 1: external trunks, internal extensions, and the IP and other kinds above 4.
void ConnectedCounts(int32_t& ex, int32_t& in, int32_t& other) {
    int32_t vir = 0;
    ex = in = other = 0;
    if (TagTelDrive* d = GetTelDrive()) d->GetConnectedNum(ex, in, vir, other);
}

// Talk seconds and connect time of the line while its call is connected; 0 and 0 otherwise.
void TalkTime(const InfoSource& s, uint32_t& talk, uint32_t& connected) {
    talk = connected = 0;
    if (TagTelDrive* d = GetTelDrive(); d && d->Line(s.root->lineNo)) {
        d->GetTalkTime(s.root->lineNo, talk, connected);
        return;
    }
    // A line outside the line table (a script run on its own) reads its call directly.
    if (!s.call || s.call->callState.load() != kCallConnected) return;
    int32_t start = s.call->connectTime.load(), now = CalendarNow();
    connected = uint32_t(start);
    talk = now > start ? uint32_t(now - start) : 0;
}

int32_t BlockState(const InfoSource& s) {
    TagTelDrive* d = s.forOneKey ? nullptr : GetTelDrive();
    if (d && d->Line(s.root->lineNo)) return d->GetBlockState(s.root->lineNo);
    return s.call ? s.call->blockValue.load() : -1;
}

// false: the key has no value here (no call object), nothing is stored.
using InfoReader = bool (*)(const InfoSource& s, TagVar& out);

bool CallInt(const InfoSource& s, TagVar& out, int32_t (*read)(TagKvCall&)) {
    if (!s.call) return false;
    out = IntValue(read(*s.call));
    return true;
}

struct InfoKey {
    const char* name;
    InfoReader read;
};

const InfoKey kKeys[] = {
    {"Version", [](const InfoSource&, TagVar& out) { return out = TextValue(VersionText()), true; }},
    {"AcmBci1",
     [](const InfoSource& s, TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return int32_t(c.bci[0]); }); }},
    {"AcmBci2",
     [](const InfoSource& s, TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return int32_t(c.bci[1]); }); }},
    {"CauseId", [](const InfoSource& s, TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return c.cause; }); }},
    {"IsLastExitConf", [](const InfoSource& s,
                          TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return c.confClosed ? 1 : 0; }); }},
    {"IsMediaOk", [](const InfoSource& s,
                     TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return int32_t(c.IsMediaOk()); }); }},
    {"ChState", [](const InfoSource& s,
                   TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return int32_t(c.GetChState()); }); }},
    {"CallType", [](const InfoSource& s,
                    TagVar& out) { return CallInt(s, out, [](TagKvCall& c) { return int32_t(c.GetCallType()); }); }},
    {"DbErrInfo",
     [](const InfoSource& s, TagVar& out) {
         DbState* db = s.root->FindLineState<DbState>();
         return out = TextValue(db ? db->lastError : std::string()), true;
     }},
    {"ExLineConnectedNum",
     [](const InfoSource&, TagVar& out) {
         int32_t ex, in, other;
         ConnectedCounts(ex, in, other);
         return out = IntValue(ex), true;
     }},
    {"InLineConnectedNum",
     [](const InfoSource&, TagVar& out) {
         int32_t ex, in, other;
         ConnectedCounts(ex, in, other);
         return out = IntValue(in), true;
     }},
    {"VoipConnectedNum",
     [](const InfoSource&, TagVar& out) {
         int32_t ex, in, other;
         ConnectedCounts(ex, in, other);
         return out = IntValue(other), true;
     }},
    {"IsBlock",
     [](const InfoSource& s, TagVar& out) {
         if (s.forOneKey && !s.call) return false;
         return out = IntValue(BlockState(s)), true;
     }},
    {"TalkTime",
     [](const InfoSource& s, TagVar& out) {
         uint32_t talk, connected;
         TalkTime(s, talk, connected);
         return out = IntValue(int32_t(talk)), true;
     }},
    {"ConnectedTime1",
     [](const InfoSource& s, TagVar& out) {
         uint32_t talk, connected;
         TalkTime(s, talk, connected);
         return out = IntValue(int32_t(connected)), true;
     }},
};

// The process's memory in KiB from /proc: resident size, its peak, private memory and peak virtual size.
struct MemInfo {
    int64_t rss = 0, rssPeak = 0, privateBytes = 0, virtPeak = 0;
};

MemInfo ReadMemInfo() {
    MemInfo m;
    int64_t anon = 0, swap = 0;
    FileHandle f = FileHandle::Open("/proc/self/status", "r");
    char line[256];
    while (f && std::fgets(line, sizeof line, f.get())) {
        long long v = 0;
        if (std::sscanf(line, "VmRSS: %lld", &v) == 1) m.rss = v;
        if (std::sscanf(line, "VmHWM: %lld", &v) == 1) m.rssPeak = v;
        if (std::sscanf(line, "VmPeak: %lld", &v) == 1) m.virtPeak = v;
        if (std::sscanf(line, "RssAnon: %lld", &v) == 1) anon = v;
        if (std::sscanf(line, "VmSwap: %lld", &v) == 1) swap = v;
    }
    m.privateBytes = anon + swap;
    return m;
}

int32_t KiB(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
}

} // namespace

void SetVersionLabel(const std::string& label) {
    std::lock_guard<std::mutex> lk(g_versionLock);
    g_version = label + "-DeZiv";
}

std::string VersionText() {
    std::lock_guard<std::mutex> lk(g_versionLock);
    return g_version;
}

int32_t TagGetSysInfo::Run() {
    if (!Program()) return kBuiltinBadArg;
    InfoSource s{Program(), Call(), false};
    for (const InfoKey& k : kKeys) {
        TagVar value;
        if (k.read(s, value)) OutElement(0, TextValue(k.name)) = value;
    }
    return Operand(0).Len();
}

int32_t TagGetSysInfoVal::Run() {
    if (!Program()) return kBuiltinBadArg;
    InfoSource s{Program(), Call(), true};
    for (const InfoKey& k : kKeys) {
        if (!GbkEqualNoCase(k.name, Text(0))) continue;
        TagVar value;
        if (k.read(s, value)) Operand(1) = value;
        return 0;
    }
    return kBuiltinBadArg;
}

int32_t TagGetMemInfo::Run() {
    MemInfo m = ReadMemInfo();
    SetOutInt(0, KiB(m.rss));
    SetOutInt(1, KiB(m.rssPeak));
    SetOutInt(2, KiB(m.privateBytes));
    SetOutInt(3, KiB(m.virtPeak));
    return KiB(m.rss);
}

std::span<const BuiltinEntry> SysInfoBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(233, TagGetMemInfo, 4),    // GetMemInfo
        ZZ_ROW_L(270, TagGetSysInfo, 1),    // GetSysInfo
        ZZ_ROW_L(271, TagGetSysInfoVal, 2), // GetSysInfoVal
    };
    return rows;
}

} // namespace zz
