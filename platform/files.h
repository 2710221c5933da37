// Whole-file operations on plain files, each opening the file for the one
// operation and closing it before returning. None throws; where a reason is
// asked for, it is the operating system's own text.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

// Who may read a file that is created (a file that exists keeps its mode).
enum class FileAccess {
  Shared,     // as the process's umask allows
  OwnerOnly,  // the owner alone, whatever the umask
};

// Creates the file or truncates an existing one, then writes all of `data`.
// True only when the file was created and every byte was written.
bool WriteWholeFile(const std::string& path, std::string_view data, std::string* error = nullptr,
                    FileAccess access = FileAccess::Shared);

// Appends `data` at the end of the file (creating it when missing) with the
// system's append mode, in one write, so that entries of processes writing at
// the same moment are all kept, each whole.
bool AppendToFile(const std::string& path, std::string_view data, std::string* error = nullptr);

// Reads the whole file into `out` (emptied first). False when the file cannot
// be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out, std::string* error = nullptr);

// Removes the file. False when it did not exist or could not be removed.
bool RemoveFile(const std::string& path);

// Another program (a virus scanner, an indexer, a backup or sync tool) may
// hold a file open for a moment without sharing it, where the system lets
// it. The calls above wait for such a file themselves; a caller whose own
// call of another library failed on a held file asks Next: true after
// waiting the next, longer step, false once about two seconds have passed
// since the wait was made (the calls' own time counts too), and at once
// where files are never held that way.
class HeldFileWait {
 public:
  bool Next();

 private:
  int m_step = 0;
  std::chrono::steady_clock::time_point m_begun = std::chrono::steady_clock::now();
};

// True when another program holds `path` open so that it cannot be opened
// now; false also where files are never held that way.
bool IsHeldByAnotherProgram(const std::string& path);

bool FileExists(const std::string& path);

// From now on every file and folder this process creates is for its owner
// only (folders 0700, files 0600 at most), whatever the umask it was started
// with. What exists already keeps its mode.
void KeepNewFilesPrivate();

// True when an account other than the file's owner (and the system's own
// accounts) may read the file; false also when that cannot be told.
bool OthersMayRead(const std::string& path);

// Takes the group's and others' permissions off a file this process owns.
// False when that is not possible (another owner, a missing file).
bool MakeOwnerOnly(const std::string& path);

}  // namespace platform
