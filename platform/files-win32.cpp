#include "platform/files.h"
#include "platform/win32_support.h"

#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {
namespace {

using win32::FilePath;
using win32::SetError;

// Opens `path` as CreateFileW does, waiting for a file another program holds.
HANDLE OpenWaiting(const std::wstring& path, DWORD access, DWORD disposition, SECURITY_ATTRIBUTES* attributes) {
  HANDLE file = INVALID_HANDLE_VALUE;
  win32::RetryWhileHeld(
      [&] {
        file = ::CreateFileW(path.c_str(), access, win32::kShareAll, attributes, disposition, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        return file != INVALID_HANDLE_VALUE;
      },
      path.c_str());
  return file;
}

bool WriteWith(const std::string& path, std::string_view data, DWORD access, DWORD disposition, bool ownerOnly,
               std::string* error) {
  win32::CreationAttributes attributes(false, ownerOnly);
  win32::Handle file(OpenWaiting(FilePath(path), access, disposition, attributes.get()));
  if (!file.valid()) {
    SetError(error, "cannot open", path, ::GetLastError());
    return false;
  }
  bool ok = win32::WriteAll(file.get(), data);
  if (!ok) SetError(error, "cannot write", path, ::GetLastError());
  if (!file.Close() && ok) {
    SetError(error, "cannot write", path, ::GetLastError());
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteWholeFile(const std::string& path, std::string_view data, std::string* error, FileAccess access) {
  return WriteWith(path, data, GENERIC_WRITE, CREATE_ALWAYS, access == FileAccess::OwnerOnly, error);
}

bool AppendToFile(const std::string& path, std::string_view data, std::string* error) {
  // A handle with append access only makes every write land at the end of
  // the file atomically, so entries of two processes writing at the same
  // moment are interleaved whole, never lost.
  return WriteWith(path, data, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, false, error);
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string* error) {
  out.clear();
  win32::Handle file(OpenWaiting(FilePath(path), GENERIC_READ, OPEN_EXISTING, nullptr));
  if (!file.valid()) {
    SetError(error, "cannot open", path, ::GetLastError());
    return false;
  }
  char buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      SetError(error, "cannot read", path, ::GetLastError());
      out.clear();
      return false;
    }
    if (n == 0) break;
    out.append(buffer, n);
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::wstring name = FilePath(path);
  return win32::RetryWhileHeld([&] { return ::DeleteFileW(name.c_str()) != 0; }, name.c_str());
}

// Growing steps, some two seconds in all: a scanner's look at a file takes
// a moment, and a person waiting on the program should not wait long.
bool HeldFileWait::Next() {
  constexpr int kStepsMs[] = {15, 30, 60, 120, 240, 400};
  constexpr auto kInAll = std::chrono::milliseconds(2000);
  const auto left = kInAll - (std::chrono::steady_clock::now() - m_begun);
  if (left <= std::chrono::milliseconds(0)) return false;
  const auto step = std::chrono::milliseconds(kStepsMs[std::min<int>(m_step++, std::size(kStepsMs) - 1)]);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, left));
  return true;
}

bool IsHeldByAnotherProgram(const std::string& path) {
  // Reading, since an open that asks for no access passes any sharing.
  HANDLE file = ::CreateFileW(FilePath(path).c_str(), GENERIC_READ, win32::kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return false;
  }
  return win32::HeldByAnotherProgram(::GetLastError());
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void KeepNewFilesPrivate() { win32::g_newFilesPrivate = true; }

// Read access granted to anyone but the file's owner, this account, the
// system and the administrators; no access list at all lets everyone in.
bool OthersMayRead(const std::string& path) {
  PACL acl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(FilePath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const std::vector<unsigned char> own[] = {win32::CurrentUserSid(), win32::WellKnownSid(WinLocalSystemSid),
                                            win32::WellKnownSid(WinBuiltinAdministratorsSid)};
  const auto trusted = [&](PSID sid) {
    if (owner && ::EqualSid(sid, owner)) return true;
    for (const auto& s : own) {
      if (!s.empty() && ::EqualSid(sid, const_cast<unsigned char*>(s.data()))) return true;
    }
    return false;
  };
  bool others = acl == nullptr;
  for (DWORD i = 0; acl && i < acl->AceCount && !others; ++i) {
    void* ace = nullptr;
    if (!::GetAce(acl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const bool reads = (allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0;
    if (reads && !trusted(const_cast<DWORD*>(&allowed->SidStart))) others = true;
  }
  ::LocalFree(descriptor);
  return others;
}

bool MakeOwnerOnly(const std::string& path) {
  const std::wstring name = FilePath(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  win32::PrivateAttributes owned((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  if (!owned.acl()) return false;
  // Protected: the permissions the folder above passes down no longer apply.
  return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 owned.acl(), nullptr) == ERROR_SUCCESS;
}

}  // namespace platform
