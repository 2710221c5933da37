#include "platform/program_path.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/environment.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/win32_support.h"

#include <vector>

namespace platform {
namespace {

// The running program's folder, with its separator; empty when unknown.
std::string ProgramFolder() {
  const std::string program = RunningProgramPath();
  const size_t cut = program.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : program.substr(0, cut + 1);
}

bool SamePath(const std::string& a, const std::string& b) {
  const std::wstring x = win32::Wide(a), y = win32::Wide(b);
  return ::CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
         CSTR_EQUAL;
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  return SamePath(path.substr(0, folder.size()), folder) && (folder.back() == '\\' || path[folder.size()] == '\\');
}

// The locations Windows protects from standard accounts and virtualizes.
bool InProtectedLocation(const std::string& folder) {
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"}) {
    const std::optional<std::string> location = EnvironmentValue(variable);
    if (location && StartsWithFolder(folder, NativeSeparators(*location))) return true;
  }
  return false;
}

// Found once per process: the answer cannot change while it runs.
std::string FindVirtualStore() {
  const std::string folder = ProgramFolder();
  const std::optional<std::string> local = EnvironmentValue("LOCALAPPDATA");
  // "C:\Program Files\App\" is kept as "...\VirtualStore\Program Files\App\".
  if (folder.size() < 4 || folder[1] != ':' || !local || local->empty() || !InProtectedLocation(folder) ||
      IsWritableDirectory(folder)) {
    return std::string();
  }
  const std::string store = JoinPath(JoinPath(*local, "VirtualStore"), folder.substr(3));
  return MakeDirectories(store) ? store : std::string();
}

// The files this process has copied into the VirtualStore folder.
std::vector<std::string>& CopiedFiles() {
  static std::vector<std::string> copied;
  return copied;
}

// Removes what a folder copy cut short left behind.
void RemoveTree(const std::string& path) {
  std::vector<DirectoryEntry> entries;
  if (!ListDirectory(path, entries)) return;
  for (const DirectoryEntry& entry : entries) {
    const std::string inside = JoinPath(path, entry.name);
    if (entry.regularFile) {
      ::SetFileAttributesW(win32::FilePath(inside).c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(win32::FilePath(inside).c_str());
    } else {
      RemoveTree(inside);
    }
  }
  ::RemoveDirectoryW(win32::FilePath(path).c_str());
}

// Copies the folder tree `from` to the new folder `to`; false when any of
// it could not be copied.
bool CopyTree(const std::string& from, const std::string& to) {
  std::vector<DirectoryEntry> entries;
  if (!MakeDirectories(to) || !ListDirectory(from, entries)) return false;
  for (const DirectoryEntry& entry : entries) {
    const std::string source = JoinPath(from, entry.name), target = JoinPath(to, entry.name);
    if (!(entry.regularFile ? CopyFileDurably(source, target) == CreateResult::Created : CopyTree(source, target))) {
      return false;
    }
  }
  return true;
}

// Copies the file or folder tree `from` to `to` where `to` is not there yet,
// as Windows does before a program first writes a file of a protected
// folder: what is there already is the newer, virtualized copy and stays,
// and a folder there is taken whole (what was moved or removed in it stays
// so). A file or folder is copied whole or not at all, so a copy cut short
// is never taken for it (a database above all).
void CopyMissing(const std::string& from, const std::string& to) {
  if (FileExists(to) || !FileExists(from)) return;
  // A file in a subfolder (Data\church.db) needs that folder first.
  const size_t cut = to.find_last_of("\\/");
  if (cut != std::string::npos) MakeDirectories(to.substr(0, cut));
  if (!IsDirectory(from)) {
    if (CopyFileDurably(from, to) == CreateResult::Created) CopiedFiles().push_back(to);
    return;
  }
  const std::string part = to + "." + std::to_string(::GetCurrentProcessId()) + ".part";
  RemoveTree(part);
  if (!CopyTree(from, part) || MoveFileNoReplace(part, to) != MoveResult::Moved) RemoveTree(part);
}

bool IsProgramPart(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot);
  return _stricmp(ext.c_str(), ".exe") == 0 || _stricmp(ext.c_str(), ".dll") == 0;
}

// A program started by its short (8.3) name, as one in a folder beyond
// MAX_PATH is, knows itself by that name, perhaps in the "\\?\" form. The
// office reads the folder names it was installed under, and the protected
// folders are recognised by those names only.
std::wstring LongForm(const std::wstring& path) {
  const std::wstring plain = win32::WithoutLongPathPrefix(path);
  if (plain.size() >= MAX_PATH) return plain;
  const std::wstring longName = win32::ConvertedPath(::GetLongPathNameW, plain);
  return longName.empty() ? plain : win32::WithoutLongPathPrefix(longName);
}

}  // namespace

std::string RunningProgramPath() {
  // The module file of the process itself, whatever the command line said;
  // a path longer than the buffer comes back cut off, so the buffer grows
  // until it holds the whole path.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return win32::Utf8(LongForm(std::wstring(buffer.data(), n)));
    if (buffer.size() >= 32768) return std::string();  // no path is longer
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() { return '\\'; }

std::string VirtualStoreFolder() {
  static const std::string store = FindVirtualStore();
  return store;
}

std::string FileBesideRunningProgram(const std::string& name) {
  const std::string folder = ProgramFolder();
  const std::string store = VirtualStoreFolder();
  if (store.empty()) return folder.empty() ? NativeSeparators(name) : JoinPath(folder, name);
  if (!name.empty()) {
    CopyMissing(JoinPath(folder, name), JoinPath(store, name));
    return JoinPath(store, name);
  }
  std::vector<DirectoryEntry> entries;
  if (ListDirectory(folder, entries)) {
    for (const DirectoryEntry& entry : entries) {
      if (entry.regularFile && !IsProgramPart(entry.name)) CopyMissing(folder + entry.name, store + entry.name);
    }
  }
  return store;
}

bool CopiedIntoVirtualStore(const std::string& path) {
  for (const std::string& copied : CopiedFiles()) {
    if (SamePath(copied, NativeSeparators(path))) return true;
  }
  return false;
}

}  // namespace platform
