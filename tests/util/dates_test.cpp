#include "util/dates.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace {

double Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  double value = 0;
  EXPECT_TRUE(DateFromFields(y, m, d, h, mi, s, value)) << y << "-" << m << "-" << d;
  return value;
}

DateValue Valid(double date) { return DateValue{date, DateStatus::Valid}; }

// Date texts are checked in the C locale, where FormatDateOnly writes ISO dates.
class CLocale : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST(OleDate, KnownDatesHaveTheirAutomationNumbers) {
  EXPECT_EQ(Date(1899, 12, 30), 0.0);
  EXPECT_EQ(Date(1899, 12, 31), 1.0);
  EXPECT_EQ(Date(1900, 3, 1), 61.0);  // no phantom 29 February 1900
  EXPECT_EQ(Date(100, 1, 1), -657434.0);
  EXPECT_EQ(Date(9999, 12, 31), 2958465.0);
  EXPECT_NEAR(Date(2026, 12, 7, 16, 9), 46363.67291666667, 1e-9);
  EXPECT_NEAR(Date(2024, 2, 29, 23, 59, 59), 45351.99998842592, 1e-9);
}

TEST(OleDate, DatesBeforeTheEpochCountTheTimeForwards) {
  EXPECT_DOUBLE_EQ(Date(1899, 12, 29, 6, 0, 0), -1.25);
  CalendarFields f;
  ASSERT_TRUE(FieldsFromDate(-1.25, f));
  EXPECT_EQ(f.year, 1899);
  EXPECT_EQ(f.month, 12);
  EXPECT_EQ(f.day, 29);
  EXPECT_EQ(f.hour, 6);
}

TEST(OleDate, RoundTripsEverySecondOfALeapDayAndAcrossYears) {
  for (int second = 0; second < 86400; second += 7) {
    const int h = second / 3600, mi = second / 60 % 60, s = second % 60;
    CalendarFields f;
    ASSERT_TRUE(FieldsFromDate(Date(2024, 2, 29, h, mi, s), f));
    ASSERT_EQ(f.year * 10000 + f.month * 100 + f.day, 20240229);
    ASSERT_EQ(f.hour * 3600 + f.minute * 60 + f.second, second);
  }
  for (int year : {100, 1582, 1899, 1900, 1999, 2000, 2100, 2400, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      CalendarFields f;
      ASSERT_TRUE(FieldsFromDate(Date(year, month, 28, 23, 59, 59), f));
      EXPECT_EQ(f.year, year);
      EXPECT_EQ(f.month, month);
      EXPECT_EQ(f.day, 28);
      EXPECT_EQ(f.second, 59);
    }
  }
}

TEST(OleDate, RejectsImpossibleFields) {
  double value = 0;
  EXPECT_FALSE(DateFromFields(2023, 2, 29, 0, 0, 0, value));
  EXPECT_FALSE(DateFromFields(1900, 2, 29, 0, 0, 0, value));
  EXPECT_TRUE(DateFromFields(2000, 2, 29, 0, 0, 0, value));
  EXPECT_FALSE(DateFromFields(2026, 13, 1, 0, 0, 0, value));
  EXPECT_FALSE(DateFromFields(2026, 4, 31, 0, 0, 0, value));
  EXPECT_FALSE(DateFromFields(2026, 1, 1, 24, 0, 0, value));
  EXPECT_FALSE(DateFromFields(99, 12, 31, 0, 0, 0, value));
  CalendarFields f;
  EXPECT_FALSE(FieldsFromDate(3e6, f));
  EXPECT_FALSE(FieldsFromDate(std::nan(""), f));
}

TEST(OleDate, DayOfWeekAndDayOfYearAreFilled) {
  CalendarFields f;
  ASSERT_TRUE(FieldsFromDate(Date(2026, 12, 7), f));
  EXPECT_EQ(f.dayOfWeek, 1);  // a Monday
  EXPECT_EQ(f.dayOfYear, 341);
  ASSERT_TRUE(FieldsFromDate(Date(1899, 12, 30), f));
  EXPECT_EQ(f.dayOfWeek, 6);  // a Saturday
}

TEST_F(CLocale, FormatDatePatternRendersTheDatabaseLogStamp) {
  EXPECT_EQ(FormatDatePattern(Valid(Date(2026, 12, 7, 4, 5)), "\r\n\r\n%m-%d-%Y   %H:%M  - "),
            "\r\n\r\n12-07-2026   04:05  - ");
  EXPECT_EQ(FormatDatePattern(Valid(Date(2026, 12, 7, 16, 9)), "%H:%M"), "16:09");
  EXPECT_EQ(FormatDatePattern(DateValue{0, DateStatus::Invalid}, "%Y"), "Invalid DateTime");
  EXPECT_EQ(FormatDatePattern(DateValue{0, DateStatus::Null}, "%Y"), "");
  EXPECT_EQ(FormatDatePattern(Valid(1e9), "%Y"), "Invalid DateTime");
}

TEST_F(CLocale, FormatDateOnlyWritesIsoDatesInTheCLocale) {
  EXPECT_EQ(FormatDateOnly(Valid(Date(2027, 3, 31, 18, 30))), "2027-03-31");
  EXPECT_EQ(FormatDateOnly(Valid(0)), "1899-12-30");
  EXPECT_EQ(FormatDateOnly(DateValue{0, DateStatus::Invalid}), "Invalid DateTime");
  EXPECT_EQ(FormatDateOnly(DateValue{0, DateStatus::Null}), "");
}

struct ParseCase {
  const char* text;
  bool ok;
  double date;  // the number; for failures 0 (no date shape) or -1
};

TEST_F(CLocale, ParseDateOnlyReadsTheUsualFormsAndDropsTheTime) {
  const double day = Date(2027, 3, 31);
  const ParseCase cases[] = {
      {"2027-03-31", true, day},
      {"2027-3-31", true, day},
      {"2027-03-31 18:30:00", true, day},
      {"2027-03-31T18:30:00", true, day},
      {"2027-03-31 18:30", true, day},
      {"3/31/2027", true, day},
      {"  2027-03-31  ", true, day},
      {"", false, 0},
      {"soon", false, 0},
      {"next Tuesday", false, 0},
      {"2027-02-30", false, -1},
      {"13/01/2027", false, -1},
      {"2027-03", false, -1},
      {"2027-03-31 25:00", false, -1},
  };
  for (const auto& c : cases) {
    DateValue value;
    EXPECT_EQ(ParseDateOnly(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value.status, c.ok ? DateStatus::Valid : DateStatus::Invalid) << c.text;
    EXPECT_EQ(value.date, c.date) << c.text;
  }
}

TEST(ParseDateOnly, ReadsTheLocaleDateForm) {
  if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  // C.UTF-8 is a C locale too: ISO in, ISO out.
  DateValue value;
  ASSERT_TRUE(ParseDateOnly("2027-03-31", value));
  EXPECT_EQ(FormatDateOnly(value), "2027-03-31");
  std::setlocale(LC_ALL, "C");
}

TEST(CurrentDate, IsAValidDateOfThisCentury) {
  const DateValue now = CurrentDate();
  ASSERT_EQ(now.status, DateStatus::Valid);
  CalendarFields f;
  ASSERT_TRUE(FieldsFromDate(now.date, f));
  EXPECT_GE(f.year, 2024);
  EXPECT_LT(f.year, 2100);
}

// The time zone named by TZ for one test, in the POSIX rule form, which
// needs no zone files. Windows' C runtime reads only the plainest TZ forms.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "Windows reads no POSIX time zone rules from TZ";
#endif
    m_saved = platform::EnvironmentValue("TZ");
  }
  void TearDown() override {
    if (m_saved) {
      platform::SetEnvironmentValue("TZ", *m_saved);
    } else {
      platform::RemoveEnvironmentValue("TZ");
    }
    tzset();
  }
  static void Use(const char* zone) {
    platform::SetEnvironmentValue("TZ", zone);
    tzset();
  }

 private:
  std::optional<std::string> m_saved;
};

TEST_F(TimeZoneTest, FormatLocalDateTimeWritesTheLocalTimeWithinTheYearsOneTo9999) {
  constexpr const char* kUtc = "UTC0";
  constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
  constexpr const char* kAzores = "<-01>1";
  struct Case {
    const char* zone;
    std::int64_t seconds;
    const char* text;
  };
  const Case cases[] = {
      {kUtc, 0, "1970-01-01 00:00:00"},
      {kUtc, 1768478400, "2026-01-15 12:00:00"},
      {kBerlin, 1768478400, "2026-01-15 13:00:00"},
      {kBerlin, 1782907200, "2026-07-01 14:00:00"},  // summer time
      {kUtc, -62135596800, "1-01-01 00:00:00"},       // the year is not padded
      {kUtc, -62135596801, ""},
      {kUtc, 253402300799, "9999-12-31 23:59:59"},
      {kUtc, 253402300800, ""},
      {kBerlin, 253402300799, ""},  // the year 10000 in local time
      {kAzores, -62135596800, ""},  // the year 0 in local time
  };
  for (const Case& c : cases) {
    Use(c.zone);
    EXPECT_EQ(FormatLocalDateTime(c.seconds), c.text) << c.zone << " " << c.seconds;
  }
}

}  // namespace
