// SPDX-License-Identifier: BSD-3-Clause
// Local calendar time: the time stamps of the error log and the allocation log, and the
// last-write times of files (which the file layer turns into DOS date and time).
#pragma once

#include <cstdint>

namespace platform {

struct CalendarTime {
  int year;     // e.g. 2026
  int month;    // 1..12
  int day;      // 1..31
  int hour;     // 0..23
  int minute;   // 0..59
  int second;   // 0..59 (60 for a leap second)
  int weekday;  // 0 = Sunday .. 6 = Saturday
};

// The local time now.
CalendarTime LocalTimeNow();

}  // namespace platform
