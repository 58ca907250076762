// SPDX-License-Identifier: BSD-3-Clause
// Semaphore records over the platform's locks and counting semaphores. Failures go to the error
// log under "SEM" with the operation's name; a time-out of CheckSet is an answer, not a failure.
#include "support/semaphore.h"

#include <cstddef>

#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace sem {
namespace {

constexpr char kModule[] = "SEM";
constexpr char kSystemPrefix[] = "s_";

#define SEM_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

bool IsValidRecord(const Semaphore* record) {
  return record && (record->kind == kKindLock || record->kind == kKindSemaphore);
}

}  // namespace

uint32_t Init(const char* name, uint32_t initial_count, uint32_t local, Semaphore* record) {
  if (!record || !name) {
    SEM_LOG("Init", kErrIllegalArgument, nullptr);
    return kErrIllegalArgument;
  }
  record->kind = initial_count == 0 ? kKindLock : kKindSemaphore;
  record->handle = nullptr;

  char* system_name = nullptr;
  if (local == 0) {
    size_t size = sizeof kSystemPrefix + SafeStrLen(name);
    system_name = static_cast<char*>(mem::Allocate(size));
    if (!system_name) {
      SEM_LOG("Init", kErrNotEnoughMemory, nullptr);
      return kErrNotEnoughMemory;
    }
    SafeStrCopy(system_name, static_cast<uint32_t>(size), kSystemPrefix);
    SafeStrAppend(system_name, static_cast<uint32_t>(size), name);
  }
  // No security descriptor is needed here: the platform opens every object to every account.
  uint32_t system_error = 0;
  platform::SyncCreateResult created =
      platform::SyncCreate(system_name, initial_count, &record->handle, &system_error);
  mem::Release(system_name);

  switch (created) {
    case platform::SyncCreateResult::kOk:
      return kResultOk;
    case platform::SyncCreateResult::kInvalidName:
      SEM_LOG("Init", kErrGeneralFailure, "invalid semaphore name: %s", name);
      break;
    case platform::SyncCreateResult::kExists:
      SEM_LOG("Init", kErrGeneralFailure, "semaphore %s exists already", name);
      break;
    default:
      SEM_LOG("Init", kErrGeneralFailure, "problem creating semaphore %s, err=0x%08X", name,
              system_error);
      break;
  }
  return kErrGeneralFailure;
}

uint32_t CheckSet(Semaphore* record, uint32_t timeout_ms) {
  if (!IsValidRecord(record)) {
    SEM_LOG("CheckSet", kErrIllegalArgument, nullptr);
    return kErrIllegalArgument;
  }
  uint32_t system_error = 0;
  switch (platform::SyncWait(record->handle, timeout_ms, &system_error)) {
    case platform::SyncWaitResult::kAcquired:
    case platform::SyncWaitResult::kAbandoned:
      return kResultOk;
    case platform::SyncWaitResult::kTimeout:
      return kErrSemaphoreInUse;
    case platform::SyncWaitResult::kFailed:
      SEM_LOG("CheckSet", kErrGeneralFailure,
              "failure waiting for semaphore. WAIT_FAILED, err=0x%08X", system_error);
      return kErrGeneralFailure;
    default:
      SEM_LOG("CheckSet", kErrGeneralFailure, nullptr);
      return kErrGeneralFailure;
  }
}

uint32_t WaitSet(Semaphore* record) {
  uint32_t result = CheckSet(record, kNoTimeout);
  if (result == kErrSemaphoreInUse) result = kErrGeneralFailure;
  if (result != kResultOk) SEM_LOG("WaitSet", result, nullptr);
  return result;
}

uint32_t Clear(Semaphore* record) {
  if (!IsValidRecord(record)) {
    SEM_LOG("Clear", kErrIllegalArgument, nullptr);
    return kErrIllegalArgument;
  }
  uint32_t system_error = 0;
  if (!platform::SyncRelease(record->handle, &system_error)) {
    SEM_LOG("Clear", kErrGeneralFailure, "failure releasing semaphore, err=0x%08X", system_error);
    return kErrGeneralFailure;
  }
  return kResultOk;
}

void Destroy(Semaphore* record) {
  if (!record) return;
  platform::SyncClose(record->handle);
  record->kind = 0;
  record->handle = nullptr;
}

}  // namespace sem
