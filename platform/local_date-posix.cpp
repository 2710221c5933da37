#include "platform/local_date.h"

#include <clocale>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

// The locale's date form (strftime's "%x"), which the program takes from the
// environment at its start; "C", "POSIX", "C.UTF-8" and the like have none
// of their own but a two-digit year nobody could read for sure.
bool HasRegionalForm() {
  const char* name = std::setlocale(LC_TIME, nullptr);
  return name != nullptr && std::strcmp(name, "C") != 0 && std::strcmp(name, "POSIX") != 0 &&
         std::strncmp(name, "C.", 2) != 0;
}

}  // namespace

void TakeUserLocale() { std::setlocale(LC_ALL, ""); }

std::string FormatLocalDate(int year, int month, int day) {
  if (!HasRegionalForm()) return std::string();
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  char buffer[256];
  const size_t n = std::strftime(buffer, sizeof buffer, "%x", &tm);
  return std::string(buffer, n);
}

bool ReadLocalDate(const std::string& text, int& year, int& month, int& day) {
  if (!HasRegionalForm() || text.empty()) return false;
  std::tm tm{};
  const char* end = strptime(text.c_str(), "%x", &tm);
  if (end == nullptr || *end != '\0') return false;
  year = tm.tm_year + 1900;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
  return true;
}

}  // namespace platform
