// The running program's own file.
//
// RunningProgramPath() returns the full path of the executable of the current
// process, as the operating system reports it. It returns an empty text when
// the system cannot tell (callers then work relative to the current folder).
// PathSeparator() is the character that separates folders in such a path.
#pragma once

#include <string>

namespace platform {

std::string RunningProgramPath();
char PathSeparator();

}  // namespace platform
