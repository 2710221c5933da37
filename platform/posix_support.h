// What the POSIX sources of platform/ share; not for use outside platform/.
//
// Both read errno as the failed call left it, so call them right after it.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

namespace platform::posix {

// Sets `*error` (when given) to "<what> '<path>': <the system's reason>".
inline void SetError(std::string* error, const std::string& what, const std::string& path) {
  if (error) *error = what + " '" + path + "': " + std::strerror(errno);
}

// Writes all of `data` to `fd`, going on after interruptions by a signal.
// False at the first failing write (errno tells why) or when a write takes
// nothing.
inline bool WriteAll(int fd, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform::posix
