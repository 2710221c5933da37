#include "util/dates.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>

#include "platform/clock.h"
#include "platform/local_date.h"

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

namespace {

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

const long long kEpochDays = DaysFromCivil(1899, 12, 30);
constexpr double kMinDate = -657434.0;          // 0100-01-01
constexpr double kMaxDate = 2958465.99999;      // 9999-12-31 23:59:59


// The optional time of day at match groups 4 to 6 must be a real time even
// though it is dropped.
bool TimeIsValid(const std::smatch& m) {
  if (!m[4].matched) return true;
  const int hour = std::stoi(m[4]), minute = std::stoi(m[5]), second = m[6].matched ? std::stoi(m[6]) : 0;
  return hour < 24 && minute < 60 && second < 60;
}

std::tm ToTm(const CalendarFields& f) {
  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_wday = f.dayOfWeek;
  tm.tm_yday = f.dayOfYear - 1;
  tm.tm_isdst = 0;
  return tm;
}

bool DateOnly(int y, int m, int d, DateValue& value) {
  double date = 0;
  if (!DateFromFields(y, m, d, 0, 0, 0, date)) return false;
  value.date = date;
  value.status = DateStatus::Valid;
  return true;
}

}  // namespace

bool DateFromFields(int year, int month, int day, int hour, int minute, int second, double& date) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  const long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays;
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  date = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
  return true;
}

bool FieldsFromDate(double date, CalendarFields& f) {
  if (!std::isfinite(date) || date < kMinDate - 1 || date > kMaxDate + 1) return false;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  long long days = static_cast<long long>(whole);
  long long seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) {
    // Rounding up past midnight moves to the next calendar day, which for
    // negative dates is one day closer to the epoch.
    seconds -= 86400;
    days += 1;
  }
  CivilFromDays(days + kEpochDays, f.year, f.month, f.day);
  if (f.year < 100 || f.year > 9999) return false;
  f.hour = static_cast<int>(seconds / 3600);
  f.minute = static_cast<int>(seconds / 60 % 60);
  f.second = static_cast<int>(seconds % 60);
  const long long unixDays = days + kEpochDays;
  f.dayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  f.dayOfYear = static_cast<int>(unixDays - DaysFromCivil(f.year, 1, 1)) + 1;
  return true;
}

DateValue CurrentDate() {
  DateValue value;
  platform::CalendarTime now;
  CalendarFields back;
  if (!platform::LocalNow(now) ||
      !DateFromFields(now.year, now.month, now.day, now.hour, now.minute, now.second, value.date) ||
      !FieldsFromDate(value.date, back) || back.year != now.year || back.month != now.month ||
      back.day != now.day || back.hour != now.hour || back.minute != now.minute || back.second != now.second) {
    value.status = DateStatus::Invalid;
    return value;
  }
  value.status = DateStatus::Valid;
  return value;
}

std::string FormatLocalDateTime(std::int64_t unixSeconds) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  static const std::int64_t kFirst = DaysFromCivil(1, 1, 1) * kSecondsPerDay;
  static const std::int64_t kEnd = DaysFromCivil(10000, 1, 1) * kSecondsPerDay;
  platform::CalendarTime local;
  if (unixSeconds < kFirst || unixSeconds >= kEnd || !platform::LocalTimeAt(unixSeconds, local) || local.year < 1 ||
      local.year > 9999) {
    return std::string();
  }
  char text[48];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day, local.hour,
                local.minute, local.second);
  return text;
}

std::string FormatDateOnly(const DateValue& value) {
  if (value.status == DateStatus::Null) return std::string();
  CalendarFields f;
  if (value.status == DateStatus::Invalid || !FieldsFromDate(value.date, f)) return kInvalidDateText;
  std::string local = platform::FormatLocalDate(f.year, f.month, f.day);
  if (!local.empty()) return local;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", f.year, f.month, f.day);
  return buffer;
}

bool ParseDateOnly(const std::string& input, DateValue& value) {
  value.status = DateStatus::Invalid;
  value.date = 0;
  const size_t b = input.find_first_not_of(" \t");
  const size_t e = input.find_last_not_of(" \t");
  const std::string text = b == std::string::npos ? std::string() : input.substr(b, e - b + 1);

  static const std::regex iso(R"(^(\d{4})-(\d{1,2})-(\d{1,2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?)?$)");
  static const std::regex us(R"(^(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2})(?::(\d{2}))?)?$)");
  static const std::regex shape(R"(^\d+\s*[-/.]\s*\d+)");
  std::smatch m;
  if (std::regex_match(text, m, iso)) {
    if (TimeIsValid(m) && DateOnly(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), value)) return true;
  } else if (std::regex_match(text, m, us)) {
    if (TimeIsValid(m) && DateOnly(std::stoi(m[3]), std::stoi(m[1]), std::stoi(m[2]), value)) return true;
  } else if (int year = 0, month = 0, day = 0; platform::ReadLocalDate(text, year, month, day)) {
    if (DateOnly(year, month, day, value)) return true;
  } else if (!std::regex_search(text, shape)) {
    return false;  // no date shape at all: number 0
  }
  value.status = DateStatus::Invalid;
  value.date = -1;
  return false;
}

std::string FormatDatePattern(const DateValue& value, const std::string& pattern) {
  if (value.status == DateStatus::Null) return std::string();
  CalendarFields f;
  if (value.status == DateStatus::Invalid || !FieldsFromDate(value.date, f)) return kInvalidDateText;
  std::tm tm = ToTm(f);
  char buffer[257];
  size_t n = std::strftime(buffer, sizeof buffer - 1, pattern.c_str(), &tm);
  return std::string(buffer, n);
}
