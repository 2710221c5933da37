#include "platform/file_names.h"

namespace platform {

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool NamesMayHoldColon() { return true; }

}  // namespace platform
