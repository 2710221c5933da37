// An exclusive lock that keeps two processes out of the same work.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace platform {

// Advisory: it binds every process that asks for the same lock file. It is
// released when the object is destroyed or when the process ends in any way, a
// crash included, so a dead holder never blocks anyone. The lock file is
// created when missing and left in place.
class FileLock {
 public:
  enum class Result { Acquired, Busy, Failed };

  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Tries to take the lock, retrying until `wait` has passed. Busy: another
  // process held it all that time. Failed: the lock file cannot be opened
  // (the reason goes to `error`).
  Result Acquire(const std::string& path, std::chrono::milliseconds wait, std::string* error = nullptr);

  // Gives the lock back (nothing when it is not held); it may be taken again.
  void Release();

  bool held() const { return m_handle != -1; }

 private:
  std::intptr_t m_handle = -1;  // the open lock file, as the system numbers it; -1: none
};

}  // namespace platform
