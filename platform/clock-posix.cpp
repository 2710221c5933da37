#include "platform/clock.h"

#include <ctime>

namespace platform {
namespace {

bool FromLocalTime(std::time_t when, CalendarTime& out) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return false;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second reads as :59
  return true;
}

}  // namespace

bool LocalNow(CalendarTime& out) {
  const std::time_t now = std::time(nullptr);
  return now != static_cast<std::time_t>(-1) && FromLocalTime(now, out);
}

bool LocalTimeAt(std::int64_t unixSeconds, CalendarTime& out) {
  return FromLocalTime(static_cast<std::time_t>(unixSeconds), out);
}

}  // namespace platform
