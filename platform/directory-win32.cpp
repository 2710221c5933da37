#include "platform/directory.h"
#include "platform/files.h"
#include "platform/win32_support.h"

namespace platform {
namespace {

using win32::FilePath;
using win32::SetError;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// FILETIME counts 100 ns steps since 1601 (UTC).
std::int64_t NanosecondsSince1970(const FILETIME& time) {
  constexpr std::int64_t kStepsFrom1601To1970 = 116444736000000000;
  const std::int64_t steps = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (steps - kStepsFrom1601To1970) * 100;
}

}  // namespace

bool MakeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "empty folder name";
    return false;
  }
  // A drive root ("C:\", "Z:/", "C:") and a share ("\\server\share") are
  // directories already when they exist, so the walk up ends there.
  if (IsDirectory(path)) return true;
  size_t cut = path.find_last_not_of("\\/");
  if (cut != std::string::npos) cut = path.find_last_of("\\/", cut);
  if (cut != std::string::npos && cut > 0 && !IsSeparator(path[cut - 1])) {
    if (!MakeDirectories(path.substr(0, cut), error)) return false;
  }
  win32::CreationAttributes attributes(true, false);
  // Another process may create the same folder at the same moment; that is
  // success too.
  if (!::CreateDirectoryW(FilePath(path).c_str(), attributes.get())) {
    const DWORD code = ::GetLastError();
    if (!(code == ERROR_ALREADY_EXISTS && IsDirectory(path))) {
      SetError(error, "cannot create folder", path, code);
      return false;
    }
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(FilePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsWritableDirectory(const std::string& path) {
  if (!IsDirectory(path)) return false;
  // The access lists decide, and only the system can weigh them (the
  // read-only attribute of a folder means nothing here): a probe file is
  // created and, having been opened for deletion, removed as it is closed.
  std::string probe = path;
  if (!IsSeparator(probe.back())) probe += '\\';
  probe += ".write-probe-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64());
  HANDLE file = ::CreateFileW(FilePath(probe).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out, std::string* error) {
  out.clear();
  std::string pattern = path;
  if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(FilePath(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // An empty drive root has not even "." and "..".
    if (code == ERROR_FILE_NOT_FOUND && IsDirectory(path)) return true;
    SetError(error, "cannot read folder", path, code);
    return false;
  }
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    DirectoryEntry item;
    item.name = win32::Utf8(name);
    item.regularFile = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    item.modifiedNs = NanosecondsSince1970(found.ftLastWriteTime);
    item.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
    out.push_back(std::move(item));
  } while (::FindNextFileW(search, &found));
  const DWORD code = ::GetLastError();
  ::FindClose(search);
  if (code != ERROR_NO_MORE_FILES) {
    SetError(error, "cannot read folder", path, code);
    return false;
  }
  return true;
}

MoveResult MoveFileNoReplace(const std::string& from, const std::string& to, std::string* error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists,
  // and without MOVEFILE_COPY_ALLOWED it never turns into a copy.
  // A message a scanner is looking at cannot be moved for a moment.
  const std::wstring source = FilePath(from), target = FilePath(to);
  if (win32::RetryWhileHeld([&] { return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0; },
                            source.c_str())) {
    return MoveResult::Moved;
  }
  const DWORD code = ::GetLastError();
  SetError(error, "cannot move to '" + to + "'", from, code);
  switch (code) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return MoveResult::TargetExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      // The target's folder may be the one missing.
      return FileExists(from) ? MoveResult::Failed : MoveResult::SourceMissing;
    case ERROR_NOT_SAME_DEVICE:
      return MoveResult::CrossDevice;
    default:
      return MoveResult::Failed;
  }
}

}  // namespace platform
