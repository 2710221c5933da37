// Files written so that a crash or power loss leaves them whole or absent: the
// data are flushed to the disk before success is reported, and no half-written
// file ever stands under the final name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// Copies the file `from` to `to`, which must not exist yet. The copy is
// made under a name of this process's own beside `to`, flushed, and only
// then given the name `to`, never replacing a file that took that name
// meanwhile: a copy cut short never stands under `to`. The copy can be
// written whatever the original's read-only mark. Exists and Failed leave
// nothing behind (Failed also when `from` is missing); Busy: `from` stayed
// held by another program.
CreateResult CopyFileDurably(const std::string& from, const std::string& to, std::string* error = nullptr);

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

// ReplaceFileAtomically for content that is made piece by piece: each piece
// goes to the ".part" file as it comes, so a long file is written while the
// rest is still being made rather than all at once, and never has to be
// held whole. `path` is untouched until Commit. A replacement destroyed
// before its Commit succeeded removes the ".part" file.
class FileReplacement {
 public:
  explicit FileReplacement(std::string path) : m_path(std::move(path)) {}
  ~FileReplacement() { Discard(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates (or empties) the ".part" file.
  bool Open(std::string* error = nullptr);
  bool Append(std::string_view data, std::string* error = nullptr);
  // Flushes the data to the disk and renames the ".part" file over `path`,
  // as ReplaceFileAtomically does; on failure the ".part" file is removed.
  bool Commit(std::string* error = nullptr);

 private:
  void Discard();
  // What Append and Commit say after the replacement was abandoned or done.
  bool NotOpen(std::string* error) const {
    if (error) *error = "the replacement of '" + m_path + "' is no longer open";
    return false;
  }

  std::string m_path;
  std::intptr_t m_file = -1;  // the open ".part" file: a descriptor, or a HANDLE on Windows
  bool m_open = false;
};

}  // namespace platform
