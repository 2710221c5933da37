// New globally unique identifiers.
#pragma once

#include <string>

namespace platform {

// A random GUID in the registry form: an opening brace, 8-4-4-4-12 upper-case
// hexadecimal digits with hyphens, and a closing brace (38 characters). Never
// fails.
std::string NewRegistryGuid();

}  // namespace platform
