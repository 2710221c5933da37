// Holds a file open without sharing it, as an on-access virus scanner, an
// indexer or a backup tool does for a moment, so the checks of
// tests/windows/ can show what LvMAPI and the mail-access program make of it.
//
//   hold_file FILE SECONDS          holds FILE for SECONDS
//   hold_file --next FOLDER SECONDS waits (up to a minute) for a new file
//                                   named "*.tmp" in FOLDER and holds that
//
// It writes "held <path>" on standard output once it holds the file (with
// --next "watching <folder>" first, once it watches), and
// exits with 0 after letting it go; 1 when it could not open the file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>

namespace {

HANDLE OpenUnshared(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::set<std::wstring> TmpFiles(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((folder + L"\\*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName);
  while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

// A scanner looks at a new file the moment it is complete: the folder is
// polled every millisecond, and the first new name is opened at once.
HANDLE HoldNext(const std::wstring folder, std::wstring& path) {
  const std::set<std::wstring> before = TmpFiles(folder);
  std::wprintf(L"watching %ls\n", folder.c_str());
  std::fflush(stdout);
  for (int i = 0; i < 60000; ++i) {
    for (const std::wstring& name : TmpFiles(folder)) {
      if (before.count(name)) continue;
      path = folder + L"\\" + name;
      HANDLE file = OpenUnshared(path);
      if (file != INVALID_HANDLE_VALUE) return file;
    }
    ::Sleep(1);
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool next = argc == 4 && std::wcscmp(argv[1], L"--next") == 0;
  if (argc != 3 && !next) {
    std::fprintf(stderr, "usage: hold_file FILE SECONDS | hold_file --next FOLDER SECONDS\n");
    return 2;
  }
  std::wstring path = argv[next ? 2 : 1];
  const double seconds = _wtof(argv[next ? 3 : 2]);
  HANDLE file = next ? HoldNext(path, path) : OpenUnshared(path);
  if (file == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"hold_file: cannot open %ls (error %lu)\n", path.c_str(), ::GetLastError());
    return 1;
  }
  std::wprintf(L"held %ls\n", path.c_str());
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(seconds * 1000));
  ::CloseHandle(file);
  return 0;
}
