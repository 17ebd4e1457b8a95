#include "telephony/TagTelDrive.h"
#include "platform/FileHandle.h"

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "telephony/LinePrograms.h"

#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <unistd.h>

namespace zz {

namespace {

std::mutex g_makersLock;
DriverMakers g_makers;
std::atomic<TagTelDrive*> g_drive{nullptr};
DbLibraries g_dbLibs;
LineDisplay g_display;
std::mutex g_displayLock;

// Entries and drivers left to threads that did not end: kept reachable for the life of the process.
struct LeftBehind {
    std::mutex m;
    std::vector<std::unique_ptr<TagTelLine>> lines;
    std::vector<std::unique_ptr<TagKvCard>> drivers;
};
LeftBehind& Left() {
    static LeftBehind* left = new LeftBehind; // never freed: a left thread may run until the process ends
    return *left;
}

// More virtual lines than a line list can address are of no use and would only exhaust memory.
constexpr int32_t kMaxVirLines = int32_t(TagLineList::kMaxLines);

std::string ProgramDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, size_t(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

void SetDriverMakers(const DriverMakers& makers) {
    std::lock_guard<std::mutex> lk(g_makersLock);
    g_makers = makers;
}

DriverMakers GetDriverMakers() {
    std::lock_guard<std::mutex> lk(g_makersLock);
    return g_makers;
}

void SetDbLibraries(const DbLibraries& libs) {
    std::lock_guard<std::mutex> lk(g_makersLock);
    g_dbLibs = libs;
}

namespace {
void CallLib(std::function<void()> DbLibraries::*which, const char* text) {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> lk(g_makersLock);
        fn = g_dbLibs.*which;
    }
    RawLog(text);
    if (fn) fn();
}
} // namespace

void SetLineDisplay(const LineDisplay& display) {
    std::lock_guard<std::mutex> lk(g_displayLock);
    g_display = display;
}

LineDisplay CurrentLineDisplay() {
    std::lock_guard<std::mutex> lk(g_displayLock);
    return g_display;
}

std::atomic<bool>& SystemClosing() {
    static std::atomic<bool> closing{true};
    return closing;
}

void SetTelDrive(TagTelDrive* drive) {
    g_drive.store(drive);
}
TagTelDrive* GetTelDrive() {
    return g_drive.load();
}

TagBaseVirCard::TagBaseVirCard(int32_t lines, uint8_t language) : language_(language) {
    if (lines > kMaxVirLines) {
        char text[96];
        std::snprintf(text, sizeof text, "VIR_LINES_NUM=%d: only %d virtual lines made", lines, kMaxVirLines);
        WriteRunLogAlways(text);
        RawLog(text);
        lines = kMaxVirLines;
    }
    lineCount = lines < 0 ? 0 : lines;
}

int TagBaseVirCard::GetLineName(int32_t index, std::string& name) {
    name.clear();
    if (index < 0 || index >= lineCount) return -1;
    char buf[48];
    std::snprintf(buf, sizeof buf, language_ ? "VirtualLine%d#" : "虚拟线路%d#", index);
    name = buf;
    return 0;
}

std::unique_ptr<TagTelLine> TagBaseVirCard::MakeLine(int32_t index, int32_t lineNo) {
    if (index < 0 || index >= lineCount) return nullptr;
    auto call = std::make_unique<TagKvCall>();
    call->lineKind = kLineVirtual;
    return NewLine(index, lineNo, std::move(call));
}

TagTelDrive::TagTelDrive(const char* cfgFile, TagRunCfg* cfg) {
    std::string dir = ProgramDir();
    WriteRunLogAlways(("AppPath: " + dir).c_str());
    RawLog(("AppPath: " + dir).c_str());
    // A library that does not load disables only its back end.
    CallLib(&DbLibraries::loadMySql, "LoadMySqlLibrary() ...");
    CallLib(&DbLibraries::loadTqrDb, "LoadTqrDbLibrary() ...");
    CallLib(&DbLibraries::loadDbLib, "LoadDbLibrary() ...");
    RawLog("Load DB Library OK.");

    status = -1;
    cfg_ = cfg;
    cfgFile_ = cfgFile ? cfgFile : "ZuZodRun.cfg";
    int rc = cfgFile && cfg ? TagRunCfg::ReadCfgFile(cfgFile, cfg) : 0;
    // The first read, before the run log was open, said nothing: this one tells what it ignored.
    if (cfgFile && cfg) cfg->TellWarnings();
    if (rc < 0) {
        // The reader has named an overlap of line lists itself; only a file that cannot be read is an open error.
        if (rc == -2) {
            char text[600];
            std::snprintf(text, sizeof text, "\"%s\" File Open Error.", cfgFile);
            ShowMessage(text, "Karvelian System");
        }
        status = -100;
        return;
    }
    MakeLines();
    status = 0;
    RawLog("Driver OK.");
    WriteRunLogAlways("Driver OK.");
    WriteLinesList();
}

void TagTelDrive::MakeLines() {
    DriverMakers makers = GetDriverMakers();
    RawLog("MakeCardDrive() ...");
    if (makers.card) card_ = makers.card(cfg_);
    RawLog("MakeCardDrive() OK.");
    RawLog("MakeSipDrive() ...");
    if (makers.sip) sip_ = makers.sip(cfg_);
    RawLog("MakeSipDrive() OK.");
    if (makers.vir) {
        vir_ = makers.vir(cfg_);
    } else {
        vir_ = std::make_unique<TagBaseVirCard>(cfg_ ? cfg_->virLines : 1, cfg_ ? cfg_->language : 0);
    }
    RawLog("Init Lines ...");
    MakeDriverLines(card_.get(), lines_);
    MakeDriverLines(sip_.get(), lines_);
    MakeDriverLines(vir_.get(), lines_);
    lineCount_ = int32_t(lines_.size());
    if (cfg_ && cfg_->totalLines > 0 && cfg_->totalLines < lineCount_) lineCount_ = cfg_->totalLines;
    RawLogF("Init Lines OK: %d lines.", lineCount_);
}

void TagTelDrive::Close() {
    if (status == -100 || closed_) return;
    closed_ = true;
    RawLog("Driver Close...");
    shared_->shutting = true;
    shared_->TellLoaded(); // a run thread awaiting the loads leaves
    // The main run and reload-all threads leave their loops on the shutting flag; they hold the manager.
    for (int i = 0; i < 400 && workers_.load() > 0; ++i)
        SleepMs(100);
    if (workers_.load() > 0) {
        RawLog("Driver Close: a run or reload thread did not end; lines left running.");
        WriteRunLogAlways("Driver Close: a run or reload thread did not end; lines left running.");
        leaveDrivers_ = true;
    }
    if (!leaveDrivers_) {
        RawLog("CloseAllTelLine()...");
        CloseAllTelLine();
        RawLog("CloseAllTelLine() OK.");
    }
}

TagTelDrive::~TagTelDrive() {
    if (status != -100) {
        Close();
        FreeLines();
        if (leaveDrivers_) {
            // A thread still runs on a line of theirs.
            std::lock_guard<std::mutex> lk(Left().m);
            for (auto* d : {&card_, &sip_, &vir_})
                if (*d) Left().drivers.push_back(std::move(*d));
        }
        vir_.reset();
        RawLog("delete pVirCard OK.");
        sip_.reset();
        RawLog("delete pSipCard OK.");
        card_.reset();
        RawLog("delete pPhyCard OK.");
        CallLib(&DbLibraries::freeTqrDb, "FreeTqrDbLibrary()");
        CallLib(&DbLibraries::freeMySql, "FreeMySqlLibrary()");
        CallLib(&DbLibraries::freeDbLib, "FreeDbLibrary()");
        RawLog("Driver Closed.");
    }
    lines_.clear();
}

void TagTelDrive::FreeLines() {
    LinePrograms* ops = GetLinePrograms();
    const char* done[3] = {"pPhyCard->FreeLine() OK.", "pSipCard->FreeLine() OK.", "pVirCard->FreeLine() OK."};
    TagKvCard* drivers[3] = {card_.get(), sip_.get(), vir_.get()};
    for (int d = 0; d < 3; ++d) {
        for (auto& line : lines_) {
            if (!line || line->card != drivers[d]) continue;
            if (leaveDrivers_ || line->threads.load() > 0) {
                char text[80];
                std::snprintf(text, sizeof text, "Line %d: its thread is still running; entry left.", line->lineNo);
                RawLog(text);
                WriteRunLogAlways(text);
                std::lock_guard<std::mutex> lk(Left().m);
                Left().lines.push_back(std::move(line));
                leaveDrivers_ = true;
                continue;
            }
            TagTelBasic* prog = nullptr;
            {
                std::lock_guard<std::mutex> lk(line->programLock);
                std::swap(prog, line->program);
            }
            if (prog && ops) ops->Destroy(prog);
            line->call.reset();
            line.reset();
        }
        RawLog(done[d]);
    }
}

int32_t TagTelDrive::HangupLine(int32_t line) {
    constexpr int64_t kHandMs = 1000;
    TagTelLine* e = Line(line);
    TagKvCall* call = e ? e->call.get() : nullptr;
    if (!call) return -1;
    // A line whose script runs hangs up on its own thread, between two statements or inside its wait: the play,
    // links and room the hang-up ends are that thread's. One that does not give way in time (a statement that
    // blocks without waiting on the line) is hung up from here, as a line without a script is.
    if (e->threads.load() > 0 && call->RunOnLine([call] { call->Hangup(); }, kHandMs)) return 0;
    call->Hangup();
    return 0;
}

TagKvCall* TagTelDrive::GetCall(int32_t line, uint8_t& driverKind) {
    if (line >= 0 && size_t(line) < lines_.size() && lines_[size_t(line)]) {
        TagTelLine* e = lines_[size_t(line)].get();
        driverKind = e->card == card_.get() ? kDriveCard : e->card == sip_.get() ? kDriveSip : kDriveVirtual;
        return e->call.get();
    }
    driverKind = kDriveNone;
    char text[200];
    std::snprintf(text, sizeof text,
                  "TagTelDrive::GetCall(ch=%d): pPhyCard->telCount=%d, pSipCard->telCount=%d, "
                  "pVirCard->telCount=%d",
                  line, card_ ? card_->lineCount : 0, sip_ ? sip_->lineCount : 0, vir_ ? vir_->lineCount : 0);
    WriteRunLog(text);
    return nullptr;
}

namespace {
bool HasProgram(TagTelLine* line) {
    std::lock_guard<std::mutex> lk(line->programLock);
    return line->program != nullptr;
}
} // namespace

int32_t TagTelDrive::GetTalkTime(int32_t line, uint32_t& talkSeconds, uint32_t& connectTime) {
    TagTelLine* e = Line(line);
    if (!e || !e->call || !HasProgram(e) || e->call->callState.load() != kCallConnected) return 0;
    int32_t start = e->call->connectTime.load();
    int32_t now = CalendarNow();
    connectTime = uint32_t(start);
    talkSeconds = now > start ? uint32_t(now - start) : 0;
    return 1;
}

int32_t TagTelDrive::GetBlockState(int32_t line) {
    TagTelLine* e = Line(line);
    if (!e || !e->call || !HasProgram(e)) return -1;
    return e->call->blockValue.load();
}

namespace {
// External (1, 4), internal (2), virtual (0), other (above 4); recording lines (3) count nowhere.
void CountKind(int8_t kind, int32_t& ex, int32_t& in, int32_t& vir, int32_t& other) {
    if (kind == kLineAnalogTrunk || kind == kLineDigitalTrunk)
        ++ex;
    else if (kind == kLineExtension)
        ++in;
    else if (kind == kLineVirtual)
        ++vir;
    else if (kind > kLineDigitalTrunk)
        ++other;
}
} // namespace

int32_t TagTelDrive::GetConnectedNum(int32_t& external, int32_t& internal, int32_t& virt, int32_t& other) {
    external = internal = virt = other = 0;
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagKvCall* c = lines_[size_t(n)]->call.get();
        if (c && c->callState.load() == kCallConnected) CountKind(c->lineKind, external, internal, virt, other);
    }
    return external + internal + virt + other;
}

int32_t TagTelDrive::GetLinesNum(int32_t& external, int32_t& internal, int32_t& virt, int32_t& other) {
    external = internal = virt = other = 0;
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagKvCall* c = lines_[size_t(n)]->call.get();
        if (c) CountKind(c->lineKind, external, internal, virt, other);
    }
    return external + internal + virt + other;
}

int32_t TagTelDrive::GetIdleNum(int32_t& external, int32_t& other) {
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagKvCall* c = lines_[size_t(n)]->call.get();
        if (!c || c->callState.load() != kCallDialing) continue;
        if (c->lineKind == kLineAnalogTrunk || c->lineKind == kLineDigitalTrunk)
            ++external;
        else if (c->lineKind > kLineDigitalTrunk)
            ++other;
    }
    return external + other;
}

int32_t TagTelDrive::GetReloadNum() {
    LinePrograms* ops = GetLinePrograms();
    if (!ops) return 0;
    int32_t n = 0;
    for (int32_t i = 0; i < lineCount_; ++i) {
        TagTelLine* e = lines_[size_t(i)].get();
        std::lock_guard<std::mutex> lk(e->programLock);
        if (e->program && ops->ReloadRequested(e->program)) ++n;
    }
    return n;
}

const char* TagTelDrive::GetLineTypeName(int8_t kind) {
    static const char* const names[] = {"VIR ", "A_EX", "A_IN", "REC ", "DIG ", "H323", "SIP ", "VOIP", "FAX "};
    return kind >= 0 && kind <= 8 ? names[kind] : "OTH ";
}

std::string TagTelDrive::LinesByKind() const {
    // Card kinds first, then the network's, then the sound card's, as the table numbers them; both trunk kinds
    // are external lines.
    struct Kind {
        const char* name;
        int8_t kinds[2];
    };
    static const Kind order[] = {{"external", {kLineAnalogTrunk, kLineDigitalTrunk}},
                                 {"internal", {kLineExtension, kLineExtension}},
                                 {"recording", {kLineRecording, kLineRecording}},
                                 {"fax", {kLineFax, kLineFax}},
                                 {"SIP", {kLineSip, kLineSip}},
                                 {"H.323", {kLineH323, kLineH323}},
                                 {"VoIP", {kLineVoip, kLineVoip}},
                                 {"virtual", {kLineVirtual, kLineVirtual}}};
    int32_t counts[std::size(order)] = {}, other = 0;
    for (int32_t n = 0; n < lineCount_; ++n) {
        const TagKvCall* c = lines_[size_t(n)]->call.get();
        if (!c) continue;
        size_t k = 0;
        while (k < std::size(order) && c->lineKind != order[k].kinds[0] && c->lineKind != order[k].kinds[1])
            ++k;
        ++(k < std::size(order) ? counts[k] : other);
    }
    std::string text;
    auto add = [&text](const char* name, int32_t count) {
        if (count == 0) return;
        if (!text.empty()) text += ", ";
        text += std::string(name) + " " + std::to_string(count);
    };
    for (size_t k = 0; k < std::size(order); ++k)
        add(order[k].name, counts[k]);
    add("other", other);
    return text;
}

std::string TagTelDrive::Listening() const {
    std::string text;
    for (TagKvCard* d : {sip_.get(), card_.get(), vir_.get()}) {
        std::string where = d ? d->Listening() : std::string();
        if (where.empty()) continue;
        if (!text.empty()) text += "; ";
        text += where;
    }
    return text;
}

int32_t TagTelDrive::WriteLinesList(const char* path) {
    FileHandle fFile = FileHandle::Open(path, "wb");
    FILE* f = fFile.get();
    if (!f) {
        WriteRunLogAlways("LinesList.txt: cannot be created");
        return -1;
    }
    const char* rule = "------------------------------------\n";
    const char* equals = "==============================================\n";
    std::fprintf(f, "linesCount: %d\n", lineCount_);
    std::fputs("线路号  类型  名称\n", f);
    // Runs of one kind, keyed by "tag first-last" so they list sorted.
    std::map<std::string, std::string> groups;
    int32_t first = 0;
    int8_t prevKind = 0;
    auto closeGroup = [&](int32_t last) {
        const char* tag = GetLineTypeName(prevKind);
        char key[64], text[96];
        std::snprintf(key, sizeof key, "%s %03d-%03d", tag, first, last);
        std::snprintf(text, sizeof text, "%d-%d = %s (%d)", first, last, tag, last - first + 1);
        groups[key] = text;
    };
    for (int32_t n = 0; n < lineCount_; ++n) {
        TagTelLine* e = lines_[size_t(n)].get();
        int8_t kind = e->call ? e->call->lineKind : int8_t(kLineVirtual);
        if (n == 0 || kind != prevKind) {
            if (n > 0) closeGroup(n - 1);
            std::fputs(rule, f);
            first = n;
            prevKind = kind;
        }
        std::fprintf(f, "%6d  %4s  %s\n", e->lineNo, GetLineTypeName(kind), e->name);
    }
    if (lineCount_ > 0) closeGroup(lineCount_ - 1);
    std::fputs(equals, f);
    std::fputs("线路统计：\n", f);
    for (auto& [key, text] : groups)
        std::fprintf(f, "%s\n", text.c_str());
    std::fputs(equals, f);
    return fFile.Close() == 0 ? 0 : -1;
}

} // namespace zz
