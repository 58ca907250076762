// SPDX-License-Identifier: BSD-3-Clause
// The running process on POSIX: environment and process number, and the state of another
// process as /proc shows it.
#include "platform/process.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct StatLine {
  char state;
  unsigned long long start_time;
};

// Reads the state and the start time (clock ticks since boot) from /proc/<pid>/stat. The
// command name in parentheses may hold blanks and parentheses: the fields follow the last ')'.
// Returns 0, or the error number of the failed read.
int ReadStat(uint32_t pid, StatLine* out) {
  char path[32];
  snprintf(path, sizeof path, "/proc/%u/stat", pid);
  FILE* file = fopen(path, "re");
  if (!file) return errno;
  char line[1024];
  const size_t length = fread(line, 1, sizeof line - 1, file);
  fclose(file);
  line[length] = '\0';
  const char* fields = strrchr(line, ')');
  if (!fields) return EINVAL;
  // After the name: state (field 3), then fields 4 to 21, then the start time (field 22).
  unsigned long long start = 0;
  char state = 0;
  if (sscanf(fields + 1,
             " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
             &state, &start) != 2) {
    return EINVAL;
  }
  out->state = state;
  out->start_time = start;
  return 0;
}

}  // namespace

const char* EnvLookup(const char* name) {
  return name ? getenv(name) : nullptr;
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

uint64_t ProcessStartTime(uint32_t pid) {
  StatLine stat{};
  return ReadStat(pid, &stat) == 0 ? stat.start_time : 0;
}

uint32_t ProcessNumberSpace() {
  struct stat st;
  if (stat("/proc/self/ns/pid", &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_ino);
}

ProcessState GetProcessState(uint32_t pid, uint64_t start_time) {
  if (pid == 0) return ProcessState::kUnknown;
  StatLine stat{};
  const int error = ReadStat(pid, &stat);
  if (error == 0) {
    // A zombie has exited; only its parent has not collected it yet.
    if (stat.state == 'Z' || stat.state == 'X') return ProcessState::kEnded;
    if (start_time != 0 && stat.start_time != start_time) return ProcessState::kEnded;
    return ProcessState::kRunning;
  }
  if (error == ENOENT || error == ESRCH) {
    // No /proc at all says nothing; ask the kernel directly then.
    if (access("/proc/self/stat", F_OK) == 0) return ProcessState::kEnded;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return ProcessState::kEnded;
  }
  return ProcessState::kUnknown;
}

}  // namespace platform
