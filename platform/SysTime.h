#pragma once
// Local time with milliseconds, the calling thread's id and the process's processor share.
#include <cstdint>
#include <ctime>

namespace zz {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
    int dayOfWeek; // 0 = Sunday
};

LocalTime GetLocalTime();
LocalTime ToLocalTime(time_t t, int millisecond = 0);

// A small stable id of the calling thread (the kernel's thread id), as the logs print it in hexadecimal.
uint32_t CurrentThreadId();

// Percentage (0..100 of one machine, all cores together) of processor time the process used since the previous
// call from any thread; the first call measures since process start.
int ProcessCpuPercent();

} // namespace zz
