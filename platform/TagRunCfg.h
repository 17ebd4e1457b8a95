#pragma once
// ZuZodRun.cfg: the run-time's one configuration file, and the process-wide values some keys set.
#include <cstdint>
#include <string>
#include <vector>

namespace zz {

struct TagLineList {
    static constexpr size_t kMaxLines = 5120;
    std::vector<int32_t> lines;
    bool truncated = false; // the list expanded beyond kMaxLines and was cut
};

// Fills out from the text of a line-list key ("1,5-7", "0+9", "0*9").
void ParseLineList(const std::string& text, TagLineList& out);

// The file's line syntax: blanks and tabs removed, the line cut at "//" when its first "/" starts one.
std::string CleanCfgLine(const std::string& rawLine);
// Applies the file's line syntax (CleanCfgLine). Returns false for a line without
// "=" (skipped); otherwise key and value.
bool SplitCfgLine(const std::string& rawLine, std::string& key, std::string& value);

// Leading optional sign and decimal digits; anything else reads as 0. Saturates at the int32 range.
int32_t CfgInt(const std::string& value);
bool CfgTruth(const std::string& value);

class TagRunCfg {
public:
    int32_t dispSentence = 1;   // IS_DISP_SENTE
    int32_t virLines = 2;       // VIR_LINES_NUM
    int32_t totalLines = 0;     // TOTAL_LINES_NUM, 0 = no limit
    std::string title[3];       // TITLE1..3
    std::string formTitle;      // FORM_TITLE
    std::string showEventName;  // FORM_TITLE + " Show"
    std::string quitEventName;  // FORM_TITLE + " Quit"
    uint8_t language = 0;       // LANGUAGE_TYPE: 0 Chinese, 1 English
    uint8_t showForm = 1;       // IS_SHOW_FORM
    int32_t colGroups = 1;      // COL_GROUP_NUM
    int32_t monitorPort = 2004; // MONITOR_PORT
    int32_t monitorMaxConn = 0; // MONITOR_MAX_CONN
    int32_t writeLog = 0;       // IS_WRITE_LOG
    int32_t immediateLog = 1;   // IS_IMMEDIATE_LOG
    int32_t dispTalkTime = 0;   // IS_DISP_TALKTIME
    int32_t loadDelay = 125;    // LOAD_DELAY, ms
    int32_t dispDelay = 500;    // DISP_DELAY, ms
    std::string logFile = "msg_log.txt";
    int32_t logSize = 2100000; // LOG_SIZE, bytes
    int32_t maxMsgNum = 2048;  // MAX_MSG_NUM
    // What the last ReadCfgFile found: line lists, and lines that are neither KEY=value, blank nor comment.
    int32_t lineLists = 0;
    int32_t badLines = 0;
    // What the last ReadCfgFile ignored or read otherwise than written, a line each ("ZuZodRun.cfg:9:
    // MONITOR_PORT=abc is not a number; 2004 kept"); the run log is not open yet at the first read.
    std::vector<std::string> warnings;

    TagRunCfg();

    // 0 read to the end; -1 no object; -2 the file cannot be opened; -3 two line lists name the same line.
    static int ReadCfgFile(const std::string& fileName, TagRunCfg* cfg);
    // The warnings of the last read to standard error and the run log (NoteToOperator).
    void TellWarnings() const;
};

// "line 5", "lines 1027-1028" or "lines 3-6, 9" of ascending line numbers.
std::string LineRangesText(const std::vector<int32_t>& lines);

// A line for the operator: "zuzod: " + text on standard error (in the terminal's encoding), text in the run log.
void NoteToOperator(const std::string& text);

// The process's configuration object (owned by the program's start; always present).
TagRunCfg& RunCfg();

// Process-wide values set by ReadCfgFile outside the object.
int32_t DbMaxConn(); // DB_MAX_CONN
void SetDbMaxConn(int32_t n);
bool DbBitfieldIsDigit(); // DB_BITFIELD_IS_DIGIT
void SetDbBitfieldIsDigit(bool on);
int32_t MsgListLimit(); // MAX_MSG_NUM
void SetMsgListLimit(int32_t n);

} // namespace zz
