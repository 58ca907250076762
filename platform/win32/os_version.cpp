// SPDX-License-Identifier: BSD-3-Clause
// The version of the operating system on Windows: GetVersionExA with the 148-byte structure.
#include "platform/os_version.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query takes the 148-byte structure");

bool GetOsVersion(OsVersion* version) {
  if (!version) return false;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return false;
  *version =
      OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
  return true;
}

}  // namespace platform
