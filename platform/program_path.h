// The running program's own file.
#pragma once

#include <string>

namespace platform {

// The full path of the current process's executable, as the operating system
// reports it; empty when the system cannot tell (callers then work relative
// to the current folder).
std::string RunningProgramPath();
// The character that separates folders in such a path.
char PathSeparator();

}  // namespace platform
