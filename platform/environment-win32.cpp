#include "platform/environment.h"
#include "platform/win32_support.h"

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

bool UsableName(const std::string& name) { return !name.empty() && name.find('=') == std::string::npos; }

// _wputenv changes the C runtime's copy (what getenv reads) and the
// system's (what children inherit) together; SetEnvironmentVariableW alone
// would leave getenv reading the old value.
bool Put(const std::string& name, const std::string& value) {
  const std::wstring entry = win32::Wide(name) + L"=" + win32::Wide(value);
  return ::_wputenv(entry.c_str()) == 0;
}

}  // namespace

std::optional<std::string> EnvironmentValue(const std::string& name) {
  if (!UsableName(name)) return std::nullopt;
  const std::wstring wideName = win32::Wide(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buffer.size()) return win32::Utf8(std::wstring_view(buffer.data(), n));
    buffer.resize(n);  // n counts the terminating zero when the buffer was too small
  }
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return UsableName(name) && Put(name, value);
}

bool RemoveEnvironmentValue(const std::string& name) { return UsableName(name) && Put(name, ""); }

}  // namespace platform
