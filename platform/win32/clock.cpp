// SPDX-License-Identifier: BSD-3-Clause
// Clock and sleep on Windows: GetTickCount and Sleep. The tick count wraps after 49.7 days; the
// clock counts the wraps it sees, so it keeps going forward as long as it is read at least once
// in every such period (GetTickCount64 does not exist on the systems the library runs on).
#include "platform/clock.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

// The wraps seen so far (high half) and the last tick count read (low half), in one word so
// that threads update them together.
std::atomic<uint64_t> g_clock{0};

}  // namespace

uint64_t MonotonicMs() {
  uint64_t seen = g_clock.load();
  for (;;) {
    const uint32_t now = GetTickCount();
    uint64_t wraps = seen >> 32;
    if (now < static_cast<uint32_t>(seen)) ++wraps;
    const uint64_t next = wraps << 32 | now;
    if (next <= seen || g_clock.compare_exchange_weak(seen, next)) {
      return next > seen ? next : seen;
    }
  }
}

void SleepMs(uint32_t ms) {
  Sleep(ms);
}

}  // namespace platform
