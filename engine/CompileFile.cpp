// Reading script files into logical lines, the compile error log, and the checks that end a compilation.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/CpuGate.h"
#include "platform/FileHandle.h"
#include "platform/Gbk.h"

namespace zz {

namespace {

void Disp(const char* text) {
    if (TheEngineHooks().dispCompileMsg) TheEngineHooks().dispCompileMsg(text, 0);
}

std::string ErrLogName(int32_t lineNo) {
    char name[40];
    std::snprintf(name, sizeof name, "errmsg%d.txt", lineNo);
    return name;
}

// The entries of the line's error file on standard error, in the terminal's encoding and without their "[Error]"
// or "[Warning]"; not again for each further line whose script gives the same entries (1,024 lines of one
// script), again when a line compiles again (a reload).
void ReportErrLog(int32_t lineNo) {
    std::string file, log;
    {
        FileHandle f = FileHandle::Open(ErrLogName(lineNo).c_str(), "rb");
        if (!f.get()) return;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;)
            file.append(buf, n);
    }
    for (size_t at = 0, end; (end = file.find('\n', at)) != std::string::npos; at = end + 1)
        for (std::string_view kind : {"[Error]", "[Warning]"})
            if (file.compare(at, kind.size(), kind) == 0)
                log.append(file, at + kind.size(), end + 1 - at - kind.size());
    if (log.empty()) return;
    // Per distinct set of entries, the lines that have compiled to it since it was last shown (kept for the
    // process: lines may still compile while it exits).
    static std::mutex& lock = *new std::mutex;
    static auto& shown = *new std::map<std::string, std::set<int32_t>>;
    {
        std::lock_guard<std::mutex> g(lock);
        std::set<int32_t>& lines = shown[log];
        bool again = lines.empty() || lines.count(lineNo);
        if (again) lines.clear();
        lines.insert(lineNo);
        if (!again) return;
    }
    std::fputs(GbkToTerminal(log).c_str(), stderr);
}

} // namespace

bool TagTelBasic::ReadSourceLine(const char* buf, size_t len, size_t& pos, char* dest, size_t room) {
    if (!dest || room == 0) return false;
    dest[0] = 0;
    if (!buf || pos >= len || buf[pos] == 0) return false;
    size_t n = 0;
    while (pos < len && n + 1 < room) {
        char c = buf[pos];
        if (c == 0) break;
        if (c == '\r') {
            ++pos;
            if (pos < len && buf[pos] == '\n') ++pos;
            break;
        }
        if (c == '\n') {
            ++pos;
            break;
        }
        dest[n++] = c;
        ++pos;
    }
    dest[n] = 0;
    return true;
}

void TagTelBasic::WriteErrMsg(int32_t line, const char* message, const char* text, uint8_t isWarning) {
    if (isWarning && runMode != 0) return;
    if (!message) message = "";
    if (!text) text = "";
    Disp(message);
    const char* kindWord = isWarning ? "Warning" : "Error";
    FileHandle fFile = FileHandle::Open(ErrLogName(lineNo).c_str(), "ab");
    FILE* f = fFile.get();
    if (!f) return;
    if (line == kSummaryLine)
        std::fprintf(f, "\n%s: %s, %s\n", scriptFile.c_str(), message, text);
    else if (!*text)
        std::fprintf(f, "[%s]%s(%d): %s\n\n", kindWord, scriptFile.c_str(), line, message);
    else
        std::fprintf(f, "[%s]%s(%d): %s, %s\n", kindWord, scriptFile.c_str(), line, message, text);
    fFile.Close();
}

int32_t TagTelBasic::CompileFile(int32_t includeLine, const char* file) {
    const std::string name = file ? file : "";
    if (std::find(includes.begin(), includes.end(), name) != includes.end()) {
        WriteErrMsg(includeLine, "重复包含文件", name.c_str(), 1);
        ++warningCount;
        return -1;
    }
    includes.push_back(name);
    if (scriptFile.empty()) scriptFile = name;
    int32_t length = 0;
    bool wasTransformed = false;
    std::shared_ptr<const std::string> text =
        TagMemKvs::Process().GetFileBuff(name.c_str(), &length, false, calledProgram != 0, &wasTransformed);
    if (wasTransformed) transformed = 1;
    if (!text) {
        std::printf("%s", GbkToTerminal("  fBuff==NULL, 打不开文件错误\n").c_str());
        std::fflush(stdout);
        ErrorBox(includeLine, name.c_str(), "打不开文件错误");
        WriteErrMsg(includeLine, "打不开文件错误", name.c_str(), 0);
        ++errorCount;
        return -2;
    }
    if (lineNo >= 1 && runMode == 1 && !calledProgram) WaitCpuIdleOr(100, 45, pKvCall ? &pKvCall->stopFlag : nullptr);
    scriptFile = name;

    const char* buf = text->c_str();
    const size_t len = std::min(text->size(), static_cast<size_t>(length < 0 ? 0 : length));
    size_t pos = 0;
    int32_t lines = 0;
    char logical[kLogicalLine + 1];
    while (pos < len) {
        logical[0] = 0;
        if (!ReadSourceLine(buf, len, pos, logical, sizeof logical)) break;
        ++lines;
        // A backslash ending the line (blanks after it allowed) joins the next physical line in its place.
        for (;;) {
            size_t n = std::strlen(logical);
            if (n <= 1) break;
            size_t k = n;
            while (k > 0 && (logical[k - 1] == ' ' || logical[k - 1] == '\t'))
                --k;
            if (k == 0 || logical[k - 1] != '\\') break;
            size_t at = k - 1;
            // The second byte of a double-byte character (乗 is 0x81 0x5C) is no backslash.
            size_t c = 0;
            while (c < at)
                c += IsGbkLead(static_cast<unsigned char>(logical[c])) &&
                             IsGbkTrail(static_cast<unsigned char>(logical[c + 1]))
                         ? 2
                         : 1;
            if (c != at) break;
            if (pos >= len) {
                logical[at] = 0;
                break;
            }
            if (!ReadSourceLine(buf, len, pos, logical + at, sizeof logical - at)) {
                logical[at] = 0;
                break;
            }
            ++lines;
        }
        TagTelBasic* unit = this;
        if (!Scratch().funcDefStack.empty() && subList.Count() > 0) unit = subList.Get(subList.Count() - 1);
        if (!unit) unit = this;
        if (unit->CompileLine(logical, lines) < 0) ++errorCount;
    }
    return lines;
}

void TagTelBasic::FinishCompile(int32_t lastLine, uint32_t startTick) {
    LinkAtEndOfFile();
    // An if whose braced block ends the file is complete: nothing follows to pop it.
    if (!Scratch().ifStack.empty() && opCount > 0) {
        TagOper* last = ops.Get(opCount - 1);
        if (last && last->kind == '}' && last->match && last->match->index > 0) {
            TagOper* head = ops.Get(last->match->index - 1);
            if (head && (head->kind == 'i' || head->kind == 'E')) Scratch().ifStack.pop_back();
        }
    }
    char msg[256];
    auto unclosed = [&](const std::vector<int32_t>& stack, const char* fmt) {
        if (stack.empty()) return;
        TagOper* op = ops.Get(stack.back());
        std::snprintf(msg, sizeof msg, fmt, op ? op->lineNo : 0);
        WriteErrMsg(lastLine, msg, op ? op->text.c_str() : "", 0);
        ++errorCount;
    };
    unclosed(Scratch().ifStack, "if语句没有结束 (行数:%d)");
    unclosed(Scratch().loopStack, "while语句没有结束 (行数:%d)");
    unclosed(Scratch().switchStack, "switch语句没有结束 (行数:%d)");
    if (!Scratch().braceStack.empty()) {
        TagOper* op = ops.Get(Scratch().braceStack.back());
        std::snprintf(msg, sizeof msg, "{语句没有相应的} (行数:%d)", op ? op->lineNo : 0);
        WriteErrMsg(lastLine, msg, "", 0);
        ++errorCount;
    }
    if (!Scratch().commentStack.empty()) {
        WriteErrMsg(Scratch().commentStack.back(), "注释没有结束", "", 0);
        ++errorCount;
    }
    if (!Scratch().funcDefStack.empty()) {
        std::snprintf(msg, sizeof msg, "函数定义没有结束 (行数:%d)", Scratch().funcDefStack.back());
        TagTelBasic* last = subList.Count() > 0 ? subList.Get(subList.Count() - 1) : nullptr;
        WriteErrMsg(lastLine, msg, last ? last->defText.c_str() : "", 0);
        ++errorCount;
    }

    if (optimize == 1) {
        // Passes until nothing goes: a function called only by removed functions goes in a later pass.
        for (bool removed = true; removed;) {
            removed = false;
            for (int32_t i = 0; i < subList.Count(); ++i) {
                TagTelBasic* unit = subList.Get(i);
                if (!unit) continue;
                bool called = false;
                for (const auto& c : unit->Scratch().callerNames)
                    if (c.first != unit->unitName && c.second > 0) called = true;
                if (called) continue;
                for (int32_t j = 0; j < subList.Count(); ++j)
                    if (TagTelBasic* other = subList.Get(j)) other->Scratch().callerNames.erase(unit->unitName);
                TagOper* first = unit->ops.Get(0);
                unit->WriteErrMsg(first ? first->lineNo - 1 : 0, unit->defText.c_str(),
                                  "该函数从来没有被调用过, 已被优化", 1);
                ++warningCount;
                // The function's variable must not point at the freed unit.
                for (int32_t v = 0; v < symbols.Count(); ++v)
                    if (TagVar* var = symbols.Get(v); var && var->FuncUnit() == unit) var->ClearFuncUnit();
                subList[i].reset();
                removed = true;
            }
        }
        pvector<TagTelBasic> kept;
        for (auto& u : subList)
            if (u) kept.Add(std::move(u));
        subList = std::move(kept);
    }

    if (!calledProgram) ReportErrLog(lineNo);
    double secs = static_cast<double>(GetTickCount() - startTick) * 0.001;
    if (errorCount == 0 && (runMode == 1 || warningCount == 0)) {
        std::snprintf(msg, sizeof msg, "成功完成编译. 编译时间: %.3f秒", secs);
        Disp(msg);
    } else {
        std::snprintf(msg, sizeof msg, "总错误数: %d; 总警告数: %d; 编译时间: %.3f秒", errorCount, warningCount, secs);
        WriteErrMsg(kSummaryLine, msg, "编译结束", 0);
        if (errorCount > 0 && !calledProgram) {
            char detail[128];
            std::snprintf(detail, sizeof detail, "编译结束, 请参看错误日志errmsg%d.txt", lineNo);
            ErrorBox(kSummaryLine, msg, detail);
            Disp(msg);
            if (TheEngineHooks().openErrorLog) TheEngineHooks().openErrorLog(ErrLogName(lineNo).c_str());
        }
    }
    if (errorCount > 0) initResult = -2;
}

} // namespace zz
