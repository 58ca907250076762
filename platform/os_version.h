// SPDX-License-Identifier: BSD-3-Clause
// The version of the operating system, as the Windows version query reports it.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t kPlatformWin9x = 1;  // Windows 95, 98, Me
constexpr uint32_t kPlatformNt = 2;     // Windows NT, 2000, XP and later

struct OsVersion {
  uint32_t platform;
  uint32_t major;
  uint32_t minor;
  uint32_t build;
};

// False when the system cannot tell.
bool GetOsVersion(OsVersion* version);

}  // namespace platform
