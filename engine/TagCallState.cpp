#include "engine/TagCallState.h"

#include <cstdarg>
#include <cstdio>

#include "platform/TagWriteLog.h"

namespace zz {

void TagCallState::WriteLog(const char* text) const {
    if (GetLogLevel() == 0) return;
    WriteLogAlways(text);
}

void TagCallState::WriteLogAlways(const char* text) const {
    char buf[512];
    std::snprintf(buf, sizeof buf, "lcnt=%d, %s", lineNo, text ? text : "");
    WriteRunLogAlways(buf);
}

void TagCallState::WriteLogF(const char* fmt, ...) const {
    if (GetLogLevel() == 0) return;
    char buf[400];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteLogAlways(buf);
}

void TagCallState::WriteLogAlwaysF(const char* fmt, ...) const {
    char buf[400];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteLogAlways(buf);
}

} // namespace zz
