// SPDX-License-Identifier: BSD-3-Clause
// Named shared memory on Windows: page-file-backed file mappings named prefix + name
// (object_name.h), open to every account and with an inheritable handle. The system keeps a
// mapping while some process holds a handle or a view of it and destroys it with the last one.
//
// The mapping lock is a named mutex, prefix + "ctkorvin-mappings", open to every account. The
// system's mutexes may be taken again by the thread that holds them; a holder that ended without
// releasing one leaves it abandoned, and the next waiter gets it (nothing it guards is left half
// done by an open or a create, which are single system calls).
#include "platform/shared_memory.h"

#include <string.h>
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/win32/object_name.h"

namespace platform {
namespace {

constexpr char kLockName[] = "ctkorvin-mappings";

std::once_flag g_lock_once;
HANDLE g_lock = nullptr;
DWORD g_lock_error = 0;

void OpenLock() {
  OpenSecurity security;
  if (!MakeOpenSecurity(&security)) {
    g_lock_error = GetLastError();
    return;
  }
  // The handle stays open for the life of the process: the mutex must not vanish between two
  // takes while other processes wait on it.
  g_lock = CreateMutexA(&security.attributes, FALSE, SystemObjectName(kLockName).c_str());
  if (!g_lock) g_lock_error = GetLastError();
}

bool ValidName(const char* name) {
  // A backslash would reach into another namespace of kernel objects.
  return name && *name && !strchr(name, '\\');
}

}  // namespace

bool MappingLock() {
  std::call_once(g_lock_once, OpenLock);
  if (!g_lock) {
    SetLastError(g_lock_error);
    return false;
  }
  const DWORD wait = WaitForSingleObject(g_lock, INFINITE);
  return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void MappingUnlock() {
  if (g_lock) ReleaseMutex(g_lock);
}

MappingOpenResult MappingOpen(const char* name, MappingHandle* out) {
  *out = kNoMapping;
  if (!ValidName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return MappingOpenResult::kFailed;
  }
  ScopedMappingLock lock;
  if (!lock.ok()) return MappingOpenResult::kFailed;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, SystemObjectName(name).c_str());
  if (!mapping) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? MappingOpenResult::kNotFound
                                                  : MappingOpenResult::kFailed;
  }
  *out = FromHandle(mapping);
  return MappingOpenResult::kOpened;
}

bool MappingCreate(const char* name, uint32_t size, MappingHandle* out, bool* created) {
  *out = kNoMapping;
  *created = false;
  if (!ValidName(name) || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  OpenSecurity security;
  if (!MakeOpenSecurity(&security)) return false;
  ScopedMappingLock lock;
  if (!lock.ok()) return false;
  SetLastError(ERROR_SUCCESS);  // only an existing mapping sets the "exists" answer
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                      size, SystemObjectName(name).c_str());
  if (!mapping) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    *out = FromHandle(mapping);
    return true;
  }
  // The system hands out zeroed pages; the new mapping is cleared all the same, so that the
  // promise of an all-zero start does not rest on that.
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (!view) {
    const DWORD error = GetLastError();
    CloseHandle(mapping);
    SetLastError(error);
    return false;
  }
  memset(view, 0, size);
  UnmapViewOfFile(view);
  *out = FromHandle(mapping);
  *created = true;
  return true;
}

void* MappingMapView(MappingHandle mapping) {
  if (mapping == kNoMapping) return nullptr;
  return MapViewOfFile(AsHandle(mapping), FILE_MAP_ALL_ACCESS, 0, 0, 0);
}

void MappingClose(MappingHandle mapping) {
  if (mapping != kNoMapping) CloseHandle(AsHandle(mapping));
}

}  // namespace platform
