#include "platform/durable_file.h"
#include "platform/directory.h"
#include "platform/posix_support.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

using posix::SetError;

// 0 when written, flushed and closed; otherwise the errno of the step that
// failed, taken before anything else can change it.
int WriteSyncClose(int fd, std::string_view data, const std::string& path, std::string* error) {
  int failure = 0;
  if (!posix::WriteAll(fd, data) || ::fsync(fd) != 0) {
    failure = errno;
    SetError(error, "cannot write", path);
  }
  if (::close(fd) != 0 && failure == 0) {
    failure = errno;
    SetError(error, "cannot write", path);
  }
  return failure;
}

// Makes the new name itself durable: the folder entry is flushed too.
void SyncFolderOf(const std::string& path) {
  size_t cut = path.find_last_of('/');
  std::string folder = cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Opens `path` with `flags`, writes and flushes `data`; on failure the file
// is removed again. With `keep`, the file gets its owner and group where the
// process may set them, and its mode whatever the umask (after the owner:
// changing the owner clears set-id bits).
// Like WriteSyncClose, from opening `path` on: 0 or the errno of the failing
// step; the file is removed again after a failure.
int WriteSynced(const std::string& path, std::string_view data, int flags, mode_t mode, std::string* error,
                const struct stat* keep = nullptr) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode);
  if (fd < 0) {
    const int failure = errno;
    SetError(error, "cannot create", path);
    return failure;
  }
  if (keep) {
    if (::fchown(fd, keep->st_uid, keep->st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), keep->st_gid) != 0) {
      // Not allowed to give the file away: it stays the process's own.
    }
    if (::fchmod(fd, keep->st_mode & 07777) != 0) {
      const int failure = errno;
      SetError(error, "cannot set the mode of", path);
      ::close(fd);
      ::unlink(path.c_str());
      return failure;
    }
  }
  const int failure = WriteSyncClose(fd, data, path, error);
  if (failure != 0) ::unlink(path.c_str());
  return failure;
}

}  // namespace

CreateResult CreateNewFileDurably(const std::string& path, std::string_view data, std::string* error) {
  switch (WriteSynced(path, data, O_EXCL, 0600, error)) {
    case 0:
      return CreateResult::Created;
    case EEXIST:
      return CreateResult::Exists;
    case EAGAIN:
    case EINTR:
    case EBUSY:
      return CreateResult::Busy;
    default:
      return CreateResult::Failed;
  }
}

std::string PartialFileName(const std::string& path) { return path + ".part"; }

namespace {

// Copies the rest of `in` to `out`; 0 or the errno of the failing step.
int CopyContent(int in, int out, const std::string& from, const std::string& to, std::string* error) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int failure = errno;
      SetError(error, "cannot read", from);
      return failure;
    }
    if (n == 0) return 0;
    if (!posix::WriteAll(out, std::string_view(buffer, static_cast<size_t>(n)))) {
      const int failure = errno;
      SetError(error, "cannot write", to);
      return failure;
    }
  }
}

}  // namespace

CreateResult CopyFileDurably(const std::string& from, const std::string& to, std::string* error) {
  struct stat existing;
  if (::lstat(to.c_str(), &existing) == 0) return CreateResult::Exists;
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat original;
  if (in < 0 || ::fstat(in, &original) != 0) {
    SetError(error, "cannot open", from);
    if (in >= 0) ::close(in);
    return CreateResult::Failed;
  }
  // The process's own name: two copies at the same moment never write into
  // one file.
  const std::string part = to + "." + std::to_string(::getpid()) + ".part";
  const int out =
      ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, (original.st_mode & 0777) | S_IRUSR | S_IWUSR);
  if (out < 0) {
    SetError(error, "cannot create", part);
    ::close(in);
    return CreateResult::Failed;
  }
  int failure = CopyContent(in, out, from, part, error);
  ::close(in);
  if (failure != 0) {
    ::close(out);
  } else {
    failure = WriteSyncClose(out, {}, part, error);
  }
  if (failure == 0) {
    switch (MoveFileNoReplace(part, to, error)) {
      case MoveResult::Moved:
        SyncFolderOf(to);
        return CreateResult::Created;
      case MoveResult::TargetExists:
        ::unlink(part.c_str());
        return CreateResult::Exists;
      default:
        break;
    }
  }
  ::unlink(part.c_str());
  return CreateResult::Failed;
}

namespace {

// Renames the flushed `part` over `path` and flushes the folder; on failure
// `part` is removed.
bool MoveIntoPlace(const std::string& part, const std::string& path, std::string* error) {
  if (::rename(part.c_str(), path.c_str()) != 0) {
    SetError(error, "cannot rename into place", path);
    ::unlink(part.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

bool ReplaceWith(const std::string& path, std::string_view data, std::string* error, const struct stat* keep,
                 bool ownerOnly) {
  const std::string part = PartialFileName(path);
  // An existing file keeps its permissions when opened; a private one must
  // be created afresh.
  if (ownerOnly) ::unlink(part.c_str());
  const int flags = ownerOnly ? O_TRUNC | O_EXCL : O_TRUNC;
  if (WriteSynced(part, data, flags, keep || ownerOnly ? 0600 : 0644, error, keep) != 0) return false;
  return MoveIntoPlace(part, path, error);
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view data, std::string* error, bool ownerOnly) {
  return ReplaceWith(path, data, error, nullptr, ownerOnly);
}

bool ReplaceFileKeepingAccess(const std::string& path, std::string_view data, std::string* error) {
  struct stat old;
  if (::stat(path.c_str(), &old) != 0) {
    SetError(error, "cannot read the mode of", path);
    return false;
  }
  return ReplaceWith(path, data, error, &old, false);
}

void FileReplacement::Discard() {
  if (!m_open) return;
  ::close(static_cast<int>(m_file));
  ::unlink(PartialFileName(m_path).c_str());
  m_open = false;
}

bool FileReplacement::Open(std::string* error) {
  Discard();
  const std::string part = PartialFileName(m_path);
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(error, "cannot create", part);
    return false;
  }
  m_file = fd;
  m_open = true;
  return true;
}

bool FileReplacement::Append(std::string_view data, std::string* error) {
  if (!m_open) return NotOpen(error);
  if (posix::WriteAll(static_cast<int>(m_file), data)) return true;
  SetError(error, "cannot write", PartialFileName(m_path));
  Discard();
  return false;
}

bool FileReplacement::Commit(std::string* error) {
  if (!m_open) return NotOpen(error);
  const std::string part = PartialFileName(m_path);
  m_open = false;
  if (WriteSyncClose(static_cast<int>(m_file), {}, part, error) != 0) {
    ::unlink(part.c_str());
    return false;
  }
  return MoveIntoPlace(part, m_path, error);
}

}  // namespace platform
