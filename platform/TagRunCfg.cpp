#include "platform/TagRunCfg.h"
#include "platform/FileHandle.h"

#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "platform/audio/Audio.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <map>
#include <utility>

namespace zz {

namespace {
std::atomic<int32_t> g_dbMaxConn{0};
std::atomic<bool> g_dbBitDigit{false};
std::atomic<int32_t> g_msgLimit{2048};
constexpr size_t kMaxCfgLine = 512;
} // namespace

int32_t DbMaxConn() {
    return g_dbMaxConn.load(std::memory_order_relaxed);
}
void SetDbMaxConn(int32_t n) {
    g_dbMaxConn.store(n, std::memory_order_relaxed);
}
bool DbBitfieldIsDigit() {
    return g_dbBitDigit.load(std::memory_order_relaxed);
}
void SetDbBitfieldIsDigit(bool on) {
    g_dbBitDigit.store(on, std::memory_order_relaxed);
}
int32_t MsgListLimit() {
    return g_msgLimit.load(std::memory_order_relaxed);
}
void SetMsgListLimit(int32_t n) {
    g_msgLimit.store(n, std::memory_order_relaxed);
}

TagRunCfg& RunCfg() {
    static TagRunCfg cfg;
    return cfg;
}

TagRunCfg::TagRunCfg() {
    title[0] = "用户消息1";
    title[1] = "用户消息2";
    title[2] = "用户消息3";
}

int32_t CfgInt(const std::string& value) {
    size_t i = 0;
    bool neg = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) neg = value[i++] == '-';
    int64_t v = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        v = v * 10 + (value[i] - '0');
        if (v > int64_t(INT_MAX) + 1) v = int64_t(INT_MAX) + 1;
    }
    if (neg) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return int32_t(v);
}

bool CfgTruth(const std::string& value) {
    std::string u = GbkUpper(value);
    return u == "YES" || u == "TRUE" || u == "1";
}

std::string CleanCfgLine(const std::string& rawLine) {
    std::string line;
    line.reserve(rawLine.size());
    for (char c : rawLine) {
        if (c == '\n' || c == '\r') break;
        if (c != ' ' && c != '\t') line.push_back(c);
    }
    size_t slash = line.find('/');
    if (slash != std::string::npos && slash + 1 < line.size() && line[slash + 1] == '/') line.resize(slash);
    return line;
}

bool SplitCfgLine(const std::string& rawLine, std::string& key, std::string& value) {
    std::string line = CleanCfgLine(rawLine);
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = line.substr(0, eq);
    value = line.substr(eq + 1);
    return true;
}

void ParseLineList(const std::string& text, TagLineList& out) {
    out.lines.clear();
    out.truncated = false;
    std::string token;
    bool range = false;
    char op = 0;
    auto append = [&](int64_t v) {
        if (out.lines.size() >= TagLineList::kMaxLines) {
            out.truncated = true;
            return false;
        }
        out.lines.push_back(int32_t(v));
        return true;
    };
    auto endItem = [&]() {
        int32_t v = CfgInt(token);
        if (!range) {
            append(v);
        } else {
            int64_t start = 0;
            if (!out.lines.empty()) {
                start = out.lines.back();
                out.lines.pop_back();
            }
            for (int64_t n = start; n <= v; ++n) {
                bool take = op == '-' || (op == '+' && (n & 1)) || (op == '*' && !(n & 1));
                if (take && !append(n)) break;
                if (out.truncated) break;
            }
        }
        range = false;
        op = 0;
        token.clear();
    };
    for (char c : text) {
        if (c == ',') {
            endItem();
        } else if (c == '-' || c == '+' || c == '*') {
            append(CfgInt(token));
            token.clear();
            op = c;
            range = true;
        } else if (token.size() < 256) {
            token.push_back(c);
        }
    }
    if (!token.empty()) endItem();
}

static bool ReadLine(FILE* f, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    int c;
    bool any = false;
    while ((c = fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kMaxCfgLine * 4)
            line.push_back(char(c));
        else
            tooLong = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= kMaxCfgLine) tooLong = true;
    return any;
}

std::string LineRangesText(const std::vector<int32_t>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size();) {
        size_t j = i;
        while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1)
            ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(lines[i]);
        if (j > i) text += '-' + std::to_string(lines[j]);
        i = j + 1;
    }
    return (lines.size() > 1 ? "lines " : "line ") + text;
}

void NoteToOperator(const std::string& text) {
    WriteRunLogAlways(text.c_str());
    std::string line = "zuzod: ";
    line.append(text).append("\n");
    fputs(GbkToTerminal(line).c_str(), stderr);
}

void TagRunCfg::TellWarnings() const {
    for (const std::string& w : warnings)
        NoteToOperator(w);
}

namespace {

// Why a value is not an integer, or null when it is one.
const char* IntFault(const std::string& value) {
    size_t i = value.size() > 0 && (value[0] == '+' || value[0] == '-') ? 1 : 0;
    if (i == value.size()) return "is not a number";
    for (size_t k = i; k < value.size(); ++k)
        if (value[k] < '0' || value[k] > '9') return "is not a number";
    int32_t v = CfgInt(value);
    if (v == INT_MAX || v == INT_MIN) {
        std::string digits = value.substr(i);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        std::string exact = std::to_string(v < 0 ? -int64_t(v) : int64_t(v));
        if (digits != exact) return "is out of range";
    }
    return nullptr;
}

bool IsWord(const std::string& upper, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (upper == w) return true;
    return false;
}

bool FalseWord(const std::string& upper) {
    return IsWord(upper, {"NO", "FALSE", "0"});
}

// How an integer key takes its value: as read, clamped into lo..hi, or only when inside lo..hi (else the old
// value stays).
enum class Range { Any, Clamp, Keep };

struct IntKey {
    const char* name;
    Range range;
    int32_t lo, hi;
    int32_t TagRunCfg::*field; // null: the value goes only to also
    void (*also)(int32_t);
    int32_t scale; // stored as value x scale (LOG_SIZE is given in MB, kept in bytes)
};

constexpr IntKey kIntKeys[] = {
    {"VIR_LINES_NUM", Range::Any, 0, 0, &TagRunCfg::virLines, nullptr, 1},
    {"TOTAL_LINES_NUM", Range::Any, 0, 0, &TagRunCfg::totalLines, nullptr, 1},
    {"COL_GROUP_NUM", Range::Keep, 1, 10, &TagRunCfg::colGroups, nullptr, 1},
    {"MONITOR_PORT", Range::Keep, 1, INT_MAX, &TagRunCfg::monitorPort, nullptr, 1},
    {"MONITOR_MAX_CONN", Range::Keep, INT_MIN, 10, &TagRunCfg::monitorMaxConn, nullptr, 1},
    {"LOG_SIZE", Range::Clamp, 2, 80, &TagRunCfg::logSize, nullptr, 1048576},
    {"MAX_MSG_NUM", Range::Any, 0, 0, &TagRunCfg::maxMsgNum, SetMsgListLimit, 1},
    {"LOAD_DELAY", Range::Clamp, 5, INT_MAX, &TagRunCfg::loadDelay, nullptr, 1},
    {"DISP_DELAY", Range::Clamp, 100, 15000, &TagRunCfg::dispDelay, nullptr, 1},
    {"DB_MAX_CONN", Range::Any, 0, 0, nullptr, SetDbMaxConn, 1},
};

// Keys whose value is a truth word or else an integer.
struct TruthIntKey {
    const char* name;
    int32_t TagRunCfg::*field;
    void (*also)(int32_t);
};

constexpr TruthIntKey kTruthIntKeys[] = {
    {"IS_WRITE_LOG", &TagRunCfg::writeLog, SetLogLevel},
    {"IS_IMMEDIATE_LOG", &TagRunCfg::immediateLog, nullptr},
    {"IS_DISP_TALKTIME", &TagRunCfg::dispTalkTime, nullptr},
    {"DB_BITFIELD_IS_DIGIT", nullptr, [](int32_t v) { SetDbBitfieldIsDigit(v != 0); }},
};

// One read of the file: where it is, and the warnings it gathers.
class CfgReader {
public:
    CfgReader(const std::string& file, TagRunCfg& cfg) : file_(file), cfg_(cfg) {}

    void Warn(const std::string& text) { cfg_.warnings.push_back(file_ + ":" + std::to_string(lineNo) + ": " + text); }
    // Applies one KEY=value of a key that is not a line list.
    void Apply(const std::string& key, const std::string& value);
    // Takes the lines of a line list; false when one is in an earlier list (or twice in this one).
    bool TakeList(const std::string& key, const std::string& value);

    int lineNo = 0;

private:
    bool ApplyInt(const std::string& key, const std::string& k, const std::string& value);
    bool ApplyTruthInt(const std::string& key, const std::string& k, const std::string& value);
    bool ApplyWord(const std::string& key, const std::string& k, const std::string& value);

    const std::string& file_;
    TagRunCfg& cfg_;
    std::map<int32_t, size_t> owner_;                // line number -> index in lists_
    std::vector<std::pair<int, std::string>> lists_; // file line and text of each line list
};

bool CfgReader::ApplyInt(const std::string& key, const std::string& k, const std::string& value) {
    const IntKey* d = nullptr;
    for (const IntKey& e : kIntKeys)
        if (k == e.name) d = &e;
    if (!d) return false;
    int32_t v = CfgInt(value), used = v;
    const char* fault = IntFault(value);
    std::string bound;
    if (d->range != Range::Any && (v < d->lo || v > d->hi)) {
        used = v < d->lo ? d->lo : d->hi;
        if (d->range == Range::Keep && d->lo != INT_MIN && d->hi != INT_MAX)
            bound = "is outside " + std::to_string(d->lo) + "-" + std::to_string(d->hi);
        else
            bound = v < d->lo ? "is below " + std::to_string(d->lo) : "is above " + std::to_string(d->hi);
    }
    bool keep = !bound.empty() && d->range == Range::Keep;
    if (keep) used = d->field ? cfg_.*(d->field) / d->scale : 0;
    if (fault || !bound.empty())
        Warn(key + "=" + value + " " + (fault ? fault : bound.c_str()) + "; " + std::to_string(used) +
             (keep ? " kept" : " used"));
    if (keep) return true;
    if (d->field) cfg_.*(d->field) = used * d->scale;
    if (d->also) d->also(used);
    return true;
}

bool CfgReader::ApplyTruthInt(const std::string& key, const std::string& k, const std::string& value) {
    for (const TruthIntKey& e : kTruthIntKeys) {
        if (k != e.name) continue;
        std::string u = GbkUpper(value);
        int32_t v = CfgTruth(value) ? 1 : CfgInt(value);
        if (!CfgTruth(value) && !FalseWord(u) && IntFault(value))
            Warn(key + "=" + value + " is not yes, no or a number; " + std::to_string(v) + " used");
        if (e.field) cfg_.*(e.field) = v;
        if (e.also) e.also(v);
        return true;
    }
    return false;
}

// The keys that take a word: a word they do not know is said, with the value the platform takes for it.
bool CfgReader::ApplyWord(const std::string& key, const std::string& k, const std::string& value) {
    std::string u = GbkUpper(value);
    bool truth = CfgTruth(value);
    if (k == "IS_DISP_SENTE") {
        cfg_.dispSentence = truth ? 1 : (u == "NOTE" ? 2 : 0);
        if (!truth && u != "NOTE" && !FalseWord(u)) Warn(key + "=" + value + " is not yes, no or note; 0 used");
    } else if (k == "IS_SHOW_FORM") {
        cfg_.showForm = truth ? 1 : 0;
        if (!truth && !FalseWord(u)) Warn(key + "=" + value + " is not yes or no; 0 used");
    } else if (k == "LANGUAGE_TYPE") {
        bool english = u == "ENGLISH" || u == "EN";
        cfg_.language = english ? 1 : 0;
        if (!english && !IsWord(u, {"CHINESE", "CN", "ZH"})) Warn(key + "=" + value + " is not EN or CN; Chinese used");
    } else {
        return false;
    }
    return true;
}

void CfgReader::Apply(const std::string& key, const std::string& value) {
    std::string k = GbkUpper(key);
    if (ApplyInt(key, k, value) || ApplyTruthInt(key, k, value) || ApplyWord(key, k, value)) return;
    if (k == "FORM_TITLE") {
        cfg_.formTitle = value;
        cfg_.showEventName = value + " Show";
        cfg_.quitEventName = value + " Quit";
    } else if (k == "TITLE1" || k == "TITLE2" || k == "TITLE3") {
        cfg_.title[k[5] - '1'] = value;
    } else if (k == "LOG_FILE") {
        cfg_.logFile = value;
    } else if (!ApplyAudioCfgKey(k, value)) {
        // Sound-card device names (SOUND_OUT_DEVICE, SOUND_IN_DEVICE and their numbered forms) are the last known.
        Warn(key.empty() ? "no key before '=' in \"=" + value + "\"; line ignored" : "unknown key " + key + " ignored");
    }
}

bool ListIsWellFormed(const std::string& key) {
    bool digit = false, op = false;
    for (char c : key) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == ',' || ((c == '-' || c == '+' || c == '*') && !op)) {
            if (!digit) return false;
            op = c != ',';
            digit = false;
        } else {
            return false;
        }
    }
    return digit;
}

bool CfgReader::TakeList(const std::string& key, const std::string& value) {
    ++cfg_.lineLists;
    TagLineList list;
    ParseLineList(key, list);
    if (list.truncated) {
        char msg[96];
        snprintf(msg, sizeof msg, "ReadCfgFile: line list of line %d cut at %zu lines", lineNo, TagLineList::kMaxLines);
        RawLog(msg);
        WriteRunLogAlways(msg);
    }
    std::vector<int32_t> sorted = list.lines;
    std::sort(sorted.begin(), sorted.end());
    std::string names = sorted.empty() ? "it names no line" : "read as " + LineRangesText(sorted);
    if (!ListIsWellFormed(key))
        Warn("line list \"" + key + "\" is not line numbers and ranges (as in 0-3,7); " + names);
    else if (sorted.empty())
        Warn("line list \"" + key + "\" names no line");
    size_t self = lists_.size();
    lists_.emplace_back(lineNo, key + "=" + value);
    // The earlier lists each overlapping line belongs to, with the lines of each.
    std::map<size_t, std::vector<int32_t>> clash;
    for (int32_t n : list.lines) {
        auto [at, fresh] = owner_.emplace(n, self);
        if (!fresh) clash[at->second].push_back(n);
    }
    if (clash.empty()) return true;
    std::string text = "Error : " + file_ + " : line lists overlap:";
    for (auto& [other, lines] : clash) {
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        auto& [atLine, listText] = lists_[other];
        text += " " + LineRangesText(lines) + (lines.size() > 1 ? " are" : " is");
        if (other == self)
            text += " twice in " + listText + " (line " + std::to_string(lineNo) + ")";
        else
            text += " in both " + listText + " (line " + std::to_string(atLine) + ") and " + lists_[self].second +
                    " (line " + std::to_string(lineNo) + ")";
        text += ";";
    }
    text.pop_back();
    ShowMessage(text, "Karvelian System");
    return false;
}

} // namespace

int TagRunCfg::ReadCfgFile(const std::string& fileName, TagRunCfg* cfg) {
    if (!cfg) return -1;
    FileHandle f = FileHandle::Open(fileName.c_str(), "r");
    if (!f) {
        RawLog("ReadCfgFile Err");
        return -2;
    }
    cfg->badLines = cfg->lineLists = 0;
    cfg->warnings.clear();
    CfgReader reader(fileName, *cfg);
    std::string raw, key, value;
    bool tooLong;
    while (ReadLine(f.get(), raw, tooLong)) {
        int lineNo = ++reader.lineNo;
        if (tooLong) {
            // A longer line would have been read in pieces; refuse it whole instead of applying a fragment.
            char msg[96];
            snprintf(msg, sizeof msg, "ReadCfgFile: line %d longer than 511 characters ignored", lineNo);
            RawLog(msg);
            WriteRunLogAlways(msg);
            continue;
        }
        if (!SplitCfgLine(raw, key, value)) {
            std::string clean = CleanCfgLine(raw);
            if (clean.empty()) continue;
            ++cfg->badLines;
            reader.Warn("no '=' in \"" + clean + "\"; line ignored");
            continue;
        }
        if (!key.empty() && key[0] >= '0' && key[0] <= '9') {
            if (!reader.TakeList(key, value)) return -3;
            continue;
        }
        reader.Apply(key, value);
    }
    return 0;
}

} // namespace zz
