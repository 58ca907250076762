// SPDX-License-Identifier: BSD-3-Clause
// The system name of a named object (shared memory, locks) on POSIX: "/" + prefix + name. The
// prefix comes from CTKORVIN_OBJECT_PREFIX and is empty unless set; it gives a test run, or a
// second set of terminals, objects of its own beside the machine-wide ones.
#pragma once

#include <stdlib.h>

#include <string>

namespace platform {

constexpr char kObjectPrefixVariable[] = "CTKORVIN_OBJECT_PREFIX";

inline std::string SystemObjectName(const char* name) {
  const char* prefix = getenv(kObjectPrefixVariable);
  return std::string("/") + (prefix ? prefix : "") + name;
}

}  // namespace platform
