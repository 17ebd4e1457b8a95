#include "telephony/LineKeys.h"

#include "telephony/TagTelDrive.h"

#include <mutex>

namespace zz {

namespace {
std::mutex g_lock; // the cell's hooks, and every change of a column made here
LineKeysCell g_cell;
} // namespace

void SetLineKeysCell(const LineKeysCell& cell) {
    std::lock_guard<std::mutex> g(g_lock);
    g_cell = cell;
}

std::string GetLineKeys(int32_t line) {
    std::lock_guard<std::mutex> g(g_lock);
    return g_cell.get ? g_cell.get(line) : std::string();
}

void SetLineKeys(int32_t line, const char* text) {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_cell.set) g_cell.set(line, text ? text : "");
}

namespace {
void WakeLine(int32_t line) {
    TagTelDrive* d = GetTelDrive();
    TagTelLine* e = d ? d->Line(line) : nullptr;
    if (e && e->call) e->call->wake.Signal();
}
} // namespace

void TypeLineKeys(int32_t line, const char* keys) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (!g_cell.get || !g_cell.set || !keys) return;
        g_cell.set(line, (g_cell.get(line) + keys).c_str());
    }
    WakeLine(line);
}

void EnterLineKeys(int32_t line, const char* text) {
    SetLineKeys(line, text);
    WakeLine(line);
}

std::string TakeLineKeys(int32_t line, const std::function<size_t(const std::string& column)>& count) {
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_cell.get || !g_cell.set) return {};
    std::string column = g_cell.get(line);
    size_t n = count(column);
    if (n == 0) return {};
    if (n > column.size()) n = column.size();
    g_cell.set(line, column.c_str() + n);
    return column.substr(0, n);
}

} // namespace zz
