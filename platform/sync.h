// SPDX-License-Identifier: BSD-3-Clause
// Locks and counting semaphores of the operating system, optionally shared between processes
// under a system-wide name. The semaphore records of the support library sit on top.
#pragma once

#include <cstdint>

namespace platform {

struct SyncObject;  // owned by the platform; released with SyncClose

constexpr uint32_t kWaitForever = 0xFFFFFFFF;

enum class SyncCreateResult {
  kOk,
  kInvalidName,  // the name cannot name an object (or names one of another kind)
  kExists,       // the system refused to share an existing object of that name
  kFailed,       // any other reason; see the system error
};

enum class SyncWaitResult { kAcquired, kAbandoned, kTimeout, kFailed };

// Creates (or, for a name already in use, opens) a lock when `count` is 0, else a semaphore
// whose initial and maximum counts are both `count`. A null or empty `system_name` makes an
// object that only this process can reach. Every object is open to every account.
SyncCreateResult SyncCreate(const char* system_name, uint32_t count, SyncObject** out,
                            uint32_t* system_error);

// Waits up to `timeout_ms` milliseconds (kWaitForever: without limit). A lock whose holder
// ended without releasing it is acquired and reported as kAbandoned.
SyncWaitResult SyncWait(SyncObject* object, uint32_t timeout_ms, uint32_t* system_error);

// Releases a lock held by the calling thread, or adds one to a semaphore below its maximum.
bool SyncRelease(SyncObject* object, uint32_t* system_error);

// Gives up this process's use of the object; a named object lives on while others use it.
void SyncClose(SyncObject* object);

}  // namespace platform
