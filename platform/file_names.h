// What the file system makes of a name: whether a path stands on its own,
// whether a name may hold a colon, and how parts of a path are joined.
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

// `path` with every folder separator as this system writes it (on Windows
// '/' becomes '\\'), so that a path shown to a person has one kind.
std::string NativeSeparators(std::string path);

// `folder`, the system's separator (unless `folder` is empty or ends with
// one) and `name`, which may hold '/' between its own parts: all of it with
// native separators.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace platform
