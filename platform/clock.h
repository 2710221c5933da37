// The local wall-clock time.
//
// LocalNow() fills the calendar fields of the current local time (month 1 to
// 12, seconds whole). False when the system cannot convert the time.
#pragma once

namespace platform {

struct CalendarTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

bool LocalNow(CalendarTime& out);

}  // namespace platform
