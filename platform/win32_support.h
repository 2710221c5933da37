// What the Windows sources of platform/ share; not for use outside platform/.
//
// Inside the program all text is UTF-8; the system's wide-character calls get
// UTF-16 made here, and their answers are turned back here.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/files.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace platform::win32 {

// UTF-8 to UTF-16 for the system's calls. Bytes that are not UTF-8 become
// U+FFFD, so a damaged name fails to be found rather than naming another file.
inline std::wstring Wide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

// The system's own text for an error code, as UTF-8 without the line end the
// system puts after it.
inline std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text ? text : L"", length);
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(code);
  return Utf8(message);
}

// True for the codes of a file another program has open without sharing it
// (a virus scanner, an indexer, a backup or sync tool): that passes within
// moments, so the call is worth trying again.
inline bool HeldByAnotherProgram(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Sets `*error` (when given) to "<what> '<path>': <the system's reason>",
// the reason being `code`; a held file is said to be in use by another
// program, so the office does not look for a damaged or missing file. Read
// the code with GetLastError right after the failed call.
inline void SetError(std::string* error, const std::string& what, const std::string& path, DWORD code) {
  if (!error) return;
  *error = what + " '" + path + "': ";
  *error += HeldByAnotherProgram(code) ? "it is in use by another program (" + SystemMessage(code) + ")"
                                       : SystemMessage(code);
}

// Makes `call` (true: done; false: failed, GetLastError tells why) until it
// succeeds or fails for a reason other than a held file, waiting the
// growing steps of HeldFileWait between tries (about two seconds in all).
// Access denied counts as held for a file that exists (`path` given): a
// scanner that opened it for deletion, or a deletion still pending, refuses
// it for a moment. The last code stays for GetLastError.
template <class Call>
bool RetryWhileHeld(Call call, const wchar_t* path = nullptr) {
  HeldFileWait wait;
  for (;;) {
    if (call()) return true;
    const DWORD code = ::GetLastError();
    const bool held = HeldByAnotherProgram(code) ||
                      (code == ERROR_ACCESS_DENIED && path && ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES);
    if (!held || !wait.Next()) {
      ::SetLastError(code);
      return false;
    }
  }
}

// A path for the file calls, in UTF-16. Beyond the length the older calls
// take (MAX_PATH, less room for a file name a call may add) an absolute
// path gets the "\\?\" form, which lifts that limit also where the
// system's long-path switch is off. That form is taken as it is, so the
// path is made full first (slashes turned into backslashes, "." and ".."
// resolved); a share becomes "\\?\UNC\server\share".
inline std::wstring FilePath(std::string_view path) {
  std::wstring wide = Wide(path);
  constexpr size_t kShortEnough = MAX_PATH - 12;
  if (wide.size() < kShortEnough || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':') return L"\\\\?\\" + full;
  return wide;
}

// What a call that turns one path into another (GetShortPathNameW,
// GetLongPathNameW) answers for `path`, given room for the longest path;
// empty when it fails.
inline std::wstring ConvertedPath(DWORD(WINAPI* convert)(LPCWSTR, LPWSTR, DWORD), const std::wstring& path) {
  std::wstring converted(32768, L'\0');
  const DWORD n = convert(path.c_str(), converted.data(), static_cast<DWORD>(converted.size()));
  if (n == 0 || n >= converted.size()) return std::wstring();
  converted.resize(n);
  return converted;
}

// The path a person reads for one in the "\\?\" form: "\\?\C:\x" is
// "C:\x", "\\?\UNC\server\share" is "\\server\share".
inline std::wstring WithoutLongPathPrefix(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
  return path;
}

// Writes all of `data`, in pieces a single call can take. False at the first
// failing write (GetLastError tells why) or when a write takes nothing.
inline bool WriteAll(HANDLE file, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const DWORD piece = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file, p, piece, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    p += written;
    left -= written;
  }
  return true;
}

// A handle closed when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : m_handle(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return m_handle; }
  bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle) {
    Close();
    m_handle = handle;
  }
  // Hands the handle over to the caller, who closes it.
  HANDLE Release() {
    HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return handle;
  }
  // False when closing failed (GetLastError tells why).
  bool Close() {
    bool ok = true;
    if (valid()) ok = ::CloseHandle(m_handle) != 0;
    m_handle = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Others may read, write and rename a file this process has open, as POSIX
// systems allow, so that a reader never makes a writer fail.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Set by KeepNewFilesPrivate: every file and folder made from then on gets
// the owner-only access below.
inline std::atomic<bool> g_newFilesPrivate{false};

// The security identifier of the user this process runs as, from its token;
// empty when the system cannot tell.
inline std::vector<unsigned char> CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  Handle owned(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const DWORD length = ::GetLengthSid(sid);
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + length);
}

inline std::vector<unsigned char> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

// The access list of a private file or folder: full control for the current
// user, SYSTEM and the Administrators, nobody else, and (for a folder) the
// same for everything made inside it. Windows' counterpart of modes 0600 and
// 0700: SYSTEM and the Administrators can take any file anyway, and backup
// and virus scanning run as them. Empty when the user cannot be told.
inline std::vector<unsigned char> OwnerOnlyAcl(bool folder) {
  const std::vector<unsigned char> sids[] = {CurrentUserSid(), WellKnownSid(WinLocalSystemSid),
                                             WellKnownSid(WinBuiltinAdministratorsSid)};
  DWORD size = sizeof(ACL);
  for (const auto& sid : sids) {
    if (sid.empty()) return {};
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid.size());
  }
  std::vector<unsigned char> acl(size);
  auto* list = reinterpret_cast<ACL*>(acl.data());
  if (!::InitializeAcl(list, size, ACL_REVISION)) return {};
  const DWORD inherit = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
  for (const auto& sid : sids) {
    if (!::AddAccessAllowedAceEx(list, ACL_REVISION, inherit, FILE_ALL_ACCESS,
                                 const_cast<unsigned char*>(sid.data()))) {
      return {};
    }
  }
  return acl;
}

// Security attributes that give what is created the owner-only access list,
// protected from the permissions the folder above passes down.
class PrivateAttributes {
 public:
  explicit PrivateAttributes(bool folder) : m_acl(OwnerOnlyAcl(folder)) {
    if (m_acl.empty() || !::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&m_descriptor, TRUE, reinterpret_cast<ACL*>(m_acl.data()), FALSE) ||
        !::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      m_acl.clear();
      return;
    }
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
  }
  PrivateAttributes(const PrivateAttributes&) = delete;
  PrivateAttributes& operator=(const PrivateAttributes&) = delete;

  // Null when the list could not be made (the file then gets the folder's
  // permissions, as before KeepNewFilesPrivate).
  SECURITY_ATTRIBUTES* get() { return m_acl.empty() ? nullptr : &m_attributes; }
  ACL* acl() { return m_acl.empty() ? nullptr : reinterpret_cast<ACL*>(m_acl.data()); }

 private:
  std::vector<unsigned char> m_acl;
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{};
};

// What a process-wide private setting or an explicit `ownerOnly` asks of a
// file or folder being created: owner-only attributes, or the folder's
// permissions (null).
class CreationAttributes {
 public:
  CreationAttributes(bool folder, bool ownerOnly) {
    // Made only when asked for: it reads the process token.
    if (ownerOnly || g_newFilesPrivate.load()) m_private = std::make_unique<PrivateAttributes>(folder);
  }
  SECURITY_ATTRIBUTES* get() { return m_private ? m_private->get() : nullptr; }

 private:
  std::unique_ptr<PrivateAttributes> m_private;
};

// One argument as the C runtime and CommandLineToArgvW read it back: a
// plain word (letters, digits, '-', '_', '.') stays bare, so an operation
// number or a flag reads as the mail-access program's callers have always
// written it; anything else, a path or a subject, goes in quotes, with a
// quote inside escaped by a backslash and the backslashes before a quote
// (or before the closing one) doubled, since only there do they mean
// anything.
inline void AppendQuotedArgument(std::wstring& line, const std::wstring& argument) {
  const bool plainWord = !argument.empty() && std::all_of(argument.begin(), argument.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'-' ||
           c == L'_' || c == L'.';
  });
  if (plainWord) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
    else line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The command line of a child: the program, then each argument, separated by
// single blanks. The program name is read back by other rules (up to the
// next quote, backslashes as they are), and a file name cannot hold a quote,
// so it is only put in quotes when it holds a blank.
inline std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args) {
  const std::wstring name = Wide(program);
  std::wstring line;
  if (name.empty() || name.find_first_of(L" \t") != std::wstring::npos) line = L"\"" + name + L"\"";
  else line = name;
  for (const auto& argument : args) {
    line += L' ';
    AppendQuotedArgument(line, Wide(argument));
  }
  return line;
}

// The exit code BackgroundProcess::Kill ends a child with; it tells a
// killed child from one that ended by itself.
inline constexpr DWORD kKilledExitCode = 0xC0DE0009;

// The POSIX signal of the same fault for the exception codes a crashed
// program ends with, 9 for a killed child, 0 for every other code (an exit
// status). A program's own exit(3) is indistinguishable from the C runtime's
// abort(), so 3 stays an exit status.
inline int SignalOfExitCode(DWORD code) {
  switch (code) {
    case 0xC0000005:  // access violation
    case 0xC00000FD:  // stack overflow
    case 0xC0000006:  // in-page error: the memory's file went away
      return 11;
    case 0xC000001D:  // illegal instruction
    case 0xC0000096:  // privileged instruction
      return 4;
    case 0xC0000094:  // integer division by zero
    case 0xC0000095:  // integer overflow
    case 0xC000008E:  // floating-point division by zero
    case 0xC0000090:  // invalid floating-point operation
      return 8;
    case 0xC0000409:  // fail-fast: a detected buffer overrun, std::terminate, abort in newer runtimes
      return 6;
    case kKilledExitCode:
      return 9;
    default:
      return 0;
  }
}

}  // namespace platform::win32
