// SPDX-License-Identifier: BSD-3-Clause
// The running process on Windows: environment and process number, and the state of another
// process as the system tells it through a handle to it. Process numbers are machine-wide on
// Windows, so every process sees the same set of them.
#include "platform/process.h"

#include <stdlib.h>
#include <windows.h>

namespace platform {
namespace {

// PROCESS_QUERY_LIMITED_INFORMATION is what a process of another account may be granted; the
// systems before Vista know only the full query right.
constexpr DWORD kQueryLimited = 0x1000;

HANDLE OpenForQuery(uint32_t pid) {
  HANDLE process = OpenProcess(kQueryLimited | SYNCHRONIZE, FALSE, pid);
  if (!process && GetLastError() != ERROR_INVALID_PARAMETER) {
    process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
  }
  return process;
}

uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

}  // namespace

const char* EnvLookup(const char* name) {
  return name ? getenv(name) : nullptr;
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

uint64_t ProcessStartTime(uint32_t pid) {
  HANDLE process = OpenForQuery(pid);
  if (!process) return 0;
  const uint64_t start = CreationTime(process);
  CloseHandle(process);
  return start;
}

uint32_t ProcessNumberSpace() {
  return 0;
}

ProcessState GetProcessState(uint32_t pid, uint64_t start_time) {
  if (pid == 0) return ProcessState::kUnknown;
  HANDLE process = OpenForQuery(pid);
  if (!process) {
    // No process has that number (any more); a refused open says nothing.
    return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessState::kEnded
                                                     : ProcessState::kUnknown;
  }
  ProcessState state = ProcessState::kRunning;
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process, &exit_code)) {
    state = ProcessState::kUnknown;
  } else if (exit_code != STILL_ACTIVE || WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
    // A process may exit with the code STILL_ACTIVE itself; its handle is signalled all the same.
    state = ProcessState::kEnded;
  } else if (start_time != 0) {
    const uint64_t start = CreationTime(process);
    if (start == 0) {
      state = ProcessState::kUnknown;
    } else if (start != start_time) {
      state = ProcessState::kEnded;  // another process has taken the number since
    }
  }
  CloseHandle(process);
  return state;
}

}  // namespace platform
