#include "platform/program_path.h"

#include <unistd.h>

#include <vector>

#include "platform/file_names.h"

namespace platform {

std::string RunningProgramPath() {
  // /proc/self/exe names the executable itself, wherever it was started from
  // and whatever argv[0] says.
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() { return '/'; }

std::string VirtualStoreFolder() { return std::string(); }

std::string FileBesideRunningProgram(const std::string& name) {
  const std::string program = RunningProgramPath();
  const size_t cut = program.find_last_of('/');
  if (cut == std::string::npos) return name;
  return JoinPath(program.substr(0, cut + 1), name);
}

bool CopiedIntoVirtualStore(const std::string&) { return false; }

}  // namespace platform
