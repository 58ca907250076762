// SPDX-License-Identifier: BSD-3-Clause
// Semaphore records: a lock or a counting semaphore of the operating system, optionally shared
// between processes under the system name "s_" + name. Failures are reported to the error log
// under the module "SEM".
#pragma once

#include <cstdint>

#include "platform/sync.h"

namespace sem {

constexpr uint32_t kKindLock = 1;
constexpr uint32_t kKindSemaphore = 2;
constexpr uint32_t kNoTimeout = platform::kWaitForever;

struct Semaphore {
  uint32_t kind;
  platform::SyncObject* handle;
};

// Initial count 0 makes a lock (not owned); any other count a semaphore with that initial and
// maximum count. local 0 names the object "s_" + name; otherwise `name` only serves the log.
uint32_t Init(const char* name, uint32_t initial_count, uint32_t local, Semaphore* record);
// 0 when acquired (also when a lock's holder ended without releasing it), kErrSemaphoreInUse
// on time-out.
uint32_t CheckSet(Semaphore* record, uint32_t timeout_ms);
uint32_t WaitSet(Semaphore* record);
uint32_t Clear(Semaphore* record);
// Gives the system object back; the record is of neither kind afterwards.
void Destroy(Semaphore* record);

}  // namespace sem
