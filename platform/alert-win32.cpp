#include "platform/alert.h"
#include "platform/win32_support.h"

#include <cstdio>

namespace platform {
namespace {

// user32 is loaded only when an alert is due, so a program that never shows
// one never loads the window system (nor needs it, as in a service).
HMODULE UserInterface() {
  static HMODULE module = ::LoadLibraryW(L"user32.dll");
  return module;
}

template <typename Function>
Function Find(const char* name) {
  HMODULE module = UserInterface();
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

bool ShowBox(const std::string& caption, const std::string& message) {
  using MessageBoxFunction = int(WINAPI*)(HWND, const wchar_t*, const wchar_t*, UINT);
  const auto box = Find<MessageBoxFunction>("MessageBoxW");
  if (!box) return false;
  // The button pressed (1 or more) once a person closed it; 0 (or, from
  // Wine without a display, -1) when no box could be made.
  return box(nullptr, win32::Wide(message).c_str(), win32::Wide(caption).c_str(),
             MB_OK | MB_ICONERROR | MB_SETFOREGROUND) > 0;
}

}  // namespace

// Only a visible window station outside session 0 (where services run, with
// a desktop nobody looks at) is seen.
bool OnVisibleDesktop() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session) || session == 0) return false;
  using GetStation = HWINSTA(WINAPI*)();
  using GetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD, DWORD*);
  const auto getStation = Find<GetStation>("GetProcessWindowStation");
  const auto getInformation = Find<GetInformation>("GetUserObjectInformationW");
  if (!getStation || !getInformation) return false;
  HWINSTA station = getStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!station || !getInformation(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowErrorAlert(const std::string& caption, const std::string& message) {
  DeliverAlert(OnVisibleDesktop(), [&] { return ShowBox(caption, message); }, [&] {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), message.c_str());
    std::fflush(stderr);
  });
}

}  // namespace platform
