#include "platform/host.h"
#include "platform/win32_support.h"

#include <vector>

namespace platform {

std::string HostName() {
  DWORD size = 0;
  ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  std::vector<wchar_t> buffer(size + 1);
  if (size == 0 || !::GetComputerNameExW(ComputerNameDnsHostname, buffer.data(), &size) || size == 0) {
    return "localhost";
  }
  return win32::Utf8(std::wstring_view(buffer.data(), size));
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

}  // namespace platform
