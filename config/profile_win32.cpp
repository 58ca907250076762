// SPDX-License-Identifier: BSD-3-Clause
// The private-profile service on Windows: the system's own GetPrivateProfileStringA and
// WritePrivateProfileStringA. A path is made full first: the system looks for a bare file name
// in the Windows directory, while callers here mean the file they name.
#include <windows.h>

#include "config/profile.h"

namespace {

thread_local uint32_t g_last_error = 0;

// False when the path cannot be made full (or is too long for the profile functions).
bool FullPath(const char* path, char (&full)[MAX_PATH]) {
  char* name = nullptr;
  const DWORD length = GetFullPathNameA(path, MAX_PATH, full, &name);
  if (length == 0) return false;
  if (length >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

}  // namespace

uint32_t ProfileGetString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  if (!path) return 0;
  char full[MAX_PATH];
  if (!FullPath(path, full)) return 0;
  return GetPrivateProfileStringA(section, key, default_value ? default_value : "", buffer, size,
                                  full);
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* path) {
  char full[MAX_PATH];
  if (!path) {
    g_last_error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!FullPath(path, full) || !WritePrivateProfileStringA(section, key, value, full)) {
    g_last_error = GetLastError();
    return false;
  }
  return true;
}

// The system's service writes every change at once and keeps its own cache of the file.
bool ProfileBatchBegin(const char* path) {
  if (!path) {
    g_last_error = ERROR_INVALID_PARAMETER;
    return false;
  }
  return true;
}

bool ProfileBatchEnd() {
  return true;
}

uint32_t ProfileLastError() {
  return g_last_error;
}
