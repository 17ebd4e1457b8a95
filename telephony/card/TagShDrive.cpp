#include "telephony/card/TagShDrive.h"

#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/MessageBox.h"
#include "platform/PathMap.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "telephony/card/CardSim.h"
#include "telephony/card/TagShCall.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zz {

std::atomic<bool> _isConfEnable{true};

CardSettings& CardCfg() {
    static CardSettings s;
    return s;
}

namespace {

constexpr uint32_t kFaxStopWaitMs = 10000;
constexpr uint32_t kSwitchSettleMs = 80;
constexpr int kIniLineLimit = 79; // a longer line is read as several

// Reads a line of at most 79 characters, drops the newline and every blank and tab; false at the end.
bool ReadIniLine(FILE* f, std::string& out) {
    char buf[kIniLineLimit + 1];
    if (!std::fgets(buf, sizeof buf, f)) return false;
    out.clear();
    for (char* p = buf; *p && *p != '\n' && *p != '\r'; ++p)
        if (*p != ' ' && *p != '\t') out += *p;
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// YES/TRUE/1 set the flag, NO/FALSE/0 clear it, anything else leaves it.
template <class Flag> void SetFlag(Flag& flag, const std::string& v) {
    if (v == "YES" || v == "TRUE" || v == "1")
        flag = true;
    else if (v == "NO" || v == "FALSE" || v == "0")
        flag = false;
}

std::string ProgramFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, size_t(n));
    return path.substr(0, path.rfind('/') + 1);
}

} // namespace

std::string CardAppPath() {
    const char* env = std::getenv("SHCTI_APPPATH");
    std::string dir = env && *env ? env : ProgramFolder() + "card/";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string CardChannelName(int32_t type, int32_t ch) {
    const char* fmt = "E:%d";
    if (type == 0)
        fmt = "A:%d";
    else if (type == 1 || type == 2)
        fmt = "U:%d";
    else if (type == 3 || type == 12)
        fmt = "R:%d";
    else if (type == 15)
        fmt = "H323:%d";
    else if (type == 16)
        fmt = "SIP:%d";
    else if (type == 5 || type == 9)
        fmt = "FAX:%d";
    else if (type >= 20)
        fmt = "Non:%d";
    char name[32];
    std::snprintf(name, sizeof name, fmt, ch);
    return name;
}

int32_t TagShDrive::ReadProtocolIni(const char* path) {
    int32_t kind = 0;
    FileHandle f = FileHandle::Open(path, "r");
    std::string line;
    while (f && ReadIniLine(f.get(), line)) {
        if (line.empty()) continue;
        line = Upper(line);
        kind = line.rfind("ISUP", 0) == 0  ? kSigIsup
               : line.rfind("TUP", 0) == 0 ? kSigTup
               : line.rfind("SS1", 0) == 0 ? kSigSs1
                                           : 0;
    }
    return kind;
}

int32_t TagShDrive::ReadCardIni(const char* path) {
    FileHandle f = FileHandle::Open(path, "r");
    int32_t lines = 0;
    std::string line;
    while (f && ReadIniLine(f.get(), line)) {
        if (line.empty()) continue;
        line = Upper(line);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        ++lines;
        std::string key = line.substr(0, eq), val = line.substr(eq + 1);
        if (key == "CONF")
            SetFlag(_isConfEnable, val);
        else if (key == "CALLER_IS_NATION_NUM")
            SetFlag(CardCfg().callerIsNational, val);
        else if (key == "MAKE_SIP_CONF")
            SetFlag(CardCfg().makeSipConf, val);
    }
    return lines;
}

TagShDrive::TagShDrive(std::unique_ptr<CardLib> lib, const std::string& appPath) : lib_(std::move(lib)) {
    lineCount = 0;
    protocolKind = ReadProtocolIni("Protocol.ini");
    ReadCardIni("Card.ini");
    WriteRunLogF("GetCardCfg(): _isConfEnable=%d", _isConfEnable.load() ? 1 : 0);
    if (!FileExists(appPath + "ShConfig.ini")) {
        // No card is installed (SIP and virtual lines only): no failure to show, a line in the run log that says
        // where the card was looked for.
        failure = "no card (no ShConfig.ini in " + appPath + ")";
        WriteRunLogAlways((failure + "; no card lines").c_str());
        status = -1;
        return;
    }
    int32_t r = StartCard(appPath);
    if (r != 0) {
        failure = lib_->SsmGetLastErrMsg();
        char text[512];
        std::snprintf(text, sizeof text, "初始化语音卡不成功, 返回值: %d \n%s", r, failure.c_str());
        ShowMessage(text, RunCfg().language ? "Karvelian System" : "青岚舟系统");
        status = -1;
        return;
    }
    ScanFax();
    lineCount = channelCount;
    status = channelCount > 0 ? 0 : -1;
}

int32_t TagShDrive::StartCard(const std::string& appPath) {
    std::string cfg = appPath + "ShConfig.ini", index = appPath + "ShIndex.ini";
    int32_t r = lib_->SsmStartCti(cfg.c_str(), index.c_str());
    if (r != 0) return r;
    int32_t n = lib_->SsmGetMaxCh();
    for (int32_t ch = 0; ch < n; ++ch)
        trunkNames.push_back(CardChannelName(lib_->SsmGetChType(ch), ch));
    channelCount = int32_t(trunkNames.size());
    return 0;
}

void TagShDrive::ScanFax() {
    for (int32_t ch = 0; ch < channelCount; ++ch) {
        int32_t t = lib_->SsmGetChType(ch);
        if (t == 5 || t == 9) faxRecs.push_back({0, ch});
    }
    _faxNum = int32_t(faxRecs.size());
    for (size_t i = 0; i < faxRecs.size(); ++i)
        WriteRunLogF(" fax[%d] = %d", int(i), faxRecs[i].ch);
    WriteRunLogF("_faxNum = %d", _faxNum);
}

TagShDrive::~TagShDrive() {
    RawLog("~TagShDrive() ....");
    RawLog("~ShClose() ....");
    lib_->SsmCloseCti();
    std::printf("SsmCloseCti() is OK.\n");
    RawLog("ShClose() OK.");
    RawLog("DeleteCriticalSection().");
}

std::string TagShDrive::Listening() {
    int32_t port = status == 0 && channelCount > 0 ? lib_->ControlPort() : -1;
    return port >= 0 ? "card control port " + std::to_string(port) : std::string();
}

int TagShDrive::GetLineName(int32_t index, std::string& name) {
    name.clear();
    if (index < 0 || index >= lineCount) return -1;
    name = trunkNames[size_t(index)];
    return 0;
}

std::unique_ptr<TagTelLine> TagShDrive::MakeLine(int32_t index, int32_t lineNo) {
    if (index < 0 || index >= lineCount) return nullptr;
    auto call = std::make_unique<TagShCall>(index, this);
    if (calls.size() <= size_t(index)) calls.resize(size_t(index) + 1, nullptr);
    calls[size_t(index)] = call.get();
    (void)lineNo;
    return NewLine(index, lineNo, std::move(call));
}

TagShCall* TagShDrive::CallAt(int32_t ch) const {
    return ch >= 0 && size_t(ch) < calls.size() ? calls[size_t(ch)] : nullptr;
}

// ---- Fax channel pool

int32_t TagShDrive::FaxAlloc() {
    WriteRunLogF("faxCount = %d, %d", _faxNum, int(faxRecs.size()));
    if (_faxNum == 0) _faxNum = int32_t(faxRecs.size());
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (size_t i = 0; i < faxRecs.size(); ++i) {
        FaxRec& r = faxRecs[i];
        int32_t state = lib_->SsmGetChState(r.ch);
        WriteRunLogF("FaxGetState[%d] = %d, busy=%d", int(i), state, r.busy);
        if (r.busy) continue;
        if (state == kChIdle) {
            r.busy = 1;
            return int32_t(i);
        }
        lib_->SsmFaxStop(r.ch);
    }
    return -1;
}

int32_t TagShDrive::FaxChannel(int32_t index) const {
    return ValidFax(index) ? faxRecs[size_t(index)].ch : -1;
}

int32_t TagShDrive::FaxConnect(int32_t index, TagShCall& line) {
    int32_t fax = FaxChannel(index);
    if (fax < 0) return 0;
    lib_->SsmPrepareLink(line.channel);
    lib_->SsmPrepareLink(fax);
    // The card settles its switch before the talk; the line waits on its own event, so that the caller's
    // release or a stop cuts the settle short.
    const uint32_t start = GetTickCount();
    const uint64_t seen = lib_->ChannelEvents(line.channel);
    while (!line.stopFlag && lib_->ChannelEvents(line.channel) == seen && TicksSince(start) < kSwitchSettleMs)
        line.WaitCard(kSwitchSettleMs - TicksSince(start));
    return lib_->SsmTalkWithEx(line.channel, 0, fax, 0) == 0 ? 1 : 0;
}

int32_t TagShDrive::FaxStartSend(int32_t index, const char* file) {
    if (lib_->SsmFaxStartSend(FaxChannel(index), file) < 0) {
        WriteRunLog(lib_->SsmGetLastErrMsg().c_str());
        return 0;
    }
    return 1;
}

int32_t TagShDrive::FaxStartRecv(int32_t index, const char* file) {
    int32_t r = lib_->SsmFaxStartRecv(FaxChannel(index), file);
    WriteRunLogF("FaxChnl = %d, ch=%d, startRecvFax = %d", index, FaxChannel(index), r);
    if (r < 0) {
        WriteRunLog(lib_->SsmGetLastErrMsg().c_str());
        return 0;
    }
    return 1;
}

int32_t TagShDrive::FaxGetState(int32_t index) {
    return lib_->SsmGetChState(FaxChannel(index));
}
int32_t TagShDrive::FaxCheckEnd(int32_t index) {
    return lib_->SsmFaxCheckEnd(FaxChannel(index));
}
int32_t TagShDrive::FaxPages(int32_t index) {
    return lib_->SsmFaxGetPages(FaxChannel(index));
}
int32_t TagShDrive::FaxSetParam(int32_t index, const char* value) {
    return lib_->SsmFaxSetLocalId(FaxChannel(index), value);
}

void TagShDrive::FaxRelease(int32_t index, TagShCall& line) {
    int32_t fax = FaxChannel(index);
    lib_->SsmFaxStop(fax);
    const uint32_t start = GetTickCount();
    // A stopped line does not wait for the fax channel's end: its wait would return at once, again and again.
    while (!line.stopFlag && lib_->SsmFaxCheckEnd(fax) != 1) {
        uint32_t el = TicksSince(start);
        if (el > kFaxStopWaitMs) {
            WriteRunLog("SsmFaxStop() Timeout.");
            break;
        }
        line.WaitCard(kFaxStopWaitMs + 1 - el, fax);
    }
    lib_->SsmStopTalkWith(line.channel, fax);
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (ValidFax(index)) faxRecs[size_t(index)].busy = 0;
}

void TagShDrive::FaxCount(int32_t& busy, int32_t& total) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    total = int32_t(faxRecs.size());
    busy = 0;
    for (const FaxRec& r : faxRecs)
        busy += r.busy ? 1 : 0;
}

// ---- Conference services

int32_t TagShDrive::CreateConfGroup() {
    return lib_->SsmCreateConfGroup(-1, -1, -1, -1);
}

void TagShDrive::FreeConfGroup(int32_t group) {
    lib_->SsmFreeConfGroup(group);
}

int32_t TagShDrive::SetConfFields(int32_t ch, int32_t group, int32_t owner) {
    TagShCall* c = ch >= 0 && ch < channelCount ? CallAt(ch) : nullptr;
    if (!c) return -1;
    c->confGroup = group;
    c->confOwner = owner;
    return group;
}

int32_t TagShDrive::GetConfGroup(int32_t ch) {
    TagShCall* c = ch >= 0 && ch < channelCount ? CallAt(ch) : nullptr;
    return c ? c->confGroup.load() : -1;
}

int32_t TagShDrive::Unlink(int32_t ch, int32_t other, int32_t value) {
    TagShCall* c = ch >= 0 && ch < channelCount ? CallAt(ch) : nullptr;
    if (!c) return -1;
    if (other < 0 || other >= channelCount) return -2;
    return c->UnlinkTo(other, value);
}

std::unique_ptr<TagKvCard> MakeCardDrive() {
    return std::make_unique<TagShDrive>(std::make_unique<CardSim>(), CardAppPath());
}

} // namespace zz
