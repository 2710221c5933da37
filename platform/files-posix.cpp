#include "platform/files.h"
#include "platform/posix_support.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using posix::SetError;
using posix::WriteAll;

bool WriteWithFlags(const std::string& path, std::string_view data, int flags, std::string* error,
                    mode_t mode = 0644) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) {
    SetError(error, "cannot open", path);
    return false;
  }
  bool ok = WriteAll(fd, data);
  if (!ok) SetError(error, "cannot write", path);
  if (::close(fd) != 0 && ok) {
    // A full disk on a network or delayed-allocation file system can show
    // only at close; the data is then not safely written.
    SetError(error, "cannot write", path);
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteWholeFile(const std::string& path, std::string_view data, std::string* error, FileAccess access) {
  return WriteWithFlags(path, data, O_WRONLY | O_CREAT | O_TRUNC, error, access == FileAccess::OwnerOnly ? 0600 : 0644);
}

bool AppendToFile(const std::string& path, std::string_view data, std::string* error) {
  // O_APPEND makes each write land at the end atomically, so entries written
  // by two processes at the same moment are interleaved whole, never lost.
  return WriteWithFlags(path, data, O_WRONLY | O_CREAT | O_APPEND, error);
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string* error) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, "cannot open", path);
    return false;
  }
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetError(error, "cannot read", path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// Opening a file never fails because another process has it open.
bool HeldFileWait::Next() { return false; }

bool IsHeldByAnotherProgram(const std::string&) { return false; }

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void KeepNewFilesPrivate() {
  const mode_t current = ::umask(077);
  ::umask(current | 077);  // a stricter umask stays as strict
}

bool OthersMayRead(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 044) != 0;
}

bool MakeOwnerOnly(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & 077) == 0) return true;
  return ::chmod(path.c_str(), st.st_mode & 0700) == 0;
}

}  // namespace platform
