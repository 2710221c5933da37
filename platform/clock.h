// The local wall-clock time.
#pragma once

namespace platform {

struct CalendarTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;  // whole seconds
};

// The calendar fields of the current local time; false when the system cannot
// convert the time.
bool LocalNow(CalendarTime& out);

}  // namespace platform
