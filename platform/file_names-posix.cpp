#include "platform/file_names.h"

namespace platform {

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool NamesMayHoldColon() { return true; }

std::string NativeSeparators(std::string path) { return path; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace platform
