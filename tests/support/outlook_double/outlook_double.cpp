// The Outlook double: an in-process automation server that answers, by
// Outlook's published dispatch identifiers (and names), the members of its
// object model that LvMAPI calls, keeps its Tasks folder in the state file
// the test prepares, and records every call there (see outlook_double.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "outlook_double.h"

namespace {

using nlohmann::json;

std::atomic<long> g_liveObjects{0};

std::string Utf8(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

BSTR NewBstr(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, n);
  return out;
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

// The state file, read when the application object is made and written
// after every event, so the test reads what happened even while objects
// are still alive.
class State {
 public:
  void Load() {
    const std::wstring variable(kOutlookDoubleStateVariable,
                                kOutlookDoubleStateVariable + std::strlen(kOutlookDoubleStateVariable));
    static wchar_t path[32768];
    const DWORD n = GetEnvironmentVariableW(variable.c_str(), path, 32768);
    m_path = std::filesystem::path(std::wstring(path, n < 32768 ? n : 0));
    std::ifstream in(m_path);
    m_state = in ? json::parse(in, nullptr, false) : json::object();
    if (!m_state.is_object()) m_state = json::object();
    for (const char* list : {"tasks", "calls", "objects"}) {
      if (!m_state.contains(list)) m_state[list] = json::array();
    }
  }
  void Save() const {
    if (m_path.empty()) return;
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out << m_state.dump(1, ' ', false, json::error_handler_t::replace);
  }

  json& tasks() { return m_state["tasks"]; }
  json& objects() { return m_state["objects"]; }

  // Records the call and tells whether the test asked for it to fail.
  bool Record(json call) {
    m_state["calls"].push_back(call);
    Save();
    if (!m_state.contains("fail")) return false;
    const json& fail = m_state["fail"];
    for (const char* field : {"object", "kind", "member"}) {
      if (fail.contains(field) && fail[field] != call[field]) return false;
    }
    m_state.erase("fail");  // once
    Save();
    return true;
  }

 private:
  std::filesystem::path m_path;
  json m_state = json::object();
};

State g_state;

// The argument as recorded: the types LvMAPI passes by name with their
// values, any other by number.
json Argument(const VARIANT& value) {
  json argument = {{"type", "VT " + std::to_string(value.vt)}, {"value", nullptr}};
  if (value.vt == VT_I4) argument = {{"type", "VT_I4"}, {"value", value.lVal}};
  if (value.vt == VT_ERROR) argument = {{"type", "VT_ERROR"}, {"value", Hex(static_cast<unsigned long>(value.scode))}};
  if (value.vt == VT_BSTR) {
    argument = {{"type", "VT_BSTR"}, {"value", Utf8(value.bstrVal, SysStringLen(value.bstrVal))}};
  }
  return argument;
}

std::string Kind(WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return "put";
  if (flags == DISPATCH_PROPERTYGET) return "get";
  if (flags == DISPATCH_METHOD) return "method";
  return "method|get";
}

// What a member answers: a result or a failure.
struct Answer {
  HRESULT code = S_OK;
  std::string reason;  // for DISP_E_EXCEPTION
};

Answer Refused(const std::string& reason) { return {DISP_E_EXCEPTION, reason}; }

// An object of the double's Outlook. Counts its references in the state.
using MemberList = std::vector<std::pair<const wchar_t*, DISPID>>;

class DoubleObject : public IDispatch {
 public:
  // `members`: the names GetIDsOfNames knows.
  DoubleObject(std::string name, MemberList members) : m_name(std::move(name)), m_members(std::move(members)) {
    m_index = g_state.objects().size();
    g_state.objects().push_back({{"name", m_name}, {"addRefs", 1}, {"releases", 0}});
    g_state.Save();
    ++g_liveObjects;
  }
  virtual ~DoubleObject() { --g_liveObjects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    g_state.objects()[m_index]["addRefs"] = g_state.objects()[m_index]["addRefs"].get<int>() + 1;
    g_state.Save();
    return ++m_references;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    g_state.objects()[m_index]["releases"] = g_state.objects()[m_index]["releases"].get<int>() + 1;
    const ULONG left = --m_references;
    if (left == 0) {
      g_state.Record({{"object", m_name}, {"kind", "released"}});
      delete this;
    } else {
      g_state.Save();
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      std::wstring wanted = names[i];
      const std::string name = Utf8(wanted.data(), wanted.size());
      ids[i] = DISPID_UNKNOWN;
      // Automation names are not case-sensitive.
      for (const auto& [member, id] : m_members) {
        if (_wcsicmp(member, wanted.c_str()) == 0) ids[i] = id;
      }
      if (g_state.Record({{"object", m_name}, {"kind", "names"}, {"member", name}})) return E_FAIL;
      if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
    }
    return result;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    try {
      std::vector<const VARIANT*> arguments;
      json recorded = json::array();
      const UINT count = parameters ? parameters->cArgs : 0;
      for (UINT i = count; i-- > 0;) {  // the caller's order: the last one first in the array
        arguments.push_back(&parameters->rgvarg[i]);
        recorded.push_back(Argument(parameters->rgvarg[i]));
      }
      const std::string kind = Kind(flags);
      if (g_state.Record({{"object", m_name}, {"kind", kind}, {"member", member}, {"args", recorded}})) {
        return Fail(exception, "the double was told to fail this call");
      }
      if (kind == "put" && (parameters->cNamedArgs != 1 || parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
        return DISP_E_PARAMNOTOPTIONAL;
      }
      VARIANT ignored;
      VariantInit(&ignored);
      const Answer answer = Call(member, kind, arguments, result ? *result : ignored);
      VariantClear(&ignored);
      if (answer.code == DISP_E_EXCEPTION) return Fail(exception, answer.reason);
      return answer.code;
    } catch (const std::exception& e) {
      return Fail(exception, e.what());
    }
  }

 protected:
  // Answers a call whose arguments are in the caller's order.
  virtual Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
                      VARIANT& result) = 0;

  static void Hand(VARIANT& result, IDispatch* object) {
    result.vt = VT_DISPATCH;
    result.pdispVal = object;
  }

 private:
  static HRESULT Fail(EXCEPINFO* exception, const std::string& reason) {
    if (exception) {
      *exception = EXCEPINFO{};
      exception->bstrSource = NewBstr("Outlook double");
      exception->bstrDescription = NewBstr(reason);
      exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
  }

  std::string m_name;
  MemberList m_members;
  size_t m_index = 0;
  ULONG m_references = 1;
};

bool Is(const std::string& kind, const std::string& wanted, const std::vector<const VARIANT*>& arguments,
        size_t count) {
  return kind == wanted && arguments.size() == count;
}

constexpr DISPID kBody = 0x9100, kPercentComplete = 0xF61F, kSave = 0xF048;

class Task : public DoubleObject {
 public:
  explicit Task(size_t index)
      : DoubleObject("task " + std::to_string(index + 1),
                     {{L"Body", kBody}, {L"PercentComplete", kPercentComplete}, {L"Save", kSave}}),
        m_position(index),
        m_body(g_state.tasks()[index].value("body", "")),
        m_percent(g_state.tasks()[index].value("percent", 0)) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kBody && Is(kind, "get", arguments, 0)) {
      result.vt = VT_BSTR;
      result.bstrVal = NewBstr(m_body);
      return {};
    }
    if (member == kBody && Is(kind, "put", arguments, 1)) {
      if (arguments[0]->vt != VT_BSTR) return {DISP_E_TYPEMISMATCH, {}};
      m_body = Utf8(arguments[0]->bstrVal, SysStringLen(arguments[0]->bstrVal));
      return {};
    }
    if (member == kPercentComplete && Is(kind, "put", arguments, 1)) {
      if (arguments[0]->vt != VT_I4) return {DISP_E_TYPEMISMATCH, {}};
      if (arguments[0]->lVal < 0 || arguments[0]->lVal > 100) return Refused("the percentage runs from 0 to 100");
      m_percent = arguments[0]->lVal;
      return {};
    }
    if (member == kSave && Is(kind, "method", arguments, 0)) {
      json& task = g_state.tasks()[m_position];
      task["body"] = m_body;
      task["percent"] = m_percent;
      task["saves"] = task.value("saves", 0) + 1;
      g_state.Save();
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  size_t m_position;
  std::string m_body;  // as put, saved only by Save
  int m_percent;
};

constexpr DISPID kCount = 0x50, kGetFirst = 0x56, kGetNext = 0x57;

class Items : public DoubleObject {
 public:
  Items() : DoubleObject("items", {{L"Count", kCount}, {L"GetFirst", kGetFirst}, {L"GetNext", kGetNext}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    const size_t count = g_state.tasks().size();
    if (member == kCount && Is(kind, "get", arguments, 0)) {
      result.vt = VT_I4;
      result.lVal = static_cast<LONG>(count);
      return {};
    }
    if ((member == kGetFirst || member == kGetNext) && Is(kind, "method", arguments, 0)) {
      m_next = member == kGetFirst ? 0 : m_next;
      // Past the end Outlook hands back Nothing.
      Hand(result, m_next < count ? new Task(m_next) : nullptr);
      ++m_next;
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  size_t m_next = 0;
};

constexpr DISPID kItems = 0x3100;

class Folder : public DoubleObject {
 public:
  Folder() : DoubleObject("folder", {{L"Items", kItems}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kItems && Is(kind, "get", arguments, 0)) {
      Hand(result, new Items);
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

constexpr DISPID kLogon = 0x2105, kGetDefaultFolder = 0x210B;
constexpr LONG kTasksFolder = 13;

class Namespace : public DoubleObject {
 public:
  Namespace() : DoubleObject("namespace", {{L"Logon", kLogon}, {L"GetDefaultFolder", kGetDefaultFolder}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kLogon && kind == "method" && arguments.size() <= 4) return {};
    if (member == kGetDefaultFolder && Is(kind, "method", arguments, 1)) {
      if (arguments[0]->vt != VT_I4) return {DISP_E_TYPEMISMATCH, {}};
      if (arguments[0]->lVal != kTasksFolder) return Refused("the double has only the Tasks folder");
      Hand(result, new Folder);
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

constexpr DISPID kGetNamespace = 0x110;

class Application : public DoubleObject {
 public:
  Application() : DoubleObject("application", {{L"GetNamespace", kGetNamespace}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kGetNamespace && Is(kind, "method", arguments, 1)) {
      if (arguments[0]->vt != VT_BSTR) return {DISP_E_TYPEMISMATCH, {}};
      if (std::wstring(arguments[0]->bstrVal, SysStringLen(arguments[0]->bstrVal)) != L"MAPI") {
        return Refused("the only namespace is MAPI");
      }
      Hand(result, new Namespace);
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the DLL
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
      g_state.Load();
      if (g_state.Record({{"object", "application"}, {"kind", "create"}})) return CO_E_SERVER_EXEC_FAILURE;
      auto* application = new Application;
      const HRESULT hr = application->QueryInterface(iid, out);
      application->Release();
      return hr;
    } catch (const std::exception&) {
      return E_FAIL;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++g_liveObjects : --g_liveObjects;
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
  CLSID ours{};
  CLSIDFromString(kOutlookDoubleClassId, &ours);
  if (id != ours) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_liveObjects == 0 ? S_OK : S_FALSE; }
