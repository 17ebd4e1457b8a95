#include "platform/TagRunCfg.h"
#include "platform/FileHandle.h"

#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/TagWriteLog.h"
#include "platform/audio/Audio.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <set>

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

int TagRunCfg::ReadCfgFile(const std::string& fileName, TagRunCfg* cfg) {
    if (!cfg) return -1;
    FileHandle f = FileHandle::Open(fileName.c_str(), "r");
    if (!f) {
        RawLog("ReadCfgFile Err");
        return -2;
    }
    cfg->badLines = cfg->lineLists = 0;
    std::set<int32_t> seen;
    std::string raw, key, value;
    bool tooLong;
    int lineNo = 0;
    while (ReadLine(f.get(), raw, tooLong)) {
        ++lineNo;
        if (tooLong) {
            // A longer line would have been read in pieces; refuse it whole instead of applying a fragment.
            char msg[96];
            snprintf(msg, sizeof msg, "ReadCfgFile: line %d longer than 511 characters ignored", lineNo);
            RawLog(msg);
            WriteRunLogAlways(msg);
            continue;
        }
        if (!SplitCfgLine(raw, key, value)) {
            if (!CleanCfgLine(raw).empty()) ++cfg->badLines;
            continue;
        }
        if (!key.empty() && key[0] >= '0' && key[0] <= '9') {
            ++cfg->lineLists;
            TagLineList list;
            ParseLineList(key, list);
            if (list.truncated) {
                char msg[96];
                snprintf(msg, sizeof msg, "ReadCfgFile: line list of line %d cut at %zu lines", lineNo,
                         TagLineList::kMaxLines);
                RawLog(msg);
                WriteRunLogAlways(msg);
            }
            for (int32_t n : list.lines) {
                if (!seen.insert(n).second) {
                    ShowMessage("Error : ZuZodRun.Cfg : lines overlap", "Karvelian System");
                    return -3;
                }
            }
            continue;
        }
        std::string k = GbkUpper(key);
        int32_t iv = CfgInt(value);
        if (k == "IS_DISP_SENTE") {
            cfg->dispSentence = CfgTruth(value) ? 1 : (GbkUpper(value) == "NOTE" ? 2 : 0);
        } else if (k == "IS_SHOW_FORM") {
            cfg->showForm = CfgTruth(value) ? 1 : 0;
        } else if (k == "LANGUAGE_TYPE") {
            std::string u = GbkUpper(value);
            cfg->language = (u == "ENGLISH" || u == "EN") ? 1 : 0;
        } else if (k == "VIR_LINES_NUM") {
            cfg->virLines = iv;
        } else if (k == "TOTAL_LINES_NUM") {
            cfg->totalLines = iv;
        } else if (k == "FORM_TITLE") {
            cfg->formTitle = value;
            cfg->showEventName = value + " Show";
            cfg->quitEventName = value + " Quit";
        } else if (k == "TITLE1" || k == "TITLE2" || k == "TITLE3") {
            cfg->title[k[5] - '1'] = value;
        } else if (k == "COL_GROUP_NUM") {
            if (iv >= 1 && iv <= 10) cfg->colGroups = iv;
        } else if (k == "MONITOR_PORT") {
            if (iv >= 1) cfg->monitorPort = iv;
        } else if (k == "MONITOR_MAX_CONN") {
            if (iv <= 10) cfg->monitorMaxConn = iv;
        } else if (k == "IS_WRITE_LOG") {
            cfg->writeLog = CfgTruth(value) ? 1 : iv;
            SetLogLevel(cfg->writeLog);
        } else if (k == "IS_IMMEDIATE_LOG") {
            cfg->immediateLog = CfgTruth(value) ? 1 : iv;
        } else if (k == "IS_DISP_TALKTIME") {
            cfg->dispTalkTime = CfgTruth(value) ? 1 : iv;
        } else if (k == "LOG_FILE") {
            cfg->logFile = value;
        } else if (k == "LOG_SIZE") {
            int32_t mb = iv < 2 ? 2 : (iv > 80 ? 80 : iv);
            cfg->logSize = mb * 1048576;
        } else if (k == "MAX_MSG_NUM") {
            cfg->maxMsgNum = iv;
            SetMsgListLimit(iv);
        } else if (k == "LOAD_DELAY") {
            cfg->loadDelay = iv < 5 ? 5 : iv;
        } else if (k == "DISP_DELAY") {
            cfg->dispDelay = iv < 100 ? 100 : (iv > 15000 ? 15000 : iv);
        } else if (k == "DB_MAX_CONN") {
            SetDbMaxConn(iv);
        } else if (k == "DB_BITFIELD_IS_DIGIT") {
            SetDbBitfieldIsDigit(CfgTruth(value) || iv != 0);
        } else {
            // Sound-card device names (SOUND_OUT_DEVICE, SOUND_IN_DEVICE and their numbered forms).
            ApplyAudioCfgKey(k, value);
        }
    }
    return 0;
}

} // namespace zz
