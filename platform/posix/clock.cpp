// SPDX-License-Identifier: BSD-3-Clause
// Clock and sleep on POSIX: CLOCK_MONOTONIC and nanosleep, resumed after signals.
#include "platform/clock.h"

#include <errno.h>
#include <time.h>

namespace platform {

uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void SleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
