// SPDX-License-Identifier: BSD-3-Clause
// The registry on Windows: RegOpenKeyExA and RegQueryValueExA under HKEY_LOCAL_MACHINE.
#include "platform/registry.h"

#include <windows.h>

namespace platform {

RegistryResult RegistryReadU32(const char* key, const char* value, uint32_t* out) {
  if (!key || !value || !out) return RegistryResult::kNoKey;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    return RegistryResult::kNoKey;
  }
  // Four bytes whatever the value's type; a shorter value leaves the rest zero, a longer one
  // does not fit and counts as missing.
  uint8_t data[4] = {};
  DWORD size = sizeof data;
  const LONG status = RegQueryValueExA(handle, value, nullptr, nullptr, data, &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return RegistryResult::kNoValue;
  *out = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  return RegistryResult::kOk;
}

}  // namespace platform
