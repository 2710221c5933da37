#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace platform {

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));  // closing the descriptor releases the lock
  m_handle = -1;
}

FileLock::Result FileLock::Acquire(const std::string& path, std::chrono::milliseconds wait, std::string* error) {
  if (m_handle >= 0) return Result::Acquired;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "cannot open lock file '" + path + "': " + std::strerror(errno);
    return Result::Failed;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      m_handle = fd;
      return Result::Acquired;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      if (error) *error = "cannot lock '" + path + "': " + std::strerror(errno);
      ::close(fd);
      return Result::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (error) *error = "'" + path + "' is locked by another process";
  ::close(fd);
  return Result::Busy;
}

}  // namespace platform
