#include "platform/file_names.h"

#include <algorithm>

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

// A drive letter with a separator after it, or two separators (a share or a
// device path). "C:Mail" and "\Mail" depend on the current drive's folder
// or drive, so they are not absolute.
bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && IsSeparator(path[2])) {
    return true;
  }
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

bool NamesMayHoldColon() { return false; }

std::string NativeSeparators(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsSeparator(folder.back())) return NativeSeparators(folder + name);
  return NativeSeparators(folder + "\\" + name);
}

}  // namespace platform
