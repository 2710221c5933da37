#include "platform/environment.h"

#include <cstdlib>

namespace platform {
namespace {

bool UsableName(const std::string& name) { return !name.empty() && name.find('=') == std::string::npos; }

}  // namespace

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return UsableName(name) && ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool RemoveEnvironmentValue(const std::string& name) { return UsableName(name) && ::unsetenv(name.c_str()) == 0; }

}  // namespace platform
