// The simulated card: channels, configuration, journal, error injection, call control, ISUP messages, DTMF,
// links and conference groups, and the far end's side of all of them. Voice, fax and FSK are in CardSimMedia.cpp.
#include "telephony/card/CardSim.h"

#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "platform/PathMap.h"
#include "platform/WakeEvent.h"
#include "telephony/card/CardControl.h"
#include "telephony/card/CardSimCall.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zz {

namespace {

constexpr size_t kJournalMax = 20000;

std::string Trim(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; }), s.end());
    return s;
}

// "0,0,11*2,5": channel types, a type followed by *n repeated n times.
std::vector<int32_t> ParseTypes(const std::string& text) {
    std::vector<int32_t> types;
    size_t i = 0;
    while (i < text.size()) {
        size_t comma = text.find(',', i);
        std::string item = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
        int type = 0, count = 1;
        if (std::sscanf(item.c_str(), "%d*%d", &type, &count) >= 1)
            for (int k = 0; k < count && types.size() < 4096; ++k)
                types.push_back(type);
        if (comma == std::string::npos) break;
        i = comma + 1;
    }
    return types;
}

void PutCircuit(std::vector<uint8_t>& out, int32_t ch) {
    int32_t trunk = ch / 30, slot = ch % 30;
    int32_t ts = slot < 15 ? slot + 1 : slot + 2;
    out.push_back(1);
    out.push_back(uint8_t((trunk * 32 + ts) % 256));
    out.push_back(uint8_t(trunk / 8));
}

// An ISUP number parameter: length, nature of address (odd flag in bit 7), second byte, digits packed low half
// first.
void PutNumber(std::vector<uint8_t>& out, const std::string& digits, uint8_t nature, uint8_t second) {
    out.push_back(uint8_t((digits.size() + 1) / 2 + 2));
    out.push_back(uint8_t(nature | (digits.size() % 2 ? 0x80 : 0)));
    out.push_back(second);
    for (size_t i = 0; i < digits.size(); i += 2) {
        uint8_t lo = uint8_t(digits[i] - '0') & 0x0F;
        uint8_t hi = i + 1 < digits.size() ? uint8_t(digits[i + 1] - '0') & 0x0F : 0x0F;
        out.push_back(uint8_t(lo | (hi << 4)));
    }
}

std::string Digits(const std::string& s) {
    std::string d;
    for (char c : s)
        if (c >= '0' && c <= '9') d += c;
    return d.substr(0, 30);
}

// The image an exchange sends to offer a call: routing label (0x85, our point code as destination, the
// exchange's as origin, the circuit), then an IAM with the called number and, when given, the calling number.
std::vector<uint8_t> MakeIam(int32_t ch, const std::string& caller, const std::string& called) {
    std::vector<uint8_t> m = {0x85, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02};
    PutCircuit(m, ch);
    std::string cd = Digits(called), cg = Digits(caller);
    uint8_t ld = uint8_t((cd.size() + 1) / 2 + 2);
    for (uint8_t b : {0x01, 0x00, 0x60, 0x00, 0x0A, 0x03, 0x02})
        m.push_back(b);
    m.push_back(uint8_t(ld + 2));
    PutNumber(m, cd, 0x03, 0x10);
    if (!cg.empty()) {
        m.push_back(0x0A);
        PutNumber(m, cg, 0x03, 0x13);
    }
    m.push_back(0x00);
    return m;
}

// Caller id as an analogue exchange sends it between the rings: an MDMF message (0x80) with the date and time
// (parameter 1) and the number (parameter 2), closed by a checksum that makes the byte sum 0.
std::vector<uint8_t> MakeCidBurst(const std::string& number) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char date[48];
    std::snprintf(date, sizeof date, "%02d%02d%02d%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    std::string num = number.substr(0, 20);
    std::vector<uint8_t> m = {0x80, 0, 0x01, 8};
    m.insert(m.end(), date, date + 8);
    m.push_back(0x02);
    m.push_back(uint8_t(num.size()));
    m.insert(m.end(), num.begin(), num.end());
    m[1] = uint8_t(m.size() - 2);
    uint8_t sum = 0;
    for (uint8_t b : m)
        sum = uint8_t(sum + b);
    m.push_back(uint8_t(0x100 - sum));
    return m;
}

// The number of a caller-id message (MDMF parameter 2 or SDMF after its date); empty when the checksum or the
// layout is wrong.
std::string DecodeCidBurst(const std::vector<uint8_t>& m) {
    if (m.size() < 3 || size_t(m[1]) + 3 != m.size()) return {};
    uint8_t sum = 0;
    for (uint8_t b : m)
        sum = uint8_t(sum + b);
    if (sum != 0) return {};
    size_t end = 2 + m[1];
    if (m[0] == 0x04) return m[1] > 8 ? std::string(m.begin() + 10, m.begin() + long(end)) : std::string();
    if (m[0] != 0x80) return {};
    for (size_t i = 2; i + 2 <= end;) {
        size_t len = m[i + 1];
        if (i + 2 + len > end) break;
        if (m[i] == 0x02) return std::string(m.begin() + long(i) + 2, m.begin() + long(i + 2 + len));
        i += 2 + len;
    }
    return {};
}

bool IsAnalogue(int32_t type) {
    return type == 0 || type == 1 || type == 2;
}
bool IsDigital(int32_t type) {
    return !IsAnalogue(type) && type != 3 && type != 12 && type != 5 && type != 9 && type != 15 && type != 16 &&
           type < 20;
}

thread_local std::string t_farRefusal;

int32_t NoOutgoingCall(int32_t ch) {
    return FarRefuse("no outgoing call on channel " + std::to_string(ch));
}

int32_t NotIdle(int32_t ch) {
    return FarRefuse("channel " + std::to_string(ch) + " is not idle");
}

} // namespace

int32_t FarRefuse(std::string why) {
    t_farRefusal = std::move(why);
    return -1;
}

int32_t FarNoChannel(int32_t ch) {
    return FarRefuse("no channel " + std::to_string(ch));
}

std::string CardSim::FarRefusal() {
    return t_farRefusal;
}

void CardSim::AddJournal(std::string line) {
    if (!journalFile_.empty()) {
        if (FileHandle f = FileHandle::Open(journalFile_.c_str(), "a")) std::fprintf(f.get(), "%s\n", line.c_str());
    }
    journal_.push_back(std::move(line));
    if (journal_.size() > kJournalMax) journal_.pop_front();
}

CardSim::CardSim() = default;

CardSim::~CardSim() {
    control_.reset();
    {
        std::lock_guard<std::mutex> g(pumpM_);
        pumpStop_ = true;
    }
    pumpCv_.notify_all();
    if (pump_.joinable()) pump_.join();
}

CardSim::Chan* CardSim::At(int32_t ch) {
    return ch >= 0 && size_t(ch) < chans_.size() ? chans_[size_t(ch)].get() : nullptr;
}

bool CardSim::HasChannel(int32_t ch) {
    Lock lk(m_);
    return At(ch) != nullptr;
}

int32_t CardSim::BadChannel(const char* fn, int32_t ch) {
    lastError_ = "channel " + std::to_string(ch) + " out of range";
    return Note(fn, -1, ch);
}

std::optional<int32_t> CardSim::Injected(const char* fn) {
    auto it = failures_.find(fn);
    if (it == failures_.end()) return std::nullopt;
    if (it->second.skip > 0) {
        --it->second.skip;
        return std::nullopt;
    }
    int32_t r = it->second.result;
    if (it->second.times > 0 && --it->second.times == 0) failures_.erase(it);
    lastError_ = std::string(fn) + " failed (injected)";
    return r;
}

int32_t CardSim::Fail(const std::string& function, int32_t result, int32_t times, int32_t skip) {
    Lock lk(m_);
    if (failures_.size() >= kMaxFailures && !failures_.count(function)) return -1;
    failures_[function] = {result, times, skip};
    return 0;
}

void CardSim::ClearFailures() {
    Lock lk(m_);
    failures_.clear();
}

void CardSim::Notify(Chan& c) {
    ++c.events;
    if (c.wake) c.wake->Signal();
}

std::vector<std::string> CardSim::Journal(size_t n) {
    Lock lk(m_);
    size_t from = n && n < journal_.size() ? journal_.size() - n : 0;
    return {journal_.begin() + long(from), journal_.end()};
}

void CardSim::ClearJournal() {
    Lock lk(m_);
    journal_.clear();
}

int32_t CardSim::ControlPort() const {
    Lock lk(m_);
    return control_ ? control_->Port() : -1;
}

// ---- Start and channels

int CardSim::ReadConfig(const std::string& file) {
    FileHandle f = FileHandle::Open(file.c_str(), "r");
    if (!f) return errno;
    std::vector<int32_t> types;
    char line[1024];
    while (std::fgets(line, sizeof line, f.get())) {
        std::string s = Trim(line);
        if (size_t cut = s.find("//"); cut != std::string::npos) s.resize(cut);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        size_t eq = s.find('=');
        if (eq == std::string::npos) continue;
        std::string key = s.substr(0, eq), val = s.substr(eq + 1);
        if (key == "ChannelTypes")
            types = ParseTypes(val);
        else if (key == "ControlPort")
            controlPortWanted_ = std::atoi(val.c_str());
        else if (key == "PendingMode")
            pendingMode_ = std::atoi(val.c_str());
        else if (key == "FaxPageMs")
            faxPageMs_ = std::max(1, std::atoi(val.c_str()));
        else if (key == "Journal" && !val.empty())
            journalFile_ = val[0] == '/' ? val : folder_ + val;
    }
    if (std::ferror(f.get())) return errno;
    for (size_t i = 0; i < types.size(); ++i) {
        auto c = std::make_unique<Chan>();
        c->no = int32_t(i);
        c->type = types[i];
        chans_.push_back(std::move(c));
    }
    return 0;
}

int32_t CardSim::SsmStartCti(const char* cfgFile, const char* indexFile) {
    SIM_CALL(SsmStartCti, cfgFile, indexFile);
    std::string cfg = cfgFile ? cfgFile : "";
    size_t slash = cfg.find_last_of('/');
    folder_ = slash == std::string::npos ? std::string() : cfg.substr(0, slash + 1);
    if (!FileExists(cfg)) {
        lastError_ = "cannot open " + cfg;
        return Note("SsmStartCti", -1, cfgFile, indexFile);
    }
    chans_.clear();
    if (int err = ReadConfig(cfg)) {
        lastError_ = "cannot read " + cfg + ": " + std::strerror(err);
        return Note("SsmStartCti", -1, cfgFile, indexFile);
    }
    started_ = true;
    if (controlPortWanted_ >= 0) {
        control_ = std::make_unique<CardControl>(*this);
        int32_t port = control_->Start(controlPortWanted_);
        if (port < 0) {
            lastError_ = "control port " + std::to_string(controlPortWanted_) + " cannot be opened";
            control_.reset();
        } else if (FileHandle f = FileHandle::Open((folder_ + "ControlPort.txt").c_str(), "w")) {
            std::fprintf(f.get(), "%d\n", port);
        }
    }
    return Note("SsmStartCti", 0, cfgFile, indexFile);
}

int32_t CardSim::SsmCloseCti() {
    control_.reset();
    SIM_CALL(SsmCloseCti, 0);
    started_ = false;
    return Note("SsmCloseCti", 0);
}

std::string CardSim::SsmGetLastErrMsg() {
    Lock lk(m_);
    return lastError_;
}

int32_t CardSim::SsmGetMaxCh() {
    SIM_CALL(SsmGetMaxCh, 0);
    return Note("SsmGetMaxCh", started_ ? int32_t(chans_.size()) : -1);
}

int32_t CardSim::SsmGetChType(int32_t ch) {
    SIM_CHAN(SsmGetChType, ch);
    return Note("SsmGetChType", c->type, ch);
}

int32_t CardSim::SsmGetChState(int32_t ch) {
    // Asked in every wait: kept out of the journal.
    RunLater later;
    Lock lk(m_);
    if (auto injected = Injected("SsmGetChState")) return *injected;
    Chan* c = At(ch);
    if (!c) return -1;
    Advance(*c, later.fns);
    return c->state;
}

void CardSim::SetChannelWake(int32_t ch, WakeEvent* wake) {
    Lock lk(m_);
    if (Chan* c = At(ch)) c->wake = wake;
}

uint64_t CardSim::ChannelEvents(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    return c ? c->events : 0;
}

// ---- Call control

int32_t CardSim::SsmGetPendingMode(int32_t ch) {
    SIM_CHAN(SsmGetPendingMode, ch);
    return Note("SsmGetPendingMode", pendingMode_, ch);
}

int32_t CardSim::SsmGetPendingReason(int32_t ch) {
    SIM_CHAN(SsmGetPendingReason, ch);
    return Note("SsmGetPendingReason", c->state == kChPending ? c->pendingReason : 0, ch);
}

int32_t CardSim::SsmAcceptPending(int32_t ch, int32_t flag) {
    SIM_CHAN(SsmAcceptPending, ch, flag);
    return Note("SsmAcceptPending", c->state == kChPending || c->state == kChRinging ? 0 : -1, ch, flag);
}

int32_t CardSim::SsmCompletePending(int32_t ch, int32_t flag) {
    SIM_CHAN(SsmCompletePending, ch, flag);
    if (c->state != kChPending) return Note("SsmCompletePending", -1, ch, flag);
    c->pendingReason = 0;
    return Note("SsmCompletePending", 0, ch, flag);
}

int32_t CardSim::SsmPickup(int32_t ch) {
    SIM_CHAN(SsmPickup, ch);
    // An offered call is answered; an idle line goes off hook to dial.
    c->state = c->state == kChRinging || c->state == kChPending ? kChTalking : 1;
    return Note("SsmPickup", 0, ch);
}

int32_t CardSim::SsmHangup(int32_t ch) {
    SIM_CHAN(SsmHangup, ch);
    c->state = kChIdle;
    c->progress = 0;
    return Note("SsmHangup", 0, ch);
}

int32_t CardSim::SsmAnswer(int32_t ch, int32_t charge) {
    SIM_CHAN(SsmAnswer, ch, charge);
    if (c->state != kChPending && c->state != kChRinging && c->state != kChTalking)
        return Note("SsmAnswer", -1, ch, charge);
    c->state = kChTalking;
    if (c->type == 11 && c->iamIn.size() >= 10) {
        // The answer message goes back on the circuit of the offered call.
        std::vector<uint8_t> anm = {c->iamIn[0], c->iamIn[4], c->iamIn[5], c->iamIn[6], c->iamIn[1], c->iamIn[2],
                                    c->iamIn[3], c->iamIn[7], c->iamIn[8], c->iamIn[9], 0x09,        0x00};
        c->isupSent.push_back(anm);
    }
    return Note("SsmAnswer", 0, ch, charge);
}

int32_t CardSim::SsmSetKB(int32_t ch, int32_t value) {
    SIM_CHAN(SsmSetKB, ch, value);
    if (value == 5) c->state = kChIdle; // refused
    return Note("SsmSetKB", 0, ch, value);
}

int32_t CardSim::SsmIsupRelease(int32_t ch, int32_t cause) {
    SIM_CHAN(SsmIsupRelease, ch, cause);
    std::vector<uint8_t> rel = {0x0C, 0x02, 0x00, 0x02, 0x80, uint8_t(0x80 | (cause & 0x7F)), 0x00};
    c->isupSent.push_back(rel);
    c->state = kChIdle;
    c->progress = 0;
    return Note("SsmIsupRelease", 0, ch, cause);
}

int32_t CardSim::SsmClearCall(int32_t ch) {
    SIM_CHAN(SsmClearCall, ch);
    c->caller.clear();
    c->called.clear();
    c->cidBurst.clear();
    c->iamIn.clear();
    c->acmIn.clear();
    c->progress = 0;
    c->releaseCause = c->failCause = 0;
    return Note("SsmClearCall", 0, ch);
}

int32_t CardSim::SsmSetTxCallerId(int32_t ch, const char* number) {
    SIM_CHAN(SsmSetTxCallerId, ch, number);
    c->txCallerId = number ? number : "";
    return Note("SsmSetTxCallerId", 0, ch, number);
}

int32_t CardSim::SsmSetTxOriginalCallee(int32_t ch, const char* number) {
    SIM_CHAN(SsmSetTxOriginalCallee, ch, number);
    c->txOriginalCallee = number ? number : "";
    return Note("SsmSetTxOriginalCallee", 0, ch, number);
}

int32_t CardSim::SsmSetCallerSubAddr(int32_t ch, const char* text) {
    SIM_CHAN(SsmSetCallerSubAddr, ch, text);
    return Note("SsmSetCallerSubAddr", 0, ch, text);
}

int32_t CardSim::SsmSetCalleeSubAddr(int32_t ch, const char* text) {
    SIM_CHAN(SsmSetCalleeSubAddr, ch, text);
    return Note("SsmSetCalleeSubAddr", 0, ch, text);
}

int32_t CardSim::SsmPreDial(int32_t ch) {
    SIM_CHAN(SsmPreDial, ch);
    return Note("SsmPreDial", 0, ch);
}

int32_t CardSim::SsmAutoDial(int32_t ch, const char* number) {
    SIM_CHAN(SsmAutoDial, ch, number);
    if (c->state != 1 && c->state != kChIdle) {
        lastError_ = "channel busy";
        return Note("SsmAutoDial", -1, ch, number);
    }
    c->dialled = number ? number : "";
    c->state = 1;
    c->progress = kDialRunning;
    c->acmIn.clear();
    c->releaseCause = c->isupCause = c->failCause = c->polarCount = 0;
    if (!c->upPara[0].empty()) c->isupSent.push_back(c->upPara[0]);
    Notify(*c);
    return Note("SsmAutoDial", 0, ch, number);
}

int32_t CardSim::SsmAutoDialEx(int32_t ch, const char* number, int32_t para) {
    int32_t r = SsmAutoDial(ch, number);
    Lock lk(m_);
    return Note("SsmAutoDialEx", r, ch, number, para);
}

int32_t CardSim::SsmChkAutoDial(int32_t ch) {
    SIM_CHAN(SsmChkAutoDial, ch);
    return Note("SsmChkAutoDial", c->progress, ch);
}

int32_t CardSim::SsmGetReleaseCause(int32_t ch) {
    SIM_CHAN(SsmGetReleaseCause, ch);
    return Note("SsmGetReleaseCause", c->releaseCause, ch);
}

int32_t CardSim::SsmGetIsupCause(int32_t ch) {
    SIM_CHAN(SsmGetIsupCause, ch);
    return Note("SsmGetIsupCause", c->isupCause, ch);
}

int32_t CardSim::SsmGetFailCause(int32_t ch) {
    SIM_CHAN(SsmGetFailCause, ch);
    return Note("SsmGetFailCause", c->failCause, ch);
}

int32_t CardSim::SsmGetPolarRvrsCount(int32_t ch) {
    SIM_CHAN(SsmGetPolarRvrsCount, ch);
    return Note("SsmGetPolarRvrsCount", c->polarCount, ch);
}

int32_t CardSim::SsmGetCallerId(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetCallerId, ch);
    // An analogue line knows its caller only from the FSK burst between the rings.
    out = IsAnalogue(c->type) ? DecodeCidBurst(c->cidBurst) : c->caller;
    return Note("SsmGetCallerId", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmGetCallerSubAddr(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetCallerSubAddr, ch);
    out = c->callerSub;
    return Note("SsmGetCallerSubAddr", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmGetCalleeId(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetCalleeId, ch);
    out = c->called;
    return Note("SsmGetCalleeId", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmGetCalleeSubAddr(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetCalleeSubAddr, ch);
    out = c->calleeSub;
    return Note("SsmGetCalleeSubAddr", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmGetOriginalCallee(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetOriginalCallee, ch);
    out = c->originalCallee;
    return Note("SsmGetOriginalCallee", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmGetHookState(int32_t ch) {
    SIM_CHAN(SsmGetHookState, ch);
    return Note("SsmGetHookState", c->hook, ch);
}

int32_t CardSim::SsmGetHookCount(int32_t ch) {
    SIM_CHAN(SsmGetHookCount, ch);
    return Note("SsmGetHookCount", c->hookCount, ch);
}

int32_t CardSim::SsmRingExt(int32_t ch) {
    SIM_CHAN(SsmRingExt, ch);
    c->ringText = "(ring)";
    return Note("SsmRingExt", 0, ch);
}

int32_t CardSim::SsmRingExtWithText(int32_t ch, const char* text, int32_t len, int32_t ms) {
    SIM_CHAN(SsmRingExtWithText, ch, text, len, ms);
    c->ringText.assign(text ? text : "", text ? size_t(std::max(0, len)) : 0);
    return Note("SsmRingExtWithText", 0, ch, text, len, ms);
}

int32_t CardSim::SsmSetSignalling(int32_t ch, int32_t on) {
    SIM_CHAN(SsmSetSignalling, ch, on);
    c->signalling = on;
    return Note("SsmSetSignalling", 0, ch, on);
}

int32_t CardSim::SsmSetIsupChannel(int32_t ch, int32_t value) {
    SIM_CHAN(SsmSetIsupChannel, ch, value);
    return Note("SsmSetIsupChannel", 0, ch, value);
}

int32_t CardSim::SsmSetAnalogPara(int32_t ch, int32_t which, int32_t value) {
    SIM_CHAN(SsmSetAnalogPara, ch, which, value);
    return Note("SsmSetAnalogPara", 0, ch, which, value);
}

// ---- ISUP user-part messages

int32_t CardSim::SsmGetIsupUPPara(int32_t ch, int32_t kind, int32_t& len, uint8_t* buf) {
    SIM_CHAN(SsmGetIsupUPPara, ch, kind, len);
    const std::vector<uint8_t>& m = kind == kIsupIam ? c->iamIn : c->acmIn;
    if ((kind != kIsupIam && kind != kIsupAcm) || m.empty() || !buf) {
        len = 0;
        return Note("SsmGetIsupUPPara", 0, ch, kind, len);
    }
    len = std::min(len, int32_t(m.size()));
    std::memcpy(buf, m.data(), size_t(std::max(0, len)));
    return Note("SsmGetIsupUPPara", 1, ch, kind, len);
}

int32_t CardSim::SsmSetIsupUPPara(int32_t ch, int32_t kind, int32_t len, const uint8_t* buf) {
    SIM_CHAN(SsmSetIsupUPPara, ch, kind, len);
    if ((kind != kIsupIam && kind != kIsupAcm) || len < 10 || len > 300 || !buf) {
        lastError_ = "bad user-part parameter";
        return Note("SsmSetIsupUPPara", -1, ch, kind, len);
    }
    c->upPara[kind == kIsupIam ? 0 : 1].assign(buf, buf + len);
    return Note("SsmSetIsupUPPara", 0, ch, kind, len);
}

int32_t CardSim::SsmSendIsupMsg(int32_t ch, int32_t kind) {
    SIM_CHAN(SsmSendIsupMsg, ch, kind);
    if (kind != kIsupAcm || c->upPara[1].empty()) return Note("SsmSendIsupMsg", -1, ch, kind);
    c->isupSent.push_back(c->upPara[1]);
    return Note("SsmSendIsupMsg", 0, ch, kind);
}

// ---- DTMF

int32_t CardSim::SsmGetRxDtmfLen(int32_t ch) {
    SIM_CHAN(SsmGetRxDtmfLen, ch);
    return Note("SsmGetRxDtmfLen", int32_t(c->rxDtmf.size()), ch);
}

int32_t CardSim::SsmGetRxDtmf(int32_t ch, std::string& out) {
    SIM_CHAN(SsmGetRxDtmf, ch);
    out = c->rxDtmf;
    return Note("SsmGetRxDtmf", int32_t(out.size()), ch, out);
}

int32_t CardSim::SsmClearRxDtmf(int32_t ch) {
    SIM_CHAN(SsmClearRxDtmf, ch);
    c->rxDtmf.clear();
    return Note("SsmClearRxDtmf", 0, ch);
}

int32_t CardSim::SsmTxDtmf(int32_t ch, const char* digits) {
    SIM_CHAN(SsmTxDtmf, ch, digits);
    c->txDtmf = digits ? digits : "";
    c->dtmfSent += c->txDtmf;
    for (Chan* h : HearersOf(*c)) {
        h->rxDtmf += c->txDtmf;
        Notify(*h);
    }
    // 100 ms of tone and 100 ms of pause per digit.
    c->txDtmfEnd = GetTickCount() + uint32_t(c->txDtmf.size()) * 200;
    return Note("SsmTxDtmf", 0, ch, digits);
}

int32_t CardSim::SsmChkTxDtmf(int32_t ch) {
    SIM_CHAN(SsmChkTxDtmf, ch);
    return Note("SsmChkTxDtmf", int32_t(c->txDtmf.size()), ch);
}

// ---- Links and conference groups

int32_t CardSim::SsmPrepareLink(int32_t ch) {
    SIM_CHAN(SsmPrepareLink, ch);
    return Note("SsmPrepareLink", 0, ch);
}

int32_t CardSim::SsmTalkWithEx(int32_t ch, int32_t gain, int32_t other, int32_t otherGain) {
    SIM_CHAN(SsmTalkWithEx, ch, gain, other, otherGain);
    Chan* o = At(other);
    if (!o || o == c) {
        lastError_ = "bad channel to talk with";
        return Note("SsmTalkWithEx", -1, ch, gain, other, otherGain);
    }
    c->talk.insert(other);
    o->talk.insert(ch);
    return Note("SsmTalkWithEx", 0, ch, gain, other, otherGain);
}

int32_t CardSim::SsmStopTalkWith(int32_t ch, int32_t other) {
    SIM_CHAN(SsmStopTalkWith, ch, other);
    Chan* o = At(other);
    if (!o || !c->talk.count(other)) return Note("SsmStopTalkWith", -1, ch, other);
    c->talk.erase(other);
    o->talk.erase(ch);
    return Note("SsmStopTalkWith", 0, ch, other);
}

int32_t CardSim::SsmCreateConfGroup(int32_t a, int32_t b, int32_t c, int32_t d) {
    SIM_CALL(SsmCreateConfGroup, a, b, c, d);
    int32_t g = nextGroup_++;
    groups_[g];
    return Note("SsmCreateConfGroup", g, a, b, c, d);
}

int32_t CardSim::SsmFreeConfGroup(int32_t group) {
    SIM_CALL(SsmFreeConfGroup, group);
    auto it = groups_.find(group);
    if (it == groups_.end()) return Note("SsmFreeConfGroup", -1, group);
    for (int32_t m : it->second)
        if (Chan* c = At(m)) c->group = c->groupMode = -1;
    groups_.erase(it);
    return Note("SsmFreeConfGroup", 0, group);
}

int32_t CardSim::SsmJoinConfGroup(int32_t group, int32_t ch, int32_t mode, int32_t gain, int32_t a, int32_t b) {
    SIM_CALL(SsmJoinConfGroup, group, ch, mode, gain, a, b);
    Chan* c = At(ch);
    auto it = groups_.find(group);
    if (!c || it == groups_.end() || c->group >= 0) {
        lastError_ = c && c->group >= 0 ? "channel already in a conference" : "no such conference group";
        return Note("SsmJoinConfGroup", -1, group, ch, mode, gain, a, b);
    }
    it->second.push_back(ch);
    c->group = group;
    c->groupMode = mode;
    return Note("SsmJoinConfGroup", 0, group, ch, mode, gain, a, b);
}

int32_t CardSim::SsmExitConfGroup(int32_t ch, int32_t a) {
    SIM_CALL(SsmExitConfGroup, ch, a);
    Chan* c = At(ch);
    if (!c || c->group < 0) return Note("SsmExitConfGroup", -1, ch, a);
    auto& members = groups_[c->group];
    members.erase(std::remove(members.begin(), members.end(), ch), members.end());
    c->group = c->groupMode = -1;
    return Note("SsmExitConfGroup", 0, ch, a);
}

// ---- The far end

int32_t CardSim::Ring(int32_t ch, const std::string& caller, const std::string& called) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->state != kChIdle) return NotIdle(ch);
    if (c->type == 11) {
        lk.unlock();
        return RingIsup(ch, MakeIam(ch, caller, called));
    }
    c->caller = caller;
    c->called = called;
    if (IsAnalogue(c->type)) {
        c->cidBurst = MakeCidBurst(caller);
        c->state = kChRinging;
    } else {
        c->state = kChPending;
        c->pendingReason = kPendingIncoming;
    }
    Note("Ring", 0, ch, caller, called);
    Notify(*c);
    return 0;
}

int32_t CardSim::RingIsup(int32_t ch, const std::vector<uint8_t>& iam) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->state != kChIdle) return NotIdle(ch);
    if (!IsDigital(c->type)) return FarRefuse("channel " + std::to_string(ch) + " is not a digital trunk");
    if (iam.empty() || iam.size() > 300) return FarRefuse("an initial address message is 1 to 300 bytes");
    c->iamIn = iam;
    c->caller.clear();
    c->called.clear();
    c->state = kChPending;
    c->pendingReason = kPendingIncoming;
    Note("RingIsup", 0, ch, int32_t(iam.size()));
    Notify(*c);
    return 0;
}

int32_t CardSim::RingFsk(int32_t ch, const std::vector<uint8_t>& burst) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->state != kChIdle) return NotIdle(ch);
    if (!IsAnalogue(c->type)) return FarRefuse("channel " + std::to_string(ch) + " is not an analogue line");
    c->cidBurst = burst;
    c->state = kChRinging;
    Note("RingFsk", 0, ch, int32_t(burst.size()));
    Notify(*c);
    return 0;
}

int32_t CardSim::SendDtmf(int32_t ch, const std::string& digits) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->rxDtmf.size() + digits.size() > kMaxFarKeys)
        return FarRefuse("key queue full (" + std::to_string(kMaxFarKeys) + " keys not yet read)");
    c->rxDtmf += digits;
    Notify(*c);
    return 0;
}

int32_t CardSim::FarHangup(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    c->input.clear(); // what the caller was still to say goes with the caller
    if (c->type == 1 || c->type == 2) {
        c->hook = 0; // an extension's telephone is put down
    } else if (c->state == kChRinging || (c->state == kChPending && c->pendingReason == kPendingIncoming)) {
        c->state = kChIdle; // the caller gave up before the answer
    } else if (c->state != kChIdle) {
        c->state = kChPending;
        c->pendingReason = 0;
        c->releaseCause = 16;
    }
    Notify(*c);
    return 0;
}

int32_t CardSim::FarAlert(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->progress == 0) return NoOutgoingCall(ch);
    if (IsDigital(c->type))
        c->state = kChAddressComplete;
    else
        c->progress = kDialRingback;
    Notify(*c);
    return 0;
}

int32_t CardSim::FarAnswer(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->progress == 0) return NoOutgoingCall(ch);
    c->progress = kDialConnected;
    c->state = kChTalking;
    Notify(*c);
    return 0;
}

int32_t CardSim::FarReject(int32_t ch, int32_t cause) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->progress == 0) return NoOutgoingCall(ch);
    if (IsDigital(c->type)) {
        // ISUP reports its release cause through the ISUP cause query (66 says so); other digital signalling
        // gives it directly, above 100.
        c->state = kChReleased;
        c->releaseCause = c->type == 11 ? 66 : 100 + cause;
        c->isupCause = cause;
    } else {
        c->progress = kDialFailCause;
        c->failCause = cause;
    }
    Notify(*c);
    return 0;
}

// An analogue line hears the failure as dial progress; a digital trunk gets a release with the cause.
int32_t CardSim::FarFailure(int32_t ch, int32_t progress, int32_t cause) {
    {
        Lock lk(m_);
        Chan* c = At(ch);
        if (!c) return FarNoChannel(ch);
        if (c->progress == 0) return NoOutgoingCall(ch);
        if (!IsDigital(c->type)) {
            c->progress = progress;
            Notify(*c);
            return 0;
        }
    }
    return FarReject(ch, cause);
}

int32_t CardSim::FarBusy(int32_t ch) {
    return FarFailure(ch, kDialBusy, 17); // user busy
}

int32_t CardSim::FarNoAnswer(int32_t ch) {
    return FarFailure(ch, kDialNoAnswer, 19); // no answer
}

int32_t CardSim::FarNoDialTone(int32_t ch) {
    return FarFailure(ch, kDialNoDialTone, 34); // no circuit
}

int32_t CardSim::FarAcm(int32_t ch, const std::vector<uint8_t>& acm) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    if (c->progress == 0) return NoOutgoingCall(ch);
    if (acm.size() > 300) return FarRefuse("an address-complete message is at most 300 bytes");
    c->acmIn = acm;
    c->state = kChAddressComplete;
    Notify(*c);
    return 0;
}

int32_t CardSim::SetHook(int32_t ch, bool offHook) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    c->hook = offHook ? 1 : 0;
    if (offHook)
        ++c->hookCount;
    else
        c->ringText.clear();
    Notify(*c);
    return 0;
}

int32_t CardSim::PolarityReversal(int32_t ch) {
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return FarNoChannel(ch);
    ++c->polarCount;
    Notify(*c);
    return 0;
}

std::optional<CardSim::Report> CardSim::Channel(int32_t ch) {
    RunLater later;
    Lock lk(m_);
    Chan* c = At(ch);
    if (!c) return std::nullopt;
    Advance(*c, later.fns);
    Report r;
    r.type = c->type;
    r.state = c->state;
    r.dialled = c->dialled;
    r.txCallerId = c->txCallerId;
    r.ringText = c->ringText;
    r.dtmfSent = c->dtmfSent;
    r.played = c->played;
    r.faxSent = c->faxSent;
    r.isupSent = c->isupSent;
    r.fskSent = c->fskSent;
    r.talk.assign(c->talk.begin(), c->talk.end());
    r.group = c->group;
    r.groupMode = c->groupMode;
    return r;
}

} // namespace zz
