// SPDX-License-Identifier: BSD-3-Clause
// Locks and counting semaphores on Windows: the system's mutexes and semaphores, named
// prefix + system name (object_name.h) and open to every account. A mutex may be taken again by
// the thread that holds it; one whose holder ended without releasing it is abandoned, and the
// next waiter acquires it with WAIT_ABANDONED.
#include "platform/sync.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/win32/object_name.h"

namespace platform {

struct SyncObject {
  HANDLE handle;
  bool is_lock;
};

namespace {

void SetError(uint32_t* system_error, DWORD error) {
  if (system_error) *system_error = error;
}

}  // namespace

SyncCreateResult SyncCreate(const char* system_name, uint32_t count, SyncObject** out,
                            uint32_t* system_error) {
  if (out) *out = nullptr;  // also when the count is refused
  if (!out || count > 0x7FFFFFFF) {
    SetError(system_error, ERROR_INVALID_PARAMETER);
    return SyncCreateResult::kFailed;
  }
  const bool named = system_name && *system_name;
  std::string name;
  if (named) name = SystemObjectName(system_name);
  OpenSecurity security;
  if (!MakeOpenSecurity(&security)) {
    SetError(system_error, GetLastError());
    return SyncCreateResult::kFailed;
  }
  SyncObject* object = new (std::nothrow) SyncObject{nullptr, count == 0};
  if (!object) {
    SetError(system_error, ERROR_NOT_ENOUGH_MEMORY);
    return SyncCreateResult::kFailed;
  }
  const char* object_name = named ? name.c_str() : nullptr;
  object->handle = count == 0 ? CreateMutexA(&security.attributes, FALSE, object_name)
                              : CreateSemaphoreA(&security.attributes, static_cast<LONG>(count),
                                                 static_cast<LONG>(count), object_name);
  if (!object->handle) {
    const DWORD error = GetLastError();
    delete object;
    SetError(system_error, error);
    // A name that an object of another kind carries gives ERROR_INVALID_HANDLE; one too long
    // for the object namespace, or one with a "\\" that names a folder of it that does not
    // exist, cannot name an object either.
    if (error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_NAME ||
        error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_BAD_PATHNAME) {
      return SyncCreateResult::kInvalidName;
    }
    if (error == ERROR_ALREADY_EXISTS) return SyncCreateResult::kExists;
    return SyncCreateResult::kFailed;
  }
  *out = object;
  return SyncCreateResult::kOk;
}

SyncWaitResult SyncWait(SyncObject* object, uint32_t timeout_ms, uint32_t* system_error) {
  if (!object) {
    SetError(system_error, ERROR_INVALID_PARAMETER);
    return SyncWaitResult::kFailed;
  }
  switch (WaitForSingleObject(object->handle, timeout_ms)) {
    case WAIT_OBJECT_0:
      return SyncWaitResult::kAcquired;
    case WAIT_ABANDONED:
      return SyncWaitResult::kAbandoned;
    case WAIT_TIMEOUT:
      SetError(system_error, WAIT_TIMEOUT);
      return SyncWaitResult::kTimeout;
    default:
      SetError(system_error, GetLastError());
      return SyncWaitResult::kFailed;
  }
}

bool SyncRelease(SyncObject* object, uint32_t* system_error) {
  if (!object) {
    SetError(system_error, ERROR_INVALID_PARAMETER);
    return false;
  }
  // A lock that the calling thread does not hold answers ERROR_NOT_OWNER; a semaphore at its
  // maximum ERROR_TOO_MANY_POSTS.
  const BOOL released =
      object->is_lock ? ReleaseMutex(object->handle) : ReleaseSemaphore(object->handle, 1, nullptr);
  if (!released) {
    SetError(system_error, GetLastError());
    return false;
  }
  return true;
}

void SyncClose(SyncObject* object) {
  if (!object) return;
  CloseHandle(object->handle);
  delete object;
}

}  // namespace platform
