// SPDX-License-Identifier: BSD-3-Clause
// Local calendar time on POSIX.
#include "platform/calendar.h"

#include <time.h>

namespace platform {

CalendarTime LocalTimeNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min,         local.tm_sec,     local.tm_wday};
}

}  // namespace platform
