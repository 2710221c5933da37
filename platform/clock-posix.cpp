#include "platform/clock.h"

#include <ctime>

namespace platform {

bool LocalNow(CalendarTime& out) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return false;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second reads as :59
  return true;
}

}  // namespace platform
