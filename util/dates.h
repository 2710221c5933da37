// Date values and their texts. Conversions never throw; they report through
// the value's status and the texts "Invalid DateTime" and the empty text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

enum class DateStatus { Valid, Invalid, Null };

// An OLE Automation date: days since 1899-12-30 at midnight, the fraction
// being the time of day (before the epoch the whole part counts backwards and
// the fraction still forwards: -1.25 is 1899-12-29 06:00). Valid dates run
// from 0100-01-01 to 9999-12-31.
struct DateValue {
  double date = 0.0;
  DateStatus status = DateStatus::Valid;
};

// The wall-clock fields plus the two that strftime wants besides.
struct CalendarFields : platform::CalendarTime {
  int dayOfWeek = 0;  // 0 = Sunday
  int dayOfYear = 0;  // 1..366
};

inline constexpr const char kInvalidDateText[] = "Invalid DateTime";

// Days from 1970-01-01 to the given proleptic Gregorian date (negative
// before it), for any year: no time zone and no C library limits.
long long DaysFromCivil(long long year, unsigned month, unsigned day);

// Calendar fields to a date number; false when a field is out of range.
bool DateFromFields(int year, int month, int day, int hour, int minute, int second, double& date);

// A date number to calendar fields, rounded to the nearest second; false when
// the number lies outside the valid range.
bool FieldsFromDate(double date, CalendarFields& fields);

// The local time now, valid unless the clock cannot be read or converted.
DateValue CurrentDate();

// The date part only: empty for null, "Invalid DateTime" for invalid, else the
// locale's date form (strftime "%x"), or YYYY-MM-DD in the C/POSIX locale,
// whose two-digit year would be ambiguous.
std::string FormatDateOnly(const DateValue& value);

// Reads a date (its time of day, if any, is dropped). Accepts YYYY-MM-DD,
// YYYY-MM-DD HH:MM[:SS] (also with T), M/D/YYYY and the locale's "%x" form.
// On failure the value is invalid and its number is 0 when the text has no
// date shape at all, -1 when it looked like a date but was not one.
bool ParseDateOnly(const std::string& text, DateValue& value);

// The date's calendar fields formatted with strftime and `pattern`, at most
// 256 characters. Empty for null, "Invalid DateTime" for invalid.
std::string FormatDatePattern(const DateValue& value, const std::string& pattern);

// "YYYY-MM-DD HH:MM:SS" (the year without leading zeros) of an instant given
// as seconds since 1970 (UTC), in the computer's time zone: the fixed form
// of logs and of the mail exchange, whatever the user's regional settings
// (for those, FormatDateOnly). Empty outside the years 1 to 9999, in UTC or
// in local time, or when the time zone cannot convert the instant.
std::string FormatLocalDateTime(std::int64_t unixSeconds);
