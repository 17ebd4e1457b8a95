#include "platform/MessageBox.h"

#include "platform/Gbk.h"

#include <cstdio>
#include <mutex>

namespace zz {

namespace {
std::mutex g_lock;
MessageSink g_sink;
bool g_stderr = true;
} // namespace

void SetMessageSink(MessageSink sink) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_sink = std::move(sink);
}

void SetMessageStderr(bool on) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_stderr = on;
}

void ShowMessage(const std::string& text, const std::string& caption) {
    MessageSink sink;
    bool toStderr;
    {
        std::lock_guard<std::mutex> lk(g_lock);
        sink = g_sink;
        toStderr = g_stderr;
    }
    if (toStderr) {
        // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on a chain of operator+ at -O2.
        std::string line = "[";
        line.append(GbkToTerminal(caption)).append("] ").append(GbkToTerminal(text)).append("\n");
        fputs(line.c_str(), stderr);
    }
    if (sink) sink(text, caption);
}

} // namespace zz
