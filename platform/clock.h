// The local wall-clock time.
#pragma once

#include <cstdint>

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

// The calendar fields in the computer's time zone of an instant given as
// seconds since 1970 (UTC); false when the system cannot convert it.
bool LocalTimeAt(std::int64_t unixSeconds, CalendarTime& out);

}  // namespace platform
