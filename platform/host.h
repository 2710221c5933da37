// Who and where this process is: the machine's name and the process number,
// as unique message names and message identifiers need them. Neither fails;
// a machine without a name is called "localhost".
#pragma once

#include <string>

namespace platform {

std::string HostName();
long ProcessId();

}  // namespace platform
