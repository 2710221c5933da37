#include "platform/clock.h"
#include "platform/win32_support.h"

#include <cstdlib>
#include <ctime>

namespace platform {
namespace {

void FromSystemTime(const SYSTEMTIME& time, CalendarTime& out) {
  out.year = time.wYear;
  out.month = time.wMonth;
  out.day = time.wDay;
  out.hour = time.wHour;
  out.minute = time.wMinute;
  out.second = time.wSecond;
}

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

}  // namespace

bool LocalNow(CalendarTime& out) {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  FromSystemTime(local, out);
  return true;
}

bool LocalTimeAt(std::int64_t unixSeconds, CalendarTime& out) {
  // A zone the caller named in TZ (a script, a test) counts, as on Linux;
  // the C runtime reads it. Otherwise the zone is Windows' own setting.
  if (const char* zone = std::getenv("TZ"); zone != nullptr && *zone != '\0') {
    _tzset();
    const __time64_t when = unixSeconds;
    std::tm local{};
    if (_localtime64_s(&local, &when) != 0) return false;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    return true;
  }
  if (unixSeconds < -kFileTimeEpochSeconds || unixSeconds > INT64_MAX / kTicksPerSecond - kFileTimeEpochSeconds) {
    return false;
  }
  ULARGE_INTEGER ticks{};
  ticks.QuadPart = static_cast<ULONGLONG>((unixSeconds + kFileTimeEpochSeconds) * kTicksPerSecond);
  const FILETIME fileTime{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME utc{}, local{};
  // The Ex form, with each year's own rules, is only a stub under Wine.
  if (!::FileTimeToSystemTime(&fileTime, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  FromSystemTime(local, out);
  return true;
}

}  // namespace platform
