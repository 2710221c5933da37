#include "platform/durable_file.h"
#include "platform/directory.h"
#include "platform/files.h"
#include "platform/win32_support.h"

#include <aclapi.h>

namespace platform {
namespace {

using win32::FilePath;
using win32::SetError;

// Creates `path` (`disposition`), writes `data` and flushes it to the disk.
// 0 when done, otherwise the code of the failing step; the file is removed
// again after a failure. With `dacl`, the new file gets that access list
// (and `protect`: none passed down from the folder) before anything is
// written.
DWORD WriteFlushed(const std::string& path, std::string_view data, DWORD disposition, bool ownerOnly,
                   std::string* error, ACL* dacl = nullptr, bool protect = false) {
  const std::wstring name = FilePath(path);
  win32::CreationAttributes attributes(false, ownerOnly);
  win32::Handle file;
  win32::RetryWhileHeld(
      [&] {
        file.Reset(::CreateFileW(name.c_str(), GENERIC_WRITE | (dacl ? WRITE_DAC : 0), 0, attributes.get(),
                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid();
      },
      name.c_str());
  if (!file.valid()) {
    const DWORD code = ::GetLastError();
    SetError(error, "cannot create", path, code);
    return code;
  }
  DWORD failure = ERROR_SUCCESS;
  if (dacl) {
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION |
        (protect ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    failure = ::SetSecurityInfo(file.get(), SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
    if (failure != ERROR_SUCCESS) SetError(error, "cannot set the access of", path, failure);
  }
  if (failure == ERROR_SUCCESS && (!win32::WriteAll(file.get(), data) || !::FlushFileBuffers(file.get()))) {
    failure = ::GetLastError();
    SetError(error, "cannot write", path, failure);
  }
  if (!file.Close() && failure == ERROR_SUCCESS) {
    failure = ::GetLastError();
    SetError(error, "cannot write", path, failure);
  }
  if (failure != ERROR_SUCCESS) ::DeleteFileW(name.c_str());
  return failure;
}

// Moves `from` over `to` in one step, flushed through to the disk. A reader
// that has `to` open without allowing deletion (a virus scanner, an indexer)
// makes the move fail for a moment, so it is tried again while that lasts.
bool MoveOver(const std::string& from, const std::string& to, std::string* error) {
  const std::wstring source = FilePath(from), target = FilePath(to);
  if (win32::RetryWhileHeld(
          [&] { return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); },
          target.c_str())) {
    return true;
  }
  // Replacing a file another program has open is refused as access denied.
  DWORD code = ::GetLastError();
  if (code == ERROR_ACCESS_DENIED && IsHeldByAnotherProgram(to)) code = ERROR_SHARING_VIOLATION;
  SetError(error, "cannot rename into place", to, code);
  return false;
}

bool ReplaceWith(const std::string& path, std::string_view data, std::string* error, bool ownerOnly,
                 ACL* dacl = nullptr, bool protect = false) {
  const std::string part = PartialFileName(path);
  // An existing file keeps its access list when opened; a private one must
  // be created afresh.
  if (ownerOnly) ::DeleteFileW(FilePath(part).c_str());
  if (WriteFlushed(part, data, ownerOnly ? CREATE_NEW : CREATE_ALWAYS, ownerOnly, error, dacl, protect) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (!MoveOver(part, path, error)) {
    ::DeleteFileW(FilePath(part).c_str());
    return false;
  }
  return true;
}

}  // namespace

CreateResult CreateNewFileDurably(const std::string& path, std::string_view data, std::string* error) {
  // Private, as the other systems make it (0600).
  switch (WriteFlushed(path, data, CREATE_NEW, true, error)) {
    case ERROR_SUCCESS:
      return CreateResult::Created;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return CreateResult::Exists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return CreateResult::Busy;
    default:
      return CreateResult::Failed;
  }
}

std::string PartialFileName(const std::string& path) { return path + ".part"; }

CreateResult CopyFileDurably(const std::string& from, const std::string& to, std::string* error) {
  if (FileExists(to)) return CreateResult::Exists;
  // The process's own name: two copies at the same moment never write into
  // one file.
  const std::string part = to + "." + std::to_string(::GetCurrentProcessId()) + ".part";
  const std::wstring source = FilePath(from), copy = FilePath(part);
  const auto fail = [&](const std::string& what, const std::string& path, DWORD code) {
    SetError(error, what, path, code);
    ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(copy.c_str());
    return win32::HeldByAnotherProgram(code) ? CreateResult::Busy : CreateResult::Failed;
  };
  // A part left by a copy cut short in an earlier process of the same id.
  ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(copy.c_str());
  if (!win32::RetryWhileHeld([&] { return ::CopyFileW(source.c_str(), copy.c_str(), TRUE) != 0; }, source.c_str())) {
    return fail("cannot copy '" + from + "' to", part, ::GetLastError());
  }
  // The system's copy keeps the original's read-only mark, which would
  // refuse every write to the copy.
  const DWORD attributes = ::GetFileAttributesW(copy.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !::SetFileAttributesW(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return fail("cannot make writable", part, ::GetLastError());
  }
  win32::Handle file(
      ::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || !::FlushFileBuffers(file.get()) || !file.Close()) {
    return fail("cannot write", part, ::GetLastError());
  }
  switch (MoveFileNoReplace(part, to, error)) {
    case MoveResult::Moved:
      return CreateResult::Created;
    case MoveResult::TargetExists:
      ::DeleteFileW(copy.c_str());
      return CreateResult::Exists;
    default:
      ::DeleteFileW(copy.c_str());
      return CreateResult::Failed;
  }
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, std::string* error, bool ownerOnly) {
  return ReplaceWith(path, data, error, ownerOnly);
}

bool ReplaceFileKeepingAccess(const std::string& path, std::string_view data, std::string* error) {
  // The replaced file's access list goes onto the new content before it
  // takes the name; the owner stays the process's own, since giving a file
  // away takes a privilege ordinary accounts lack.
  ACL* dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD code = ::GetNamedSecurityInfoW(FilePath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, &dacl, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) {
    SetError(error, "cannot read the access of", path, code);
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  // A file without any list (open to everyone) leaves the new content with
  // what its folder passes down.
  const bool ok = ReplaceWith(path, data, error, false, dacl, (control & SE_DACL_PROTECTED) != 0);
  ::LocalFree(descriptor);
  return ok;
}

void FileReplacement::Discard() {
  if (!m_open) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(m_file));
  ::DeleteFileW(FilePath(PartialFileName(m_path)).c_str());
  m_open = false;
}

bool FileReplacement::Open(std::string* error) {
  Discard();
  const std::string part = PartialFileName(m_path);
  const std::wstring name = FilePath(part);
  win32::CreationAttributes attributes(false, false);
  HANDLE file = INVALID_HANDLE_VALUE;
  win32::RetryWhileHeld(
      [&] {
        file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, attributes.get(), CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        return file != INVALID_HANDLE_VALUE;
      },
      name.c_str());
  if (file == INVALID_HANDLE_VALUE) {
    SetError(error, "cannot create", part, ::GetLastError());
    return false;
  }
  m_file = reinterpret_cast<std::intptr_t>(file);
  m_open = true;
  return true;
}

bool FileReplacement::Append(std::string_view data, std::string* error) {
  if (!m_open) return NotOpen(error);
  if (win32::WriteAll(reinterpret_cast<HANDLE>(m_file), data)) return true;
  SetError(error, "cannot write", PartialFileName(m_path), ::GetLastError());
  Discard();
  return false;
}

bool FileReplacement::Commit(std::string* error) {
  if (!m_open) return NotOpen(error);
  const std::string part = PartialFileName(m_path);
  HANDLE file = reinterpret_cast<HANDLE>(m_file);
  m_open = false;
  const bool flushed = ::FlushFileBuffers(file) != 0;
  const DWORD code = flushed ? ERROR_SUCCESS : ::GetLastError();
  const bool closed = ::CloseHandle(file) != 0;
  if (!flushed || !closed) {
    SetError(error, "cannot write", part, flushed ? ::GetLastError() : code);
    ::DeleteFileW(FilePath(part).c_str());
    return false;
  }
  if (!MoveOver(part, m_path, error)) {
    ::DeleteFileW(FilePath(part).c_str());
    return false;
  }
  return true;
}

}  // namespace platform
