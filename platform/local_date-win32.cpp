#include "platform/local_date.h"

#include <windows.h>
#include <oleauto.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32_support.h"

namespace platform {
namespace {

// A program that has not taken the user's locale (setlocale(LC_ALL, ""))
// still runs in the C locale, which has no regional form, as on Linux;
// once it has, the form is the user's short date, as Control Panel shows
// it.
bool HasRegionalForm() {
  const char* name = std::setlocale(LC_TIME, nullptr);
  return name != nullptr && std::strcmp(name, "C") != 0;
}

// The C runtime takes the regional settings whatever the environment says;
// a caller that set the POSIX variables to ask for none (a script, a test,
// a Unix-like shell) is heard as it would be on Linux.
bool AsksForNoLocale() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::strcmp(value, "C") == 0 || std::strcmp(value, "POSIX") == 0 || std::strncmp(value, "C.", 2) == 0;
  }
  return false;
}

}  // namespace

void TakeUserLocale() {
  if (!AsksForNoLocale()) std::setlocale(LC_ALL, "");
}

std::string FormatLocalDate(int year, int month, int day) {
  if (!HasRegionalForm()) return std::string();
  SYSTEMTIME date{};
  date.wYear = static_cast<WORD>(year);
  date.wMonth = static_cast<WORD>(month);
  date.wDay = static_cast<WORD>(day);
  wchar_t buffer[128];
  const int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, buffer, 128, nullptr);
  if (n <= 1) return std::string();
  return win32::Utf8(std::wstring_view(buffer, n - 1));  // without the terminating zero
}

// The reading the user's own programs use for a typed date, in the user's
// locale; a time of day typed with it is not a bare date.
bool ReadLocalDate(const std::string& text, int& year, int& month, int& day) {
  if (!HasRegionalForm() || text.empty()) return false;
  std::wstring wide = win32::Wide(text);
  DATE value = 0;
  if (FAILED(VarDateFromStr(wide.data(), LOCALE_USER_DEFAULT, VAR_DATEVALUEONLY, &value))) return false;
  SYSTEMTIME date{};
  if (!VariantTimeToSystemTime(value, &date)) return false;
  year = date.wYear;
  month = date.wMonth;
  day = date.wDay;
  return true;
}

}  // namespace platform
