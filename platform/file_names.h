// What the file system makes of a name: whether a path stands on its own,
// and whether a name may hold a colon.
#pragma once

#include <string>

namespace platform {

// True when `path` names the same file from any current folder ("/srv/mail",
// and on Windows "C:\Mail", "C:/Mail" or "\\server\share"); false for a name
// to be read from some folder ("Mail", "..\Mail").
bool IsAbsolutePath(const std::string& path);

// False where a ':' in a file name means something else or is refused (on
// Windows it names a hidden stream of another file, and FAT or a network
// share refuse it), so names that would hold one need another character.
bool NamesMayHoldColon();

}  // namespace platform
