// The Outlook double: an in-process automation server that answers, by
// Outlook's published dispatch identifiers (and names), the members of its
// object model that LvMAPI and LVEmailAccess call, keeps its Tasks folder and
// its mail folders in the state file the test prepares, and records every
// call there (see outlook_double.h).
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
    if (!m_state.contains("folders")) m_state["folders"] = json::object();
    for (const char* folder : {"Inbox", "Sent Items"}) {
      if (!m_state["folders"].contains(folder)) m_state["folders"][folder] = json::array();
    }
  }
  void Save() const {
    if (m_path.empty()) return;
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out << m_state.dump(1, ' ', false, json::error_handler_t::replace);
  }

  json& tasks() { return m_state["tasks"]; }
  json& folders() { return m_state["folders"]; }
  json& objects() { return m_state["objects"]; }

  // Records the call and tells how the test asked it to fail: S_OK for not
  // at all, else the code the call answers (DISP_E_EXCEPTION unless "code"
  // names RPC_E_CALL_REJECTED, Outlook busy with a dialog).
  HRESULT Record(json call) {
    m_state["calls"].push_back(call);
    Save();
    if (!m_state.contains("fail")) return S_OK;
    const json& fail = m_state["fail"];
    for (const char* field : {"object", "kind", "member", "name"}) {
      if (fail.contains(field) && fail[field] != call[field]) return S_OK;
    }
    const HRESULT code = fail.value("code", "") == "RPC_E_CALL_REJECTED" ? RPC_E_CALL_REJECTED : DISP_E_EXCEPTION;
    m_state.erase("fail");  // once
    Save();
    return code;
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
  if (value.vt == VT_DISPATCH) argument = {{"type", "VT_DISPATCH"}, {"value", nullptr}};
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
      if (FAILED(g_state.Record({{"object", m_name}, {"kind", "names"}, {"member", name}}))) return E_FAIL;
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
      json call = {{"object", m_name}, {"kind", kind}, {"member", member}, {"args", recorded}};
      for (const auto& [known, id] : m_members) {
        if (id == member) call["name"] = Utf8(known, wcslen(known));
      }
      const HRESULT told = g_state.Record(call);
      if (told == DISP_E_EXCEPTION) return Fail(exception, "the double was told to fail this call");
      if (FAILED(told)) return told;
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

// The mail part of the object model. LVEmailAccess calls these by name; the
// numbers are the double's own. A folder is a list of mail in "folders",
// each mail {"entryId", "subject", "body", "htmlBody", "sender",
// "senderType", "exchangeSmtp", "received" (an automation date),
// "messageClass", "to"}; the mailbox's top folder holds every folder.
constexpr DISPID kSubject = 0x37, kHtmlBody = 0xF404, kTo = 0xE04, kSend = 0xF075, kSenderAddress = 0xC1F,
                 kSenderType = 0xC1E, kReceived = 0xE06, kMessageClass = 0x1A, kEntryId = 0xF01E, kMove = 0xF034,
                 kBodyFormat = 0x2101, kSender = 0x3E, kGetExchangeUser = 0x3F, kSmtpAddress = 0x40, kParent = 0xF001,
                 kName = 0x3001, kFolders = 0x2103, kItem = 0x51, kAdd = 0x5F;

json* MailOf(const std::string& folder, const std::string& entryId) {
  for (json& mail : g_state.folders()[folder]) {
    if (mail.value("entryId", "") == entryId) return &mail;
  }
  return nullptr;
}

Answer Text(VARIANT& result, const std::string& text) {
  result.vt = VT_BSTR;
  result.bstrVal = NewBstr(text);
  return {};
}

Answer Number(VARIANT& result, LONG number) {
  result.vt = VT_I4;
  result.lVal = number;
  return {};
}

// A mail being written: what is put, sent into Sent Items by Send.
class NewMail : public DoubleObject {
 public:
  NewMail() : DoubleObject("new mail", {{L"To", kTo}, {L"Subject", kSubject}, {L"Body", kBody}, {L"Send", kSend}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT&) override {
    const char* field = member == kTo ? "to" : member == kSubject ? "subject" : member == kBody ? "body" : nullptr;
    if (field && Is(kind, "put", arguments, 1)) {
      if (arguments[0]->vt != VT_BSTR) return {DISP_E_TYPEMISMATCH, {}};
      m_mail[field] = Utf8(arguments[0]->bstrVal, SysStringLen(arguments[0]->bstrVal));
      return {};
    }
    if (member == kSend && Is(kind, "method", arguments, 0)) {
      if (m_mail.value("to", "").empty()) return Refused("Outlook does not recognize one or more names");
      json& sent = g_state.folders()["Sent Items"];
      m_mail["entryId"] = "sent-" + std::to_string(sent.size() + 1);
      sent.push_back(m_mail);
      g_state.Save();
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  json m_mail = json::object();
};

class MailFolder : public DoubleObject {
 public:
  explicit MailFolder(std::string folder)
      : DoubleObject(folder, {{L"Items", kItems}, {L"Parent", kParent}, {L"Name", kName}}), m_folder(std::move(folder)) {}
  const std::string& folder() const { return m_folder; }

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override;

 private:
  std::string m_folder;
};

// The Exchange user behind an "EX" sender.
class ExchangeUser : public DoubleObject {
 public:
  ExchangeUser(std::string address, bool user)
      : DoubleObject(user ? "exchange user" : "sender",
                     {{L"GetExchangeUser", kGetExchangeUser}, {L"PrimarySmtpAddress", kSmtpAddress}}),
        m_address(std::move(address)),
        m_user(user) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (!m_user && member == kGetExchangeUser && Is(kind, "method", arguments, 0)) {
      Hand(result, new ExchangeUser(m_address, true));
      return {};
    }
    if (m_user && member == kSmtpAddress && Is(kind, "get", arguments, 0)) return Text(result, m_address);
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  std::string m_address;
  bool m_user;
};

// A mail in a folder, found by its EntryID on every call, as Outlook finds it.
class StoredMail : public DoubleObject {
 public:
  StoredMail(std::string folder, std::string entryId)
      : DoubleObject("mail " + entryId,
                     {{L"Subject", kSubject}, {L"Body", kBody}, {L"HTMLBody", kHtmlBody}, {L"BodyFormat", kBodyFormat},
                      {L"SenderEmailAddress", kSenderAddress}, {L"SenderEmailType", kSenderType},
                      {L"Sender", kSender}, {L"ReceivedTime", kReceived}, {L"MessageClass", kMessageClass},
                      {L"EntryID", kEntryId}, {L"Move", kMove}}),
        m_folder(std::move(folder)),
        m_entryId(std::move(entryId)) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    json* mail = MailOf(m_folder, m_entryId);
    if (!mail) return Refused("the item has been moved or deleted");
    if (member == kMove && Is(kind, "method", arguments, 1)) {
      auto* target = arguments[0]->vt == VT_DISPATCH ? dynamic_cast<MailFolder*>(arguments[0]->pdispVal) : nullptr;
      if (!target) return {DISP_E_TYPEMISMATCH, {}};
      g_state.folders()[target->folder()].push_back(*mail);
      json& source = g_state.folders()[m_folder];
      for (size_t i = 0; i < source.size(); ++i) {
        if (source[i].value("entryId", "") == m_entryId) source.erase(i);
      }
      g_state.Save();
      return {};
    }
    if (!Is(kind, "get", arguments, 0)) return {DISP_E_MEMBERNOTFOUND, {}};
    if (member == kReceived) {
      result.vt = VT_DATE;
      result.date = mail->value("received", 0.0);
      return {};
    }
    if (member == kBodyFormat) return Number(result, mail->value("htmlBody", "").empty() ? 1 : 2);
    if (member == kSender) {
      Hand(result, new ExchangeUser(mail->value("exchangeSmtp", ""), false));
      return {};
    }
    const std::pair<DISPID, const char*> fields[] = {
        {kSubject, "subject"},       {kBody, "body"},           {kHtmlBody, "htmlBody"}, {kSenderAddress, "sender"},
        {kSenderType, "senderType"}, {kMessageClass, "messageClass"}, {kEntryId, "entryId"}};
    for (const auto& [id, field] : fields) {
      if (member == id) return Text(result, mail->value(field, id == kSenderType ? "SMTP" : id == kMessageClass ? "IPM.Note" : ""));
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  std::string m_folder, m_entryId;
};

class MailItems : public DoubleObject {
 public:
  explicit MailItems(std::string folder)
      : DoubleObject("items of " + folder, {{L"Count", kCount}, {L"Item", kItem}}), m_folder(std::move(folder)) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    const json& mails = g_state.folders()[m_folder];
    if (member == kCount && Is(kind, "get", arguments, 0)) return Number(result, static_cast<LONG>(mails.size()));
    if (member == kItem && kind != "put" && arguments.size() == 1 && arguments[0]->vt == VT_I4) {
      const LONG index = arguments[0]->lVal;  // from 1
      if (index < 1 || static_cast<size_t>(index) > mails.size()) return Refused("the array index is out of bounds");
      Hand(result, new StoredMail(m_folder, mails[index - 1].value("entryId", "")));
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }

 private:
  std::string m_folder;
};

// The folders under the mailbox's top folder.
class FolderList : public DoubleObject {
 public:
  FolderList() : DoubleObject("folders", {{L"Count", kCount}, {L"Item", kItem}, {L"Add", kAdd}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    json& folders = g_state.folders();
    if (member == kCount && Is(kind, "get", arguments, 0)) return Number(result, static_cast<LONG>(folders.size()));
    if (member == kItem && kind != "put" && arguments.size() == 1 && arguments[0]->vt == VT_I4) {
      LONG index = arguments[0]->lVal;
      for (auto it = folders.begin(); it != folders.end(); ++it) {
        if (--index == 0) {
          Hand(result, new MailFolder(it.key()));
          return {};
        }
      }
      return Refused("the array index is out of bounds");
    }
    if (member == kAdd && kind == "method" && !arguments.empty() && arguments[0]->vt == VT_BSTR) {
      const std::string name = Utf8(arguments[0]->bstrVal, SysStringLen(arguments[0]->bstrVal));
      if (folders.contains(name)) return Refused("a folder of that name exists already");
      folders[name] = json::array();
      g_state.Save();
      Hand(result, new MailFolder(name));
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

class MailboxRoot : public DoubleObject {
 public:
  MailboxRoot() : DoubleObject("mailbox", {{L"Folders", kFolders}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kFolders && Is(kind, "get", arguments, 0)) {
      Hand(result, new FolderList);
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

Answer MailFolder::Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
                        VARIANT& result) {
  if (!Is(kind, "get", arguments, 0)) return {DISP_E_MEMBERNOTFOUND, {}};
  if (member == kItems) {
    Hand(result, new MailItems(m_folder));
    return {};
  }
  if (member == kParent) {
    Hand(result, new MailboxRoot);
    return {};
  }
  if (member == kName) return Text(result, m_folder);
  return {DISP_E_MEMBERNOTFOUND, {}};
}

constexpr DISPID kLogon = 0x2105, kGetDefaultFolder = 0x210B;
constexpr LONG kTasksFolder = 13, kInboxFolder = 6, kSentFolder = 5;

class Namespace : public DoubleObject {
 public:
  Namespace() : DoubleObject("namespace", {{L"Logon", kLogon}, {L"GetDefaultFolder", kGetDefaultFolder}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kLogon && kind == "method" && arguments.size() <= 4) return {};
    if (member == kGetDefaultFolder && Is(kind, "method", arguments, 1)) {
      if (arguments[0]->vt != VT_I4) return {DISP_E_TYPEMISMATCH, {}};
      if (arguments[0]->lVal == kTasksFolder) {
        Hand(result, new Folder);
      } else if (arguments[0]->lVal == kInboxFolder || arguments[0]->lVal == kSentFolder) {
        Hand(result, new MailFolder(arguments[0]->lVal == kInboxFolder ? "Inbox" : "Sent Items"));
      } else {
        return Refused("the double has the Tasks folder, the Inbox and Sent Items only");
      }
      return {};
    }
    return {DISP_E_MEMBERNOTFOUND, {}};
  }
};

constexpr DISPID kGetNamespace = 0x110, kCreateItem = 0x10A;

class Application : public DoubleObject {
 public:
  Application() : DoubleObject("application", {{L"GetNamespace", kGetNamespace}, {L"CreateItem", kCreateItem}}) {}

 protected:
  Answer Call(DISPID member, const std::string& kind, const std::vector<const VARIANT*>& arguments,
              VARIANT& result) override {
    if (member == kCreateItem && Is(kind, "method", arguments, 1)) {
      if (arguments[0]->vt != VT_I4) return {DISP_E_TYPEMISMATCH, {}};
      if (arguments[0]->lVal != 0) return Refused("the double makes mail items only");
      Hand(result, new NewMail);
      return {};
    }
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
      if (FAILED(g_state.Record({{"object", "application"}, {"kind", "create"}}))) return CO_E_SERVER_EXEC_FAILURE;
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
