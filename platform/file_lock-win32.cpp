#include "platform/file_lock.h"
#include "platform/win32_support.h"

#include <thread>

namespace platform {

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  // Closing the handle releases the lock; so does the end of the process,
  // a crash included.
  if (m_handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = -1;
}

FileLock::Result FileLock::Acquire(const std::string& path, std::chrono::milliseconds wait, std::string* error) {
  if (m_handle != -1) return Result::Acquired;
  win32::CreationAttributes attributes(false, false);
  const std::wstring name = win32::FilePath(path);
  win32::Handle file;
  win32::RetryWhileHeld(
      [&] {
        file.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, win32::kShareAll, attributes.get(),
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid();
      },
      name.c_str());
  if (!file.valid()) {
    win32::SetError(error, "cannot open lock file", path, ::GetLastError());
    return Result::Failed;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    // The range lies far beyond anything the file holds: Windows locks are
    // mandatory for the bytes they cover, and nobody is to be kept from
    // reading the file itself.
    OVERLAPPED range{};
    range.Offset = 0;
    range.OffsetHigh = 0x7FFFFFFF;
    if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
      m_handle = reinterpret_cast<std::intptr_t>(file.Release());
      return Result::Acquired;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
      win32::SetError(error, "cannot lock", path, code);
      return Result::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (error) *error = "'" + path + "' is locked by another process";
  return Result::Busy;
}

}  // namespace platform
