// SPDX-License-Identifier: BSD-3-Clause
// The running process: its number and its environment; whether another process still runs.
#pragma once

#include <cstdint>

namespace platform {

// The value of the environment variable `name`, or nullptr when it is not set. The text belongs
// to the environment and stays valid until the variable is changed.
const char* EnvLookup(const char* name);

uint32_t CurrentProcessId();

// When process `pid` started, in the system's own unit; with the number it names one process
// for good, as numbers are used again. 0 when it cannot be told.
uint64_t ProcessStartTime(uint32_t pid);

// Which set of process numbers this process sees (its PID namespace on Linux; 0 when it cannot
// be told). A process number means the same process only within one set.
uint32_t ProcessNumberSpace();

enum class ProcessState { kRunning, kEnded, kUnknown };

// Whether the process `pid` that started at `start_time` (0: not known) still runs. kEnded only
// when that is certain: no such process, one that has exited, or another process that has
// taken its number since. kUnknown when the system will not say.
ProcessState GetProcessState(uint32_t pid, uint64_t start_time);

}  // namespace platform
