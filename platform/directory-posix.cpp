#include "platform/directory.h"
#include "platform/posix_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

using posix::SetError;

}  // namespace

bool MakeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "empty folder name";
    return false;
  }
  if (IsDirectory(path)) return true;
  size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0) {
    if (!MakeDirectories(path.substr(0, cut), error)) return false;
  }
  // Another process may create the same folder at the same moment; that is
  // success too.
  if (::mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && IsDirectory(path))) {
    SetError(error, "cannot create folder", path);
    return false;
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsWritableDirectory(const std::string& path) {
  return IsDirectory(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out, std::string* error) {
  out.clear();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    SetError(error, "cannot read folder", path);
    return false;
  }
  errno = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry item;
    item.name = name;
    struct stat st;
    // A file may vanish between listing and looking at it (another reader
    // moved it); it is then simply not listed.
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0) continue;
    item.regularFile = S_ISREG(st.st_mode);
    item.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    item.size = static_cast<std::int64_t>(st.st_size);
    out.push_back(std::move(item));
    errno = 0;
  }
  bool ok = errno == 0;
  if (!ok) SetError(error, "cannot read folder", path);
  ::closedir(dir);
  return ok;
}

MoveResult MoveFileNoReplace(const std::string& from, const std::string& to, std::string* error) {
  int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // The file system cannot rename without replacing: a hard link fails
    // when the target exists, which gives the same guarantee.
    rc = ::link(from.c_str(), to.c_str());
    if (rc == 0 && ::unlink(from.c_str()) != 0) {
      int saved = errno;
      ::unlink(to.c_str());
      errno = saved;
      rc = -1;
    }
  }
  if (rc == 0) return MoveResult::Moved;
  SetError(error, "cannot move to '" + to + "'", from);
  switch (errno) {
    case EEXIST:
    case ENOTEMPTY:
      return MoveResult::TargetExists;
    case ENOENT:
      return ::access(from.c_str(), F_OK) == 0 ? MoveResult::Failed : MoveResult::SourceMissing;
    case EXDEV:
      return MoveResult::CrossDevice;
    default:
      return MoveResult::Failed;
  }
}

}  // namespace platform
