#pragma once
// The processor gate: lines that start or compile wait while the process keeps the machine busy.
#include <atomic>
#include <cstdint>
#include <functional>

namespace zz {

// The processor-load gate: up to rounds x 10 times, while the process uses 55% of a processor or more, sleeps
// 320 ms; once below, sleeps ms (when 1 or more) and returns true. False when the rounds ran out or stop was
// set (then without the final sleep).
bool WaitCpuIdleOr(int32_t rounds, int32_t ms, const std::atomic<bool>* stop);
// A process that runs one line alone (zzscript) has no other line to give way to: with the gate open,
// WaitCpuIdleOr returns true at once.
void OpenCpuGate(bool open);
// The process's processor use in percent of one processor since the previous sample (resampled when more
// than 399 ms passed); tests may install their own source (nullptr restores the sampler).
int32_t CpuPercentage();
void SetCpuPercentSource(std::function<int32_t()> source);

} // namespace zz
