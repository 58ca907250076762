// SPDX-License-Identifier: BSD-3-Clause
// The version of the operating system on POSIX. The library was made for the NT family 5.0
// (build 2195), so that is what this system reports; CTKORVIN_OSVERSION can name another
// version as "platform.major.minor.build" (for example "2.6.1.7601"), which tests use.
#include "platform/os_version.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

bool GetOsVersion(OsVersion* version) {
  if (!version) return false;
  const char* text = getenv("CTKORVIN_OSVERSION");
  if (!text) {
    *version = OsVersion{kPlatformNt, 5, 0, 2195};
    return true;
  }
  unsigned platform = 0, major = 0, minor = 0, build = 0;
  int end = 0;
  if (sscanf(text, "%u.%u.%u.%u%n", &platform, &major, &minor, &build, &end) != 4 ||
      text[end] != '\0') {
    return false;  // a text the query cannot make sense of is a failed query
  }
  *version = OsVersion{platform, major, minor, build};
  return true;
}

}  // namespace platform
