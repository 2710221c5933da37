// The Outlook double registered in Outlook's place for one test: for the
// user, and for the machine where the classes root shows only the machine's
// classes (Wine). A real Outlook registered either way is never replaced:
// Register then says why the test is to be skipped. Unregistered when the
// object goes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "outlook_double.h"

namespace outlook_double {

class Registration {
 public:
  Registration() = default;
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { Unregister(); }

  // True when registered; false with `skip` set when a real Outlook is, or
  // with `skip` empty when the registry refused.
  bool Register(std::string& skip) {
    skip.clear();
    if (DefaultValue(kUserClasses, kProgIdKey() + L"\\CLSID")) {
      skip = "Outlook is registered for this user";
      return false;
    }
    if (!Register(kUserClasses, DllPath())) return false;
    m_registered.push_back(kUserClasses);
    const auto seen = DefaultValue(kClassesRoot, kProgIdKey() + L"\\CLSID");
    if (seen != std::wstring(kOutlookDoubleClassId)) {
      if (seen) {
        skip = "Outlook is registered for the machine, and the user's classes do not show";
        return false;
      }
      if (!Register(kClassesRoot, DllPath())) return false;
      m_registered.push_back(kClassesRoot);
    }
    return true;
  }

  void Unregister() {
    for (const ClassesRoot& classes : m_registered) {
      RegDeleteTreeW(classes.root, (classes.prefix + kProgIdKey()).c_str());
      RegDeleteTreeW(classes.root, (classes.prefix + kClassKey()).c_str());
    }
    m_registered.clear();
  }

 private:
  // The classes registered for the user (Windows shows them in
  // HKEY_CLASSES_ROOT over the machine's) and the classes root itself.
  struct ClassesRoot {
    HKEY root;
    std::wstring prefix;
  };
  static inline const ClassesRoot kUserClasses = {HKEY_CURRENT_USER, L"Software\\Classes\\"};
  static inline const ClassesRoot kClassesRoot = {HKEY_CLASSES_ROOT, L""};
  static std::wstring kProgIdKey() { return L"Outlook.Application"; }
  static std::wstring kClassKey() { return std::wstring(L"CLSID\\") + kOutlookDoubleClassId; }

  static bool SetValue(const ClassesRoot& classes, const std::wstring& key, const std::wstring& value,
                       const wchar_t* name = nullptr) {
    HKEY handle = nullptr;
    const std::wstring path = classes.prefix + key;
    if (RegCreateKeyExW(classes.root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != 0) {
      return false;
    }
    const auto size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const bool ok = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), size) == 0;
    RegCloseKey(handle);
    return ok;
  }

  // The key's default value; nothing when there is no such key.
  static std::optional<std::wstring> DefaultValue(const ClassesRoot& classes, const std::wstring& key) {
    wchar_t value[512];
    DWORD size = sizeof value;
    const std::wstring path = classes.prefix + key;
    if (RegGetValueW(classes.root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != 0) {
      return std::nullopt;
    }
    return std::wstring(value);
  }

  static bool Register(const ClassesRoot& classes, const std::wstring& dll) {
    return SetValue(classes, kProgIdKey() + L"\\CLSID", kOutlookDoubleClassId) &&
           SetValue(classes, kClassKey() + L"\\InprocServer32", dll) &&
           SetValue(classes, kClassKey() + L"\\InprocServer32", L"Apartment", L"ThreadingModel");
  }

  // The double beside the test program.
  static std::wstring DllPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"outlook_double.dll";
  }

  std::vector<ClassesRoot> m_registered;
};

}  // namespace outlook_double
