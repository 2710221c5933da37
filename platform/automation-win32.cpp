#include "platform/automation.h"
#include "platform/win32_support.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>

namespace platform {

// Reaches the interface pointer an AutomationObject holds.
struct AutomationAccess {
  static IDispatch* Get(const AutomationObject& object) { return static_cast<IDispatch*>(object.m_object); }
  // Takes over the caller's reference.
  static void Adopt(AutomationObject& object, IDispatch* dispatch) {
    object.Release();
    object.m_object = dispatch;
  }
};

namespace {

std::string Hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

AutomationOutcome Failed(const std::string& what, HRESULT code, const std::string& reason = {}) {
  const std::string why = reason.empty() ? win32::SystemMessage(static_cast<DWORD>(code)) : reason;
  return {false, what + ": " + why + " (" + Hex(code) + ")"};
}

std::string Utf8(BSTR text) { return text ? win32::Utf8({text, ::SysStringLen(text)}) : std::string(); }

// A VARIANT cleared when it goes.
class Variant {
 public:
  Variant() { ::VariantInit(&m_value); }
  ~Variant() { ::VariantClear(&m_value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept : m_value(other.m_value) { ::VariantInit(&other.m_value); }
  VARIANT* get() { return &m_value; }

 private:
  VARIANT m_value;
};

Variant ArgumentVariant(const AutomationArgument& argument) {
  Variant value;
  switch (argument.kind) {
    case AutomationArgument::Kind::Text: {
      const std::wstring wide = win32::Wide(argument.text);
      value.get()->vt = VT_BSTR;
      value.get()->bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      break;
    }
    case AutomationArgument::Kind::Int32:
      value.get()->vt = VT_I4;
      value.get()->lVal = argument.number;
      break;
    case AutomationArgument::Kind::Object:
      value.get()->vt = VT_DISPATCH;
      value.get()->pdispVal = argument.object ? AutomationAccess::Get(*argument.object) : nullptr;
      if (value.get()->pdispVal) value.get()->pdispVal->AddRef();  // the VARIANT's own reference
      break;
    case AutomationArgument::Kind::Omitted:
      // How automation marks an optional argument the caller leaves out.
      value.get()->vt = VT_ERROR;
      value.get()->scode = DISP_E_PARAMNOTFOUND;
      break;
  }
  return value;
}

// The application's own words for a failed call, from the exception
// information it filled; the information's strings are freed here.
std::string ExceptionText(EXCEPINFO& info, HRESULT& code) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  const std::string text = Utf8(info.bstrDescription);
  if (info.scode != 0) code = info.scode;
  ::SysFreeString(info.bstrSource);
  ::SysFreeString(info.bstrDescription);
  ::SysFreeString(info.bstrHelpFile);
  return text;
}

// The result as the type asked for, in whatever type the application gave
// it (a count may come back as a text, a date as a double), handed to `take`.
template <typename Take>
AutomationOutcome Converted(VARIANT& value, VARTYPE type, const std::string& failure, Take take) {
  Variant converted;
  const HRESULT hr = ::VariantChangeType(converted.get(), &value, 0, type);
  if (FAILED(hr)) return Failed(failure, hr);
  take(*converted.get());
  return {true, {}};
}

AutomationOutcome TakeResult(VARIANT& value, AutomationResultKind kind, AutomationResult& result,
                             const std::string& what) {
  switch (kind) {
    case AutomationResultKind::None:
      return {true, {}};
    case AutomationResultKind::Object: {
      IDispatch* dispatch = nullptr;
      if (value.vt == VT_DISPATCH && value.pdispVal) {
        dispatch = value.pdispVal;
        dispatch->AddRef();
      } else if (value.vt == VT_UNKNOWN && value.punkVal) {
        if (FAILED(value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
          dispatch = nullptr;
        }
      }
      if (!dispatch) return {false, what + ": no object came back (type " + std::to_string(value.vt) + ")"};
      AutomationAccess::Adopt(result.object, dispatch);
      return {true, {}};
    }
    case AutomationResultKind::Int32:
      return Converted(value, VT_I4, what + ": the result is no 32-bit integer",
                       [&](const VARIANT& v) { result.number = v.lVal; });
    case AutomationResultKind::Date:
      return Converted(value, VT_DATE, what + ": the result is no date",
                       [&](const VARIANT& v) { result.date = v.date; });
    case AutomationResultKind::Text:
      return Converted(value, VT_BSTR, what + ": the result is no text",
                       [&](const VARIANT& v) { result.text = Utf8(v.bstrVal); });
  }
  return {false, what + ": unknown result kind"};
}

}  // namespace

bool AutomationAvailable() { return true; }

bool AutomationServerInstalled(const std::string& programmaticId) {
  // Only the registration is read: nothing is started.
  CLSID id{};
  return SUCCEEDED(::CLSIDFromProgID(win32::Wide(programmaticId).c_str(), &id));
}

AutomationThread::AutomationThread() {
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(hr)) {
    // S_FALSE too: the thread had joined already, and each join is undone.
    m_leave = true;
    m_outcome.ok = true;
  } else if (hr == RPC_E_CHANGED_MODE) {
    // The thread is in the multi-threaded apartment already: automation
    // works there as well, through the system's marshalling.
    m_outcome.ok = true;
  } else {
    m_outcome = Failed("joining automation (CoInitializeEx)", hr);
  }
}

AutomationThread::~AutomationThread() {
  if (m_leave) ::CoUninitialize();
}

AutomationObject& AutomationObject::operator=(AutomationObject&& other) noexcept {
  if (this != &other) {
    Release();
    m_object = other.m_object;
    other.m_object = nullptr;
  }
  return *this;
}

void AutomationObject::Release() {
  if (m_object) static_cast<IDispatch*>(m_object)->Release();
  m_object = nullptr;
}

AutomationOutcome CreateAutomationObject(const std::string& programmaticId, AutomationObject& object) {
  object.Release();
  const std::string what = "starting '" + programmaticId + "'";
  CLSID id{};
  HRESULT hr = ::CLSIDFromProgID(win32::Wide(programmaticId).c_str(), &id);
  if (FAILED(hr)) return Failed(what, hr, "it is not installed (no such programmatic identifier)");
  IDispatch* dispatch = nullptr;
  // A local server is what an installed application registers; an in-process
  // server is accepted as well.
  hr = ::CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr) || !dispatch) return Failed(what, FAILED(hr) ? hr : E_NOINTERFACE);
  AutomationAccess::Adopt(object, dispatch);
  return {true, {}};
}

AutomationOutcome InvokeAutomation(const AutomationObject& target, int32_t dispatchId, AutomationCall call,
                                   const std::vector<AutomationArgument>& arguments, AutomationResultKind resultKind,
                                   AutomationResult& result) {
  const std::string what = "calling member " + std::to_string(dispatchId);
  IDispatch* dispatch = AutomationAccess::Get(target);
  if (!dispatch) return {false, what + ": no object"};

  // The system takes the arguments last first.
  std::vector<Variant> values;
  values.reserve(arguments.size());
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) values.push_back(ArgumentVariant(*it));
  std::vector<VARIANT> raw;
  raw.reserve(values.size());
  for (Variant& value : values) raw.push_back(*value.get());  // shallow: `values` still owns them

  DISPPARAMS parameters{};
  parameters.rgvarg = raw.empty() ? nullptr : raw.data();
  parameters.cArgs = static_cast<UINT>(raw.size());
  DISPID putId = DISPID_PROPERTYPUT;
  WORD flags = DISPATCH_METHOD;
  if (call == AutomationCall::PropertyGet) flags = DISPATCH_PROPERTYGET;
  if (call == AutomationCall::PropertyPut) {
    flags = DISPATCH_PROPERTYPUT;
    // A put names its value as the property's new value.
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }

  Variant value;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  HRESULT hr = dispatch->Invoke(dispatchId, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                resultKind == AutomationResultKind::None ? nullptr : value.get(), &exception,
                                &argumentError);
  if (hr == DISP_E_EXCEPTION) {
    const std::string reason = ExceptionText(exception, hr);
    return Failed(what, hr, reason);
  }
  if (FAILED(hr)) {
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) {
      return Failed(what + " (argument " + std::to_string(arguments.size() - argumentError) + ")", hr);
    }
    return Failed(what, hr);
  }
  return TakeResult(*value.get(), resultKind, result, what);
}

AutomationOutcome LookUpAutomationMember(const AutomationObject& target, const std::string& name,
                                         int32_t& dispatchId) {
  const std::string what = "looking up member '" + name + "'";
  IDispatch* dispatch = AutomationAccess::Get(target);
  if (!dispatch) return {false, what + ": no object"};
  std::wstring wide = win32::Wide(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return Failed(what, hr);
  dispatchId = id;
  return {true, {}};
}

}  // namespace platform
