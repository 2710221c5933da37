// Files written so that a crash or power loss leaves them whole or absent: the
// data are flushed to the disk before success is reported, and no half-written
// file ever stands under the final name.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// None of these throws; a reason given in `error` is the operating system's
// own text.

// What became of CreateNewFileDurably.
enum class CreateResult {
  Created,  // the file holds the data, flushed
  Exists,   // nothing changed: a file of that name is already there
  Busy,     // nothing left behind: the system was briefly unable; try again later
  Failed,   // nothing left behind: any other reason
};

// Creates `path`, which must not exist yet, writes `data` and flushes it.
// On any failure the new file is removed again.
CreateResult CreateNewFileDurably(const std::string& path, std::string_view data, std::string* error = nullptr);

// Writes `data` to `path` + ".part", flushes it and then renames it over
// `path` in one step, so that readers see either the old content or the new
// one. On failure the ".part" file is removed and `path` is left as it was.
// `ownerOnly`: the new file can be read and written by its owner alone
// (0600), also when a stale ".part" of other permissions lay in the way.
bool ReplaceFileAtomically(const std::string& path, std::string_view data, std::string* error = nullptr,
                           bool ownerOnly = false);

// ReplaceFileAtomically for a file another program keeps: the new content
// gets the mode of the file it replaces, and its owner and group where the
// process may set them (they stay the process's own where it may not). Fails
// when `path` does not exist.
bool ReplaceFileKeepingAccess(const std::string& path, std::string_view data, std::string* error = nullptr);

// The name under which ReplaceFileAtomically prepares the new content.
std::string PartialFileName(const std::string& path);

}  // namespace platform
