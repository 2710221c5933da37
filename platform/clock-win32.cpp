#include "platform/clock.h"
#include "platform/win32_support.h"

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
