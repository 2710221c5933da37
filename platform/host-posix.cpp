#include "platform/host.h"

#include <unistd.h>

namespace platform {

std::string HostName() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return "localhost";
  return buffer;
}

long ProcessId() { return static_cast<long>(::getpid()); }

}  // namespace platform
