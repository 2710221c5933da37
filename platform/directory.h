// Folders: creating them, listing them, and moving files between them. None
// throws; where a reason is asked for, it is the operating system's own text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Creates the folder and every missing folder above it. True when the folder
// exists afterwards (also when it existed before).
bool MakeDirectories(const std::string& path, std::string* error = nullptr);

bool IsDirectory(const std::string& path);

// True when files can be created in and removed from the folder.
bool IsWritableDirectory(const std::string& path);

struct DirectoryEntry {
  std::string name;            // without the folder
  bool regularFile = false;
  std::int64_t modifiedNs = 0; // last modification, nanoseconds since 1970 (UTC)
  std::int64_t size = 0;       // in bytes
};

// The entries of the folder, "." and ".." left out, in no particular order.
// False when the folder cannot be read.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out, std::string* error = nullptr);

enum class MoveResult {
  Moved,          // the file now has the new name only
  TargetExists,   // nothing changed: a file of the new name is already there
  SourceMissing,  // nothing changed: there was no file to move
  CrossDevice,    // nothing changed: the two names are on different file systems
  Failed,         // nothing changed: any other reason
};

// Gives the file `from` the name `to` in one step, without replacing a file
// already called `to`, so two files can never collapse into one.
MoveResult MoveFileNoReplace(const std::string& from, const std::string& to, std::string* error = nullptr);

}  // namespace platform
