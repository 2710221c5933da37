// New globally unique identifiers.
//
// NewRegistryGuid() returns a random GUID in the registry form: an opening
// brace, 8-4-4-4-12 upper-case hexadecimal digits with hyphens, and a closing
// brace (38 characters). It does not fail.
#pragma once

#include <string>

namespace platform {

std::string NewRegistryGuid();

}  // namespace platform
