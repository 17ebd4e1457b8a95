#include "platform/SysTime.h"

#include "platform/Clock.h"

#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace zz {

LocalTime ToLocalTime(time_t t, int millisecond) {
    tm parts{};
    localtime_r(&t, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     millisecond,   parts.tm_wday};
}

LocalTime GetLocalTime() {
    const timespec ts = GetClock().WallTime();
    return ToLocalTime(ts.tv_sec, int(ts.tv_nsec / 1000000));
}

uint32_t CurrentThreadId() {
    thread_local uint32_t id = uint32_t(syscall(SYS_gettid));
    return id;
}

int ProcessCpuPercent() {
    static std::mutex m;
    static double lastCpu = 0, lastWall = 0;
    std::lock_guard<std::mutex> lk(m);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    double wall = ts.tv_sec + ts.tv_nsec / 1e9;
    if (lastWall == 0) {
        // First call: measure over the process's life so far.
        timespec st{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &st);
        lastWall = wall - 1.0;
    }
    double dw = wall - lastWall, dc = cpu - lastCpu;
    lastWall = wall;
    lastCpu = cpu;
    if (dw <= 0) return 0;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores < 1) cores = 1;
    double pct = dc / dw / double(cores) * 100.0;
    if (pct < 0) pct = 0;
    if (pct > 100) pct = 100;
    return int(pct);
}

} // namespace zz
