#include "platform/program_path.h"
#include "platform/directory.h"
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

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  const std::wstring a = win32::Wide(path.substr(0, folder.size())), b = win32::Wide(folder);
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
             CSTR_EQUAL &&
         (folder.back() == '\\' || path[folder.size()] == '\\');
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

// Copies the file or folder tree `from` to `to` where `to` is not there yet;
// what is there already is the newer, virtualized copy and stays.
void CopyMissing(const std::string& from, const std::string& to) {
  if (!IsDirectory(from)) {
    if (!FileExists(to) && FileExists(from)) {
      ::CopyFileW(win32::FilePath(from).c_str(), win32::FilePath(to).c_str(), TRUE);
    }
    return;
  }
  MakeDirectories(to);
  std::vector<DirectoryEntry> entries;
  if (!ListDirectory(from, entries)) return;
  for (const DirectoryEntry& entry : entries) CopyMissing(JoinPath(from, entry.name), JoinPath(to, entry.name));
}

bool IsProgramPart(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot);
  return _stricmp(ext.c_str(), ".exe") == 0 || _stricmp(ext.c_str(), ".dll") == 0;
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
    if (n < buffer.size()) return win32::Utf8(std::wstring_view(buffer.data(), n));
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

}  // namespace platform
