// SPDX-License-Identifier: BSD-3-Clause
// Local calendar time on Windows.
#include "platform/calendar.h"

#include <windows.h>

namespace platform {

CalendarTime LocalTimeNow() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return CalendarTime{local.wYear,   local.wMonth,  local.wDay,      local.wHour,
                      local.wMinute, local.wSecond, local.wDayOfWeek};
}

}  // namespace platform
