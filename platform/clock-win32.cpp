#include "platform/clock.h"
#include "platform/win32_support.h"

namespace platform {

bool LocalNow(CalendarTime& out) {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  out.year = local.wYear;
  out.month = local.wMonth;
  out.day = local.wDay;
  out.hour = local.wHour;
  out.minute = local.wMinute;
  out.second = local.wSecond;
  return true;
}

}  // namespace platform
