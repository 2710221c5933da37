#include "platform/program_path.h"
#include "platform/win32_support.h"

#include <vector>

namespace platform {

std::string RunningProgramPath() {
  // The module file of the process itself, whatever the command line said;
  // a path longer than the buffer comes back cut off, so the buffer grows
  // until it holds the whole path.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return win32::Utf8(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return std::string();  // no path is longer
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() { return '\\'; }

}  // namespace platform
