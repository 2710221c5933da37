// The environment variables of this process, which the programs it starts
// inherit. Names and values are UTF-8 text on every system.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the variable; nothing when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

// Sets the variable for this process and every program started afterwards,
// so that both the system's and the C runtime's view (getenv) see it. False
// when the name is empty or holds '='. Where the C runtime cannot hold an
// empty value, an empty value reads back as not set.
bool SetEnvironmentValue(const std::string& name, const std::string& value);

// Removes the variable (true also when it was not set).
bool RemoveEnvironmentValue(const std::string& name);

}  // namespace platform
